// The server's account against the modes and ACLs on this computer (see ServerAccountReach.h).
#include "ServerAccountReach.h"

#include "ServerFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <unistd.h>

namespace serverreach {

namespace {

// What the statement needs on the path it names, and on which path: the file itself, or the
// folder the server creates the file in.
struct Need {
    QString path;
    int rights = 0;
};

QList<Need> needsOf(const PlannedFile& f, OperationPlan::Kind kind) {
    switch (f.use) {
    case FileUse::Read:
        // An attached database's files are written for as long as it exists.
        return {{f.path, kind == OperationPlan::Kind::Attach ? Access::Read | Access::Write : Access::Read}};
    case FileUse::CreateIn:
        return {{f.path, Access::Write | Access::Traverse}};
    case FileUse::Write: {
        QList<Need> needs{
            {serverfiles::folderOf(f.path, serverfiles::Platform::Linux), Access::Write | Access::Traverse}};
        // WITH INIT writes over a file that is there.
        if (QFileInfo::exists(f.path))
            needs.append({f.path, Access::Write});
        return needs;
    }
    }
    return {};
}

} // namespace

QString whatStops(const QString& path, const Account& account, int wanted) {
    if (path.isEmpty() || !QFileInfo::exists(path))
        return {};
    const QString closed = closedOnTheWay(path, account);
    if (!closed.isEmpty())
        return closed;
    return allows(path, account, wanted) ? QString() : path;
}

bool anyHere(const OperationPlan& plan) {
    for (const PlannedFile& f : plan.files)
        if (f.reach == Reach::Reached && !needsOf(f, plan.kind).isEmpty() &&
            QFileInfo::exists(needsOf(f, plan.kind).first().path))
            return true;
    return false;
}

void judge(OperationPlan& plan, const Account& account) {
    for (PlannedFile& f : plan.files) {
        if (f.reach != Reach::Reached)
            continue;
        for (const Need& need : needsOf(f, plan.kind)) {
            const QString stops = whatStops(need.path, account, need.rights);
            if (stops.isEmpty())
                continue;
            f.reach = Reach::Refused;
            f.closedBy = stops;
            break;
        }
    }
}

QString writableDataFolder(serverfiles::ServerFiles& files) {
    const QString data = files.defaultFolders().data;
    if (data.isEmpty() || !QFileInfo(data).isDir() ||
        ::access(QFile::encodeName(data).constData(), W_OK | X_OK) != 0)
        return {};
    QTemporaryFile probe(QFileInfo(data).absoluteFilePath() + QStringLiteral("/.zelvaro-probe-XXXXXX"));
    if (!probe.open())
        return {};
    const serverfiles::PathState seen = files.state(probe.fileName());
    return seen.answered && seen.exists && !seen.isFolder ? data : QString();
}

} // namespace serverreach
