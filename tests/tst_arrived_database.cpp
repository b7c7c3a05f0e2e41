// A database from another server restored here, through the real FreeTDS driver against the
// stand-in: its orphaned users and unknown owner are found, the statements that mend them are
// composed (the password shown and logged as stars), and after them the applications' logins open
// the database — read back by a second client from the server's own catalog.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "ArrivedDatabase.h"
#include "DevServer.h"

#include <QtTest>

namespace ad = arriveddatabase;

class ArrivedDatabase : public QObject {
    Q_OBJECT
private slots:
    void orphansAreToldAndMended_data() {
        QTest::addColumn<int>("version");
        for (int v : {2000, 2008, 2019})
            QTest::newRow(qPrintable(QString::number(v))) << v;
    }
    void orphansAreToldAndMended() {
        QFETCH(int, version);
        const int major = version == 2000 ? 8 : version == 2008 ? 10 : 15;
        DevServer dev(version);
        const QString foreign = dev.scratch() + QStringLiteral("/foreign");
        QCOMPARE(QProcess::execute(QStringLiteral(ZELVARO_DEVSERVER),
                                   {QStringLiteral("--foreign-files"), foreign}),
                 0);
        AdoConnection c;
        c.setConnectionString(dev.connectionString(version == 2000 ? QStringLiteral("SQLOLEDB.1")
                                                                   : QStringLiteral("SQLNCLI11.0")));
        AdoQuery q(c);
        q.setText(version == 2000
                      ? QStringLiteral("EXEC sp_addlogin @loginame = N'app', @passwd = N'Kx9-pass-word'")
                      : QStringLiteral("CREATE LOGIN [app] WITH PASSWORD = N'Kx9-pass-word'"));
        q.execute();
        q.setText(QStringLiteral("RESTORE DATABASE [Sales] FROM DISK = N'%1/Sales.bak' WITH MOVE N'Sales' TO "
                                 "N'%2/Sales.mdf', MOVE N'Sales_log' TO N'%2/Sales_log.ldf'")
                      .arg(foreign, dev.scratch()));
        q.execute();

        const ad::Findings found = ad::find(q, QStringLiteral("Sales"), major);
        QStringList told;
        for (const ad::OrphanedUser& u : found.users)
            told << u.name + (u.windows       ? QStringLiteral(" (windows)")
                              : u.loginOfName ? QStringLiteral(" (login)")
                                              : QString());
        QCOMPARE(told, (QStringList{QStringLiteral("app (login)"), QStringLiteral("reporter"),
                                    QStringLiteral("бухгалтер"), QStringLiteral("CORP\\olena (windows)")}));
        QVERIFY(found.ownerUnknown);
        QCOMPARE(found.ownerSid.toHex().toUpper(), QByteArray("3C5A7E9F1B2D4F6081A3C5E7092B4D6F"));

        ad::Choices choices;
        choices.passwords.insert(QStringLiteral("reporter"), QStringLiteral("Rep-pass-1'x"));
        choices.newOwner = QStringLiteral("sa");
        const ad::Statement fix = ad::fixes(found, choices, major);
        QVERIFY(fix.sent.join(QLatin1Char('\n')).contains(QStringLiteral("N'Rep-pass-1''x'")));
        QVERIFY(!fix.shown.join(QLatin1Char('\n')).contains(QStringLiteral("Rep-pass")));
        QCOMPARE(fix.shown.size(), 5); // USE, map app, create reporter, owner, USE [master]
        q.setLines(fix.sent);
        q.execute();
        // The server's log holds what the window showed, and never the password.
        const QString log = dev.receivedStatements();
        QVERIFY2(log.contains(fix.shown.join(QStringLiteral("\r\n"))), qPrintable(log.right(600)));
        QVERIFY(!log.contains(QStringLiteral("Rep-pass")));

        // A second client reads the catalog: dbo is sa, app's user has app's login SID.
        const QString catalog = dev.tsql(
            version == 2000 ? QStringLiteral("select name, sid from [Sales].dbo.sysusers\n"
                                             "select name, sid from master.dbo.syslogins")
                            : QStringLiteral("select name, sid from [Sales].sys.database_principals\n"
                                             "select name, sid from sys.server_principals"));
        QVERIFY2(catalog.contains(QStringLiteral("dbo\t01")), qPrintable(catalog));
        const QRegularExpression appSid(QStringLiteral("\\napp\\t([0-9a-f]+)"));
        auto matches = appSid.globalMatch(catalog);
        QStringList sids;
        while (matches.hasNext())
            sids << matches.next().captured(1);
        QCOMPARE(sids.size(), 2);
        QCOMPARE(sids[0], sids[1]);
        QVERIFY(catalog.contains(QStringLiteral("reporter\t2f4e6d8ca1b3c5d7e9f10213243546a7")));

        // The applications' logins log in and open the database.
        for (const auto& [login, password] :
             {std::pair{QStringLiteral("app"), QStringLiteral("Kx9-pass-word")},
              std::pair{QStringLiteral("reporter"), QStringLiteral("Rep-pass-1'x")}}) {
            AdoConnection other;
            other.setConnectionString(
                QStringLiteral("Provider=SQLNCLI11.0;Data Source=%1;User ID=%2;Password=%3")
                    .arg(dev.dataSource(), login, password));
            other.open();
            other.setDefaultDatabase(QStringLiteral("Sales"));
        }
        const ad::Findings after = ad::find(q, QStringLiteral("Sales"), major);
        QVERIFY(!after.ownerUnknown);
        QCOMPARE(after.users.size(), 2); // бухгалтер, left without a password, and the Windows user
    }
};

QTEST_GUILESS_MAIN(ArrivedDatabase)
#include "tst_arrived_database.moc"
