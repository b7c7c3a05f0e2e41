// The attach page against the stand-in: log file search, the derived log path, detaching an older
// database of the same name, the access-denied message and names that need quoting.
#include "WindowHarness.h"

#include "RusUkrDlg.h"
#include "SqlQuote.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {
// Makes a database's files and detaches it, leaving a data and a log file to attach.
void makeFiles(WindowHarness& h, const QString& name, const QString& mdf, const QString& ldf) {
    QDir().mkpath(QFileInfo(mdf).absolutePath());
    using sqlquote::literal;
    h.sql(QStringLiteral("CREATE DATABASE %1 ON PRIMARY (FILENAME = %2) LOG ON (FILENAME = %3)\nEXEC "
                         "sp_detach_db %4, 'true'")
              .arg(sqlquote::name(name), literal(mdf), literal(ldf), literal(name)));
    QVERIFY2(QFile::exists(mdf) && QFile::exists(ldf), qPrintable(mdf));
}

void touch(const QString& path) {
    QVERIFY(writeFile(path, "not a database\n"));
}

// The names a picker's filter entry (0-based) shows, matched as the real file dialog matches them
// (either letter case).
QStringList shownBy(const QString& filter, int entry, const QStringList& names) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList shown;
    for (const QString& name : names)
        for (const QString& pattern : parts.value(2 * entry + 1).split(QLatin1Char(';')))
            if (QRegularExpression::fromWildcard(pattern, Qt::CaseInsensitive).match(name).hasMatch()) {
                shown << name;
                break;
            }
    return shown;
}
const QStringList kNames = {"VTR.mdf", "VTR.MDF", "VTR_log.ldf", "VTR.LDF", "VTR.bak", "notes.txt"};
} // namespace

class AttachPage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void attachWithTheLogFoundBeside() {
        WindowHarness h;
        const QString folder = h.server.scratch() + QStringLiteral("/files");
        makeFiles(h, QStringLiteral("VTR"), folder + "/VTR.mdf", folder + "/VTR_log.ldf");
        QVERIFY(h.connect());
        h.script.clear();
        h.script.choose(folder + "/VTR.mdf");
        h.pickMdfButton()->click();
        QCOMPARE(h.script.last().caption, QStringLiteral("Вибір бази даних"));
        // Data files first (not logs), then every file.
        QCOMPARE(h.script.last().filter.count(QLatin1Char('|')), 3);
        QCOMPARE(shownBy(h.script.last().filter, 0, kNames), QStringList({"VTR.mdf", "VTR.MDF"}));
        QCOMPARE(shownBy(h.script.last().filter, 1, kNames), kNames);
        QCOMPARE(h.script.last().defaultExtension, QStringLiteral("*.mdf"));
        QCOMPARE(h.attachMdf()->text(), folder + "/VTR.mdf");
        QCOMPARE(h.attachLdf()->text(), folder + "/VTR_log.ldf");
        QCOMPARE(QDir::currentPath(), QDir(folder).absolutePath());

