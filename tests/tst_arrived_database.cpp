// A database from another server restored here, through the real FreeTDS driver against the
// stand-in: its orphaned users and unknown owner are found, the plans that mend them are run, and the
// stand-in's log holds exactly the T-SQL they show (the password as stars in both), and after them
// the applications' logins open the database — read back by a second client from the server's own catalog.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "ArrivedDatabaseOperation.h"
#include "DevServer.h"
#include "Runner.h"

#include <QtTest>

namespace ad = ops::arrived;

namespace {
struct QueryExecutor : ops::Executor {
    explicit QueryExecutor(AdoQuery& q) : q(q) {}
    void send(const ops::Statement& s) override {
        q.setText(s.text);
        q.execute();
        q.close();
    }
    AdoQuery& query() override { return q; }
    AdoQuery& q;
};
} // namespace

class ArrivedDatabase : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ops::setJournalForTests(m_state.path()); }

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
        c.setIdleMillisForTests(600000); // no probe of an idle link among the logged batches
        AdoQuery q(c);
        for (const char* login : {"app", "dba"}) {
            q.setText(version == 2000
                          ? QStringLiteral("EXEC sp_addlogin @loginame = N'%1', @passwd = N'Kx9-pass-word'")
                                .arg(login)
                          : QStringLiteral("CREATE LOGIN [%1] WITH PASSWORD = N'Kx9-pass-word'").arg(login));
            q.execute();
        }
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
        QCOMPARE(found.owners, QStringList{QStringLiteral("sa")});

        // Each plan sends exactly what it shows: the stand-in's log, batch for batch. бухгалтер gets
        // no password, and the plan says it is left.
        const ops::Plan users =
            ad::users(found, {{QStringLiteral("reporter"), QStringLiteral("Rep-pass-1'x")}});
        QVERIFY(users.statements.at(2).text.contains(QStringLiteral("N'Rep-pass-1''x'")));
        QVERIFY(users.question.startsWith(QStringLiteral("Без входу залишаться: бухгалтер.\n")));
        for (const ops::Plan& plan : {users, ad::owner(found, QStringLiteral("sa"))}) {
            const qint64 from = dev.receivedStatements().size();
            QueryExecutor executor(q);
            QVERIFY(ops::run(plan, executor, ops::journal()).done);
            QCOMPARE(dev.receivedStatements()
                         .mid(from)
                         .remove(QLatin1Char('\r'))
                         .split(QStringLiteral("\n\n--- end of batch ---\n"), Qt::SkipEmptyParts),
                     plan.shown().split(QLatin1Char('\n')));
        }
        QCOMPARE(ad::outcome(users, found, q),
                 (QStringList{QStringLiteral("• app — тепер має вхід app."),
                              QStringLiteral("• reporter — тепер має вхід reporter."),
                              QStringLiteral("• бухгалтер — досі без входу.")}));
        // The server's log holds what was shown, and never the password.
        QVERIFY(!dev.receivedStatements().contains(QStringLiteral("Rep-pass")));

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

        // The applications' logins log in and open the database; the owner is offered as the
        // connected login too, unless that login is a user of the database (the server refuses it).
        for (const auto& [login, password] :
             {std::pair{QStringLiteral("app"), QStringLiteral("Kx9-pass-word")},
              std::pair{QStringLiteral("reporter"), QStringLiteral("Rep-pass-1'x")},
              std::pair{QStringLiteral("dba"), QStringLiteral("Kx9-pass-word")}}) {
            AdoConnection other;
            other.setConnectionString(
                QStringLiteral("Provider=SQLNCLI11.0;Data Source=%1;User ID=%2;Password=%3")
                    .arg(dev.dataSource(), login, password));
            other.open();
            AdoQuery asThem(other);
            const QStringList owners = login == QLatin1String("dba")
                                           ? QStringList{QStringLiteral("sa"), login}
                                           : QStringList{QStringLiteral("sa")};
            QCOMPARE(ad::find(asThem, QStringLiteral("Sales"), major).owners, owners);
            if (login != QLatin1String("dba"))
                other.setDefaultDatabase(QStringLiteral("Sales"));
        }
    }

private:
    QTemporaryDir m_state;
};

QTEST_GUILESS_MAIN(ArrivedDatabase)
#include "tst_arrived_database.moc"
