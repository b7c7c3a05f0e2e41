// A folder both the user and the server's account can use, made without root: the user owns it,
// the server's account gets rwx on it by a POSIX ACL entry, and a default ACL gives every file made
// in it entries for both accounts, so what the server writes there the user can read, and the
// user (the folder's owner) can always remove it.
//
//   SharedFolder shared = prepareSharedFolder(server.uid, server.name,
//                                             [&](const QString& folder) { return serverSees(folder); });
//   if (shared.ok()) ... shared.folder ...
//   else ... tell shared.problems and offer shared.sudoCommand ...
//
// Places, in order (sharedFolderPlaces()): /var/tmp/zelvaro-USER (opens nothing of the user's),
// then /srv/zelvaro-USER when an administrator has made it (see sudoCommand). The user's home is
// never one: opening it to the server's account, even to pass through, would let the account read
// every file in it whose name it knows, and the user did not ask for that. A place that exists
// must be a real folder owned by the user; anything else there (another local user's folder made
// first under our name) is left alone and said, with its owner. Each is relied on only after
// `reaches` (the server asked, on the window's thread) says it sees the folder (a service with a
// private /tmp and /var/tmp does not); when it does not, what was made for it is taken back and
// the next place is tried. When none works, `problems` says why for each and `sudoCommand` is
// the remedy. Files in the folder are the callers' to remove; the folder stays for the next
// operation.
#pragma once

#include "UserAclEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>

struct SharedFolder {
    QString folder;               // empty when no place worked
    QList<AclChange> passThrough; // x entries added on the user's folders on the way (kept)
    QStringList problems;         // per place tried, why it was not used (Ukrainian)
    QString sudoCommand;          // when no place worked: the one command an administrator runs
    bool ok() const { return !folder.isEmpty(); }
};

using ServerReaches = std::function<bool(const QString& folder)>;

// The places tried, for the user running Zelvaro.
QStringList sharedFolderPlaces();
// The places for files that must last: a database attached from copies keeps them as long as it
// exists, and /var/tmp is cleaned of old files on many systems (systemd-tmpfiles, 30 days for
// /var/tmp on Debian), which would delete the database's files under it. Only the
// administrator's /srv/zelvaro-USER: never /tmp or /var/tmp, never the user's home.
QStringList lastingFolderPlaces();

// server: the server's account on this computer (its uid and name); places: tests pass their own.
SharedFolder prepareSharedFolder(uid_t server, const QString& serverName, const ServerReaches& reaches,
                                 const QStringList& places = sharedFolderPlaces());

// The command that makes /srv/zelvaro-USER for the user and the server's account.
QString sharedFolderSudoCommand(const QString& serverName);
