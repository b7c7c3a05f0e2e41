// Detach and drop (DatabaseOperations.h).
#include "DatabaseOperations.h"

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "DbError.h"
#include "SingleUser.h"
#include "SqlQuote.h"

namespace ops {

void useMaster(AdoQuery& query) {
    query.close();
    query.setText(QStringLiteral("USE master"));
    query.execute();
    query.close();
}

int databaseId(AdoQuery& query, const QString& name) {
    query.close();
    query.setText(QLatin1String("SELECT name, dbid FROM master.dbo.sysdatabases WHERE name = ") +
                  sqlquote::literal(name));
    query.openRowset();
    const int id = query.atEnd() ? 0 : query.field(QStringLiteral("dbid")).toInt();
    query.close();
    return id;
}

bool databaseExists(AdoQuery& query, const QString& name) {
    return databaseId(query, name) != 0;
}

namespace {

// The plan of a statement that removes the database from the server: who is inside decides
// whether they are put out first.
Plan removal(Kind kind, const QString& database, Server& server, const QString& question, const QString& verb,
             Statement statement) {
    Plan plan;
    plan.kind = kind;
    plan.server = server.name;
    plan.database = database;
    plan.touches = {database};
    plan.question = question;
    plan.statements = {std::move(statement)};
    if (!server.connection.isOpen())
        return plan;
    try {
        server.connection.setDefaultDatabase(QStringLiteral("master"));
        plan.databaseExists = databaseExists(server.query, database);
        const serverquestions::ServerVersion v = serverquestions::version(server.query);
        plan.othersInside = serverquestions::othersUsing(server.query, v, database);
    } catch (const DbError&) {
        // A login without the right to see other sessions: the statement meets what it meets, and
        // the server's refusal (3702, 3703) is shown as it always was.
        plan.othersInside.clear();
        return plan;
    }
    if (plan.othersInside.isEmpty())
        return plan;
    plan.question = singleuser::question(database, plan.othersInside, verb);
    singleuser::putOthersOut(plan);
    return plan;
}

Outcome gone(const Plan& plan, Server& server) {
    try {
        return databaseExists(server.query, plan.database) ? Outcome::NotDone : Outcome::Done;
    } catch (const DbError&) {
        return Outcome::Unknown;
    }
}

} // namespace

namespace detach {
Plan plan(const DatabaseRequest& request, Server& server) {
    const QString& name = request.database;
    return removal(Kind::Detach, name, server,
                   QStringLiteral("Ви впевнені, що хочете від'єднати базу даних ") + name +
                       QStringLiteral(" ?"),
                   QStringLiteral("Від'єднати"),
                   {QLatin1String("EXEC sp_detach_db ") + sqlquote::literal(name) + QLatin1String(", 'true'"),
                    Pace::Short});
}
Outcome outcome(const Plan& plan, Server& server) {
    return gone(plan, server);
}
} // namespace detach

namespace drop {
Plan plan(const DatabaseRequest& request, Server& server) {
    const QString& name = request.database;
    return removal(
        Kind::Drop, name, server,
        QStringLiteral("Ви впевнені, що бажаєте видалити базу даних ") + name + QStringLiteral(" ?"),
        QStringLiteral("Видалити"), {QLatin1String("DROP DATABASE ") + sqlquote::name(name), Pace::Long});
}
Outcome outcome(const Plan& plan, Server& server) {
    return gone(plan, server);
}
} // namespace drop

} // namespace ops
