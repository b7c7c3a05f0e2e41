#include "ConnectAttempt.h"

#include "LinkSocket.h"
#include "OdbcDiagnostics.h"
#include "ServerError.h"
#include "SqlQuote.h"

#include <string>

ConnectAttempt::ConnectAttempt(std::shared_ptr<void> env, QString odbcText, int loginTimeoutSeconds,
                               QString defaultDatabase)
    : m_env(std::move(env)), m_odbcText(std::move(odbcText)), m_loginTimeoutSeconds(loginTimeoutSeconds),
      m_defaultDatabase(std::move(defaultDatabase)) {}

ConnectAttempt::~ConnectAttempt() {
    if (!m_dbc)
        return;
    if (m_stmt)
        SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
    SQLDisconnect(m_dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
}

void ConnectAttempt::run() noexcept {
    SQLHENV env = m_env.get();
    SQLHDBC dbc = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        m_error = servererror::fromRecords(odbcdiag::read(SQL_HANDLE_ENV, env),
                                           QStringLiteral("Cannot allocate an ODBC connection"));
        return;
    }
    const auto loginTimeout = static_cast<SQLULEN>(m_loginTimeoutSeconds);
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(loginTimeout), 0);
    SQLSetConnectAttrW(dbc, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(loginTimeout), 0);

    const std::u16string wide = m_odbcText.toStdU16String();
    const std::vector<int> socketsBefore = linksocket::streamSockets();
    const SQLRETURN rc =
        SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(wide.c_str())),
                          SQLSMALLINT(wide.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        // FreeTDS lists "Unable to connect to data source" too; the server's own reason comes first.
        const auto records = odbcdiag::read(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        m_error = servererror::fromRecords(records, QStringLiteral("Unable to connect to data source"));
        return;
    }
    m_dbc = dbc;
    m_socket = linksocket::added(socketsBefore, linksocket::streamSockets());
    if (m_defaultDatabase.isEmpty())
        return;
    bool useFailed = false;
    try {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &m_stmt))) {
            m_stmt = nullptr;
            throw servererror::fromRecords(odbcdiag::read(SQL_HANDLE_DBC, m_dbc),
                                           QStringLiteral("Cannot allocate an ODBC statement"));
        }
        odbcuse::useDatabase(m_stmt, m_defaultDatabase);
    } catch (const DbError& e) {
        useFailed = true;
        m_error = e;
    } catch (...) {
        useFailed = true;
        m_error = DbError(QStringLiteral("USE failed"));
    }
    if (useFailed) {
        // A link on which the default database could not be chosen is not handed out.
        if (m_stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
        m_stmt = nullptr;
        SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        m_dbc = nullptr;
        m_socket = -1;
    }
}

ConnectAttempt::Link ConnectAttempt::take() {
    Link link{m_dbc, m_stmt, m_socket};
    m_dbc = nullptr;
    m_stmt = nullptr;
    m_socket = -1;
    return link;
}

namespace odbcuse {
void useDatabase(SQLHSTMT stmt, const QString& name) {
    const std::u16string text = (QStringLiteral("USE ") + sqlquote::name(name)).toStdU16String();
    SQLRETURN rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.c_str())),
                                  SQLINTEGER(text.size()));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
        const auto records = odbcdiag::read(SQL_HANDLE_STMT, stmt);
        SQLFreeStmt(stmt, SQL_CLOSE);
        throw servererror::fromRecords(records, QStringLiteral("USE failed"));
    }
    while (SQL_SUCCEEDED(SQLMoreResults(stmt))) {
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
}
} // namespace odbcuse
