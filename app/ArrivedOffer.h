// The success message of a restore or an attach, with what the database brought from another
// server: users whose logins this server lacks and an owner it does not know. The password of each
// login to be created is asked first (or the user left without one), so that the one Yes sends
// exactly the T-SQL shown: users mapped to logins of their names, logins made with the users' SIDs.
// The owner is asked apart: sa, then the connected login. Nothing changes without a Yes; what
// changed is told from the server's answer after. The plans come from ops::arrived.
#pragma once

#include <QString>

class AdoQuery;

namespace arrivedoffer {

// done: the operation's own success text. majorVersion: 8 for 2000. Shows every dialog itself; a
// server that cannot say (a login without the rights to read the catalog) gets `done` alone.
void tell(AdoQuery& query, int majorVersion, const QString& database, const QString& done);

// The same check for a database chosen on the database list: tells that all is well when nothing
// is found, and the server's error when it cannot be asked (thrown as DbError).
void check(AdoQuery& query, int majorVersion, const QString& database);

} // namespace arrivedoffer
