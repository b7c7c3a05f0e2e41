// What would stop a restore, told before anything is sent, through the real window against the
// stand-in: another program inside the database, a disk too small, a newer server's backup, the
// Express cap; what the user should know (an older server's backup, another collation); and the
// one confirmation's T-SQL section, which holds the statements exactly as they are sent.
#include "WindowHarness.h"

#include "AdoQuery.h"
#include "BackupFormat.h"
#include "BackupRoom.h"
#include "FolderRoom.h"
#include "OperationPlan.h"
#include "Plan.h"
#include "RestoreChecks.h"
#include "PlainOdbc.h"
#include "ProgressDialog.h"
#include "ServerFileDialog.h"
#include "SqlQuote.h"

#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

namespace {

// Another program's connection, sitting in a database as a report tool would.
class OtherProgram : public PlainOdbc {
public:
    using PlainOdbc::PlainOdbc;
    bool run(const QString& batch) {
        SQLFreeStmt(m_stmt, SQL_CLOSE);
        const std::u16string text = batch.toStdU16String();
        const SQLRETURN rc =
            SQLExecDirectW(m_stmt, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.c_str())), SQL_NTS);
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            return false;
        while (SQLMoreResults(m_stmt) == SQL_SUCCESS) {
        }
        return true;
    }
};

// A file system of a few megabytes, as a small disk: unmounted when the test ends.
struct SmallDisk {
    QTemporaryDir dir;
    bool mounted = false;
    explicit SmallDisk(const QString& size) {
        mounted =
            QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=") + size, QStringLiteral("tmpfs"), dir.path()}) == 0;
    }
    ~SmallDisk() {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {dir.path()});
    }
};

// A backup of `name` made by another server (another version), in `folder`.
QString backupFrom(DevServer& other, const QString& name, const QString& folder) {
    other.tsql(QStringLiteral("CREATE DATABASE %1 ON PRIMARY (NAME = %2, FILENAME = %3) LOG ON (NAME = %4, "
                              "FILENAME = %5)\nBACKUP DATABASE %1 TO DISK = %6")
                   .arg(sqlquote::name(name), sqlquote::literal(name),
                        sqlquote::literal(folder + "/" + name + ".mdf"), sqlquote::literal(name + "_log"),
                        sqlquote::literal(folder + "/" + name + "_log.ldf"),
                        sqlquote::literal(folder + "/" + name + ".bak")));
    return folder + "/" + name + ".bak";
}

// A backup in the stand-in's format whose data file takes `dataBytes`, written as a hole: its
// file list says how large the database is without the disk holding it.
bool sparseBackup(const QString& path, const QString& name, long long dataBytes) {
    BackupSetHeader set;
    set.database = name.toStdString();
    set.familyGuid = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    set.setGuid = "7A3C1E2B-0000-4000-8000-000000000001";
    set.created = set.started = "2026-12-08 05:00:00.000";
    set.user = "sa";
    set.server = set.machine = "elsewhere";
    set.version = "15.0.2000";
    const long long logBytes = 1 << 20;
    set.files = {{{name.toStdString(), "/var/opt/mssql/data/v.mdf", 'D', 1, "PRIMARY", 1}, dataBytes},
                 {{(name + "_log").toStdString(), "/var/opt/mssql/data/v_log.ldf", 'L', 2, "", 0}, logBytes}};
    backupformat::SetWriter writer;
    return writer.open(path.toStdString(), true, 0) && writer.writeHeader(set) &&
           ::lseek(writer.fd(), dataBytes + logBytes, SEEK_CUR) > 0 &&
           writer.finish("2026-12-08 05:00:01.000");
}

// The stand-in runs with these options from here on; what the test set up before stays.
void restartWith(WindowHarness& h, const QStringList& options) {
    h.server.stop();
    h.server.setExtraArguments(options);
    QVERIFY(h.server.start());
}

