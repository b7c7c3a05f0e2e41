// Restoring a database (RestoreOperation.h).
#include "RestoreOperation.h"

#include "BackupStatements.h"
#include "DbError.h"
#include "ServerQuestions.h"
#include "SingleUser.h"
#include "SqlQuote.h"

namespace ops::restore {

QString statement(const Request& r) {
    QString s = QLatin1String("RESTORE DATABASE ") + sqlquote::name(r.database) +
                QLatin1String(" FROM DISK = ") + sqlquote::literal(r.backup) + QLatin1String(" WITH ");
    if (r.set.position)
        s += QLatin1String("FILE = ") + QString::number(r.set.position) + QLatin1String(", ");
    if (r.replacing)
        s += QLatin1String("REPLACE, ");
    s += QLatin1String("MOVE ") + sqlquote::literal(r.dataLogical) + QLatin1String(" TO ") +
         sqlquote::literal(r.mdf) + QLatin1String(", MOVE ") + sqlquote::literal(r.logLogical) +
         QLatin1String(" TO ") + sqlquote::literal(r.ldf);
    for (const restoreplan::Move& m : r.further)
        s += QLatin1String(", MOVE ") + sqlquote::literal(m.logicalName) + QLatin1String(" TO ") +
             sqlquote::literal(m.target);
    // The server's share done every tenth, as the backup asks: the progress bar is real, and the
    // server is never silent for long.
    return s + QLatin1String(", STATS = 10");
}

Plan plan(const Request& r, Server& server) {
    Plan plan;
    plan.kind = Kind::Restore;
    plan.server = server.name;
    plan.database = r.database;
    plan.databaseExists = r.replacing;
    plan.touches = {r.database, r.mdf, r.ldf};
    for (const restoreplan::Move& m : r.further)
        plan.touches << m.target;
    if (r.replacing) {
        try {
            const serverquestions::ServerVersion v = serverquestions::version(server.query);
            plan.othersInside = serverquestions::othersUsing(server.query, v, r.database);
        } catch (const DbError&) {
            // A server that cannot be asked is not refused for it: the restore meets what it meets.
        }
    }
    // In the order they are sent: a damaged backup never replaces a working database, and the
    // others are put out only once the backup is known to be sound.
    if (r.replacing)
        plan.statements << Statement{backupsql::verifyOnly(r.backup, r.set.position ? r.set.position : 1,
                                                           r.set.checksums && !r.is2000, 0),
                                     Pace::Long};
    plan.statements << Statement{statement(r), Pace::Long};
    if (!plan.othersInside.isEmpty()) {
        plan.findings << singleuser::finding(r.database, plan.othersInside);
        // SINGLE_USER right before the restore, after the verification.
        singleuser::putOthersOut(plan);
        plan.statements.move(0, plan.statements.size() - 2);
        plan.leavesFrom = plan.statements.size() - 2;
    }
    return plan;
}

Plan dropHalfRestored(const Plan& restore) {
    Plan plan;
    plan.kind = Kind::Drop;
    plan.server = restore.server;
    plan.database = restore.database;
    plan.touches = {restore.database};
    plan.statements = {{QLatin1String("DROP DATABASE ") + sqlquote::name(restore.database), Pace::Short}};
    return plan;
}

} // namespace ops::restore
