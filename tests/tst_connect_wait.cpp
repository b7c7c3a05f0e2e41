// The connect through the real window against a server that accepts the connection and then says
// nothing: the window paints and takes keys meanwhile, the wait shows itself after a moment, and
// Cancel gives up at once, whether the connect button or a page's action started it.
#include "WindowHarness.h"

#include "EventCounter.h"

#include "ProgressDialog.h"
#include "ServerWait.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A listening socket nobody reads: the system completes each connection (a server that is starting,
// or one whose replies a firewall drops), and the client waits for a reply that never comes.
// Closing it resets what it holds, so a connect left behind ends then.
class SilentListener {
public:
    SilentListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(m_fd, 8) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(m_fd); }
    QString dataSource() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }
    bool ok() const { return m_port > 0; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// The wait's dialog as it opens, and an action once it is up: Esc on it, as the user's key.
struct WaitWatch {
    QPointer<ProgressDialog> dialog;
    QElapsedTimer clock;
    qint64 shownAfterMs = -1;
    qint64 cancelledAtMs = -1;
    int statusWhileUp = -1;
    bool statusLegible = false; // the picture as drawn on the disabled button is the one it shows
    QString lineWhileUp;
    EventCounter counted;
    QTimer timer;

    explicit WaitWatch(WindowHarness& h) {
        modal::setProgressWatcher([this](ProgressDialog& opened) { dialog = &opened; });
        h.window->installEventFilter(&counted);
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, &h] {
            if (!dialog || !dialog->isVisible() || cancelledAtMs >= 0)
                return;
            // A second turn after it showed: the window has had time to paint and take a key.
            if (shownAfterMs < 0) {
                shownAfterMs = clock.elapsed();
                h.window->update();
                QCoreApplication::postEvent(h.window.get(),
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier));
                return;
            }
            statusWhileUp = int(h.window->status());
            {
                auto* button = h.window->findChild<QToolButton*>(QStringLiteral("ToolButton1"));
                const QIcon icon = button->icon();
                statusLegible = !button->isEnabled() &&
                                icon.pixmap(32, QIcon::Disabled).toImage() == icon.pixmap(32).toImage();
            }
            lineWhileUp = dialog->line();
            cancelledAtMs = clock.elapsed();
            QTest::keyClick(dialog.data(), Qt::Key_Escape);
        });
    }
    ~WaitWatch() { modal::setProgressWatcher(nullptr); }
    void start() {
        counted.paints = counted.keys = 0;
        clock.start();
        timer.start();
    }
};
} // namespace

class TestConnectWait : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // The connect button: the window lives while it waits, the dialog says so, and Cancel ends the
    // wait at once with nothing told and the window as before the connect.
    void cancelledConnectLeavesTheWindowNotConnected() {
        SilentListener silent;
        QVERIFY(silent.ok());
        WindowHarness h;
        WaitWatch watch(h);
        h.serverName()->setText(silent.dataSource());
        watch.start();
        h.connectButton()->click();
        const qint64 returnedAt = watch.clock.elapsed();

        QVERIFY2(watch.shownAfterMs >= 0, "the wait never showed itself");
        QVERIFY(watch.shownAfterMs >= serverwait::kShowAfterMs - 50);
        QCOMPARE(watch.lineWhileUp, QStringLiteral("Підключення до сервера"));
        QCOMPARE(watch.statusWhileUp, int(TMain::Status::Connecting));
        QVERIFY2(watch.statusLegible, "the connecting picture is greyed out with the disabled controls");
        QVERIFY(watch.counted.paints > 0);
        QCOMPARE(watch.counted.keys, 1);
        // Given up at once, not at the login time-out (15 s).
        QVERIFY2(returnedAt - watch.cancelledAtMs < 1000,
                 qPrintable(QString::number(returnedAt - watch.cancelledAtMs)));
        QVERIFY(h.script.seen.isEmpty());
        QVERIFY(!h.window->connection().isOpen());
        QCOMPARE(h.window->status(), TMain::Status::Disconnected);
        QVERIFY(!h.pages()->isVisible());
        QVERIFY(h.connectButton()->isEnabled());
        QVERIFY(!watch.dialog); // gone with its wait

        // The attempt left behind changes nothing: the next connect is the ordinary one.
        h.pointAtServer();
        QVERIFY(h.connect());
        QCOMPARE(h.script.texts(), QStringList{QStringLiteral("Підключення успішно виконано !")});
        QCOMPARE(h.window->status(), TMain::Status::Connected);
    }

    // A page's action that connects first waits the same way; given up, the action stops there
    // (its statements would only start the wait again): nothing is reported, the window is not
    // connected. The databases page's rule, which lists after connecting, stops as after a failure.
    void cancelledConnectStopsThePageAction() {
        SilentListener silent;
        QVERIFY(silent.ok());
        WindowHarness h;
        QVERIFY(h.connect());
        h.openPage(2);
        const QString backup = h.folder(QStringLiteral("in")) + QStringLiteral("/any.bak");
        QVERIFY(writeFile(backup, "not read"));
        // A changed setting closes the connection and leaves the pages shown.
        h.serverName()->setText(silent.dataSource());
        QVERIFY(h.pages()->isVisible());
        WaitWatch watch(h);
        h.script.clear();
        h.script.choose(backup);
        watch.start();
        h.pickBackupButton()->click();
        QVERIFY(watch.cancelledAtMs >= 0);
        QCOMPARE(h.script.seen.size(), 1); // the file picker, and nothing after it
        QCOMPARE(h.script.last().kind, modal::Kind::OpenFile);
        QVERIFY(!h.window->connection().isOpen());
        QCOMPARE(h.window->status(), TMain::Status::Disconnected);

        watch.shownAfterMs = watch.cancelledAtMs = -1;
        h.script.clear();
        watch.start();
        h.openPage(1);
        QVERIFY(watch.cancelledAtMs >= 0);
        QVERIFY(h.listed().isEmpty());
        QVERIFY(h.script.seen.isEmpty());
        QVERIFY(!h.window->connection().isOpen());
    }

    // A quick connect shows no dialog at all.
    void quickConnectShowsNothing() {
        WindowHarness h;
        bool shown = false;
        bool waited = false;
        QPointer<ProgressDialog> dialog;
        modal::setProgressWatcher([&](ProgressDialog& opened) {
            dialog = &opened;
            waited = true;
        });
        QTimer sample;
        QObject::connect(&sample, &QTimer::timeout, [&] { shown = shown || (dialog && dialog->isVisible()); });
        sample.start(10);
        QVERIFY(h.connect());
        modal::setProgressWatcher(nullptr);
        QVERIFY(waited); // on the worker all the same
        QVERIFY(!shown);
    }
};

QTEST_MAIN(TestConnectWait)
#include "tst_connect_wait.moc"
