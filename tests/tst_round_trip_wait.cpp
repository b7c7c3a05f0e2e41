// Statements the window's thread starts wait for the server on a worker: against a stand-in that
// goes quiet (stopped with SIGSTOP) the window paints and takes keys while a list is read, Cancel
// leaves the list empty as a failed read does, and once the server talks again the next action
// works on the same connection, which the given-up statement had to let go first. A wait started
// inside another wait's loop runs after it, never beside it on the connection.
#include "WindowHarness.h"

#include "EventCounter.h"

#include "ProgressDialog.h"
#include "ServerWait.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QtTest>

#include <csignal>

namespace {
// The longest time between two turns of the event loop while it lives.
struct StallClock {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestMs = 0;
    QTimer ticks;
    StallClock() {
        ticks.setInterval(5);
        QObject::connect(&ticks, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            longestMs = std::max(longestMs, now - last);
            last = now;
        });
        clock.start();
        ticks.start();
    }
};

// The wait's dialog once it shows: the window gets a repaint and a key, then Esc goes to the dialog.
struct GiveUpWhenShown {
    QPointer<ProgressDialog> dialog;
    int shown = 0;
    bool pressEsc = true;
    QString from; // when set, waits are let be until a dialog with this line has shown
    int escapesLeft = -1; // -1: no limit
    QPointer<ProgressDialog> escaped; // once per dialog: a long operation's stays up while it stops
    QString subjectWhileUp;
    EventCounter counted;
    QTimer timer;
    bool keyPosted = false;

    explicit GiveUpWhenShown(WindowHarness& h) {
        modal::setProgressWatcher([this](ProgressDialog& opened) {
            dialog = &opened;
            ++shown;
            keyPosted = false;
        });
        h.window->installEventFilter(&counted);
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, &h] {
            if (!dialog || !dialog->isVisible() || !pressEsc || dialog == escaped)
                return;
            if (!from.isEmpty()) {
                if (dialog->line() != from)
                    return;
                from.clear();
            }
            if (!keyPosted) {
                keyPosted = true;
                h.window->update();
                QCoreApplication::postEvent(h.window.get(),
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier));
                return;
            }
            if (escapesLeft == 0)
                return;
            if (escapesLeft > 0)
                --escapesLeft;
            subjectWhileUp = dialog->line();
            escaped = dialog;
            QTest::keyClick(dialog.data(), Qt::Key_Escape);
        });
        timer.start();
    }
    ~GiveUpWhenShown() { modal::setProgressWatcher(nullptr); }
};

bool createDatabase(const WindowHarness& h, const QString& name) {
    const QString base = h.server.scratch() + QLatin1Char('/') + name;
    return h.makeDatabase(name, base + QLatin1String(".mdf"), base + QLatin1String("_log.ldf"), false);
}

// Stops the stand-in's process while it lives (it hears the connection and says nothing).
struct Quiet {
    qint64 pid;
    explicit Quiet(qint64 p) : pid(p) { ::kill(pid_t(pid), SIGSTOP); }
    ~Quiet() { resume(); }
    void resume() {
        if (pid > 0)
            ::kill(pid_t(pid), SIGCONT);
        pid = 0;
    }
};
} // namespace

class TestRoundTripWait : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void quietServerDuringAListRead() {
        WindowHarness h;
        QVERIFY(createDatabase(h, QStringLiteral("Облік")));
        QVERIFY(h.connect());
        h.script.clear();

