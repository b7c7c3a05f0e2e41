// What the attach page checks with the server once the paths are known to be reachable: which
// server wrote the files, the edition's cap, and, for files an older server wrote, a copy in the
// shared folder so that the originals stay as they were.
#include "FMain.h"

#include "DatabaseFileVersion.h"
#include "ModalSeam.h"
#include "ServerQuestions.h"
#include "SharedCopy.h"
#include "ServerAccountReach.h"
#include "SharedFolder.h"
#include "UserAclEntry.h"

#include <QFileInfo>

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

QString megabytes(qint64 bytes) {
    return QString::number((bytes + 1024 * 1024 - 1) / (1024 * 1024));
}

qint64 freeBytesHere(const QString& folder) {
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) != 0)
        return -1;
    return qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
}

} // namespace

bool TMain::checkAttachFiles(OperationPlan& plan, QString& mdf, QString& ldf,
                             std::vector<std::unique_ptr<SharedCopy>>& copies) {
    namespace sq = serverquestions;
    sq::ServerVersion server;
    sq::Edition edition;
    try {
        server = sq::version(*ADOQuery1);
        edition = sq::edition(*ADOQuery1, server);
    } catch (const DbError&) {
        return true; // a server that will not say: the attach meets what it meets
    }
    const QString nothingSent = QStringLiteral("\nСерверу нічого не надіслано.");
    // The cap first: nothing is copied for an attach the edition would refuse anyway.
    if (edition.express()) {
        qint64 data = fileversion::dataBytes(*ADOQuery1, mdf);
        if (data < 0 && QFileInfo::exists(mdf))
            data = QFileInfo(mdf).size();
        if (data > edition.capMB * 1024 * 1024) {
            modal::messageDialog(
                QStringLiteral(
                    "Сервер %1 — це %2: одна база даних може мати на ньому не більше %3 МБ даних, а "
                    "файли даних бази %4 мають %5 МБ. Сервер відмовив би (помилка 1827).")
                        .arg(plan.server, edition.name, QString::number(edition.capMB), plan.database,
                             megabytes(data)) +
                    nothingSent,
                DialogType::Error, {DialogButton::OK});
            return false;
        }
    }
    const QString serverRelease = fileversion::serverName(fileversion::writtenBy(server));
    const int fileVersion = fileversion::ofPrimaryFile(*ADOQuery1, mdf);
    const QString wroteIt = fileversion::serverName(fileVersion);
    switch (fileversion::verdict(fileVersion, server)) {
    case fileversion::Verdict::Newer:
        modal::messageDialog(
            QStringLiteral(
                "Файли бази даних %1 записав %2 (версія файлів %3), а сервер %4 — це %5 (версія %6). "
                "Старіший сервер не може відкрити файли новішого, і перетворити їх назад неможливо: "
                "приєднайте їх на сервері %2 або новішому.")
                    .arg(mdf, wroteIt, QString::number(fileVersion), plan.server, serverRelease,
                         QString::number(fileversion::writtenBy(server))) +
                nothingSent,
            DialogType::Error, {DialogButton::OK});
        return false;
    case fileversion::Verdict::TooOld:
        modal::messageDialog(
            QStringLiteral(
                "Файли бази даних %1 записав %2 (версія файлів %3), а сервер %4 — це %5: він не вміє "
                "оновлювати файли SQL Server 2000 (помилка 950). Приєднайте їх спершу на SQL Server "
                "2005, 2008 або 2008 R2, а потім перенесіть базу даних сюди.")
                    .arg(mdf, wroteIt, QString::number(fileVersion), plan.server, serverRelease) +
                nothingSent,
            DialogType::Error, {DialogButton::OK});
        return false;
    case fileversion::Verdict::Upgraded: {
        if (!copies.empty())
            break; // copies already: the server upgrades those, and the user's files stay as they are
        const QString told =
            QStringLiteral(
                "Файли бази даних %1 записав %2 (версія файлів %3). Під час приєднання сервер %4 (%5) "
                "оновить їх на місці назавжди: %2 більше ніколи не зможе їх відкрити.")
                .arg(mdf, wroteIt, QString::number(fileVersion), plan.server, serverRelease);
        // A copy needs a folder the server can use, which needs its account known here.
        if (plan.serverUid < 0) {
            if (!modal::confirm(told + QStringLiteral("\nПриєднати ці файли й оновити їх?")))
                return false;
            break;
        }
        const int answer = modal::messageDialog(
            told +
                QStringLiteral(
                    "\nТак — приєднати копію файлів у теці, яку бачать і ви, і сервер, а ці залишити як є.\n"
                    "Ігнорувати — приєднати самі ці файли, і сервер їх оновить.\n"
                    "Ні — нічого не робити."),
            DialogType::Confirmation, {DialogButton::Yes, DialogButton::Ignore, DialogButton::No});
        if (answer == msgdlg::resultOf(DialogButton::Ignore))
            break;
        if (answer != msgdlg::resultOf(DialogButton::Yes))
            return false;
        if (!copyForAttach(plan, mdf, ldf, copies))
            return false;
        break;
    }
    case fileversion::Verdict::Same:
        break;
    }
    return true;
}

