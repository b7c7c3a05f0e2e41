// What a backup asks the server (see BackupChecks.h).
#include "BackupChecks.h"

#include "AdoQuery.h"
#include "RestorePlan.h"
#include "DbError.h"
#include "SqlQuote.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QStorageInfo>

#include <sys/statvfs.h>

namespace ops::backuproom {

qint64 usedBytes(AdoQuery& query, const serverquestions::ServerVersion& v, const QString& database) {
    // Asked through the database's own catalog by a three-part name: the connection stays in the
    // database it is in (a USE would keep the database busy for a later detach or drop).
    // No database chosen: there is nothing to measure, and "[]" is no name the server takes (1038);
    // the backup statement meets the server's own answer to the empty name.
    if (database.isEmpty())
        return 0;
    const bool catalogViews = v.major >= 9;
    query.close();
    query.setText(
        catalogViews
            ? QStringLiteral("SELECT total_pages FROM %1.sys.allocation_units").arg(sqlquote::name(database))
            : QStringLiteral("SELECT indid, reserved FROM %1.dbo.sysindexes").arg(sqlquote::name(database)));
    query.openRowset();
    qint64 pages = 0;
    for (query.first(); !query.atEnd(); query.next()) {
        if (catalogViews) {
            pages += query.field(QStringLiteral("total_pages")).toLongLong();
            continue;
        }
        // The heap or clustered index (0, 1) and the text pages (255) hold every page a table
        // reserved; the other rows are its further indexes, counted in those already.
        const int indid = query.field(QStringLiteral("indid")).toInt();
        if (indid == 0 || indid == 1 || indid == 255)
            pages += query.field(QStringLiteral("reserved")).toLongLong();
    }
    query.close();
    return pages * 8192;
}

qint64 freeBytes(AdoQuery& query, const serverquestions::ServerVersion& v, const QString& folder,
                 bool sharesThisComputer) {
    if (sharesThisComputer) {
        struct statvfs vfs {};
        if (::statvfs(QFile::encodeName(folder).constData(), &vfs) == 0)
            return qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
    }
    return serverquestions::freeBytes(query, v, folder);
}

QString notChecked(const QString& folder, const QString& needed) {
    return QStringLiteral("Чи вистачить місця в каталозі %1 (потрібно %2), перевірити не вдалося: ні сервер, "
                          "ні цей комп'ютер не кажуть, скільки там вільно.")
        .arg(folder.isEmpty() ? QStringLiteral("сервера, у якому він створює файли без повного шляху")
                              : folder,
             needed);
}

Room check(AdoQuery& query, const QString& database, const QString& serverFolder, bool sharesThisComputer,
           const QString& localFolder) {
    qint64 needed = -1, free = -1;
    try {
        const serverquestions::ServerVersion v = serverquestions::version(query);
        needed = usedBytes(query, v, database);
        free = freeBytes(query, v, serverFolder, sharesThisComputer);
    } catch (const DbError&) {
        if (needed < 0)
            return {};
    }
    if (needed < 0)
        return {};
    Room room;
    if (free < 0)
        room.notChecked = notChecked(serverFolder, sizeText(needed));
    else if (free < needed)
        room.refusal = shortage(database, serverFolder, QStringLiteral("на сервері"), needed, free);
    if (!localFolder.isEmpty() && room.refusal.isEmpty()) {
        const QStorageInfo here(localFolder);
        if (here.isValid() && here.bytesAvailable() >= 0 && here.bytesAvailable() < needed)
            room.refusal = shortage(database, localFolder, QStringLiteral("на цьому комп'ютері"), needed,
                                    here.bytesAvailable());
    }
    return room;
}

QString sizeText(qint64 bytes) {
    const QLocale ukrainian(QLocale::Ukrainian);
    const double mb = double(bytes) / (1024.0 * 1024.0);
    if (mb >= 1024.0)
        return QStringLiteral("%1 ГБ").arg(ukrainian.toString(mb / 1024.0, 'f', 1));
    return QStringLiteral("%1 МБ").arg(ukrainian.toString(mb, 'f', 1));
}

QString shortage(const QString& database, const QString& folder, const QString& where, qint64 needed,
                 qint64 free) {
    return QStringLiteral("Для резервної копії бази даних %1 потрібно близько %2, а в каталозі %3 %4 "
                          "вільно лише %5.\nЗвільніть місце або виберіть інший каталог. Серверу нічого не "
                          "надіслано.")
        .arg(database, sizeText(needed), folder, where, sizeText(free));
}

} // namespace ops::backuproom

