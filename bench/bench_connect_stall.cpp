// The longest stall of the window's event loop while it waits for the server (target 50 ms):
//  - connecting to a server that accepts the connection and never answers, given up after 2 s;
//  - connecting to the stand-in, which answers at once;
//  - opening the detach page against a stand-in with 10,000 databases that takes 2 s per statement
//    (--slow 2000): USE master and the list are read on a worker, the wait's dialog up meanwhile;
//  - the same page against a stand-in stopped (SIGSTOP) in the middle of the read, given up after
//    2 s, then the page opened again once it runs on (SIGCONT): the second read waits on its worker
//    for the given-up one to end.
// Each action is started from the event loop, and a timer asking for a turn every millisecond
// measures the longest time between two turns until the action has returned.
#include "DevServer.h"
#include "FMain.h"
#include "ModalSeam.h"
#include "ProgressDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <csignal>
#include <unistd.h>

namespace {

// Listens on a loopback port and never accepts: each connection completes and hears nothing.
int silentListener(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(fd, 8);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

struct Measured {
    double longestStallMs = 0;
    double totalMs = 0;
};

// Runs action from the event loop and measures the longest gap between two turns of it until the
// action has returned.
Measured measure(const std::function<void()>& action) {
    QElapsedTimer clock;
    qint64 last = -1, longest = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(1);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            longest = std::max(longest, now - last);
        last = now;
    });
    QEventLoop loop;
    Measured m;
    QTimer::singleShot(0, &loop, [&] {
        last = clock.nsecsElapsed();
        action();
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        m.totalMs = now / 1e6;
        loop.quit();
    });
    clock.start();
    ticks.start();
    loop.exec();
    m.longestStallMs = longest / 1e6;
    return m;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    modal::setResponder([](const modal::Request&) { return modal::Answer{1, {}, 1}; });

    TMain window;
    window.show();
    auto* serverName = window.findChild<QLineEdit*>(QStringLiteral("ServerName"));
    auto* connectButton = window.findChild<QAbstractButton*>(QStringLiteral("ToolButton1"));

    // 1. A silent server, given up after two seconds with Esc on the wait's dialog.
    int port = 0;
    const int silent = silentListener(&port);
    serverName->setText(QStringLiteral("127.0.0.1,%1").arg(port));
    modal::setProgressWatcher([](ProgressDialog& dialog) {
        QTimer::singleShot(2000, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    });
    Measured m = measure([&] { connectButton->click(); });
    std::printf("connect to a silent server, given up after 2 s: longest stall %.1f ms over %.0f ms "
                "(target <= 50)%s\n",
                m.longestStallMs, m.totalMs, window.connection().isOpen() ? " (connected!?)" : "");
    modal::setProgressWatcher(nullptr);
    ::close(silent);

    // 2. The stand-in, answering at once.
    {
        DevServer server(2019);
        serverName->setText(server.dataSource());
        m = measure([&] { connectButton->click(); });
        std::printf("connect to the stand-in: longest stall %.1f ms over %.0f ms (target <= 50)\n",
                    m.longestStallMs, m.totalMs);
        connectButton->click(); // disconnects
    }

    // 3. 10,000 databases, each statement 2 s late.
    {
        DevServer server(2019, {QStringLiteral("--slow"), QStringLiteral("2000")});
        server.stop();
        {
            QFile catalog(server.dataDir() + QStringLiteral("/catalog.txt"));
            catalog.open(QIODevice::WriteOnly);
            for (int i = 0; i < 10000; ++i)
                catalog.write(
                    QStringLiteral("db_%1\t%2\n").arg(i, 5, 10, QLatin1Char('0')).arg(i + 5).toUtf8());
        }
        server.start();
        serverName->setText(server.dataSource());
        connectButton->click();
        auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
        m = measure([&] { tabs->setCurrentIndex(1); });
        std::printf("detach page, 10,000 databases, 2 s per statement: longest stall %.1f ms over %.0f ms "
                    "(target <= 50)\n",
                    m.longestStallMs, m.totalMs);

        // 4. The server stops while it answers; the wait is given up, then the page opened again.
        tabs->setCurrentIndex(0);
        modal::setProgressWatcher([](ProgressDialog& dialog) {
            QTimer::singleShot(2000, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
        });
        const pid_t pid = pid_t(server.processId());
        QTimer::singleShot(2300, [pid] { ::kill(pid, SIGSTOP); }); // the 2 s of --slow, then the rows
        m = measure([&] { tabs->setCurrentIndex(1); });
        std::printf("detach page, server stopped while answering, given up: longest stall %.1f ms over %.0f ms "
                    "(target <= 50)\n",
                    m.longestStallMs, m.totalMs);
        modal::setProgressWatcher(nullptr);
        tabs->setCurrentIndex(0);
        QTimer::singleShot(1000, [pid] { ::kill(pid, SIGCONT); });
        m = measure([&] { tabs->setCurrentIndex(1); });
        std::printf("detach page again, server running on after 1 s: longest stall %.1f ms over %.0f ms "
                    "(target <= 50)\n",
                    m.longestStallMs, m.totalMs);
    }
    return 0;
}
