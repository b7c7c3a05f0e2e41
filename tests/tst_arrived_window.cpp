// A backup from another server restored through the window: the success message names the users
// whose logins this server lacks and the unknown owner; each new login's password is asked first,
// and the one Yes sends exactly the T-SQL its confirmation shows (passwords as stars); the server's
// catalog and log say the same. The database list offers the same check for a chosen database.
#include "WindowHarness.h"

#include <QtTest>

namespace {
// Makes the files of a database from another server and a login `app` that one of its users names.
QString foreignFiles(WindowHarness& h) {
    const QString foreign = h.server.scratch() + QStringLiteral("/foreign");
    if (QProcess::execute(QStringLiteral(ZELVARO_DEVSERVER), {QStringLiteral("--foreign-files"), foreign}) !=
        0)
        return {};
    h.sql(QStringLiteral("create login [app] with password = N'Kx9-pass-word'"));
    return foreign;
}
} // namespace

class ArrivedWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void restoreFromAnotherServerOffersTheMend() {
        WindowHarness h;
        const QString foreign = foreignFiles(h);
        QVERIFY(!foreign.isEmpty());
        QVERIFY(h.connect());
        h.readFileList(foreign + QStringLiteral("/Sales.bak"));
        h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));
        h.script.clear();
        h.script.choose(QStringLiteral("Rep-pass-1'x")); // reporter's new login
        h.script.cancelPicker();                         // бухгалтер is left
        h.script.answer(Reply::Yes);                     // map and create
        h.script.answer(Reply::OK);                      // what the server says now
        h.script.answer(Reply::Yes);                     // sa owns it
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Sales"));

        const QList<modal::Request>& seen = h.script.seen;
        QCOMPARE(seen.size(), 6);
        QCOMPARE(seen[0].kind, modal::Kind::Password);
        QVERIFY(seen[0].text.startsWith(QStringLiteral("База даних Sales успішно відновлена")));
        QVERIFY(seen[0].text.contains(QStringLiteral("CORP\\olena — користувач Windows")));
        QVERIFY(seen[1].text.startsWith(QStringLiteral("Пароль нового входу бухгалтер")));
        // What Yes sends, and only that: бухгалтер, left, is not in it.
        QCOMPARE(seen[2].statements,
                 QStringLiteral("USE [Sales]\nALTER USER [app] WITH LOGIN = [app]\n"
                                "CREATE LOGIN [reporter] WITH PASSWORD = N'********', "
                                "SID = 0x2F4E6D8CA1B3C5D7E9F10213243546A7\nUSE [master]"));
        QVERIFY(seen[2].text.contains(QStringLiteral("Без входу залишаться: бухгалтер.")));
        QVERIFY(seen[3].text.contains(QStringLiteral("• reporter — тепер має вхід reporter.")));
        QVERIFY(seen[3].text.contains(QStringLiteral("• бухгалтер — досі без входу.")));
        QCOMPARE(seen[4].statements, QStringLiteral("ALTER AUTHORIZATION ON DATABASE::[Sales] TO [sa]"));
        QVERIFY(seen[5].text.contains(QStringLiteral("Власник бази даних — вхід цього сервера.")));

        // The server's log holds the shown batches, one after another, and no password.
        const QString log = h.server.receivedStatements().remove(QLatin1Char('\r'));
        QVERIFY2(log.contains(seen[2]
                                  .statements.split(QLatin1Char('\n'))
                                  .join(QStringLiteral("\n\n--- end of batch ---\n"))),
                 qPrintable(log.right(800)));
        QVERIFY(!log.contains(QStringLiteral("Rep-pass")));
        // A second client reads the catalog; app opens its database.
        QVERIFY(h.sql(QStringLiteral("select name, sid from [Sales].sys.database_principals"))
                    .contains(QStringLiteral("dbo\t01")));
        AdoConnection app;
        app.setConnectionString(
            QStringLiteral("Provider=SQLNCLI11.0;Data Source=%1;User ID=app;Password=Kx9-pass-word")
                .arg(h.server.dataSource()));
        app.open();
        app.setDefaultDatabase(QStringLiteral("Sales"));
    }

    // On the database list, from the keyboard: the list, then Tab past detach and delete to the
    // check. A database from another server gets the same offer; No leaves it as it is.
    void theListChecksTheChosenDatabase() {
        WindowHarness h;
        const QString foreign = foreignFiles(h);
        QVERIFY(!foreign.isEmpty());
        h.sql(QStringLiteral("RESTORE DATABASE [Sales] FROM DISK = N'%1/Sales.bak' WITH "
                             "MOVE N'Sales' TO N'%2/Sales.mdf', MOVE N'Sales_log' TO N'%2/Sales_log.ldf'")
                  .arg(foreign, h.server.scratch()));
        QVERIFY(h.connect());
        h.openPage(WindowHarness::DatabasesPage);
        QAbstractButton* check = h.button("BitBtn6");
        QVERIFY(!check->isEnabled());
        h.script.clear();
        h.script.cancelPicker(); // reporter
        h.script.cancelPicker(); // бухгалтер
        h.script.answer(Reply::No);
        h.script.answer(Reply::No);
        QVERIFY(h.selectListed(QStringLiteral("Sales")));
        h.databaseList()->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), check);
        QTest::keyClick(check, Qt::Key_Return);
        QCOMPARE(h.script.seen.size(), 4);
        QVERIFY(h.script.seen[0].text.startsWith(QStringLiteral("Користувачі бази даних, чиї SID")));
        QCOMPARE(h.script.seen[2].statements,
                 QStringLiteral("USE [Sales]\nALTER USER [app] WITH LOGIN = [app]\nUSE [master]"));
        QVERIFY(h.script.seen[3].statements.contains(QStringLiteral("TO [sa]")));
        QVERIFY(h.sql(QStringLiteral("select name, sid from [Sales].sys.database_principals"))
                    .contains(QStringLiteral("3c5a7e9f1b2d4f6081a3c5e7092b4d6f"))); // No: the owner stays
    }
};

QTEST_MAIN(ArrivedWindow)
#include "tst_arrived_window.moc"