namespace ops::backuptarget {

namespace {
QString headerOnly(const QString& path) {
    return QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(path);
}

} // namespace

Held read(AdoQuery& query, const QString& path, bool exists, bool is2000) {
    Held held;
    if (!exists)
        return held;
    query.close();
    query.setText(headerOnly(path));
    try {
        query.openRowset();
    } catch (const DbError& e) {
        query.close();
        // 3241: the server finds no backup in what it read (3013 ends the statement); anything else
        // (3201, the file cannot be opened) leaves what is in it unknown.
        held.kind = Held::Kind::NoBackup;
        for (const DbError::Record& r : e.records())
            if (r.native != 3241 && r.native != 3013)
                held.kind = Held::Kind::Unreadable;
        if (e.records().isEmpty())
            held.kind = Held::Kind::Unreadable;
        return held;
    }
    for (query.first(); !query.atEnd(); query.next())
        held.sets.append({query.field(QStringLiteral("DatabaseName")),
                          is2000 ? QString() : query.field(QStringLiteral("FamilyGUID")),
                          query.field(QStringLiteral("BackupFinishDate"))});
    query.close();
    held.kind = held.sets.isEmpty() ? Held::Kind::NoBackup : Held::Kind::Sets;
    return held;
}

QString question(const QString& database, const QString& path, const Held& held,
                 const std::function<bool(const Set&)>& own) {
    const QString replaced =
        QStringLiteral("Копіювання бази даних %1 замінить увесь вміст цього файлу. Перезаписати його?")
            .arg(database);
    switch (held.kind) {
    case Held::Kind::Nothing:
        return {};
    case Held::Kind::NoBackup:
        return QStringLiteral(
                   "Файл %1 уже є, але це не резервна копія бази даних: сервер не знаходить у ньому "
                   "жодного набору резервної копії.\n")
                   .arg(path) +
               replaced;
    case Held::Kind::Unreadable:
        return QStringLiteral("Файл %1 уже є, але що в ньому, з'ясувати не вдалося: сервер не може його "
                              "прочитати.\n")
                   .arg(path) +
               replaced;
    case Held::Kind::Sets:
        break;
    }
    QStringList others;
    for (const Set& s : held.sets) {
        if (own(s))
            continue;
        const QString named = s.finishDate.isEmpty()
                                  ? s.database
                                  : QStringLiteral("%1 від %2").arg(s.database, restoreplan::shownDate(s.finishDate));
        if (!others.contains(named))
            others << named;
    }
    if (others.isEmpty())
        return {};
    return QStringLiteral("Файл %1 містить резервну копію іншої бази даних: %2.\n")
               .arg(path, others.join(QLatin1String(", "))) +
           replaced;
}

QString familyGuid(AdoQuery& query, const QString& name, bool is2000) {
    if (is2000)
        return {};
    query.close();
    query.setText(
        QLatin1String("SELECT family_guid FROM sys.database_recovery_status WHERE database_id = DB_ID(") +
        sqlquote::literal(name) + QLatin1Char(')'));
    query.openRowset();
    const QString family = query.atEnd() ? QString() : query.field(QStringLiteral("family_guid"));
    query.close();
    return family;
}

QString serverSpelling(AdoQuery& query, const QString& name) {
    query.close();
    query.setText(QLatin1String("SELECT name FROM master.dbo.sysdatabases WHERE name = ") +
                  sqlquote::literal(name));
    query.openRowset();
    const QString spelled = query.atEnd() ? QString() : query.field(QStringLiteral("name"));
    query.close();
    return spelled;
}

Sets sets(AdoQuery& query, const QString& file, bool is2000) {
    // The server's own answers that there is no set to read: no file (3201), not a backup or cut
    // short at its start (3241), and the statement's end that follows them (3013).
    static const QList<int> noSet = {3201, 3241, 3013};
    Sets found;
    query.close();
    query.setText(headerOnly(file));
    try {
        query.openRowset();
    } catch (const DbError& e) {
        query.close();
        if (e.records().isEmpty() || e.endedConnection())
            throw;
        for (const DbError::Record& r : e.records())
            if (!noSet.contains(r.native))
                throw;
        return found;
    }
    for (query.first(); !query.atEnd(); query.next()) {
        found.ids << (is2000 ? QStringList{query.field(QStringLiteral("Position")),
                                           query.field(QStringLiteral("BackupStartDate")),
                                           query.field(QStringLiteral("BackupFinishDate")),
                                           query.field(QStringLiteral("CheckpointLSN"))}
                                   .join(QLatin1Char('|'))
                             : query.field(QStringLiteral("BackupSetGUID")));
        found.databases << query.field(QStringLiteral("DatabaseName"));
    }
    query.close();
    return found;
}

bool written(AdoQuery& query, const QString& file, const QString& database, const Sets& before, bool is2000) {
    const Sets now = sets(query, file, is2000);
    for (int i = 0; i < now.ids.size(); ++i)
        if (!before.ids.contains(now.ids[i]) && now.databases[i].compare(database, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace ops::backuptarget
