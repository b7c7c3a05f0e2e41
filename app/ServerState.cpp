// Reading the server's state of a database or a backup file after a cancel.
#include "ServerState.h"

#include "AdoQuery.h"
#include "BackupChecks.h"
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
    return ops::backuptarget::familyGuid(query, name, is2000);
}

} // namespace serverstate
