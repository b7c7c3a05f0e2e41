// The backup's plan and outcome (BackupOperation.h).
#include "BackupOperation.h"

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "BackupStatements.h"
#include "DbError.h"

#include <QFileInfo>

namespace ops::backup {

namespace {

bool is2000(Server& server, bool assumed) {
    const int major = server.connection.serverMajorVersion();
    return major > 0 ? major < 9 : assumed;
}

// The question before WITH INIT replaces what the file holds. The same database is the same name as
// the server compares names and, where both sides name one (2005 on), the same family: a copy
// restored under another name keeps its family.
QString replacingQuestion(const QString& database, const QString& path, bool fileThere, bool old,
                          Server& server) {
    try {
        const QString family = backuptarget::familyGuid(server.query, database, old);
        const auto own = [&](const backuptarget::Set& s) {
            if (!family.isEmpty() && !s.familyGuid.isEmpty() &&
                family.compare(s.familyGuid, Qt::CaseInsensitive) != 0)
                return false;
            const int id = databaseId(server.query, database);
            return id != 0 && id == databaseId(server.query, s.database);
        };
        return backuptarget::question(database, path, backuptarget::read(server.query, path, fileThere, old),
                                      own);
    } catch (const DbError&) {
        if (QFileInfo(path).isFile())
            return backuptarget::question(database, path, {backuptarget::Held::Kind::Unreadable, {}}, {});
    }
    return {};
}

// The shared folder's route: the server writes a new file there, verified there and then moved to
// the chosen path by the caller. The file is journalled before the server writes it.
Plan throughShared(const Plan& chosen, const Request& request, Server& server, bool old) {
    Plan shared = chosen;
    shared.stop.clear();
    shared.findings.clear();
    const SharedFile file = request.sharedFile();
    if (file.path.isEmpty()) {
        shared.stop = file.problems;
        return shared;
    }
    shared.writesTo = file.path;
    shared.statements = statements(chosen.database, file.path, old, request.copyOnly, request.verifyStats);
    JournalEntry copy;
    copy.kind = JournalEntry::Kind::Copy;
    copy.server = chosen.server;
    copy.database = chosen.database;
    copy.path = file.path;
    shared.leaves = {copy};
    // The server writes into the shared folder, and this computer copies the file to the chosen
    // folder: both need the room.
    shared.stop = backuproom::check(server.query, chosen.database, QFileInfo(file.path).path(), true,
                                    QFileInfo(request.path).path())
                      .refusal;
    return shared;
}

QString sharedOffer(const Request& request) {
    return QStringLiteral(
               "Сервер (%1) може записати копію до спільної теки (вона ваша, серверу відкрито лише "
               "її, наприклад %2). Zelvaro перевірить копію там і перенесе її до %3; у спільній теці "
               "нічого не залишиться, права ваших каталогів не зміняться. Зробити так?")
        .arg(request.serverAccount, request.sharedExample, request.path);
}

} // namespace

QList<Statement> statements(const QString& database, const QString& path, bool is2000, bool copyOnly,
                            int verifyStats) {
    const bool checksum = !is2000;
    return {{backupsql::backup(database, path, checksum, copyOnly && !is2000), Pace::Long},
            {backupsql::verifyOnly(path, 1, checksum, is2000 ? 0 : verifyStats), Pace::Long}};
}

Plan unasked(const Request& request, const QString& serverName, bool is2000) {
    Plan p;
    p.kind = Kind::Backup;
    p.server = serverName;
    p.database = request.database;
    p.touches = {request.path};
    p.writesTo = request.path;
    p.statements = statements(p.database, request.path, is2000, request.copyOnly, request.verifyStats);
    return p;
}

Plan plan(const Request& request, Server& server) {
    const bool open = server.connection.isOpen();
    const bool old = is2000(server, request.assume2000);
    Request spelled = request;
    bool exists = false;
    if (open) {
        try {
            const QString name = backuptarget::serverSpelling(server.query, request.database);
            if (!name.isEmpty())
                spelled.database = name;
            exists = !name.isEmpty();
        } catch (const DbError&) {
            // Sent as it was chosen: the statement meets what it meets.
        }
    }
    Plan p = unasked(spelled, server.name, old);
    p.databaseExists = exists;
    if (!open)
        return p;
    const bool refused = request.seen.reach == TargetSeen::Reach::Refused;
    if (refused) {
        p.stop = request.seen.refusal;
    } else {
        const QString folder =
            request.seen.serverFolder.isEmpty() ? QFileInfo(request.path).path() : request.seen.serverFolder;
        const backuproom::Room room =
            backuproom::check(server.query, p.database, folder, request.sharesThisComputer);
        p.stop = room.refusal;
        if (!room.notChecked.isEmpty())
            p.findings << room.notChecked;
    }
    if (!p.stop.isEmpty() && !refused)
        return p;
    // WITH INIT replaces whatever the file holds: anything but the database's own older backups is
    // asked about.
    p.question = replacingQuestion(p.database, request.path, request.seen.fileThere, old, server);
    if (refused && !request.serverAccount.isEmpty() && request.sharedFile)
        p.remedies.push_back(
            {sharedOffer(request), std::make_shared<const Plan>(throughShared(p, request, server, old))});
    return p;
}

QString confirmation(const Plan& plan) {
    QStringList parts = plan.findings;
    if (!plan.question.isEmpty())
        parts << plan.question;
    else if (!parts.isEmpty())
        parts << QStringLiteral("Продовжити?"); // findings alone still need a question to answer
    return parts.join(QLatin1Char('\n'));
}

QString writtenAt(const Plan& plan) {
    return plan.writesTo;
}

bool throughShared(const Plan& plan) {
    return !plan.touches.isEmpty() && plan.writesTo != plan.touches.first();
}

Sets before(const Plan& plan, Server& server) {
    try {
        return backuptarget::sets(server.query, plan.writesTo, is2000(server, false));
    } catch (const DbError&) {
        return {};
    }
}

Outcome outcome(const Plan& plan, Server& server, const Sets& before) {
    return backuptarget::written(server.query, plan.writesTo, plan.database, before, is2000(server, false))
               ? Outcome::Done
               : Outcome::NotDone;
}

} // namespace ops::backup