// Presses Cancel on the restore's progress dialog (not the check before it) `afterMs` after it
// opens; `pressed` says it came to that.
void cancelTheRestore(int afterMs, bool& pressed) {
    modal::setProgressWatcher([afterMs, &pressed](ProgressDialog& d) {
        if (d.line().startsWith(QStringLiteral("Відновлення")))
            QTimer::singleShot(afterMs, &d, [&d, &pressed] {
                d.cancelButton()->click();
                pressed = true;
            });
    });
}

// The last message said the restore of `name` succeeded.
bool restored(const WindowHarness& h, const QString& name) {
    return h.script.last().text.startsWith(QStringLiteral("База даних %1 успішно відновлена").arg(name));
}

bool restoreSent(const WindowHarness& h) {
    return h.server.receivedStatements().contains(QLatin1String("RESTORE DATABASE"));
}

} // namespace

class RestoreChecks : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // Somebody inside the database: named in the one confirmation with the statements that
    // disconnect them; No leaves them connected, Yes ends their session and restores.
    void othersInsideAreNamedAndDisconnectedOnYes() {
        WindowHarness h;
        const QString bak = h.server.scratch() + "/Склад.bak";
        QVERIFY(h.makeBackup(QStringLiteral("Склад"), bak));
        OtherProgram other(h.server.port(), QStringLiteral("7.4"));
        QVERIFY(other.connected());
        QVERIFY(other.run(QStringLiteral("USE [Склад]")));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));

        h.script.clear();
        h.script.answer(Reply::No);
        h.restoreAs(QStringLiteral("Склад"));
        QCOMPARE(h.script.seen.size(), 1);
        const modal::Request asked = h.script.last();
        QVERIFY2(asked.text.startsWith(
                     QStringLiteral("Базою даних Склад зараз користуються інші сеанси:\n  сеанс ")),
                 qPrintable(asked.text));
        QVERIFY(asked.text.contains(QStringLiteral(": sa")));
        QVERIFY(asked.text.endsWith(
            QStringLiteral("Замінити базу даних Склад вмістом копії? Усе, що змінено в ній "
                           "після створення копії, буде втрачено.")));
        const QStringList statements = asked.statements.split(QLatin1Char('\n'));
        QCOMPARE(statements.size(), 5); // and, if it fails, MULTI_USER under its comment line
        QCOMPARE(statements[4], QStringLiteral("ALTER DATABASE [Склад] SET MULTI_USER"));
        QVERIFY(statements[0].startsWith(QStringLiteral("RESTORE VERIFYONLY FROM DISK = ")));
        QCOMPARE(statements[1],
                 QStringLiteral("ALTER DATABASE [Склад] SET SINGLE_USER WITH ROLLBACK IMMEDIATE"));
        QVERIFY(statements[2].startsWith(QStringLiteral("RESTORE DATABASE [Склад] FROM DISK = ")));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("SINGLE_USER")));
        QVERIFY(!restoreSent(h));
        QVERIFY(other.run(QStringLiteral("SELECT 1")));

        // Yes: every statement shown is sent as shown, and the other session is ended.
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        QVERIFY2(restored(h, QStringLiteral("Склад")), qPrintable(h.script.texts().join(QLatin1Char('|'))));
        const QString sent = h.server.receivedStatements();
        for (const QString& s : h.script.seen.first().statements.split(QLatin1Char('\n')).mid(0, 3))
            QVERIFY2(sent.contains(s), qPrintable(s));
        QVERIFY(!sent.contains(QLatin1String("MULTI_USER")));
        QVERIFY(!other.run(QStringLiteral("SELECT 1")));
    }

    // The restore cancelled after the others were disconnected: the database is open to everybody
    // again, as it was.
    void aCancelledRestoreOpensTheDatabaseAgain() {
        WindowHarness h;
        const QString bak = h.server.scratch() + "/Sklad.bak";
        QVERIFY(h.makeBackup(QStringLiteral("Sklad"), bak));
        restartWith(h, {QStringLiteral("--slow-changes"), QStringLiteral("1000")});
        OtherProgram other(h.server.port(), QStringLiteral("7.4"));
        QVERIFY(other.run(QStringLiteral("USE Sklad")));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));
        bool cancelled = false;
        cancelTheRestore(200, cancelled);
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.restoreAs(QStringLiteral("Sklad"));
        modal::setProgressWatcher(nullptr);
        QVERIFY(cancelled);
        QVERIFY2(h.script.last().text.startsWith(
                     QStringLiteral("Відновлення бази даних Sklad скасовано. База даних не "
                                    "відновлена.")),
                 qPrintable(h.script.last().text));
        QVERIFY(
            h.server.receivedStatements().contains(QStringLiteral("ALTER DATABASE [Sklad] SET MULTI_USER")));
        QVERIFY(h.sql(QStringLiteral("SELECT user_access_desc FROM sys.databases WHERE name = N'Sklad'"))
                    .contains(QLatin1String("MULTI_USER")));
        OtherProgram next(h.server.port(), QStringLiteral("7.4"));
        QVERIFY(next.run(QStringLiteral("USE Sklad")));
    }

    // A folder on a disk too small for the backup's files: told with both sizes, nothing sent.
    void aDiskTooSmallIsToldBeforeAnythingIsSent() {
        SmallDisk disk(QStringLiteral("4m"));
        if (!disk.mounted)
            QSKIP("mounting a tmpfs needs root");
        // Drive D is a folder on the small disk.
        const QString d = disk.dir.path() + "/d";
        QDir().mkpath(d + "/target");
        WindowHarness h(2019, DevServer::windowsDrive() +
                                  QStringList{QStringLiteral("--drive"), QStringLiteral("D=") + d});
        h.sql(
            QStringLiteral("CREATE DATABASE Big ON PRIMARY (NAME = Big, FILENAME = N'C:\\SQLData\\Big.mdf', "
                           "SIZE = 8MB) LOG ON (NAME = Big_log, FILENAME = N'C:\\SQLData\\Big_log.ldf')\n"
                           "BACKUP DATABASE Big TO DISK = N'C:\\SQLData\\Big.bak'"));
        QVERIFY(h.connect());
        h.readFileList(QStringLiteral("C:\\SQLData\\Big.bak"));
        h.script.clear();
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Копія"), QStringLiteral("D:\\target\\Копія.mdf"),
                    QStringLiteral("D:\\target\\Копія_log.ldf"));
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().type, DialogType::Error);
        QVERIFY2(h.script.last().text.startsWith(
                     QStringLiteral("Для файлів бази даних у каталозі D:\\target "
                                    "потрібно 16,0\u00a0МБ, а вільно там лише 4,0\u00a0МБ.")),
                 qPrintable(h.script.last().text));
        QVERIFY(h.script.last().text.endsWith(QStringLiteral("\nСерверу нічого не надіслано.")));
        QVERIFY(!restoreSent(h));
        QVERIFY(QDir(d + "/target").isEmpty());
    }

    // A folder on a small disk of its own where no database file lies: its own room (from the file
    // system, for a server that shares this computer's), never the room of "/" the server lists;
    // where nobody can tell, the confirmation says so. The same for a backup.
    void aFolderWithoutDatabaseFilesIsMeasuredItself() {
        SmallDisk disk(QStringLiteral("1m"));
        if (!disk.mounted)
            QSKIP("mounting a tmpfs needs root");
        DevServer server(2019);
        server.tsql(QStringLiteral("CREATE DATABASE Big ON PRIMARY (NAME = Big, FILENAME = N'%1/Big.mdf', SIZE = 3MB)")
                        .arg(server.scratch()));
        AdoConnection c;
        c.setConnectionString(server.connectionString());
        AdoQuery q(c);
        const serverquestions::ServerVersion v = serverquestions::version(q);
        QCOMPARE(serverquestions::freeBytes(q, v, disk.dir.path()), qint64(-1));
        const auto folderOf = [](const QString& p) { return QFileInfo(p).path(); };
        for (const bool here : {true, false}) {
            ops::Plan plan;
            const auto freeBytes = [&](const QString& f) { return folderroom::freeBytes(q, v, f, here); };
            restorechecks::check(q, {v, folderOf, here, freeBytes, folderroom::notChecked}, plan, {{disk.dir.path() + "/Big.mdf", 3 << 20}}, {});
            QCOMPARE(plan.stop.contains(disk.dir.path() + QStringLiteral(" потрібно 3,0")), here);
            QCOMPARE(plan.findings.join('\n').contains(QStringLiteral("перевірити не вдалося")), !here);
            const backuproom::Room room = backuproom::check(q, QStringLiteral("Big"), disk.dir.path(), here);
            QCOMPARE(room.refusal.contains(QStringLiteral("вільно лише")), here);
            QCOMPARE(room.notChecked.contains(disk.dir.path()), !here);
        }
    }

    // A backup this server cannot read is told from its header, with both versions, before its
    // list is read: a newer server's, and from 2012 on a 2000 backup.
    void aBackupOfAnotherVersionIsToldFromItsHeader_data() {
        QTest::addColumn<int>("made");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("madeBy");
        QTest::newRow("newer") << 2022 << QStringLiteral("новішим сервером") << QStringLiteral("SQL Server 2022 (16.00.");
        QTest::newRow("2000 on 2019") << 2000 << QStringLiteral("надто старим сервером") << QStringLiteral("SQL Server 2000 (8.00.");
    }
    void aBackupOfAnotherVersionIsToldFromItsHeader() {
        QFETCH(int, made);
        QFETCH(QString, said);
        QFETCH(QString, madeBy);
        WindowHarness h(2019);
        DevServer other(made);
        const QString bak = backupFrom(other, QStringLiteral("Nova"), h.server.scratch());
        QVERIFY(h.connect());
        h.script.clear();
        h.openPage(WindowHarness::RestorePage);
        h.script.choose(bak);
        h.script.answer(Reply::OK);
        h.pickBackupButton()->click();
        QCOMPARE(h.script.last().type, DialogType::Error);
        QVERIFY2(h.script.last().text.contains(said + QStringLiteral(" — ") + madeBy), qPrintable(h.script.last().text));
        QVERIFY(h.script.last().text.contains(QStringLiteral("а цей сервер — SQL Server 2019 (15.00.")));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("FILELISTONLY")));
        QVERIFY(!h.restoreButton()->isEnabled());
    }

    // An older server's backup and another collation: a line each in the confirmation of a
    // restore that asks nothing otherwise; No sends nothing, Yes restores.
    void anOlderServersBackupInAnotherCollationIsSaid() {
        WindowHarness h(2019, {QStringLiteral("--collation"), QStringLiteral("Cyrillic_General_CI_AS")});
        DevServer older(2017);
        const QString bak = backupFrom(older, QStringLiteral("Stara"), h.server.scratch());
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));
        h.script.clear();
        h.script.answer(Reply::No);
        h.restoreAs(QStringLiteral("Stara"));
        QCOMPARE(h.script.seen.size(), 1);
        const QStringList lines = h.script.last().text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QVERIFY2(
            lines[0].startsWith(QStringLiteral("Копію зроблено старішим сервером — SQL Server 2017 (14.00.")),
            qPrintable(lines[0]));
        QVERIFY(lines[1].startsWith(
            QStringLiteral("Порядок сортування (collation) бази даних у копії — "
                           "SQL_Latin1_General_CP1_CI_AS, а сервера — Cyrillic_General_CI_AS")));
        QCOMPARE(lines[2], QStringLiteral("Продовжити?"));
        QVERIFY(h.script.last().statements.startsWith(QStringLiteral("RESTORE DATABASE [Stara]")));
        QVERIFY(!restoreSent(h));

        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        QVERIFY2(restored(h, QStringLiteral("Stara")), qPrintable(h.script.texts().join(QLatin1Char('|'))));
    }

    // Express refuses data past its cap (1827 once the files are made): told with cap and size.
    void theExpressCapIsToldBeforeAnythingIsSent() {
        WindowHarness h(2019, {QStringLiteral("--edition"), QStringLiteral("express")});
        const QString bak = h.server.scratch() + "/Velyka.bak";
        QVERIFY(sparseBackup(bak, QStringLiteral("Velyka"), 11LL << 30));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));
        h.script.clear();
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Velyka"));
        QCOMPARE(h.script.seen.size(), 1);
        QVERIFY2(h.script.last().text.contains(
                     QStringLiteral("може мати не більше 10,0\u00a0ГБ даних, а файли даних "
                                    "цієї копії займають 11,0\u00a0ГБ")),
                 qPrintable(h.script.last().text));
        QVERIFY(!restoreSent(h));
        QVERIFY(QDir(h.server.scratch() + "/restored").isEmpty());
    }

    // A server that runs as another account cannot create files in the user's closed folder: the
    // dialog offers its own folder; No sends nothing, Yes restores there.
    void theServersOwnFolderTakesFilesItCannotCreateInTheChosenOne() {
        if (!DevServer::canRunAs())
            QSKIP("needs root and the account nobody");
        WindowHarness h(2019, DevServer::runAs());
        const QString bak = h.server.dataDir() + "/Sklad.bak";
        h.sql(QStringLiteral("CREATE DATABASE Sklad\nBACKUP DATABASE Sklad TO DISK = %1")
                  .arg(sqlquote::literal(bak)));
        QTemporaryDir home; // 0700, as a user's home is
        const QString closed = home.path() + "/db";
        QVERIFY(QDir().mkpath(closed));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.script.clear();
        h.script.answer(Reply::No);
        // The backup's own file names, which in the server's folder are the attached Sklad's: the
        // offer names the files after the new database instead.
        h.restoreAs(QStringLiteral("Kopia"), closed + "/Sklad.mdf", closed + "/Sklad_log.ldf");
        QCOMPARE(h.script.seen.size(), 1);
        const QString offered =
            QStringLiteral("Створити файли бази даних у власному каталозі сервера?\n%1\n%2")
                .arg(serverfiles::joined(h.server.dataDir(), QStringLiteral("Kopia.mdf")),
                     serverfiles::joined(h.server.dataDir(), QStringLiteral("Kopia_log.ldf")));
        QVERIFY2(h.script.last().text.endsWith(offered), qPrintable(h.script.last().text));
        QVERIFY(!restoreSent(h));

        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        QVERIFY2(restored(h, QStringLiteral("Kopia")), qPrintable(h.script.texts().join(QLatin1Char('|'))));
        QVERIFY(QFile::exists(serverfiles::joined(h.server.dataDir(), QStringLiteral("Kopia.mdf"))));
        QVERIFY(QDir(closed).isEmpty());
    }

    // A server in its own file system (a container): the folder buttons list its folders, and the
    // folder chosen there is used as the server names it.
    void theFolderButtonsOfferTheServersOwnFolders() {
        WindowHarness h(2019, DevServer::ownRoot());
        const QString bak = QStringLiteral("/var/opt/mssql/data/Sklad.bak");
        h.sql(QStringLiteral("CREATE DATABASE Sklad\nBACKUP DATABASE Sklad TO DISK = %1")
                  .arg(sqlquote::literal(bak)));
        QVERIFY(QDir().mkpath(h.server.hostPath(QStringLiteral("/var/opt/mssql/restored"))));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.chooseRestoreFolder(QStringLiteral("/var/opt/mssql/restored"));
        QCOMPARE(h.script.last().kind, modal::Kind::ServerFolder);
        QCOMPARE(h.restoreMdf()->text(), QStringLiteral("/var/opt/mssql/restored/Sklad.MDF"));
        h.script.answer(Reply::Yes); // no database file there: its room cannot be checked
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Kopia"));
        QVERIFY2(restored(h, QStringLiteral("Kopia")), qPrintable(h.script.texts().join(QLatin1Char('|'))));
        QVERIFY(QFile::exists(h.server.hostPath(QStringLiteral("/var/opt/mssql/restored/Sklad.MDF"))));
    }

    // A restore over a database, to the files it has, cancelled when the server goes on anyway
    // (it ignores the cancel): whether the restore wrote the data file is the server's to say, as
    // the server's paths are not this computer's.
    void aCancelledRestoreOverItselfIsToldFromTheServer() {
        WindowHarness h(2019, DevServer::ownRoot());
        const QString bak = QStringLiteral("/var/opt/mssql/data/Old.bak");
        h.sql(QStringLiteral("CREATE DATABASE Old\nBACKUP DATABASE Old TO DISK = %1")
                  .arg(sqlquote::literal(bak)));
        restartWith(h, DevServer::ownRoot() + QStringList{QStringLiteral("--slow-changes"),
                                                          QStringLiteral("1000"),
                                                          QStringLiteral("--ignore-attention")});
        QVERIFY(h.connect());
        h.openPage(WindowHarness::RestorePage);
        h.restoreName()->setText(QStringLiteral("Old"));
        h.readFileList(bak);
        QCOMPARE(h.restoreMdf()->text(), QStringLiteral("/var/opt/mssql/data/Old.mdf"));
        bool cancelled = false;
        cancelTheRestore(300, cancelled);
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.restoreAs(QStringLiteral("Old"));
        modal::setProgressWatcher(nullptr);
        QVERIFY(cancelled);
        QVERIFY2(h.script.texts().join('|').contains(
                     QStringLiteral("База даних Old успішно відновлена із файлу ")),
                 qPrintable(h.script.texts().join('|')));
    }

    // The T-SQL section: hidden until its button is pressed (Tab reaches it, Space presses it),
    // then the statements as they are, read-only and selectable.
    void theStatementsAreShownOnRequest() {
        const QString statements =
            QStringLiteral("ALTER DATABASE [a&b] SET SINGLE_USER WITH ROLLBACK IMMEDIATE\n"
                           "RESTORE DATABASE [a&b] FROM DISK = N'/x/it''s.bak'");
        msgdlg::MessageDialog dialog(QStringLiteral("Замінити?"), DialogType::Confirmation,
                                     {DialogButton::Yes, DialogButton::No}, nullptr, statements);
        auto* view = dialog.findChild<QPlainTextEdit*>(QStringLiteral("statements"));
        auto* toggle = dialog.findChild<QPushButton*>(QStringLiteral("showStatements"));
        QVERIFY(view && toggle);
        dialog.show();
        QVERIFY(!view->isVisible());
        QVERIFY(toggle->focusPolicy() & Qt::TabFocus);
        toggle->setFocus();
        QTest::keyClick(toggle, Qt::Key_Space);
        QVERIFY(view->isVisible());
        QVERIFY(view->isReadOnly());
        QVERIFY(view->textInteractionFlags() & Qt::TextSelectableByKeyboard);
        QCOMPARE(view->toPlainText(), statements);
        QVERIFY(
            msgdlg::clipboardText(QStringLiteral("c"), QStringLiteral("m"), {DialogButton::OK}, statements)
                .contains(statements));
        QVERIFY(!msgdlg::MessageDialog(QStringLiteral("x"), DialogType::Information, {DialogButton::OK})
                     .findChild<QPushButton*>(QStringLiteral("showStatements")));
    }
};

QTEST_MAIN(RestoreChecks)
#include "tst_restore_checks.moc"
