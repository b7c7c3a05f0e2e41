// The server is somebody else: another account beside the user's closed home, a file system of its
// own, a Linux server meeting a Windows backup. Every path is judged as the server sees it, and
// what the server cannot reach is told before anything that names it is sent.
#include "WindowHarness.h"

#include "SqlQuote.h"
#include "StandInAsNobody.h"
#include "UserAclEntry.h"

#include <QComboBox>
#include <QFile>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>
#include <unistd.h>

namespace {

// How many statements that name files the stand-in has received.
int fileStatements(const WindowHarness& h) {
    const QString received = h.server.receivedStatements();
    int found = 0;
    for (const char* s : {"FOR ATTACH", "RESTORE FILELISTONLY", "RESTORE HEADERONLY", "RESTORE DATABASE",
                          "Backup Database"})
        found += int(received.count(QLatin1String(s), Qt::CaseInsensitive));
    return found;
}

// The stand-in started again as `arguments` say, its data folder open to whatever account it
// runs as (the test runs as root; the server's own folder is its own).
bool restartAs(WindowHarness& h, const QStringList& arguments) {
    h.server.stop();
    QFile::setPermissions(h.server.dataDir(), QFileDevice::Permissions(0x7777));
    for (const QFileInfo& f : QDir(h.server.dataDir()).entryInfoList(QDir::Files))
        QFile::setPermissions(f.filePath(), QFileDevice::Permissions(0x6666));
    h.server.setExtraArguments(arguments);
    return h.server.start();
}

QString modeOf(const QString& path) {
    return QString::number(int(QFileInfo(path).permissions()), 16);
}

} // namespace

