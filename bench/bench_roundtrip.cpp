// One round trip of "Use Master" and the database list through db/ against the same statements
// through a plain ODBC loop, side by side against the same stand-in. Prints the ratio.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "ConnectionString.h"
#include "DevServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <sched.h>

namespace {
const int kRounds = 4000;
const int kBlocks = 40;

struct PlainOdbc {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    explicit PlainOdbc(const QString& odbc) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        const std::u16string w = odbc.toStdU16String();
        SQLDriverConnectW(dbc, nullptr, (SQLWCHAR*)w.c_str(), SQLSMALLINT(w.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    }
    ~PlainOdbc() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    int run(const char16_t* sql) {
        SQLHSTMT st;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
        SQLSetStmtAttrW(st, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1000), 0);
        SQLRETURN rc = SQLExecDirectW(st, (SQLWCHAR*)sql, SQLINTEGER(std::char_traits<char16_t>::length(sql)));
        int rows = 0;
        while (rc != SQL_NO_DATA && rc != SQL_ERROR) {
            SQLSMALLINT cols = 0;
            SQLNumResultCols(st, &cols);
            while (cols > 0 && SQL_SUCCEEDED(SQLFetch(st))) {
                SQLWCHAR buffer[256];
                SQLLEN len;
                SQLGetData(st, 1, SQL_C_WCHAR, buffer, sizeof buffer, &len);
                ++rows;
            }
            rc = SQLMoreResults(st);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        return rows;
    }
};
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    DevServer server(2019);
    // The server's sessions on one core, this client on the other: both sides of the comparison
    // then see the same scheduling instead of whichever core each session thread lands on.
    if (QThread::idealThreadCount() >= 2) {
        cpu_set_t serverCpu, clientCpu;
        CPU_ZERO(&serverCpu);
        CPU_ZERO(&clientCpu);
        CPU_SET(0, &serverCpu);
        CPU_SET(1, &clientCpu);
        sched_setaffinity(pid_t(server.processId()), sizeof serverCpu, &serverCpu);
        sched_setaffinity(0, sizeof clientCpu, &clientCpu);
    }
    for (int i = 0; i < 20; ++i)
        server.tsql(QStringLiteral("CREATE DATABASE [bench_%1]").arg(i));

    AdoConnection connection;
    connection.setConnectionString(server.connectionString());
    AdoQuery query(connection);
    PlainOdbc plain(connstr::toOdbc(connstr::parse(server.connectionString()), connection.driverName(), QString()));

    qint64 layered = 0, direct = 0;
    QElapsedTimer t;
    // Alternating blocks so that both sides see the same machine.
    for (int block = 0; block < kBlocks; ++block) {
        t.start();
        for (int i = 0; i < kRounds / kBlocks; ++i) {
            plain.run(u"Use Master\r\n");
            if (plain.run(u"SELECT name FROM master.dbo.sysdatabases\r\n") != 24)
                std::printf("plain loop read the wrong rows\n");
        }
        direct += t.nsecsElapsed();
        t.start();
        for (int i = 0; i < kRounds / kBlocks; ++i) {
            query.setText(QStringLiteral("Use Master"));
            query.execute();
            query.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"));
            query.openRowset();
            for (query.first(); !query.atEnd(); query.next())
                (void)query.firstColumn();
            query.close();
        }
        layered += t.nsecsElapsed();
    }
    std::printf("db/ round trip: %.1f us, plain ODBC: %.1f us, ratio %.3f (target <= 1.1)\n", layered / 1000.0 / kRounds,
                direct / 1000.0 / kRounds, double(layered) / double(direct));
    return 0;
}
