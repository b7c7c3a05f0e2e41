// Long statements through the real window against a stand-in that paces its backups and restores:
// the event loop lives while they run, the progress dialog follows the server's messages, Cancel
// and closing the window stop them, and the connection serves the next statement.
#include "WindowHarness.h"

#include "LongOperation.h"
#include "ProgressDialog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {
// A few megabytes at one megabyte a second: each backup or restore takes about four seconds.
const QStringList kPaced = {QStringLiteral("--throughput"), QStringLiteral("1")};
const int kDatabaseMegabytes = 2;
// How long the progress dialog is up before a test cancels: a share of the way whatever the size.
const int kCancelAfterMs = 1000;

// Follows the operations of one test: a timer of the test's own that samples what the window shows
// while a statement runs, and the progress dialog as it opens.
struct OperationWatch {
    QPointer<ProgressDialog> dialog;
    QElapsedTimer sinceShown; // since the timer first saw the dialog up
    int ticksWhileRunning = 0;
    bool controlsStayedDisabled = true;
    QList<int> percentsSeen; // distinct values of the bar, in the order the timer saw them
    bool cancelClicked = false;
    std::function<void(ProgressDialog&)> onTick;
    QTimer timer;

    explicit OperationWatch(WindowHarness& h) {
        modal::setProgressWatcher([this](ProgressDialog& opened) { dialog = &opened; });
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, &h] {
            if (!longop::isRunning())
                return;
            ++ticksWhileRunning;
            if (h.widget<QWidget>("PageControl1")->isEnabled() || h.widget<QWidget>("Panel1")->isEnabled())
                controlsStayedDisabled = false;
            if (!dialog)
                return;
            if (dialog->isVisible() && !sinceShown.isValid())
                sinceShown.start();
            const int percent = dialog->percent();
            if (percent >= 0 && (percentsSeen.isEmpty() || percentsSeen.last() != percent))
                percentsSeen << percent;
            if (onTick)
                onTick(*dialog);
        });
        timer.start();
    }
    ~OperationWatch() { modal::setProgressWatcher(nullptr); }
    void reset() {
        sinceShown.invalidate();
        ticksWhileRunning = 0;
        percentsSeen.clear();
        onTick = nullptr;
    }
};

// A database whose data file holds some megabytes, so that its backup has bytes to pace; its files
// start at one megabyte each, not at the model database's size.
void createSizedDatabase(WindowHarness& h, const QString& name, int extraMegabytes = kDatabaseMegabytes) {
    const QString files = h.server.dataDir() + "/" + name;
    h.sql(QStringLiteral(
              "CREATE DATABASE [%1] ON PRIMARY (NAME = N'%1', FILENAME = N'%2.mdf', SIZE = 1MB) LOG ON "
              "(NAME = N'%1_log', FILENAME = N'%2_log.ldf', SIZE = 1MB)")
              .arg(name, files));
    QFile data(h.server.dataDir() + "/" + name + ".mdf");
    QVERIFY(data.open(QIODevice::Append));
    const QByteArray megabyte(1 << 20, 'z');
    for (int i = 0; i < extraMegabytes; ++i)
        data.write(megabyte);
}

// The stand-in runs with these options from here on; what the test set up before ran at full speed.
void restartWith(WindowHarness& h, const QStringList& options) {
    h.server.stop();
    h.server.setExtraArguments(options);
    QVERIFY(h.server.start());
}

void startBackup(WindowHarness& h, const QString& database, const QString& file) {
    h.openPage(3);
    auto* combo = h.widget<QComboBox>("cbDataBase1");
    combo->setCurrentIndex(combo->findText(database));
    h.edit("edSavePathBAK")->setText(file);
    h.button("BitBtn5")->click();
}

// Reads the backup's file list and restores it as a new database into the scratch folder.
void startRestore(WindowHarness& h, const QString& file, const QString& database) {
    h.openPage(2);
    h.script.choose(file);
    h.button("SpeedButton5")->click();
    h.edit("Edit1")->setText(database);
    h.script.choose(h.server.scratch());
    h.button("SpeedButton1")->click();
    h.button("BitBtn3")->click();
}

