#include "ServerQuestions.h"

#include "AdoQuery.h"
#include "SqlQuote.h"

#include <QStringList>

#include <algorithm>

namespace serverquestions {

namespace {

// The server's own sessions have ids of 50 and below on every version before dm_exec_sessions
// could say so itself (is_user_process).
constexpr int kLastSystemSession = 50;

int ownSession(AdoQuery& query) {
    query.close();
    query.setText(QStringLiteral("SELECT @@SPID AS spid"));
    query.openRowset();
    const int id = query.firstColumn().toInt();
    query.close();
    return id;
}

// Windows paths compare without case; both separators count.
QString comparable(QString path) {
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool drive = path.size() >= 2 && path[1] == QLatin1Char(':');
    if (drive)
        path = path.toLower();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')) && !(drive && path.size() == 3))
        path.chop(1);
    return path;
}

QString folderOf(const QString& file) {
    const QString path = comparable(file);
    const int slash = int(path.lastIndexOf(QLatin1Char('/')));
    return slash <= 0 ? path.left(1) : slash == 2 && path[1] == QLatin1Char(':') ? path.left(3) : path.left(slash);
}

// How many leading path components two folders share.
int sharedDepth(const QString& a, const QString& b) {
    const QStringList x = a.split(QLatin1Char('/'));
    const QStringList y = b.split(QLatin1Char('/'));
    int n = 0;
    while (n < x.size() && n < y.size() && x[n] == y[n])
        ++n;
    return n;
}

// Whether `folder` lies on or below `root` ("/" or "c:/").
bool within(const QString& folder, const QString& root) {
    return root == QLatin1String("/") || folder == root ||
           folder.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}

qint64 volumeFree(AdoQuery& query, int databaseId, int fileId) {
    query.close();
    query.setText(QStringLiteral("SELECT available_bytes FROM sys.dm_os_volume_stats(%1, %2)")
                      .arg(databaseId)
                      .arg(fileId));
    query.openRowset();
    const qint64 free = query.rowCount() > 0 ? query.firstColumn().toLongLong() : -1;
    query.close();
    return free;
}

} // namespace

ServerVersion version(AdoQuery& query) {
    query.close();
    query.setText(QStringLiteral("SELECT CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128)) AS v"));
    query.openRowset();
    const QStringList parts = query.firstColumn().split(QLatin1Char('.'));
    query.close();
    ServerVersion v;
    v.major = parts.value(0).toInt();
    v.minor = parts.value(1).toInt();
    v.build = parts.value(2).toInt();
    return v;
}

QList<Session> othersUsing(AdoQuery& query, const ServerVersion& v, const QString& database) {
    const int self = ownSession(query);
    const bool sessionsView = v.major >= 11; // database_id came to sys.dm_exec_sessions with 2012
    query.setText(sessionsView ? QStringLiteral("SELECT session_id, login_name, host_name, program_name, "
                                                "is_user_process FROM sys.dm_exec_sessions WHERE database_id = "
                                                "DB_ID(%1)")
                                     .arg(sqlquote::literal(database))
                               : QStringLiteral("SELECT spid, loginame, hostname, program_name FROM "
                                                "master..sysprocesses WHERE dbid = DB_ID(%1)")
                                     .arg(sqlquote::literal(database)));
    query.openRowset();
    QList<Session> others;
    for (query.first(); !query.atEnd(); query.next()) {
        Session s;
        s.id = query.field(sessionsView ? QStringLiteral("session_id") : QStringLiteral("spid")).toInt();
        const bool user = sessionsView ? query.field(QStringLiteral("is_user_process")).toInt() != 0
                                       : s.id > kLastSystemSession;
        if (!user || s.id == self)
            continue;
        // sysprocesses' columns are nchar(128): padded with spaces.
        s.login = query.field(sessionsView ? QStringLiteral("login_name") : QStringLiteral("loginame")).trimmed();
        s.host = query.field(sessionsView ? QStringLiteral("host_name") : QStringLiteral("hostname")).trimmed();
        s.program = query.field(QStringLiteral("program_name")).trimmed();
        others.append(s);
    }
    query.close();
    return others;
}

qint64 expressCapMB(const ServerVersion& v) {
    if (v.major <= 8)
        return 2048;
    if (v.major == 9 || (v.major == 10 && v.minor < 50))
        return 4096;
    return v.major < 17 ? 10240 : 51200;
}

Edition edition(AdoQuery& query, const ServerVersion& v) {
    query.close();
    query.setText(QStringLiteral("SELECT CAST(SERVERPROPERTY('EngineEdition') AS int) AS engine_edition, "
                                 "CAST(SERVERPROPERTY('Edition') AS nvarchar(128)) AS edition"));
    query.openRowset();
    Edition e;
    e.engineEdition = query.field(QStringLiteral("engine_edition")).toInt();
    e.name = query.field(QStringLiteral("edition"));
    query.close();
    // 2000's Desktop Engine (MSDE) says 1, which it shares with the Personal Edition.
    const bool express = e.engineEdition == 4 ||
                         (v.major <= 8 && e.name.startsWith(QLatin1String("Desktop Engine"), Qt::CaseInsensitive));
    e.capMB = express ? expressCapMB(v) : 0;
    return e;
}

qint64 freeBytes(AdoQuery& query, const ServerVersion& v, const QString& folder) {
    const QString target = comparable(folder);
    const bool volumeStats = v.atLeast(10, 50, 2500); // 2008 R2 SP1 has sys.dm_os_volume_stats
    struct File {
        int databaseId, fileId;
        int depth;
    };
    QList<File> files;
    if (volumeStats) {
        query.close();
        query.setText(QStringLiteral("SELECT database_id, file_id, physical_name FROM sys.master_files"));
        query.openRowset();
        for (query.first(); !query.atEnd(); query.next()) {
            const QString there = folderOf(query.field(QStringLiteral("physical_name")));
            files.append({query.field(QStringLiteral("database_id")).toInt(),
                          query.field(QStringLiteral("file_id")).toInt(),
                          there == target ? 1000 : sharedDepth(there, target)});
        }
        query.close();
        std::stable_sort(files.begin(), files.end(), [](const File& a, const File& b) { return a.depth > b.depth; });
        if (!files.isEmpty() && files.first().depth == 1000) {
            const qint64 free = volumeFree(query, files.first().databaseId, files.first().fileId);
            if (free >= 0)
                return free;
        }
    }
    if (v.atLeast(14, 0, 3006)) { // 2017 CU1
        query.close();
        query.setText(QStringLiteral("SELECT fixed_drive_path, free_space_in_bytes FROM sys.dm_os_enumerate_fixed_drives"));
        query.openRowset();
        qint64 free = -1;
        int longest = -1;
        for (query.first(); !query.atEnd(); query.next()) {
            const QString root = comparable(query.field(QStringLiteral("fixed_drive_path")));
            // A drive letter is a volume; "/" of a Linux server is only the root's, and any folder
            // below it may be a disk of its own.
            const bool driveRoot = root.size() >= 2 && root[1] == QLatin1Char(':');
            if ((driveRoot ? within(target, root) : target == root) && root.size() > longest) {
                longest = int(root.size());
                free = query.field(QStringLiteral("free_space_in_bytes")).toLongLong();
            }
        }
        query.close();
        if (free >= 0)
            return free;
    }
    // A file on the same drive is on its volume; sharing the first folders of a Linux path says
    // nothing (the folder may be a disk mounted there).
    const bool drive = target.size() >= 2 && target[1] == QLatin1Char(':');
    if (drive && !files.isEmpty() && files.first().depth >= 1) {
        const qint64 free = volumeFree(query, files.first().databaseId, files.first().fileId);
        if (free >= 0)
            return free;
    }
    // xp_fixeddrives: MB free per drive letter, SQL Server on Windows only (before 2017 all of them).
    if (drive && v.major <= 13) {
        query.close();
        query.setText(QStringLiteral("EXEC master.dbo.xp_fixeddrives"));
        query.openRowset();
        qint64 free = -1;
        for (query.first(); !query.atEnd(); query.next())
            if (query.field(QStringLiteral("drive")).compare(target.left(1), Qt::CaseInsensitive) == 0)
                free = query.field(QStringLiteral("MB free")).toLongLong() * 1024 * 1024;
        query.close();
        return free;
    }
    return -1;
}

BackupHeader backupHeader(AdoQuery& query, const ServerVersion& v, const QString& file, int position) {
    query.close();
    query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(file));
    query.openRowset();
    BackupHeader h;
    for (query.first(); !query.atEnd(); query.next()) {
        if (position > 0 && query.field(QStringLiteral("Position")).toInt() != position)
            continue;
        h.database = query.field(QStringLiteral("DatabaseName"));
        h.major = query.field(QStringLiteral("SoftwareVersionMajor")).toInt();
        h.minor = query.field(QStringLiteral("SoftwareVersionMinor")).toInt();
        h.build = query.field(QStringLiteral("SoftwareVersionBuild")).toInt();
        h.databaseVersion = query.field(QStringLiteral("DatabaseVersion")).toInt();
        h.collation = query.field(QStringLiteral("Collation"));
        if (v.major >= 9)
            h.familyGuid = query.field(QStringLiteral("FamilyGUID"));
        break;
    }
    query.close();
    return h;
}

} // namespace serverquestions
