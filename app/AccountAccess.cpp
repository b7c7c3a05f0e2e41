// Permission checks for another account (see AccountAccess.h), by the POSIX ACL access algorithm.
#include "AccountAccess.h"
#include "UserAclEntry.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <acl/libacl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>

#include <vector>

namespace {

// The rights the account has on a file of this status and ACL (nullptr: the mode bits alone).
int rightsOf(const struct stat& st, acl_t acl, const Account& account) {
    const int mode = int(st.st_mode);
    if (account.uid == st.st_uid)
        return (mode >> 6) & 7;
    if (!acl)
        return account.groups.contains(st.st_gid) ? (mode >> 3) & 7 : mode & 7;
    int mask = 7;
    int namedUser = -1;
    int groupRights = -1; // the union of every matching group entry; -1 when none matches
    int other = mode & 7;
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_get_tag_type(entry, &tag);
        const int perms = permsOf(entry);
        if (tag == ACL_MASK) {
            mask = perms;
        } else if (tag == ACL_OTHER) {
            other = perms;
        } else if (tag == ACL_USER) {
            auto* q = static_cast<uid_t*>(acl_get_qualifier(entry));
            if (q && *q == account.uid)
                namedUser = perms;
            acl_free(q);
        } else if (tag == ACL_GROUP_OBJ) {
            if (account.groups.contains(st.st_gid))
                groupRights = qMax(groupRights, 0) | perms;
        } else if (tag == ACL_GROUP) {
            auto* q = static_cast<gid_t*>(acl_get_qualifier(entry));
            if (q && account.groups.contains(*q))
                groupRights = qMax(groupRights, 0) | perms;
            acl_free(q);
        }
    }
    if (namedUser >= 0)
        return namedUser & mask;
    if (groupRights >= 0)
        return groupRights & mask;
    return other;
}

} // namespace

Account accountOf(uid_t uid) {
    Account account{uid, {}};
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return account;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count);
    }
    account.groups << found->pw_gid;
    for (int i = 0; i < count && i < int(groups.size()); ++i)
        if (!account.groups.contains(groups[size_t(i)]))
            account.groups << groups[size_t(i)];
    return account;
}

bool allows(const QString& path, const Account& account, int wanted) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (stat(native.constData(), &st) != 0)
        return false;
    if (account.uid == 0)
        return !(wanted & Access::Traverse) || S_ISDIR(st.st_mode) || (st.st_mode & 0111);
    acl_t acl = nullptr;
    if (acl_extended_file(native.constData()) == 1)
        acl = acl_get_file(native.constData(), ACL_TYPE_ACCESS);
    const int rights = rightsOf(st, acl, account);
    if (acl)
        acl_free(acl);
    return (rights & wanted) == wanted;
}

QString closedOnTheWay(const QString& path, const Account& account, bool includingPath) {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString folder = QStringLiteral("/");
    const int folders = includingPath ? int(parts.size()) : int(parts.size()) - 1;
    for (int i = 0;; ++i) {
        if (!allows(folder, account, Access::Traverse))
            return folder;
        if (i >= folders)
            return {};
        folder = (folder == QLatin1String("/") ? folder : folder + QLatin1Char('/')) + parts[i];
    }
}
