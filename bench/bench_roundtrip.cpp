// One round trip of "USE master" and the database list through db/ against the same statements
// through a plain ODBC loop, side by side against the same stand-in. Prints the ratio.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "ConnectionString.h"
#include "DevServer.h"
#include "PlainOdbc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <sched.h>

namespace {
const int kRounds = 4000;
const int kBlocks = 40;

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
    PlainOdbc plain(
        connstr::toOdbc(connstr::parse(server.connectionString()), connection.driverName(), QString()));

    qint64 layered = 0, direct = 0;
    QElapsedTimer t;
    // Alternating blocks so that both sides see the same machine.
    for (int block = 0; block < kBlocks; ++block) {
        t.start();
        for (int i = 0; i < kRounds / kBlocks; ++i) {
            plain.run(QStringLiteral("USE master\r\n"));
            if (plain.run(QStringLiteral("SELECT name FROM master.dbo.sysdatabases\r\n")) != 24)
                std::printf("plain loop read the wrong rows\n");
        }
        direct += t.nsecsElapsed();
        t.start();
        for (int i = 0; i < kRounds / kBlocks; ++i) {
            query.setText(QStringLiteral("USE master"));
            query.execute();
            query.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"));
            query.openRowset();
            for (query.first(); !query.atEnd(); query.next())
                (void)query.firstColumn();
            query.close();
        }
        layered += t.nsecsElapsed();
    }
    std::printf("db/ round trip: %.1f us, plain ODBC: %.1f us, ratio %.3f (target <= 1.1)\n",
                layered / 1000.0 / kRounds, direct / 1000.0 / kRounds, double(layered) / double(direct));
    return 0;
}
