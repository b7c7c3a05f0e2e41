// What the server holds now, asked after a cancelled operation: whether a database is there and
// usable, and whether a backup file holds the complete set just written.
#pragma once

#include <QDateTime>
#include <QString>

class AdoQuery;

namespace serverstate {

enum class Database { Missing, Online, Restoring };

// Throws DbError when the server cannot be asked.
Database database(AdoQuery& query, const QString& name);

// The database's family as the server keeps it (sys.database_recovery_status, 2005 on): the same
// for every restore of its backups, new for a database created anew. Empty when the server keeps
// none (2000) or does not name one. Throws DbError when the server cannot be asked.
QString familyGuid(AdoQuery& query, const QString& name, bool is2000);

// Whether the file was written since `since` and its sets list a complete backup of the database
// (the server lists no set that was cut short). Throws DbError when the server cannot read it.
bool backupWritten(AdoQuery& query, const QString& file, const QString& database, const QDateTime& since);

} // namespace serverstate
