#include "RestoreChecks.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "ErrorAdvice.h"
#include "Plan.h"

#include <QLocale>
#include <QMap>
#include <QStringList>

namespace restorechecks {

namespace {

// Builds within one major and minor version restore each other's backups; a newer minor (2008 R2
// against 2008) or major cannot be read by the older server.
int compared(int major, int minor, const serverquestions::ServerVersion& v) {
    if (major != v.major)
        return major < v.major ? -1 : 1;
    if (minor != v.minor)
        return minor < v.minor ? -1 : 1;
    return 0;
}

QString serverCollation(AdoQuery& query) {
    query.close();
    query.setText(QStringLiteral("SELECT CAST(SERVERPROPERTY('Collation') AS nvarchar(128)) AS c"));
    query.openRowset();
    const QString c = query.firstColumn();
    query.close();
    return c;
}

} // namespace

QString humanSize(qint64 bytes) {
    static const char* const units[] = {"Б", "КБ", "МБ", "ГБ", "ТБ"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    const QLocale ukrainian(QLocale::Ukrainian, QLocale::Ukraine);
    return (unit == 0 ? QString::number(bytes) : ukrainian.toString(value, 'f', 1)) + QChar(0x00A0) +
           QString::fromUtf8(units[unit]);
}

QString serverName(int major, int minor, int build) {
    // As the servers name themselves in their messages: "15.00.2000".
    return erroradvice::productInText(QStringLiteral("%1.%2.%3")
                                          .arg(major)
                                          .arg(minor, 2, 10, QLatin1Char('0'))
                                          .arg(build, 4, 10, QLatin1Char('0')));
}

QString unreadableVersion(const QString& backup, int major, int minor, int build,
                          const serverquestions::ServerVersion& v) {
    if (major <= 0)
        return {};
    if (compared(major, minor, v) > 0)
        return QStringLiteral("Резервну копію %1 зроблено новішим сервером — %2, а цей сервер — %3. Новіший "
                              "формат цей сервер не прочитає: відновіть копію на сервері версії %2 або новішої.\n"
                              "Серверу нічого не надіслано.")
            .arg(backup, serverName(major, minor, build), serverName(v.major, v.minor, v.build));
    // From 2012 on a server upgrades nothing older than 2005: a 2000 backup goes through a server of
    // 2005 to 2008 R2 first.
    if (major < 9 && v.major >= 11)
        return QStringLiteral("Резервну копію %1 зроблено надто старим сервером — %2, а цей сервер — %3 "
                              "відновлює копії лише від SQL Server 2005. Відновіть її спершу на сервері версії "
                              "2005, 2008 або 2008 R2 і зробіть там нову копію.\nСерверу нічого не надіслано.")
            .arg(backup, serverName(major, minor, build), serverName(v.major, v.minor, v.build));
    return {};
}

QString upgraded(int major, int minor, int build, const serverquestions::ServerVersion& v) {
    if (major <= 0 || compared(major, minor, v) >= 0)
        return {};
    return QStringLiteral(
               "Копію зроблено старішим сервером — %1: під час відновлення сервер %2 оновить базу "
               "даних до своєї версії, і старіший сервер її вже не відкриє (сама копія не зміниться).")
        .arg(serverName(major, minor, build), serverName(v.major, v.minor, v.build));
}

QString otherCollation(const QString& backupCollation, const QString& serverCollation) {
    if (backupCollation.isEmpty() || serverCollation.isEmpty() ||
        backupCollation.compare(serverCollation, Qt::CaseInsensitive) == 0)
        return {};
    return QStringLiteral(
               "Порядок сортування (collation) бази даних у копії — %1, а сервера — %2: запити, що "
               "поєднують її дані з тимчасовими таблицями, можуть завершуватися помилкою 468 "
               "(конфлікт порядків сортування).")
        .arg(backupCollation, serverCollation);
}

void check(AdoQuery& query, const Server& server, ops::Plan& plan, const QList<Target>& targets,
           const Backup& backup) {
    const QString unreadable = unreadableVersion(backup.path, backup.major, backup.minor, backup.build, server.version);
    if (!unreadable.isEmpty()) {
        plan.stop = unreadable;
        return;
    }
    // What the user should know is told whatever the server says to the questions after it.
    const QString older = upgraded(backup.major, backup.minor, backup.build, server.version);
    if (!older.isEmpty())
        plan.findings << older;
    try {
        const QString collation = otherCollation(backup.collation, serverCollation(query));
        if (!collation.isEmpty())
            plan.findings << collation;
    } catch (const DbError&) {
    }
    // Express holds so much data per database and no more (1827 once the files are made).
    qint64 data = 0;
    for (const Target& t : targets)
        if (t.data)
            data += t.bytes;
    try {
        const serverquestions::Edition edition = serverquestions::edition(query, server.version);
        if (edition.express() && data > edition.capMB * 1024 * 1024) {
            plan.stop =
                QStringLiteral("Сервер %1 — редакція %2, у якій база даних може мати не більше %3 даних, а "
                               "файли даних цієї копії займають %4. Відновити її на цьому сервері не можна.\n"
                               "Серверу нічого не надіслано.")
                    .arg(plan.server, edition.name, humanSize(edition.capMB * 1024 * 1024), humanSize(data));
            return;
        }
    } catch (const DbError&) {
    }
    // Each folder's files against the room of its volume (3257 or 1101 after minutes of copying
    // otherwise). A file of the replaced database has its room already.
    QMap<QString, qint64> needed;
    QStringList folders;
    for (const Target& t : targets) {
        if (t.replacesOwnFile)
            continue;
        const QString folder = server.folderOf(t.path);
        if (!needed.contains(folder))
            folders << folder;
        needed[folder] += t.bytes;
    }
    QStringList short_;
    for (const QString& folder : folders) {
        qint64 free = -1;
        try {
            free = server.freeBytes(folder);
        } catch (const DbError&) {
        }
        if (free < 0)
            plan.findings << server.notChecked(folder, humanSize(needed[folder]));
        else if (needed[folder] > free)
            short_ << QStringLiteral("Для файлів бази даних у каталозі %1 потрібно %2, а вільно там лише %3.")
                          .arg(folder, humanSize(needed[folder]), humanSize(free));
    }
    if (!short_.isEmpty())
        plan.stop = short_.join(QLatin1Char('\n')) + QStringLiteral("\nСерверу нічого не надіслано.");
}

} // namespace restorechecks