        h.attachButton()->click();
        QCOMPARE(h.script.last().text,
                 QStringLiteral("База даних VTR успішно приєднана із файлу ") + folder + "/VTR.mdf");
        QVERIFY(h.databases().contains(QStringLiteral("VTR")));
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("CREATE DATABASE [VTR]\r\nON PRIMARY (FILENAME = N'%1/VTR.mdf')\r\nLOG ON "
                           "(FILENAME = N'%1/VTR_log.ldf')\r\nFOR ATTACH\r\n")
                .arg(folder)));

        // The shared dialog opens again in the folder of the last choice, on its own field's file.
        h.script.cancelPicker();
        h.pickLdfButton()->click();
        QCOMPARE(h.script.last().directory, folder);
        QCOMPARE(h.script.last().selectedFile, folder + "/VTR_log.ldf");
        QCOMPARE(h.script.last().filter.count(QLatin1Char('|')), 3);
        QCOMPARE(shownBy(h.script.last().filter, 0, kNames), QStringList({"VTR_log.ldf", "VTR.LDF"}));
        QCOMPARE(shownBy(h.script.last().filter, 1, kNames), kNames);
    }

    void logSearchTakesTheFirstNameAndKeepsTextWhenNone() {
        WindowHarness h;
        QVERIFY(h.connect());
        const QString several = h.server.scratch() + "/several", none = h.server.scratch() + "/none";
        QDir().mkpath(several);
        QDir().mkpath(none);
        for (const char* f : {"d.mdf", "b.LDF", "c.ldf"})
            touch(several + "/" + f);
        touch(none + "/d.mdf");
        h.script.choose(several + "/d.mdf");
        h.pickMdfButton()->click();
        QCOMPARE(h.attachLdf()->text(), several + "/b.LDF");
        h.script.choose(none + "/d.mdf");
        h.pickMdfButton()->click();
        QCOMPARE(h.attachLdf()->text(), several + "/b.LDF");
    }

    void missingLogUsesTheTrimmedName() {
        WindowHarness h;
        const QString folder = h.server.scratch();
        makeFiles(h, QStringLiteral("Q1"), folder + "/q.mdf", folder + "/Q1_Log.LDF");
        QVERIFY(h.connect());
        h.attach(QStringLiteral("  Q1 "), folder + "/q.mdf", folder + "/missing.ldf");
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("LOG ON (FILENAME = N'%1/Q1_Log.LDF')").arg(folder)));
        QVERIFY(h.script.last().text.contains(QStringLiteral("успішно приєднана")));
    }

    void sameNameDetachesTheOldDatabaseFirst() {
        WindowHarness h;
        const QString folder = h.server.scratch();
        makeFiles(h, QStringLiteral("new"), folder + "/new.mdf", folder + "/new.ldf");
        h.sql(
            QStringLiteral(
                "CREATE DATABASE VTR ON PRIMARY (FILENAME = N'%1/old.mdf') LOG ON (FILENAME = N'%1/old.ldf')")
                .arg(folder));
        QVERIFY(h.connect());
        QVERIFY(h.window->AttachDatabase(QStringLiteral("VTR"), folder + "/new.mdf", folder + "/new.ldf"));
        QVERIFY(QFile::exists(folder + "/old.mdf")); // detached, not dropped
        QCOMPARE(h.databases().filter(QStringLiteral("VTR")).size(), 1);
        QVERIFY(h.server.receivedStatements().contains(QStringLiteral("EXEC sp_detach_db N'VTR', 'true'")));

        // A name that matches only as a LIKE pattern is not taken for VTR any more.
        makeFiles(h, QStringLiteral("V_R"), folder + "/vr.mdf", folder + "/vr.ldf");
        QVERIFY(h.window->AttachDatabase(QStringLiteral("V_R"), folder + "/vr.mdf", folder + "/vr.ldf"));
        QVERIFY(h.databases().contains(QStringLiteral("VTR")));
        QVERIFY(h.databases().contains(QStringLiteral("V_R")));
    }

    // The version list says how to talk to the server, not what it is: a 2000 server reached with
    // 2005 chosen still has its files read from its own catalog, before and after the attach, and
    // is asked for no backup checksums it does not know.
    void aServerOlderThanTheChosenVersion() {
        WindowHarness h(2000);
        const QString folder = h.server.scratch();
        makeFiles(h, QStringLiteral("new"), folder + "/new.mdf", folder + "/new.ldf");
        h.sql(QStringLiteral("CREATE DATABASE VTR ON PRIMARY (FILENAME = N'%1/old.mdf') LOG ON (FILENAME = "
                             "N'%1/old.ldf')")
                  .arg(folder));
        h.versionList()->setCurrentText(QStringLiteral("2005"));
        h.pointAtServer(); // the version's choice names its own instance
        QVERIFY(h.connect());
        h.attach(QStringLiteral("VTR"), folder + "/new.mdf", folder + "/new.ldf");
        QVERIFY2(h.script.last().text.contains(QStringLiteral("успішно приєднана")), qPrintable(h.script.last().text));
        h.backup(QStringLiteral("VTR"), folder + "/vtr.bak");
        QVERIFY2(h.script.last().text.contains(QStringLiteral("успішно")), qPrintable(h.script.last().text));
    }

    // Files a newer server wrote, attached on an older one: the server would end the connection
    // (948 at severity 20), so the files' version is read first and the attach refused before it
    // is sent, both versions named; the link stays and the next action simply works. (The advice
    // for a 948 that comes anyway, from a server that would not say the version, is tst_advice's.)
    void aNewerServersFilesAreRefusedBeforeSending() {
        WindowHarness h(2016);
        DevServer newer(2019);
        const QString folder = h.server.scratch();
        newer.tsql(QStringLiteral("CREATE DATABASE N ON (FILENAME = N'%1/n.mdf') LOG ON (FILENAME = N'%1/n.ldf')\n"
                                  "EXEC sp_detach_db N'N'")
                       .arg(folder));
        QVERIFY(QFile::exists(folder + "/n.mdf"));
        QVERIFY(h.connect());
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("N"), folder + "/n.mdf", folder + "/n.ldf"));
        const QString shown = h.script.last().text;
        QVERIFY2(shown.contains(QStringLiteral("записав SQL Server 2019 (версія файлів 904)")), qPrintable(shown));
        QVERIFY2(shown.contains(QStringLiteral("SQL Server 2016 (версія 852)")), qPrintable(shown));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("FOR ATTACH")));
        QVERIFY(h.window->connection().isOpen());
        QVERIFY(!h.databases().contains(QStringLiteral("N")));
        h.script.clear();
        h.openPage(1);
        QVERIFY2(h.script.seen.isEmpty(), qPrintable(h.script.texts().join(QLatin1Char('|'))));
    }

    // The file the server's account may not open is named, whichever of the two it is.
    void accessDeniedNamesTheFile_data() {
        QTest::addColumn<QString>("denied");
        QTest::newRow("data file") << "l.mdf";
        QTest::newRow("log file") << "l.ldf";
    }
    void accessDeniedNamesTheFile() {
        QFETCH(QString, denied);
        const QTemporaryDir locked;
        WindowHarness h(2019, {QStringLiteral("--deny"), locked.path()});
        const QString scratch = h.server.scratch();
        makeFiles(h, QStringLiteral("L"), scratch + "/l.mdf", scratch + "/l.ldf");
        QVERIFY(QFile::copy(scratch + "/" + denied, locked.path() + "/" + denied));
        auto at = [&](const QString& file) { return (file == denied ? locked.path() : scratch) + "/" + file; };
        QVERIFY(h.connect());
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("L"), at("l.mdf"), at("l.ldf")));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Не можливо підключити фізичний файл %1.\rПомилка операційної "
                                "системи 5: (Доступ заборонений.)")
                     .arg(at(denied)));
        QCOMPARE(h.script.last().caption, QStringLiteral("Помилка"));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::OK});
    }

    // Any other refusal shows the server's text with Cancel; a folder whose name holds "5(" is no
    // operating-system error 5.
    void otherRefusalShowsTheServersTextWithCancel_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "files";
        QTest::newRow("5( in a folder name") << "copy5(1)";
    }
    void otherRefusalShowsTheServersTextWithCancel() {
        QFETCH(QString, folder);
        WindowHarness h;
        const QString dir = h.folder(folder);
        touch(dir + "/junk.mdf");
        touch(dir + "/junk.ldf");
        QVERIFY(h.connect());
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("J"), dir + "/junk.mdf", dir + "/junk.ldf"));
        QCOMPARE(h.script.last().text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("The header for file '%1/junk.mdf' is not a valid database file "
                                "header. The FILE SIZE property is incorrect")
                     .arg(dir));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::Cancel});
    }

    // The server says it finds no such file, and the user is told so before anything is sent.
    void missingDataFileIsToldAndSendsNothing() {
        WindowHarness h;
        QVERIFY(h.connect());
        h.script.clear();
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("X"), h.server.scratch() + "/none.mdf", QString()));
        QCOMPARE(h.script.seen.size(), 1);
        QVERIFY(h.script.last().text.contains(
            QStringLiteral("Сервер бачить каталог %1, але не бачить у ньому none.mdf").arg(h.server.scratch())));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("CREATE DATABASE")));
    }

    void namesAndPathsThatNeedQuoting_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("blank") << "a b"
                               << "with blank";
        QTest::newRow("bracket") << "x]y"
                                 << "br]acket";
        QTest::newRow("quote") << "o'k"
                               << "it's";
        QTest::newRow("cyrillic") << "База_1"
                                  << "Бази даних";
        QTest::newRow("statement smuggling") << "x'); DROP DATABASE [VTR]; --"
                                             << "x'; DROP DATABASE VTR --";
    }
    void namesAndPathsThatNeedQuoting() {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE VTR"));
        const QString dir = h.server.scratch() + "/" + folder;
        makeFiles(h, name, dir + "/data.mdf", dir + "/log.ldf");
        QVERIFY(h.connect());
        QVERIFY(h.window->AttachDatabase(name, dir + "/data.mdf", dir + "/log.ldf"));
        const QStringList names = h.databases();
        QVERIFY2(names.contains(name), qPrintable(names.join(",")));
        QVERIFY(names.contains(QStringLiteral("VTR")));
    }

    void closedConnectionConnectsSilentlyOrReportsOnce() {
        WindowHarness h;
        makeFiles(h, QStringLiteral("S"), h.server.scratch() + "/s.mdf", h.server.scratch() + "/s.ldf");
        QVERIFY(h.window->AttachDatabase(QStringLiteral("S"), h.server.scratch() + "/s.mdf",
                                         h.server.scratch() + "/s.ldf"));
        QCOMPARE(h.script.seen.size(), 1); // only the success message
        QCOMPARE(h.window->statusImage(), 0);

        h.window->Disconnect();
        h.server.stop();
        h.script.clear();
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("S"), h.server.scratch() + "/s.mdf", QString()));
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::Cancel});
        QCOMPARE(h.window->statusImage(), 1);
    }
};

QTEST_MAIN(AttachPage)
#include "tst_attach.moc"
