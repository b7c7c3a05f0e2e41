// What the server is asked before an operation, through the real FreeTDS driver against the
// stand-in: who else is inside a database, the edition and its cap, free space, a backup's header.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "DbError.h"
#include "DevServer.h"
#include "ServerQuestions.h"

#include <QtTest>
#include <sys/statvfs.h>

namespace sq = serverquestions;

namespace {
QString providerFor(int version) {
    return version == 2000 ? QStringLiteral("SQLOLEDB.1")
           : version == 2005 ? QStringLiteral("SQLNCLI.1")
           : version == 2008 ? QStringLiteral("SQLNCLI10.1")
                             : QStringLiteral("SQLNCLI11.0");
}

struct Server {
    explicit Server(int version, QStringList arguments = {}) : dev(version, std::move(arguments)) {
        c.setConnectionString(dev.connectionString(providerFor(version)));
    }
    DevServer dev;
    AdoConnection c;
    AdoQuery q{c};
    void run(const QString& sql) {
        q.setText(sql);
        q.execute();
    }
};

qint64 hostFree(const QString& folder) {
    struct statvfs vfs {};
    return ::statvfs(QFile::encodeName(folder).constData(), &vfs) == 0
               ? qint64(vfs.f_bavail) * qint64(vfs.f_frsize)
               : -1;
}
} // namespace

class ServerQuestions : public QObject {
    Q_OBJECT
private slots:
    // sysprocesses before 2012, sys.dm_exec_sessions from 2012; this connection is never listed.
    void othersInsideADatabaseAreNamed_data() {
        QTest::addColumn<int>("version");
        for (int v : {2000, 2005, 2012, 2019})
            QTest::newRow(qPrintable(QString::number(v))) << v;
    }
    void othersInsideADatabaseAreNamed() {
        QFETCH(int, version);
        Server s(version);
        const QString name = QStringLiteral("Склад");
        s.run(QStringLiteral("CREATE DATABASE [Склад]"));
        const sq::ServerVersion v = sq::version(s.q);
        QCOMPARE(v.major, version == 2000 ? 8 : version == 2005 ? 9 : version == 2012 ? 11 : 15);
        QVERIFY(sq::othersUsing(s.q, v, name).isEmpty());

        AdoConnection holder;
        holder.setConnectionString(s.dev.connectionString(providerFor(version)));
        holder.open();
        holder.setDefaultDatabase(name);
        s.c.setDefaultDatabase(name); // ourselves inside too: still only the other one
        const QList<sq::Session> others = sq::othersUsing(s.q, v, name);
        QCOMPARE(others.size(), 1);
        QCOMPARE(others[0].login, QStringLiteral("sa"));
        QVERIFY(!others[0].host.isEmpty());
        QVERIFY(others[0].host == others[0].host.trimmed());
        QVERIFY(others[0].id > 50);
        holder.close();
        QTRY_VERIFY(sq::othersUsing(s.q, v, name).isEmpty());
    }

