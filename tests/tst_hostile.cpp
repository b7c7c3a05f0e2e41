// Names and paths a careless or hostile user could type, through every page: the server receives
// exactly the statement intended, the user sees a success or a clear message, and nothing else in
// the catalog or on disk changes.
#include "WindowHarness.h"

#include "RusUkrDlg.h"
#include "SqlQuote.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtTest>

namespace {
// The bystanders: a database and files no operation names, which must come through untouched.
struct Bystanders {
    QMap<QString, QByteArray> files;
    explicit Bystanders(WindowHarness& h) {
        // Files of a megabyte, not the model's eight: every check reads and hashes them whole.
        h.sql(QStringLiteral("CREATE DATABASE keep ON PRIMARY (NAME = N'keep', FILENAME = N'%1/keep.mdf', SIZE = 1MB) "
                             "LOG ON (NAME = N'keep_log', FILENAME = N'%1/keep_log.ldf', SIZE = 1MB)")
                  .arg(h.server.dataDir()));
        files = snapshot(h.server.dataDir());
    }
    void verify(WindowHarness& h) const {
        QVERIFY(h.databases().contains(QStringLiteral("keep")));
        const auto now = snapshot(h.server.dataDir());
        for (auto it = files.begin(); it != files.end(); ++it)
            QCOMPARE(now.value(it.key()), it.value());
    }
};

bool isSuccess(const modal::Request& r) {
    return r.text.contains(QStringLiteral("успішно"));
}
} // namespace

class HostileInput : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void names_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid"); // does SQL Server accept it as a database name?
        QTest::newRow("blanks at both ends") << "  padded  " << true;
        QTest::newRow("quote") << "'" << true;
        QTest::newRow("two quotes") << "''" << true;
        QTest::newRow("closing bracket") << "]" << true;
        QTest::newRow("opening bracket") << "[" << true;
        QTest::newRow("double quote") << "\"" << true;
        QTest::newRow("semicolon") << "a;DROP DATABASE keep" << true;
        QTest::newRow("comment") << "x--" << true;
        QTest::newRow("block comment") << "/*x" << true;
        QTest::newRow("128 characters") << QString(128, QLatin1Char('n')) << true;
        QTest::newRow("129 characters") << QString(129, QLatin1Char('n')) << false;
        QTest::newRow("cyrillic") << "Журнал обліку" << true;
        QTest::newRow("other scripts") << "数据库 Ελλάδα" << true;
        QTest::newRow("emoji") << "db😀" << true;
        QTest::newRow("control character") << "a\x01z" << true;
        QTest::newRow("empty") << "" << false;
    }

    // Attach under the name, then detach it and drop it from the list page.
    void names() {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        WindowHarness h;
        Bystanders bystanders(h);
        const QString dir = h.server.scratch();
        h.sql(QStringLiteral("CREATE DATABASE src ON PRIMARY (FILENAME = N'%1/src.mdf', SIZE = 1MB) LOG ON (FILENAME = "
                             "N'%1/src.ldf', SIZE = 1MB)\n"
                             "EXEC sp_detach_db N'src'")
                  .arg(dir));
        QVERIFY(h.connect());
        h.script.clear();
        const bool attached = h.window->AttachDatabase(name, dir + "/src.mdf", dir + "/src.ldf");
        QCOMPARE(attached, valid);
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(isSuccess(h.script.last()), valid);
        if (!valid)
            QVERIFY(!h.script.last().text.isEmpty());
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("CREATE DATABASE ") + sqlquote::name(name) +
            QStringLiteral("\r\nON PRIMARY (FILENAME = N'%1/src.mdf')").arg(dir)));
        QCOMPARE(h.databases().contains(name), valid);
        bystanders.verify(h);
        if (!valid)
            return;

        h.script.answer(Reply::Yes);
        QVERIFY(h.detach(name));
        QVERIFY(!h.databases().contains(name));
        QVERIFY(QFile::exists(dir + "/src.mdf"));
        bystanders.verify(h);

        QVERIFY(h.window->AttachDatabase(name, dir + "/src.mdf", dir + "/src.ldf"));
        h.openPage(0);
        h.script.answer(Reply::Yes);
        QVERIFY(h.drop(name));
        QVERIFY(!h.databases().contains(name));
        QVERIFY(!QFile::exists(dir + "/src.mdf"));
        QVERIFY(
            h.server.receivedStatements().contains(QStringLiteral("DROP DATABASE ") + sqlquote::name(name)));
        bystanders.verify(h);
    }

    void paths_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("quote") << "it's";
        QTest::newRow("two quotes and brackets") << "''[x]";
        QTest::newRow("semicolon and comments") << "a; -- /* b";
        QTest::newRow("double quote") << "say \"hi\"";
        QTest::newRow("cyrillic") << "Резервні копії";
        QTest::newRow("emoji") << "😀 folder";
        QTest::newRow("blanks at both ends") << "  spaced  ";
    }

    // Back up into the folder and restore from it, moving the files into it.
    void paths() {
        QFETCH(QString, folder);
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE src ON PRIMARY (FILENAME = N'%1/src.mdf', SIZE = 1MB) LOG ON "
                             "(FILENAME = N'%1/src.ldf', SIZE = 1MB)")
                  .arg(h.server.dataDir()));
        Bystanders bystanders(h);
        const QString dir = h.server.scratch() + "/" + folder;
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(h.connect());

        h.script.clear();
        h.backup(QStringLiteral("src"), dir + "/src.bak");
        QVERIFY2(isSuccess(h.script.last()), qPrintable(h.script.last().text));
        QVERIFY(QFile::exists(dir + "/src.bak"));

        h.openPage(2);
        h.backupPath()->setText(dir + "/src.bak");
        h.pickBackupButton()->click();
        QVERIFY(h.window->RestoreDatabase(QStringLiteral("copy"), dir + "/src.bak", dir + "/copy.mdf",
                                          dir + "/copy.ldf"));
        QVERIFY(isSuccess(h.script.last()));
        QVERIFY(QFile::exists(dir + "/copy.mdf"));
        QVERIFY(h.databases().contains(QStringLiteral("copy")));
        QVERIFY(h.databases().contains(QStringLiteral("src")));
        bystanders.verify(h);
    }

    void veryLongPathsAreToldAndSendNothing() {
        WindowHarness h;
        Bystanders bystanders(h);
        QVERIFY(h.connect());
        const QString longPath =
            QStringLiteral("/") + QString(4000, QLatin1Char('p')) + QStringLiteral(".mdf");
        h.script.clear();
        QVERIFY(!h.window->AttachDatabase(QStringLiteral("x"), longPath, longPath));
        h.openPage(3);
        h.backupTarget()->setText(QStringLiteral("/") + QString(4000, QLatin1Char('d')) +
                                  QStringLiteral("/x.bak"));
        QVERIFY(!h.backupButton()->isEnabled());
        h.backupButton()->setEnabled(true);
        h.backupButton()->click();
        // Each is told that the server finds no such path; the paths go no further than the
        // questions about them.
        QCOMPARE(h.script.seen.size(), 2);
        QVERIFY(h.script.seen.at(0).text.contains(longPath));
        QVERIFY(h.script.seen.at(1).text.contains(QStringLiteral("не може записати файл /ddd")));
        const QString received = h.server.receivedStatements();
        QVERIFY(!received.contains(QLatin1String("FOR ATTACH")));
        QVERIFY(!received.contains(QLatin1String("Backup Database")));
        bystanders.verify(h);
    }
};

QTEST_MAIN(HostileInput)
#include "tst_hostile.moc"
