// The success message of a restore or an attach, with what the database brought from another
// server: users whose logins this server lacks and an owner it does not know. It offers, on one
// Yes with the T-SQL shown, to map the users to logins of their names and to create logins with
// the users' SIDs (the password asked for each, never shown again), and separately to make sa the
// owner. Nothing changes without the Yes; what changed is told from the server's answer after.
#pragma once

#include <QString>

class AdoQuery;

namespace arrivedoffer {

// done: the operation's own success text. majorVersion: 8 for 2000. Shows every dialog itself.
void tell(AdoQuery& query, int majorVersion, const QString& database, const QString& done);

} // namespace arrivedoffer
