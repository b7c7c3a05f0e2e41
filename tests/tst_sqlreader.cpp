// The stand-in's T-SQL reader: what it accepts, how it decodes names and literals, and which
// syntax errors it reports.
#include "SqlReader.h"

#include <QtTest>

class SqlReader : public QObject {
    Q_OBJECT
private slots:
    void decodesQuotedNamesAndLiterals() {
        const auto st = tsql::parse("CREATE DATABASE [x]]y]\r\nON PRIMARY (FILENAME = N'/tmp/o''k/Б.mdf')\r\n"
                                    "LOG ON (FILENAME = '/tmp/a b.ldf')\r\nFOR ATTACH\r\n");
        QCOMPARE(st.size(), size_t(1));
        QCOMPARE(st[0].kind, tsql::Statement::CreateDatabase);
        QCOMPARE(QString::fromStdString(st[0].name), QStringLiteral("x]y"));
        QCOMPARE(QString::fromStdString(st[0].dataFiles.at(0)), QStringLiteral("/tmp/o'k/Б.mdf"));
        QCOMPARE(QString::fromStdString(st[0].logFiles.at(0)), QStringLiteral("/tmp/a b.ldf"));
        QVERIFY(st[0].forAttach);
    }

    void severalStatementsAnyCase() {
        const auto st =
            tsql::parse("use Master; select NAME from MASTER.dbo.SYSDATABASES where name = N'База'\n"
                        "exec sp_detach_db @dbname = N'a''b', @skipchecks = 'true'");
        QCOMPARE(st.size(), size_t(3));
        QCOMPARE(st[0].kind, tsql::Statement::Use);
        QCOMPARE(st[1].whereOp, std::string("="));
        QCOMPARE(QString::fromStdString(st[1].whereValue), QStringLiteral("База"));
        QCOMPARE(st[2].args.at(0), std::string("a'b"));
        QCOMPARE(st[2].argNames.at(0), std::string("@dbname"));
    }

    void backupAndRestoreOptions() {
        auto st = tsql::parse(
            "Backup Database [db] to disk = N'/b.bak' WITH INIT , NOUNLOAD , SKIP , STATS = 10, NOFORMAT");
        QCOMPARE(st.at(0).stats, 10);
        QVERIFY(st.at(0).init);
        QVERIFY(!st.at(0).copyOnly);
        const std::string copyOnly =
            "BACKUP DATABASE [db] TO DISK = N'/b.bak' WITH INIT, CHECKSUM, COPY_ONLY";
        QVERIFY(tsql::parse(copyOnly).at(0).copyOnly);
        // 2000 knows neither word: the statement never runs there.
        QVERIFY_THROWS_EXCEPTION(tsql::SyntaxError, tsql::parse(copyOnly, tsql::Dialect::Sql2000));
        st = tsql::parse("RESTORE DATABASE \"q\" FROM DISK = N'/b.bak' WITH REPLACE, MOVE N'd' TO N'/x.mdf', "
                         "MOVE 'l' TO '/x.ldf'");
        QCOMPARE(st.at(0).name, std::string("q"));
        QVERIFY(st.at(0).replace);
        QCOMPARE(st.at(0).moves.size(), size_t(2));
        QCOMPARE(st.at(0).moves[1].second, std::string("/x.ldf"));
    }