// Cancels the operation as soon as its dialog shows.
void cancelOnceShown(OperationWatch& watch) {
    watch.onTick = [&watch](ProgressDialog& d) {
        if (d.isVisible() && !d.isCancelling()) {
            d.cancelButton()->click();
            watch.cancelClicked = true;
        }
    };
}

QString backupDone(const QString& database) {
    return QStringLiteral("Створення резервної копії бази даних ") + database +
           QStringLiteral(" успішно виконано.\nКопію перевірено: з неї можна відновити базу даних.");
}
} // namespace

class LongOperations : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void serverMessagesGiveThePercent_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("percent");
        QTest::newRow("2005 and later") << 3211 << "10 percent processed" << 10;
        QTest::newRow("with its full stop") << 3211 << "100 percent processed." << 100;
        QTest::newRow("2000 backup") << 3211 << "30 percent backed up." << 30;
        QTest::newRow("2000 restore") << 3211 << "40 percent restored." << 40;
        QTest::newRow("a server speaking German") << 3211 << "20 Prozent verarbeitet." << 20;
        QTest::newRow("pages of a file")
            << 4035 << "Processed 20 pages for database 'A', file 'A' on file 1." << -1;
        QTest::newRow("end message")
            << 3014 << "BACKUP DATABASE successfully processed 40 pages in 0.010 seconds (1.000 MB/sec)."
            << -1;
        QTest::newRow("beyond the whole") << 3211 << "110 percent processed." << -1;
        QTest::newRow("another message that begins with a number") << 5701 << "10 percent processed" << -1;
    }
    void serverMessagesGiveThePercent() {
        QFETCH(int, number);
        QFETCH(QString, message);
        QFETCH(int, percent);
        QCOMPARE(longop::percentOf(number, message), percent);
    }

    // The loop runs while the statement does; the dialog's bar rises with the server's messages
    // (the restore asks for STATS as the backup does).
    void windowLivesAndProgressRises_data() {
        QTest::addColumn<bool>("restore");
        QTest::newRow("backup") << false;
        QTest::newRow("restore") << true;
    }
    void windowLivesAndProgressRises() {
        QFETCH(bool, restore);
        WindowHarness h(2019);
        createSizedDatabase(h, QStringLiteral("Big"));
        const QString bak = h.server.scratch() + "/big.bak";
        if (restore)
            h.sql(QStringLiteral("BACKUP DATABASE Big TO DISK = N'%1'").arg(bak));
        // Two megabytes a second: two seconds, a hundred ticks of the watch, a percent every sixth of one.
        restartWith(h, {QStringLiteral("--throughput"), QStringLiteral("2")});
        QVERIFY(h.connect());
        OperationWatch watch(h);
        QString caption, cancelText;
        watch.onTick = [&](ProgressDialog& d) {
            caption = d.windowTitle();
            cancelText = d.cancelButton()->text();
        };
        if (restore)
            startRestore(h, bak, QStringLiteral("Big copy"));
        else
            startBackup(h, QStringLiteral("Big"), bak);

        QVERIFY(!longop::isRunning());
        QCOMPARE(h.script.last().text,
                 restore ? QStringLiteral("База даних Big copy успішно відновлена із файлу ") + bak
                         : backupDone(QStringLiteral("Big")));
        QVERIFY2(watch.ticksWhileRunning >= 20, qPrintable(QString::number(watch.ticksWhileRunning)));
        QVERIFY(watch.controlsStayedDisabled);
        QVERIFY(h.widget<QWidget>("PageControl1")->isEnabled());
        QCOMPARE(caption, QStringLiteral("Zelvaro"));
        QCOMPARE(cancelText, QStringLiteral("Скасувати"));
        // Seen while the statement ran, not all at its end.
        QVERIFY2(watch.percentsSeen.size() >= 3,
                 qPrintable(QStringLiteral("seen: %1").arg(QString::number(watch.percentsSeen.size()))));
        for (int i = 1; i < watch.percentsSeen.size(); ++i)
            QVERIFY(watch.percentsSeen[i] > watch.percentsSeen[i - 1]);
    }

    // Cancel mid-way: the cancelled message, never the success one; the server left as SQL Server
    // leaves it (an unfinished backup set, a database still restoring); the same connection goes on.
    void cancelMidwayThenTheNextOperation_data() {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("cancelled");
        QTest::newRow("backup") << false << "Створення резервної копії бази даних Big скасовано.";
        QTest::newRow("restore") << true << "Відновлення бази даних Big copy скасовано.";
    }
    void cancelMidwayThenTheNextOperation() {
        QFETCH(bool, restore);
        QFETCH(QString, cancelled);
        WindowHarness h(2019);
        createSizedDatabase(h, QStringLiteral("Big"));
        createSizedDatabase(h, QStringLiteral("Small"), 0);
        const QString bak = h.server.scratch() + "/big.bak";
        if (restore)
            h.sql(QStringLiteral("BACKUP DATABASE Big TO DISK = N'%1'").arg(bak));
        restartWith(h, kPaced);
        QVERIFY(h.connect());
        const SQLHDBC connection = h.window->connection().handle();
        OperationWatch watch(h);
        // Cancelled once the dialog has been up for a while: a share of the way in.
        watch.onTick = [&watch](ProgressDialog& d) {
            if (!d.isCancelling() && d.isVisible() && watch.sinceShown.elapsed() >= kCancelAfterMs)
                d.cancelButton()->click();
        };
        h.script.clear();
        if (restore)
            startRestore(h, bak, QStringLiteral("Big copy"));
        else
            startBackup(h, QStringLiteral("Big"), h.server.scratch() + "/cancelled.bak");

        QVERIFY(!longop::isRunning());
        if (!restore) {
            QVERIFY(!watch.percentsSeen.isEmpty());
            QVERIFY(watch.percentsSeen.last() < 100);
        }
        const QStringList texts = h.script.texts();
        QVERIFY2(texts.last().startsWith(cancelled), qPrintable(texts.join('\n')));
        QCOMPARE(h.script.last().type, DialogType::Warning);
        for (const QString& text : texts)
            QVERIFY2(!text.contains(QStringLiteral("успішно")), qPrintable(text));
        if (restore) {
            QVERIFY(texts.last().contains(QLatin1String("RESTORING")));
            QVERIFY(h.databases().contains(QStringLiteral("Big copy")));
            QVERIFY(h.sql(QStringLiteral("USE [Big copy]")).contains(QLatin1String("927")));
        } else {
            const QString again = h.sql(QStringLiteral("RESTORE DATABASE Again FROM DISK = N'%1'")
                                            .arg(h.server.scratch() + "/cancelled.bak"));
            QVERIFY2(again.contains(QLatin1String("3256")), qPrintable(again));
        }

        // The next operation, on the same connection, runs to its end.
        watch.reset();
        startBackup(h, QStringLiteral("Small"), h.server.scratch() + "/small.bak");
        QCOMPARE(h.script.last().text, backupDone(QStringLiteral("Small")));
        QCOMPARE(h.window->connection().handle(), connection);
        QVERIFY(QFile::exists(h.server.scratch() + "/small.bak"));
    }

    // After a cancel the user is told what the server did: a stand-in that reads the cancel before
    // it starts the statement does nothing (an attach over a taken name then puts the old database
    // back), one that finishes every statement anyway has done it. The list shows either.
    void cancelTellsWhatTheServerDid_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("finishesAnyway");
        QTest::addColumn<QString>("told");
        QTest::newRow("attach over a taken name, cancelled")
            << "attach" << false
            << "Приєднання бази даних Old скасовано. База даних не приєднана.\nПопередню базу даних Old "
               "приєднано знову.";
        QTest::newRow("attach, finished anyway")
            << "attach" << true << "База даних Old успішно приєднана із файлу ";
        QTest::newRow("drop, cancelled")
            << "drop" << false << "Видалення бази даних Old скасовано. База даних не видалена.";
        QTest::newRow("drop, finished anyway") << "drop" << true << "База даних Old успішно видалена !";
        QTest::newRow("backup, cancelled")
            << "backup" << false
            << "Створення резервної копії бази даних Old скасовано. Повної резервної копії у файлі";
        // The check never ran: the copy is not called checked.
        QTest::newRow("backup, finished anyway")
            << "backup" << true
            << "Створення резервної копії бази даних Old перервано, але сервер встиг її завершити: копію у "
               "файлі ";
        QTest::newRow("restore, cancelled")
            << "restore" << false << "Відновлення бази даних Copy скасовано. База даних не відновлена.";
        QTest::newRow("restore, finished anyway")
            << "restore" << true << "База даних Copy успішно відновлена із файлу ";
        // Over a database of that name, into new paths: cancelled before the server began, the
        // database is as it was, with its old files.
        QTest::newRow("restore over a database, cancelled")
            << "replace" << false << "Відновлення бази даних Old скасовано. База даних не відновлена.";
    }
    void cancelTellsWhatTheServerDid() {
        QFETCH(QString, operation);
        QFETCH(bool, finishesAnyway);
        QFETCH(QString, told);
        WindowHarness h(2019);
        const QString folder = h.server.scratch();
        const QString bak = folder + "/old.bak";
        h.sql(
            QStringLiteral("CREATE DATABASE New ON PRIMARY (FILENAME = N'%1/new.mdf') LOG ON (FILENAME = "
                           "N'%1/new.ldf')\nEXEC sp_detach_db N'New', 'true'\nCREATE DATABASE Old ON PRIMARY "
                           "(FILENAME = N'%1/old.mdf') LOG ON (FILENAME = N'%1/old.ldf')")
                .arg(folder));
        if (operation == QLatin1String("restore") || operation == QLatin1String("replace"))
            h.sql(QStringLiteral("BACKUP DATABASE Old TO DISK = N'%1'").arg(bak));
        // From here each change keeps the server busy for a second: the cancel comes while it works.
        QStringList slow = {QStringLiteral("--slow-changes"), QStringLiteral("1000")};
        if (finishesAnyway)
            slow << QStringLiteral("--ignore-attention");
        restartWith(h, slow);
        QVERIFY(h.connect());
        h.openPage(1);
        OperationWatch watch(h);
        h.script.clear();
        if (operation == QLatin1String("attach")) {
            h.openPage(0);
            h.edit("cbDatabase")->setText(QStringLiteral("Old"));
            h.edit("edPathMDF")->setText(folder + "/new.mdf");
            h.edit("edPathLDF")->setText(folder + "/new.ldf");
            cancelOnceShown(watch);
            h.button("BitBtn1")->click();
        } else if (operation == QLatin1String("drop")) {
            QVERIFY(h.selectListed(QStringLiteral("Old")));
            h.script.answer(6);
            cancelOnceShown(watch);
            h.button("BitBtn4")->click();
        } else if (operation == QLatin1String("backup")) {
            cancelOnceShown(watch);
            startBackup(h, QStringLiteral("Old"), folder + "/new.bak");
        } else {
            h.openPage(2);
            h.script.choose(bak);
            h.button("SpeedButton5")->click();
            const bool replace = operation == QLatin1String("replace");
            h.edit("Edit1")->setText(replace ? QStringLiteral("Old") : QStringLiteral("Copy"));
            h.script.choose(h.folder(QStringLiteral("copy")));
            h.button("SpeedButton1")->click();
            if (replace)
                h.script.answer(6); // replacing Old is asked
            cancelOnceShown(watch);
            h.button("BitBtn3")->click();
        }
        QVERIFY(!longop::isRunning());
        QVERIFY(watch.cancelClicked);
        QVERIFY2(h.script.texts().join('|').contains(told), qPrintable(h.script.texts().join('|')));
        const QString files =
            h.sql(QStringLiteral("SELECT physical_name FROM sys.master_files WHERE database_id "
                                 "= DB_ID(N'Old')"));
        const QStringList databases = h.databases();
        if (operation == QLatin1String("attach")) {
            QVERIFY(databases.contains(QStringLiteral("Old")));
            QVERIFY2(files.contains(finishesAnyway ? "new.mdf" : "old.mdf"), qPrintable(files));
        } else if (operation == QLatin1String("drop")) {
            QCOMPARE(databases.contains(QStringLiteral("Old")), !finishesAnyway);
            QCOMPARE(h.listed().contains(QStringLiteral("Old")), !finishesAnyway);
        } else if (operation == QLatin1String("restore")) {
            QCOMPARE(databases.contains(QStringLiteral("Copy")), finishesAnyway);
        } else if (operation == QLatin1String("replace")) {
            QVERIFY2(files.contains("old.mdf"), qPrintable(files));
        }
    }

    // After a cancel only the server says whether the backup was made: its sets before and after,
    // never this computer's file times. In its own root the file is not even on this computer; a
    // file that already held a backup of the database, stamped later than now by a clock that runs
    // ahead, is not a new one.
    void cancelledBackupIsJudgedByTheServer_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("ownRoot");
        QTest::addColumn<QString>("told");
        QTest::newRow("in its own root, finished anyway")
            << 2019 << true
            << "Створення резервної копії бази даних Old перервано, але сервер встиг її завершити";
        for (const int version : {2000, 2019})
            QTest::addRow("%d: an earlier set stamped ahead, not begun", version)
                << version << false << "Створення резервної копії бази даних Old скасовано.";
    }
    void cancelledBackupIsJudgedByTheServer() {
        QFETCH(int, version);
        QFETCH(bool, ownRoot);
        QFETCH(QString, told);
        WindowHarness h(version, ownRoot ? DevServer::ownRoot() : QStringList());
        h.sql(QStringLiteral("CREATE DATABASE Old"));
        const QString target =
            ownRoot ? QStringLiteral("/var/opt/mssql/data/Old.bak") : h.server.scratch() + "/old.bak";
        QStringList slow = {QStringLiteral("--slow-changes"), QStringLiteral("1000")};
        if (ownRoot) {
            slow = DevServer::ownRoot() + slow + QStringList{QStringLiteral("--ignore-attention")};
        } else {
            h.sql(QStringLiteral("BACKUP DATABASE Old TO DISK = N'%1'").arg(target));
            QFile earlier(target);
            QVERIFY(earlier.open(QIODevice::ReadWrite));
            QVERIFY(earlier.setFileTime(QDateTime::currentDateTime().addSecs(3600),
                                        QFileDevice::FileModificationTime));
        }
        restartWith(h, slow);
        QVERIFY(h.connect());
        OperationWatch watch(h);
        h.openPage(3);
        auto* combo = h.widget<QComboBox>("cbDataBase1");
        combo->setCurrentIndex(combo->findText(QStringLiteral("Old")));
        h.script.choose(target); // the server's own file dialog in its own root
        h.button("SpeedButton6")->click();
        QCOMPARE(h.edit("edSavePathBAK")->text(), target);
        h.script.clear();
        cancelOnceShown(watch);
        h.button("BitBtn5")->click();
        QVERIFY(watch.cancelClicked);
        QVERIFY2(h.script.texts().join('|').contains(told), qPrintable(h.script.texts().join('|')));
        QCOMPARE(QFileInfo::exists(h.server.hostPath(target)), true);
    }

    // A backup or restore that keeps the server silent for longer than the command time-out (a
    // restore without STATS does, for as long as it runs) is not cancelled by the client.
    void longSilenceIsNotATimeout_data() {
        QTest::addColumn<bool>("restore");
        QTest::newRow("backup") << false;
        QTest::newRow("restore") << true;
    }
    void longSilenceIsNotATimeout() {
        QFETCH(bool, restore);
        WindowHarness h(2019);
        // Two megabytes: a copy of two seconds, twice the time-out set below.
        createSizedDatabase(h, QStringLiteral("Big"), 0);
        const QString bak = h.server.scratch() + "/big.bak";
        if (restore)
            h.sql(QStringLiteral("BACKUP DATABASE Big TO DISK = N'%1'").arg(bak));
        restartWith(h, kPaced + QStringList{QStringLiteral("--silent")});
        QVERIFY(h.connect());
        h.window->connection().setCommandTimeout(1);
        h.script.clear();
        if (restore)
            startRestore(h, bak, QStringLiteral("Big copy"));
        else
            startBackup(h, QStringLiteral("Big"), bak);
        QCOMPARE(h.script.last().text,
                 restore ? QStringLiteral("База даних Big copy успішно відновлена із файлу ") + bak
                         : backupDone(QStringLiteral("Big")));
    }

    // The status picture follows a link lost under a backup, and the connection the next backup
    // opens by itself, on the window's thread although the worker notices both.
    void statusFollowsTheLinkOnTheWindowsThread() {
        // Outlive the window, which changes the picture once more as it closes.
        QList<int> shown;
        QList<QThread*> threads;
        WindowHarness h(2019, kPaced);
        createSizedDatabase(h, QStringLiteral("Big"), 0);
        QVERIFY(h.connect());
        QObject::connect(
            h.window.get(), &TMain::statusImageChanged, h.window.get(),
            [&](int index) {
                shown << index;
                threads << QThread::currentThread();
            },
            Qt::DirectConnection);
        OperationWatch watch(h);
        watch.onTick = [&h](ProgressDialog& d) {
            if (d.percent() >= 10 && h.server.isRunning()) {
                h.server.stop();
                QVERIFY(h.server.start());
            }
        };
        h.script.clear();
        startBackup(h, QStringLiteral("Big"), h.server.scratch() + "/lost.bak");
        // The link went; the server, asked on a new one, has no complete backup.
        QVERIFY(h.window->connection().isOpen());
        QVERIFY(!h.script.last().text.contains(QStringLiteral("успішно")));
        watch.reset();
        h.script.answer(1);
        startBackup(h, QStringLiteral("Big"), h.server.scratch() + "/again.bak");
        QCOMPARE(h.script.last().text, backupDone(QStringLiteral("Big")));
        QVERIFY(shown.size() >= 2);
        QCOMPARE(shown.first(), 2);
        QCOMPARE(shown.last(), 0);
        for (QThread* t : threads)
            QCOMPARE(t, h.window->thread());
    }

    // Closing the window while a backup runs asks first: "No" lets it finish, "Yes" cancels it and
    // the window closes once the user has been told. Closing the progress dialog asks the same
    // about the operation alone.
    void closingAsksFirst_data() {
        QTest::addColumn<bool>("dialogOnly");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("window, keep it running") << false << false;
        QTest::newRow("window, cancel and close") << false << true;
        QTest::newRow("dialog, keep it running") << true << false;
        QTest::newRow("dialog, cancel") << true << true;
    }
    void closingAsksFirst() {
        QFETCH(bool, dialogOnly);
        QFETCH(bool, cancel);
        WindowHarness h(2019, kPaced);
        // Two megabytes: the backup runs for two seconds, the question comes in its first.
        createSizedDatabase(h, QStringLiteral("Big"), 0);
        QVERIFY(h.connect());
        OperationWatch watch(h);
        // Every close the window gets, however late it comes.
        struct CloseCounter : QObject {
            int closes = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                closes += e->type() == QEvent::Close;
                return false;
            }
        } closeCounter;
        h.window->installEventFilter(&closeCounter);
        bool asked = false;
        watch.onTick = [&](ProgressDialog& d) {
            if (asked || !d.isVisible())
                return;
            asked = true;
            h.script.answer(cancel ? 6 : 7);
            if (dialogOnly)
                d.close();
            else
                h.window->close();
            QVERIFY(h.window->isVisible());
            QVERIFY(d.isVisible());
        };
        h.script.clear();
        startBackup(h, QStringLiteral("Big"), h.server.scratch() + "/big.bak");
        QVERIFY(asked);
        QCOMPARE(h.script.seen.first().text,
                 dialogOnly ? QStringLiteral("Операція ще виконується. Скасувати її?")
                            : QStringLiteral("Операція ще виконується. Скасувати її та закрити вікно?"));
        if (!cancel) {
            QCOMPARE(h.script.last().text, backupDone(QStringLiteral("Big")));
            QVERIFY(h.window->isVisible());
            return;
        }
        QVERIFY2(h.script.last().text.contains(QStringLiteral("скасовано")),
                 qPrintable(h.script.texts().join('|')));
        if (dialogOnly) {
            // A close the handler queued has run once the posted events have.
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            QCOMPARE(closeCounter.closes, 0);
            QVERIFY(h.window->isVisible());
            QVERIFY(h.window->connection().isOpen());
        } else {
            QTRY_VERIFY(!h.window->isVisible());
            QVERIFY(!h.window->connection().isOpen());
        }
    }
};

QTEST_MAIN(LongOperations)
#include "tst_long_operations.moc"
