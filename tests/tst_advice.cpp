// The Ukrainian line after a server error: the stand-in sends each error the line is for through
// the real window and driver, and the dialog must show the server's text unchanged, then one line
// saying what to check.
#include "WindowHarness.h"

#include "ErrorAdvice.h"
#include "SqlQuote.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using sqlquote::literal;

// A database with its files in the scratch folder and a backup of it at bak.
void makeBackup(WindowHarness& h, const QString& name, const QString& bak) {
    QVERIFY2(h.makeBackup(name, bak), qPrintable(bak));
}

// Reads the backup's file list the way the restore page does.
void chooseBackup(WindowHarness& h, const QString& bak) {
    h.readFileList(bak);
}

// A port that accepts connections and never answers: the login times out.
struct SilentListener {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    SilentListener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd); }
};

// Another client using the database, so that it is in use.
std::unique_ptr<AdoConnection> useElsewhere(const WindowHarness& h, const QString& name) {
    auto c = std::make_unique<AdoConnection>();
    c->setConnectionString(h.server.connectionString());
    c->setDefaultDatabase(name);
    c->open();
    return c;
}

void connectTo(WindowHarness& h, const QString& serverName) {
    h.edit("ServerName")->setText(serverName);
    h.button("ToolButton1")->click();
}

} // namespace

