// The names of the files zelvaro-backup writes: "<database>_<yyyy-MM-dd_HHmmss>[_n].bak", the
// database's name made a plain file name; a backup that failed becomes "….failed.bak". Old backups
// are recognised by this name (and then by their header, which names the database: several names
// can make the same file name).
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace backupcmd {

// The name for the database's backup begun at `when`; n > 1 adds "_n" for a name already taken.
QString backupFileName(const QString& database, const QDateTime& when, int n = 1);

// The file names in `entries` that backupFileName could have made for the database, newest first
// (by the time in the name, then by n).
QStringList ownBackupNames(const QString& database, const QStringList& entries);
QStringList ownBackupNames(const QString& database, const QStringList& entries, Qt::CaseSensitivity) ;
QStringList unverifiedNames(const QString& database, const QStringList& entries, Qt::CaseSensitivity);

// "X_2026-12-08_014500.bak" -> "X_2026-12-08_014500.failed.bak": no longer one of the database's
// backups (ownBackupNames skips it), and plainly a failed one to whoever looks.
QString failedName(const QString& fileName);

} // namespace backupcmd
