#include "AdoConnection.h"

#include "ConnectAttempt.h"
#include "ConnectionString.h"
#include "LinkSocket.h"
#include "OdbcDiagnostics.h"
#include "ServerError.h"
#include "SqlQuote.h"

#include <QFileInfo>

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
    close();
}

void AdoConnection::open() {
    const std::shared_ptr<ConnectAttempt> attempt = beginOpen();
    attempt->run();
    finishOpen(*attempt);
}

std::shared_ptr<ConnectAttempt> AdoConnection::beginOpen() {
    close();
    const connstr::Settings settings = connstr::parse(m_connectionString);
    // A value the driver would cut short logs in as someone else or fails as a wrong login.
    if (const QString refused = connstr::refusal(settings); !refused.isEmpty())
        throw DbError(refused);
    return std::make_shared<ConnectAttempt>(m_envOwner, connstr::toOdbc(settings, m_driver, QString()),
                                            m_loginTimeoutSeconds, m_defaultDatabase);
}

void AdoConnection::finishOpen(ConnectAttempt& attempt) {
    close();
    if (!attempt.succeeded())
        throw attempt.error();
    const ConnectAttempt::Link link = attempt.take();
    m_dbc = link.dbc;
    m_stmt = link.stmt;
    m_socket = link.socket;
    markUsed();
    if (m_openStateListener)
        m_openStateListener(true);
}

void AdoConnection::close() {
    if (!m_dbc)
        return;
    if (m_stmt)
        SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
    m_stmt = nullptr;
    m_socket = -1;
    SQLDisconnect(m_dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
    m_dbc = nullptr;
    if (m_openStateListener)
        m_openStateListener(false);
}

SQLHSTMT AdoConnection::statementHandle() {
    if (!m_stmt && m_dbc && !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &m_stmt)))
        m_stmt = nullptr;
    return m_stmt;
}

void AdoConnection::dropBrokenLink() {
    close();
}

void AdoConnection::reviveIfStale() {
    if (!m_dbc)
        return;
    if (m_socket >= 0 && linksocket::peerClosed(m_socket)) {
        open();
        return;
    }
    if (m_lastUse.isValid() && m_lastUse.elapsed() < m_idleMillis)
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
    open();
}

bool AdoConnection::closedByServerWithin(int millis) const {
    return m_dbc && m_socket >= 0 && linksocket::closedWithin(m_socket, millis);
}

bool AdoConnection::isDead() const {
    if (!m_dbc)
        return true;
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (!SQL_SUCCEEDED(SQLGetConnectAttr(m_dbc, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr)))
        return false;
    return dead == SQL_CD_TRUE;
}

void AdoConnection::setDefaultDatabase(const QString& name) {
    if (name == m_defaultDatabase)
        return;
    m_defaultDatabase = name;
    if (!isOpen() || name.isEmpty())
        return;
    try {
        useDatabase(name);
    } catch (const DbError&) {
        // Switching databases changes nothing on the server: on a link that turned out to be
        // gone it is done again on a new one (open() applies the default database).
        if (!isDead())
            throw;
        open();
    }
}

void AdoConnection::useDatabase(const QString& name) {
    SQLHSTMT stmt = statementHandle();
    if (!stmt)
        throwFrom(SQL_HANDLE_DBC, m_dbc, QStringLiteral("Cannot allocate an ODBC statement"));
    odbcuse::useDatabase(stmt, name);
}

int AdoConnection::serverMajorVersion() const {
    if (!m_dbc)
        return 0;
    SQLWCHAR version[64] = {}; // "08.00.2039"
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(m_dbc, SQL_DBMS_VER, version, SQLSMALLINT(sizeof version), &length)))
        return 0;
    return odbcdiag::fromWide(version).section(QLatin1Char('.'), 0, 0).toInt();
}
