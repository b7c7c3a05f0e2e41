// Reading the server's state of a database or a backup file after a cancel.
#include "ServerState.h"

#include "AdoQuery.h"
#include "SqlQuote.h"

#include <QFileInfo>

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

bool backupWritten(AdoQuery& query, const QString& file, const QString& database, const QDateTime& since) {
    // A cancel that came before the server began leaves the file as it was, older sets included.
    const QFileInfo info(file);
    if (!info.exists() || info.lastModified() < since)
        return false;
    query.close();
    query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(file));
    query.openRowset();
    bool found = false;
    for (query.first(); !query.atEnd() && !found; query.next())
        found = query.field(QStringLiteral("DatabaseName")).compare(database, Qt::CaseInsensitive) == 0;
    query.close();
    return found;
}

} // namespace serverstate
