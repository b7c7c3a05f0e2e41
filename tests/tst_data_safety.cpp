// What the window keeps safe that the user did not name: files lying at the paths a backup
// recorded, a database a restore would replace, the newer sets of a backup file, and a database
// that an attach under its name detaches first.
#include "WindowHarness.h"

#include "SqlQuote.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {
using sqlquote::literal;

bool askedToConfirm(const WindowHarness& h) {
    for (const modal::Request& r : h.script.seen)
        if (r.type == DialogType::Confirmation)
            return true;
    return false;
}
} // namespace

class DataSafety : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void restoreMovesEveryFileOfTheBackup_data() {
        addVersionRows();
    }
    void restoreMovesEveryFileOfTheBackup() {
        QFETCH(int, version);
        WindowHarness h(version);
        const QString source = h.folder(QStringLiteral("source"));
        const QString bak = h.server.scratch() + QStringLiteral("/multi.bak");
        auto file = [&](const QString& logical, const QString& name) {
            return QStringLiteral("(NAME = %1, FILENAME = %2)").arg(logical, literal(source + "/" + name));
        };
        h.sql(QStringLiteral("CREATE DATABASE [Multi] ON PRIMARY %1, %2, FILEGROUP Archive %3 LOG ON %4, %5\n"
                             "BACKUP DATABASE [Multi] TO DISK = %6 WITH INIT\n"
                             "EXEC sp_detach_db N'Multi', 'true'")
                  .arg(file("Multi", "Multi.mdf"), file("Multi_extra", "Multi_extra.ndf"),
                       file("Multi_archive", "Multi_archive.ndf"), file("Multi_log", "Multi_log.ldf"),
                       file("Multi_log2", "Multi_log2.ldf"), literal(bak)));
        // The recorded paths now hold somebody else's files: nobody asked to overwrite them.
        const QStringList recorded = {"Multi.mdf", "Multi_extra.ndf", "Multi_archive.ndf", "Multi_log.ldf",
                                      "Multi_log2.ldf"};
        for (const QString& name : recorded)
            QVERIFY(writeFile(source + "/" + name, "bystander " + name.toUtf8()));

        QVERIFY(h.connect());
        h.readFileList(bak);
        QCOMPARE(h.window->backupFiles().size(), 5);
        QVERIFY2(h.restoreMdf()->toolTip().contains(QStringLiteral("Ще файлів у копії: 3")),
                 qPrintable(h.restoreMdf()->toolTip()));

        const QString data = h.folder(QStringLiteral("Відновлено"));
        const QString logs = h.folder(QStringLiteral("Журнали"));
        h.chooseRestoreFolder(data);
        h.script.choose(logs);
        h.logFolderButton()->click();
        // A file of somebody else's where a further file would go keeps its place and its bytes.
        const QString occupied = logs + QStringLiteral("/Копія_Multi_log2.ldf");
        QVERIFY(writeFile(occupied, "not ours"));

        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Копія"));
        const QString statements = h.server.receivedStatements();
        for (const QString& move :
             {QStringLiteral("MOVE N'Multi' TO %1").arg(literal(data + "/Multi.MDF")),
              QStringLiteral("MOVE N'Multi_log' TO %1").arg(literal(logs + "/Multi_log.LDF")),
              QStringLiteral("MOVE N'Multi_extra' TO %1").arg(literal(data + "/Копія_Multi_extra.ndf")),
              QStringLiteral("MOVE N'Multi_archive' TO %1").arg(literal(data + "/Копія_Multi_archive.ndf")),
              QStringLiteral("MOVE N'Multi_log2' TO %1").arg(literal(logs + "/Копія_Multi_log2_2.ldf"))})
            QVERIFY2(statements.contains(move), qPrintable(move));
        QVERIFY(!statements.contains(QLatin1String("FILE =")));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("База даних Копія успішно відновлена із файлу %1\nЩе файлів відновлено: 3, "
                                "у каталоги %2, %3.")
                     .arg(bak, data, logs));
        QVERIFY(h.databases().contains(QStringLiteral("Копія")));
        for (const QString& name : recorded)
            QCOMPARE(fileBytes(source + "/" + name), "bystander " + name.toUtf8());
        QCOMPARE(fileBytes(occupied), QByteArray("not ours"));
        QVERIFY(QFile::exists(logs + QStringLiteral("/Копія_Multi_log2_2.ldf")));
    }

    void restoreOverAnotherDatabaseAsksFirst() {
        WindowHarness h;
        const QString sales = h.server.scratch() + QStringLiteral("/sales.bak");
        const QString vtrFolder = h.folder(QStringLiteral("vtr"));
        h.sql(QStringLiteral("CREATE DATABASE [Sales]\n"
                             "CREATE DATABASE [VTR] ON PRIMARY (FILENAME = %1) LOG ON (FILENAME = %2)\n"
                             "BACKUP DATABASE [Sales] TO DISK = %3 WITH INIT")
                  .arg(literal(vtrFolder + "/VTR.mdf"), literal(vtrFolder + "/VTR_log.ldf"), literal(sales)));
        const QByteArray vtrBytes = fileBytes(vtrFolder + "/VTR.mdf");
        QVERIFY(h.connect());
        h.readFileList(sales);
        h.chooseRestoreFolder(h.folder(QStringLiteral("target")));
        QCOMPARE(h.restoreName()->text(), QStringLiteral("VTR"));

        // No: nothing is sent and VTR stays as it was.
        h.script.clear();
        h.script.answer(Reply::No);
        h.restoreButton()->click();
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().type, DialogType::Confirmation);
        QCOMPARE(h.script.last().buttons, (DialogButtons{DialogButton::Yes, DialogButton::No}));
        QCOMPARE(
            h.script.last().text,
            QStringLiteral("Резервна копія містить базу даних Sales, а на сервері вже є інша база даних VTR. "
                           "Замінити базу даних VTR вмістом копії?"));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("RESTORE DATABASE")));
        QCOMPARE(fileBytes(vtrFolder + "/VTR.mdf"), vtrBytes);

        // Yes: the restore goes ahead.
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreButton()->click();
        QVERIFY(h.script.last().text.startsWith(QStringLiteral("База даних VTR успішно відновлена")));

        // A database's own backup over it is asked as its own, whatever the case of the name.
        h.chooseRestoreFolder(h.folder(QStringLiteral("own")));
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("sales"));
        QVERIFY(askedToConfirm(h));
        QVERIFY(h.script.seen.first().text.contains(
            QStringLiteral("копія бази даних sales, яка вже є на сервері")));
        QVERIFY(h.script.last().text.startsWith(QStringLiteral("База даних sales успішно відновлена")));
    }

    void theNewestOfSeveralBackupSetsIsRestored() {
        WindowHarness h;
        const QString bak = h.server.scratch() + QStringLiteral("/sets.bak");
        // Without INIT a backup is appended to the sets already in the file.
        h.sql(QStringLiteral("CREATE DATABASE [Older]\nCREATE DATABASE [Newer]\n"
                             "BACKUP DATABASE [Older] TO DISK = %1 WITH INIT\n"
                             "BACKUP DATABASE [Newer] TO DISK = %1")
                  .arg(literal(bak)));
        QVERIFY(h.connect());
        h.readFileList(bak);
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("RESTORE HEADERONLY FROM DISK = %1").arg(literal(bak))));
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("RESTORE FILELISTONLY FROM Disk = %1 WITH FILE = 2").arg(literal(bak))));
        QCOMPARE(h.window->logicalDataName(), QStringLiteral("Newer"));

        h.chooseRestoreFolder(h.folder(QStringLiteral("restored")));
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Restored"));
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("RESTORE DATABASE [Restored] FROM DISK = %1 WITH FILE = 2, MOVE N'Newer'")
                .arg(literal(bak))));
        const QString shown = h.script.last().text;
        QVERIFY2(QRegularExpression(QStringLiteral("^База даних Restored успішно відновлена із файлу .*\n"
                                                   "Відновлено набір резервної копії № 2 від "
                                                   "\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d\\.$"))
                     .match(shown)
                     .hasMatch(),
                 qPrintable(shown));
    }

    void aFailedAttachPutsTheOldDatabaseBack_data() {
        addVersionRows();
    }
    void aFailedAttachPutsTheOldDatabaseBack() {
        QFETCH(int, version);
        WindowHarness h(version);
        const QString keep = h.folder(QStringLiteral("keep"));
        h.sql(QStringLiteral("CREATE DATABASE [Keep] ON PRIMARY (FILENAME = %1) LOG ON (FILENAME = %2)")
                  .arg(literal(keep + "/Keep.mdf"), literal(keep + "/Keep_log.ldf")));
        const QString bad = h.folder(QStringLiteral("bad")) + QStringLiteral("/bad.mdf");
        QVERIFY(writeFile(bad, "not a database\n"));

        QVERIFY(h.connect());
        h.script.clear();
        h.attach(QStringLiteral("Keep"), bad, QString());
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::Cancel});
        QVERIFY2(
            h.script.last().text.endsWith(QStringLiteral("\nПопередню базу даних Keep приєднано знову.")),
            qPrintable(h.script.last().text));
        QVERIFY(h.databases().contains(QStringLiteral("Keep")));
        const QString statements = h.server.receivedStatements();
        QVERIFY(statements.contains(QLatin1String("EXEC sp_detach_db N'Keep', 'true'")));
        QVERIFY2(
            statements.contains(QStringLiteral("CREATE DATABASE [Keep] ON (FILENAME = %1), (FILENAME = %2) "
                                               "FOR ATTACH")
                                    .arg(literal(keep + "/Keep.mdf"), literal(keep + "/Keep_log.ldf"))),
            qPrintable(statements));
    }

    void whenTheOldDatabaseCannotBePutBackItsFilesAreNamed() {
        WindowHarness h;
        const QString keep = h.folder(QStringLiteral("keep"));
        h.sql(QStringLiteral("CREATE DATABASE [Keep] ON PRIMARY (FILENAME = %1) LOG ON (FILENAME = %2)")
                  .arg(literal(keep + "/Keep.mdf"), literal(keep + "/Keep_log.ldf")));
        // Its data file went missing while it was attached: it cannot be attached again.
        QVERIFY(QFile::rename(keep + "/Keep.mdf", keep + "/Keep.mdf.moved"));
        const QString bad = h.folder(QStringLiteral("bad")) + QStringLiteral("/bad.mdf");
        QVERIFY(writeFile(bad, "not a database\n"));

        QVERIFY(h.connect());
        h.attach(QStringLiteral("Keep"), bad, QString());
        QVERIFY2(h.script.last().text.endsWith(
                     QStringLiteral("\nПопередню базу даних Keep не вдалося приєднати знову; приєднайте її "
                                    "файли вручну: %1/Keep.mdf, %1/Keep_log.ldf.")
                         .arg(keep)),
                 qPrintable(h.script.last().text));
    }
};

QTEST_MAIN(DataSafety)
#include "tst_data_safety.moc"