class ErrorAdviceLines : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // Each row: the personality, what the user does, the dialog expected, the start of the
    // server's own text and a phrase the line must hold (what to check).
    void serverErrorGetsItsLine_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("serverText");
        QTest::addColumn<QString>("advice");

        const int dialog = int(modal::Kind::MessageDialog);
        const int simple = int(modal::Kind::SimpleMessage);
        const int box = int(modal::Kind::SystemMessageBox);
        const int error = int(modal::Kind::ErrorBox);
        const QString unreachable = QStringLiteral("вводьте ХОСТ або ХОСТ,ПОРТ");
        const QString inUse = QStringLiteral("користуються інші підключення");
        const QString noDatabase = QStringLiteral("Такої бази даних на сервері немає");
        for (int version : {2000, 2019}) {
            const QByteArray v = QByteArray::number(version) + ' ';
            QTest::newRow(v + "nothing on the port")
                << version << "refused" << dialog << "Unable to connect: Adaptive Server is unavailable"
                << unreachable;
            QTest::newRow(v + "unknown host")
                << version << "unknownHost" << dialog << "Unable to connect to data source" << unreachable;
            QTest::newRow(v + "login failed") << version << "login" << dialog << "Login failed for user 'sa'"
                                              << "автентифікацією SQL Server";
            QTest::newRow(v + "detach in use")
                << version << "detachInUse" << error << "Cannot detach the database 'busy'" << inUse;
            QTest::newRow(v + "delete in use") << version << "dropInUse" << box << "Cannot drop" << inUse;
            QTest::newRow(v + "detach gone")
                << version << "detachGone" << error << "The database 'gone' does not exist" << noDatabase;
            QTest::newRow(v + "delete gone")
                << version << "dropGone" << box << "Cannot drop the database 'gone'" << noDatabase;
            QTest::newRow(v + "backup of a database gone")
                << version << "backupGone" << simple << "" << noDatabase;
            QTest::newRow(v + "backup link cut") << version << "backupCut" << simple << ""
                                                 << "могла як завершитися, так і ні";
            QTest::newRow(v + "not a backup")
                << version << "notABackup" << error << "The media family on device"
                << "не є резервною копією";
            QTest::newRow(v + "logical file not in the backup")
                << version << "wrongLogicalName" << dialog << "Logical file 'W1' is not part of database 'W2'"
                << "логічними назвами";
            QTest::newRow(v + "restore over a database in use")
                << version << "restoreInUse" << dialog << "Exclusive access could not be obtained" << inUse;
        }
        // The file errors: the server opens the path itself, as its service account.
        // A data file alone, copied while its database was online: no new log can be built.
        QTest::newRow("2019 attach, log file missing, not shut down cleanly")
            << 2019 << "attachUnclean" << dialog << "Could not open new database"
            << "потрібен її оригінальний файл журналу";
        QTest::newRow("2000 attach, log file missing, not shut down cleanly")
            << 2000 << "attachUnclean" << dialog << "Primary log file"
            << "потрібен її оригінальний файл журналу";
        QTest::newRow("2000 attach, file denied")
            << 2000 << "attachDenied" << dialog << "Device activation error"
            << "від імені своєї служби";
        QTest::newRow("2019 attach, not a database file")
            << 2019 << "attachJunk" << dialog << "The header for file"
            << "не є придатним файлом бази даних";
        QTest::newRow("2000 attach, not a database file")
            << 2000 << "attachJunk" << dialog << "The header for file"
            << "не є придатним файлом бази даних";
        QTest::newRow("2019 attach, file of another database")
            << 2019 << "attachInUse" << dialog << "Unable to open the physical file"
            << "ним уже користується";
        QTest::newRow("2000 attach, file of another database")
            << 2000 << "attachInUse" << dialog << "Device activation error"
            << "від імені своєї служби";
        QTest::newRow("2016 restore, folder missing")
            << 2016 << "restoreMissingFolder" << dialog << "Directory lookup for the file"
            << "папка для нового файлу має існувати";
        QTest::newRow("2019 (Linux) restore, folder missing")
            << 2019 << "restoreMissingFolder" << dialog << "The operating system returned the error '2("
            << "папка для нового файлу має існувати";
        QTest::newRow("2019 attach alone, the new log's name taken")
            << 2019 << "attachLogInTheWay" << dialog << "Cannot create file"
            << "_log.LDF";
        QTest::newRow("2000 attach alone, the new log's name taken")
            << 2000 << "attachLogInTheWay" << dialog << "Cannot create file"
            << "_log.LDF";
        QTest::newRow("2000 restore, folder missing")
            << 2000 << "restoreMissingFolder" << dialog << "Device activation error"
            << "для нового файлу має існувати папка";
        QTest::newRow("2019 restore, backup missing")
            << 2019 << "restoreMissingBackup" << dialog << "Cannot open backup device"
            << "для відновлення має існувати сам файл";
        QTest::newRow("2000 restore, backup missing")
            << 2000 << "restoreMissingBackup" << dialog << "Cannot open backup device"
            << "або читати файл (відновлення)";
        QTest::newRow("2019 file list, backup denied")
            << 2019 << "fileListDenied" << error << "Cannot open backup device"
            << "для відновлення — читати файл";
        QTest::newRow("2000 file list, backup denied")
            << 2000 << "fileListDenied" << error << "Cannot open backup device"
            << "або читати файл (відновлення)";
        QTest::newRow("2019 backup, folder denied")
            << 2019 << "backupDenied" << simple << "Cannot open backup device"
            << "для резервного копіювання їй потрібне право записувати в папку";
        QTest::newRow("2000 backup, folder denied")
            << 2000 << "backupDenied" << simple << "Cannot open backup device"
            << "записувати в папку (резервне";
    }

    void serverErrorGetsItsLine() {
        QFETCH(int, version);
        QFETCH(QString, action);
        QFETCH(int, kind);
        QFETCH(QString, serverText);
        QFETCH(QString, advice);

        const QTemporaryDir locked;
        QStringList arguments{QStringLiteral("--deny"), locked.path()};
        if (action == QLatin1String("login"))
            arguments << QStringLiteral("--refuse-logins");
        if (action == QLatin1String("backupCut"))
            arguments << QStringLiteral("--drop-backup-halfway");
        WindowHarness h(version, arguments);
        const QString scratch = h.server.scratch();
        std::unique_ptr<AdoConnection> other;

        if (action == QLatin1String("refused")) {
            const QString source = h.server.dataSource();
            h.server.stop();
            connectTo(h, source);
        } else if (action == QLatin1String("unknownHost")) {
            connectTo(h, QStringLiteral("no-such-host.invalid"));
        } else if (action == QLatin1String("login")) {
            h.button("ToolButton1")->click();
        } else if (action == QLatin1String("detachInUse") || action == QLatin1String("dropInUse")) {
            h.sql(QStringLiteral("CREATE DATABASE busy"));
            other = useElsewhere(h, QStringLiteral("busy"));
            QVERIFY(h.connect());
            h.openPage(1);
            QVERIFY(h.selectListed(QStringLiteral("busy")));
            h.script.answer(Reply::Yes);
            h.button(action == QLatin1String("dropInUse") ? "BitBtn4" : "BitBtn2")->click();
        } else if (action == QLatin1String("detachGone") || action == QLatin1String("dropGone")) {
            h.sql(QStringLiteral("CREATE DATABASE gone"));
            QVERIFY(h.connect());
            h.openPage(1);
            QVERIFY(h.selectListed(QStringLiteral("gone")));
            h.sql(QStringLiteral("DROP DATABASE gone"));
            h.script.answer(Reply::Yes);
            h.button(action == QLatin1String("dropGone") ? "BitBtn4" : "BitBtn2")->click();
            // The delete refreshes the list afterwards; its box is the one before the refresh.
        } else if (action == QLatin1String("backupGone") || action == QLatin1String("backupCut") ||
                   action == QLatin1String("backupDenied")) {
            h.sql(QStringLiteral("CREATE DATABASE B1"));
            QVERIFY(h.connect());
            h.openPage(3);
            auto* combo = h.widget<QComboBox>("cbDataBase1");
            combo->setCurrentIndex(combo->findText(QStringLiteral("B1")));
            if (action == QLatin1String("backupGone"))
                h.sql(QStringLiteral("DROP DATABASE B1"));
            h.edit("edSavePathBAK")
                ->setText((action == QLatin1String("backupDenied") ? locked.path() : scratch) + "/b1.bak");
            h.button("BitBtn5")->click();
        } else if (action == QLatin1String("notABackup")) {
            writeFile(scratch + "/junk.bak", "not a backup\n");
            QVERIFY(h.connect());
            chooseBackup(h, scratch + "/junk.bak");
        } else if (action == QLatin1String("fileListDenied")) {
            makeBackup(h, QStringLiteral("D1"), scratch + "/d1.bak");
            QVERIFY(QFile::copy(scratch + "/d1.bak", locked.path() + "/d1.bak"));
            QVERIFY(h.connect());
            chooseBackup(h, locked.path() + "/d1.bak");
        } else if (action == QLatin1String("wrongLogicalName") || action == QLatin1String("restoreInUse") ||
                   action == QLatin1String("restoreMissingFolder") ||
                   action == QLatin1String("restoreMissingBackup")) {
            makeBackup(h, QStringLiteral("W1"), scratch + "/w1.bak");
            makeBackup(h, QStringLiteral("W2"), scratch + "/w2.bak");
            QVERIFY(h.connect());
            chooseBackup(h, scratch + "/w1.bak"); // the logical names of W1's files
            QString bak = scratch + "/w1.bak", name = QStringLiteral("W3"), mdf = scratch + "/w3.mdf";
            if (action == QLatin1String("wrongLogicalName"))
                bak = scratch + "/w2.bak", name = QStringLiteral("W2");
            if (action == QLatin1String("restoreInUse")) {
                name = QStringLiteral("W1");
                other = useElsewhere(h, name);
            }
            if (action == QLatin1String("restoreMissingFolder"))
                mdf = QStringLiteral("/no/such/w3.mdf");
            if (action == QLatin1String("restoreMissingBackup"))
                bak = scratch + "/none.bak";
            h.window->RestoreDatabase(name, bak, mdf, scratch + "/w3.ldf");
        } else if (action == QLatin1String("attachUnclean")) {
            makeBackup(h, QStringLiteral("A1"), scratch + "/a1.bak");
            QDir().mkpath(scratch + "/copy");
            QVERIFY(QFile::copy(scratch + "/A1.mdf", scratch + "/copy/A1.mdf"));
            h.sql(QStringLiteral("DROP DATABASE A1"));
            QVERIFY(h.connect());
            h.window->AttachDatabase(QStringLiteral("A1"), scratch + "/copy/A1.mdf", QString());
        } else if (action == QLatin1String("attachLogInTheWay")) {
            // A data file shipped alone, attached before: the log built then is still there.
            makeBackup(h, QStringLiteral("A1"), scratch + "/a1.bak");
            h.sql(QStringLiteral("EXEC sp_detach_db 'A1', 'true'"));
            QVERIFY(QFile::remove(scratch + "/A1_log.ldf"));
            writeFile(scratch + "/A1_log.LDF", "a log built by an earlier attach\n");
            QVERIFY(h.connect());
            h.window->AttachDatabase(QStringLiteral("A1"), scratch + "/A1.mdf", QString());
        } else if (action == QLatin1String("attachDenied")) {
            makeBackup(h, QStringLiteral("A1"), scratch + "/a1.bak");
            h.sql(QStringLiteral("EXEC sp_detach_db 'A1', 'true'"));
            QString mdf = scratch + "/A1.mdf";
            QVERIFY(QFile::copy(mdf, locked.path() + "/A1.mdf"));
            mdf = locked.path() + "/A1.mdf";
            QVERIFY(h.connect());
            h.window->AttachDatabase(QStringLiteral("A1"), mdf, scratch + "/A1_log.ldf");
        } else if (action == QLatin1String("attachInUse")) {
            makeBackup(h, QStringLiteral("A1"), scratch + "/a1.bak");
            QVERIFY(h.connect());
            h.window->AttachDatabase(QStringLiteral("A2"), scratch + "/A1.mdf", scratch + "/A1_log.ldf");
        } else if (action == QLatin1String("attachJunk")) {
            writeFile(scratch + "/junk.mdf", "not a database\n");
            writeFile(scratch + "/junk.ldf", "not a database\n");
            QVERIFY(h.connect());
            h.window->AttachDatabase(QStringLiteral("J"), scratch + "/junk.mdf", scratch + "/junk.ldf");
        } else {
            QFAIL(qPrintable(action));
        }

        QVERIFY(!h.script.seen.isEmpty());
        const modal::Request* shown = nullptr;
        for (const modal::Request& r : h.script.seen)
            if (int(r.kind) == kind && r.type != DialogType::Confirmation &&
                r.type != DialogType::Information)
                shown = &r;
        QVERIFY2(shown, qPrintable(h.script.texts().join(QLatin1String(" | "))));
        const QStringList lines = shown->text.split(QLatin1Char('\n'));
        QVERIFY2(lines.size() == 2, qPrintable(shown->text));
        QVERIFY2(lines[0].startsWith(serverText), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(advice), qPrintable(lines[1]));
    }

    // The driver waits for an answer it never gets (shortened here).
    void unansweredServerGetsTheUnreachableLine_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("serverText");
        QTest::newRow("named instance nobody names") << "instance"
                                                     << "Unable to connect: Adaptive Server";
        QTest::newRow("login never answered") << "silent"
                                              << "Timeout expired";
    }

    void unansweredServerGetsTheUnreachableLine() {
        QFETCH(QString, action);
        QFETCH(QString, serverText);
        // Asked for another instance, the browser lists those it has (a silent one, as SQL Server's
        // is, gives the same error after the driver's 16 one-second tries).
        WindowHarness h(2019, {QStringLiteral("--browser-port"), QStringLiteral("1434"),
                               QStringLiteral("--instance"), QStringLiteral("SQL2019=2019"),
                               QStringLiteral("--browser-lists-unknown")});
        h.window->connection().setLoginTimeoutForTests(1);
        SilentListener silent;
        connectTo(h, action == QLatin1String("instance") ? QStringLiteral("127.0.0.1\\NOPE")
                                                         : QStringLiteral("127.0.0.1,%1").arg(silent.port));
        const QStringList lines = h.script.last().text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(serverText), qPrintable(lines[0]));
        QVERIFY(lines[1].contains(QStringLiteral("вводьте ХОСТ або ХОСТ,ПОРТ")));
    }

    // The messages of their own stay as they are: no line is added to them.
    void accessDeniedMessageStaysAsItIs() {
        const QTemporaryDir locked;
        WindowHarness h(2019, {QStringLiteral("--deny"), locked.path()});
        makeBackup(h, QStringLiteral("A1"), h.server.scratch() + "/a1.bak");
        h.sql(QStringLiteral("EXEC sp_detach_db 'A1', 'true'"));
        QVERIFY(QFile::copy(h.server.scratch() + "/A1.mdf", locked.path() + "/A1.mdf"));
        QVERIFY(h.connect());
        h.window->AttachDatabase(QStringLiteral("A1"), locked.path() + "/A1.mdf",
                                 h.server.scratch() + "/A1_log.ldf");
        QVERIFY(!h.script.last().text.contains(QLatin1Char('\n')));
        QVERIFY(h.script.last().text.endsWith(
            QStringLiteral("Помилка операційної системи 5: (Доступ заборонений.)")));
    }

    // Errors the window cannot bring about (its restore always replaces) or the stand-in does not
    // send: the line from the numbers alone.
    void linesFromNumbersAlone_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("advice");
        QTest::newRow("1801 name taken (the window detaches a database of that name first)")
            << "Database 'X' already exists. Choose a different database name." << QList<int>{1801}
            << "виберіть іншу назву";
        QTest::newRow("3154 another database")
            << "The backup set holds a backup of a database other than the existing 'X' database."
            << QList<int>{3154, 3013} << "відновіть під іншою назвою";
        QTest::newRow("3169 newer version, as the message tells")
            << "The database was backed up on a server running version 15.00.2000. That version is "
               "incompatible with this server, which is running version 13.00.1601."
            << QList<int>{3169, 3013} << "Копію створив SQL Server 2019 (15.00.2000)";
        QTest::newRow("cause sorted after the summary")
            << "CREATE DATABASE failed. Some file names listed could not be created. Check related errors."
            << QList<int>{1802, 1828, 5120} << "можливо, ним уже користується";
        QTest::newRow("a path that looks like a code")
            << "Cannot open backup device '/d 5(x)/b.bak'. Operating "
               "system error 2(The system cannot find the file specified.)."
            << QList<int>{3201, 3013} << "має існувати сам файл";
        QTest::newRow("5120 access denied, where the window does not show its own message")
            << "Unable to open the physical file \"/d/x.mdf\". Operating system error 5: \"5(Access is "
               "denied.)\"."
            << QList<int>{5120, 1802} << "право читати й записувати файл";
        QTest::newRow("5123 folder missing")
            << "CREATE FILE encountered operating system error 3(The system cannot find the path specified.) "
               "while attempting to open or create the physical file '/d/x.mdf'."
            << QList<int>{5123, 1802} << "папка для нового файлу має існувати";
        QTest::newRow("a cause without a line: the summary's")
            << "The logical file name \"x\" is already in use. Choose a different name."
            << QList<int>{1828, 1802} << "перевірте шляхи так, як їх бачить сервер";
        QTest::newRow("3634 on Linux, folder denied (the window shows its own message for it)")
            << "The operating system returned the error '5(Access is denied.)' while attempting "
               "'RestoreContainer::ValidateTargetForCreation' on '/d/x.mdf'."
            << QList<int>{3634, 3156, 3119, 3013} << "право записувати в папку нового файлу";
        QTest::newRow("3634 on Linux, other code")
            << "The operating system returned the error '32(The process cannot access the file because it is "
               "being used by another process.)' while attempting "
               "'RestoreContainer::ValidateTargetForCreation' "
               "on '/d/x.mdf'."
            << QList<int>{3634, 3156, 3119, 3013} << "права його служби";
        QTest::newRow("an unknown number") << "Incorrect syntax near 'x'." << QList<int>{102} << "";
    }

    void linesFromNumbersAlone() {
        QFETCH(QString, text);
        QFETCH(QList<int>, numbers);
        QFETCH(QString, advice);
        QList<DbError::Record> records;
        for (int n : numbers)
            records.append({QStringLiteral("42000"), n});
        const QString line = erroradvice::line(DbError(text, records));
        if (advice.isEmpty())
            QVERIFY2(line.isEmpty(), qPrintable(line));
        else
            QVERIFY2(line.contains(advice), qPrintable(line));
    }
};

QTEST_MAIN(ErrorAdviceLines)
#include "tst_advice.moc"
