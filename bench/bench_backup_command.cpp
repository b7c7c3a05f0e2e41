// zelvaro-backup against the window's way of making the same backup: a database (300 MB unless given
// in MB as the first argument) backed up and verified through the window's backup page, then by the
// command, in turns, four times each; the best of each is compared (target: the command's throughput
// at least 0.95 of the window's). Then the command's start-up (--version-info, and a whole run on an
// empty database) and its peak memory over a run (it loads no widgets).
#include "DevServer.h"
#include "FMain.h"
#include "ModalSeam.h"
#include "RusUkrDlg.h"
#include "Startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct ChildRun {
    double millis = 0;
    long peakKb = 0;
    int status = -1;
};

// The command run directly (fork, exec, wait4), so that its own peak memory is known.
ChildRun runCommand(const QStringList& arguments) {
    std::vector<QByteArray> owned{QByteArray(ZELVARO_BACKUP)};
    for (const QString& a : arguments)
        owned.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : owned)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QElapsedTimer t;
    t.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return {t.nsecsElapsed() / 1e6, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    InstallDialogCaptions();
    QApplication app(argc, argv);
    configureApplication(app);
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 300;

    QString lastMessage;
    modal::setResponder([&](const modal::Request& r) {
        if (r.kind != modal::Kind::OpenFile && r.kind != modal::Kind::SaveFile && r.kind != modal::Kind::Folder)
            lastMessage = r.text;
        return modal::Answer{1, {}, 1};
    });

    DevServer server(2019);
    server.tsql(QStringLiteral("CREATE DATABASE big"));
    server.tsql(QStringLiteral("CREATE DATABASE empty"));
    {
        QFile data(server.dataDir() + QStringLiteral("/big.mdf"));
        data.open(QIODevice::Append);
        const QByteArray megabyte(1 << 20, 'z');
        for (int i = 0; i < megabytes; ++i)
            data.write(megabyte);
    }
    ::sync();
    const QString folder = server.scratch() + QStringLiteral("/command");
    QDir().mkpath(folder);
    const QString password = server.scratch() + QStringLiteral("/password");
    {
        QFile f(password);
        f.open(QIODevice::WriteOnly);
        f.write("pvtmo");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    const QStringList common = {QStringLiteral("--server"), server.dataSource(), QStringLiteral("--version"),
                                QStringLiteral("2019"), QStringLiteral("--password-file"), password,
                                QStringLiteral("--to"), folder};

    TMain window;
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cbSQLServers"))->setCurrentText(QStringLiteral("2019"));
    window.findChild<QLineEdit*>(QStringLiteral("ServerName"))->setText(server.dataSource());
    window.findChild<QAbstractButton*>(QStringLiteral("ToolButton1"))->click();
    window.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(3);
    auto* combo = window.findChild<QComboBox*>(QStringLiteral("cbDataBase1"));
    combo->setCurrentIndex(combo->findText(QStringLiteral("big")));
    auto* savePath = window.findChild<QLineEdit*>(QStringLiteral("edSavePathBAK"));
    auto* backupButton = window.findChild<QAbstractButton*>(QStringLiteral("BitBtn5"));

    double windowBest = 1e18, commandBest = 1e18;
    long commandPeakKb = 0;
    bool allDone = true;
    // Each side writes a new file every round, as the command always does; the last round's files
    // are removed beforehand, outside the time.
    const QString windowFile = server.scratch() + QStringLiteral("/window.bak");
    // Turns alternate which side goes first, so that neither always meets the other's writes
    // still being flushed.
    auto windowTurn = [&] {
        savePath->setText(windowFile);
        QElapsedTimer t;
        t.start();
        backupButton->click();
        windowBest = std::min(windowBest, t.nsecsElapsed() / 1e6);
        allDone = allDone && lastMessage.contains(QStringLiteral("успішно"));
        ::sync();
    };
    auto commandTurn = [&] {
        const ChildRun run = runCommand(common + QStringList{QStringLiteral("--database"), QStringLiteral("big")});
        commandBest = std::min(commandBest, run.millis);
        commandPeakKb = std::max(commandPeakKb, run.peakKb);
        allDone = allDone && run.status == 0;
        ::sync();
    };
    for (int round = 0; round < 4; ++round) {
        QFile::remove(windowFile);
        for (const QString& name : QDir(folder).entryList(QDir::Files))
            QFile::remove(folder + QLatin1Char('/') + name);
        ::sync();
        if (round % 2 == 0) {
            windowTurn();
            commandTurn();
        } else {
            commandTurn();
            windowTurn();
        }
    }
    std::vector<double> starts;
    long versionPeakKb = 0;
    for (int i = 0; i < 9; ++i) {
        const ChildRun r = runCommand({QStringLiteral("--version-info")});
        starts.push_back(r.millis);
        versionPeakKb = r.peakKb;
    }
    std::sort(starts.begin(), starts.end());
    const ChildRun emptyRun = runCommand(common + QStringList{QStringLiteral("--database"), QStringLiteral("empty")});

    const double mb = megabytes;
    std::printf("database of %d MB, backup and verification, best of 4\n", megabytes);
    std::printf("window:  %.0f ms (%.0f MB/s)\n", windowBest, mb / (windowBest / 1000.0));
    std::printf("command: %.0f ms (%.0f MB/s), process start and connection included\n", commandBest,
                mb / (commandBest / 1000.0));
    std::printf("throughput ratio command/window %.2f (target >= 0.95)\n", windowBest / commandBest);
    std::printf("start-up: --version-info median %.1f ms; a whole run on an empty database %.0f ms\n",
                starts[starts.size() / 2], emptyRun.millis);
    std::printf("peak memory: %ld MB over a backup run, %ld MB for --version-info\n", commandPeakKb / 1024,
                versionPeakKb / 1024);
    return allDone && emptyRun.status == 0 ? 0 : 1;
}
