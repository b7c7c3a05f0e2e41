// The backup page asks before it sends: whether the target's folder has room for the database's
// data, and whether the server can write there at all. A folder of the user's closed to the server's
// account is offered the shared folder (the server writes there, the copy is verified and moved to
// the chosen path); a server in a file system of its own offers its own folders.
#include "WindowHarness.h"

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "BackupRoom.h"
#include "ServerQuestions.h"
#include "SharedFolder.h"
#include "UserAclEntry.h"

#include <QProcess>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A small file system of its own (tmpfs), unmounted when the object goes.
struct SmallDisk {
    QString path;
    bool mounted = false;
    SmallDisk(const QString& at, int megabytes) : path(at) {
        QDir().mkpath(at);
        mounted = ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0,
                          QByteArray("size=" + QByteArray::number(megabytes) + "m").constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
};

QString modeAndAcl(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return QString::number(st.st_mode & 07777, 8) + QLatin1Char(' ') + aclText(path);
}

bool sentABackup(const WindowHarness& h) {
    return h.server.receivedStatements().contains(QLatin1String("BACKUP DATABASE"), Qt::CaseInsensitive);
}

} // namespace

class BackupPlan : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // The data takes nearly three megabytes, the disk has one free: said with both sizes, nothing sent;
    // once there is room the same backup is made.
    void roomIsAskedBeforeAnythingIsSent() {
        if (::geteuid() != 0)
            QSKIP("a small file system needs root to mount");
        WindowHarness h(2019);
        SmallDisk disk(h.server.scratch() + QStringLiteral("/small"), 8);
        QVERIFY(disk.mounted);
        h.sql(QStringLiteral(
                  "CREATE DATABASE [Облік] ON PRIMARY (NAME = N'Облік', FILENAME = N'%1/Облік.mdf', SIZE = "
                  "3MB) LOG ON (NAME = N'Облік_log', FILENAME = N'%2/Облік_log.ldf', SIZE = 1MB)")
                  .arg(disk.path, h.server.scratch()));
        const QString filler = disk.path + QStringLiteral("/filler");
        QVERIFY(writeFile(filler, QByteArray(4 << 20, 'f')));
        QVERIFY(h.connect());
        const QString target = disk.path + QStringLiteral("/Облік.bak");
        h.script.clear();
        h.script.answer(Reply::OK);
        h.backup(QStringLiteral("Облік"), target);
        QCOMPARE(h.script.seen.size(), 1);
        const QString told = h.script.last().text;
        QVERIFY2(told.contains(QStringLiteral("потрібно близько 2,8 МБ")) && told.contains(disk.path) &&
                     told.contains(QStringLiteral("вільно лише ")) &&
                     told.contains(QStringLiteral("Серверу нічого не надіслано.")),
                 qPrintable(told));
        QVERIFY(!sentABackup(h));
        QVERIFY(!QFile::exists(target));

        QVERIFY(QFile::remove(filler));
        h.script.clear();
        h.script.answer(Reply::OK);
        h.backup(QStringLiteral("Облік"), target);
        QVERIFY2(h.script.last().text.contains(QStringLiteral("успішно виконано")),
                 qPrintable(h.script.last().text));
        QVERIFY(QFile::exists(target));
    }

    // WITH INIT replaces the whole file: the database's own older backup unasked, as always; a backup
    // of another database or a file that is no backup is named in the one confirmation, and No
    // leaves it as it was.
    void aFileOfAnotherDatabaseOrNoBackupIsAskedAbout() {
        WindowHarness h(2019);
        h.sql(QStringLiteral("CREATE DATABASE Sales\nCREATE DATABASE Other"));
        const QString sales = h.server.scratch() + QStringLiteral("/Sales.bak");
        const QString notes = h.server.scratch() + QStringLiteral("/notes.bak");
        QVERIFY(writeFile(notes, "not a backup"));
        QVERIFY(h.connect());
        for (int run = 0; run < 2; ++run) {
            h.script.clear();
            h.script.answer(Reply::OK);
            h.backup(QStringLiteral("Sales"), sales);
            QCOMPARE(h.script.seen.size(), 1);
            QVERIFY2(h.script.last().text.contains(QStringLiteral("успішно виконано")), qPrintable(h.script.last().text));
        }
        const QStringList said = {QStringLiteral("резервну копію іншої бази даних: Sales від "),
                                  QStringLiteral("не резервна копія")};
        for (const QString& file : {sales, notes}) {
            const QByteArray before = fileBytes(file);
            h.script.clear();
            h.script.answer(Reply::No);
            h.backup(QStringLiteral("Other"), file);
            QCOMPARE(h.script.seen.size(), 1);
            QVERIFY2(h.script.last().text.contains(file) && h.script.last().text.contains(said[file == notes]),
                     qPrintable(h.script.last().text));
            QCOMPARE(fileBytes(file), before);
        }
    }

    // 2000 has no catalog views: its sysindexes give the pages in use as well. A new database holds
    // its model's pages (66 on 2000; on 2019 more than a 2 MB file has, so all of it).
    void usedSizeOnEveryVersion() {
        for (const auto& [version, used] : {std::pair<int, qint64>{2000, 66 * 8192}, {2019, 2 << 20}}) {
            DevServer server(version);
            server.tsql(
                QStringLiteral(
                    "CREATE DATABASE [Склад] ON PRIMARY (NAME = N'Склад', FILENAME = N'%1/Склад.mdf', "
                    "SIZE = 2MB) LOG ON (NAME = N'Склад_log', FILENAME = N'%1/Склад_log.ldf')")
                    .arg(server.scratch()));
            AdoConnection c;
            c.setConnectionString(server.connectionString());
            AdoQuery q(c);
            const serverquestions::ServerVersion v = serverquestions::version(q);
            QCOMPARE(backuproom::usedBytes(q, v, QStringLiteral("Склад")), used);
        }
    }

    // Debian's home, closed to others: the server (nobody) cannot write there. Told before anything
    // is sent; No changes nothing; Yes leaves a verified backup of the user's own at the chosen
    // path, the folder as it was, and nothing in the shared folder.
    void aFolderClosedToTheServerGoesThroughTheSharedFolder() {
        if (!DevServer::canRunAs())
            QSKIP("running the stand-in as nobody needs root");
        WindowHarness h(2019, DevServer::runAs());
        h.sql(QStringLiteral("CREATE DATABASE [Облік]"));
        const QString home = h.folder(QStringLiteral("home"));
        const QString backups = home + QStringLiteral("/backup");
        QDir().mkpath(backups);
        ::chmod(QFile::encodeName(home).constData(), 0700);
        ::chmod(QFile::encodeName(backups).constData(), 0700);
        const QString before = modeAndAcl(home) + modeAndAcl(backups);
        const QString target = backups + QStringLiteral("/Облік.bak");
        QVERIFY(h.connect());

        h.script.clear();
        h.script.answer(Reply::No);
        h.backup(QStringLiteral("Облік"), target);
        QCOMPARE(h.script.seen.size(), 1);
        const QString asked = h.script.last().text;
        QVERIFY2(asked.contains(target) && asked.contains(QStringLiteral("nobody")) &&
                     asked.contains(QStringLiteral("спільної теки")),
                 qPrintable(asked));
        // The T-SQL the question shows is what Yes sends: into the shared folder, then its check.
        const QString shown = h.script.last().statements;
        QVERIFY2(!shown.contains(target) && shown.count(QStringLiteral("/Облік.bak'")) == 2 &&
                     shown.contains(QStringLiteral("RESTORE VERIFYONLY")),
                 qPrintable(shown));
        QVERIFY(!sentABackup(h));
        QCOMPARE(modeAndAcl(home) + modeAndAcl(backups), before);

        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.backup(QStringLiteral("Облік"), target);
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Створення резервної копії бази даних Облік успішно виконано.\n"
                                "Копію перевірено: з неї можна відновити базу даних."));
        QVERIFY(h.server.receivedStatements().contains(QLatin1String("RESTORE VERIFYONLY")));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_uid, ::getuid()); // the user's own file
        QVERIFY(st.st_size > 0);
        QCOMPARE(modeAndAcl(home) + modeAndAcl(backups), before);
        for (const QString& place : sharedFolderPlaces())
            QCOMPARE(QDir(place).entryList({QStringLiteral("Облік*")}, QDir::Files), QStringList());
    }

    // In a file system of its own (a container) the server sees none of this computer's paths: the
    // save button offers its folders, starting at its backup folder, and the path chosen there is
    // sent as it is.
    void aServerInItsOwnRootOffersItsOwnFolders() {
        WindowHarness h(2019, DevServer::ownRoot());
        h.sql(QStringLiteral("CREATE DATABASE [Облік]"));
        QVERIFY(h.connect());
        const QString target = QStringLiteral("/var/opt/mssql/data/Облік.bak");
        h.openPage(WindowHarness::BackupPage);
        h.backupDatabase()->setCurrentIndex(h.backupDatabase()->findText(QStringLiteral("Облік")));
        h.script.clear();
        h.script.choose(target);
        h.saveAsButton()->click();
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().kind, modal::Kind::ServerFile);
        QVERIFY2(h.script.last().directory.startsWith(QStringLiteral("/var/opt/mssql/")),
                 qPrintable(h.script.last().directory));
        QCOMPARE(h.backupTarget()->text(), target);
        QVERIFY(h.backupButton()->isEnabled());
        h.script.answer(Reply::OK);
        h.backupButton()->click();
        QVERIFY2(h.script.last().text.contains(QStringLiteral("успішно виконано")),
                 qPrintable(h.script.last().text));
        QVERIFY(h.server.receivedStatements().contains(target));
        QVERIFY(QFileInfo(h.server.hostPath(target)).size() > 0);
    }
};

QTEST_MAIN(BackupPlan)
#include "tst_backup_plan.moc"
