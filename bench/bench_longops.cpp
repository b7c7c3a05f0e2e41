// A backup and a restore of a large database (500 MB unless given in MB as the first argument)
// through the window against the stand-in: the event loop's longest stall while each runs (target
// 50 ms), the stand-in's throughput against cp + sync of the same bytes (target 0.7) and its peak
// memory beyond its idle size (target 64 MB). A second argument paces the stand-in to that many
// MB a second, so that the stall is measured over an operation of some seconds with the progress
// dialog up (the throughput figures then say nothing). The backup's verification, which follows it
// under the same dialog, is timed apart: against reading the same bytes with cat (target 0.7).
#include "DevServer.h"
#include "FMain.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "ProgressDialog.h"
#include "RusUkrDlg.h"
#include "Startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// The longest time between two turns of the event loop while a long operation runs: a timer asks
// for a turn every millisecond.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (longop::isRunning() && m_last >= 0 && now - m_last > m_longest) {
                m_longest = now - m_last;
                m_longestAt = m_last - m_start;
            }
            if (longop::isRunning() && m_start < 0)
                m_start = now;
            m_last = longop::isRunning() ? now : -1;
        });
        m_clock.start();
        m_timer.start();
    }
    // Before each operation: the gap since the previous one's last turn is no stall of this one.
    void reset() {
        m_longest = 0;
        m_last = -1;
        m_start = -1;
    }
    double longestMillis() const { return m_longest / 1e6; }
    // When the longest stall began, counted from the operation's first turn of the loop.
    double longestAtMillis() const { return m_longestAt / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_longest = 0;
    qint64 m_longestAt = 0;
    qint64 m_start = -1;
};

// A field of /proc/PID/status in KiB (VmRSS now, VmHWM the peak since the last reset).
long statusKilobytes(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field)) + 1).trimmed().split(' ').first().toLong();
    return -1;
}

