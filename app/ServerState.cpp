// Reading the server's state of a database or a backup file after a cancel.
#include "ServerState.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "SqlQuote.h"

namespace serverstate {

Database database(AdoQuery& query, const QString& name) {
    // sysdatabases answers on every version; its status bit 32 ("loading") marks a database a
    // restore has left unfinished, on 2000 as on later versions.
    constexpr int kLoading = 32;
    query.close();
    query.setText(QLatin1String("SELECT name, status FROM master.dbo.sysdatabases WHERE name = ") +
                  sqlquote::literal(name));
    query.openRowset();
    Database state = Database::Missing;
    if (query.rowCount() >= 1)
        state = (query.field(QStringLiteral("status")).toInt() & kLoading) ? Database::Restoring
                                                                           : Database::Online;
    query.close();
    return state;
}

QString familyGuid(AdoQuery& query, const QString& name, bool is2000) {
    if (is2000)
        return {};
    query.close();
    query.setText(
        QLatin1String("SELECT family_guid FROM sys.database_recovery_status WHERE database_id = DB_ID(") +
        sqlquote::literal(name) + QLatin1Char(')'));
    query.openRowset();
    const QString family = query.atEnd() ? QString() : query.field(QStringLiteral("family_guid"));
    query.close();
    return family;
}

BackupSets backupSets(AdoQuery& query, const QString& file, bool is2000) {
    // The server's own answers that there is no set to read: no file (3201), not a backup or cut
    // short at its start (3241), and the statement's end that follows them (3013).
    static const QList<int> noSet = {3201, 3241, 3013};
    BackupSets sets;
    query.close();
    query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(file));
    try {
        query.openRowset();
    } catch (const DbError& e) {
        query.close();
        if (e.records().isEmpty() || e.endedConnection())
            throw;
        for (const DbError::Record& r : e.records())
            if (!noSet.contains(r.native))
                throw;
        return sets;
    }
    for (query.first(); !query.atEnd(); query.next()) {
        sets.ids << (is2000 ? QStringList{query.field(QStringLiteral("Position")),
                                          query.field(QStringLiteral("BackupStartDate")),
                                          query.field(QStringLiteral("BackupFinishDate")),
                                          query.field(QStringLiteral("CheckpointLSN"))}
                                  .join(QLatin1Char('|'))
                            : query.field(QStringLiteral("BackupSetGUID")));
        sets.databases << query.field(QStringLiteral("DatabaseName"));
    }
    query.close();
    return sets;
}

bool backupWritten(AdoQuery& query, const QString& file, const QString& database, const BackupSets& before,
                   bool is2000) {
    const BackupSets now = backupSets(query, file, is2000);
    for (int i = 0; i < now.ids.size(); ++i)
        if (!before.ids.contains(now.ids[i]) && now.databases[i].compare(database, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace serverstate
