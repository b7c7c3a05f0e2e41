// The one database connection the window shares: an ODBC connection opened from a
// "Provider=...;Data Source=...;User ID=...;Password=..." string through the FreeTDS driver.
//
// Round trips (statements, the reconnect, USE) run on whatever thread waits for them, one thread
// at a time: each holds the connection (Hold) for as long as it talks to the server, so a round
// trip the window stopped waiting for finishes before the next one starts, and the next one waits
// for it on its own worker. The window's thread only looks (isOpen) and lets go (close), never
// waiting for a round trip: a link closed while another thread still holds it is freed when that
// thread lets go.
#pragma once

#include "DbError.h"

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <sql.h>
#include <sqlext.h>

class ConnectAttempt;

class AdoConnection : public std::enable_shared_from_this<AdoConnection> {
public:
    // Throws DbError ending in "Error creating object. ..." when ODBC or the driver is missing.
    AdoConnection();
    ~AdoConnection();
    AdoConnection(const AdoConnection&) = delete;
    AdoConnection& operator=(const AdoConnection&) = delete;

    void setConnectionString(const QString& text);
    QString connectionString() const;

    // A round trip in progress on the calling thread: while one lives, no other thread's round trip
    // starts (it waits in its own Hold). A thread may hold it more than once.
    class Hold {
    public:
        explicit Hold(AdoConnection& connection);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        AdoConnection& m_connection;
    };
    // What a job left running after its waiter gave up holds on to, so that the connection outlives
    // it; null when the connection is not owned by a shared pointer (its destructor then waits for
    // the round trip in progress).
    std::shared_ptr<AdoConnection> keepAlive() { return weak_from_this().lock(); }

    // A round trip: waits for the server (through the thread's waiter, see RoundTrip.h); throws
    // DbError when the login fails or the wait was given up.
    void open();
    // open() in two halves, for a caller that runs the login on a worker thread: beginOpen() closes
    // the connection and checks the settings (throws their refusal) on the caller's thread; the
    // attempt's run() blocks anywhere; finishOpen(), back on the caller's thread, takes the link or
    // throws the attempt's error. An attempt never finished owns its link and frees it itself.
    std::shared_ptr<ConnectAttempt> beginOpen();
    void finishOpen(ConnectAttempt& attempt);
    void close();
    // Told after every open and every close, whoever caused it: also when a statement finds the
    // link gone and closes the connection, or opens it again by itself. Never throws.
    void setOpenStateListener(std::function<void(bool open)> listener) {
        const std::lock_guard<std::mutex> lock(m_listenerMutex);
        m_openStateListener = std::move(listener);
    }
    bool isOpen() const;
    void ensureOpen() {
        if (!isOpen())
            open();
    }

    // Open: switched at once (a round trip). Closed: remembered and applied after every successful open.
    void setDefaultDatabase(const QString& name);
    QString defaultDatabase() const;

    static constexpr int CommandTimeoutSeconds = 1000;
    static constexpr int ConnectTimeoutSeconds = 15;
    static constexpr int IdleMillis = 2000; // after this long unused, reviveIfStale() probes the link

    // For tests, which must not wait out the defaults above; the program never calls these.
    void setLoginTimeoutForTests(int seconds);
    void setIdleMillisForTests(int millis);
    // How long a statement that changes nothing may keep the server silent before the driver
    // cancels it; statements that change something wait for the server however long it takes.
    // Settable so that tests need seconds, not minutes.
    void setCommandTimeout(int seconds);
    int commandTimeout() const;

    SQLHDBC handle() const;
    // The server's major version as it announced itself at login (8 for 2000, 15 for 2019), which
    // the version chosen for the protocol need not match; 0 while closed. Read once, at the login.
    int serverMajorVersion() const;
    // The link's TCP socket (the driver's; only to be looked at, never read or written); -1 when
    // not known.
    int linkSocket() const;
    // The statement handle every statement runs on, one after another (the statement object's, and
    // the connection's own USE and idle probe); allocated on first use and kept,
    // since allocating one costs the driver as much work as a short statement. Freed by close(),
    // before the connection. Null when the driver cannot allocate one.
    SQLHSTMT statementHandle();
    const QString& driverName() const { return m_driver; }
    // Called by the statement object when the driver reports the link as gone: closes the link the
    // statement ran on, unless the window has closed it meanwhile (and may have opened another,
    // which a statement it stopped waiting for must leave alone). Null: closes whatever is open.
    void dropBrokenLink(SQLHSTMT ranOn = nullptr);
    // Whether the driver knows the link to be gone.
    bool isDead() const;
    // Whether the server closes the link within millis of a reply. SQL Server ends the session
    // after an error of severity 20 or more (a database file too new for it, say) right after the
    // reply; the driver does not give the severity, nor notice the close before the next call.
    bool closedByServerWithin(int millis) const;
    // A connection may have lost its server meanwhile (a restart, say). Before a statement that
    // must not run twice, a link the server is seen to have closed is opened again at once (nothing
    // was sent on it), and an idle one is tested with a harmless statement and opened again when it
    // turns out to be gone.
    // Called inside a Hold, like statementHandle(), dropBrokenLink(), isDead() and
    // closedByServerWithin().
    void reviveIfStale();
    void markUsed();

private:
    // The handles of one open link.
    struct Link {
        SQLHDBC dbc = nullptr;
        SQLHSTMT stmt = nullptr;
        void free();
    };
    // open() itself, inside a Hold.
    void openHere();
    void useDatabase(const QString& name);
    void tellOpenState(bool open);
    // Frees the links closed while a round trip held them, when no other thread holds the connection.
    void freeRetiredIfFree();

    // Shared with the connect attempts made in it: one given up may still run after the connection is gone.
    std::shared_ptr<void> m_envOwner;
    SQLHENV m_env = nullptr;
    QString m_driver;

    std::recursive_mutex m_roundTrip; // held by a Hold
    // Guards everything below; held only for a moment, never while the driver waits for the server.
    mutable std::mutex m_state;
    SQLHDBC m_dbc = nullptr;
    SQLHSTMT m_stmt = nullptr;
    int m_socket = -1; // the link's TCP socket, owned by the driver; -1 when not known
    int m_serverMajor = 0;
    std::vector<Link> m_retired; // closed while another thread's round trip held them
    QString m_connectionString;
    QString m_defaultDatabase;
    QElapsedTimer m_lastUse;
    int m_loginTimeoutSeconds = ConnectTimeoutSeconds;
    int m_idleMillis = IdleMillis;
    int m_commandTimeout = CommandTimeoutSeconds;

    std::mutex m_listenerMutex; // held while the listener runs, so that it is never called after being replaced
    std::function<void(bool)> m_openStateListener;
};