void resetPeak(qint64 pid) {
    QFile refs(QStringLiteral("/proc/%1/clear_refs").arg(pid));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

double millisOf(const std::function<void()>& work) {
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed() / 1e6;
}

// cp and sync of a file, as the yardstick for writing the same bytes.
double copyMillis(const QString& from, const QString& to) {
    QFile::remove(to);
    const double ms = millisOf([&] {
        QProcess::execute(QStringLiteral("cp"), {from, to});
        ::sync();
    });
    QFile::remove(to);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    InstallDialogCaptions();
    QApplication app(argc, argv);
    configureApplication(app);
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 500;

    // Every dialog answered: pickers from a queue, messages with their first button; the last
    // message kept to check the operation really succeeded.
    QStringList picks;
    QString lastMessage;
    modal::setResponder([&](const modal::Request& r) {
        modal::Answer a{1, {}, 1};
        if (r.kind == modal::Kind::OpenFile || r.kind == modal::Kind::SaveFile ||
            r.kind == modal::Kind::Folder) {
            if (!picks.isEmpty())
                a.path = picks.takeFirst();
        } else {
            lastMessage = r.text;
        }
        return a;
    });

    QStringList pacing;
    if (argc > 2)
        pacing << QStringLiteral("--throughput") << QString::fromLatin1(argv[2]);
    DevServer server(2019, pacing);
    server.tsql(QStringLiteral("CREATE DATABASE big"));
    {
        QFile data(server.dataDir() + QStringLiteral("/big.mdf"));
        data.open(QIODevice::Append);
        const QByteArray megabyte(1 << 20, 'z');
        for (int i = 0; i < megabytes; ++i)
            data.write(megabyte);
    }
    ::sync();

    TMain window;
    window.show();
    // The version the stand-in plays: the backup then carries checksums, and its check reads them.
    window.findChild<QComboBox*>(QStringLiteral("cbSQLServers"))->setCurrentText(QStringLiteral("2019"));
    window.findChild<QLineEdit*>(QStringLiteral("ServerName"))->setText(server.dataSource());
    // When the backup's dialog turns to its check: the backup ends there and the verification begins.
    QElapsedTimer clock;
    clock.start();
    qint64 verifyStartNs = -1;
    modal::setProgressWatcher([&](ProgressDialog& d) {
        QObject::connect(&d, &ProgressDialog::lineChanged, [&] { verifyStartNs = clock.nsecsElapsed(); });
    });
    window.findChild<QAbstractButton*>(QStringLiteral("ToolButton1"))->click();
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    auto button = [&](const char* name) { return window.findChild<QAbstractButton*>(QLatin1String(name)); };
    StallMeter stalls;
    const qint64 pid = server.processId();
    const long idleKb = statusKilobytes(pid, "VmRSS:");
    const QString bak = server.scratch() + QStringLiteral("/big.bak");

    // Backup.
    tabs->setCurrentIndex(3);
    auto* combo = window.findChild<QComboBox*>(QStringLiteral("cbDataBase1"));
    combo->setCurrentIndex(combo->findText(QStringLiteral("big")));
    window.findChild<QLineEdit*>(QStringLiteral("edSavePathBAK"))->setText(bak);
    resetPeak(pid);
    stalls.reset();
    const qint64 backupStartNs = clock.nsecsElapsed();
    button("BitBtn5")->click();
    const qint64 backupEndNs = clock.nsecsElapsed();
    // The backup's file is complete and synced before its check starts.
    const double backupMs = (verifyStartNs - backupStartNs) / 1e6;
    const double verifyMs = (backupEndNs - verifyStartNs) / 1e6;
    const double backupStall = stalls.longestMillis();
    const double backupStallAt = stalls.longestAtMillis();
    const long backupPeakKb = statusKilobytes(pid, "VmHWM:");
    const bool backupDone = lastMessage.contains(QStringLiteral("успішно"));
    const double backupBytes = double(QFileInfo(bak).size());
    const double backupCopyMs = copyMillis(bak, server.scratch() + QStringLiteral("/copy.bak"));
    // Reading the same bytes, from the cache as the check found them.
    const double readMs = millisOf([&] {
        QProcess cat;
        cat.setStandardOutputFile(QProcess::nullDevice());
        cat.start(QStringLiteral("cat"), {bak});
        cat.waitForFinished(-1);
    });

    // The file list, then the restore into a folder of its own.
    tabs->setCurrentIndex(2);
    picks << bak;
    stalls.reset();
    const double listMs = millisOf([&] { button("SpeedButton5")->click(); });
    const double listStall = stalls.longestMillis();
    const QString target = server.scratch() + QStringLiteral("/restored");
    QDir().mkpath(target);
    window.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("big copy"));
    picks << target;
    button("SpeedButton1")->click();
    resetPeak(pid);
    stalls.reset();
    lastMessage.clear();
    const double restoreMs = millisOf([&] {
        button("BitBtn3")->click();
        ::sync();
    });
    const double restoreStall = stalls.longestMillis();
    const double restoreStallAt = stalls.longestAtMillis();
    const long restorePeakKb = statusKilobytes(pid, "VmHWM:");
    const bool restoreDone = lastMessage.contains(QStringLiteral("успішно"));
    const QString restoredData = target + QStringLiteral("/big.MDF");
    const double restoreCopyMs = copyMillis(restoredData, server.scratch() + QStringLiteral("/copy.mdf"));

    std::printf("database of %d MB, backup file %.0f MB\n", megabytes, backupBytes / 1048576.0);
    std::printf(
        "backup:    %s, %.0f ms (%.0f MB/s); cp + sync %.0f ms: throughput ratio %.2f (target >= 0.7)\n",
        backupDone ? "done" : "FAILED", backupMs, backupBytes / 1048576.0 / (backupMs / 1000.0), backupCopyMs,
        backupCopyMs / backupMs);
    std::printf(
        "           longest event-loop stall %.1f ms, %.0f ms into it (target <= 50); stand-in peak %ld MB "
        "beyond idle (target <= 64)\n",
        backupStall, backupStallAt, (backupPeakKb - idleKb) / 1024);
    std::printf("verify:    %.0f ms (%.0f MB/s); cat > /dev/null %.0f ms: throughput ratio %.2f (target >= 0.7)\n",
                verifyMs, backupBytes / 1048576.0 / (verifyMs / 1000.0), readMs, readMs / verifyMs);
    std::printf("file list: %.0f ms, longest stall %.1f ms\n", listMs, listStall);
    std::printf(
        "restore:   %s, %.0f ms; cp + sync of the data file %.0f ms: throughput ratio %.2f (target >= 0.7)\n",
        restoreDone ? "done" : "FAILED", restoreMs, restoreCopyMs, restoreCopyMs / restoreMs);
    std::printf(
        "           longest event-loop stall %.1f ms, %.0f ms into it (target <= 50); stand-in peak %ld MB "
        "beyond idle (target <= 64)\n",
        restoreStall, restoreStallAt, (restorePeakKb - idleKb) / 1024);
    return backupDone && restoreDone ? 0 : 1;
}
