// Making and checking the folder the user and the server share (see SharedFolder.h).
#include "SharedFolder.h"

#include "AccountAccess.h"
#include "Journal.h"
#include "UserAclEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

QString myName() {
    return accountName(getuid());
}

// Every folder from "/" down to path's parent.
QStringList foldersOnTheWay(const QString& path) {
    QStringList out{QStringLiteral("/")};
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString folder;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        folder += QLatin1Char('/') + parts[i];
        out << folder;
    }
    return out;
}

void takeAllBack(QList<AclChange>& changes) {
    for (auto it = changes.rbegin(); it != changes.rend(); ++it)
        takeBack(*it, nullptr);
    changes.clear();
}

// Tries one place; on failure leaves nothing of its own behind and says why.
bool tryPlace(const QString& place, uid_t server, const QString& serverName, const ServerReaches& reaches,
              SharedFolder& result, QString* why) {
    const QByteArray native = QFile::encodeName(place);
    struct stat st {};
    bool made = false;
    if (lstat(native.constData(), &st) == 0) {
        // Somebody else's folder under our name (another local user's, made first on purpose or
        // not) is never used: what the server wrote there its owner could read or replace.
        if (!S_ISDIR(st.st_mode)) {
            *why = QStringLiteral("«%1» вже існує, але це не тека; Zelvaro її не використовує.").arg(place);
            return false;
        }
        if (st.st_uid != getuid()) {
            *why = QStringLiteral("Теку «%1» вже створив обліковий запис «%2», а не ви; Zelvaro нею не "
                                  "користується.")
                       .arg(place, accountName(st.st_uid));
            return false;
        }
    } else if (errno == ENOENT) {
        // Written down before it is made: an ended run's empty folder is removed at the next start.
        ops::JournalEntry entry;
        entry.kind = ops::JournalEntry::Kind::SharedFolder;
        entry.path = place;
        entry.account = serverName;
        if (!ops::journal().write(entry, why))
            return false;
        if (mkdir(native.constData(), 0700) != 0) {
            *why = QStringLiteral("Не вдалося створити «%1»: %2.")
                       .arg(place, QString::fromLocal8Bit(strerror(errno)));
            ops::journal().crossOut(entry.id);
            return false;
        }
        made = true;
    } else {
        *why = QStringLiteral("«%1»: %2.").arg(place, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const auto undo = [&] {
        takeAllBack(result.passThrough);
        if (made && rmdir(native.constData()) == 0)
            ops::journal().crossOutAt(place);
    };
    if (!shareNewFolder(place, getuid(), server, why)) {
        undo();
        return false;
    }
    const Account account = accountOf(server);
    for (const QString& folder : foldersOnTheWay(place)) {
        if (allows(folder, account, Access::Traverse))
            continue;
        struct stat fs {};
        if (stat(QFile::encodeName(folder).constData(), &fs) != 0 || fs.st_uid != getuid()) {
            *why = QStringLiteral(
                       "Обліковий запис сервера «%1» не може пройти через теку «%2», а змінити її права "
                       "може лише її власник.")
                       .arg(serverName, folder);
            undo();
            return false;
        }
        std::optional<AclChange> pass = addUserRights(folder, server, Access::Traverse, why);
        if (!pass) {
            undo();
            return false;
        }
        result.passThrough << *pass;
    }
    if (!reaches(place)) {
        *why = QStringLiteral("Сервер не бачить теку «%1».").arg(place);
        undo();
        return false;
    }
    return true;
}

} // namespace

QStringList sharedFolderPlaces() {
    const QString user = myName();
    return {QStringLiteral("/var/tmp/zelvaro-") + user, QStringLiteral("/srv/zelvaro-") + user};
}

QStringList lastingFolderPlaces() {
    return {sharedFolderPlaces().value(1)};
}

QString sharedFolderSudoCommand(const QString& serverName) {
    const QString user = myName();
    const QString folder = QStringLiteral("/srv/zelvaro-") + user;
    const QString inner =
        QStringLiteral("install -d -o %1 -m 0700 %2 && setfacl -m u:%3:rwx,d:u:%3:rwx,d:u:%1:rwx %2")
            .arg(shellQuoted(user), shellQuoted(folder), shellQuoted(serverName));
    return QStringLiteral("sudo sh -c ") + shellQuoted(inner);
}

SharedFolder prepareSharedFolder(uid_t server, const QString& serverName, const ServerReaches& reaches,
                                 const QStringList& places) {
    SharedFolder result;
    for (const QString& place : places) {
        QString why;
        if (tryPlace(place, server, serverName, reaches, result, &why)) {
            result.folder = place;
            return result;
        }
        result.problems << why;
    }
    result.sudoCommand = sharedFolderSudoCommand(serverName);
    return result;
}
