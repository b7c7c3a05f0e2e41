// What another account of this computer may do with a local path, as the kernel decides it: the
// owner, group and other bits and the POSIX ACL entries for its uid and every group it belongs to.
//
//   const Account server = accountOf(uid);           // its groups from the group database
//   allows(path, server, Access::Write | Access::Traverse)  // "may it create files in this folder?"
//   closedOnTheWay(path, server)                      // the first folder it cannot pass, or ""
//
// The answers say what the permissions allow. They do not know of mounts the account does not see
// (a service's private /tmp, a container): ask the server itself before relying on a path.
#pragma once

#include <QList>
#include <QString>

#include <sys/types.h>

struct Account {
    uid_t uid = 0;
    QList<gid_t> groups; // the primary group first
};

// The account with the groups the group database gives it; just its uid when it has no entry.
Account accountOf(uid_t uid);

namespace Access {
enum : int { Read = 4, Write = 2, Traverse = 1 }; // the rwx bits; Traverse is x on a folder
}

// Whether the account has every bit of `wanted` on path itself (symbolic links followed). A path
// that cannot be examined allows nothing. Root (uid 0) may do anything but run a file no x allows.
bool allows(const QString& path, const Account& account, int wanted);

// The first folder from "/" down to path's parent (and path itself when `includingPath`) that the
// account may not pass through; empty when every folder lets it through.
QString closedOnTheWay(const QString& path, const Account& account, bool includingPath = false);
