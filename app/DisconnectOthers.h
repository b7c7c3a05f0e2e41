// Other sessions inside a database that an operation needs alone (a restore over it, an attach
// over it): who they are, in the words of the confirmation, and the SINGLE_USER that ends them.
// The statements and texts live in the operations layer (operations/SingleUser.h); the guard below
// is for the pages that do not run through an operation's plan yet.
//
//   DisconnectOthers alone(query, server, name);
//   if (!others.isEmpty()) alone.disconnect();   // written to the journal, then sent; throws DbError
//   ... the operation ...                        // throws: the destructor puts MULTI_USER back
//   alone.keep();                                // it succeeded: the database stays as it now is
#pragma once

#include "Journal.h"
#include "SingleUser.h"

#include <QString>

class AdoQuery;

namespace disconnectothers {
using ops::singleuser::finding;
using ops::singleuser::multiUser;
using ops::singleuser::question;
using ops::singleuser::sessionLines;
using ops::singleuser::singleUser;
} // namespace disconnectothers

class DisconnectOthers {
public:
    DisconnectOthers(AdoQuery& query, QString server, QString database);
    ~DisconnectOthers();
    DisconnectOthers(const DisconnectOthers&) = delete;
    DisconnectOthers& operator=(const DisconnectOthers&) = delete;

    // Writes the single-user setting to the journal and sends SINGLE_USER WITH ROLLBACK IMMEDIATE;
    // throws DbError when either fails (nothing else was sent).
    void disconnect();
    // The operation succeeded: MULTI_USER is not put back (a restored database is as its backup
    // says, a detached or dropped one is gone), and the journal's entry is crossed out.
    void keep();
    bool disconnected() const { return m_disconnected; }

private:
    AdoQuery& m_query;
    QString m_server;
    QString m_database;
    ops::JournalEntry m_entry;
    bool m_disconnected = false;
    bool m_kept = false;
};
