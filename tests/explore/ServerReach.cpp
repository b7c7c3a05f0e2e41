// Reaching a path as another account (a forked child that drops to it) and reading a folder's
// rights with its POSIX ACL (the system.posix_acl_access attribute, read without libacl).
#include "ServerReach.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace explore {

bool accountReaches(uid_t uid, gid_t gid, const QString& path, Need need) {
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const bool exists = info.exists();
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        // Only async-signal-safe calls from here: the parent has threads.
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(2);
        bool ok = false;
        switch (need) {
        case Need::Read: {
            const int fd = ::open(target.constData(), O_RDONLY);
            ok = fd >= 0;
            if (fd >= 0)
                ::close(fd);
            break;
        }
        case Need::CreateIn:
            ok = ::access(target.constData(), W_OK | X_OK) == 0;
            break;
        case Need::Write:
            ok = exists ? ::access(target.constData(), W_OK) == 0 : ::access(folder.constData(), W_OK | X_OK) == 0;
            break;
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR)
        ;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {
// The attribute's layout (linux/posix_acl_xattr.h): a 4-byte version, then entries of a 2-byte tag,
// 2-byte rights and a 4-byte id, little-endian.
enum Tag : quint16 { UserObj = 1, User = 2, GroupObj = 4, Group = 8, Mask = 0x10, Other = 0x20 };
quint32 little(const unsigned char* p, int bytes) {
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
} // namespace

FolderAccess folderAccess(const QString& path) {
    FolderAccess a;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return a;
    a.owner = (st.st_mode >> 6) & 7;
    a.group = (st.st_mode >> 3) & 7; // the mask when an ACL is set; the ACL's own entry then wins
    a.other = st.st_mode & 7;
    unsigned char buf[1024];
    const ssize_t n = ::getxattr(name.constData(), "system.posix_acl_access", buf, sizeof buf);
    for (ssize_t off = 4; n > 4 && off + 8 <= n; off += 8) {
        const quint32 tag = little(buf + off, 2), perm = little(buf + off + 2, 2), id = little(buf + off + 4, 4);
        if (tag == GroupObj)
            a.group = int(perm);
        else if (tag == User)
            a.named.insert(QStringLiteral("u%1").arg(id), int(perm));
        else if (tag == Group)
            a.named.insert(QStringLiteral("g%1").arg(id), int(perm));
    }
    return a;
}

QString FolderAccess::describe() const {
    QStringList entries{QStringLiteral("%1%2%3").arg(owner).arg(group).arg(other)};
    for (auto it = named.constBegin(); it != named.constEnd(); ++it)
        entries << QStringLiteral("%1:%2").arg(it.key()).arg(it.value());
    return entries.join(QLatin1Char(' '));
}

QString widened(const FolderAccess& before, const FolderAccess& after) {
    if ((after.owner & ~before.owner) || (after.group & ~before.group) || (after.other & ~before.other))
        return QStringLiteral("its mode went from %1 to %2").arg(before.describe(), after.describe());
    for (auto it = after.named.constBegin(); it != after.named.constEnd(); ++it) {
        const int more = it.value() & ~before.named.value(it.key(), 0);
        // Passing through (x) is what a server's account may be given on the user's folders.
        if (more & ~1)
            return QStringLiteral("an ACL entry %1 grants %2 (was %3)").arg(it.key()).arg(it.value()).arg(
                before.named.value(it.key(), 0));
    }
    return {};
}

} // namespace explore
