// Questions about paths on the local disk, answered the way the window's rules expect.
#pragma once

#include <QString>

namespace filechecks {

// Up to and including the last "/"; empty when there is none.
QString folderPrefix(const QString& path);
// The folder prefix without its final "/", unless that "/" is the first character; empty without "/".
QString folderPart(const QString& path);
bool fileExists(const QString& path);
bool folderExists(const QString& path);
// First entry of the folder, in name order, whose name matches the wildcard ignoring letter case.
QString firstMatchingEntry(const QString& folder, const QString& wildcard);
// Leading and trailing blanks and control characters removed.
QString trimmed(const QString& text);
// A folder and a file name joined by "/": a root folder keeps its own "/" and gets another.
QString join(const QString& folder, const QString& fileName);

} // namespace filechecks
