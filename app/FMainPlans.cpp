// Every operation that changes the server is planned from the server's answers right before it
// runs, and shown through one confirmation: a path the server cannot reach stops it there.
#include "FMain.h"

#include "AccessDenied.h"
#include "FileChecks.h"
#include "FileReadGrant.h"
#include "ModalSeam.h"
#include "ServerAccount.h"
#include "ServerAccountReach.h"
#include "ServerFileDialog.h"
#include "ui_FMain.h"

#include <QDir>
#include <QTemporaryFile>

#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The account the server on the other end of the link runs as, when it runs on this computer:
// the owner of its listening socket. Not known for a server elsewhere or behind a forwarder.
ServerAccount accountAtTheOtherEnd(int link) {
    if (link < 0)
        return {};
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(link, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    quint16 port = 0;
    if (peer.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        port = ntohs(in6->sin6_port);
    } else {
        return {};
    }
    return serverAccount(QString::fromLatin1(text), port);
}

} // namespace

serverfiles::ServerFiles TMain::serverFiles() {
    return serverfiles::ServerFiles(*ADOQuery1, ADOConnection->serverMajorVersion());
}

OperationPlan TMain::newPlan(OperationPlan::Kind kind, const QString& database) const {
    OperationPlan plan;
    plan.kind = kind;
    plan.server = ui->ServerName->text();
    plan.database = database;
    return plan;
}

void TMain::askServerAbout(OperationPlan& plan, serverfiles::ServerFiles& files) {
    const ServerAccount account = accountAtTheOtherEnd(ADOConnection->linkSocket());
    if (account.known) {
        plan.serverAccount = account.name;
        plan.serverUid = account.uid;
    }
    try {
        plan.askServer(files);
        // A server of another account on this computer sees a folder it may not write in (a home
        // it may only pass through): the modes and ACLs say so before the statement meets error 5.
        if (account.known && account.uid != ::geteuid() && serverreach::anyHere(plan)) {
            QTemporaryFile probe(QDir::tempPath() + QStringLiteral("/zelvaro-probe-XXXXXX"));
            if (probe.open() &&
                probe.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther) &&
                files.sharesFilesWith(probe.fileName()) == serverfiles::ServerFiles::Shared::Yes)
                serverreach::judge(plan, accountOf(account.uid));
        }
        // What the server refused a statement with a moment ago stays refused however it looks,
        // until a remedy has changed what it meets (a grant on the path).
        for (const QString& denied : plan.kept.empty() ? m_deniedByServer : QStringList())
            for (PlannedFile& f : plan.files)
                if (f.reach != Reach::Refused &&
                    (f.path == denied ||
                     (f.use == FileUse::CreateIn && serverfiles::folderOf(denied, files.platform()) == f.path))) {
                    f.reach = Reach::Refused;
                    f.closedBy = denied;
                    f.deniedByServer = true;
                }
    } catch (const DbError&) {
        // A server that cannot be asked is not refused for it: the statement meets what it meets.
        for (PlannedFile& f : plan.files)
            if (f.reach != Reach::Refused)
                f.reach = Reach::Unknown;
    }
}

bool TMain::fileSeen(serverfiles::ServerFiles& files, const QString& path) {
    if (path.isEmpty())
        return false;
    try {
        const serverfiles::PathState s = files.state(path);
        if (s.answered && (s.exists || files.answersAbout(path)))
            return s.exists && !s.isFolder;
    } catch (const DbError&) {
    }
    return filechecks::fileExists(path);
}

bool TMain::serverReachesAfterRemedy(OperationPlan& plan, serverfiles::ServerFiles& files) {
    askServerAbout(plan, files);
    if (!plan.refused())
        return true;
    plan.remedy = {};
    modal::messageDialog(plan.refusal(), DialogType::Error, {DialogButton::OK});
    return false;
}

std::shared_ptr<void> TMain::deniedByServer(const DbError& error, const QStringList& paths) {
    const QString denied = accessdenied::refusedPath(error.message(), paths);
    if (denied.isEmpty() || m_deniedByServer.contains(denied))
        return nullptr;
    // Planned again only for a server of another account known here, where the offers are (the
    // grant, the shared folder, the copies, the server's own folders): elsewhere the failure's own
    // message, which names the refused file, says it as well.
    const ServerAccount account = accountAtTheOtherEnd(ADOConnection->linkSocket());
    if (!account.known || account.uid == ::geteuid())
        return nullptr;
    struct Kept {
        QStringList& list;
        QString path;
        ~Kept() { list.removeOne(path); }
    };
    m_deniedByServer << denied;
    return std::shared_ptr<Kept>(new Kept{m_deniedByServer, denied});
}

bool TMain::confirmPlan(OperationPlan& plan) {
    if (!plan.stop.isEmpty()) {
        modal::messageDialog(plan.stop, DialogType::Error, {DialogButton::OK}, plan.shownStatements());
        return false;
    }
    // One offer at a time: a remedy may leave something else refused and set the offer for it
    // (the server reads the backup now, and may still not create files in the folder).
    while (plan.refused()) {
        const QString refusal = plan.refusal();
        if (!plan.remedy.apply) {
            modal::messageDialog(refusal, DialogType::Error, {DialogButton::OK}, plan.shownStatements());
            return false;
        }
        const PlanRemedy remedy = std::exchange(plan.remedy, PlanRemedy{});
        if (!modal::confirm(refusal + QLatin1Char('\n') + remedy.offer, plan.shownStatements()) ||
            !remedy.apply(plan))
            return false;
    }
    // One dialog for all the rest: what was found, and the questions the operation asks.
    const QString confirmation = plan.confirmation();
    return confirmation.isEmpty() || modal::confirm(confirmation, plan.shownStatements());
}

bool TMain::serverSeesThisComputer() {
    if (!ADOConnection->isOpen())
        return true;
    // A file only this computer can have made just now: a server that finds it shares this
    // computer's file system.
    QTemporaryFile probe(QDir::tempPath() + QStringLiteral("/zelvaro-probe-XXXXXX"));
    if (!probe.open())
        return true;
    probe.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                         QFileDevice::ReadOther);
    try {
        serverfiles::ServerFiles files = serverFiles();
        // A server that would not say is taken for one that sees: the pages work as they always did.
        return files.sharesFilesWith(probe.fileName()) != serverfiles::ServerFiles::Shared::No;
    } catch (const DbError&) {
        return true;
    }
}

QString TMain::pickServerFile(const QString& title, const QStringList& extensions, const QString& current) {
    QString fallback;
    try {
        const serverfiles::Folders folders = serverfiles::defaultFolders(*ADOQuery1);
        fallback = folders.backup.isEmpty() || extensions != QStringList{QStringLiteral("bak")} ? folders.data
                                                                                              : folders.backup;
    } catch (const DbError&) {
    }
    serverfiles::ServerFiles files = serverFiles();
    const QString start = serverfiles::startIn(current, fallback, [&files](const QString& folder) {
        try {
            const serverfiles::PathState s = files.state(folder);
            return s.exists && s.isFolder;
        } catch (const DbError&) {
            return false;
        }
    });
    return serverfiles::pick(modal::Kind::ServerFile, title, extensions, start, serverfiles::lister(*ADOQuery1))
        .value_or(QString());
}
