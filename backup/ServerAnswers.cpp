#include "ServerAnswers.h"

#include "AdoQuery.h"
#include "SqlQuote.h"

#include <QRegularExpression>

namespace backupcmd {
namespace {

struct PathState {
    bool answered = false;
    bool exists = false;
    bool isFolder = false;
};

// 2000 pads some header columns with blanks; SQL Server ignores trailing blanks in names anyway.
QString withoutTrailingBlanks(QString text) {
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

bool truth(const QString& cell) {
    return cell.trimmed() == QLatin1String("1");
}

PathState ask(AdoQuery& query, const QString& statement, const char* existsColumn, const char* folderColumn) {
    query.close();
    query.setText(statement);
    query.openRowset();
    PathState s;
    if (!query.atEnd()) {
        s.answered = true;
        s.isFolder = truth(query.field(QLatin1String(folderColumn)));
        s.exists = truth(query.field(QLatin1String(existsColumn))) || s.isFolder;
    }
    query.close();
    return s;
}

PathState pathState(AdoQuery& query, int majorVersion, const QString& path) {
    if (majorVersion >= 14) {
        try {
            return ask(query,
                       QLatin1String("SELECT file_exists, file_is_a_directory FROM sys.dm_os_file_exists(") +
                           sqlquote::literal(path) + QLatin1Char(')'),
                       "file_exists", "file_is_a_directory");
        } catch (const DbError&) {
            // Not every build has the function; the procedure every version has answers the same.
        }
    }
    return ask(query, QLatin1String("EXEC master.dbo.xp_fileexist ") + sqlquote::literal(path), "File Exists",
               "File is a Directory");
}

// The server's word that the file is not there: "Operating system error 2(…)" on Windows and Linux
// alike (2000: "… error = 2(…)").
bool saysNoSuchFile(const DbError& e) {
    static const QRegularExpression notFound(QStringLiteral("error\\s*=?\\s*2\\s*\\("));
    return notFound.match(e.message()).hasMatch();
}

} // namespace

QString serverSpelling(AdoQuery& query, int majorVersion, const QString& asked) {
    query.close();
    query.setText(QLatin1String(majorVersion >= 9
                                    ? "SELECT name FROM sys.databases WHERE name = "
                                    : "SELECT name FROM master.dbo.sysdatabases WHERE name = ") +
                  sqlquote::literal(asked));
    query.openRowset();
    QString name;
    for (query.first(); !query.atEnd(); query.next())
        if (name.isEmpty() || query.firstColumn() == asked)
            name = query.firstColumn();
    query.close();
    return name;
}

Qt::CaseSensitivity nameComparison(AdoQuery& query) {
    query.close();
    query.setText(QStringLiteral("SELECT CAST(SERVERPROPERTY('Collation') AS nvarchar(128))"));
    query.openRowset();
    const QString collation = query.atEnd() ? QString() : query.firstColumn();
    query.close();
    return collation.contains(QLatin1String("_CS"), Qt::CaseInsensitive) ||
                   collation.contains(QLatin1String("_BIN"), Qt::CaseInsensitive)
               ? Qt::CaseSensitive
               : Qt::CaseInsensitive;
}

Taken takenForServer(AdoQuery& query, int majorVersion, const QString& folder, const QString& path) {
    const PathState file = pathState(query, majorVersion, path);
    if (file.exists)
        return Taken::Yes;
    if (file.answered && pathState(query, majorVersion, folder).isFolder)
        return Taken::No;
    try {
        setsIn(query, path);
        return Taken::Yes;
    } catch (const DbError& e) {
        query.close();
        return saysNoSuchFile(e) ? Taken::No : Taken::Unknown;
    }
}

QList<SetHeader> setsIn(AdoQuery& query, const QString& path) {
    query.close();
    query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(path));
    query.openRowset();
    QList<SetHeader> sets;
    for (query.first(); !query.atEnd(); query.next()) {
        // "2026-12-08 02:00:41.000" as the driver writes a datetime.
        QString finished = withoutTrailingBlanks(query.field(QStringLiteral("BackupFinishDate")));
        finished.replace(QLatin1Char(' '), QLatin1Char('T'));
        sets.append({withoutTrailingBlanks(query.field(QStringLiteral("DatabaseName"))),
                     QDateTime::fromString(finished, Qt::ISODateWithMs)});
    }
    query.close();
    return sets;
}

} // namespace backupcmd
