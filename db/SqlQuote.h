// The one place where user text becomes part of a T-SQL statement.
#pragma once

#include <QString>

namespace sqlquote {

// A bracketed identifier: [name] with every "]" doubled, so any sysname is taken as one name.
QString name(const QString& identifier);

// A Unicode string literal: N'text' with every "'" doubled. The N keeps Cyrillic intact.
QString literal(const QString& text);

} // namespace sqlquote
