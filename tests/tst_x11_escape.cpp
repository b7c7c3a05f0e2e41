// Esc on the dialog of a wait for the server, as the X11 window system delivers it (xdotool on a
// virtual X server without a window manager): the dialog takes the keyboard when it shows, so the
// key reaches its Cancel and not the main window, whose controls are disabled meanwhile.
#include "WindowHarness.h"

#include "ProgressDialog.h"

#include <QProcess>
#include <QTimer>
#include <QtTest>

#include <csignal>

class X11Escape : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "runs on an X server only");
        prepareApplication();
    }

    void escapeGivesUpAWaitForAQuietServer() {
        WindowHarness h;
        QVERIFY(h.connect());
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        h.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
        h.script.clear();
        const pid_t server = pid_t(h.server.processId());
        bool pressed = false;
        modal::setProgressWatcher([&pressed](ProgressDialog& d) {
            QTimer::singleShot(300, &d, [&pressed] {
                pressed = QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}) == 0;
            });
        });
        // A key that went elsewhere leaves the read waiting: the server talks again after a while.
        ::kill(server, SIGSTOP);
        QTimer::singleShot(6000, [server] { ::kill(server, SIGCONT); });
        h.openPage(1);
        ::kill(server, SIGCONT);
        modal::setProgressWatcher(nullptr);
        QVERIFY(pressed);
        QVERIFY2(h.script.texts().join(QLatin1Char('\n')).contains(QStringLiteral("Очікування відповіді сервера скасовано")),
                 qPrintable(h.script.texts().join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(X11Escape)
#include "tst_x11_escape.moc"