class ServerView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // The folders the server is asked about on the way to a path, on either system; a Windows
    // backup's paths are foreign to a Linux server only.
    void pathsAsEachSystemReadsThem() {
        using namespace serverfiles;
        QCOMPARE(pathsOnTheWay(QStringLiteral("/home/u/VTR.mdf"), Platform::Linux),
                 (QStringList{"/", "/home", "/home/u", "/home/u/VTR.mdf"}));
        QCOMPARE(pathsOnTheWay(QStringLiteral("/srv//db/"), Platform::Linux), (QStringList{"/", "/srv", "/srv//db"}));
        QCOMPARE(pathsOnTheWay(QStringLiteral("C:\\Data\\a b\\x.mdf"), Platform::Windows),
                 (QStringList{"C:\\", "C:\\Data", "C:\\Data\\a b", "C:\\Data\\a b\\x.mdf"}));
        QCOMPARE(pathsOnTheWay(QStringLiteral("\\\\host\\share\\x.bak"), Platform::Windows),
                 (QStringList{"\\\\host\\share\\", "\\\\host\\share\\x.bak"}));
        // On Linux a backslash is part of a name.
        QCOMPARE(pathsOnTheWay(QStringLiteral("/d/a\\b.mdf"), Platform::Linux), (QStringList{"/", "/d", "/d/a\\b.mdf"}));
        QVERIFY(foreignPath(QStringLiteral("C:\\Data\\x.mdf"), Platform::Linux));
        QVERIFY(foreignPath(QStringLiteral("d:/x.mdf"), Platform::Linux));
        QVERIFY(!foreignPath(QStringLiteral("/var/opt/mssql/data/x.mdf"), Platform::Linux));
        QVERIFY(!foreignPath(QStringLiteral("C:\\Data\\x.mdf"), Platform::Windows));
        QCOMPARE(fileNameOf(QStringLiteral("C:\\Program Files\\MSSQL\\ВТР.mdf")), QStringLiteral("ВТР.mdf"));
        QCOMPARE(joined(QStringLiteral("/var/opt/mssql/data/"), QStringLiteral("x.mdf"), Platform::Linux),
                 QStringLiteral("/var/opt/mssql/data/x.mdf"));
        QCOMPARE(joined(QStringLiteral("D:\\SQL"), QStringLiteral("x.mdf"), Platform::Windows),
                 QStringLiteral("D:\\SQL\\x.mdf"));
    }

    // The user's files lie in a folder of their own closed to others (0700, as Debian makes a
    // home); the server runs as nobody. Attach, the backup's reading, restore and backup each say
    // which path and which folder on the way, and send nothing; the folder and its files stay as
    // they were. Where the server reaches the files, the flow is the one it always was.
    void closedFolderIsToldBeforeAnythingIsSent() {
        if (::geteuid() != 0)
            QSKIP("another account for the server needs root");
        WindowHarness h(2019);
        const QString home = h.server.scratch(); // 0700, this test's own
        const QString downloads = h.folder(QStringLiteral("Downloads"));
        const QString mdf = downloads + QStringLiteral("/VTR.mdf");
        const QString ldf = downloads + QStringLiteral("/VTR_log.ldf");
        const QString bak = downloads + QStringLiteral("/VTR.bak");
        QVERIFY(h.makeDatabase(QStringLiteral("VTR"), mdf, ldf, true));
        QVERIFY(h.makeBackup(QStringLiteral("VTRB"), bak));
        h.sql(QStringLiteral("DROP DATABASE VTRB"));
        QVERIFY(restartAs(h, {QStringLiteral("--run-as"), QStringLiteral("nobody")}));
        h.sql(QStringLiteral("CREATE DATABASE Own"));
        const QString ownBak = h.server.dataDir() + QStringLiteral("/Own.bak");
        h.sql(QStringLiteral("BACKUP DATABASE Own TO DISK = %1").arg(sqlquote::literal(ownBak)));
        QVERIFY(QFile::exists(ownBak));
        const QString modeBefore = modeOf(home);
        const auto filesBefore = snapshot(home);
        QVERIFY(h.connect());

        // What each refusal must name: the path, the folder the server gets no further than, and
        // that nothing went to the server.
        int sentBefore = 0;
        const auto toldBeforeSending = [&](const QString& path, const char* what) {
            const modal::Request& told = h.script.last();
            QVERIFY2(told.text.contains(path), qPrintable(told.text));
            QVERIFY2(told.text.contains(QStringLiteral("Сервер бачить каталог %1, але не бачить у ньому").arg(home)),
                     qPrintable(told.text));
            // The stand-in hands its sockets to nobody as a service that opens its own ports does:
            // the account is named, and where a remedy is offered the question goes unanswered.
            QVERIFY2(told.text.contains(QStringLiteral("(nobody)")), qPrintable(told.text));
            QVERIFY(told.text.contains(QStringLiteral("Серверу нічого не надіслано.")));
            QVERIFY(told.type == DialogType::Error || told.type == DialogType::Confirmation);
            QVERIFY2(fileStatements(h) == sentBefore, what);
        };

        sentBefore = fileStatements(h);
        h.script.clear();
        h.attach(QStringLiteral("VTR"), mdf, ldf);
        toldBeforeSending(QStringLiteral("не може прочитати файл %1").arg(mdf), "attach");
        QVERIFY(!h.databases().contains(QStringLiteral("VTR")));

        sentBefore = fileStatements(h);
        h.script.clear();
        h.readFileList(bak);
        toldBeforeSending(QStringLiteral("не може прочитати файл %1").arg(bak), "file list");
        QVERIFY(!h.restoreButton()->isEnabled());

        // A backup the server reads, restored into the user's closed folder.
        h.readFileList(ownBak);
        QVERIFY(h.restoreButton()->isEnabled());
        sentBefore = fileStatements(h);
        h.script.clear();
        const QString target = h.folder(QStringLiteral("db"));
        h.restoreAs(QStringLiteral("Copy"), target + QStringLiteral("/Copy.mdf"), target + QStringLiteral("/Copy_log.ldf"));
        // Told the same way, and the server's own folder offered instead: not taken, nothing is sent.
        {
            const QString told = h.script.last().text;
            QVERIFY2(told.contains(QStringLiteral("не може створити файли в каталозі %1").arg(target)), qPrintable(told));
            QVERIFY(told.contains(QStringLiteral("Сервер бачить каталог %1, але не бачить у ньому").arg(home)));
            QVERIFY(told.contains(QStringLiteral("Серверу нічого не надіслано.\nСтворити файли бази даних у власному "
                                                 "каталозі сервера?")));
            QCOMPARE(fileStatements(h), sentBefore);
        }
        QVERIFY(!h.databases().contains(QStringLiteral("Copy")));

        sentBefore = fileStatements(h);
        h.script.clear();
        const QString backupTarget = h.folder(QStringLiteral("backup")) + QStringLiteral("/Own.bak");
        h.backup(QStringLiteral("Own"), backupTarget);
        toldBeforeSending(QStringLiteral("не може записати файл %1").arg(backupTarget), "backup");

        QCOMPARE(modeOf(home), modeBefore);
        QCOMPARE(snapshot(home), filesBefore);

        // Where the server reaches everything, nothing is asked that was not asked before.
        h.script.clear();
        h.script.answer(Reply::OK);
        h.backup(QStringLiteral("Own"), h.server.dataDir() + QStringLiteral("/Own2.bak"));
        QCOMPARE(h.script.seen.size(), 1);
        QVERIFY2(h.script.last().text.startsWith(QStringLiteral("Створення резервної копії бази даних Own успішно")),
                 qPrintable(h.script.last().text));
    }

    // The home after one attach of old: the server's account may pass through it (u:nobody:--x)
    // and so sees the user's folders, but may write in none of them and read no file closed to
    // others. Each job is offered its remedy before anything is sent, never met by error 5 after.
    void aFolderTheServerSeesButMayNotWriteIsOfferedItsRemedy() {
        if (::geteuid() != 0)
            QSKIP("another account for the server needs root");
        WindowHarness h(2019);
        const QString home = h.server.scratch();
        const QString backups = h.folder(QStringLiteral("backups")), db = h.folder(QStringLiteral("db"));
        QVERIFY(h.makeBackup(QStringLiteral("VTR"), backups + QStringLiteral("/VTR.bak")));
        QFile::setPermissions(backups + QStringLiteral("/VTR.bak"), QFileDevice::Permissions(0x6640));
        QCOMPARE(QProcess::execute(QStringLiteral("setfacl"), {QStringLiteral("-m"), QStringLiteral("u:nobody:x"), home}), 0);
        QVERIFY(restartAs(h, {QStringLiteral("--run-as"), QStringLiteral("nobody")}));
        h.sql(QStringLiteral("CREATE DATABASE Own"));
        QVERIFY(h.connect());
        const int sentBefore = fileStatements(h);
        h.script.clear();
        h.script.answer(Reply::No);
        h.backup(QStringLiteral("Own"), backups + QStringLiteral("/Own.bak"));
        QVERIFY2(h.script.last().text.contains(QStringLiteral("права доступу до %1 не дозволяють").arg(backups)) &&
                     h.script.last().text.contains(QStringLiteral("до спільної теки")),
                 qPrintable(h.script.texts().join('\n')));
        h.script.clear();
        h.openPage(WindowHarness::RestorePage);
        h.script.choose(backups + QStringLiteral("/VTR.bak"));
        h.script.answer(Reply::No);
        h.pickBackupButton()->click();
        QVERIFY2(h.script.last().text.contains(QStringLiteral("Дозволити серверу (nobody) прочитати")),
                 qPrintable(h.script.texts().join('\n')));
        QCOMPARE(fileStatements(h), sentBefore);
        h.sql(QStringLiteral("BACKUP DATABASE Own TO DISK = %1").arg(sqlquote::literal(h.server.dataDir() + "/Own.bak")));
        h.readFileList(h.server.dataDir() + QStringLiteral("/Own.bak"));
        QVERIFY(h.restoreButton()->isEnabled());
        h.script.clear();
        h.script.answer(Reply::No);
        h.restoreAs(QStringLiteral("Copy"), db + QStringLiteral("/Copy.mdf"), db + QStringLiteral("/Copy_log.ldf"));
        QVERIFY2(h.script.last().text.contains(QStringLiteral("Створити файли бази даних у власному каталозі сервера?")),
                 qPrintable(h.script.texts().join('\n')));

        // A backup it may not read, into a folder it may not write: Yes to the first offer brings
        // the second, not a dead end.
        h.openPage(WindowHarness::RestorePage);
        h.script.choose(backups + QStringLiteral("/VTR.bak"));
        h.script.answer(Reply::Yes);
        h.pickBackupButton()->click();
        QVERIFY(h.restoreButton()->isEnabled());
        const int sentBeforeRestore = fileStatements(h);
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::No);
        h.restoreAs(QStringLiteral("Copy"), db + QStringLiteral("/Copy.mdf"), db + QStringLiteral("/Copy_log.ldf"));
        QCOMPARE(h.script.seen.size(), 2);
        QVERIFY2(h.script.seen[0].text.contains(QStringLiteral("Дозволити серверу (nobody) прочитати")) &&
                     h.script.last().text.contains(QStringLiteral("у власному каталозі сервера?")),
                 qPrintable(h.script.texts().join('\n')));
        QCOMPARE(fileStatements(h), sentBeforeRestore);
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Copy"), db + QStringLiteral("/Copy.mdf"), db + QStringLiteral("/Copy_log.ldf"));
        QVERIFY2(h.script.last().text.startsWith(QStringLiteral("База даних Copy успішно відновлена")),
                 qPrintable(h.script.texts().join('\n')));
    }

    // A server whose modes and ACLs let it write where it is refused after all (here --deny; a
    // service with a private /tmp, which the checks cannot judge): a restore that changed nothing
    // leads to the offer the checks make, not to the message of error 5.
    void errorFiveAfterTheStatementLeadsToTheSameOffer() {
        if (::geteuid() != 0)
            QSKIP("another account for the server needs root");
        WindowHarness h(2019);
        const QString closed = h.server.dataDir() + QStringLiteral("/closed");
        QVERIFY(QDir().mkpath(closed) && QFile::setPermissions(closed, QFileDevice::Permissions(0x7777)));
        QVERIFY(restartAs(h, {QStringLiteral("--run-as"), QStringLiteral("nobody"), QStringLiteral("--deny"), closed}));
        const QString bak = h.server.dataDir() + QStringLiteral("/Own.bak");
        h.sql(QStringLiteral("CREATE DATABASE Own\nBACKUP DATABASE Own TO DISK = %1").arg(sqlquote::literal(bak)));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Copy"), closed + QStringLiteral("/Copy.mdf"), closed + QStringLiteral("/Copy_log.ldf"));
        QVERIFY2(h.script.seen.first().text.contains(QStringLiteral("заборонено доступ до %1/Copy.mdf").arg(closed)) &&
                     h.script.seen.first().text.contains(QStringLiteral("у власному каталозі сервера?")) &&
                     h.script.last().text.startsWith(QStringLiteral("База даних Copy успішно відновлена")),
                 qPrintable(h.script.texts().join('\n')));
    }

    // A backup in the user's closed folder, the server's account known (the owner of its socket):
    // the user is offered to let the server read that one file. No grants nothing and sends
    // nothing; Yes reads the file list, and the grant is taken back when the read is over.
    void aClosedBackupIsReadThroughAGrantTakenBackAfterwards() {
        if (::geteuid() != 0)
            QSKIP("another account for the server needs root");
        WindowHarness h(2019);
        const QString downloads = h.folder(QStringLiteral("Downloads"));
        const QString bak = downloads + QStringLiteral("/VTR.bak");
        QVERIFY(h.makeBackup(QStringLiteral("VTR"), bak));
        StandInAsNobody server;
        QVERIFY(server.start());
        h.serverName()->setText(QStringLiteral("127.0.0.1,%1").arg(server.port));
        QVERIFY(h.connect());
        const QString aclBefore = aclText(bak);
        const QString homeAclBefore = aclText(h.server.scratch());

        // The file dialog's choice, then the answer to the offer.
        const auto readAnswering = [&](int answer) {
            h.openPage(WindowHarness::RestorePage);
            h.script.clear();
            h.script.choose(bak);
            h.script.answer(answer);
            h.pickBackupButton()->click();
        };
        readAnswering(Reply::No);
        const modal::Request asked = h.script.last();
        QCOMPARE(asked.type, DialogType::Confirmation);
        QVERIFY2(asked.text.contains(QStringLiteral("Дозволити серверу (nobody) прочитати %1").arg(bak)),
                 qPrintable(asked.text));
        QVERIFY(asked.text.contains(QStringLiteral("закритий для облікового запису, від імені якого працює сервер (nobody)")));
        QVERIFY(!h.restoreButton()->isEnabled());
        QCOMPARE(aclText(bak), aclBefore);
        QCOMPARE(aclText(h.server.scratch()), homeAclBefore);

        readAnswering(Reply::Yes);
        QVERIFY2(h.restoreButton()->isEnabled(), qPrintable(h.script.texts().join('\n')));
        QCOMPARE(h.restoreMdf()->text(), h.server.scratch() + QStringLiteral("/VTR.mdf"));
        QCOMPARE(aclText(bak), aclBefore);
        QCOMPARE(aclText(h.server.scratch()), homeAclBefore);
    }

    // A server in a file system of its own (a container): a path of the host means nothing to it,
    // and it is refused before sending; the server's own path is used although this computer does
    // not see it.
    void aServerInItsOwnRootSeesOnlyItsOwnPaths() {
        WindowHarness h(2019);
        QVERIFY(restartAs(h, {QStringLiteral("--root"), h.server.dataDir()}));
        h.sql(QStringLiteral("CREATE DATABASE R\nBACKUP DATABASE R TO DISK = N'/R.bak'"));
        QVERIFY(QFile::exists(h.server.dataDir() + QStringLiteral("/R.bak")));
        QVERIFY(!QFile::exists(QStringLiteral("/R.bak")));
        QVERIFY(h.connect());
        const int sentBefore = fileStatements(h);

        const QString hostBak = h.server.scratch() + QStringLiteral("/R.bak");
        QVERIFY(QFile::copy(h.server.dataDir() + QStringLiteral("/R.bak"), hostBak));
        h.script.clear();
        h.readFileList(hostBak);
        QVERIFY2(h.script.last().text.contains(QStringLiteral("Сервер бачить каталог /, але не бачить у ньому")),
                 qPrintable(h.script.last().text));
        QCOMPARE(fileStatements(h), sentBefore);

        // Its own backup, a path only the server has: read, and restored where it proposes.
        h.script.clear();
        h.readFileList(QStringLiteral("/R.bak"));
        QCOMPARE(h.script.seen.size(), 1); // the server's own file dialog alone
        QCOMPARE(h.script.last().kind, modal::Kind::ServerFile);
        QCOMPARE(h.script.last().directory, QStringLiteral("/"));
        QVERIFY(h.restoreButton()->isEnabled());
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("R2"), QStringLiteral("/R2.mdf"), QStringLiteral("/R2_log.ldf"));
        QVERIFY2(h.script.last().text.startsWith(QStringLiteral("База даних R2 успішно відновлена")),
                 qPrintable(h.script.texts().join('\n')));
        // A server path typed for a backup greys the button out, and the button says why.
        h.openPage(WindowHarness::BackupPage);
        h.backupTarget()->setText(QStringLiteral("/Копії/R.bak"));
        QVERIFY(!h.backupButton()->isEnabled());
        QVERIFY2(h.backupButton()->toolTip().contains(QStringLiteral("Каталогу /Копії на цьому комп'ютері немає")),
                 qPrintable(h.backupButton()->toolTip()));
    }

    // A backup made on Windows names C:\ paths; a Linux server's default folders are proposed
    // with the backup's file names, a line says so, and the restore succeeds there.
    void aWindowsBackupIsRestoredIntoTheLinuxServersFolders() {
        QTemporaryDir drive;
        DevServer windows(2019, {QStringLiteral("--drive"), QStringLiteral("C=") + drive.path(),
                                 QStringLiteral("--data-dir"), drive.path() + QStringLiteral("/SQLData")});
        QDir().mkpath(drive.path() + QStringLiteral("/Backup"));
        windows.tsql(QStringLiteral("CREATE DATABASE W\nBACKUP DATABASE W TO DISK = N'C:\\Backup\\W.bak'"));
        const QString bak = drive.path() + QStringLiteral("/Backup/W.bak");
        QVERIFY(QFile::exists(bak));

        WindowHarness h(2019);
        QVERIFY(h.connect());
        h.script.clear();
        h.readFileList(bak);
        const QString data = h.server.dataDir();
        QCOMPARE(h.restoreMdf()->text(), data + QStringLiteral("/W.mdf"));
        QCOMPARE(h.restoreLdf()->text(), data + QStringLiteral("/W_log.ldf"));
        const auto* line = h.widget<QLabel>("lbProposedFolders");
        QVERIFY(line->isVisible());
        QVERIFY(line->text().contains(QStringLiteral("типових каталогах сервера")));
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("W"));
        QVERIFY2(h.script.last().text.startsWith(QStringLiteral("База даних W успішно відновлена")),
                 qPrintable(h.script.texts().join('\n')));
        QVERIFY(QFile::exists(data + QStringLiteral("/W.mdf")));

        // A backup of the server's own system proposes its own paths, and no line.
        h.readFileList(bak);
        h.makeBackup(QStringLiteral("L"), h.server.scratch() + QStringLiteral("/L.bak"));
        h.restoreName()->setText(QStringLiteral("L"));
        h.readFileList(h.server.scratch() + QStringLiteral("/L.bak"));
        QCOMPARE(h.restoreMdf()->text(), h.server.scratch() + QStringLiteral("/L.mdf"));
        QVERIFY(!line->isVisible());
    }
};

QTEST_MAIN(ServerView)
#include "tst_server_view.moc"
