// The room of a folder's own volume (see FolderRoom.h).
#include "FolderRoom.h"

#include "BackupChecks.h"

namespace folderroom {

qint64 freeBytes(AdoQuery& query, const serverquestions::ServerVersion& v, const QString& folder,
                 bool sharesThisComputer) {
    return ops::backuproom::freeBytes(query, v, folder, sharesThisComputer);
}

QString notChecked(const QString& folder, const QString& needed) {
    return ops::backuproom::notChecked(folder, needed);
}

} // namespace folderroom
