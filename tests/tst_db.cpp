// The connection and statement objects against the stand-in, through the real FreeTDS driver.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "ConnectionString.h"
#include "DevServer.h"
#include "ServerError.h"
#include "LinkSocket.h"
#include "SqlQuote.h"

#include <QFileInfo>
#include <QtTest>
#include <thread>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>

namespace {
// A stand-in server, a connection to it (opened by the first statement) and a statement object on
// that connection: where most cases start.
struct Session {
    explicit Session(const QString& provider = QStringLiteral("SQLNCLI11.0")) {
        c.setConnectionString(dev.connectionString(provider));
    }
    DevServer dev;
    AdoConnection c;
    AdoQuery q{c};
};
} // namespace

// Runs the query's statement while another thread cancels it after `delay`, as a user's Cancel
// lands at any moment; true when the statement ended without an error.
template <typename Delay> bool executeCancelledAfter(AdoQuery& q, StatementWatch& watch, Delay delay) {
    std::thread canceller([&watch, delay] {
        std::this_thread::sleep_for(delay);
        watch.cancel();
    });
    bool finished = true;
    try {
        q.execute();
    } catch (const DbError&) {
        finished = false;
    }
    canceller.join();
    return finished;
}

class DatabaseAccess : public QObject {
    Q_OBJECT
private slots:
    void connectsAtEveryProtocolVersion_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<int>("server");
        for (int server : {2000, 2019})
            for (const char* p : {"SQLOLEDB.1", "SQLNCLI.1", "SQLNCLI10.1", "SQLNCLI11.0"})
                QTest::newRow(qPrintable(QStringLiteral("%1 to %2").arg(p).arg(server))) << p << server;
    }
    void connectsAtEveryProtocolVersion() {
        QFETCH(QString, provider);
        QFETCH(int, server);
        DevServer dev(server);
        AdoConnection c;
        c.setConnectionString(dev.connectionString(provider));
        c.open();
        QVERIFY(c.isOpen());
        AdoQuery q(c);
        q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"));
        q.openRowset();
        QCOMPARE(q.rowCount(), 4);
        QCOMPARE(q.firstColumn(), QStringLiteral("master"));
    }

    void wrongPasswordGivesTheServersText() {
        DevServer dev;
        AdoConnection c;
        c.setConnectionString(dev.connectionString(QStringLiteral("SQLNCLI11.0"), QStringLiteral("nope")));
        try {
            c.open();
            QFAIL("opened");
        } catch (const DbError& e) {
            QCOMPARE(e.message(), QStringLiteral("Login failed for user 'sa'"));
        }
        QVERIFY(!c.isOpen());
    }

    void quotedPasswordLogsIn() {
        DevServer dev(2019, {QStringLiteral("--login"), QStringLiteral("sa:a;b\"c")});
        AdoConnection c;
        c.setConnectionString(
            QStringLiteral("Provider=SQLNCLI11.0;Persist Security Info=False;Data Source=%1;User "
                           "ID=sa;Password=\"a;b\"\"c\"")
                .arg(dev.dataSource()));
        c.open();
        QVERIFY(c.isOpen());
    }

    // Every login and password reaches the server whole through the real driver; one that the
    // driver's connection-string reader cannot carry is refused before any connection is tried.
    void loginValuesReachTheServerWhole_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("refusal");
        const QString none;
        for (const QString& password :
             {QStringLiteral("a}b"), QStringLiteral("}"), QStringLiteral("{x}"), QStringLiteral("a;b}c"),
              QStringLiteral(";"), QStringLiteral("\""), QStringLiteral("'"), QStringLiteral(" lead"),
              QStringLiteral("trail "), QStringLiteral("пароль"), QStringLiteral("{"), QStringLiteral("x}"),
              QStringLiteral("}}"), QStringLiteral("a=b"), QString()})
            QTest::newRow(qPrintable(QStringLiteral("password [%1]").arg(password)))
                << QStringLiteral("sa") << password << none;
        QTest::newRow("login with braces") << QStringLiteral("{u}s;er}") << QStringLiteral("p") << none;
        QTest::newRow("Cyrillic login") << QStringLiteral("адмін") << QStringLiteral("p") << none;
        const QString passwordRefused =
            QStringLiteral("Пароль містить «};»: такий пароль не можна передати драйверу ODBC");
        QTest::newRow("password };") << QStringLiteral("sa") << QStringLiteral("};") << passwordRefused;
        QTest::newRow("password x};y") << QStringLiteral("sa") << QStringLiteral("x};y") << passwordRefused;
        QTest::newRow("login };") << QStringLiteral("u};") << QStringLiteral("p")
                                  << QStringLiteral("Логін містить «};»: такий логін не можна передати "
                                                    "драйверу ODBC");
    }
    void loginValuesReachTheServerWhole() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, refusal);
        DevServer dev(2019, {QStringLiteral("--login"), user + QLatin1Char(':') + password});
        AdoConnection c;
        c.setConnectionString(
            QStringLiteral("Provider=SQLNCLI11.0;Persist Security Info=False;Data Source=") +
            connstr::formatValue(dev.dataSource()) + QStringLiteral(";User ID=") +
            connstr::formatValue(user) + QStringLiteral(";Password=") + connstr::formatValue(password));
        try {
            c.open();
        } catch (const DbError& e) {
            QCOMPARE(e.message(), refusal);
            return;
        }
        QVERIFY(refusal.isEmpty());
        QVERIFY(c.isOpen());
    }

    void serverNameTheDriverCannotCarryIsRefused() {
        AdoConnection c;
        c.setConnectionString(
            QStringLiteral("Provider=SQLNCLI11.0;Data Source=\"h};x\";User ID=sa;Password=p"));
        try {
            c.open();
            QFAIL("opened");
        } catch (const DbError& e) {
            QCOMPARE(e.message(), QStringLiteral("Назва сервера містить «};»: таку назву не можна передати "
                                                 "драйверу ODBC"));
        }
    }

    void rowsetOperations() {
        Session s;
        auto& [dev, c, q] = s;
        // Implicit open on the first statement.
        q.setText(QStringLiteral("SELECT name, dbid FROM master.dbo.sysdatabases"));
        q.openRowset();
        QVERIFY(c.isOpen());
        QCOMPARE(q.rowCount(), 4);
        QCOMPARE(q.field(QStringLiteral("dbid")), QStringLiteral("1"));
        q.next();
        q.next();
        q.next();
        QCOMPARE(q.field(QStringLiteral("name")), QStringLiteral("msdb"));
        QVERIFY(!q.atEnd());
        q.next();
        QVERIFY(q.atEnd());
        q.next();
        QVERIFY(q.atEnd());
        q.first();
        QCOMPARE(q.firstColumn(), QStringLiteral("master"));
        try {
            q.field(QStringLiteral("nosuch"));
            QFAIL("found");
        } catch (const DbError& e) {
            QCOMPARE(e.message(), QStringLiteral("ADOQuery1: Field 'nosuch' not found"));
        }
        q.close();
        try {
            q.rowCount();
            QFAIL("counted");
        } catch (const DbError& e) {
            QCOMPARE(e.message(),
                     QStringLiteral("ADOQuery1: Cannot perform this operation on a closed dataset"));
        }
        q.setText(QStringLiteral("USE master"));
        try {
            q.openRowset();
            QFAIL("opened");
        } catch (const DbError& e) {
            QCOMPARE(e.message(), QStringLiteral("ADOQuery1: CommandText does not return a result set"));
        }
        q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = N'none'"));
        q.openRowset();
        QCOMPARE(q.rowCount(), 0);
        QVERIFY(q.atEnd());
    }

    void batchWithSeveralResultsAndErrors() {
        Session s;
        auto& [dev, c, q] = s;
        q.setLines({QStringLiteral("USE master"), QStringLiteral("SELECT name FROM master.dbo.sysdatabases"),
                    QStringLiteral("SELECT @@SPID")});
        q.openRowset();
        QCOMPARE(q.rowCount(), 4);
        QVERIFY(q.messages()
                    .join(QLatin1Char('\n'))
                    .contains(QLatin1String("Changed database context to 'master'")));
        q.setLines({QStringLiteral("USE master"), QStringLiteral("DROP DATABASE nosuch")});
        try {
            q.execute();
            QFAIL("ran");
        } catch (const DbError& e) {
            QCOMPARE(e.message(), QStringLiteral("Cannot drop the database 'nosuch', because it does not "
                                                 "exist or you do not have permission"));
        }
        // Statements share one statement handle: a failed one leaves it ready for the next.
        q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"));
        q.openRowset();
        QCOMPARE(q.rowCount(), 4);
        QCOMPARE(q.firstColumn(), QStringLiteral("master"));

        // A database that is not there (911) is the server's refusal, not a broken link, although
        // the driver files it under a connection SQLSTATE (08004): the connection stays open.
        for (const QString& statement :
             {QStringLiteral("USE nosuch"), QStringLiteral("BACKUP DATABASE [nosuch] TO DISK = N'x.bak'")}) {
            q.setText(statement);
            QVERIFY_THROWS_EXCEPTION(DbError, q.execute());
            QVERIFY2(c.isOpen(), qPrintable(statement));
        }
    }

    // The text shown for a failure is the cause's, wherever the server's 3013 trailer and its
    // informational lines fall among the records, and the cause's numbers come first for the advice.
    void theCauseIsShownAmongSeveralRecords_data() {
        QTest::addColumn<QList<int>>("natives"); // 0: an informational line (01000)
        QTest::addColumn<int>("shown");
        QTest::newRow("cause, trailer") << QList<int>{3201, 3013} << 3201;
        QTest::newRow("progress, cause, trailer") << QList<int>{0, 3201, 3013} << 3201;
        QTest::newRow("trailer, cause") << QList<int>{3013, 3634, 3156, 3119} << 3634;
        QTest::newRow("causes, trailer") << QList<int>{3634, 3156, 3119, 3013} << 3634;
        QTest::newRow("the trailer alone") << QList<int>{0, 3013} << 3013;
    }
    void theCauseIsShownAmongSeveralRecords() {
        QFETCH(QList<int>, natives);
        QFETCH(int, shown);
        QList<OdbcRecord> records;
        for (int n : natives)
            records.append({n ? QStringLiteral("42000") : QStringLiteral("01000"), n,
                            QStringLiteral("[FreeTDS][SQL Server]message %1").arg(n)});
        const DbError e = servererror::fromRecords(records, QStringLiteral("fallback"));
        QCOMPARE(e.message(), QStringLiteral("message %1").arg(shown));
        QCOMPARE(e.records().first().native, shown);
    }

    // Rowsets are read many rows per driver call: thousands of rows span many such blocks, and
    // every value comes back whole, in order, whatever its length or letters.
    void thousandsOfRowsComeBackWhole() {
        Session s;
        auto& [dev, c, q] = s;
        dev.stop();
        QStringList expected;
        {
            QFile catalog(dev.dataDir() + QStringLiteral("/catalog.txt"));
            QVERIFY(catalog.open(QIODevice::WriteOnly));
            for (int i = 0; i < 3000; ++i) {
                const QString name = i % 3 == 0   ? QStringLiteral("db_%1").arg(i)
                                     : i % 3 == 1 ? QStringLiteral("Склад ґ'%1").arg(i)
                                                  : QString(124, QChar(0x0436)) +
                                                        QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
                expected.append(name);
                catalog.write(QStringLiteral("%1\t%2\n").arg(name).arg(i + 5).toUtf8());
            }
        }
        QVERIFY(dev.start()); // same port: the connection string still holds
        q.setText(QStringLiteral("SELECT name, dbid FROM master.dbo.sysdatabases"));
        q.openRowset();
        QCOMPARE(q.rowCount(), 3004);
        for (int i = 0; i < 4; ++i) // master, tempdb, model, msdb
            q.next();
        for (int i = 0; i < 3000; ++i, q.next()) {
            QCOMPARE(q.firstColumn(), expected[i]);
            QCOMPARE(q.field(QStringLiteral("dbid")), QString::number(i + 5));
        }
        QVERIFY(q.atEnd());
    }

    // Numbers, identifiers, bits and NULLs of a backup's file list come back as their text.
    void fileListValuesOfEveryType() {
        Session s;
        auto& [dev, c, q] = s;
        const QString bak = dev.scratch() + QStringLiteral("/types.bak");
        q.setLines({QStringLiteral("CREATE DATABASE types"),
                    QStringLiteral("BACKUP DATABASE types TO DISK = ") + sqlquote::literal(bak)});
        q.execute();
        q.setText(QStringLiteral("RESTORE FILELISTONLY FROM DISK = ") + sqlquote::literal(bak));
        q.openRowset();
        QCOMPARE(q.rowCount(), 2);
        QCOMPARE(q.field(QStringLiteral("LogicalName")), QStringLiteral("types"));
        QCOMPARE(q.field(QStringLiteral("Type")), QStringLiteral("D"));
        QCOMPARE(q.field(QStringLiteral("FileGroupName")), QStringLiteral("PRIMARY"));
        QCOMPARE(q.field(QStringLiteral("MaxSize")), QStringLiteral("35184372080640")); // numeric(20,0)
        QCOMPARE(q.field(QStringLiteral("FileId")), QStringLiteral("1"));               // bigint
        QCOMPARE(q.field(QStringLiteral("SourceBlockSize")), QStringLiteral("4096"));   // int
        QCOMPARE(q.field(QStringLiteral("IsPresent")), QStringLiteral("1"));            // bit
        QCOMPARE(q.field(QStringLiteral("DifferentialBaseGUID")),
                 QStringLiteral("00000000-0000-0000-0000-000000000000"));
        QCOMPARE(q.field(QStringLiteral("UniqueId")).size(), 36);
        QCOMPARE(q.field(QStringLiteral("TDEThumbprint")), QString()); // NULL varbinary
        q.next();
        QCOMPARE(q.field(QStringLiteral("Type")), QStringLiteral("L"));
        QCOMPARE(q.field(QStringLiteral("FileGroupName")), QString()); // NULL nvarchar
        QCOMPARE(q.field(QStringLiteral("FileGroupId")), QStringLiteral("0"));
    }

    // The backup's progress messages are read to the end: the file exists when execute returns.
    void backupIsCompleteWhenExecuteReturns() {
        Session s;
        auto& [dev, c, q] = s;
        q.setText(QStringLiteral("CREATE DATABASE [Ше]"));
        q.execute();
        const QString target = dev.scratch() + QStringLiteral("/Ше.bak");
        q.setText(
            QStringLiteral(
                "BACKUP DATABASE [Ше] TO DISK = N'%1' WITH INIT , NOUNLOAD , SKIP , STATS = 10, NOFORMAT")
                .arg(target));
        q.execute();
        QVERIFY(QFileInfo::exists(target));
        QCOMPARE(q.messages().filter(QStringLiteral("percent processed")).size(), 10);
        QVERIFY(q.messages().last().startsWith(QLatin1String("BACKUP DATABASE successfully processed")));
    }

    // A watch sees every informational message as it comes, in order; a cancel asked for before the
    // statement starts keeps it from reaching the server, and the next statement runs as usual.
    void watchSeesMessagesAndCancelsBeforeTheStart() {
        Session s;
        auto& [dev, c, q] = s;
        q.setText(QStringLiteral("CREATE DATABASE W"));
        q.execute();
        QStringList seen;
        StatementWatch watch([&seen](int, const QString& message) { seen << message; });
        q.setWatch(&watch);
        q.setText(
            QStringLiteral("BACKUP DATABASE W TO DISK = N'%1/w.bak' WITH STATS = 25").arg(dev.scratch()));
        q.execute();
        QCOMPARE(seen, q.messages());
        QCOMPARE(seen.filter(QStringLiteral("percent processed")).size(), 4);

        StatementWatch cancelled;
        cancelled.cancel();
        q.setWatch(&cancelled);
        q.setText(QStringLiteral("DROP DATABASE W"));
        QVERIFY_THROWS_EXCEPTION(DbError, q.execute());
        q.setWatch(nullptr);
        QVERIFY(!dev.receivedStatements().contains(QLatin1String("DROP DATABASE W")));
        q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = N'W'"));
        q.openRowset();
        QCOMPARE(q.rowCount(), 1);
    }

    // A cancel from another thread at any moment of a statement that sends a message every
    // hundredth of its way (the worker reads their diagnostics all the while): the statement ends,
    // cut short or done, and the connection serves the next one. Run under ThreadSanitizer too.
    void cancelFromAnotherThreadAtAnyMoment() {
        DevServer dev(2019, {QStringLiteral("--throughput"), QStringLiteral("20")});
        AdoConnection c;
        c.setConnectionString(dev.connectionString());
        AdoQuery q{c};
        q.setText(QStringLiteral("CREATE DATABASE W"));
        q.execute();
        for (int delayMs : {0, 1, 5, 20, 60, 200}) {
            std::atomic<int> messages{0};
            StatementWatch watch([&messages](int, const QString&) { ++messages; });
            q.setWatch(&watch);
            q.setText(QStringLiteral("BACKUP DATABASE W TO DISK = N'%1/w.bak' WITH INIT, STATS = 1")
                          .arg(dev.scratch()));
            const bool finished = executeCancelledAfter(q, watch, std::chrono::milliseconds(delayMs));
            q.setWatch(nullptr);
            QVERIFY2(!finished || messages.load() > 100, qPrintable(QString::number(delayMs)));
            q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = N'W'"));
            q.openRowset();
            QCOMPARE(q.rowCount(), 1);
        }
    }

    // A cancel delivered between two driver calls waits for the server to acknowledge it (the
    // driver reads up to the acknowledgement): the other threads, the window's among them, never
    // wait for that. The stand-in is stopped (SIGSTOP) to hold the acknowledgement back.
    void cancelBetweenCallsKeepsOtherThreadsFree() {
        DevServer dev(2019, {QStringLiteral("--throughput"), QStringLiteral("20")});
        AdoConnection c;
        c.setConnectionString(dev.connectionString());
        AdoQuery q{c};
        q.setText(QStringLiteral("CREATE DATABASE W"));
        q.execute();
        const QString backup =
            QStringLiteral("BACKUP DATABASE W TO DISK = N'%1/w.bak' WITH INIT, STATS = 1\r\n")
                .arg(dev.scratch());
        const QString batch = backup + backup;
        SQLHSTMT h = c.statementHandle();
        StatementWatch watch;
        QVERIFY(watch.begin(h));
        QVERIFY(watch.callStarts());
        const SQLRETURN rc =
            SQLExecDirectW(h, const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(batch.utf16())),
                           SQLINTEGER(batch.size()));
        QVERIFY(SQL_SUCCEEDED(rc));
        {
            const auto ended = watch.callEnded();
            (void)ended;
        }
        // Between the calls: the server stops, the user cancels, the worker delivers the cancel.
        QCOMPARE(::kill(pid_t(dev.processId()), SIGSTOP), 0);
        watch.cancel();
        std::thread worker([&] { watch.deliverLateCancel(h); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto asked = std::async(std::launch::async, [&] { return watch.cancelRequested(); });
        const bool answered = asked.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
        QCOMPARE(::kill(pid_t(dev.processId()), SIGCONT), 0);
        worker.join();
        watch.end();
        QVERIFY2(answered, "another thread waited for the server's acknowledgement");
        QVERIFY(asked.get());
        QVERIFY(watch.cancelDelivered());
        SQLFreeStmt(h, SQL_CLOSE);
        q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = N'W'"));
        q.openRowset();
        QCOMPARE(q.rowCount(), 1);
    }

    // A statement the server refuses, cancelled from another thread at moments around its reply:
    // reported refused or cancelled, never done. (A cancel that catches a call just returned
    // clears what the driver had to say about it.)
    void refusedStatementNeverLooksDoneWhateverTheCancel() {
        Session s;
        auto& [dev, c, q] = s;
        q.setText(QStringLiteral("SELECT 1"));
        q.openRowset();
        for (int delayUs = 0; delayUs < 3000; delayUs += 25) {
            StatementWatch watch;
            q.setWatch(&watch);
            q.setText(QStringLiteral("BACKUP DATABASE nosuch TO DISK = N'%1/n.bak'").arg(dev.scratch()));
            const bool refused = !executeCancelledAfter(q, watch, std::chrono::microseconds(delayUs));
            q.setWatch(nullptr);
            QVERIFY2(refused, qPrintable(QString::number(delayUs)));
        }
    }

    void cyrillicRoundTrip() {
        Session s(QStringLiteral("SQLOLEDB.1"));
        auto& [dev, c, q] = s;
        const QString name = QStringLiteral("Відділ кадрів ґ'Є");
        q.setText(QStringLiteral("CREATE DATABASE ") + sqlquote::name(name));
        q.execute();
        q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = ") +
                  sqlquote::literal(name));
        q.openRowset();
        QCOMPARE(q.rowCount(), 1);
        QCOMPARE(q.firstColumn(), name);
    }

    // Values longer than one read of the driver come back whole: those read in blocks of rows,
    // and those too wide for that (over 4,000 characters), read piece by piece.
    void longUnicodeValue() {
        Session s;
        auto& [dev, c, q] = s;
        for (int length : {700, 5000}) {
            const QString value = QString(length, QChar(0x0416)) + QStringLiteral("😀 end");
            q.setText(QStringLiteral("SELECT N'%1'").arg(value));
            q.openRowset();
            QCOMPARE(q.firstColumn(), value);
        }
    }

    void defaultDatabaseRule() {
        DevServer dev;
        AdoConnection c;
        c.setConnectionString(dev.connectionString());
        c.setDefaultDatabase(QStringLiteral("model")); // closed: remembered
        c.open();
        AdoQuery q(c);
        q.setText(QStringLiteral("SELECT DB_NAME()"));
        q.openRowset();
        QCOMPARE(q.firstColumn(), QStringLiteral("model"));
        c.setDefaultDatabase(QStringLiteral("msdb")); // open: switched at once
        q.openRowset();
        QCOMPARE(q.firstColumn(), QStringLiteral("msdb"));
        c.close();
        c.open(); // applied again after every open
        q.openRowset();
        QCOMPARE(q.firstColumn(), QStringLiteral("msdb"));
    }

    // A statement that changes something, sent right after the server restarted: the old link
    // was closed by the server before anything was written to it, so the statement goes out once,
    // on a new link.
    void changingStatementAfterARestartGoesOutOnANewLink() {
        Session s;
        auto& [dev, c, q] = s;
        q.setText(QStringLiteral("CREATE DATABASE a"));
        q.execute();
        dev.stop();
        QVERIFY(dev.start());
        q.setText(QStringLiteral("CREATE DATABASE b"));
        q.execute();
        QVERIFY(c.isOpen());
        QCOMPARE(dev.receivedStatements().count(QStringLiteral("CREATE DATABASE b")), 1);
    }

    // A link that still looks open to the socket check (a router forgot it, say) but takes whatever
    // is written into a black hole: before a statement that changes something, an idle connection
    // is probed, found gone and opened again, and the statement goes out once, on the new link.
    void idleProbeFindsALinkTheSocketCheckCannotSee() {
        Session s;
        auto& [dev, c, q] = s;
        c.setIdleMillisForTests(0);
        int opens = 0;
        c.setOpenStateListener([&opens](bool open) { opens += open; });
        const std::vector<int> before = linksocket::streamSockets();
        c.open();
        const int link = linksocket::added(before, linksocket::streamSockets());
        QVERIFY(link >= 0);
        // The driver's descriptor now leads to a socket pair whose other end reads the first
        // packet and then closes; the server sees its link close.
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        QCOMPARE(::dup2(pair[0], link), link);
        ::close(pair[0]);
        std::thread blackHole([end = pair[1]] {
            char packet[4096];
            [[maybe_unused]] const ssize_t n = ::read(end, packet, sizeof packet);
            ::close(end);
        });
        q.setText(QStringLiteral("CREATE DATABASE a"));
        try {
            q.execute();
        } catch (const DbError& e) {
            blackHole.join();
            QFAIL(qPrintable(e.message()));
        }
        blackHole.join();
        QCOMPARE(opens, 2);
        QCOMPARE(dev.receivedStatements().count(QStringLiteral("CREATE DATABASE a")), 1);
    }

    // The server dies while a statement waits for its answer: FreeTDS says "Unexpected EOF from
    // the server" under an informational SQLSTATE (01000) and nothing else. That is a failure with
    // the link lost, never a success.
    void serverDyingDuringAStatementFailsIt() {
        DevServer dev(2019, {QStringLiteral("--slow"), QStringLiteral("1500")});
        AdoConnection c;
        c.setConnectionString(dev.connectionString());
        AdoQuery q{c};
        q.setText(QStringLiteral("CREATE DATABASE a"));
        q.execute();
        const qint64 pid = dev.processId();
        std::thread killer([pid] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            ::kill(pid_t(pid), SIGTERM);
        });
        q.setText(QStringLiteral("BACKUP DATABASE a TO DISK = N'%1/a.bak'").arg(dev.scratch()));
        bool failed = false;
        try {
            q.execute();
        } catch (const DbError& e) {
            failed = !e.records().isEmpty() && e.records().last().state == QLatin1String("08S01");
        }
        killer.join();
        QVERIFY(failed);
        QVERIFY(!QFileInfo::exists(dev.scratch() + QStringLiteral("/a.bak")));
    }

    void serverStoppedMidSessionThenBack() {
        Session s;
        auto& [dev, c, q] = s;
        q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"));
        q.openRowset();
        dev.stop();
        try {
            q.openRowset();
            QFAIL("ran on a stopped server");
        } catch (const DbError& e) {
            QVERIFY(!e.message().isEmpty());
        }
        QVERIFY(!c.isOpen());
        QVERIFY(dev.start());
        q.openRowset();
        QCOMPARE(q.rowCount(), 4);
    }
};

QTEST_GUILESS_MAIN(DatabaseAccess)
#include "tst_db.moc"
