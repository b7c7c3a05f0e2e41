// Start-up time and peak memory of Zelvaro's window against a bare Qt window of the same size,
// built the same way and measured side by side in one run. Start-up runs from the moment the
// process is started to the moment its window has been painted for the first time and the event
// loop then idles, which the child reports; what it does after that (tearing down) is not counted.
//   bench_window            runs the comparison and prints the ratios
//   bench_window bare       a bare 852x419 window: shown, idle, then exit
//   bench_window label      the same with one label (what drawing any text costs: fonts)
//   bench_window zelvaro    Zelvaro's start-up: shown, idle, then exit
//   bench_window pages P    Zelvaro connected to the server on port P with every page opened
#include "DevServer.h"
#include "FMain.h"
#include "ModalSeam.h"
#include "RusUkrDlg.h"
#include "Startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace {
// The same clock in the benchmark and in its children, so that a child's moment can be set
// against the moment the benchmark started it.
qint64 monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Reports the first time the window has been painted: the backing store paints the window and all
// its controls in one pass, so the first pass of the event loop after the window's own paint event
// comes when everything the user is to see has been drawn.
class FirstPaint : public QObject {
public:
    std::function<void()> then;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && then) {
            QTimer::singleShot(0, this, std::exchange(then, nullptr));
        }
        return QObject::eventFilter(watched, event);
    }
};

int child(int argc, char** argv, const QString& mode) {
    if (mode != QLatin1String("bare"))
        InstallDialogCaptions();
    QApplication app(argc, argv);
    std::unique_ptr<QWidget> window;
    if (mode == QLatin1String("bare") || mode == QLatin1String("label")) {
        window = std::make_unique<QWidget>();
        window->setFixedSize(852, 419);
        if (mode == QLatin1String("label"))
            new QLabel(QStringLiteral("SQL Server"), window.get());
    } else {
        configureApplication(app);
        window = std::make_unique<TMain>();
    }
    FirstPaint firstPaint;
    window->installEventFilter(&firstPaint);
    window->show();
    if (mode == QLatin1String("pages")) {
        modal::setResponder([](const modal::Request&) { return modal::Answer{1, {}, 1}; });
        auto* main = static_cast<TMain*>(window.get());
        main->findChild<QLineEdit*>(QStringLiteral("ServerName"))
            ->setText(QStringLiteral("127.0.0.1,") + QString::fromLatin1(argv[2]));
        main->findChild<QAbstractButton*>(QStringLiteral("ToolButton1"))->click();
        auto* tabs = main->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
        for (int page : {1, 2, 3, 0})
            tabs->setCurrentIndex(page);
    }
    // The first pass of the event loop after the first paint: the window is drawn and idle.
    qint64 idleAt = 0;
    firstPaint.then = [&] {
        idleAt = monotonicNanos();
        app.quit();
    };
    if (mode == QLatin1String("pages")) // its paint came before; the memory is what counts here
        QTimer::singleShot(0, &app, firstPaint.then);
    app.exec();
    std::printf("%ld %lld\n", peakKilobytes(), static_cast<long long>(idleAt));
    return 0;
}

struct Sample {
    double millis; // from the start of the process to its window shown and idle
    long kilobytes;
};

Sample runChild(const QString& self, const QStringList& args) {
    QProcess p;
    const qint64 started = monotonicNanos();
    p.start(self, args);
    p.waitForFinished(60000);
    const QStringList reply =
        QString::fromLatin1(p.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    if (reply.size() != 2) {
        std::fprintf(stderr, "bench_window: %s gave no figures\n", qPrintable(args.join(QLatin1Char(' '))));
        std::exit(1);
    }
    return {(reply[1].toLongLong() - started) / 1e6, reply[0].toLong()};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    if (argc >= 2)
        return child(argc, argv, QString::fromLatin1(argv[1]));
    QCoreApplication app(argc, argv);
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> bare, label, zelvaro;
    for (int i = 0; i < 15; ++i) { // alternating, so all see the same machine
        bare.push_back(runChild(self, {QStringLiteral("bare")}).millis);
        label.push_back(runChild(self, {QStringLiteral("label")}).millis);
        zelvaro.push_back(runChild(self, {QStringLiteral("zelvaro")}).millis);
    }
    const double b = median(bare), l = median(label), z = median(zelvaro);
    std::printf(
        "start-up: Zelvaro %.1f ms, bare window %.1f ms, ratio %.2f (target <= 1.3); a window with one label "
        "%.1f ms, ratio %.2f\n",
        z, b, z / b, l, z / l);

    DevServer server(2019);
    server.tsql(QStringLiteral("CREATE DATABASE bench"));
    const long bareMemory = runChild(self, {QStringLiteral("bare")}).kilobytes;
    const long labelMemory = runChild(self, {QStringLiteral("label")}).kilobytes;
    const long pagesMemory =
        runChild(self, {QStringLiteral("pages"), QString::number(server.port())}).kilobytes;
    std::printf(
        "peak memory: Zelvaro connected with every page opened %ld KiB, bare window %ld KiB, ratio %.2f "
        "(target <= 1.5)\n",
        pagesMemory, bareMemory, double(pagesMemory) / double(bareMemory));
    std::printf("             a window with one label %ld KiB, ratio %.2f\n", labelMemory,
                double(pagesMemory) / double(labelMemory));
    return 0;
}
