// Other sessions inside a database that an operation needs alone (a restore over it, a detach, a
// drop): who they are, in the words of the confirmation, and the SINGLE_USER that ends them.
//
//   const auto others = serverquestions::othersUsing(query, version, name);
//   if (!others.isEmpty()) {
//       plan.findings << disconnectothers::finding(name, others);
//       plan.statements.prepend(disconnectothers::singleUser(name));  // shown, then sent by Yes
//   }
//   ... confirmPlan(plan) ...
//   DisconnectOthers alone(query, name);
//   if (!others.isEmpty()) alone.disconnect();   // throws DbError: nothing else was sent
//   ... the operation ...                        // throws: the destructor puts MULTI_USER back
//   alone.keep();                                // it succeeded: the database stays as it now is
#pragma once

#include "ServerQuestions.h"

#include <QList>
#include <QString>

class AdoQuery;

namespace disconnectothers {

// "ALTER DATABASE [x] SET SINGLE_USER WITH ROLLBACK IMMEDIATE": the other sessions' open
// transactions are rolled back and the sessions ended; only our connection stays.
QString singleUser(const QString& database);
QString multiUser(const QString& database);

// One line per session: login, computer and program, as the server names them.
QString sessionLines(const QList<serverquestions::Session>& others);
// The detach's and drop's Yes/No question: who is inside, what Yes does to them, and the verb of
// the operation ("Від'єднати", "Видалити") asked about the database.
QString question(const QString& database, const QList<serverquestions::Session>& others, const QString& verb);

// The restore confirmation's lines: who is inside the database (login, computer, program), and
// what Yes does about it.
QString finding(const QString& database, const QList<serverquestions::Session>& others);

} // namespace disconnectothers

class DisconnectOthers {
public:
    DisconnectOthers(AdoQuery& query, QString database);
    ~DisconnectOthers();
    DisconnectOthers(const DisconnectOthers&) = delete;
    DisconnectOthers& operator=(const DisconnectOthers&) = delete;

    // Sends SINGLE_USER WITH ROLLBACK IMMEDIATE; throws DbError when the server refuses.
    void disconnect();
    // The operation succeeded: MULTI_USER is not put back (a restored database is as its backup
    // says, a detached or dropped one is gone).
    void keep() { m_kept = true; }
    bool disconnected() const { return m_disconnected; }

private:
    AdoQuery& m_query;
    QString m_database;
    bool m_disconnected = false;
    bool m_kept = false;
};
