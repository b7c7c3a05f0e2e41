// The attach page's copies: files the server cannot open where they lie, or an older server's files
// the user wants left as they are, are copied into a folder both this computer and the server use,
// and the copies attached. The copies' plan is made before the user is asked, so the T-SQL shown is
// the T-SQL sent; the copies are written in the journal before they are made.
#include "FMain.h"

#include "DatabaseFileVersion.h"
#include "Journal.h"
#include "LongOperation.h"
#include "ModalSeam.h"
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

// Each source's copy at a fresh path in the folder, none planned twice.
QList<ops::FileCopy> planned(const QString& folder, const QStringList& sources,
                             QList<ops::FileCopy> copies = {}) {
    QStringList taken;
    for (const ops::FileCopy& c : copies)
        taken << c.path;
    for (const QString& source : sources) {
        copies.append({source, freshPath(folder, QFileInfo(source).fileName(), taken)});
        taken << copies.last().path;
    }
    return copies;
}

bool roomFor(const QList<ops::FileCopy>& copies) {
    qint64 needed = 0;
    for (const ops::FileCopy& c : copies)
        needed += QFileInfo(c.source).size();
    const QString folder = QFileInfo(copies.first().path).absolutePath();
    const qint64 free = freeBytesHere(folder);
    if (free < 0 || needed <= free)
        return true;
    modal::messageDialog(QStringLiteral("Для копії файлів у теці %1 потрібно %2 МБ, а вільно лише %3 МБ.\n"
                                        "Серверу нічого не надіслано.")
                             .arg(folder, megabytes(needed), megabytes(free)),
                         DialogType::Error, {DialogButton::OK});
    return false;
}

} // namespace

std::optional<ops::Plan> TMain::planAttachCopies(const ops::attach::Planned& planned, const QString& ldf,
                                                 const OperationPlan& reach, QString& problem) {
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
            uid_t(reach.serverUid), reach.serverAccount,
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
        problem = QStringLiteral("Копію файлів бази даних немає де зберегти: до теки даних сервера цей комп'ютер "
                                 "записувати не може, а теки, яку бачать і ви, і сервер, немає:\n%1\nАдміністратор "
                                 "може зробити її так:\n%2\nАбо скопіюйте файли до теки даних сервера самі.\n"
                                 "Серверу нічого не надіслано.")
                      .arg(shared.problems.join(QLatin1Char('\n')), shared.sudoCommand);
        return std::nullopt;
    }
    m_copiesInDataFolder = !dataFolder.isEmpty();
    m_copiesFor = reach.serverUid;
    const QStringList sources =
        (ldf.isEmpty() ? QStringList{planned.request.mdf} : QStringList{planned.request.mdf, ldf}) +
        planned.further;
    const QList<ops::FileCopy> copies = ::planned(shared.folder, sources);
    return ops::attach::ofCopies(
        planned, {planned.request.database, copies[0].path, ldf.isEmpty() ? QString() : copies[1].path},
        copies);
}

bool TMain::makeAttachCopies(ops::Plan& plan, const ops::attach::Planned& planned,
                             std::vector<std::unique_ptr<SharedCopy>>& copies, QStringList& journalled) {
    if (!roomFor(plan.copies))
        return false;
    const auto copy = [&](const ops::FileCopy& c) {
        ops::JournalEntry entry = ops::attach::copyEntry(plan, c);
        QString problem;
        if (!ops::journal().write(entry, &problem)) {
            copies.clear();
            modal::messageDialog(problem + QStringLiteral("\nСерверу нічого не надіслано."),
                                 DialogType::Error, {DialogButton::OK});
            return false;
        }
        journalled << entry.id;
        try {
            copies.push_back(copyIntoSharedAs(this, c.source, c.path));
        } catch (const FileTransferFailed& e) {
            copies.clear();
            modal::messageDialog(QString::fromStdString(e.what()) +
                                     QStringLiteral("\nСерверу нічого не надіслано."),
                                 DialogType::Error, {DialogButton::OK});
            return false;
        } catch (const OperationCancelled&) {
            copies.clear();
            throw;
        }
        // The server writes its files too: in the shared folder its inherited entry counts only as
        // far as the group bits; in its data folder the copy is the user's, and the server's
        // account is given read and write on that one file.
        if (!m_copiesInDataFolder) {
            ::chmod(QFile::encodeName(c.path).constData(), 0660);
            return true;
        }
        ::chmod(QFile::encodeName(c.path).constData(), 0600);
        QString why;
        if (!addUserRights(c.path, uid_t(m_copiesFor), Access::Read | Access::Write, &why)) {
            copies.clear();
            modal::messageDialog(why + QStringLiteral("\nСерверу нічого не надіслано."), DialogType::Error,
                                 {DialogButton::OK});
            return false;
        }
        return true;
    };
    for (const ops::FileCopy& c : plan.copies)
        if (!copy(c))
            return false;
    if (!planned.further.isEmpty() || plan.copies.isEmpty())
        return true;
    // Files the server could not open: which further data files the primary names is read from its
    // copy, the one file the server can open. They are copied beside it, and the plan that names
    // them is shown before anything is sent.
    const QStringList further = fileversion::furtherDataFiles(*ADOQuery1, plan.copies.first().path);
    if (further.isEmpty())
        return true;
    const QString mdf = planned.request.mdf;
    for (const QString& f : further)
        if (!QFileInfo(f).isFile()) {
            copies.clear();
            modal::messageDialog(QStringLiteral("Файл даних %1, який називає файл %2, не знайдено на цьому "
                                                "комп'ютері, тож копію бази даних не зроблено.\n"
                                                "Серверу нічого не надіслано.")
                                     .arg(f, mdf),
                                 DialogType::Error, {DialogButton::OK});
            return false;
        }
    const QString folder = QFileInfo(plan.copies.first().path).absolutePath();
    const QList<ops::FileCopy> all = ::planned(folder, further, plan.copies);
    const bool withLog = plan.copies.size() > 1;
    ops::Plan whole = ops::attach::ofCopies(
        planned, {planned.request.database, all[0].path, withLog ? all[1].path : QString()}, all);
    if (!modal::confirm(
            QStringLiteral("Файл %1 називає ще файли даних: %2. Скопіювати і їх і приєднати копію "
                           "бази даних з усіма її файлами?")
                .arg(mdf, further.join(QLatin1String(", "))),
            whole.shown())) {
        copies.clear();
        return false;
    }
    const QList<ops::FileCopy> added = all.mid(plan.copies.size());
    if (!roomFor(added)) {
        copies.clear();
        return false;
    }
    plan = whole;
    for (const ops::FileCopy& c : added)
        if (!copy(c))
            return false;
    return true;
}
