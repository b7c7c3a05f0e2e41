// The stand-in's long operations through FreeTDS's ODBC driver: progress paced by --throughput
// arriving message by message, a cancel stopping a backup or restore, and what the cancel leaves.
#include "DevServer.h"
#include "PlainOdbc.h"

#include <QElapsedTimer>
#include <QtTest>

#include <sql.h>
#include <sqlext.h>

namespace {

// One ODBC 3 connection and statement: FreeTDS returns each progress message from its own
// SQLMoreResults only in ODBC 3 mode.
class Odbc : public PlainOdbc {
public:
    explicit Odbc(const DevServer& dev) : PlainOdbc(dev.port(), QStringLiteral("7.4")) {}

    // Starts a statement; messages of the first result are in messages().
    SQLRETURN start(const QString& batch) {
        const QByteArray text = batch.toUtf8();
        const SQLRETURN rc = SQLExecDirect(m_stmt, (SQLCHAR*)text.constData(), SQL_NTS);
        collect();
        return rc;
    }
    SQLRETURN next() {
        const SQLRETURN rc = SQLMoreResults(m_stmt);
        collect();
        return rc;
    }
    // Runs a statement to its end, reading every result.
    void run(const QString& batch) {
        SQLRETURN rc = start(batch);
        while (rc != SQL_NO_DATA && rc != SQL_INVALID_HANDLE) {
            SQLFreeStmt(m_stmt, SQL_UNBIND);
            rc = next();
        }
        SQLFreeStmt(m_stmt, SQL_CLOSE);
    }
    void cancel() {
        SQLCancel(m_stmt);
        SQLFreeStmt(m_stmt, SQL_CLOSE);
    }
    QStringList& messages() { return m_messages; }
    QList<qint64>& arrivals() { return m_arrivals; }
    QElapsedTimer clock;

private:
    void collect() {
        for (SQLSMALLINT i = 1;; ++i) {
            SQLCHAR state[6], text[1024];
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(
                    SQLGetDiagRec(SQL_HANDLE_STMT, m_stmt, i, state, &native, text, sizeof text, &length)))
                break;
            m_messages << QStringLiteral("%1 %2").arg(native).arg(QString::fromUtf8((const char*)text));
            m_arrivals << clock.elapsed();
        }
    }
    QStringList m_messages;
    QList<qint64> m_arrivals;
};

// Percent values of the progress messages, in arrival order.
QList<int> percents(const QStringList& messages) {
    QList<int> out;
    static const QRegularExpression pattern(QStringLiteral("^3211 .*?(\\d+) percent"));
    for (const QString& m : messages) {
        const auto match = pattern.match(m);
        if (match.hasMatch())
            out << match.captured(1).toInt();
    }
    return out;
}

const QString kCreate = QStringLiteral(
    "CREATE DATABASE [Д] ON (NAME = d, FILENAME = N'%1/d.mdf', SIZE = 6MB) LOG ON (NAME = l, FILENAME = "
    "N'%1/d.ldf', SIZE = 2MB)");

} // namespace