bool TMain::copyForAttach(OperationPlan& plan, QString& mdf, QString& ldf,
                          std::vector<std::unique_ptr<SharedCopy>>& copies) {
    serverfiles::ServerFiles files = serverFiles();
    // An attached database keeps its files open as long as it exists: they go where the server
    // keeps its own, its data folder, when this computer may write there; else to the folder an
    // administrator made for it. Never to /var/tmp, which is cleaned of old files, nor into the
    // user's home, which would have to be opened to the server.
    QString dataFolder;
    try {
        dataFolder = serverreach::writableDataFolder(files);
    } catch (const DbError&) {
    }
    SharedFolder shared;
    if (!dataFolder.isEmpty())
        shared.folder = dataFolder;
    else
        shared = prepareSharedFolder(
            uid_t(plan.serverUid), plan.serverAccount,
            [&](const QString& folder) {
                try {
                    const serverfiles::PathState s = files.state(folder);
                    return s.answered && s.exists && s.isFolder;
                } catch (const DbError&) {
                    return false;
                }
            },
            lastingFolderPlaces());
    if (!shared.ok()) {
        modal::messageDialog(
            QStringLiteral("Копію файлів бази даних немає де зберегти: до теки даних сервера цей комп'ютер "
                           "записувати не може, а теки, яку бачать і ви, і сервер, немає:\n%1\nАдміністратор "
                           "може зробити її так:\n%2\nАбо скопіюйте файли до теки даних сервера самі.\n"
                           "Серверу нічого не надіслано.")
                .arg(shared.problems.join(QLatin1Char('\n')), shared.sudoCommand),
            DialogType::Error, {DialogButton::OK});
        return false;
    }
    const QStringList sources = ldf.isEmpty() ? QStringList{mdf} : QStringList{mdf, ldf};
    qint64 needed = 0;
    for (const QString& f : sources)
        needed += QFileInfo(f).size();
    const qint64 free = freeBytesHere(shared.folder);
    if (free >= 0 && needed > free) {
        modal::messageDialog(
            QStringLiteral("Для копії файлів у теці %1 потрібно %2 МБ, а вільно лише %3 МБ.\n"
                           "Серверу нічого не надіслано.")
                .arg(shared.folder, megabytes(needed), megabytes(free)),
            DialogType::Error, {DialogButton::OK});
        return false;
    }
    QStringList copied;
    const auto copy = [&](const QString& f) {
        try {
            copies.push_back(copyIntoShared(this, f, shared.folder));
        } catch (const FileTransferFailed& e) {
            copies.clear();
            modal::messageDialog(QString::fromStdString(e.what()) +
                                     QStringLiteral("\nСерверу нічого не надіслано."),
                                 DialogType::Error, {DialogButton::OK});
            return false;
        }
        // The server writes its files too: in the shared folder its inherited entry counts only as
        // far as the group bits; in its data folder the copy is the user's, and the server's
        // account is given read and write on that one file.
        if (dataFolder.isEmpty()) {
            ::chmod(QFile::encodeName(copies.back()->path()).constData(), 0660);
        } else {
            ::chmod(QFile::encodeName(copies.back()->path()).constData(), 0600);
            QString why;
            if (!addUserRights(copies.back()->path(), uid_t(plan.serverUid), Access::Read | Access::Write, &why)) {
                copies.clear();
                modal::messageDialog(why + QStringLiteral("\nСерверу нічого не надіслано."), DialogType::Error,
                                     {DialogButton::OK});
                return false;
            }
        }
        copied << copies.back()->path();
        return true;
    };
    for (const QString& f : sources)
        if (!copy(f))
            return false;
    // A database of several data files: the primary file names the others where they lay when it
    // was detached, which the server cannot reach either; they are copied beside it and named in the
    // attach. The server reads that list from the copy, the one file it can open.
    const QStringList further = fileversion::furtherDataFiles(*ADOQuery1, copied.value(0));
    qint64 furtherBytes = 0;
    for (const QString& f : further)
        furtherBytes += QFileInfo(f).size();
    if (free >= 0 && needed + furtherBytes > free) {
        copies.clear();
        modal::messageDialog(
            QStringLiteral("Для копії файлів у теці %1 потрібно %2 МБ, а вільно лише %3 МБ.\n"
                           "Серверу нічого не надіслано.")
                .arg(shared.folder, megabytes(needed + furtherBytes), megabytes(free)),
            DialogType::Error, {DialogButton::OK});
        return false;
    }
    for (const QString& f : further) {
        if (!QFileInfo(f).isFile()) {
            copies.clear();
            modal::messageDialog(QStringLiteral("Файл даних %1, який називає файл %2, не знайдено на цьому "
                                                "комп'ютері, тож копію бази даних не зроблено.\n"
                                                "Серверу нічого не надіслано.")
                                     .arg(f, mdf),
                                 DialogType::Error, {DialogButton::OK});
            return false;
        }
        if (!copy(f))
            return false;
    }
    mdf = copied.value(0);
    if (!ldf.isEmpty())
        ldf = copied.value(1);
    for (PlannedFile& f : plan.files)
        f.path = f.path == sources.value(0) ? mdf : f.path == sources.value(1) ? ldf : f.path;
    return true;
}

void TMain::offerAttachCopy(OperationPlan& plan, serverfiles::ServerFiles& files, QString& mdf, QString& ldf,
                            std::vector<std::unique_ptr<SharedCopy>>& copies) {
    const QStringList refused = plan.refusedPaths(FileUse::Read);
    if (plan.serverUid < 0 || refused.isEmpty())
        return;
    for (const QString& path : refused)
        if (!QFileInfo(path).isFile())
            return; // nothing here to copy: the refusal stands
    plan.remedy.offer =
        QStringLiteral(
            "Скопіювати файли бази даних у теку, яку бачать і ви, і сервер (%1), і приєднати копію? "
            "Приєднана база даних працює зі своїми файлами весь час, тож вона залишиться там; ваші "
            "файли залишаться як є.")
            .arg(plan.serverAccount);
    plan.remedy.apply = [this, &files, &mdf, &ldf, &copies](OperationPlan& p) {
        if (!copyForAttach(p, mdf, ldf, copies))
            return false;
        for (PlannedFile& f : p.files)
            f.reach = Reach::Unknown;
        // Relied on only once the server says it reaches the copies.
        if (serverReachesAfterRemedy(p, files))
            return true;
        copies.clear();
        return false;
    };
}
