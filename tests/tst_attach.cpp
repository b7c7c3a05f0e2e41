// The attach page against the stand-in: log file search, the derived log path, detaching an older
// database of the same name, the access-denied message and names that need quoting.
#include "WindowHarness.h"

#include "RusUkrDlg.h"
#include "SqlQuote.h"

#include <QApplication>
#include <QDir>
#include <QFile>
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
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not a database\n");
}
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
        h.button("SpeedButton2")->click();
        QCOMPARE(h.script.last().caption, QStringLiteral("Вибір бази даних"));
        QCOMPARE(h.script.last().filter,
                 QStringLiteral("Файли бази даних (*.MDF)|*.mdf|Всі файли (*.*)|*.*"));
        QCOMPARE(h.script.last().defaultExtension, QStringLiteral("*.mdf"));
        QCOMPARE(h.edit("edPathMDF")->text(), folder + "/VTR.mdf");
        QCOMPARE(h.edit("edPathLDF")->text(), folder + "/VTR_log.ldf");
        QCOMPARE(QDir::currentPath(), QDir(folder).absolutePath());

        h.button("BitBtn1")->click();
        QCOMPARE(h.script.last().text,
                 QStringLiteral("База даних VTR успішно приєднана із файлу ") + folder + "/VTR.mdf");
        QVERIFY(h.databases().contains(QStringLiteral("VTR")));
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("CREATE DATABASE [VTR]\r\nON PRIMARY (FILENAME = N'%1/VTR.mdf')\r\nLOG ON "
                           "(FILENAME = N'%1/VTR_log.ldf')\r\nFOR ATTACH\r\n")
                .arg(folder)));

        // The shared dialog opens again in the folder of the last choice, on its own field's file.
        h.script.cancelPicker();
        h.button("SpeedButton3")->click();
        QCOMPARE(h.script.last().directory, folder);
        QCOMPARE(h.script.last().selectedFile, folder + "/VTR_log.ldf");
        QCOMPARE(h.script.last().filter,
                 QStringLiteral("Файли журналу бази даних (*.LDF)|*.ldf|Всі файли (*.*)|*.*"));
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
        h.button("SpeedButton2")->click();
        QCOMPARE(h.edit("edPathLDF")->text(), several + "/b.LDF");
        h.script.choose(none + "/d.mdf");
        h.button("SpeedButton2")->click();
        QCOMPARE(h.edit("edPathLDF")->text(), several + "/b.LDF");
    }

    void missingLogUsesTheTrimmedName() {
        WindowHarness h;
        const QString folder = h.server.scratch();
        makeFiles(h, QStringLiteral("Q1"), folder + "/q.mdf", folder + "/Q1_Log.LDF");
        QVERIFY(h.connect());
        h.edit("cbDatabase")->setText(QStringLiteral("  Q1 "));
        h.edit("edPathMDF")->setText(folder + "/q.mdf");
        h.edit("edPathLDF")->setText(folder + "/missing.ldf");
        h.button("BitBtn1")->click();
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

    void accessDeniedNamesTheDataFile() {
        const QTemporaryDir locked;
        WindowHarness h(2019, {QStringLiteral("--deny"), locked.path()});
        makeFiles(h, QStringLiteral("L"), h.server.scratch() + "/l.mdf", h.server.scratch() + "/l.ldf");
        QFile::copy(h.server.scratch() + "/l.mdf", locked.path() + "/l.mdf");
        QVERIFY(h.connect());
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("L"), locked.path() + "/l.mdf",
                                          h.server.scratch() + "/l.ldf"));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Не можливо підключити фізичний файл %1/l.mdf.\rПомилка операційної "
                                "системи 5: (Доступ заборонений.)")
                     .arg(locked.path()));
        QCOMPARE(h.script.last().caption, QStringLiteral("Помилка"));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::OK});
    }

    // The log file refused names the log file; a folder whose name holds "5(" is no error 5.
    void accessDeniedNamesTheLogFile() {
        const QTemporaryDir locked;
        WindowHarness h(2019, {QStringLiteral("--deny"), locked.path()});
        makeFiles(h, QStringLiteral("L"), h.server.scratch() + "/l.mdf", h.server.scratch() + "/l.ldf");
        QFile::copy(h.server.scratch() + "/l.ldf", locked.path() + "/l.ldf");
        QVERIFY(h.connect());
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("L"), h.server.scratch() + "/l.mdf",
                                          locked.path() + "/l.ldf"));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Не можливо підключити фізичний файл %1/l.ldf.\rПомилка операційної "
                                "системи 5: (Доступ заборонений.)")
                     .arg(locked.path()));

        const QString copy = h.server.scratch() + "/copy5(1)";
        QVERIFY(QDir().mkpath(copy));
        touch(copy + "/junk.mdf");
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("J"), copy + "/junk.mdf", copy + "/junk.ldf"));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::Cancel});
        QVERIFY(h.script.last().text.startsWith(QLatin1String("The header for file")));
    }

    void otherRefusalShowsTheServersTextWithCancel() {
        WindowHarness h;
        touch(h.server.scratch() + "/junk.mdf");
        touch(h.server.scratch() + "/junk.ldf");
        QVERIFY(h.connect());
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("J"), h.server.scratch() + "/junk.mdf",
                                          h.server.scratch() + "/junk.ldf"));
        QCOMPARE(h.script.last().text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("The header for file '%1/junk.mdf' is not a valid database file "
                                "header. The FILE SIZE property is incorrect")
                     .arg(h.server.scratch()));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::Cancel});
    }

    void missingDataFileSendsNothing() {
        WindowHarness h;
        QVERIFY(h.connect());
        h.script.clear();
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("X"), h.server.scratch() + "/none.mdf", QString()));
        QVERIFY(h.script.seen.isEmpty());
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
