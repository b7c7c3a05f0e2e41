// Deleting a database's older verified backups once a new one is verified: the files named as this
// program names them for that database (BackupFiles), whose one set the server reads as that
// database's, beyond the number to keep by their sets' finish dates (KeepRule). Anything else in
// the folder is left alone, and every file left alone for a doubt is told.
#pragma once

#include "ServerAnswers.h"

#include <QString>

#include <functional>

namespace backupcmd {

struct Pruned {
    int deleted = 0;
    bool someNotDeleted = false; // a file meant to go could not be removed
};

// readSets: RESTORE HEADERONLY of a path; a DbError it throws leaves that file alone (told through
// `tell`), anything else it throws goes through. `newName`, the backup just verified, counts as
// one of the `keep` and is never deleted.
Pruned deleteBeyondKeep(const QString& folder, const QString& database, const QString& newName, int keep,
                        Qt::CaseSensitivity sensitivity,
                        const std::function<QList<SetHeader>(const QString& path)>& readSets,
                        const std::function<void(const QString& text)>& tell);

} // namespace backupcmd
