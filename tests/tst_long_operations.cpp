// Long statements through the real window against a stand-in that paces its backups and restores:
// the event loop lives while they run, the progress dialog follows the server's messages, Cancel
// and closing the window stop them, and the connection serves the next statement.
#include "WindowHarness.h"

#include "LongOperation.h"
#include "ProgressDialog.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {
// A few megabytes at one megabyte a second: each backup or restore takes a few seconds.
const QStringList kPaced = {QStringLiteral("--throughput"), QStringLiteral("1")};
const int kDatabaseMegabytes = 4;

// Follows the operations of one test: a timer of the test's own that samples what the window shows
// while a statement runs, and the progress dialog as it opens.
struct OperationWatch {
    QPointer<ProgressDialog> dialog;
    int ticksWhileRunning = 0;
    bool controlsStayedDisabled = true;
    QList<int> percentsSeen; // distinct values of the bar, in the order the timer saw them
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
        ticksWhileRunning = 0;
        percentsSeen.clear();
        onTick = nullptr;
    }
};

// A database whose data file holds some megabytes, so that its backup has bytes to pace.
void createSizedDatabase(WindowHarness& h, const QString& name) {
    h.sql(QStringLiteral("CREATE DATABASE [%1]").arg(name));
    QFile data(h.server.dataDir() + "/" + name + ".mdf");
    QVERIFY(data.open(QIODevice::Append));
    const QByteArray megabyte(1 << 20, 'z');
    for (int i = 0; i < kDatabaseMegabytes; ++i)
        data.write(megabyte);
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

    // The loop runs while the statement does; the dialog's bar rises with the server's messages.
    // The restore statement asks for no STATS, so its bar only shows that something runs.
    void windowLivesAndProgressRises_data() {
        QTest::addColumn<bool>("restore");
        QTest::newRow("backup") << false;
        QTest::newRow("restore") << true;
    }
    void windowLivesAndProgressRises() {
        QFETCH(bool, restore);
        WindowHarness h(2019, kPaced);
        createSizedDatabase(h, QStringLiteral("Big"));
        const QString bak = h.server.scratch() + "/big.bak";
        QVERIFY(h.connect());
        if (restore)
            startBackup(h, QStringLiteral("Big"), bak);
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
        if (restore) {
            QVERIFY(watch.percentsSeen.isEmpty());
            return;
        }
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
        WindowHarness h(2019, kPaced);
        createSizedDatabase(h, QStringLiteral("Big"));
        h.sql(QStringLiteral("CREATE DATABASE Small"));
        const QString bak = h.server.scratch() + "/big.bak";
        QVERIFY(h.connect());
        if (restore)
            startBackup(h, QStringLiteral("Big"), bak);
        const SQLHDBC connection = h.window->connection().handle();
        OperationWatch watch(h);
        // The backup is cancelled at a fifth of the way; the restore, which reports no progress,
        // once its dialog has been up for a second.
        watch.onTick = [&watch, restore](ProgressDialog& d) {
            if (d.isCancelling() || !d.isVisible())
                return;
            if (restore ? watch.ticksWhileRunning >= 65 : d.percent() >= 20)
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
        createSizedDatabase(h, QStringLiteral("Big"));
        QVERIFY(h.connect());
        OperationWatch watch(h);
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
            QTest::qWait(50);
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
