// What the server holds now, asked after a cancelled operation: whether a database is there and
// usable, and whether a backup file holds the complete set just written.
#pragma once

#include <QString>
#include <QStringList>

class AdoQuery;

namespace serverstate {

enum class Database { Missing, Online, Restoring };

// Throws DbError when the server cannot be asked.
Database database(AdoQuery& query, const QString& name);

// The database's family as the server keeps it (sys.database_recovery_status, 2005 on): the same
// for every restore of its backups, new for a database created anew. Empty when the server keeps
// none (2000) or does not name one. Throws DbError when the server cannot be asked.
QString familyGuid(AdoQuery& query, const QString& name, bool is2000);

// The complete sets a backup file holds, as the server reads it (RESTORE HEADERONLY): each set's
// identity (BackupSetGUID from 2005; on 2000, whose header has no GUID, its position, start and
// finish times and checkpoint LSN, which a new backup's checkpoint moves on)
// with the database it is of. Empty when the server finds no file there, or nothing it can read as
// a backup (a set cut short is no set). Throws DbError when the server cannot be asked.
struct BackupSets {
    QStringList ids;
    QStringList databases; // per id
};
BackupSets backupSets(AdoQuery& query, const QString& file, bool is2000);

// Whether the file now holds a complete set of the database that `before` (read before the backup
// was sent) did not: only the server's word counts, never this computer's file times, which may
// not even be of the same file. Throws DbError when the server cannot be asked.
bool backupWritten(AdoQuery& query, const QString& file, const QString& database, const BackupSets& before,
                   bool is2000);

} // namespace serverstate
