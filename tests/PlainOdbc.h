// One plain ODBC 3 connection and statement handle through FreeTDS to a stand-in, for tests that
// talk ODBC the way any other program does, without Zelvaro's db/ layer.
#pragma once

#include <QString>
#include <string>

#include <sql.h>
#include <sqlext.h>

class PlainOdbc {
public:
    PlainOdbc(int port, const QString& tdsVersion) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
        const std::u16string cs = QStringLiteral("Driver=FreeTDS;Server=127.0.0.1;Port=%1;TDS_Version=%2;UID=sa;"
                                                 "PWD=pvtmo;ClientCharset=UTF-8;Encryption=off")
                                      .arg(port)
                                      .arg(tdsVersion)
                                      .toStdU16String();
        m_connected = SQL_SUCCEEDED(SQLDriverConnectW(m_dbc, nullptr,
                                                      reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(cs.c_str())),
                                                      SQLSMALLINT(cs.size()), nullptr, 0, nullptr,
                                                      SQL_DRIVER_NOPROMPT));
        SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &m_stmt);
    }
    ~PlainOdbc() {
        SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
        SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }
    PlainOdbc(const PlainOdbc&) = delete;
    PlainOdbc& operator=(const PlainOdbc&) = delete;
    bool connected() const { return m_connected; }

protected:
    SQLHENV m_env = nullptr;
    SQLHDBC m_dbc = nullptr;
    SQLHSTMT m_stmt = nullptr;
    bool m_connected = false;
};
