// Reading ODBC diagnostic records into the texts the window shows.
#pragma once

#include <QString>
#include <QStringList>

#include <sql.h>
#include <sqlext.h>

struct OdbcRecord {
    QString state;  // five-character SQLSTATE
    int native = 0; // server message number or driver code
    QString text;   // as the driver gives it, "[FreeTDS][SQL Server]" tags included
};

namespace odbcdiag {

QList<OdbcRecord> read(SQLSMALLINT handleType, SQLHANDLE handle);

// The user-facing text: the driver's leading "[...]" tags dropped, then trailing blanks, control
// characters and full stops removed. An empty text names the SQLSTATE instead.
QString cleanMessage(const OdbcRecord& record);

// Informational records are those of class "01"; a state of the "08" class means the link is gone,
// but for 08004, under which the driver also files the server's refusal of a missing database.
bool isInformational(const OdbcRecord& record);

// The message to show for a failed call: the first error that states a cause. SQL Server ends a
// failed BACKUP or RESTORE with the generic 3013 ("... is terminating abnormally"), and the driver
// may sort it before the cause; it is shown only when nothing else is there. Falls back to the
// first record of any kind, then to the given text.
QString errorMessage(const QList<OdbcRecord>& records, const QString& fallback);
bool isLinkFailure(const OdbcRecord& record);

QString fromWide(const SQLWCHAR* text, int length = -1);

} // namespace odbcdiag