    // ROLLBACK IMMEDIATE ends the other session: the server closes its connection; SINGLE_USER keeps a
    // newcomer out (924) until MULTI_USER.
    void rollbackImmediateEndsTheOthers() {
        Server s(2019);
        s.run(QStringLiteral("CREATE DATABASE [Склад]"));
        AdoConnection holder;
        holder.setConnectionString(s.dev.connectionString());
        holder.open();
        holder.setDefaultDatabase(QStringLiteral("Склад"));
        s.run(QStringLiteral("ALTER DATABASE [Склад] SET SINGLE_USER WITH ROLLBACK IMMEDIATE"));
        const sq::ServerVersion v = sq::version(s.q);
        QVERIFY(sq::othersUsing(s.q, v, QStringLiteral("Склад")).isEmpty());
        // The server closed the other link (the connection object would open it again by itself).
        QVERIFY(holder.closedByServerWithin(1000));

        s.c.setDefaultDatabase(QStringLiteral("Склад"));
        AdoConnection newcomer;
        newcomer.setConnectionString(s.dev.connectionString());
        newcomer.open();
        try {
            newcomer.setDefaultDatabase(QStringLiteral("Склад"));
            QFAIL("a second session entered a single-user database");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("can only have one user at a time")), qPrintable(e.message()));
        }
        s.c.setDefaultDatabase(QStringLiteral("master"));
        s.run(QStringLiteral("ALTER DATABASE [Склад] SET MULTI_USER"));
        newcomer.setDefaultDatabase(QStringLiteral("Склад"));
    }

    void editionAndItsCap_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("edition");
        QTest::addColumn<int>("engineEdition");
        QTest::addColumn<qint64>("capMB");
        QTest::newRow("2019 Express") << 2019 << "express" << 4 << qint64(10240);
        QTest::newRow("2025 Express") << 2025 << "express" << 4 << qint64(51200);
        QTest::newRow("2008 Express") << 2008 << "express" << 4 << qint64(4096);
        QTest::newRow("2000 Desktop Engine") << 2000 << "express" << 1 << qint64(2048);
        QTest::newRow("2016 Standard") << 2016 << "standard" << 2 << qint64(0);
        QTest::newRow("2019 Developer") << 2019 << "developer" << 3 << qint64(0);
    }
    void editionAndItsCap() {
        QFETCH(int, version);
        QFETCH(QString, edition);
        QFETCH(int, engineEdition);
        QFETCH(qint64, capMB);
        Server s(version, {QStringLiteral("--edition"), edition});
        const sq::ServerVersion v = sq::version(s.q);
        const sq::Edition e = sq::edition(s.q, v);
        QCOMPARE(e.engineEdition, engineEdition);
        QCOMPARE(e.capMB, capMB);
    }

    // The stand-in's cap, lowered for tests, refuses a restore with 1827 and the cap in MB.
    void expressRefusesDataPastItsCap() {
        Server big(2019);
        big.run(QStringLiteral("CREATE DATABASE [Склад] ON (NAME = N'Склад', FILENAME = N'%1/s.mdf', SIZE = 3MB)")
                    .arg(big.dev.scratch()));
        const QString bak = big.dev.scratch() + QStringLiteral("/s.bak");
        big.run(QStringLiteral("BACKUP DATABASE [Склад] TO DISK = N'%1'").arg(bak));
        Server express(2019, {QStringLiteral("--edition"), QStringLiteral("express"), QStringLiteral("--size-cap-mb"),
                              QStringLiteral("2")});
        try {
            express.run(QStringLiteral("RESTORE DATABASE [Склад] FROM DISK = N'%1' WITH MOVE N'Склад' TO N'%2/s.mdf', "
                                       "MOVE N'Склад_log' TO N'%2/s.ldf'")
                            .arg(bak, express.dev.scratch()));
            QFAIL("Express restored past its cap");
        } catch (const DbError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("licensed limit of 2 MB per database")), qPrintable(e.message()));
        }
        QVERIFY(!QFile::exists(express.dev.scratch() + QStringLiteral("/s.mdf")));
    }

    // Each version's best function gives the free space of the volume the folder is on.
    void freeSpaceOfAFolder_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<bool>("known");
        QTest::newRow("2019 Linux, fixed drives or volume stats") << 2019 << false << true;
        QTest::newRow("2017 RTM Linux, volume stats") << 2017 << false << true;
        QTest::newRow("2016 on C:, volume stats or xp_fixeddrives") << 2016 << true << true;
        QTest::newRow("2008 on C:, xp_fixeddrives") << 2008 << true << true;
        QTest::newRow("2008 without a drive letter: nothing tells") << 2008 << false << false;
    }
    void freeSpaceOfAFolder() {
        QFETCH(int, version);
        QFETCH(bool, windows);
        QFETCH(bool, known);
        Server s(version, windows ? DevServer::windowsDrive() : QStringList());
        s.run(QStringLiteral("CREATE DATABASE Sklad"));
        const sq::ServerVersion v = sq::version(s.q);
        const QString folder = windows ? QStringLiteral("C:\\SQLData") : s.dev.dataDir();
        const qint64 free = sq::freeBytes(s.q, v, folder);
        if (!known) {
            QCOMPARE(free, qint64(-1));
            return;
        }
        const qint64 expected = hostFree(s.dev.hostPath(folder));
        QVERIFY2(free > 0 && qAbs(free - expected) < 64LL * 1024 * 1024,
                 qPrintable(QStringLiteral("%1 against %2").arg(free).arg(expected)));
    }

    void backupHeaderSaysWhereItComesFrom() {
        Server s(2019);
        s.run(QStringLiteral("CREATE DATABASE [Склад]"));
        const QString bak = s.dev.scratch() + QStringLiteral("/Склад.bak");
        s.run(QStringLiteral("BACKUP DATABASE [Склад] TO DISK = N'%1'").arg(bak));
        const sq::ServerVersion v = sq::version(s.q);
        const sq::BackupHeader h = sq::backupHeader(s.q, v, bak);
        QCOMPARE(h.database, QStringLiteral("Склад"));
        QCOMPARE(h.major, 15);
        QCOMPARE(h.databaseVersion, 904);
        QCOMPARE(h.collation, QStringLiteral("SQL_Latin1_General_CP1_CI_AS"));
        QVERIFY(!h.familyGuid.isEmpty());
        QVERIFY(sq::backupHeader(s.q, v, bak, 2).database.isEmpty());
    }
};

QTEST_GUILESS_MAIN(ServerQuestions)
#include "tst_server_questions.moc"
