// The one database connection the window shares: an ODBC connection opened from a
// "Provider=...;Data Source=...;User ID=...;Password=..." string through the FreeTDS driver.
#pragma once

#include "DbError.h"

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>

#include <sql.h>
#include <sqlext.h>

class ConnectAttempt;

class AdoConnection {
public:
    // Throws DbError ending in "Error creating object. ..." when ODBC or the driver is missing.
    AdoConnection();
    ~AdoConnection();
    AdoConnection(const AdoConnection&) = delete;
    AdoConnection& operator=(const AdoConnection&) = delete;

    void setConnectionString(const QString& text) { m_connectionString = text; }
    const QString& connectionString() const { return m_connectionString; }

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
        m_openStateListener = std::move(listener);
    }
    bool isOpen() const { return m_dbc != nullptr; }
    void ensureOpen() {
        if (!isOpen())
            open();
    }

    // Open: switched at once. Closed: remembered and applied after every successful open.
    void setDefaultDatabase(const QString& name);
    const QString& defaultDatabase() const { return m_defaultDatabase; }

    static constexpr int CommandTimeoutSeconds = 1000;
    static constexpr int ConnectTimeoutSeconds = 15;
    static constexpr int IdleMillis = 2000; // after this long unused, reviveIfStale() probes the link

    // For tests, which must not wait out the defaults above; the program never calls these.
    void setLoginTimeoutForTests(int seconds) { m_loginTimeoutSeconds = seconds; }
    void setIdleMillisForTests(int millis) { m_idleMillis = millis; }
    // How long a statement that changes nothing may keep the server silent before the driver
    // cancels it; statements that change something wait for the server however long it takes.
    // Settable so that tests need seconds, not minutes.
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds; }
    int commandTimeout() const { return m_commandTimeout; }

    SQLHDBC handle() const { return m_dbc; }
    // The server's major version as it announced itself at login (8 for 2000, 15 for 2019), which
    // the version chosen for the protocol need not match; 0 while closed.
    int serverMajorVersion() const;
    // The link's TCP socket (the driver's; only to be looked at, never read or written); -1 when
    // not known.
    int linkSocket() const { return m_socket; }
    // The statement handle every statement runs on, one after another (the statement object's, and
    // the connection's own USE and idle probe); allocated on first use and kept,
    // since allocating one costs the driver as much work as a short statement. Freed by close(),
    // before the connection. Null when the driver cannot allocate one.
    SQLHSTMT statementHandle();
    const QString& driverName() const { return m_driver; }
    // Called by the statement object when the driver reports the link as gone.
    void dropBrokenLink();
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
    void reviveIfStale();
    void markUsed() { m_lastUse.start(); }

private:
    void useDatabase(const QString& name);

    // Shared with the connect attempts made in it: one given up may still run after the connection is gone.
    std::shared_ptr<void> m_envOwner;
    SQLHENV m_env = nullptr;
    SQLHDBC m_dbc = nullptr;
    SQLHSTMT m_stmt = nullptr;
    int m_socket = -1; // the link's TCP socket, owned by the driver; -1 when not known
    QString m_driver;
    QString m_connectionString;
    QString m_defaultDatabase;
    QElapsedTimer m_lastUse;
    int m_loginTimeoutSeconds = ConnectTimeoutSeconds;
    int m_idleMillis = IdleMillis;
    std::function<void(bool)> m_openStateListener;
    int m_commandTimeout = CommandTimeoutSeconds;
};
