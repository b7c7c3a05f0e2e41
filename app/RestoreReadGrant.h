// The read grant a restore's or a file list's remedy makes, owned by the journal: written down
// before the ACL entry is made, crossed out once it is taken back. A crash in between leaves the
// journal saying what to take back at the next start.
#pragma once

#include "FileReadGrant.h"
#include "Journal.h"

#include <QString>
#include <memory>

#include <sys/types.h>

class RestoreReadGrant {
public:
    // entry: the plan's AclGrant (path, account, server). Nothing is granted when it cannot be
    // written down.
    RestoreReadGrant(ops::JournalEntry entry, uid_t account);
    ~RestoreReadGrant();
    RestoreReadGrant(const RestoreReadGrant&) = delete;
    RestoreReadGrant& operator=(const RestoreReadGrant&) = delete;

    bool ok() const { return m_problem.isEmpty(); }
    QString problem() const { return m_problem; }

private:
    ops::JournalEntry m_entry;
    std::unique_ptr<FileReadGrant> m_grant;
    QString m_problem;
};
