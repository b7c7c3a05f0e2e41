// The checks an operation's plan makes with the server, and the texts it confirms and refuses with.
#include "OperationPlan.h"

#include <algorithm>


QString OperationPlan::defaultAccount() {
    return QStringLiteral("обліковий запис служби сервера");
}

void OperationPlan::askServer(serverfiles::ServerFiles& server) {
    for (PlannedFile& f : files) {
        if (f.reach != Reach::Unknown)
            continue; // asked already
        f.closedBy.clear();
        f.deniedByServer = false;
        // A file is read where it lies; a folder must be one to create files in; a backup's target
        // needs its folder, and may be there already (WITH INIT overwrites it).
        const bool folderNeeded = f.use != FileUse::Read;
        QString target = f.path;
        if (f.use == FileUse::Write)
            target = serverfiles::folderOf(f.path, server.platform());
        if (target.isEmpty())
            continue;
        const serverfiles::PathState s = server.state(target);
        if (!s.answered)
            continue;
        if (s.exists && s.isFolder == folderNeeded) {
            f.reach = Reach::Reached;
            continue;
        }
        // Not seen: the server says which folder it gets no further than, unless it sees not even
        // the root, which is what a login without the right to ask gets back.
        const QString seen = server.lastSeenFolder(target);
        if (seen.isEmpty())
            continue;
        f.reach = Reach::Refused;
        f.lastSeenFolder = seen;
        QString rest = target.mid(seen.size());
        while (rest.startsWith(QLatin1Char('/')) || rest.startsWith(QLatin1Char('\\')))
            rest.remove(0, 1);
        f.unseenPart = rest.section(QLatin1Char('/'), 0, 0).section(QLatin1Char('\\'), 0, 0);
        if (f.unseenPart.isEmpty())
            f.unseenPart = serverfiles::fileNameOf(target);
    }
}

bool OperationPlan::refused() const {
    for (const PlannedFile& f : files)
        if (f.reach == Reach::Refused)
            return true;
    return false;
}

QStringList OperationPlan::refusedPaths(FileUse use) const {
    QStringList paths;
    for (const PlannedFile& f : files)
        if (f.reach == Reach::Refused && f.use == use)
            paths << f.path;
    return paths;
}

bool OperationPlan::anyUnknown() const {
    for (const PlannedFile& f : files)
        if (f.reach == Reach::Unknown)
            return true;
    return false;
}

QString OperationPlan::refusal() const {
    QStringList lines;
    for (const PlannedFile& f : files) {
        if (f.reach != Reach::Refused)
            continue;
        if (f.deniedByServer) {
            lines << QStringLiteral("Сервер %1 бачить %2, але на попередню спробу відповів, що обліковому запису, "
                                    "від імені якого він працює (%3), заборонено доступ до %4 (помилка "
                                    "операційної системи 5). Та спроба нічого не змінила.")
                         .arg(server, f.path, serverAccount, f.closedBy);
            continue;
        }
        if (!f.closedBy.isEmpty()) {
            const QString may = f.use == FileUse::CreateIn ? QStringLiteral("створювати файли в каталозі %1")
                                : f.use == FileUse::Write  ? QStringLiteral("записати файл %1")
                                : kind == Kind::Attach     ? QStringLiteral("прочитати й змінювати файл %1")
                                                           : QStringLiteral("прочитати файл %1");
            lines << QStringLiteral("Сервер %1 бачить %2, але права доступу до %3 не дозволяють обліковому "
                                    "запису, від імені якого працює сервер (%4), %5.")
                         .arg(server, f.path, f.closedBy, serverAccount, may.arg(f.path));
            continue;
        }
        switch (f.use) {
        case FileUse::Read:
            lines << QStringLiteral("Сервер %1 не може прочитати файл %2.").arg(server, f.path);
            break;
        case FileUse::CreateIn:
            lines << QStringLiteral("Сервер %1 не може створити файли в каталозі %2.").arg(server, f.path);
            break;
        case FileUse::Write:
            lines << QStringLiteral("Сервер %1 не може записати файл %2.").arg(server, f.path);
            break;
        }
        lines << QStringLiteral("Сервер бачить каталог %1, але не бачить у ньому %2: %2 там немає, або "
                                "каталог %1 закритий для облікового запису, від імені якого працює "
                                "сервер (%3).")
                     .arg(f.lastSeenFolder, f.unseenPart, serverAccount);
    }
    if (lines.isEmpty())
        return {};
    const bool triedBefore =
        std::any_of(files.begin(), files.end(), [](const PlannedFile& f) { return f.deniedByServer; });
    lines << (triedBefore ? QStringLiteral("Більше серверу нічого не надіслано.")
                          : QStringLiteral("Серверу нічого не надіслано."));
    return lines.join(QLatin1Char('\n'));
}

QString OperationPlan::restoreConfirmation() const {
    if (othersFiles.isEmpty())
        return {};
    return QStringLiteral("Відновлення бази даних %1 на сервері %2 запише поверх файлів, які їй не "
                          "належать:\n%3\nПерезаписати ці файли?")
        .arg(database, server, othersFiles.join(QLatin1Char('\n')));
}

QString OperationPlan::confirmation() const {
    QStringList parts = findings;
    if (!question.isEmpty())
        parts << question;
    const QString overwrite = restoreConfirmation();
    if (!overwrite.isEmpty())
        parts << overwrite;
    // Findings alone still need a question to answer.
    if (!parts.isEmpty() && question.isEmpty() && overwrite.isEmpty())
        parts << QStringLiteral("Продовжити?");
    return parts.join(QLatin1Char('\n'));
}

QString OperationPlan::shownStatements() const {
    return statements.join(QLatin1Char('\n'));
}
