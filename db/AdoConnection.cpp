#include "AdoConnection.h"

#include "ConnectAttempt.h"
#include "ConnectionString.h"
#include "LinkSocket.h"
#include "OdbcDiagnostics.h"
#include "RoundTrip.h"
#include "ServerError.h"
#include "SqlQuote.h"

#include <QFileInfo>

#include <optional>

namespace {

const char* const kMissingClient =
    "Error creating object.  Please verify that unixODBC and the FreeTDS ODBC driver have been "
    "properly installed";

// The driver by its registered name when the driver manager knows it, else by its library path.
QString findFreeTdsDriver(SQLHENV env) {
    SQLWCHAR description[256];
    SQLWCHAR attributes[1024];
    SQLSMALLINT dl = 0, al = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDriversW(env, direction, description, 256, &dl, attributes, 1024, &al))) {
        direction = SQL_FETCH_NEXT;
        const QString name = odbcdiag::fromWide(description);
        if (name.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0)
            return name;
    }
    for (const char* path :
         {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so", "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
          "/usr/lib/odbc/libtdsodbc.so", "/usr/local/lib/libtdsodbc.so"}) {
        if (QFileInfo::exists(QString::fromLatin1(path)))
            return QString::fromLatin1(path);
    }
    return {};
}

[[noreturn]] void throwFrom(SQLSMALLINT type, SQLHANDLE handle, const QString& fallback) {
    throw servererror::fromRecords(odbcdiag::read(type, handle), fallback);
}

} // namespace

AdoConnection::AdoConnection() {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env)) ||
        !SQL_SUCCEEDED(
            SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
        if (m_env)
            SQLFreeHandle(SQL_HANDLE_ENV, m_env);
        m_env = nullptr;
        throw DbError(QString::fromLatin1(kMissingClient));
    }
    m_envOwner = std::shared_ptr<void>(m_env, [](void* env) { SQLFreeHandle(SQL_HANDLE_ENV, env); });
    m_driver = findFreeTdsDriver(m_env);
    if (m_driver.isEmpty())
        throw DbError(QString::fromLatin1(kMissingClient));
}

AdoConnection::~AdoConnection() {
    // Owned by a shared pointer, nothing holds it any more; otherwise a round trip left running by
    // a given-up wait still does, and is waited for.
    const std::lock_guard<std::recursive_mutex> held(m_roundTrip);
    close();
}

AdoConnection::Hold::Hold(AdoConnection& connection) : m_connection(connection) {
    m_connection.m_roundTrip.lock();
}

AdoConnection::Hold::~Hold() {
    m_connection.m_roundTrip.unlock();
    m_connection.freeRetiredIfFree();
}

void AdoConnection::Link::free() {
    if (stmt)
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

void AdoConnection::freeRetiredIfFree() {
    for (;;) {
        std::vector<Link> retired;
        {
            const std::lock_guard<std::mutex> lock(m_state);
            if (m_retired.empty())
                return;
        }
        if (!m_roundTrip.try_lock())
            return; // the thread holding it frees them as it lets go
        {
            const std::lock_guard<std::mutex> lock(m_state);
            retired.swap(m_retired);
        }
        for (Link& link : retired)
            link.free();
        m_roundTrip.unlock();
    }
}

void AdoConnection::tellOpenState(bool open) {
    const std::lock_guard<std::mutex> lock(m_listenerMutex);
    if (m_openStateListener)
        m_openStateListener(open);
}

void AdoConnection::setConnectionString(const QString& text) {
    const std::lock_guard<std::mutex> lock(m_state);
    m_connectionString = text;
}

QString AdoConnection::connectionString() const {
    const std::lock_guard<std::mutex> lock(m_state);
    return m_connectionString;
}

QString AdoConnection::defaultDatabase() const {
    const std::lock_guard<std::mutex> lock(m_state);
    return m_defaultDatabase;
}

void AdoConnection::setLoginTimeoutForTests(int seconds) {
    const std::lock_guard<std::mutex> lock(m_state);
    m_loginTimeoutSeconds = seconds;
}

void AdoConnection::setIdleMillisForTests(int millis) {
    const std::lock_guard<std::mutex> lock(m_state);
    m_idleMillis = millis;
}

void AdoConnection::setCommandTimeout(int seconds) {
    const std::lock_guard<std::mutex> lock(m_state);
    m_commandTimeout = seconds;
}

int AdoConnection::commandTimeout() const {
    const std::lock_guard<std::mutex> lock(m_state);
    return m_commandTimeout;
}

bool AdoConnection::isOpen() const {
    const std::lock_guard<std::mutex> lock(m_state);
    return m_dbc != nullptr;
}

SQLHDBC AdoConnection::handle() const {
    const std::lock_guard<std::mutex> lock(m_state);
    return m_dbc;
}

int AdoConnection::linkSocket() const {
    const std::lock_guard<std::mutex> lock(m_state);
    return m_socket;
}

int AdoConnection::serverMajorVersion() const {
    const std::lock_guard<std::mutex> lock(m_state);
    return m_serverMajor;
}

void AdoConnection::markUsed() {
    const std::lock_guard<std::mutex> lock(m_state);
    m_lastUse.start();
}

void AdoConnection::open() {
    const std::shared_ptr<AdoConnection> alive = keepAlive();
    AdoConnection* const self = this;
    auto failure = std::make_shared<std::optional<DbError>>();
    const bool ended = roundtrip::run([alive, self, failure] {
        try {
            const Hold held(*self);
            self->openHere();
        } catch (const DbError& e) {
            *failure = e;
        }
    });
    if (!ended)
        throw roundtrip::givenUp();
    if (*failure)
        throw **failure;
}

void AdoConnection::openHere() {
    const std::shared_ptr<ConnectAttempt> attempt = beginOpen();
    attempt->run();
    finishOpen(*attempt);
}

std::shared_ptr<ConnectAttempt> AdoConnection::beginOpen() {
    close();
    QString text, database;
    int loginTimeout = 0;
    {
        const std::lock_guard<std::mutex> lock(m_state);
        text = m_connectionString;
        database = m_defaultDatabase;
        loginTimeout = m_loginTimeoutSeconds;
    }
    const connstr::Settings settings = connstr::parse(text);
    // A value the driver would cut short logs in as someone else or fails as a wrong login.
    if (const QString refused = connstr::refusal(settings); !refused.isEmpty())
        throw DbError(refused);
    return std::make_shared<ConnectAttempt>(m_envOwner, connstr::toOdbc(settings, m_driver, QString()),
                                            loginTimeout, database);
}

namespace {
// The server's major version as it announced itself at login: "08.00.2039" gives 8.
int majorVersionOf(SQLHDBC dbc) {
    SQLWCHAR version[64] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DBMS_VER, version, SQLSMALLINT(sizeof version), &length)))
        return 0;
    return odbcdiag::fromWide(version).section(QLatin1Char('.'), 0, 0).toInt();
}
} // namespace

