// The stand-in's backup and restore of a large database: its speed against copying the same bytes
// with cp and sync, its verification of the backup against reading the same bytes with cat, and its
// peak memory beyond what it holds idle.
#include "DevServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// VmRSS or VmHWM of a process, in kB.
long memoryOf(qint64 pid, const char* key) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLong();
    return -1;
}

double seconds(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 500;
    DevServer dev(2019);
    const QString dir = dev.scratch();
    dev.tsql(QStringLiteral("CREATE DATABASE [B] ON (NAME = b, FILENAME = N'%1/b.mdf', SIZE = %2MB) LOG ON "
                            "(NAME = bl, FILENAME = N'%1/b.ldf', SIZE = 1MB)")
                 .arg(dir)
                 .arg(megabytes));
    // Real bytes after the header page, so that neither side reads holes.
    {
        const int fd = ::open(QFile::encodeName(dir + QStringLiteral("/b.mdf")).constData(), O_WRONLY);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = char('a' + i % 26);
        ::lseek(fd, 8192, SEEK_SET);
        for (int i = 0; i < megabytes - 1; ++i)
            if (::write(fd, block.data(), block.size()) != ssize_t(block.size()))
                return 1;
        ::fsync(fd);
        ::close(fd);
    }
    const long idle = memoryOf(dev.processId(), "VmRSS:");
    // Each operation beside cp + sync of the same bytes run just before it: how fast the disk takes
    // writes depends on how much was written lately, so both sides meet the same disk.
    const auto copyOf = [&](const QString& file) {
        const double s = seconds([&] {
            QProcess::execute(QStringLiteral("cp"),
                              {QStringLiteral("--sparse=never"), file, dir + QStringLiteral("/copy.bin")});
            QProcess::execute(QStringLiteral("sync"), {});
        });
        QFile::remove(dir + QStringLiteral("/copy.bin"));
        return s;
    };
    QString out;
    const double copyData = copyOf(dir + QStringLiteral("/b.mdf"));
    const double backup = seconds([&] {
        out = dev.tsql(QStringLiteral("BACKUP DATABASE [B] TO DISK = N'%1/b.bak' WITH INIT, CHECKSUM").arg(dir));
    });
    if (!out.contains(QStringLiteral("successfully processed")))
        std::printf("backup failed: %s\n", qPrintable(out));
    const double copyBackup = copyOf(dir + QStringLiteral("/b.bak"));
    // Reading the backup's bytes, from the cache as the verification finds them.
    const double read = seconds([&] {
        QProcess cat;
        cat.setStandardOutputFile(QProcess::nullDevice());
        cat.start(QStringLiteral("cat"), {dir + QStringLiteral("/b.bak")});
        cat.waitForFinished(-1);
    });
    const double verify = seconds([&] {
        out = dev.tsql(QStringLiteral("RESTORE VERIFYONLY FROM DISK = N'%1/b.bak' WITH FILE = 1, CHECKSUM").arg(dir));
    });
    if (!out.contains(QStringLiteral("is valid")))
        std::printf("verification failed: %s\n", qPrintable(out));
    const double restore = seconds([&] {
        out = dev.tsql(
            QStringLiteral("RESTORE DATABASE [C] FROM DISK = N'%1/b.bak' WITH MOVE N'b' TO N'%1/c.mdf', "
                           "MOVE N'bl' TO N'%1/c.ldf'")
                .arg(dir));
    });
    if (!out.contains(QStringLiteral("successfully processed")))
        std::printf("restore failed: %s\n", qPrintable(out));
    const long peak = memoryOf(dev.processId(), "VmHWM:");
    std::printf("%d MB: backup %.2f s against cp + sync %.2f s (%.2f of its speed); restore %.2f s against "
                "%.2f s (%.2f)\n",
                megabytes, backup, copyData, copyData / backup, restore, copyBackup, copyBackup / restore);
    std::printf("verification with checksums %.2f s against cat > /dev/null %.2f s (%.2f of its speed)\n", verify, read,
                read / verify);
    std::printf("stand-in memory: idle %.1f MB, peak %.1f MB (%.1f MB beyond idle)\n", idle / 1024.0,
                peak / 1024.0, (peak - idle) / 1024.0);
    return 0;
}
