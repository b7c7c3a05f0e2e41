// Putting the other sessions out of a database an operation needs alone, and letting everybody in
// again: the statements, the words that name who is inside, the server's word on a database's user
// access, and the plan that opens a database an earlier run left single-user.
#pragma once

#include "Plan.h"
#include "ServerQuestions.h"

#include <QList>
#include <QString>

class AdoQuery;

namespace ops::singleuser {

// "ALTER DATABASE [x] SET SINGLE_USER WITH ROLLBACK IMMEDIATE": the other sessions' open
// transactions are rolled back and the sessions ended; only our connection stays.
QString singleUser(const QString& database);
QString multiUser(const QString& database);

// One line per session: login, computer and program, as the server names them.
QString sessionLines(const QList<serverquestions::Session>& others);
// The detach's and drop's Yes/No question: who is inside, what Yes does to them, and the verb of
// the operation ("Від'єднати", "Видалити") asked about the database.
QString question(const QString& database, const QList<serverquestions::Session>& others, const QString& verb);
// The restore confirmation's lines: who is inside the database, and what Yes does about it.
QString finding(const QString& database, const QList<serverquestions::Session>& others);

// The database's user access as the server names it ("SINGLE_USER" …, upper case); empty when the
// database is not there. DATABASEPROPERTYEX answers on every version from 2000 on. Throws DbError.
QString userAccess(AdoQuery& query, const QString& database);

// Makes the plan put the others out first: SINGLE_USER before its statements, MULTI_USER as its
// put-back, the setting written down for as long as it lasts.
void putOthersOut(Plan& plan);

// What the user is told when the database could not be opened again: which database, the server's
// answer and the statement that opens it.
QString leftSingleUser(const QString& database, const QString& why);

// A database an earlier operation put in single-user mode and could not open again (the journal's
// entry): the question that offers to open it, and MULTI_USER.
Plan openToAll(const JournalEntry& left);

} // namespace ops::singleuser
