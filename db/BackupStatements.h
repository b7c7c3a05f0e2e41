// The statements of a backup and of its check, shared by the window's backup page and the
// zelvaro-backup command, so that both write and verify a backup the same way.
#pragma once

#include <QString>
#include <QStringView>

namespace backupsql {

// "Backup Database [name] to disk = N'…' WITH INIT , NOUNLOAD , SKIP , STATS = 10, NOFORMAT" with
// ", CHECKSUM" (2005 on: the server checksums every page it writes, so the check afterwards finds a
// changed byte anywhere in the file) and ", COPY_ONLY" (2005 on: the backup does not become the base
// of later differential backups) when asked. SQL Server 2000 knows neither.
QString backup(const QString& database, const QString& path, bool checksum, bool copyOnly = false);

// "RESTORE VERIFYONLY FROM DISK = N'…' WITH FILE = n", with ", CHECKSUM" when asked: only for a set
// written with checksums (the server refuses it for any other, 3187); SQL Server 2000 knows none.
// stats > 0 adds ", STATS = n": progress messages, which 2000's VERIFYONLY does not send.
QString verifyOnly(const QString& path, int position, bool checksum, int stats = 0);

// Every database the server lists, system ones included.
QString databaseList();

// The four system databases, in any mix of capital and small letters.
bool isSystemDatabase(QStringView name);

// The share done that a server's progress message (3211: "10 percent processed.", on SQL Server
// 2000 "10 percent backed up." / "10 percent restored.") reports, or -1 for any other message.
int percentOf(int number, const QString& message);

} // namespace backupsql
