// What zelvaro-backup asks the server before and after a backup: the database's name as the server
// spells it, how the server compares names, whether a file name is free where the server writes,
// and what a backup file holds. Each throws DbError when the server cannot be asked.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class AdoQuery;

namespace backupcmd {

// The database's name as the server lists it (sys.databases, sysdatabases on 2000), found as the
// server compares names: "Sales" for "sales" under a case-insensitive collation. Empty when the
// server has no such database. majorVersion: 8 for 2000.
QString serverSpelling(AdoQuery& query, int majorVersion, const QString& asked);

// Case-insensitive unless the server's collation is case-sensitive (_CS) or binary (_BIN, _BIN2).
Qt::CaseSensitivity nameComparison(AdoQuery& query);

enum class Taken { No, Yes, Unknown };
// Whether something lies at `path` as the server sees it: sys.dm_os_file_exists (2017 on) or
// xp_fileexist. A login that may not ask gets "no" for everything, so a "no" counts only when the
// server sees the folder; otherwise a backup header read from the path says "yes", and the
// server's operating-system error 2 (no such file) says "no". Unknown when nothing tells.
Taken takenForServer(AdoQuery& query, int majorVersion, const QString& folder, const QString& path);

struct SetHeader {
    QString database;
    QDateTime finished; // invalid when the server gave none it could be read from
};
// RESTORE HEADERONLY: one entry per backup set in the file.
QList<SetHeader> setsIn(AdoQuery& query, const QString& path);

} // namespace backupcmd
