// Which of a database's older verified backups go once a new one is verified: the ones beyond the
// number to keep, the oldest by their sets' own finish dates. The time in a file's name is this
// computer's clock when the run began; after the clock was set back it says nothing of which
// backup is newer.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace backupcmd {

struct OlderBackup {
    QString name;
    QDateTime finished; // BackupFinishDate of the file's one set
};

// The names to delete: all but the keep - 1 latest finished (the new backup is the keep-th).
QStringList beyondKeep(QList<OlderBackup> older, int keep);

} // namespace backupcmd
