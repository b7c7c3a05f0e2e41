// A database from another server restored here, through the real FreeTDS driver against the
// stand-in: its orphaned users and unknown owner are found, the plans that mend them are run, and the
// stand-in's log holds exactly the T-SQL they show (the password as stars in both). A second client
// reads the server's catalog after, and the applications' logins open the database.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "ArrivedDatabaseOperation.h"
#include "DevServer.h"
#include "Runner.h"

#include <QtTest>

namespace ar = ops::arrived;

namespace {
struct QueryExecutor : ops::Executor {
    explicit QueryExecutor(AdoQuery& q) : q(q) {}
    void send(const ops::Statement& s) override {
        q.close();
        q.setText(s.text);
        q.execute();
        q.close();
    }
    AdoQuery& query() override { return q; }
    AdoQuery& q;
};

QString connectionAs(const DevServer& dev, const QString& login, const QString& password) {
    return QStringLiteral("Provider=SQLNCLI11.0;Data Source=%1;User ID=%2;Password=%3")
        .arg(dev.dataSource(), login, password);
}
} // namespace

class ArrivedDatabase : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_state.isValid());
        ops::setJournalForTests(m_state.path());
    }

    // The administrator here is dba; sa is there too. Both are offered as the owner.
    void orphansAreToldAndMended_data() {
        QTest::addColumn<int>("version");
        for (int v : {2000, 2008, 2019})
            QTest::newRow(qPrintable(QString::number(v))) << v;
    }
    void orphansAreToldAndMended() {
        QFETCH(int, version);
        const int major = version == 2000 ? 8 : version == 2008 ? 10 : 15;
        DevServer dev(version, {QStringLiteral("--login"), QStringLiteral("dba:Dba-pass-1x")});
        const QString foreign = dev.scratch() + QStringLiteral("/foreign");
        QCOMPARE(QProcess::execute(QStringLiteral(ZELVARO_DEVSERVER),
                                   {QStringLiteral("--foreign-files"), foreign}),
                 0);
        AdoConnection c;
        c.setConnectionString(connectionAs(dev, QStringLiteral("dba"), QStringLiteral("Dba-pass-1x")));
        c.setIdleMillisForTests(600000); // no probe of an idle link among the logged batches
        AdoQuery q(c);
        auto sql = [&](const QString& text) {
            q.close();
            q.setText(text);
            q.execute();
            q.close();
        };
        sql(version == 2000
                ? QStringLiteral("EXEC sp_addlogin @loginame = N'app', @passwd = N'Kx9-pass-word'")
                : QStringLiteral("CREATE LOGIN [app] WITH PASSWORD = N'Kx9-pass-word'"));
        sql(QStringLiteral("RESTORE DATABASE [Sales] FROM DISK = N'%1/Sales.bak' WITH MOVE N'Sales' TO "
                           "N'%2/Sales.mdf', MOVE N'Sales_log' TO N'%2/Sales_log.ldf'")
                .arg(foreign, dev.scratch()));

        const ar::Findings found = ar::find(q, QStringLiteral("Sales"), major);
        QStringList told;
        for (const ar::OrphanedUser& u : found.users)
            told << u.name + (u.windows       ? QStringLiteral(" (windows)")
                              : u.loginOfName ? QStringLiteral(" (login)")
                                              : QString());
        QCOMPARE(told, (QStringList{QStringLiteral("app (login)"), QStringLiteral("reporter"),
                                    QStringLiteral("бухгалтер"), QStringLiteral("CORP\\olena (windows)")}));
        QVERIFY(found.ownerUnknown);
        QCOMPARE(found.ownerSid.toHex().toUpper(), QByteArray("3C5A7E9F1B2D4F6081A3C5E7092B4D6F"));
        QCOMPARE(found.owners, (QStringList{QStringLiteral("sa"), QStringLiteral("dba")}));

        // Each plan runs exactly what it shows: the stand-in's log, batch for batch, is its T-SQL.
        auto runAndCompare = [&](const ops::Plan& plan) {
            const qint64 from = dev.receivedStatements().size();
            QueryExecutor executor(q);
            const ops::Ran ran = ops::run(plan, executor, ops::journal());
            QVERIFY(ran.done);
            QStringList batches;
            for (const QString& b : dev.receivedStatements().mid(from).split(
                     QStringLiteral("\n--- end of batch ---\n"), Qt::SkipEmptyParts))
                batches << b.trimmed();
            QCOMPARE(batches, plan.shown().split(QLatin1Char('\n')));
        };
        // бухгалтер gets no password: the plan leaves it, and says so.
        const ops::Plan users =
            ar::users(found, {{QStringLiteral("reporter"), QStringLiteral("Rep-pass-1'x")}});
        QVERIFY(users.statements.at(2).text.contains(QStringLiteral("N'Rep-pass-1''x'")));
        QVERIFY(!users.shown().contains(QStringLiteral("Rep-pass")));
        QCOMPARE(users.statements.size(), 4); // USE, map app, create reporter, USE [master]
        QVERIFY(users.question.startsWith(QStringLiteral("Без входу залишаться: бухгалтер.\n")));
        runAndCompare(users);
        QCOMPARE(ar::outcome(users, found, q),
                 (QStringList{QStringLiteral("• app — тепер має вхід app."),
                              QStringLiteral("• reporter — тепер має вхід reporter."),
                              QStringLiteral("• бухгалтер — досі без входу.")}));

        // The second choice: the connected login owns it.
        const ops::Plan owner = ar::owner(found, QStringLiteral("dba"));
        runAndCompare(owner);
        QCOMPARE(ar::outcome(owner, found, q),
                 QStringList{QStringLiteral("• Власник бази даних — вхід цього сервера.")});
        QVERIFY(!dev.receivedStatements().contains(QStringLiteral("Rep-pass")));

        // A second client reads the catalog: dbo has dba's SID, app's user app's login SID, and the
        // applications' logins open the database.
        AdoConnection second;
        second.setConnectionString(connectionAs(dev, QStringLiteral("dba"), QStringLiteral("Dba-pass-1x")));
        AdoQuery r(second);
        auto sids = [&](const QString& text) {
            QMap<QString, QString> out;
            r.close();
            r.setText(text);
            r.openRowset();
            for (r.first(); !r.atEnd(); r.next())
                out[r.field(QStringLiteral("name")).trimmed()] = r.field(QStringLiteral("sid"));
            r.close();
            return out;
        };
        const auto logins =
            sids(version == 2000 ? QStringLiteral("SELECT name, sid FROM master.dbo.syslogins")
                                 : QStringLiteral("SELECT name, sid FROM sys.server_principals"));
        const auto dbUsers =
            sids(version == 2000 ? QStringLiteral("SELECT name, sid FROM [Sales].dbo.sysusers")
                                 : QStringLiteral("SELECT name, sid FROM [Sales].sys.database_principals"));
        QCOMPARE(dbUsers.value(QStringLiteral("dbo")), logins.value(QStringLiteral("dba")));
        QCOMPARE(dbUsers.value(QStringLiteral("app")), logins.value(QStringLiteral("app")));
        QCOMPARE(logins.value(QStringLiteral("reporter")).toUpper(),
                 QStringLiteral("2F4E6D8CA1B3C5D7E9F10213243546A7"));
        for (const auto& [login, password] :
             {std::pair{QStringLiteral("app"), QStringLiteral("Kx9-pass-word")},
              std::pair{QStringLiteral("reporter"), QStringLiteral("Rep-pass-1'x")}}) {
            AdoConnection other;
            other.setConnectionString(connectionAs(dev, login, password));
            other.open();
            other.setDefaultDatabase(QStringLiteral("Sales"));
            // A login that is a user of the database is not offered as its owner: the server refuses it.
            AdoQuery asThem(other);
            QCOMPARE(ar::find(asThem, QStringLiteral("Sales"), major).owners,
                     QStringList{QStringLiteral("sa")});
        }
    }

private:
    QTemporaryDir m_state;
};

QTEST_GUILESS_MAIN(ArrivedDatabase)
#include "tst_arrived_database.moc"
