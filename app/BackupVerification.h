// The check that a backup set can be restored: RESTORE VERIFYONLY reads the whole set, and with the
// set's checksums finds a changed byte anywhere in it.
#pragma once

#include "LongOperation.h"

#include <QString>

class AdoQuery;
class QWidget;

namespace verification {

// "RESTORE VERIFYONLY FROM DISK = N'…' WITH FILE = n", with ", CHECKSUM" when asked: only for a set
// written with checksums (the server refuses it for any other, 3187); SQL Server 2000 knows none.
QString statement(const QString& backupPath, int position, bool checksum);

// The backup page's follow-up: the set just written, checked under the backup's own dialog.
longop::FollowUp afterBackup(const QString& database, const QString& backupPath, int position, bool checksum);

// The check's own dialog, and its words after a cancel (a check changes nothing to ask about).
longop::Operation checkOperation(const QString& backupPath);

// The success message's line for a checked backup.
QString checkedLine();

// Before a restore replaces the existing database `database`: checks set `position` of the file
// (its checksums too when the set has them and the server knows them). A damaged set is reported
// (the server's message, the advice line, and that the database was left as it is) and false is
// returned; a cancel shows its message and throws OperationCancelled.
bool beforeReplacing(QWidget* window, AdoQuery& query, const QString& database, const QString& backupPath,
                     int position, bool serverHasChecksums);

} // namespace verification
