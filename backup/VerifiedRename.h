// The file side of "only a verified backup has a backup's name": the renames zelvaro-backup makes
// in the backup folder, on this computer, after the server wrote and checked a file. A rename
// never replaces a file that is there (QFile::rename refuses to), so nothing is overwritten even
// when another run took a name meanwhile.
#pragma once

#include <QDateTime>
#include <QString>

namespace backupcmd {

// Renames the verified file `unverified` in `folder` to the database's backup name for `when`,
// the first free of n, n + 1, …; returns the new name, or empty (with the reason in `error`) when
// the file could not be renamed.
QString settleVerified(const QString& folder, const QString& unverified, const QString& database,
                       const QDateTime& when, int n, QString* error);

// Renames a file that failed its backup or its check to the failed name of `fileName` (".failed-2.bak"
// and on when taken); returns the new name, or empty when it could not be renamed.
QString markFailed(const QString& folder, const QString& written, const QString& fileName);

} // namespace backupcmd