        GiveUpWhenShown giveUp(h);
        {
            Quiet quiet(h.server.processId());
            const StallClock stalls;
            giveUp.counted.paints = giveUp.counted.keys = 0;
            h.openPage(1); // lists the databases
            QCOMPARE(giveUp.shown, 1);
            QCOMPARE(giveUp.subjectWhileUp, QStringLiteral("Очікування відповіді сервера"));
            QVERIFY(giveUp.counted.paints > 0);
            QCOMPARE(giveUp.counted.keys, 1);
            QVERIFY2(stalls.longestMs < 1000, qPrintable(QString::number(stalls.longestMs)));
            // As a failed read: nothing listed, the page's buttons off, and the user is told why.
            QVERIFY(h.listed().isEmpty());
            QVERIFY(!h.detachButton()->isEnabled());
            QVERIFY(!h.dropButton()->isEnabled());
            QCOMPARE(h.script.seen.size(), 1);
            QVERIFY2(h.script.texts().first().contains(QStringLiteral("Очікування відповіді сервера скасовано")),
                     qPrintable(h.script.texts().first()));
            QVERIFY(h.window->connection().isOpen());

            // The next action starts while the given-up statement still holds the connection: it
            // waits for it on its worker, the window alive, and goes on once the server talks.
            h.openPage(0);
            h.script.clear();
            giveUp.pressEsc = false;
            QTimer::singleShot(1500, [&quiet] { quiet.resume(); });
            h.openPage(1);
        }
        QCOMPARE(h.listed(), QStringList{QStringLiteral("Облік")});
        QVERIFY(h.script.seen.isEmpty());
        QVERIFY(giveUp.counted.paints > 1);
    }

    // After a cancelled drop the server is asked whether the database is gone; a server too slow
    // to say, given up on, leaves the user told that it could not be asked, even when the list's
    // refresh after it is given up too.
    void questionAfterACancelGivenUp() {
        WindowHarness h;
        QVERIFY(createDatabase(h, QStringLiteral("Old")));
        h.server.stop();
        h.server.setExtraArguments({QStringLiteral("--slow"), QStringLiteral("1500")});
        QVERIFY(h.server.start());
        QVERIFY(h.connect());
        h.openPage(1);
        QVERIFY(h.selectListed(QStringLiteral("Old")));
        h.script.clear();
        h.script.answer(6); // the drop is confirmed
        GiveUpWhenShown giveUp(h); // the drop's own dialog, then every wait after it
        giveUp.from = QStringLiteral("Видалення бази даних");
        giveUp.escapesLeft = 3; // the drop, the question, the list's refresh
        h.dropButton()->click();
        QVERIFY(giveUp.shown >= 2);
        const QString told = h.script.texts().join(QLatin1Char('|'));
        QVERIFY2(told.contains(QStringLiteral("Видалення бази даних Old скасовано. Сервер не відповів, чи "
                                              "видалена база даних: перегляньте список баз даних.")),
                 qPrintable(told));
    }

    // A round trip started from a handler that runs inside another round trip's wait (a timer, a
    // repaint) waits its turn on the connection: both get their own answers.
    void waitInsideAWait() {
        WindowHarness h(2019, {QStringLiteral("--slow"), QStringLiteral("300")});
        QVERIFY(createDatabase(h, QStringLiteral("Склад")));
        QVERIFY(h.connect());
        AdoQuery inner(h.window->connection(), QStringLiteral("Inner"));
        QString innerAnswer;
        bool innerRan = false;
        QTimer::singleShot(100, [&] {
            QVERIFY(serverwait::isWaiting());
            inner.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = N'Склад'"));
            inner.openRowset();
            innerAnswer = inner.firstColumn();
            innerRan = true;
        });
        AdoQuery& outer = h.window->query();
        outer.setText(QStringLiteral("SELECT name, dbid FROM master.dbo.sysdatabases"));
        outer.openRowset();
        QVERIFY(innerRan);
        QCOMPARE(innerAnswer, QStringLiteral("Склад"));
        QCOMPARE(outer.rowCount(), 5); // four system databases and Склад
        QVERIFY(!serverwait::isWaiting());
    }
    // Closing the window while a read waits gives the wait up and closes: nothing is shown on the
    // way out, since there is no window left to tell (an error box would keep the program running).
    void closingDuringAWaitShowsNothing() {
        WindowHarness h;
        QVERIFY(h.connect());
        h.script.clear();
        Quiet quiet(h.server.processId());
        QTimer::singleShot(200, [&] {
            QVERIFY(serverwait::isWaiting());
            h.window->close();
        });
        h.openPage(1);
        QVERIFY(!h.window->isVisible());
        QVERIFY2(h.script.seen.isEmpty(), qPrintable(h.script.texts().join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TestRoundTripWait)
#include "tst_round_trip_wait.moc"
