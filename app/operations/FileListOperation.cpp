// Reading a backup's file list (FileListOperation.h).
#include "FileListOperation.h"

#include "AdoQuery.h"
#include "BackupHeader.h"
#include "DbError.h"
#include "RestoreChecks.h"
#include "ServerQuestions.h"
#include "SqlQuote.h"

namespace ops::filelist {

QString statement(const QString& backup, int position) {
    return QLatin1String("RESTORE FILELISTONLY FROM Disk = ") + sqlquote::literal(backup) +
           (position ? QLatin1String(" WITH FILE = ") + QString::number(position) : QString());
}

FileListPlan plan(const Request& request, Server& server) {
    FileListPlan plan;
    plan.kind = Kind::FileList;
    plan.server = server.name;
    useMaster(server.query);
    plan.set = backupheader::chosenSet(server.query, request.backup, request.is2000);
    try {
        plan.stop = restorechecks::unreadableVersion(request.backup, plan.set.major, plan.set.minor,
                                                     plan.set.build, serverquestions::version(server.query));
    } catch (const DbError&) {
        // A server that will not say its version reads the list as before, and says what it says.
    }
    Statement list{statement(request.backup, plan.set.position), Pace::Long};
    list.rowset = true;
    plan.statements = {list};
    return plan;
}

QString readGrantOffer(const QString& account, const QStringList& paths) {
    return QStringLiteral(
               "Дозволити серверу (%1) прочитати %2 там, де лежить? Дозвіл стосується лише цього файлу "
               "і проходу через каталоги на шляху (без перегляду їх вмісту) і буде забраний, щойно "
               "операція закінчиться.")
        .arg(account, paths.join(QLatin1String(", ")));
}

Plan readGrant(const Request& request, const QString& server, const QString& account) {
    Plan plan;
    plan.kind = Kind::FileList;
    plan.server = server;
    plan.touches = {request.backup};
    plan.question = readGrantOffer(account, {request.backup});
    JournalEntry grant;
    grant.kind = JournalEntry::Kind::AclGrant;
    grant.server = server;
    grant.path = request.backup;
    grant.account = account;
    plan.leaves = {grant};
    Statement header{QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(request.backup)};
    header.rowset = true;
    plan.statements = {header};
    return plan;
}

QList<restoreplan::BackupFile> files(AdoQuery& query) {
    QList<restoreplan::BackupFile> out;
    for (query.first(); !query.atEnd(); query.next())
        out.append({query.field(QStringLiteral("LogicalName")), query.field(QStringLiteral("Type")).toUpper(),
                    query.field(QStringLiteral("PhysicalName")),
                    query.field(QStringLiteral("Size")).toLongLong()});
    return out;
}

} // namespace ops::filelist