    void filesAndFilegroups() {
        const auto st = tsql::parse(
            "CREATE DATABASE [m] ON PRIMARY (NAME = a, FILENAME = N'/d/a.mdf', SIZE = 3MB, MAXSIZE = "
            "UNLIMITED, "
            "FILEGROWTH = 10%), (NAME = b, FILENAME = N'/d/b.ndf', SIZE = 512KB), FILEGROUP [f g] DEFAULT "
            "(NAME = c, FILENAME = N'/d/c.ndf', SIZE = 2) LOG ON (NAME = l1, FILENAME = N'/d/l1.ldf', SIZE = "
            "1GB), "
            "(NAME = l2, FILENAME = N'/d/l2.ldf')");
        const auto& data = st.at(0).dataSpecs;
        QCOMPARE(data.size(), size_t(3));
        QCOMPARE(data[0].name, std::string("a"));
        QCOMPARE(data[0].size, 3LL << 20);
        QCOMPARE(data[1].size, 512LL << 10);
        QCOMPARE(data[1].filegroup, std::string(""));
        QCOMPARE(data[2].filegroup, std::string("f g"));
        QCOMPARE(data[2].size, 2LL << 20);
        QCOMPARE(st[0].logSpecs.size(), size_t(2));
        QCOMPARE(st[0].logSpecs[0].size, 1LL << 30);
        QCOMPARE(st[0].logSpecs[1].size, -1LL);
        QCOMPARE(st[0].logFiles.at(1), std::string("/d/l2.ldf"));
        QVERIFY(!st[0].forAttach);
    }

    void attachListsEveryFileInOn() {
        const auto st =
            tsql::parse("CREATE DATABASE [n] ON (FILENAME = N'/d/a.mdf'), (FILENAME = N'/d/b.ndf'), "
                        "(FILENAME = N'/d/c.ldf') FOR ATTACH");
        QCOMPARE(st.at(0).dataFiles, (std::vector<std::string>{"/d/a.mdf", "/d/b.ndf", "/d/c.ldf"}));
        QVERIFY(st[0].logFiles.empty());
        QVERIFY(st[0].forAttach);
    }

    void attachRebuildingTheLogIsNotIn2000() {
        const std::string text =
            "CREATE DATABASE [n]\r\nON PRIMARY (FILENAME = N'/d/a.mdf')\r\nFOR ATTACH_REBUILD_LOG";
        const auto st = tsql::parse(text);
        QVERIFY(st.at(0).forAttach);
        QVERIFY(st[0].rebuildLog);
        QVERIFY(!tsql::parse("CREATE DATABASE n ON (FILENAME = N'/d/a.mdf') FOR ATTACH").at(0).rebuildLog);
        try {
            tsql::parse(text, tsql::Dialect::Sql2000);
            QFAIL("2000 has no FOR ATTACH_REBUILD_LOG");
        } catch (const tsql::SyntaxError& e) {
            QCOMPARE(e.number, 102);
            QCOMPARE(e.near, std::string("ATTACH_REBUILD_LOG"));
            QCOMPARE(e.line, 3);
        }
    }

    void backupSetsByPosition() {
        auto st = tsql::parse("RESTORE HEADERONLY FROM DISK = N'/b.bak'");
        QCOMPARE(st.at(0).kind, tsql::Statement::RestoreHeaderOnly);
        QCOMPARE(st[0].disk, std::string("/b.bak"));
        st = tsql::parse("RESTORE FILELISTONLY FROM Disk = N'/b.bak' WITH FILE = 3");
        QCOMPARE(st.at(0).kind, tsql::Statement::RestoreFileList);
        QCOMPARE(st[0].file, 3);
        st = tsql::parse("RESTORE DATABASE [n] FROM DISK = N'p' WITH FILE = 3, REPLACE, MOVE N'a' TO N'x', "
                         "MOVE N'b' TO N'y', MOVE N'c' TO N'z'");
        QCOMPARE(st.at(0).file, 3);
        QVERIFY(st[0].replace);
        QCOMPARE(st[0].moves.size(), size_t(3));
        QCOMPARE(st[0].moves[2].second, std::string("z"));
        st = tsql::parse("BACKUP DATABASE [n] TO DISK = N'p' WITH NAME = N'Щоденна', DESCRIPTION = 'd'");
        QCOMPARE(QString::fromStdString(st.at(0).backupName), QStringLiteral("Щоденна"));
        QCOMPARE(st[0].backupDescription, std::string("d"));
        QVERIFY(!st[0].init);
    }

