// The baseline the benchmarks measure db/ against: the driver called directly, no layer between.
#pragma once

#include <QString>

#include <sql.h>
#include <sqlext.h>
#include <string>

struct PlainOdbc {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;

    explicit PlainOdbc(const QString& odbc) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        const std::u16string w = odbc.toStdU16String();
        SQLDriverConnectW(dbc, nullptr, (SQLWCHAR*)w.c_str(), SQLSMALLINT(w.size()), nullptr, 0, nullptr,
                          SQL_DRIVER_NOPROMPT);
    }
    ~PlainOdbc() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    PlainOdbc(const PlainOdbc&) = delete;
    PlainOdbc& operator=(const PlainOdbc&) = delete;

    // Runs a batch to its end, reading every column of every row as text, as db/ does.
    int run(const QString& sql) {
        const std::u16string w = sql.toStdU16String();
        SQLHSTMT st;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
        SQLRETURN rc = SQLExecDirectW(st, (SQLWCHAR*)w.c_str(), SQLINTEGER(w.size()));
        int rows = 0;
        while (rc != SQL_NO_DATA && rc != SQL_ERROR) {
            SQLSMALLINT cols = 0;
            SQLNumResultCols(st, &cols);
            while (cols > 0 && SQL_SUCCEEDED(SQLFetch(st))) {
                for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(cols); ++c) {
                    SQLWCHAR buffer[256];
                    SQLLEN len;
                    SQLGetData(st, c, SQL_C_WCHAR, buffer, sizeof buffer, &len);
                }
                ++rows;
            }
            rc = SQLMoreResults(st);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        return rows;
    }
};
