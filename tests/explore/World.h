// The world one explored session runs in: two stand-in servers (A, which the world restarts and
// misconfigures, and B, with databases of the same names), the user's files in a scratch folder,
// and what both hold at a moment, read from disk and through a connection of the explorer's own.
#pragma once

#include "DevServer.h"
#include "Holders.h"
#include "ServerReach.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace explore {

// How the servers compare database names: without case, trailing blanks ignored.
QString nameKey(const QString& name);

struct DbState {
    QString name;
    QStringList files; // physical paths, in file id order (the primary data file first)
    bool restoring = false;
    QString guid; // the database's own identity: another database of the same name has another
};

struct Snapshot {
    // Every user file (scratch folder; database, log and backup files in the data folders), by
    // path, with a digest of its bytes. The servers' own files (catalog, statement log) are not here.
    QMap<QString, QByteArray> files;
    // Per server (0 A, 1 B): its user databases by name in lower case (names compare without case).
    QList<QMap<QString, DbState>> servers;
    // Per server: how far its log of received statements had grown.
    QList<qint64> statementLogSize;
    // Who may do what in every folder of the user's (the scratch folder and all below it).
    QMap<QString, FolderAccess> folders;

    const DbState* database(int server, const QString& name) const;
};

// Who server A is: the user's own account, as in every other test; the account `nobody` with its
// data folder its own and the user's scratch folder closed to it (0700), as SQL Server on Linux
// runs as `mssql` beside a user's home; or a server in a file system of its own (its data folder
// is its root, as in a container), where none of the user's paths means anything.
enum class Variant { Plain, Nobody, Rooted };
Variant variantNamed(const QString& name);
QString nameOf(Variant variant);

class World {
public:
    World(int version, Variant variant);
    ~World();
    bool ready() const { return m_ready; }

    int version() const { return m_version; }
    Variant variant() const { return m_variant; }
    // @S is the scratch folder, @D server A's data folder, @E server B's; @R is the root of server
    // A's own file system as it names it ("/"), a folder that does not exist unless A is rooted.
    QString resolve(const QString& text) const;
    QString tokenized(const QString& path) const;
    // Where on this computer a path the server was given or reports lies.
    QString hostPath(int server, const QString& serverPath) const;
    // Whether a path this computer names lies in one of the world's own folders (scratch, either
    // server's data folder): what any step may touch without reaching into the machine itself.
    bool insideWorld(const QString& hostPath) const;
    // What the user types as the server name for server 0 (A), 1 (B) or 2 (nobody listens there).
    QString serverName(int server) const;
    // Which server a server name reaches; -1 for none of ours.
    int serverOf(const QString& serverName) const;

    Snapshot snapshot() const;
    // The statements server 0 or 1 received between two snapshots.
    QString statementsBetween(int server, const Snapshot& before, const Snapshot& after) const;

    // The world's own actions.
    void restartA(const QStringList& options);
    void cutConnections();
    // Server A stops answering (SIGSTOP) `delayMs` from now, while the next step runs, and goes on
    // `ms` later (SIGCONT), while the session goes on.
    void pauseA(int ms, int delayMs = 0);
    bool aStopped() const;
    // Another program opens `database` on server 0 or 1 and keeps it open.
    bool hold(int server, const QString& database);
    // How many of the other programs' sessions the servers ended since the last call (the holders
    // of a stopped server are asked later); false in `complete` when some could not be asked.
    int sessionsEnded(bool* complete = nullptr);
    // After the world's own step: the other programs connect again where the world broke their link.
    void reconnectHolders();
    QString holders() const { return m_holders.describe(); }
    // Whether server A reaches `path` (as this computer names it) as the statement needs it, when
    // it is somebody else (nobody, or in its own root); always true when it is the user.
    bool aReaches(const QString& path, Need need) const;
    // A small file system (a few MB) in the scratch folder, where the explorer may mount one.
    bool smallDisk() const { return !m_smallDisk.isEmpty(); }
    // One statement on a connection of the explorer's own; false when the server refused it.
    bool run(int server, const QString& statement);
    // The users of `database` on server 0 or 1 whose SID no login there has, as the server's own
    // sp_change_users_login 'Report' lists them ("dbo": an owner the server does not know); empty
    // when the server cannot say or is stopped.
    QStringList orphans(int server, const QString& database) const;
    QStringList lastOptions() const { return m_options; }
    bool aPaced() const { return !m_options.isEmpty(); }

private:
    void build();
    void mountSmallDisk();
    QString connectionString(int server) const;

    bool becomeNobody();
    bool becomeRooted();

    int m_version;
    Variant m_variant;
    QStringList m_base; // the options every start of server A has
    bool m_ready = false;
    QSet<QString> m_sharedBefore; // the shared folders' files before this world
    std::unique_ptr<DevServer> m_a;
    std::unique_ptr<DevServer> m_b;
    QStringList m_options;
    // The server goes on by itself, on a thread of its own: a window that waits for it on its
    // own thread must not keep it stopped.
    void resumeA();
    std::thread m_resumer;
    mutable std::mutex m_resumeLock;
    std::condition_variable m_resumeNow;
    bool m_stopped = false;
    std::chrono::steady_clock::time_point m_stoppedUntil;
    mutable Holders m_holders;
    QString m_smallDisk;
};

} // namespace explore
