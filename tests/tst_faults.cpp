// A stand-in told to misbehave: cut connections, slow answers, refused logins, a restart between
// two operations. The window shows the driver's message, never a false success, and stays usable.
#include "WindowHarness.h"

#include "RusUkrDlg.h"

#include <QApplication>
#include <QFile>
#include <QtTest>

namespace {
// Presses "Копіювання" for a database whose backup the server cuts off halfway.
void backUpWhileTheServerCutsTheLink(WindowHarness& h) {
    h.sql(QStringLiteral("CREATE DATABASE half"));
    QVERIFY(h.connect());
    h.script.clear();
    h.backup(QStringLiteral("half"), h.server.scratch() + "/half.bak");
}
} // namespace

class ServerFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // A link the server drops while a statement that changes something is on its way is reported
    // as lost once the server, asked again, has no complete backup; never as a success nor as the
    // driver's bare "Unknown error". The next operation connects again where it must.
    void backupCutHalfwayIsNotASuccess_data() { addVersionRows(); }
    void backupCutHalfwayIsNotASuccess() {
        QFETCH(int, version);
        WindowHarness h(version, {QStringLiteral("--drop-backup-halfway")});
        backUpWhileTheServerCutsTheLink(h);
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().kind, modal::Kind::SimpleMessage);
        QVERIFY(!h.script.last().text.contains(QStringLiteral("успішно")));
        QVERIFY(!h.script.last().text.contains(QLatin1String("Unknown error")));
        // The server was asked what it did (a lost link is asked about as a cancel is); the picture
        // says whether that left the window connected.
        QCOMPARE(h.window->statusImage(), h.window->connection().isOpen() ? 0 : 2);
        // SQL Server leaves the interrupted set on disk, unfinished: nothing in it can be restored.
        QVERIFY(
            h.sql(QStringLiteral("RESTORE FILELISTONLY FROM DISK = N'%1/half.bak'").arg(h.server.scratch()))
                .contains(QStringLiteral("Msg 3256")));
        // The next operation connects again by itself.
        h.script.clear();
        h.openPage(1);
        QCOMPARE(h.listed().size(), 1);
        QVERIFY(h.script.seen.isEmpty());
    }

    // The link goes right after the server has done a change, before its reply: the window asks
    // the server as after a cancel and tells what it did, never a failure for a change made.
    void linkLostAfterAChange_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("dropAfter"); // the change the link goes after
        QTest::addColumn<QString>("told");
        QTest::addColumn<QString>("oldFile"); // the file Old has afterwards
        QTest::newRow("attach over a taken name, the attach done")
            << "attach" << 2 << "База даних Old успішно приєднана із файлу"
            << "new.mdf";
        QTest::newRow("attach over a taken name, only the detach done")
            << "attach" << 1 << "Попередню базу даних Old приєднано знову."
            << "old.mdf";
        QTest::newRow("restore over a database, done")
            << "restore" << 1 << "База даних Old успішно відновлена із файлу"
            << "restored/Old.MDF";
    }
    void linkLostAfterAChange() {
        QFETCH(QString, operation);
        QFETCH(int, dropAfter);
        QFETCH(QString, told);
        QFETCH(QString, oldFile);
        WindowHarness h;
        const QString folder = h.server.scratch();
        h.sql(QStringLiteral(
                  "CREATE DATABASE New ON PRIMARY (FILENAME = N'%1/new.mdf') LOG ON (FILENAME = "
                  "N'%1/new.ldf')\nEXEC sp_detach_db N'New', 'true'\nCREATE DATABASE Old ON PRIMARY "
                  "(FILENAME = N'%1/old.mdf') LOG ON (FILENAME = N'%1/old.ldf')\nBACKUP DATABASE Old TO "
                  "DISK = N'%1/old.bak'")
                  .arg(folder));
        h.server.stop();
        h.server.setExtraArguments({QStringLiteral("--drop-after-change"), QString::number(dropAfter)});
        QVERIFY(h.server.start());
        QVERIFY(h.connect());
        if (operation == QLatin1String("attach")) {
            h.script.clear();
            h.attach(QStringLiteral("Old"), folder + "/new.mdf", folder + "/new.ldf");
        } else {
            h.readFileList(folder + "/old.bak");
            h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));
            h.script.clear();
            h.script.answer(Reply::Yes); // replacing Old
            h.restoreAs(QStringLiteral("Old"));
        }
        QVERIFY2(h.script.last().text.contains(told), qPrintable(h.script.texts().join('|')));
        const QString files = h.sql(
            QStringLiteral("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'Old')"));
        QVERIFY2(files.contains(folder + "/" + oldFile), qPrintable(files));
    }

    void refusedLoginShowsTheServersText() {
        WindowHarness h(2019, {QStringLiteral("--refuse-logins")});
        QVERIFY(!h.connect());
        QCOMPARE(h.script.last().text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("Login failed for user 'sa'"));
        QCOMPARE(h.window->statusImage(), 1);
    }

    void slowServerStillAnswers() {
        WindowHarness h(2000, {QStringLiteral("--slow"), QStringLiteral("150")});
        h.sql(QStringLiteral("CREATE DATABASE slow"));
        QVERIFY(h.connect());
        h.openPage(1);
        QCOMPARE(h.listed().size(), 1);
    }

    // A link found lost is a closed connection like any other: the grey image, and the big button
    // connects again.
    void lostLinkShowsNotConnected() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE one"));
        QVERIFY(h.connect());
        QCOMPARE(h.window->statusImage(), 0);
        h.server.stop();
        h.script.clear();
        h.openPage(1); // the listing finds the link gone and cannot open a new one
        QVERIFY(!h.window->connection().isOpen());
        QCOMPARE(h.window->statusImage(), 2);
        QCOMPARE(h.connectButton()->toolTip(), QStringLiteral("Відключитися"));

        QVERIFY(h.server.start());
        h.script.clear();
        h.script.answer(Reply::OK);
        h.connectButton()->click();
        QCOMPARE(h.script.texts(), QStringList{QStringLiteral("Підключення успішно виконано !")});
        QVERIFY(h.window->connection().isOpen());
        QCOMPARE(h.window->statusImage(), 0);
        QCOMPARE(h.connectButton()->toolTip(), QStringLiteral("Відключитися"));
    }

    // A backup pressed again right after the server restarted: the server closed the old link
    // before the statement was sent, so nothing reached it and it runs on a new connection.
    void backupRightAfterARestart() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE keep"));
        QVERIFY(h.connect());
        h.script.answer(Reply::OK);
        h.backup(QStringLiteral("keep"), h.server.scratch() + "/keep.bak");
        QVERIFY(h.script.last().text.contains(QStringLiteral("успішно")));

        h.server.stop();
        QVERIFY(h.server.start());
        QFile::remove(h.server.scratch() + "/keep.bak");
        h.script.clear();
        h.script.answer(Reply::OK);
        h.backupButton()->click();
        QCOMPARE(h.script.texts(),
                 QStringList{QStringLiteral("Створення резервної копії бази даних keep успішно виконано.\n"
                                            "Копію перевірено: з неї можна відновити базу даних.")});
        QVERIFY(QFile::exists(h.server.scratch() + "/keep.bak"));
        QCOMPARE(h.window->statusImage(), 0);
    }

    void restartBetweenTwoOperations() {
        WindowHarness h;
        h.window->connection().setIdleMillisForTests(0); // every changing statement probes first
        h.sql(QStringLiteral("CREATE DATABASE one\nCREATE DATABASE two"));
        QVERIFY(h.connect());
        h.openPage(1);
        QCOMPARE(h.listed().size(), 2);
        h.server.stop();
        QVERIFY(h.server.start());
        h.script.clear();
        // A listing (changes nothing) goes through at once on a new connection.
        h.openPage(0);
        h.openPage(1);
        QCOMPARE(h.listed().size(), 2);
        QVERIFY(h.script.seen.isEmpty());

        h.server.stop();
        QVERIFY(h.server.start());
        // A detach (changes something) tests the idle connection first and then goes through.
        h.script.answer(Reply::Yes);
        QVERIFY(h.detach(QStringLiteral("one")));
        QCOMPARE(h.script.texts().size(), 1); // the question only
        QCOMPARE(h.listed().size(), 1);
        QVERIFY(!h.databases().contains(QStringLiteral("one")));
    }
};

QTEST_MAIN(ServerFaults)
#include "tst_faults.moc"
