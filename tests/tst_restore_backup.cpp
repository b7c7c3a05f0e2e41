// The restore and backup pages against the stand-in: a backup made through the window and restored
// through it, file lists, folder choices, the access-denied message and the four-character rule.
#include "WindowHarness.h"

#include "SqlQuote.h"

#include "RusUkrDlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QtTest>

class RestoreAndBackupPages : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // The backup's recorded paths are the attached Sales's files: under a new name the page never
    // proposes them, but names after the new database in the same folder; Sales itself keeps them.
    void aNewNameIsNeverProposedALiveDatabasesFiles() {
        WindowHarness h;
        const QString base = h.server.scratch() + QStringLiteral("/Sales");
        QVERIFY(h.makeBackup(QStringLiteral("Sales"), base + QStringLiteral(".bak")));
        QVERIFY(h.connect());
        h.readFileList(base + QStringLiteral(".bak"));
        h.restoreName()->setText(QStringLiteral("SalesR"));
        QCOMPARE(h.restoreMdf()->text(), base + QStringLiteral("R.mdf"));
        QCOMPARE(h.restoreLdf()->text(), base + QStringLiteral("R_log.ldf"));
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        QVERIFY2(h.script.last().text.startsWith(QStringLiteral("База даних SalesR успішно відновлена")),
                 qPrintable(h.script.last().text));
        h.restoreName()->setText(QStringLiteral("Sales"));
        QCOMPARE(h.restoreMdf()->text(), base + QStringLiteral(".mdf"));
    }

    void backupThenRestoreUnderANewName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "Sales"
                               << "backups";
        QTest::newRow("quote, blank, cyrillic") << "Об'єкт 1"
                                                << "Резервні копії/it's here";
    }
    void backupThenRestoreUnderANewName() {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE [%1]").arg(name));
        QVERIFY(h.connect());
        const QString dir = h.server.scratch() + "/" + folder;
        QDir().mkpath(dir);
        const QString bak = dir + "/copy.bak";
        h.backupChosen(name, bak);
        QCOMPARE(h.script.last().text, QStringLiteral("Створення резервної копії бази даних ") + name +
                                           QStringLiteral(" успішно виконано.\nКопію перевірено: з неї можна "
                                                          "відновити базу даних."));
        QVERIFY(QFile::exists(bak));
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("Backup Database %1 to disk = %2 WITH INIT , NOUNLOAD , SKIP , STATS = 10, "
                           "NOFORMAT, CHECKSUM, "
                           "COPY_ONLY\r\n")
                .arg(sqlquote::name(name), sqlquote::literal(bak))));

        // Restore: the file list fills the logical names; the recorded paths are the attached
        // database's files, so the proposal is named after the name in the field instead.
        h.readFileList(bak);
        QCOMPARE(h.restoreMdf()->text(), h.server.dataDir() + "/" + h.restoreName()->text() + ".mdf");
        QCOMPARE(h.restoreLdf()->toolTip(), h.server.dataDir() + "/" + h.restoreName()->text() + "_log.ldf");
        QCOMPARE(h.window->logicalDataName(), name);
        QCOMPARE(h.window->logicalLogName(), name + "_log");
        QVERIFY(h.restoreButton()->isEnabled());

        // One folder for both files, named after the logical names.
        h.chooseRestoreFolder(dir);
        QCOMPARE(h.script.last().text, QStringLiteral("Виберіть каталог для розміщення MDF-файлу:"));
        QCOMPARE(h.restoreMdf()->text(), dir + "/" + name + ".MDF");
        QCOMPARE(h.restoreLdf()->text(), dir + "/" + name + "_log.LDF");

        const QString newName = name + " copy";
        h.script.answer(Reply::OK);
        h.restoreAs(newName);
        QCOMPARE(h.script.last().text, QStringLiteral("База даних ") + newName +
                                           QStringLiteral(" успішно відновлена із файлу ") + bak);
        QVERIFY(QFile::exists(dir + "/" + name + ".MDF"));
        QVERIFY(QFile::exists(dir + "/" + name + "_log.LDF"));
        QVERIFY(h.databases().contains(newName));
        QVERIFY(h.databases().contains(name));

        // Restoring over it again replaces it, once the user agrees: the backup holds a database
        // of another name.
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        QVERIFY(h.script.last().text.contains(QStringLiteral("успішно відновлена")));
        QCOMPARE(h.databases().filter(newName).size(), 1);
    }

    // A restore under a new name leaves the server's own guard against overwriting a file on: a
    // detached database's files, where the server sees them and this computer does not (names
    // the server takes relative to its own folder), stay as they were.
    void newNameNeverOverwritesFilesTheServerSees() {
        WindowHarness h;
        const QString bak = h.server.scratch() + "/src.bak";
        QVERIFY(h.makeBackup(QStringLiteral("Src"), bak));
        const QString data = h.server.dataDir() + "/gone.mdf";
        QVERIFY(h.makeDatabase(QStringLiteral("Gone"), data, h.server.dataDir() + "/gone_log.ldf", true));
        const QByteArray before = fileBytes(data);
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.script.clear();
        h.script.answer(Reply::Yes); // the room of the server's own folder cannot be checked
        h.restoreAs(QStringLiteral("Fresh"), QStringLiteral("gone.mdf"), QStringLiteral("gone_log.ldf"));
        QVERIFY2(h.script.last().text.contains(QLatin1String("cannot be restored over the existing")),
                 qPrintable(h.script.texts().join('|')));
        QCOMPARE(fileBytes(data), before);
        QVERIFY(!h.databases().contains(QStringLiteral("Fresh")));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("REPLACE")));
    }

    // Replacing a database is always asked, and the question says whether the backup is of that
    // database (its family, as the server keeps it) or of another one under the same name.
    void replacingIsAskedByFamily() {
        WindowHarness h;
        const QString bak = h.server.scratch() + "/sales.bak";
        QVERIFY(h.makeBackup(QStringLiteral("Sales"), bak));
        const QString other = h.server.scratch() + "/other.mdf";
        h.sql(QStringLiteral("DROP DATABASE Sales\nCREATE DATABASE Sales ON PRIMARY (FILENAME = %1) LOG ON "
                             "(FILENAME = %2)")
                  .arg(sqlquote::literal(other), sqlquote::literal(h.server.scratch() + "/other_log.ldf")));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));
        h.script.clear();
        h.script.answer(Reply::No);
        h.restoreAs(QStringLiteral("Sales"));
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Резервна копія містить базу даних Sales, а на сервері вже є інша база даних "
                                "Sales. Замінити базу даних Sales вмістом копії?"));
        QVERIFY(QFile::exists(other));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("RESTORE DATABASE")));

        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        QVERIFY(h.script.last().text.contains(QStringLiteral("успішно відновлена")));
        QVERIFY(!QFile::exists(other));

        // Now the database is of the backup's family: the question names it as the same one.
        h.script.clear();
        h.script.answer(Reply::No);
        h.restoreButton()->click();
        QCOMPARE(h.script.seen.size(), 1);
        QVERIFY2(
            h.script.last().text.contains(QStringLiteral("— копія бази даних Sales, яка вже є на сервері")) &&
                h.script.last().text.contains(QStringLiteral("після створення копії, буде втрачено")),
            qPrintable(h.script.last().text));
    }

    // The backup file written anew between the reading of its list and the restore: the list is
    // read again and the user told, nothing restored from a list of another set.
    void backupWrittenAnewIsReadAgain() {
        WindowHarness h;
        const QString bak = h.server.scratch() + "/shared.bak";
        QVERIFY(h.makeBackup(QStringLiteral("Alpha"), bak));
        h.sql(QStringLiteral("CREATE DATABASE Beta"));
        QVERIFY(h.connect());
        h.readFileList(bak);
        h.chooseRestoreFolder(h.folder(QStringLiteral("r")));
        h.sql(QStringLiteral("BACKUP DATABASE Beta TO DISK = %1 WITH INIT").arg(sqlquote::literal(bak)));
        h.script.clear();
        h.restoreAs(QStringLiteral("Copy"));
        QVERIFY2(
            h.script.last().text.contains(QStringLiteral("змінився після того, як його було прочитано")) &&
                h.script.last().text.contains(QStringLiteral("копія бази даних Beta")),
            qPrintable(h.script.texts().join('|')));
        QCOMPARE(h.window->logicalDataName(), QStringLiteral("Beta"));
        QVERIFY(!h.databases().contains(QStringLiteral("Copy")));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("RESTORE DATABASE")));
    }

    void logFolderOnlyAndRootFolders() {
        WindowHarness h;
        QVERIFY(h.connect());
        h.openPage(2);
        h.restoreName()->setText(QStringLiteral("  Нова "));
        // The folder buttons wait for a backup file; this case needs none.
        h.restoreFolderButton()->setEnabled(true);
        h.logFolderButton()->setEnabled(true);
        h.script.choose(QStringLiteral("/"));
        h.restoreFolderButton()->click();
        // No file list read yet: the trimmed name proposes both files; the root doubles its "/".
        QCOMPARE(h.restoreMdf()->text(), QStringLiteral("//Нова_Data.MDF"));
        QCOMPARE(h.restoreLdf()->text(), QStringLiteral("//Нова_Log.LDF"));
        h.script.choose(h.server.scratch());
        h.logFolderButton()->click();
        QCOMPARE(h.script.last().text, QStringLiteral("Виберіть каталог для розміщення LDF-файлу:"));
        QCOMPARE(h.script.last().directory, QStringLiteral("//"));
        QCOMPARE(h.restoreLdf()->text(), h.server.scratch() + QStringLiteral("/Нова_Log.LDF"));
        QCOMPARE(h.restoreMdf()->text(), QStringLiteral("//Нова_Data.MDF"));
        // Each folder button opens its picker at its own field's folder.
        h.restoreFolderButton()->click();
        QCOMPARE(h.script.last().directory, QStringLiteral("//"));
        h.restoreMdf()->setText(h.server.scratch() + QStringLiteral("/x.mdf"));
        h.restoreFolderButton()->click();
        QCOMPARE(h.script.last().directory, h.server.scratch() + QLatin1Char('/'));
        QCOMPARE(h.restoreMdf()->text(), h.server.scratch() + QStringLiteral("/x.mdf"));
        // A cancelled choice changes nothing.
        h.logFolderButton()->click();
        QCOMPARE(h.restoreLdf()->text(), h.server.scratch() + QStringLiteral("/Нова_Log.LDF"));
    }

    void typedPathIsReadWhenTheDialogIsCancelled() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE T1\nBACKUP DATABASE T1 TO DISK = N'%1/t1.bak'")
                  .arg(h.server.scratch()));
        QVERIFY(h.connect());
        h.openPage(2);
        h.backupPath()->setText(h.server.scratch() + "/t1.bak");
        h.pickBackupButton()->click(); // dialog cancelled
        QCOMPARE(h.window->logicalDataName(), QStringLiteral("T1"));
        QVERIFY(h.restoreFolderButton()->isEnabled());
        // Opening the page again empties the paths but keeps the logical names.
        h.openPage(0);
        h.openPage(2);
        QCOMPARE(h.restoreMdf()->text(), QString());
        QCOMPARE(h.window->logicalDataName(), QStringLiteral("T1"));
        QVERIFY(!h.restoreButton()->isEnabled());
    }

    void unwritableTargetGivesTheAccessDeniedMessage() {
        const QTemporaryDir locked;
        WindowHarness h(2019, {QStringLiteral("--deny"), locked.path()});
        h.sql(QStringLiteral("CREATE DATABASE R1\nBACKUP DATABASE R1 TO DISK = N'%1/r1.bak'")
                  .arg(h.server.scratch()));
        QVERIFY(h.connect());
        h.readFileList(h.server.scratch() + "/r1.bak");
        QVERIFY(!h.window->RestoreDatabase(QStringLiteral("R2"), h.server.scratch() + "/r1.bak",
                                           locked.path() + "/r.mdf", locked.path() + "/r.ldf"));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Не можливо створити фізичний файл %1/r.mdf.\rПомилка операційної "
                                "системи 5: (Доступ заборонений.)")
                     .arg(locked.path()));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::OK});

        // Only the log file's folder refused: the message names the log file.
        QVERIFY(!h.window->RestoreDatabase(QStringLiteral("R2"), h.server.scratch() + "/r1.bak",
                                           h.server.scratch() + "/r.mdf", locked.path() + "/r.ldf"));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Не можливо створити фізичний файл %1/r.ldf.\rПомилка операційної "
                                "системи 5: (Доступ заборонений.)")
                     .arg(locked.path()));

        // A folder the server does not find: told before the restore is sent, naming how far the
        // server sees.
        const auto restoresSent = [&] { return h.server.receivedStatements().count(QLatin1String("RESTORE DATABASE")); };
        const qsizetype sent = restoresSent();
        QVERIFY(!h.window->RestoreDatabase(QStringLiteral("R2"), h.server.scratch() + "/r1.bak",
                                           "/no/such/r.mdf", h.server.scratch() + "/r.ldf"));
        QCOMPARE(h.script.last().text.section(QLatin1Char('\n'), 0, 1),
                 QStringLiteral("Сервер %1 не може створити файли в каталозі /no/such.\nСервер бачить каталог /, "
                                "але не бачить у ньому no: no там немає, або каталог / закритий для облікового "
                                "запису, від імені якого працює сервер (обліковий запис служби сервера).")
                     .arg(h.server.dataSource()));
        // The server's own folder is offered instead; not taken, nothing is sent.
        QVERIFY(h.script.last().text.contains(QStringLiteral("Створити файли бази даних у власному каталозі сервера?")));
        QCOMPARE(restoresSent(), sent);
        QVERIFY(!h.databases().contains(QStringLiteral("R2")));
    }

    // Every version writes operating-system error 5 its own way around the same "5(" shape; the
    // message names the refused file, data or log.
    void accessDeniedOnEveryVersion_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("logRefused");
        for (int version : {2000, 2005, 2008, 2012, 2019}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 data").arg(version))) << version << false;
            QTest::newRow(qPrintable(QStringLiteral("%1 log").arg(version))) << version << true;
        }
    }
    void accessDeniedOnEveryVersion() {
        QFETCH(int, version);
        QFETCH(bool, logRefused);
        const QTemporaryDir locked;
        WindowHarness h(version, {QStringLiteral("--deny"), locked.path()});
        h.sql(QStringLiteral("CREATE DATABASE R1\nBACKUP DATABASE R1 TO DISK = N'%1/r1.bak'")
                  .arg(h.server.scratch()));
        QVERIFY(h.connect());
        h.readFileList(h.server.scratch() + "/r1.bak");
        const QString data = (logRefused ? h.server.scratch() : locked.path()) + "/r.mdf";
        const QString log = (logRefused ? locked.path() : h.server.scratch()) + "/r.ldf";
        QVERIFY(!h.window->RestoreDatabase(QStringLiteral("R2"), h.server.scratch() + "/r1.bak", data, log));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Не можливо створити фізичний файл %1.\rПомилка операційної системи 5: "
                                "(Доступ заборонений.)")
                     .arg(logRefused ? log : data));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::OK});
    }

    void backupFailuresAndTheFourCharacterRule() {
        const QTemporaryDir locked;
        WindowHarness h(2019, {QStringLiteral("--deny"), locked.path()});
        h.sql(QStringLiteral("CREATE DATABASE B1"));
        QVERIFY(h.connect());
        h.openPage(3);
        auto* path = h.backupTarget();
        // Four characters or fewer never change the button.
        QTest::keyClicks(path, QStringLiteral("/tm"));
        QVERIFY(!h.backupButton()->isEnabled());
        path->setText(QStringLiteral("/tmp/x.bak"));
        QVERIFY(h.backupButton()->isEnabled());
        path->setText(QStringLiteral("/x"));
        QVERIFY(h.backupButton()->isEnabled());
        path->setText(QStringLiteral("/no/such/x.bak"));
        QVERIFY(!h.backupButton()->isEnabled());

        // A folder the server does not find sends nothing, and says so.
        h.script.clear();
        h.backupButton()->setEnabled(true);
        h.backupButton()->click();
        QCOMPARE(h.script.seen.size(), 1);
        QVERIFY(h.script.last().text.startsWith(
            QStringLiteral("Сервер %1 не може записати файл /no/such/x.bak.").arg(h.server.dataSource())));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("Backup Database")));

        // No database chosen: the server's refusal in the simple message.
        path->setText(h.server.scratch() + "/none.bak");
        h.backupButton()->click();
        QCOMPARE(h.script.last().kind, modal::Kind::SimpleMessage);
        QCOMPARE(h.script.last().caption, QStringLiteral("Zelvaro"));
        QVERIFY(
            h.script.last().text.startsWith(QLatin1String("An object or column name is missing or empty")));

        // A folder the service may not write to.
        auto* combo = h.backupDatabase();
        combo->setCurrentIndex(combo->findText(QStringLiteral("B1")));
        path->setText(locked.path() + "/b.bak");
        h.backupButton()->click();
        QCOMPARE(h.script.last().kind, modal::Kind::SimpleMessage);
        // The cause, not the generic "terminating abnormally" that follows it.
        QCOMPARE(h.script.last().text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral(
                     "Cannot open backup device '%1/b.bak'. Operating system error 5(Access is denied.)")
                     .arg(locked.path()));
        QVERIFY(!QFile::exists(locked.path() + "/b.bak"));
    }

    // With the connection closed and the server gone, the backup and the file-list read try to
    // connect, report that, and still send their statement, which reports its own failure.
    void closedConnectionStillSendsTheStatement_data() {
        QTest::addColumn<bool>("backup");
        QTest::newRow("backup") << true;
        QTest::newRow("file list") << false;
    }
    void closedConnectionStillSendsTheStatement() {
        QFETCH(bool, backup);
        WindowHarness h;
        const QString bak = h.server.scratch() + "/c1.bak";
        h.sql(QStringLiteral("CREATE DATABASE C1\nBACKUP DATABASE C1 TO DISK = N'%1'").arg(bak));
        QVERIFY(h.connect());
        h.openPage(backup ? WindowHarness::BackupPage : WindowHarness::RestorePage);
        h.window->Disconnect();
        h.server.stop();
        h.script.clear();
        if (backup)
            h.backup(QStringLiteral("C1"), h.server.scratch() + "/c2.bak");
        else
            h.readFileList(bak);
        QList<modal::Request> reports;
        for (const modal::Request& r : h.script.seen)
            if (r.kind != modal::Kind::OpenFile)
                reports << r;
        QCOMPARE(reports.size(), 2); // the connection's, then the statement's
        QCOMPARE(reports[0].buttons, DialogButtons{DialogButton::Cancel});
    }

    // A list of fewer than two rows fills nothing in, and leaves nothing of the earlier backup's
    // list to restore with: the restore waits for a list of the path in the field.
    void fewerThanTwoRowsLeaveNoEarlierListInForce() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE F1\nBACKUP DATABASE F1 TO DISK = N'%1/f1.bak'")
                  .arg(h.server.scratch()));
        // A backup holding only one file.
        QFile whole(h.server.scratch() + "/f1.bak");
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QByteArray bytes = whole.readAll();
        whole.close();
        const int second = bytes.indexOf("logical=F1_log");
        QVERIFY(second > 0);
        QByteArray single = bytes.left(second);
        single.replace("files=2", "files=1");
        QFile one(h.server.scratch() + "/one.bak");
        QVERIFY(one.open(QIODevice::WriteOnly));
        one.write(single);
        one.close();

        QVERIFY(h.connect());
        h.readFileList(h.server.scratch() + "/f1.bak");
        const QString mdf = h.restoreMdf()->text();
        h.readFileList(h.server.scratch() + "/one.bak");
        QCOMPARE(h.restoreMdf()->text(), mdf);
        QCOMPARE(h.window->logicalLogName(), QString());
        QVERIFY(!h.restoreButton()->isEnabled());
    }
};

QTEST_MAIN(RestoreAndBackupPages)
#include "tst_restore_backup.moc"
