// A backup from another server restored through the window: the success message names the users
// whose logins this server lacks and the unknown owner, and on Yes mends them with the T-SQL shown,
// each new login's password asked and shown as stars; the server's catalog and log say the same.
#include "WindowHarness.h"

#include <QtTest>

class ArrivedWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void restoreFromAnotherServerOffersTheMend() {
        WindowHarness h;
        const QString foreign = h.server.scratch() + QStringLiteral("/foreign");
        QCOMPARE(QProcess::execute(QStringLiteral(ZELVARO_DEVSERVER),
                                   {QStringLiteral("--foreign-files"), foreign}),
                 0);
        h.sql(QStringLiteral("create login [app] with password = N'Kx9-pass-word'"));
        QVERIFY(h.connect());
        h.readFileList(foreign + QStringLiteral("/Sales.bak"));
        h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));
        h.script.clear();
        h.script.answer(Reply::Yes);                     // map and create
        h.script.choose(QStringLiteral("Rep-pass-1'x")); // reporter's new login
        h.script.cancelPicker();                         // бухгалтер is left
        h.script.answer(Reply::OK);                      // what the server says now
        h.script.answer(Reply::Yes);                     // sa owns it
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Sales"));

        const QList<modal::Request>& seen = h.script.seen;
        QCOMPARE(seen.size(), 6);
        QVERIFY(seen[0].text.startsWith(QStringLiteral("База даних Sales успішно відновлена")));
        QVERIFY(seen[0].text.contains(QStringLiteral("CORP\\olena — користувач Windows")));
        QVERIFY(seen[0].statements.contains(QStringLiteral("ALTER USER [app] WITH LOGIN = [app]")));
        QVERIFY(
            seen[0].statements.contains(QStringLiteral("CREATE LOGIN [reporter] WITH PASSWORD = N'********', "
                                                       "SID = 0x2F4E6D8CA1B3C5D7E9F10213243546A7")));
        QCOMPARE(seen[1].kind, modal::Kind::Password);
        QVERIFY(seen[2].text.contains(QStringLiteral("бухгалтер")));
        QVERIFY(seen[3].text.contains(QStringLiteral("• reporter — тепер має вхід reporter.")));
        QVERIFY(seen[3].text.contains(QStringLiteral("• бухгалтер — досі без входу.")));
        QVERIFY(
            seen[4].statements.contains(QStringLiteral("ALTER AUTHORIZATION ON DATABASE::[Sales] TO [sa]")));
        QVERIFY(seen[5].text.contains(QStringLiteral("Власник бази даних — вхід цього сервера.")));

        // A second client reads the catalog; the server's log holds no password.
        QVERIFY(h.sql(QStringLiteral("select name, sid from [Sales].sys.database_principals"))
                    .contains(QStringLiteral("dbo\t01")));
        const QString log = h.server.receivedStatements();
        QVERIFY(log.contains(QStringLiteral("CREATE LOGIN [reporter] WITH PASSWORD = N'********'")));
        QVERIFY(!log.contains(QStringLiteral("Rep-pass")));
        AdoConnection app;
        app.setConnectionString(
            QStringLiteral("Provider=SQLNCLI11.0;Data Source=%1;User ID=app;Password=Kx9-pass-word")
                .arg(h.server.dataSource()));
        app.open();
        app.setDefaultDatabase(QStringLiteral("Sales"));
    }
};

QTEST_MAIN(ArrivedWindow)
#include "tst_arrived_window.moc"
