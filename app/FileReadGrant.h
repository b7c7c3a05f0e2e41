// Lets the server's account read one file where it lies, for as long as this object lives: r on
// the file and x (passing through, never listing) on each folder on the way the account cannot
// pass yet, as ACL entries of its own. Nothing else changes: no mode bits, no other entry, no
// other file. When the object goes (the operation done, failed, cancelled or thrown through),
// exactly the entries it added are taken back, in reverse order.
//
//   FileReadGrant grant(path, server.uid, server.name);
//   if (!grant.ok()) ... tell grant.problem() ...
//   ... run the statement that reads path ...
//   // leaving the scope takes the grant back
//
// Each folder needing an entry and the file itself must belong to the user (only an owner may
// change an ACL); otherwise nothing is granted and problem() names the folder.
#pragma once

#include "UserAclEntry.h"

#include <QList>
#include <QString>

#include <sys/types.h>

class FileReadGrant {
public:
    FileReadGrant(const QString& file, uid_t server, const QString& serverName);
    ~FileReadGrant();
    FileReadGrant(const FileReadGrant&) = delete;
    FileReadGrant& operator=(const FileReadGrant&) = delete;

    bool ok() const { return m_problem.isEmpty(); }
    QString problem() const { return m_problem; }
    // What was granted, for the plan and the dialog: one path per entry added.
    QStringList grantedPaths() const;
    // Takes the grant back now (the destructor then does nothing). False when some entry could
    // not be taken back; problem() then says which.
    bool release();

private:
    QList<AclChange> m_changes;
    QString m_problem;
};