    void filePathQueries_data() {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("orderBy");
        QTest::newRow("master_files") << "SELECT file_id, type, name, physical_name FROM sys.master_files "
                                         "WHERE database_id = DB_ID(N'Б'' д') "
                                         "ORDER BY file_id"
                                      << "db_id"
                                      << "Б' д" << QStringList{"file_id"};
        QTest::newRow("sysaltfiles")
            << "SELECT fileid, groupid, name, filename FROM master.dbo.sysaltfiles WHERE "
               "dbid = DB_ID(N'X') ORDER BY fileid"
            << "db_id"
            << "X" << QStringList{"fileid"};
        QTest::newRow("number") << "select name from sysaltfiles where dbid = 5 order by groupid asc, fileid"
                                << ""
                                << "5" << QStringList{"groupid", "fileid"};
    }
    void filePathQueries() {
        QFETCH(QString, batch);
        QFETCH(QString, function);
        QFETCH(QString, value);
        QFETCH(QStringList, orderBy);
        const auto st = tsql::parse(batch.toStdString());
        QCOMPARE(st.size(), size_t(1));
        QCOMPARE(QString::fromStdString(st[0].whereFunction), function);
        QCOMPARE(QString::fromStdString(st[0].whereValue), value);
        QCOMPARE(st[0].whereNumber, function.isEmpty());
        QStringList order;
        for (const std::string& c : st[0].orderBy)
            order << QString::fromStdString(c);
        QCOMPARE(order, orderBy);
    }

    // What clients ask the server about itself: properties cast either way and named, and the file
    // functions with their arguments, an alias and a filter.
    void serverQuestions() {
        auto st = tsql::parse("SELECT CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128)) AS v, "
                              "CONVERT(sysname, SERVERPROPERTY('InstanceName')), SERVERPROPERTY('Edition') e")
                      .at(0);
        QCOMPARE(st.columns, (std::vector<std::string>{"SERVERPROPERTY('ProductVersion')",
                                                       "SERVERPROPERTY('InstanceName')", "SERVERPROPERTY('Edition')"}));
        QCOMPARE(st.casts, (std::vector<std::string>{"nvarchar(128)", "sysname", ""}));
        QCOMPARE(st.aliases.at(0), std::string("v"));
        st = tsql::parse("SELECT file_or_directory_name FROM sys.dm_os_enumerate_filesystem(N'C:\\Д', N'*') AS f "
                         "WHERE level = 0")
                 .at(0);
        QVERIFY(st.fromCall);
        QCOMPARE(st.fromArgs, (std::vector<std::string>{"C:\\Д", "*"}));
        QCOMPARE(st.whereColumn, std::string("level"));
        QCOMPARE(st.whereValue, std::string("0"));
    }

    void commentsAreSkipped() {
        const auto st = tsql::parse("-- a comment\nDROP /* inline */ DATABASE [a], b");
        QCOMPARE(st.at(0).names.size(), size_t(2));
    }

    void syntaxErrors_data() {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("near");
        QTest::newRow("unknown statement") << "USE a FROBNICATE x" << 102 << "FROBNICATE";
        QTest::newRow("bare name then junk") << "FROBNICATE x y" << 102 << "y";
        QTest::newRow("other statement") << "DECLARE @x int" << 102 << "DECLARE";
        QTest::newRow("bare name with blank") << "DROP DATABASE a b" << 102 << "b";
        QTest::newRow("keyword") << "CREATE DATABASE from" << 156 << "from";
        QTest::newRow("empty brackets") << "BACKUP DATABASE [] TO DISK = 'x'" << 1038 << "";
        QTest::newRow("unclosed quote") << "EXEC sp_detach_db 'o'k', 'true'" << 102 << "k";
        QTest::newRow("unclosed only") << "USE [a] SELECT 'x" << 105 << "x";
        QTest::newRow("filegroup without files")
            << "CREATE DATABASE a ON PRIMARY (FILENAME = 'a'), FILEGROUP g" << 102 << "g";
        QTest::newRow("order without by") << "SELECT name FROM sysdatabases ORDER name" << 102 << "name";
    }
    void syntaxErrors() {
        QFETCH(QString, batch);
        QFETCH(int, number);
        QFETCH(QString, near);
        try {
            tsql::parse(batch.toStdString());
            QFAIL("accepted");
        } catch (const tsql::SyntaxError& e) {
            QCOMPARE(e.number, number);
            QCOMPARE(QString::fromStdString(e.near), near);
        }
    }