class LongOperations : public QObject {
    Q_OBJECT
private slots:
    void progressArrivesAsTheBytesAreDone_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QList<int>>("expected"); // the shares as SQL Server reports them: per 1 MB transfer
        const QList<int> eighths{12, 25, 37, 50, 62, 75, 87, 100};
        QTest::newRow("2019 backup") << 2019
                                     << "BACKUP DATABASE [Д] TO DISK = N'%1/d.bak' WITH INIT, STATS = 10"
                                     << "processed" << eighths;
        QTest::newRow("2000 backup") << 2000
                                     << "BACKUP DATABASE [Д] TO DISK = N'%1/d.bak' WITH INIT, STATS = 10"
                                     << "backed up" << eighths;
        QTest::newRow("2019 restore") << 2019
                                      << "RESTORE DATABASE [Е] FROM DISK = N'%1/d.bak' WITH STATS = 25, "
                                         "MOVE N'd' TO N'%1/e.mdf', MOVE N'l' TO N'%1/e.ldf'"
                                      << "processed" << QList<int>{25, 50, 75, 100};
    }
    void progressArrivesAsTheBytesAreDone() {
        QFETCH(int, version);
        QFETCH(QString, statement);
        QFETCH(QString, word);
        QFETCH(QList<int>, expected);
        DevServer dev(version, {QStringLiteral("--throughput"), QStringLiteral("8")});
        Odbc odbc(dev);
        QVERIFY(odbc.connected());
        odbc.run(kCreate.arg(dev.scratch()));
        if (statement.startsWith(QStringLiteral("RESTORE")))
            odbc.run(QStringLiteral("BACKUP DATABASE [Д] TO DISK = N'%1/d.bak'").arg(dev.scratch()));
        odbc.messages().clear();
        odbc.arrivals().clear();
        odbc.clock.start();
        SQLRETURN rc = odbc.start(statement.arg(dev.scratch()));
        QCOMPARE(rc, SQLRETURN(SQL_SUCCESS_WITH_INFO));
        // The first result carries the first share alone: the rest is still being copied.
        QCOMPARE(odbc.messages().size(), 1);
        QVERIFY(odbc.messages().first().contains(word));
        while (rc != SQL_NO_DATA)
            rc = odbc.next();
        const QList<int> seen = percents(odbc.messages());
        QCOMPARE(seen, expected);
        // On Windows every share comes before the files' "Processed" lines; on Linux the data
        // file's line comes once it is copied (at 75 percent: 6 MB of 8), before the log's shares.
        int lastShare = 0, firstFile = int(odbc.messages().size());
        for (int i = 0; i < odbc.messages().size(); ++i) {
            if (odbc.messages()[i].startsWith(QStringLiteral("3211 ")))
                lastShare = i;
            else if (odbc.messages()[i].startsWith(QStringLiteral("4035 ")))
                firstFile = std::min(firstFile, i);
        }
        QVERIFY2(version >= 2017 ? firstFile < lastShare : lastShare < firstFile,
                 qPrintable(odbc.messages().join('\n')));
        // 8 MB at 8 MB/s: the shares arrive spread over the copy, not at once at its end.
        QVERIFY2(odbc.arrivals()[seen.size() - 1] - odbc.arrivals()[0] >= 400,
                 qPrintable(odbc.messages().join('\n')));
        const QString last = odbc.messages().last();
        // The pages in use (a new database's), not the files' 1024.
        QVERIFY2(last.startsWith(QStringLiteral("3014 ")) &&
                     last.contains(QStringLiteral(" processed %1 pages in ").arg(version == 2000 ? 68 : 362)),
                 qPrintable(last));
    }

    void cancelStopsABackup_data() {
        QTest::addColumn<int>("version");
        QTest::newRow("2019") << 2019;
        QTest::newRow("2000") << 2000;
    }
    void cancelStopsABackup() {
        QFETCH(int, version);
        DevServer dev(version, {QStringLiteral("--throughput"), QStringLiteral("1")});
        Odbc odbc(dev);
        QVERIFY(odbc.connected());
        odbc.run(kCreate.arg(dev.scratch()));
        odbc.clock.start();
        QCOMPARE(odbc.start(QStringLiteral("BACKUP DATABASE [Д] TO DISK = N'%1/d.bak' WITH STATS = 10")
                                .arg(dev.scratch())),
                 SQLRETURN(SQL_SUCCESS_WITH_INFO));
        QElapsedTimer cancelled;
        cancelled.start();
        odbc.cancel();
        // The copy had about seven seconds to go at 1 MB/s.
        QVERIFY(cancelled.elapsed() < 3000);

        // The unfinished set stays on the media; restoring it fails, appending to it too.
        odbc.messages().clear();
        odbc.run(QStringLiteral("RESTORE FILELISTONLY FROM DISK = N'%1/d.bak'").arg(dev.scratch()));
        QVERIFY2(odbc.messages().join('\n').contains(QStringLiteral("3256 ")),
                 qPrintable(odbc.messages().join('\n')));
        odbc.messages().clear();
        odbc.run(QStringLiteral("BACKUP DATABASE [Д] TO DISK = N'%1/d.bak'").arg(dev.scratch()));
        QVERIFY2(odbc.messages().join('\n').contains(QStringLiteral("3266 ")),
                 qPrintable(odbc.messages().join('\n')));
        // The connection goes on.
        odbc.messages().clear();
        odbc.run(QStringLiteral("USE [Д]"));
        QVERIFY2(odbc.messages().join('\n').contains(QStringLiteral("5701 ")),
                 qPrintable(odbc.messages().join('\n')));
    }

    void cancelledRestoreLeavesTheDatabaseRestoring_data() {
        QTest::addColumn<int>("version");
        QTest::newRow("2019") << 2019;
        QTest::newRow("2000") << 2000;
    }
    void cancelledRestoreLeavesTheDatabaseRestoring() {
        QFETCH(int, version);
        DevServer fast(version);
        {
            Odbc odbc(fast);
            odbc.run(kCreate.arg(fast.scratch()));
            odbc.run(QStringLiteral("BACKUP DATABASE [Д] TO DISK = N'%1/d.bak'").arg(fast.scratch()));
        }
        DevServer slow(version, {QStringLiteral("--throughput"), QStringLiteral("1")});
        Odbc odbc(slow);
        QVERIFY(odbc.connected());
        QCOMPARE(odbc.start(QStringLiteral("RESTORE DATABASE [Е] FROM DISK = N'%1/d.bak' WITH STATS = 10, "
                                           "MOVE N'd' TO N'%2/e.mdf', MOVE N'l' TO N'%2/e.ldf'")
                                .arg(fast.scratch(), slow.scratch())),
                 SQLRETURN(SQL_SUCCESS_WITH_INFO));
        odbc.cancel();
        odbc.messages().clear();
        odbc.run(QStringLiteral("USE [Е]"));
        QVERIFY2(odbc.messages().join('\n').contains(QStringLiteral("927 ")),
                 qPrintable(odbc.messages().join('\n')));
        QVERIFY(odbc.messages().join('\n').contains(QStringLiteral("It is in the middle of a restore.")));
    }
};

QTEST_GUILESS_MAIN(LongOperations)
#include "tst_longops.moc"
