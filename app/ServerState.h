// What the server holds now, asked after a cancelled operation: whether a database is there and
// usable.
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

} // namespace serverstate
