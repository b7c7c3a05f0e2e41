// The window meeting a server whose disk has no room: a restore the server refuses before writing
// (3257), an attach whose new log finds no room (operating-system error 112), and a restore whose
// disk fills up while it runs (112 again). Each time the user must hear that room is
// missing, not that permissions are: the two send them to very different places.
#include "WindowHarness.h"

#include "SqlQuote.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {
using sqlquote::literal;

// A file system of its own with a few megabytes (a tmpfs), so that a disk runs out of room without
// filling this computer's; mounting it takes root, as CI runs.
class SmallDisk {
public:
    // at: where to mount it (made when missing); a folder of its own otherwise.
    explicit SmallDisk(int kilobytes, const QString& at = QString()) : m_path(at.isEmpty() ? m_dir.path() : at) {
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
        m_mounted = ::getuid() == 0 && m_dir.isValid() && QDir().mkpath(m_path) &&
                    ::mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk() {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString path() const { return m_path; }
    // Writes a file until the disk has no room left.
    void fill() const {
        QFile f(m_path + QStringLiteral("/filler"));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        const QByteArray block(64 * 1024, 'x');
        while (f.write(block) == block.size() && f.flush()) {
        }
        // The last block may have gone in only in part: fill the rest byte by byte.
        while (f.write("x", 1) == 1 && f.flush()) {
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    bool m_mounted = false;
};

#define NEED_SMALL_DISK(disk)                                                                    \
    if (!(disk).mounted())                                                                       \
        QSKIP("mounting a small tmpfs takes root");

// What the window told: the room line, never the permissions' advice.
void toldAboutRoom(const QString& shown) {
    QVERIFY2(shown.contains(QStringLiteral("На диску сервера бракує місця")), qPrintable(shown));
    QVERIFY2(!shown.contains(QStringLiteral("Доступ заборонений")), qPrintable(shown));
    QVERIFY2(!shown.contains(QStringLiteral("обліковому запису")), qPrintable(shown));
}
} // namespace

class FullDisk : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // The server measures the room before it writes anything: 3257 with both numbers, and no
    // file is left behind on the small disk. In a file system of its own, the server's small disk
    // cannot be measured first: the confirmation says so.
    void aRestoreIsRefusedBeforeWriting() {
        WindowHarness h(2019, DevServer::ownRoot());
        SmallDisk disk(2048, h.server.hostPath(QStringLiteral("/var/opt/mssql/small")));
        NEED_SMALL_DISK(disk);
        const QString bak = QStringLiteral("/var/opt/mssql/data/big.bak");
        h.sql(QStringLiteral("CREATE DATABASE Big\nBACKUP DATABASE Big TO DISK = %1").arg(literal(bak)));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.script.answer(Reply::Yes);
        h.restoreAs(QStringLiteral("Копія"), QStringLiteral("/var/opt/mssql/small/c.mdf"),
                    QStringLiteral("/var/opt/mssql/small/c_log.ldf"));
        QVERIFY2(h.script.texts().join('|').contains(QStringLiteral("перевірити не вдалося")),
                 qPrintable(h.script.texts().join('|')));
        const QString shown = h.script.last().text;
        QVERIFY2(shown.contains(QStringLiteral("There is insufficient free space on disk volume")), qPrintable(shown));
        toldAboutRoom(shown);
        QVERIFY2(shown.contains(QStringLiteral("потрібно ще")), qPrintable(shown));
        QVERIFY(QDir(disk.path()).entryList(QDir::Files).isEmpty());
        QVERIFY(!h.databases().contains(QStringLiteral("Копія")));
    }

    // A data file attached without its log on a disk with no room left: the new log cannot be
    // made, and that is error 112, not 5.
    void anAttachsNewLogFindsNoRoom() {
        SmallDisk disk(1024);
        NEED_SMALL_DISK(disk);
        WindowHarness h(2019);
        const QString mdf = disk.path() + QStringLiteral("/Solo.mdf");
        const QString scratch = h.server.scratch();
        h.sql(QStringLiteral("CREATE DATABASE [Solo] ON PRIMARY (FILENAME = %1, SIZE = 512KB) LOG ON (FILENAME = %2)\n"
                             "EXEC sp_detach_db N'Solo', 'true'")
                  .arg(literal(scratch + "/Solo.mdf"), literal(scratch + "/Solo_log.ldf")));
        QVERIFY(QFile::copy(scratch + "/Solo.mdf", mdf));
        QVERIFY(QFile::remove(scratch + "/Solo_log.ldf")); // shipped as a data file only
        disk.fill();
        QVERIFY(h.connect());
        h.script.answer(Reply::OK);
        h.attach(QStringLiteral("Solo"), mdf, QString());
        const QString shown = h.script.last().text;
        QVERIFY2(shown.contains(QStringLiteral("112(There is not enough space on the disk.)")), qPrintable(shown));
        toldAboutRoom(shown);
        QVERIFY(!h.databases().contains(QStringLiteral("Solo")));
        QVERIFY(!QFile::exists(disk.path() + QStringLiteral("/Solo_log.LDF")));
    }

    // There was room when the restore began; something else took it while the files were being
    // written, so the write fails with 112 and the restore stops.
    void aRestoresDiskFillsUpWhileItWrites() {
        SmallDisk disk(24 * 1024);
        NEED_SMALL_DISK(disk);
        WindowHarness h(2019, {QStringLiteral("--throughput"), QStringLiteral("8")});
        const QString bak = h.server.scratch() + QStringLiteral("/r.bak");
        QVERIFY(h.makeBackup(QStringLiteral("R"), bak));
        QVERIFY(h.connect());
        h.readFileList(bak);
        std::thread other([&disk] {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            disk.fill();
        });
        h.restoreAs(QStringLiteral("R2"), disk.path() + QStringLiteral("/r2.mdf"),
                    disk.path() + QStringLiteral("/r2_log.ldf"));
        other.join();
        const QString shown = h.script.last().text;
        QVERIFY2(shown.contains(QStringLiteral("112(There is not enough space on the disk.)")), qPrintable(shown));
        QVERIFY2(!shown.contains(QStringLiteral("insufficient free space")), qPrintable(shown));
        toldAboutRoom(shown);
    }
};

QTEST_MAIN(FullDisk)
#include "tst_full_disk.moc"
