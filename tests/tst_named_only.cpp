// Every operation touches only what the user named, on the server the fields name: files of
// somebody else's at a restore's targets, a backup path changed after its file list was read, a
// changed connection, names read from a backup, the file an access-denied message names, and
// database names compared as the server compares them.
#include "WindowHarness.h"

#include "SqlQuote.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QtTest>

namespace {
using sqlquote::literal;

// The confirmations shown since the script was last cleared.
QStringList confirmations(const WindowHarness& h) {
    QStringList texts;
    for (const modal::Request& r : h.script.seen)
        if (r.type == DialogType::Confirmation)
            texts << r.text;
    return texts;
}

int restoresSent(const WindowHarness& h) {
    return int(h.server.receivedStatements().count(QLatin1String("RESTORE DATABASE")));
}

// The bytes of every file under a folder, to show that an operation left them alone.
QMap<QString, QByteArray> filesUnder(const QString& folder) {
    QMap<QString, QByteArray> files;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files))
        files[f.filePath()] = fileBytes(f.filePath());
    return files;
}

} // namespace

class NamedOnly : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // The restore overwrites nothing of somebody else's. Under a new name nothing is asked: the
    // server's own guards refuse files of a detached database at the paths its backup recorded
    // (3142) and those of another restore of the same backup into the same folder (1834).
    // Replacing a database asks once, and its own files ask nothing more.
    void restoreNeverOverwritesSomebodyElsesFiles_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("refusal"); // the server's, under a new name
        for (int version : {2000, 2019}) {
            const QByteArray v = QByteArray::number(version);
            QTest::newRow(v + " detached database's files") << version << "detached"
                                                            << "cannot be restored over the existing";
            QTest::newRow(v + " second restore into one folder") << version << "sameFolder"
                                                                 << "cannot be overwritten";
            QTest::newRow(v + " the database's own files") << version << "own" << QString();
        }
    }
    void restoreNeverOverwritesSomebodyElsesFiles() {
        QFETCH(int, version);
        QFETCH(QString, situation);
        QFETCH(QString, refusal);
        WindowHarness h(version);
        const QString vtr = h.folder(QStringLiteral("vtr"));
        const QString bak = h.server.scratch() + QStringLiteral("/VTR.bak");
        h.sql(QStringLiteral(
                  "CREATE DATABASE [VTR] ON PRIMARY (NAME = VTR, FILENAME = %1) LOG ON (NAME = VTR_log, "
                  "FILENAME = %2)\nBACKUP DATABASE [VTR] TO DISK = %3 WITH INIT")
                  .arg(literal(vtr + "/VTR.mdf"), literal(vtr + "/VTR_log.ldf"), literal(bak)));
        if (situation == QLatin1String("detached"))
            h.sql(QStringLiteral("EXEC sp_detach_db N'VTR', 'true'"));
        QVERIFY(h.connect());
        h.readFileList(bak);
        QString target = vtr;
        QString name = situation == QLatin1String("own") ? QStringLiteral("VTR") : QStringLiteral("Copy");
        if (situation == QLatin1String("sameFolder")) {
            target = h.folder(QStringLiteral("together"));
            h.chooseRestoreFolder(target);
            h.script.answer(Reply::OK);
            h.restoreAs(QStringLiteral("First"));
            QVERIFY2(h.databases().contains(QStringLiteral("First")), qPrintable(h.script.last().text));
            // Typed: the page itself never proposes First's files.
            h.restoreName()->setText(name);
            h.restoreMdf()->setText(target + QStringLiteral("/VTR.MDF"));
            h.restoreLdf()->setText(target + QStringLiteral("/VTR_log.LDF"));
        }
        h.restoreName()->setText(name);
        const QMap<QString, QByteArray> before = filesUnder(target);
        const QStringList catalog = h.databases();
        const int sent = restoresSent(h);

        h.script.clear();
        h.script.answer(Reply::No);
        h.restoreButton()->click();
        const QStringList asked = confirmations(h);
        if (refusal.isEmpty()) {
            // Replacing VTR by its own backup: asked as such, and its files named in no question.
            QCOMPARE(asked.size(), 1);
            QVERIFY2(asked.first().contains(QStringLiteral("копія бази даних VTR, яка вже є на сервері")),
                     qPrintable(asked.first()));
            QCOMPARE(restoresSent(h), sent);
            return;
        }
        QVERIFY2(asked.isEmpty(), qPrintable(asked.join('\n')));
        QCOMPARE(restoresSent(h), sent + 1);
        QVERIFY2(h.script.last().text.contains(refusal), qPrintable(h.script.last().text));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("REPLACE")));
        QCOMPARE(filesUnder(target), before);
        QCOMPARE(h.databases(), catalog);
    }

    // Replacing a database still asks about files of somebody else's at its targets (a detached
    // database's, where the folder button puts the new files), but never about its own files, also
    // when the user names them by another path (a link).
    void replacingAsksAboutOthersFilesOnly_data() {
        QTest::addColumn<QString>("situation");
        QTest::newRow("over a detached database's files") << "others";
        QTest::newRow("its own files, through a link") << "ownLinked";
    }
    void replacingAsksAboutOthersFilesOnly() {
        QFETCH(QString, situation);
        WindowHarness h(2019);
        const QString vtr = h.folder(QStringLiteral("vtr"));
        const QString bak = h.server.scratch() + QStringLiteral("/VTR.bak");
        h.sql(QStringLiteral(
                  "CREATE DATABASE [VTR] ON PRIMARY (NAME = VTR, FILENAME = %1) LOG ON (NAME = VTR_log, "
                  "FILENAME = %2)\nBACKUP DATABASE [VTR] TO DISK = %3 WITH INIT")
                  .arg(literal(vtr + "/VTR.mdf"), literal(vtr + "/VTR_log.ldf"), literal(bak)));
        QVERIFY(h.connect());
        h.readFileList(bak);
        QString target;
        if (situation == QLatin1String("others")) {
            target = h.folder(QStringLiteral("old"));
            h.sql(QStringLiteral("CREATE DATABASE [Old] ON PRIMARY (NAME = Old, FILENAME = %1) LOG ON (NAME = "
                                 "Old_log, FILENAME = %2)\nEXEC sp_detach_db N'Old', 'true'")
                      .arg(literal(target + "/VTR.MDF"), literal(target + "/VTR_log.LDF")));
            h.chooseRestoreFolder(target);
        } else {
            target = h.server.scratch() + QStringLiteral("/link");
            QVERIFY(QFile::link(vtr, target));
            h.window->findChild<QLineEdit*>(QStringLiteral("edPathMDF2"))->setText(target + "/VTR.mdf");
            h.window->findChild<QLineEdit*>(QStringLiteral("edPathLDF2"))->setText(target + "/VTR_log.ldf");
        }
        h.restoreName()->setText(QStringLiteral("VTR"));
        const QMap<QString, QByteArray> before = filesUnder(target);
        const int sent = restoresSent(h);
        h.script.clear();
        // One question for all: replacing VTR, and somebody else's files when there are any.
        h.script.answer(situation == QLatin1String("others") ? Reply::No : Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        const QStringList asked = confirmations(h);
        if (situation == QLatin1String("others")) {
            QCOMPARE(asked.size(), 1);
            QVERIFY(asked.last().contains(QStringLiteral("Замінити базу даних VTR вмістом копії?")));
            for (const QString& file : before.keys())
                QVERIFY2(asked.last().contains(file), qPrintable(asked.last()));
            QCOMPARE(restoresSent(h), sent);
            QCOMPARE(filesUnder(target), before);
        } else {
            QVERIFY2(asked.size() == 1, qPrintable(asked.join('\n')));
            QCOMPARE(restoresSent(h), sent + 1);
        }
    }

    // The file list belongs to the path in the field: a path typed after a list was read, or a
    // read that failed, leaves no list of an earlier backup to restore with.
    void aChangedBackupPathIsReadAgain_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("typed") << "typed";
        QTest::newRow("chosen, not a backup") << "notABackup";
        QTest::newRow("chosen, missing") << "missing";
    }
    void aChangedBackupPathIsReadAgain() {
        QFETCH(QString, change);
        WindowHarness h;
        const QString elsewhere = h.folder(QStringLiteral("elsewhere"));
        const QString first = h.server.scratch() + QStringLiteral("/first.bak");
        const QString second = h.server.scratch() + QStringLiteral("/second.bak");
        h.sql(
            QStringLiteral("CREATE DATABASE [One]\nBACKUP DATABASE [One] TO DISK = %1 WITH INIT\n"
                           "CREATE DATABASE [Two] ON PRIMARY (NAME = Two, FILENAME = %2), (NAME = Two_more, "
                           "FILENAME = %3) LOG ON (NAME = Two_log, FILENAME = %4)\n"
                           "BACKUP DATABASE [Two] TO DISK = %5 WITH INIT\nEXEC sp_detach_db N'Two', 'true'")
                .arg(literal(first), literal(elsewhere + "/Two.mdf"), literal(elsewhere + "/Two_more.ndf"),
                     literal(elsewhere + "/Two_log.ldf"), literal(second)));
        const QMap<QString, QByteArray> bystanders = filesUnder(elsewhere);
        QVERIFY(h.connect());
        h.readFileList(first);
        QVERIFY(h.restoreButton()->isEnabled());
        h.chooseRestoreFolder(h.folder(QStringLiteral("target")));
        h.restoreName()->setText(QStringLiteral("Restored"));

        if (change == QLatin1String("typed")) {
            h.backupPath()->setText(second);
        } else {
            const QString bad = h.server.scratch() + QStringLiteral("/bad.bak");
            if (change == QLatin1String("notABackup"))
                QVERIFY(writeFile(bad, "not a backup"));
            h.readFileList(bad);
        }
        QVERIFY(!h.restoreButton()->isEnabled());
        QCOMPARE(h.window->logicalDataName(), QString());
        QVERIFY(h.window->backupFiles().isEmpty());
        // Even a press that reached the handler sends nothing.
        h.restoreButton()->setEnabled(true);
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        QCOMPARE(restoresSent(h), 0);
        QVERIFY(!h.databases().contains(QStringLiteral("Restored")));
        QCOMPARE(filesUnder(elsewhere), bystanders);
    }

    // A changed connection setting is another server: nothing listed from the old connection can
    // be acted on until the user connects again.
    void aChangedConnectionEmptiesTheLists_data() {
        QTest::addColumn<QString>("field");
        QTest::newRow("server name") << "ServerName";
        QTest::newRow("version") << "cbSQLServers";
        QTest::newRow("login") << "edUserName";
        QTest::newRow("password") << "edUserPass";
    }
    void aChangedConnectionEmptiesTheLists() {
        QFETCH(QString, field);
        WindowHarness h;
        DevServer other;
        const QString create = QStringLiteral("CREATE DATABASE [X]");
        h.sql(create);
        other.tsql(create);
        QVERIFY(h.connect());
        h.openPage(3);
        auto* combo = h.backupDatabase();
        combo->setCurrentIndex(combo->findText(QStringLiteral("X")));
        h.backupTarget()->setText(h.server.scratch() + QStringLiteral("/x.bak"));
        QVERIFY(h.backupButton()->isEnabled());
        h.openPage(1);
        QVERIFY(h.selectListed(QStringLiteral("X")));
        QVERIFY(h.dropButton()->isEnabled());

        if (field == QLatin1String("ServerName"))
            h.serverName()->setText(other.dataSource());
        else if (field == QLatin1String("cbSQLServers"))
            h.versionList()->setCurrentText(QStringLiteral("2012"));
        else
            h.edit(qPrintable(field))->setText(h.edit(qPrintable(field))->text() + QLatin1Char('x'));
        QCOMPARE(h.listed(), QStringList());
        QCOMPARE(combo->count(), 0);
        for (QAbstractButton* button : {h.detachButton(), h.dropButton(), h.backupButton()})
            QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
        h.script.answer(Reply::Yes);
        h.dropButton()->click();
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("DROP DATABASE")));
        QVERIFY(!other.receivedStatements().contains(QLatin1String("DROP DATABASE")));
        QVERIFY(other.tsql(QStringLiteral("SELECT name FROM master.dbo.sysdatabases")).contains('X'));

        // Connected again, the page lists the server the fields name now.
        h.loginName()->setText(QStringLiteral("sa"));
        h.password()->setText(QStringLiteral("pvtmo"));
        h.pointAtServer();
        QVERIFY(h.connect());
        QCOMPARE(h.listed(), QStringList{QStringLiteral("X")});
    }

    // Logical names read from a backup become one plain file name inside the chosen folder.
    void proposedNamesStayInTheChosenFolder_data() {
        QTest::addColumn<QString>("logical");
        QTest::newRow("separators") << "../up/and\\over";
        QTest::newRow("leading dots") << "..hidden";
        QTest::newRow("control characters") << "tab\there\nnew";
        QTest::newRow("126 Cyrillic letters") << QString(126, QChar(0x0416)); // a name holds 128 at most
    }
    void proposedNamesStayInTheChosenFolder() {
        QFETCH(QString, logical);
        WindowHarness h;
        const QString bak = h.server.scratch() + QStringLiteral("/odd.bak");
        const QString source = h.folder(QStringLiteral("source"));
        h.sql(QStringLiteral(
                  "CREATE DATABASE [Odd] ON PRIMARY (NAME = %1, FILENAME = %2), (NAME = %3, FILENAME = "
                  "%4), (NAME = %5, FILENAME = %6) LOG ON (NAME = %7, FILENAME = %8)\n"
                  "BACKUP DATABASE [Odd] TO DISK = %9 WITH INIT")
                  .arg(literal(logical), literal(source + "/a.mdf"), literal(logical + "2"),
                       literal(source + "/b.ndf"), literal(logical + "3"), literal(source + "/c.ndf"),
                       literal(logical.left(120) + "_log"), literal(source + "/d.ldf"), literal(bak)));
        QVERIFY(h.connect());
        h.readFileList(bak);
        QCOMPARE(h.window->logicalDataName(), logical);
        const QString target = h.folder(QStringLiteral("target"));
        h.chooseRestoreFolder(target);
        h.script.answer(Reply::OK);
        h.restoreAs(QString(100, QChar(0x0416)));
        QVERIFY2(h.databases().contains(h.restoreName()->text()), qPrintable(h.script.last().text));
        const QStringList made = QDir(target).entryList(QDir::Files);
        QCOMPARE(made.size(), 4);
        for (const QString& file : made) {
            QVERIFY2(!file.startsWith(QLatin1Char('.')), qPrintable(file));
            QVERIFY2(file.toUtf8().size() <= 255, qPrintable(file));
            for (QChar c : file)
                QVERIFY2(c != QLatin1Char('\\') && c.category() != QChar::Other_Control, qPrintable(file));
        }
        QVERIFY(made.filter(QRegularExpression(QStringLiteral("\\.MDF$"))).size() == 1);
        QVERIFY(made.filter(QRegularExpression(QStringLiteral("\\.LDF$"))).size() == 1);
        QCOMPARE(QDir(h.server.scratch()).entryList(QDir::Files), QStringList{QStringLiteral("odd.bak")});
    }

    // Operating-system error 5 names the file the server was refused: data, log, a further file
    // or the backup file itself.
    void accessDeniedNamesTheRefusedFile_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("refused");
        for (int version : {2000, 2019})
            for (const char* refused : {"data", "log", "further", "backup"})
                if (version != 2000 || qstrcmp(refused, "backup") != 0) // 2000 names no system error there
                    QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(version).arg(refused)))
                        << version << QString::fromLatin1(refused);
    }
    void accessDeniedNamesTheRefusedFile() {
        QFETCH(int, version);
        QFETCH(QString, refused);
        const QTemporaryDir locked;
        const QString data = locked.path() + "/data", log = locked.path() + "/log";
        const QString deniedBak = locked.path() + "/denied.bak";
        const QString further = data + QStringLiteral("/M_M_more.ndf");
        const QString denied = refused == QLatin1String("data")      ? data
                               : refused == QLatin1String("log")     ? log
                               : refused == QLatin1String("further") ? further
                                                                     : deniedBak;
        QDir().mkpath(data);
        QDir().mkpath(log);
        WindowHarness h(version, {QStringLiteral("--deny"), denied});
        const QString bak = h.server.scratch() + QStringLiteral("/m.bak");
        h.sql(QStringLiteral(
                  "CREATE DATABASE [M] ON PRIMARY (NAME = M, FILENAME = %1), (NAME = M_more, FILENAME = "
                  "%2) LOG ON (NAME = M_log, FILENAME = %3)\nBACKUP DATABASE [M] TO DISK = %4 WITH INIT")
                  .arg(literal(h.server.scratch() + "/M.mdf"), literal(h.server.scratch() + "/M_more.ndf"),
                       literal(h.server.scratch() + "/M_log.ldf"), literal(bak)));
        QVERIFY(QFile::copy(bak, deniedBak));
        QVERIFY(h.connect());
        h.readFileList(bak);
        const QString mdf = data + "/M.mdf", ldf = log + "/M_log.ldf";
        h.script.answer(Reply::Yes); // replacing M
        QVERIFY(!h.window->RestoreDatabase(QStringLiteral("M"),
                                           refused == QLatin1String("backup") ? deniedBak : bak, mdf, ldf));
        const QString named = refused == QLatin1String("data")      ? mdf
                              : refused == QLatin1String("log")     ? ldf
                              : refused == QLatin1String("further") ? further
                                                                    : deniedBak;
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Не можливо створити фізичний файл %1.\rПомилка операційної системи 5: "
                                "(Доступ заборонений.)")
                     .arg(named));
    }

    // Database names follow the server's collation: the system database by its real name, and
    // "the same database" as the server says it.
    void namesFollowTheServersCollation_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<bool>("asks");
        for (int version : {2000, 2019}) {
            const QByteArray v = QByteArray::number(version);
            QTest::newRow(v + " case-insensitive") << version << "SQL_Latin1_General_CP1_CI_AS" << false;
            QTest::newRow(v + " case-sensitive") << version << "Latin1_General_CS_AS" << true;
            QTest::newRow(v + " binary") << version << "Latin1_General_BIN2" << true;
        }
    }
    void namesFollowTheServersCollation() {
        QFETCH(int, version);
        QFETCH(QString, collation);
        QFETCH(bool, asks);
        WindowHarness h(version, {QStringLiteral("--collation"), collation});
        const QString bak = h.server.scratch() + QStringLiteral("/sales.bak");
        h.sql(QStringLiteral(
                  "CREATE DATABASE [Sales]\nCREATE DATABASE [sales]\nBACKUP DATABASE [Sales] TO DISK = %1 "
                  "WITH INIT")
                  .arg(literal(bak)));
        QVERIFY(h.connect());
        h.openPage(1);
        QCOMPARE(h.listed().size(), asks ? 2 : 1);
        h.readFileList(bak);
        QCOMPARE(h.window->logicalDataName(), QStringLiteral("Sales"));
        h.chooseRestoreFolder(h.folder(QStringLiteral("target")));
        h.script.clear();
        h.script.answer(Reply::No);
        h.restoreAs(QStringLiteral("sales"));
        // Replacing is always asked; whether the question speaks of another database is the
        // collation's to say.
        QCOMPARE(confirmations(h).size(), 1);
        QCOMPARE(confirmations(h).first().contains(QStringLiteral("інша база даних sales")), asks);
        const QString statements = h.server.receivedStatements();
        QVERIFY(!statements.contains(QLatin1String("Use Master")));
        QVERIFY(!statements.contains(QLatin1String("USE Master")));
        QVERIFY(statements.contains(QLatin1String("USE master")));
    }
};

QTEST_MAIN(NamedOnly)
#include "tst_named_only.moc"
