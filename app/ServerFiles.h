// What the server itself sees of its file system, asked through the one statement object: whether a
// path is there and is a file or a folder, which folder on the way to a path it cannot pass, its
// default folders and its platform. The server may run as another account, in a container or on
// another machine: only its own answers say what a statement naming a path will meet.
#pragma once

#include <QString>
#include <QStringList>

class AdoQuery;

namespace serverfiles {

enum class Platform { Windows, Linux };

// What the server says about one path; `answered` is false when it would not say (the procedure
// refused, or a login that is not sysadmin gets nothing but zeros back).
struct PathState {
    bool answered = false;
    bool exists = false;
    bool isFolder = false;
    bool parentExists = false;
};

struct DefaultFolders {
    QString data;
    QString log;
    QString backup; // empty where the server has no such setting
};

// The folders a path passes through, the root first, the path itself last: "/a/b/c.mdf" gives
// "/", "/a", "/a/b", "/a/b/c.mdf"; "C:\a\b.mdf" gives "C:\", "C:\a", "C:\a\b.mdf". Backslashes
// separate only on Windows; a path without a root gives just its own parts.
QStringList pathsOnTheWay(const QString& path, Platform platform);
// The last part of a path, either separator counting: a backup made on Windows names its files
// with backslashes whatever the server reading it runs on.
QString fileNameOf(const QString& path);
// The folder a path lies in, as the platform separates; empty for a path without one.
QString folderOf(const QString& path, Platform platform);
// A path that cannot belong to a server of that platform: a drive letter or a backslash on Linux.
bool foreignPath(const QString& path, Platform platform);
// A folder and a file name joined with the platform's separator, none doubled.
QString joined(const QString& folder, const QString& fileName, Platform platform);

class ServerFiles {
public:
    // majorVersion: the server's own (AdoConnection::serverMajorVersion), 8 for 2000.
    ServerFiles(AdoQuery& query, int majorVersion) : m_query(query), m_major(majorVersion) {}

    Platform platform();
    PathState state(const QString& path);
    // Whether the server answers about the path at all: it sees the path's root. A login that may
    // not ask gets zeros back for every path, the root included.
    bool answersAbout(const QString& path);
    // The folder the server cannot get past on the way to `path`: the deepest one it sees as a
    // folder, when the next part is not seen; empty when the path is seen or the server would not
    // answer for its root.
    QString lastSeenFolder(const QString& path);
    DefaultFolders defaultFolders();
    // Whether the server shares this computer's file system, told by a file this computer has just
    // made (`probe`): Yes when the server sees it; No when it does not although it answers about a
    // folder of its own (its default data folder, in its own path syntax: "C:\" means nothing to
    // a Linux server, nor "/" to a Windows one); Unknown when it answers about nothing (a login
    // that gets only zeros back, an older build).
    enum class Shared { Yes, No, Unknown };
    Shared sharesFilesWith(const QString& probe);

private:
    // One row of a function or procedure answering about a path; throws DbError.
    PathState ask(const QString& statement, const QStringList& columns);
    QString scalar(const QString& statement);

    AdoQuery& m_query;
    int m_major;
    bool m_platformKnown = false;
    Platform m_platform = Platform::Windows;
};

} // namespace serverfiles
