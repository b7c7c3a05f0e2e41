// One login to the server on handles of its own, so that it can run on a worker thread while the
// window waits, and be left behind there when the user gives up: whoever drops the last reference
// frees what it opened, also the environment it was opened in.
#pragma once

#include "DbError.h"

#include <QString>
#include <memory>

#include <sql.h>
#include <sqlext.h>

class ConnectAttempt {
public:
    // env: shared with the connection that made the attempt, which may go before the attempt ends.
    ConnectAttempt(std::shared_ptr<void> env, QString odbcText, int loginTimeoutSeconds, QString defaultDatabase);
    // Disconnects and frees a link nobody took (an attempt given up, or one that failed late).
    ~ConnectAttempt();
    ConnectAttempt(const ConnectAttempt&) = delete;
    ConnectAttempt& operator=(const ConnectAttempt&) = delete;

    // Logs in and switches to the default database; blocks for as long as the server takes (the
    // login time-out at most). Never throws: a failure is kept for error().
    void run() noexcept;

    bool succeeded() const { return m_dbc != nullptr; }
    const DbError& error() const { return m_error; }

    struct Link {
        SQLHDBC dbc = nullptr;
        SQLHSTMT stmt = nullptr; // the statement handle the default database was switched on, or null
        int socket = -1;
    };
    // The open link, handed over once; the attempt no longer frees it.
    Link take();

private:
    std::shared_ptr<void> m_env;
    QString m_odbcText;
    int m_loginTimeoutSeconds;
    QString m_defaultDatabase;
    SQLHDBC m_dbc = nullptr;
    SQLHSTMT m_stmt = nullptr;
    int m_socket = -1;
    DbError m_error{QString()};
};

namespace odbcuse {
// Runs "USE [name]" on the statement handle; throws the server's DbError.
void useDatabase(SQLHSTMT stmt, const QString& name);
} // namespace odbcuse