    void bareNameOpeningABatchIsACall() {
        auto st = tsql::parse("sp_who2 'active'; SELECT 1");
        QCOMPARE(st.at(0).kind, tsql::Statement::Exec);
        QCOMPARE(st.at(0).name, std::string("sp_who2"));
        QCOMPARE(st.at(0).args.at(0), std::string("active"));
        st = tsql::parse("[my proc]");
        QCOMPARE(st.at(0).kind, tsql::Statement::Exec);
        QCOMPARE(st.at(0).name, std::string("my proc"));
    }

    // Bound @variables become literals where SQL Server takes a variable, and are refused where it
    // takes only a name or a literal, with the error SQL Server gives.
    void variables_data() {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("error"); // 0: accepted
        QTest::addColumn<QString>("value");
        QTest::newRow("restore from disk") << "RESTORE FILELISTONLY FROM DISK = @p" << 0 << "/b'.bak";
        QTest::newRow("backup database") << "BACKUP DATABASE @n TO DISK = @p" << 0 << "Б д";
        QTest::newRow("restore database")
            << "RESTORE DATABASE @n FROM DISK = @p WITH MOVE @n TO @p" << 0 << "Б д";
        QTest::newRow("where") << "SELECT name FROM master.dbo.sysdatabases WHERE name = @n" << 0 << "Б д";
        QTest::newRow("detach") << "EXEC sp_detach_db @dbname = @n, @skipchecks = 'true'" << 0 << "Б д";
        QTest::newRow("create database") << "CREATE DATABASE @n" << 102 << "@n";
        QTest::newRow("file name") << "CREATE DATABASE a ON (FILENAME = @p) FOR ATTACH" << 102 << "@p";
        QTest::newRow("use") << "USE @n" << 102 << "@n";
        QTest::newRow("drop") << "DROP DATABASE @n" << 102 << "@n";
        QTest::newRow("not bound") << "BACKUP DATABASE @other TO DISK = @p" << 137 << "@other";
        QTest::newRow("not bound argument") << "EXEC sp_detach_db @other" << 137 << "@other";
    }
    void variables() {
        QFETCH(QString, batch);
        QFETCH(int, error);
        QFETCH(QString, value);
        const auto values = [](const std::string& variable, tsql::Token& literal) {
            if (variable != "@n" && variable != "@p")
                return false;
            literal.kind = tsql::Token::String;
            literal.national = true;
            literal.text = variable == "@n" ? "Б д" : "/b'.bak";
            return true;
        };
        try {
            const auto st = tsql::parse(batch.toStdString(), values);
            QCOMPARE(error, 0);
            const tsql::Statement& s = st.at(0);
            const std::string seen = !s.whereValue.empty() ? s.whereValue
                                     : !s.args.empty()     ? s.args[0]
                                     : !s.name.empty()     ? s.name
                                                           : s.disk;
            QCOMPARE(QString::fromStdString(seen), value);
            if (s.kind == tsql::Statement::Backup || s.kind == tsql::Statement::RestoreDatabase)
                QCOMPARE(s.disk, std::string("/b'.bak"));
            if (!s.moves.empty())
                QCOMPARE(s.moves[0], std::make_pair(std::string("Б д"), std::string("/b'.bak")));
            if (!s.args.empty())
                QCOMPARE(s.argNames[0], std::string("@dbname"));
        } catch (const tsql::SyntaxError& e) {
            QCOMPARE(e.number, error);
            QCOMPARE(QString::fromStdString(e.near), value);
        }
    }

    void unclosedQuoteAfterSyntaxErrorIsRemembered() {
        try {
            tsql::parse("EXEC sp_detach_db 'o'k', 'true'");
            QFAIL("accepted");
        } catch (const tsql::SyntaxError& e) {
            QVERIFY(e.hasUnclosed);
            QCOMPARE(e.unclosedTail, std::string(""));
        }
    }
};

QTEST_GUILESS_MAIN(SqlReader)
#include "tst_sqlreader.moc"
