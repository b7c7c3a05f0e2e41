// The world one explored session runs in: two stand-in servers (A, which the world restarts and
// misconfigures, and B, with databases of the same names), the user's files in a scratch folder,
// and what both hold at a moment, read from disk and through a connection of the explorer's own.
#pragma once

#include "DevServer.h"

#include <QMap>
#include <QString>
#include <QStringList>
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
};

struct Snapshot {
    // Every user file (scratch folder; database, log and backup files in the data folders), by
    // path, with a digest of its bytes. The servers' own files (catalog, statement log) are not here.
    QMap<QString, QByteArray> files;
    // Per server (0 A, 1 B): its user databases by name in lower case (names compare without case).
    QList<QMap<QString, DbState>> servers;
    // Per server: how far its log of received statements had grown.
    QList<qint64> statementLogSize;

    const DbState* database(int server, const QString& name) const;
};

// Who server A is: the user's own account, as in every other test, or the account `nobody` with
// its data folder its own and the user's scratch folder closed to it (0700), as SQL Server on
// Linux runs as `mssql` beside a user's home.
enum class Variant { Plain, Nobody };
Variant variantNamed(const QString& name);
QString nameOf(Variant variant);

class World {
public:
    World(int version, Variant variant);
    ~World();
    bool ready() const { return m_ready; }

    int version() const { return m_version; }
    Variant variant() const { return m_variant; }
    // @S is the scratch folder, @D server A's data folder, @E server B's.
    QString resolve(const QString& text) const;
    QString tokenized(const QString& path) const;
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
    // Server A stops answering (SIGSTOP) and goes on after `ms` (SIGCONT), while the session goes on.
    void pauseA(int ms);
    // One statement on a connection of the explorer's own; false when the server refused it.
    bool run(int server, const QString& statement);
    QStringList lastOptions() const { return m_options; }
    bool aPaced() const { return !m_options.isEmpty(); }

private:
    void build();
    QString connectionString(int server) const;

    bool becomeNobody();

    int m_version;
    Variant m_variant;
    QStringList m_base; // the options every start of server A has
    bool m_ready = false;
    std::unique_ptr<DevServer> m_a;
    std::unique_ptr<DevServer> m_b;
    QStringList m_options;
    // The server goes on by itself, on a thread of its own: a window that waits for it on its
    // own thread must not keep it stopped.
    void resumeA();
    std::thread m_resumer;
    std::mutex m_resumeLock;
    std::condition_variable m_resumeNow;
    bool m_stopped = false;
};

} // namespace explore
