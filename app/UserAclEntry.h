// Adds rights for one account to a path's POSIX ACL, and takes exactly those back: the building
// block of the shared folder and of a read grant on one file.
//
//   QString why;
//   std::optional<AclChange> change = addUserRights(path, uid, Access::Traverse, &why);
//   ... later: takeBack(*change, &why);
//
// Nothing is widened for anyone else: the mask grows only by the bits added, and when that would
// let another group-class entry (a named user, the owning group, a named group) do more than it
// could, nothing is changed and the call fails. Only the path's owner (or root) may change it.
#pragma once

#include <QString>

#include <optional>
#include <sys/acl.h>
#include <sys/types.h>

// An ACL entry's rights as rwx bits (4 read, 2 write, 1 pass through); 0 when they cannot be read.
int permsOf(acl_entry_t entry);

struct AclChange {
    QString path;
    uid_t uid = 0;
    bool changed = false;  // false: the account already had the rights, nothing was touched
    int added = 0;         // the rwx bits its entry gained
    bool hadEntry = false; // the account had an entry of its own before
    int oldPerms = 0;
    bool hadMask = false;
    int oldMask = 0;
    QString journalId; // its entry in the journal (written before the change, crossed out at takeBack)
};

// Gives uid at least `perms` (Access bits) on path. An account that already has them through its
// own entry changes nothing (changed is false). On failure returns nothing and says why in Ukrainian.
// A change is written in the journal (ops::journal) before it is made, so that a run that ends
// without takeBack leaves it to be taken back at the next start (takeBackJournalled).
std::optional<AclChange> addUserRights(const QString& path, uid_t uid, int perms, QString* why);

// Takes back what addUserRights added, leaving every entry made since by others. False (and why)
// when the path is gone or cannot be changed.
bool takeBack(const AclChange& change, QString* why);

// Takes back what an ended run wrote in the journal as granted on `path` for the account `account`
// (its name, or its uid when it has no name): the entry it added goes, bits it added to an entry
// of the account's own go, and the mask is what it was. A path that is gone has nothing to take.
bool takeBackJournalled(const QString& path, const QString& account, int added, bool hadEntry, int maskBefore,
                        QString* why);

// Sets a folder the caller has just made to: owner rwx, `server` rwx, nothing for anyone else, and
// a default ACL by which every file made in it gives both `server` and `user` the rights its
// creator's mode allows (so the user may read what the server writes).
bool shareNewFolder(const QString& folder, uid_t user, uid_t server, QString* why);

// The ACL of path as text (access ACL, then "default:" lines), for tests and messages.
QString aclText(const QString& path);

// The account's name as this computer knows it; its number when it has none.
QString accountName(uid_t uid);
// Quoted for the shell only when it has to be, so that the usual command reads plainly.
QString shellQuoted(const QString& text);