void AdoConnection::finishOpen(ConnectAttempt& attempt) {
    close();
    if (!attempt.succeeded())
        throw attempt.error();
    const ConnectAttempt::Link link = attempt.take();
    // Nobody else knows the link yet: asked before it is handed out.
    const int major = majorVersionOf(link.dbc);
    {
        const std::lock_guard<std::mutex> lock(m_state);
        m_dbc = link.dbc;
        m_stmt = link.stmt;
        m_socket = link.socket;
        m_serverMajor = major;
        m_lastUse.start();
    }
    tellOpenState(true);
}

void AdoConnection::close() {
    {
        const std::lock_guard<std::mutex> lock(m_state);
        if (!m_dbc)
            return;
        m_retired.push_back(Link{m_dbc, m_stmt});
        m_dbc = nullptr;
        m_stmt = nullptr;
        m_socket = -1;
        m_serverMajor = 0;
    }
    freeRetiredIfFree();
    tellOpenState(false);
}

SQLHSTMT AdoConnection::statementHandle() {
    const std::lock_guard<std::mutex> lock(m_state);
    if (!m_stmt && m_dbc && !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &m_stmt)))
        m_stmt = nullptr;
    return m_stmt;
}

void AdoConnection::dropBrokenLink(SQLHSTMT ranOn) {
    {
        const std::lock_guard<std::mutex> lock(m_state);
        if (ranOn && ranOn != m_stmt)
            return;
    }
    close();
}

void AdoConnection::reviveIfStale() {
    SQLHDBC dbc = nullptr;
    int socket = -1;
    bool recent = false;
    {
        const std::lock_guard<std::mutex> lock(m_state);
        dbc = m_dbc;
        socket = m_socket;
        recent = m_lastUse.isValid() && m_lastUse.elapsed() < m_idleMillis;
    }
    if (!dbc)
        return;
    if (socket >= 0 && linksocket::peerClosed(socket)) {
        openHere();
        return;
    }
    if (recent)
        return;
    bool alive = false;
    if (SQLHSTMT stmt = statementHandle()) {
        SQLRETURN rc =
            SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(u"SELECT 1")), 8);
        alive = SQL_SUCCEEDED(rc);
        while (SQL_SUCCEEDED(rc))
            rc = SQLMoreResults(stmt);
        SQLFreeStmt(stmt, SQL_CLOSE);
    }
    if (alive && !isDead()) {
        markUsed();
        return;
    }
    openHere();
}

bool AdoConnection::closedByServerWithin(int millis) const {
    const int socket = linkSocket();
    return socket >= 0 && linksocket::closedWithin(socket, millis);
}

bool AdoConnection::isDead() const {
    const SQLHDBC dbc = handle();
    if (!dbc)
        return true;
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (!SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr)))
        return false;
    return dead == SQL_CD_TRUE;
}

void AdoConnection::setDefaultDatabase(const QString& name) {
    {
        const std::lock_guard<std::mutex> lock(m_state);
        if (name == m_defaultDatabase)
            return;
        m_defaultDatabase = name;
    }
    if (!isOpen() || name.isEmpty())
        return;
    const std::shared_ptr<AdoConnection> alive = keepAlive();
    AdoConnection* const self = this;
    auto failure = std::make_shared<std::optional<DbError>>();
    const bool ended = roundtrip::run([alive, self, failure, name] {
        try {
            const Hold held(*self);
            if (!self->isOpen())
                return; // closed meanwhile: the next open applies it
            try {
                self->useDatabase(name);
            } catch (const DbError&) {
                // Switching databases changes nothing on the server: on a link that turned out to
                // be gone it is done again on a new one (open() applies the default database).
                if (!self->isDead())
                    throw;
                self->openHere();
            }
        } catch (const DbError& e) {
            *failure = e;
        }
    });
    if (!ended)
        throw roundtrip::givenUp();
    if (*failure)
        throw **failure;
}

void AdoConnection::useDatabase(const QString& name) {
    SQLHSTMT stmt = statementHandle();
    if (!stmt)
        throwFrom(SQL_HANDLE_DBC, handle(), QStringLiteral("Cannot allocate an ODBC statement"));
    odbcuse::useDatabase(stmt, name);
}
