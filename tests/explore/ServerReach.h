// What server A reaches when it is somebody else, decided the way its kernel decides, and who may
// do what in the user's folders: the two things a server running as another account must never
// change behind the user's back.
#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <sys/types.h>

namespace explore {

enum class Need { Read, CreateIn, Write };

// Whether the account `uid`/`gid` may use `path` as a statement needs it: read the file, create
// files in the folder, write the file (or create it in its folder). Checked in a child process that
// becomes that account, so POSIX ACLs and every folder on the way count as they do for the server.
bool accountReaches(uid_t uid, gid_t gid, const QString& path, Need need);

// Who may do what in one folder: the owner's, the owning group's and everybody's rights, and the
// ACL entries for named users and groups ("u1000" or "g50", rights 0..7).
struct FolderAccess {
    int owner = 0, group = 0, other = 0;
    QMap<QString, int> named;
    bool operator==(const FolderAccess& o) const {
        return owner == o.owner && group == o.group && other == o.other && named == o.named;
    }
    QString describe() const;
};
FolderAccess folderAccess(const QString& path);

// How `after` widened `before`: a base right added, or a named entry that grants more than passing
// through (x). Empty when it did not.
QString widened(const FolderAccess& before, const FolderAccess& after);

} // namespace explore
