// The backup's header and the server's listed database files (BackupHeader.h).
#include "BackupHeader.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "SqlQuote.h"

namespace ops::backupheader {

restoreplan::ChosenSet chosenSet(AdoQuery& query, const QString& backup, bool is2000) {
    query.close();
    query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(backup));
    query.openRowset();
    QList<restoreplan::BackupSet> sets;
    const bool identified = !is2000;
    for (query.first(); !query.atEnd(); query.next())
        sets.append({query.field(QStringLiteral("Position")).toInt(),
                     query.field(QStringLiteral("BackupType")).toInt(),
                     query.field(QStringLiteral("DatabaseName")),
                     query.field(QStringLiteral("BackupFinishDate")),
                     identified ? query.field(QStringLiteral("FamilyGUID")) : QString(),
                     identified ? query.field(QStringLiteral("BackupSetGUID")) : QString(),
                     query.field(QStringLiteral("SoftwareVersionMajor")).toInt(),
                     query.field(QStringLiteral("SoftwareVersionMinor")).toInt(),
                     query.field(QStringLiteral("SoftwareVersionBuild")).toInt(),
                     query.field(QStringLiteral("Collation")),
                     identified && query.field(QStringLiteral("HasBackupChecksums")).toInt() != 0});
    query.close();
    return restoreplan::chooseSet(backup, sets);
}

QHash<QString, QString> listedDatabaseFiles(AdoQuery& query, bool is2000) {
    QHash<QString, QString> listed;
    try {
        QHash<QString, QString> names;
        query.close();
        query.setText(QStringLiteral("SELECT name, dbid FROM master.dbo.sysdatabases"));
        query.openRowset();
        for (query.first(); !query.atEnd(); query.next())
            names.insert(query.field(QStringLiteral("dbid")), query.field(QStringLiteral("name")));
        query.close();
        query.setText(is2000 ? QStringLiteral("SELECT dbid, filename FROM master.dbo.sysaltfiles")
                             : QStringLiteral("SELECT database_id, physical_name FROM sys.master_files"));
        query.openRowset();
        for (query.first(); !query.atEnd(); query.next()) {
            // 2000 pads the name with blanks to its nchar(260) width.
            QString path = query.field(is2000 ? QStringLiteral("filename") : QStringLiteral("physical_name"));
            while (path.endsWith(QLatin1Char(' ')))
                path.chop(1);
            listed.insert(
                restoreplan::listedKey(path),
                names.value(query.field(is2000 ? QStringLiteral("dbid") : QStringLiteral("database_id"))));
        }
        query.close();
    } catch (const DbError&) {
        query.close();
    }
    return listed;
}

} // namespace ops::backupheader
