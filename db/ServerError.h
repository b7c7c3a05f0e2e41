// The error a failed ODBC call throws: the text the window shows, with every record's SQLSTATE and
// native number kept for whoever wants to explain it.
#pragma once

#include "DbError.h"
#include "OdbcDiagnostics.h"

namespace servererror {

// The text is the one odbcdiag::errorMessage chooses (or the fallback when there are no records);
// the chosen record's numbers come first.
DbError fromRecords(const QList<OdbcRecord>& records, const QString& fallback);

// A link found gone: the text as given, marked with the SQLSTATE of a broken link ("08S01") after
// whatever records the driver gave. When the server's own error came before the break, the server
// ended the session for it (SQL Server does at severity 20 and above): the error says so.
DbError linkLost(const QString& message, const QList<OdbcRecord>& records = {});

// Whether the records hold an error of the server's own (not the driver's, nor a message).
bool serverSaidWhy(const QList<OdbcRecord>& records);

} // namespace servererror
