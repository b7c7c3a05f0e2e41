// Who else is inside a database, told in the confirmation, and the statements that put them out
// for a detach or drop and let everyone in again when it did not happen.
//
//   plan.othersInside = serverquestions::othersUsing(query, version, name);
//   ... confirm disconnectothers::question(name, plan.othersInside, "Від'єднати") ...
//   run disconnectothers::singleUser(name), then the detach; on failure disconnectothers::multiUser(name)
//
// SINGLE_USER WITH ROLLBACK IMMEDIATE ends the other sessions (their open transactions are rolled
// back); it is sent on the connection that then detaches or drops, from master, so that the one
// user the database allows is never ours and never somebody else's.
#pragma once

#include "ServerQuestions.h"

#include <QList>
#include <QString>

namespace disconnectothers {

// One line per session: login, computer and program, as the server names them.
QString sessionLines(const QList<serverquestions::Session>& others);
// The Yes/No question: who is inside, what Yes does to them, and the verb of the operation
// ("Від'єднати", "Видалити") asked about the database.
QString question(const QString& database, const QList<serverquestions::Session>& others, const QString& verb);
QString singleUser(const QString& database);
QString multiUser(const QString& database);

} // namespace disconnectothers
