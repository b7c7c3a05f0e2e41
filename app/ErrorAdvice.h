// One Ukrainian line after the server's own error text: what happened and what the user can do.
#pragma once

#include "DbError.h"

#include <QString>

namespace erroradvice {

// The line for the error, chosen by the numbers the server and the driver sent (never by their
// English words); empty when there is nothing useful to add.
QString line(const DbError& error);

// shownText as it is, then the line on a line of its own when there is one. Every window place
// that shows a server error shows it through here.
QString appended(const QString& shownText, const DbError& error);
inline QString appended(const DbError& error) {
    return appended(error.message(), error);
}

// The product a "major.minor.build" version in a server message names, e.g. "SQL Server 2019
// (15.00.2000)"; empty when the text holds no version.
QString productInText(const QString& text);

} // namespace erroradvice
