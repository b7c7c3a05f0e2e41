// The lasting grant of an attached database's files where they lie (see AttachInPlace.h).
#include "AttachInPlace.h"

#include "AccountAccess.h"
#include "Journal.h"
#include "UserAclEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

bool ownedByMe(const QString& path) {
    struct stat st {};
    return stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_uid == geteuid();
}

const int kFileRights = Access::Read | Access::Write;

} // namespace

InPlaceOpening whatInPlaceOpens(const QStringList& files, uid_t server) {
    InPlaceOpening opening;
    const Account account = accountOf(server);
    const auto needs = [&](const QString& path, int bits, QStringList& into) {
        if (allows(path, account, bits) || into.contains(path))
            return;
        if (!ownedByMe(path) && opening.problem.isEmpty())
            opening.problem = QStringLiteral("Права доступу до «%1» може змінити лише її власник.").arg(path);
        into << path;
    };
    for (const QString& file : files) {
        const QString absolute = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
        QString folder;
        needs(QStringLiteral("/"), Access::Traverse, opening.folders);
        const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (int i = 0; i + 1 < parts.size(); ++i)
            needs(folder += QLatin1Char('/') + parts[i], Access::Traverse, opening.folders);
        needs(absolute, kFileRights, opening.files);
    }
    return opening;
}

QString inPlaceQuestion(const InPlaceOpening& opening, const QString& account, const QString& database) {
    QStringList lines;
    for (const QString& folder : opening.folders)
        lines << QStringLiteral("• %1: --x (лише прохід, без перегляду)").arg(folder);
    for (const QString& file : opening.files)
        lines << QStringLiteral("• %1: rw-").arg(file);
    return QStringLiteral("Серверу ніде зробити копію файлів, яка жила б, доки база даних приєднана. "
                          "Дозволити обліковому запису сервера «%1» користуватися файлами там, де вони "
                          "лежать, доки база даних %2 приєднана?\n%3\nЦі дозволи буде показано за "
                          "кнопкою «Відкрите для сервера…» і забрано, коли базу даних буде від'єднано "
                          "або видалено через Zelvaro.")
        .arg(account, database, lines.join(QLatin1Char('\n')));
}

bool grantInPlace(const InPlaceOpening& opening, uid_t server, const QString& instance, const QString& database,
                  QString* why) {
    QList<AclChange> made;
    const auto open = [&](const QString& path, int bits) {
        std::optional<AclChange> change = addUserRights(path, server, bits, why);
        if (!change)
            return false;
        if (change->changed) {
            made << *change;
            ops::journal().markLasting(change->journalId, instance, database);
        }
        return true;
    };
    bool all = true;
    for (const QString& folder : opening.folders)
        all = all && open(folder, Access::Traverse);
    for (const QString& file : opening.files)
        all = all && open(file, kFileRights);
    if (all)
        return true;
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        takeBack(*it, nullptr);
    return false;
}

void takeBackForDatabase(const QString& instance, const QString& database) {
    const QList<ops::JournalEntry> all = ops::journal().entries();
    QList<ops::JournalEntry> mine;
    for (const ops::JournalEntry& e : all)
        if (e.kind == ops::JournalEntry::Kind::AclGrant && e.lasting && e.server == instance &&
            e.database == database)
            mine << e;
    // Files before the folders they lie in.
    std::sort(mine.begin(), mine.end(),
              [](const ops::JournalEntry& a, const ops::JournalEntry& b) { return a.path.size() > b.path.size(); });
    for (const ops::JournalEntry& e : mine) {
        const auto stillNeeds = [&](const ops::JournalEntry& o) {
            return o.kind == ops::JournalEntry::Kind::AclGrant && o.lasting && o.id != e.id &&
                   !(o.server == instance && o.database == database) &&
                   o.path.startsWith(e.path == QLatin1String("/") ? e.path : e.path + QLatin1Char('/'));
        };
        const auto other = std::find_if(all.begin(), all.end(), stillNeeds);
        if (other != all.end()) // another attached database's files lie below: the way stays theirs
            ops::journal().markLasting(e.id, other->server, other->database);
        else if (takeBackJournalled(e.path, e.account, e.acl.added, e.acl.hadEntry, e.acl.maskBefore, nullptr))
            ops::journal().crossOut(e.id);
    }
}
