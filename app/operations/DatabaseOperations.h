// Detaching and dropping a database: the plan from the server's answers (is it there, who else is
// inside), and the outcome by the server's word.
#pragma once

#include "Plan.h"

#include <QString>

class AdoConnection;
class AdoQuery;

namespace ops {

// The server an operation plans against: the window's connection or a test's.
struct Server {
    AdoConnection& connection;
    AdoQuery& query;
    QString name; // as the connection fields name it
};

// What the server holds once an operation has ended.
enum class Outcome { Done, NotDone, Unknown };

// Makes master the statement's database ("USE master"), the query closed before and after.
void useMaster(AdoQuery& query);
// The database of that name, exactly as the server finds it; 0 when it has none. Throws DbError.
int databaseId(AdoQuery& query, const QString& name);
// Whether the server lists the database. Throws DbError.
bool databaseExists(AdoQuery& query, const QString& name);

struct DatabaseRequest {
    QString database;
};

namespace detach {
// A closed connection is not opened to ask: the plan then has the statement alone, and the run
// meets what it meets. A server that will not say who is inside is taken as nobody.
Plan plan(const DatabaseRequest& request, Server& server);
// Done when the database is no longer listed.
Outcome outcome(const Plan& plan, Server& server);
} // namespace detach

namespace drop {
Plan plan(const DatabaseRequest& request, Server& server);
Outcome outcome(const Plan& plan, Server& server);
} // namespace drop

} // namespace ops
