// The room a backup needs against the room its folder has (see BackupRoom.h).
#include "BackupRoom.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "FolderRoom.h"
#include "SqlQuote.h"

#include <QLocale>
#include <QStorageInfo>

namespace backuproom {

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

Room check(AdoQuery& query, const QString& database, const QString& serverFolder, bool sharesThisComputer,
           const QString& localFolder) {
    qint64 needed = -1, free = -1;
    try {
        const serverquestions::ServerVersion v = serverquestions::version(query);
        needed = usedBytes(query, v, database);
        free = folderroom::freeBytes(query, v, serverFolder, sharesThisComputer);
    } catch (const DbError&) {
        if (needed < 0)
            return {};
    }
    if (needed < 0)
        return {};
    Room room;
    if (free < 0)
        room.notChecked = folderroom::notChecked(serverFolder, sizeText(needed));
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

} // namespace backuproom
