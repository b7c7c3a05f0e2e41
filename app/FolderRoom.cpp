// The room of a folder's own volume (see FolderRoom.h).
#include "FolderRoom.h"

#include <QFile>

#include <sys/statvfs.h>

namespace folderroom {

qint64 freeBytes(AdoQuery& query, const serverquestions::ServerVersion& v, const QString& folder,
                 bool sharesThisComputer) {
    if (sharesThisComputer) {
        struct statvfs vfs {};
        if (::statvfs(QFile::encodeName(folder).constData(), &vfs) == 0)
            return qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
    }
    return serverquestions::freeBytes(query, v, folder);
}

QString notChecked(const QString& folder, const QString& needed) {
    return QStringLiteral("Чи вистачить місця в каталозі %1 (потрібно %2), перевірити не вдалося: ні сервер, "
                          "ні цей комп'ютер не кажуть, скільки там вільно.")
        .arg(folder.isEmpty() ? QStringLiteral("сервера, у якому він створює файли без повного шляху")
                              : folder,
             needed);
}

} // namespace folderroom
