// Restoring a database from a backup set: the statements in the order they are sent (the backup
// verified before it replaces anything, the others put out only once it is known to be sound, the
// restore with every file moved and the server's share every tenth), the put-back, and the
// half-restored database under a new name dropped with what it wrote.
#pragma once

#include "DatabaseOperations.h"
#include "Plan.h"
#include "RestorePlan.h"

#include <QList>
#include <QString>

namespace ops::restore {

struct Request {
    QString database;
    QString backup;
    restoreplan::ChosenSet set; // the set the page's list was read of, read again just now
    QString dataLogical, mdf;   // the first data file and where it goes
    QString logLogical, ldf;    // the first log file and where it goes
    QList<restoreplan::Move> further;
    // A database of that name is there: WITH REPLACE (which switches off the server's own guards:
    // 3154, 3159, 3142) is said only then, after a verification of the backup.
    bool replacing = false;
    bool is2000 = false;
};

// "RESTORE DATABASE [x] FROM DISK = '…' WITH [FILE = n, ][REPLACE, ]MOVE … TO …, …, STATS = 10".
QString statement(const Request& request);

// The plan: RESTORE VERIFYONLY first when a database is replaced, SINGLE_USER when others are
// inside it (asked here unless the server will not say; MULTI_USER then the put-back), the
// restore. Checks (room, edition, versions, collation) are added by restorechecks::check.
Plan plan(const Request& request, Server& server);

// The follow-up after a restore under a new name failed part-way and left the database
// restoring: it was ours alone, and goes with what it wrote.
Plan dropHalfRestored(const Plan& restore);

} // namespace ops::restore
