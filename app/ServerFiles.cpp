// Asking the server about its files: the statements each version knows.
#include "ServerFiles.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "SqlQuote.h"

#include <QRegularExpression>

namespace serverfiles {

namespace {

bool isSeparator(QChar c, Platform platform) {
    return c == QLatin1Char('/') || (platform == Platform::Windows && c == QLatin1Char('\\'));
}

// Where the root of a path ends (its length), 0 when it has none: "/", "C:\", "\\host\share\".
qsizetype rootLength(const QString& path, Platform platform) {
    if (platform == Platform::Windows) {
        static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]"));
        if (drive.match(path).hasMatch())
            return 3;
        if (path.startsWith(QLatin1String("\\\\"))) {
            // A share is the smallest thing a server can ask about on another machine.
            qsizetype seps = 0;
            for (qsizetype i = 2; i < path.size(); ++i)
                if (isSeparator(path[i], platform) && ++seps == 2)
                    return i + 1;
            return path.size();
        }
    }
    return !path.isEmpty() && isSeparator(path[0], platform) ? 1 : 0;
}

bool truth(const QString& cell) {
    return cell.trimmed() == QLatin1String("1");
}

} // namespace

QStringList pathsOnTheWay(const QString& path, Platform platform) {
    QStringList paths;
    const qsizetype root = rootLength(path, platform);
    if (root > 0)
        paths.append(path.left(root));
    for (qsizetype i = root; i < path.size(); ++i) {
        const bool last = i + 1 == path.size();
        if (isSeparator(path[i], platform) || last) {
            const qsizetype end = isSeparator(path[i], platform) ? i : i + 1;
            if (end > root && !isSeparator(path[end - 1], platform))
                paths.append(path.left(end));
        }
    }
    return paths;
}

QString folderOf(const QString& path, Platform platform) {
    const QStringList way = pathsOnTheWay(path, platform);
    return way.size() >= 2 ? way.at(way.size() - 2) : QString();
}

QString fileNameOf(const QString& path) {
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

bool foreignPath(const QString& path, Platform platform) {
    if (platform != Platform::Linux)
        return false;
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return path.contains(QLatin1Char('\\')) || drive.match(path).hasMatch();
}

QString joined(const QString& folder, const QString& fileName, Platform platform) {
    const QChar separator = platform == Platform::Windows && folder.contains(QLatin1Char('\\'))
                                ? QLatin1Char('\\')
                                : QLatin1Char('/');
    if (folder.isEmpty() || isSeparator(folder.back(), platform))
        return folder + fileName;
    return folder + separator + fileName;
}

Platform ServerFiles::platform() {
    if (m_platformKnown)
        return m_platform;
    QString answer;
    // 2017 names its platform; before it only @@VERSION tells a Linux server, and before 2017 every
    // server is Windows.
    if (m_major >= 14) {
        try {
            answer = scalar(QStringLiteral("SELECT host_platform FROM sys.dm_os_host_info"));
        } catch (const DbError&) {
        }
    }
    if (answer.isEmpty())
        answer = scalar(QStringLiteral("SELECT @@VERSION")).contains(QLatin1String("on Linux"))
                     ? QStringLiteral("Linux")
                     : QStringLiteral("Windows");
    m_platform = answer.trimmed().compare(QLatin1String("Linux"), Qt::CaseInsensitive) == 0 ? Platform::Linux
                                                                                           : Platform::Windows;
    m_platformKnown = true;
    return m_platform;
}

PathState ServerFiles::state(const QString& path) {
    if (m_major >= 14) {
        try {
            return ask(QLatin1String("SELECT file_exists, file_is_a_directory, parent_directory_exists FROM "
                                     "sys.dm_os_file_exists(") +
                           sqlquote::literal(path) + QLatin1Char(')'),
                       {QStringLiteral("file_exists"), QStringLiteral("file_is_a_directory"),
                        QStringLiteral("parent_directory_exists")});
        } catch (const DbError&) {
            // Not every build has the function: the procedure every version has answers the same.
        }
    }
    return ask(QLatin1String("EXEC master.dbo.xp_fileexist ") + sqlquote::literal(path),
               {QStringLiteral("File Exists"), QStringLiteral("File is a Directory"),
                QStringLiteral("Parent Directory Exists")});
}

bool ServerFiles::answersAbout(const QString& path) {
    const QStringList way = pathsOnTheWay(path, platform());
    if (way.isEmpty())
        return false;
    const PathState root = state(way.first());
    return root.answered && root.exists;
}

QString ServerFiles::lastSeenFolder(const QString& path) {
    QString seen;
    for (const QString& step : pathsOnTheWay(path, platform())) {
        const PathState s = state(step);
        if (!s.exists)
            return seen;
        if (!s.isFolder)
            return {};
        seen = step;
    }
    return {};
}

DefaultFolders ServerFiles::defaultFolders() {
    DefaultFolders folders;
    if (m_major >= 11) {
        folders.data = scalar(QStringLiteral("SELECT CAST(SERVERPROPERTY('InstanceDefaultDataPath') AS nvarchar(4000))"));
        folders.log = scalar(QStringLiteral("SELECT CAST(SERVERPROPERTY('InstanceDefaultLogPath') AS nvarchar(4000))"));
        try {
            // Unknown names give NULL on the versions without it.
            folders.backup =
                scalar(QStringLiteral("SELECT CAST(SERVERPROPERTY('InstanceDefaultBackupPath') AS nvarchar(4000))"));
        } catch (const DbError&) {
        }
    }
    if (folders.data.isEmpty()) {
        // Older servers keep new databases beside master's own files unless told otherwise.
        const QString master = scalar(
            m_major < 9 ? QStringLiteral("SELECT filename FROM master.dbo.sysaltfiles WHERE dbid = 1 AND fileid = 1")
                        : QStringLiteral("SELECT physical_name FROM sys.master_files WHERE database_id = 1 AND "
                                         "file_id = 1"));
        folders.data = folderOf(master, platform());
    }
    if (folders.log.isEmpty())
        folders.log = folders.data;
    return folders;
}

ServerFiles::Shared ServerFiles::sharesFilesWith(const QString& probe) {
    const PathState seen = state(probe);
    if (seen.answered && seen.exists)
        return Shared::Yes;
    // The server's own data folder is there for it whatever it runs on; its root is the smallest
    // thing it must answer about.
    const QString own = defaultFolders().data;
    if (!own.isEmpty() && answersAbout(own))
        return Shared::No;
    return Shared::Unknown;
}

PathState ServerFiles::ask(const QString& statement, const QStringList& columns) {
    m_query.close();
    m_query.setText(statement);
    m_query.openRowset();
    PathState s;
    if (!m_query.atEnd()) {
        s.answered = true;
        s.exists = truth(m_query.field(columns.at(0)));
        s.isFolder = truth(m_query.field(columns.at(1)));
        s.parentExists = truth(m_query.field(columns.at(2)));
        // A folder is there although the procedure answers "no file" for it.
        s.exists = s.exists || s.isFolder;
    }
    m_query.close();
    return s;
}

QString ServerFiles::scalar(const QString& statement) {
    m_query.close();
    m_query.setText(statement);
    m_query.openRowset();
    QString value = m_query.atEnd() ? QString() : m_query.firstColumn();
    m_query.close();
    // 2000 pads nchar columns with blanks.
    while (value.endsWith(QLatin1Char(' ')))
        value.chop(1);
    return value;
}

} // namespace serverfiles
