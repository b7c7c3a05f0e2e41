// The small text rules everything else leans on: T-SQL quoting, connection strings, server names,
// path parts and the error box's full stop.
#include "ConnectionSettings.h"
#include "ConnectionString.h"
#include "FileChecks.h"
#include "ModalSeam.h"
#include "RestorePlan.h"
#include "RowBlocks.h"
#include "SqlQuote.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TextRules : public QObject {
    Q_OBJECT
private slots:
    void quoting_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("literal");
        QTest::newRow("plain") << "VTR"
                               << "[VTR]"
                               << "N'VTR'";
        QTest::newRow("bracket") << "x]y"
                                 << "[x]]y]"
                                 << "N'x]y'";
        QTest::newRow("quote") << "o'k"
                               << "[o'k]"
                               << "N'o''k'";
        QTest::newRow("two quotes") << "''"
                                    << "['']"
                                    << "N''''''";
        QTest::newRow("open bracket") << "[a"
                                      << "[[a]"
                                      << "N'[a'";
        QTest::newRow("cyrillic") << "База_1"
                                  << "[База_1]"
                                  << "N'База_1'";
        QTest::newRow("empty") << ""
                               << "[]"
                               << "N''";
        QTest::newRow("comment marks") << "a--b/*"
                                       << "[a--b/*]"
                                       << "N'a--b/*'";
    }
    void quoting() {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(QString, literal);
        QCOMPARE(sqlquote::name(text), name);
        QCOMPARE(sqlquote::literal(text), literal);
    }

    void providers_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("tds");
        QTest::newRow("2000") << "2000"
                              << "Provider=SQLOLEDB.1;"
                              << "7.1";
        QTest::newRow("2005") << "2005"
                              << "Provider=SQLNCLI.1;"
                              << "7.2";
        QTest::newRow("2008") << "2008"
                              << "Provider=SQLNCLI10.1;"
                              << "7.3";
        for (const char* v : {"2012", "2014", "2016", "2017", "2019"})
            QTest::newRow(v) << v << "Provider=SQLNCLI11.0;"
                             << "7.4";
        QTest::newRow("2011") << "2011"
                              << "Provider=SQLOLEDB.1;"
                              << "7.1";
        QTest::newRow("2020") << "2020"
                              << "Provider=SQLOLEDB.1;"
                              << "7.1";
        QTest::newRow("empty") << ""
                               << "Provider=SQLOLEDB.1;"
                               << "7.1";
    }
    void providers() {
        QFETCH(QString, version);
        QFETCH(QString, prefix);
        QFETCH(QString, tds);
        QCOMPARE(connection::providerPrefix(version), prefix);
        const QString text = connection::buildConnectionString(version, QStringLiteral("HOST"),
                                                               QStringLiteral("sa"), QStringLiteral("pvtmo"));
        QCOMPARE(text, prefix + "Persist Security Info=False;Data Source=HOST;User ID=sa;Password=pvtmo");
        QCOMPARE(connstr::tdsVersionFor(connstr::parse(text).provider), tds);
    }

    // Values holding ";" or starting with a quote are quoted so that they read back whole.
    void connectionStringRoundTrip_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("quoted");
        QTest::newRow("plain") << "pvtmo" << false;
        QTest::newRow("semicolon") << "a;b\"c" << true;
        QTest::newRow("leading quote") << "\"x" << true;
        QTest::newRow("leading apostrophe") << "'x" << true;
        QTest::newRow("braces") << "a}b{" << false;
        QTest::newRow("empty") << "" << false;
    }
    void connectionStringRoundTrip() {
        QFETCH(QString, password);
        QFETCH(bool, quoted);
        const QString text = connection::buildConnectionString(QStringLiteral("2019"), QStringLiteral("h;1"),
                                                               QStringLiteral("user"), password);
        QCOMPARE(text.endsWith(QLatin1String("Password=") + password), !quoted);
        const connstr::Settings s = connstr::parse(text);
        QCOMPARE(s.password, password);
        QCOMPARE(s.dataSource, QStringLiteral("h;1"));
        QCOMPARE(s.userId, QStringLiteral("user"));
    }

    void odbcTranslation() {
        connstr::Settings s{QStringLiteral("SQLNCLI10.1"), QStringLiteral("127.0.0.1,1500"),
                            QStringLiteral("sa"), QStringLiteral("p}w")};
        const QString odbc = connstr::toOdbc(s, QStringLiteral("FreeTDS"), QString());
        QVERIFY(odbc.contains(QLatin1String("Server={127.0.0.1};Port=1500;")));
        QVERIFY(odbc.contains(QLatin1String("TDS_Version=7.3;")));
        QVERIFY(odbc.contains(QLatin1String("PWD={p}w};")));
        s.dataSource = QStringLiteral("HOST");
        QVERIFY(connstr::toOdbc(s, QStringLiteral("FreeTDS"), QString())
                    .contains(QLatin1String("Server={HOST};Port=1433;")));
        s.dataSource = QStringLiteral("HOST\\SQL2019");
        QVERIFY(connstr::toOdbc(s, QStringLiteral("FreeTDS"), QString())
                    .contains(QLatin1String("Server={HOST\\SQL2019};")));
    }

    void derivedServerNames() {
        QCOMPARE(connection::derivedServerName(QStringLiteral("PC"), QStringLiteral("2000")),
                 QStringLiteral("PC"));
        QCOMPARE(connection::derivedServerName(QStringLiteral("PC"), QStringLiteral("2014")),
                 QStringLiteral("PC\\SQL2014"));
        // The default server name is this computer's own name as the system reports it, whole.
        char host[256] = {};
        QCOMPARE(::gethostname(host, sizeof host - 1), 0);
        QCOMPARE(connection::computerName(), connection::computerNameFrom(QString::fromLocal8Bit(host)));
    }

    // The name must resolve: a cut one names no computer (Linux host names run to 64 characters).
    void computerNames_data() {
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QString>("name");
        QTest::newRow("short") << "vm"
                               << "vm";
        QTest::newRow("sixteen") << "ip-172-31-20-123"
                                 << "ip-172-31-20-123";
        const QString longest = QString(64, QLatin1Char('h'));
        QTest::newRow("sixty-four") << longest << longest;
        QTest::newRow("none") << ""
                              << "localhost";
    }
    void computerNames() {
        QFETCH(QString, reported);
        QFETCH(QString, name);
        QCOMPARE(connection::computerNameFrom(reported), name);
    }

    void pathParts_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("part");
        QTest::newRow("file in folder") << "/srv/db/x.bak"
                                        << "/srv/db/"
                                        << "/srv/db";
        QTest::newRow("file in root") << "/x.bak"
                                      << "/"
                                      << "/";
        QTest::newRow("no slash") << "x.bak"
                                  << ""
                                  << "";
        QTest::newRow("trailing slash") << "/srv/"
                                        << "/srv/"
                                        << "/srv";
    }
    void pathParts() {
        QFETCH(QString, path);
        QFETCH(QString, prefix);
        QFETCH(QString, part);
        QCOMPARE(filechecks::folderPrefix(path), prefix);
        QCOMPARE(filechecks::folderPart(path), part);
        QVERIFY(!filechecks::folderExists(filechecks::folderPart(QStringLiteral("x.bak"))));
    }

    void logSearchIgnoresCaseAndTakesNameOrder() {
        QTemporaryDir dir;
        QCOMPARE(filechecks::firstMatchingEntry(dir.path(), QStringLiteral("*.ldf")), QString());
        for (const char* name : {"b.LDF", "c.ldf", "a.mdf"}) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(filechecks::firstMatchingEntry(dir.path(), QStringLiteral("*.ldf")),
                 QStringLiteral("b.LDF"));
    }

    void trimming() {
        QCOMPARE(filechecks::trimmed(QStringLiteral(" \t VTR \x01")), QStringLiteral("VTR"));
        QCOMPARE(filechecks::join(QStringLiteral("/"), QStringLiteral("a.MDF")), QStringLiteral("//a.MDF"));
    }

    // How wide a column's text may be decides whether its rows can be read in blocks: too narrow
    // a width would cut values, so long and unknown types must say "not this way" (0).
    void columnTextWidths() {
        QCOMPARE(rowblocks::textWidth(SQL_WVARCHAR, 128), SQLULEN(128)); // sysname
        QCOMPARE(rowblocks::textWidth(SQL_CHAR, 1), SQLULEN(1));
        QCOMPARE(rowblocks::textWidth(SQL_VARBINARY, 32), SQLULEN(64)); // hexadecimal
        QVERIFY(rowblocks::textWidth(SQL_BIGINT, 19) >= 20);            // "-9223372036854775808"
        QVERIFY(rowblocks::textWidth(SQL_NUMERIC, 38) >= 40);           // sign and point
        QVERIFY(rowblocks::textWidth(SQL_GUID, 36) >= 36);
        QVERIFY(rowblocks::textWidth(SQL_DOUBLE, 15) >= 24); // "-1.7976931348623157e+308"
        for (const auto& [type, size] : std::vector<std::pair<SQLSMALLINT, SQLULEN>>{
                 {SQL_WVARCHAR, 0},       // nvarchar(max)
                 {SQL_WVARCHAR, 4001},    // longer than blocks are made for
                 {SQL_WLONGVARCHAR, 100}, // ntext
                 {SQL_LONGVARBINARY, 100},
                 {-150, 8000}, // sql_variant
                 {-152, 0}})   // xml
            QCOMPARE(rowblocks::textWidth(type, size), SQLULEN(0));
    }

    // A backup file with a log backup appended after the newest full backup: the full one is
    // restored, since a log backup cannot be restored as a database.
    void theNewestFullBackupSetIsChosen() {
        using restoreplan::BackupSet;
        QCOMPARE(restoreplan::newestSet({}), nullptr);
        const QList<BackupSet> sets = {{1, 1, "A", ""}, {3, 1, "A", ""}, {2, 1, "A", ""}, {4, 2, "A", ""}};
        QCOMPARE(restoreplan::newestSet(sets)->position, 3);
        const QList<BackupSet> logsOnly = {{1, 2, "A", ""}, {2, 2, "A", ""}};
        QCOMPARE(restoreplan::newestSet(logsOnly)->position, 2);
        QCOMPARE(restoreplan::shownDate("2026-12-07 14:03:12.000"), QStringLiteral("07.12.2026 14:03"));
        QCOMPARE(restoreplan::shownDate("7 Dec"), QStringLiteral("7 Dec"));
    }

    // Further files are named after the database and their logical name, beside the page's two
    // paths; one taken or already chosen gets a number; the first of each kind is not among them.
    void furtherFilesOfARestore() {
        const QList<restoreplan::BackupFile> files = {
            {"main", "D", "/old/a.mdf"}, {"log", "L", "/old/a.ldf"},   {"two", "D", "/old/b.ndf"},
            {"Two", "D", "/old/c.ndf"},  {"log/2", "L", "/old/d.ldf"}, {"ft", "F", "/old/ft"}};
        QVERIFY(restoreplan::furtherFilesHint(files).startsWith(QStringLiteral("Ще файлів у копії: 4;")));
        auto taken = [](const QString& path) { return path == QStringLiteral("/d/Б_ft.ndf"); };
        const QList<restoreplan::Move> moves =
            restoreplan::furtherFiles(files, QStringLiteral(" Б "), "/d/x.mdf", "/l/x.ldf", taken);
        QStringList shown;
        for (const auto& m : moves)
            shown << m.logicalName + "=" + m.target;
        QCOMPARE(shown, QStringList({"two=/d/Б_two.ndf", "Two=/d/Б_Two.ndf", "log/2=/l/Б_log_2.ldf",
                                     "ft=/d/Б_ft_2.ndf"}));
        const QList<restoreplan::Move> clash =
            restoreplan::furtherFiles({{"a", "D", ""}, {"b", "D", ""}, {"b", "D", ""}}, "N", "/d/N_b.ndf",
                                      "/l/x", [](const QString&) { return false; });
        QCOMPARE(clash[0].target, QStringLiteral("/d/N_b_2.ndf"));
        QCOMPARE(clash[1].target, QStringLiteral("/d/N_b_3.ndf"));
        QCOMPARE(restoreplan::furtherFilesDone(moves),
                 QStringLiteral("Ще файлів відновлено: 4, у каталоги /d, /l."));
        QCOMPARE(restoreplan::furtherFilesHint(files.mid(0, 2)), QString());
    }

    void errorBoxFullStop_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Access denied"
                                << "Access denied.";
        QTest::newRow("digit") << "error 5"
                               << "error 5.";
        QTest::newRow("colon") << "reason:"
                               << "reason:.";
        QTest::newRow("parenthesis") << "error 5(Access is denied.)"
                                     << "error 5(Access is denied.)";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("blank") << "x "
                               << "x ";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("cyrillic") << "Помилка"
                                  << "Помилка.";
    }
    void errorBoxFullStop() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(modal::errorBoxText(text), shown);
    }
};

QTEST_GUILESS_MAIN(TextRules)
#include "tst_text.moc"
