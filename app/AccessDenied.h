// Recognising operating-system errors in a server's error text: their codes, and for error 5
// (access denied) which of a statement's files the server was refused.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace accessdenied {

enum class RefusedFile { None, Data, Log };

// SQL Server writes the operating-system error as its code followed at once by "(" and the
// system's text: `error 5(Access is denied.)` or `error 5: "5(Access is denied.)"`, in whatever
// language the server speaks. Only that shape counts: a longer code (`665(`) does not, and neither
// does anything inside the paths the server names. Log when the text names the log file and not
// the data file; otherwise Data.
RefusedFile refusedFile(const QString& message, const QString& dataPath, const QString& logPath);

// For a statement that names several files, the data file first: the one the server names in its
// message of operating-system error 5 (the first data file when it names none); empty when the
// message is not about error 5.
QString refusedPath(const QString& message, const QStringList& paths);

// Every operating-system error code of that shape in a server message, in order. Single-quoted
// parts (the paths most messages quote) are not read.
QList<int> osErrorCodes(const QString& message);

} // namespace accessdenied
