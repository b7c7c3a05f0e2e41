// The names of the files zelvaro-backup writes: "<database>_<yyyy-MM-dd_HHmmss>[_n].bak", the
// database's name (as the server spells it) made a plain file name. The server writes a backup
// under "<that name>.unverified-<process id>", renamed to the name itself only once it was
// verified; a backup that failed becomes "….failed.bak". Old backups are recognised by this name
// (and then by their header, which names the database: several names can make the same file name).
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace backupcmd {

// The name for the database's backup begun at `when`; n > 1 adds "_n" for a name already taken.
QString backupFileName(const QString& database, const QDateTime& when, int n = 1);

// The file names in `entries` that backupFileName could have made for the database, by the time in
// the name, newest first. The database part compares as the server compares names (`sensitivity`):
// "sales_…" is Sales's on a server that does not tell the two apart.
QStringList ownBackupNames(const QString& database, const QStringList& entries,
                           Qt::CaseSensitivity sensitivity);

// "X_2026-12-08_014500.bak" -> "X_2026-12-08_014500.failed.bak": no longer one of the database's
// backups (ownBackupNames skips it), and plainly a failed one to whoever looks.
QString failedName(const QString& fileName);

// "X_2026-12-08_014500.bak" -> "X_2026-12-08_014500.bak.unverified-4242": what the server writes
// before the backup is verified. Never one of the database's backups; a run that is killed or stops
// leaves it under this name, so no later run takes it for a good backup. The process id keeps two
// runs begun in the same second from choosing the same file.
QString unverifiedName(const QString& fileName, qint64 processId);

// The names in `entries` that unverifiedName made for the database's backups: files of runs that
// did not get to the end of their verification (or are still running).
QStringList unverifiedNames(const QString& database, const QStringList& entries,
                            Qt::CaseSensitivity sensitivity);

} // namespace backupcmd
