// Turning ODBC diagnostic records into the error the database layer throws.
#include "ServerError.h"

namespace servererror {

DbError fromRecords(const QList<OdbcRecord>& records, const QString& fallback) {
    const QString text = odbcdiag::errorMessage(records, fallback);
    QList<DbError::Record> codes;
    codes.reserve(records.size());
    int shown = -1;
    for (int i = 0; i < records.size() && shown < 0; ++i)
        if (!odbcdiag::isInformational(records[i]) && odbcdiag::cleanMessage(records[i]) == text)
            shown = i;
    if (shown >= 0)
        codes.append({records[shown].state, records[shown].native});
    for (int i = 0; i < records.size(); ++i)
        if (i != shown)
            codes.append({records[i].state, records[i].native});
    return DbError(text, codes);
}

DbError linkLost(const QString& message, const QList<OdbcRecord>& records) {
    QList<DbError::Record> codes = fromRecords(records, message).records();
    codes.append({QStringLiteral("08S01"), 0});
    DbError error(message, codes);
    if (serverSaidWhy(records))
        error.setEndedConnection();
    return error;
}

bool serverSaidWhy(const QList<OdbcRecord>& records) {
    // The driver's own codes start at 20000 (FreeTDS's 20017 "Unexpected EOF", say); the server's
    // errors that end a session are far below.
    for (const OdbcRecord& r : records)
        if (!odbcdiag::isInformational(r) && !odbcdiag::isLinkFailure(r) && r.native > 0 && r.native < 20000)
            return true;
    return false;
}

} // namespace servererror
