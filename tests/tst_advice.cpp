// The Ukrainian line after a server error: the stand-in sends each error the line is for through
// the real window and driver, and the dialog must show the server's text unchanged, then one line
// saying what to check.
#include "WindowHarness.h"

#include "ErrorAdvice.h"
#include "ServerError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

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

// What a row's user does up to the error, one member each, in the window against a stand-in that
// may not open the folder locked.
struct Scene {
    WindowHarness& h;
    QString locked;
    QString scratch = h.server.scratch();
    std::unique_ptr<AdoConnection> other{}; // keeps a database in use

    void refused() {
        const QString source = h.server.dataSource();
        h.server.stop();
        h.connectTo(source);
    }
    void unknownHost() { h.connectTo(QStringLiteral("no-such-host.invalid")); }
    void loginRefused() { h.connectTo(h.server.dataSource()); }

    // "busy" in use by another client, or "gone" listed and then dropped behind the window's back,
    // detached or dropped through the databases page.
    // Somebody comes in once the question is answered (whoever is inside before is named in it and
    // put out on Yes): the server's own refusal is what the user meets.
    void busy(bool drop) {
        h.sql(QStringLiteral("CREATE DATABASE busy"));
        QVERIFY(h.connect());
        modal::setResponder([this](const modal::Request& r) {
            h.script.seen << r;
            modal::Answer a;
            if (r.type == DialogType::Confirmation && !other) {
                other = useElsewhere(h, QStringLiteral("busy"));
                a.result = Reply::Yes;
            }
            return a;
        });
        QVERIFY(drop ? h.drop(QStringLiteral("busy")) : h.detach(QStringLiteral("busy")));
    }
    void gone(bool drop) {
        h.sql(QStringLiteral("CREATE DATABASE gone"));
        QVERIFY(h.connect());
        h.openPage(WindowHarness::DatabasesPage);
        h.sql(QStringLiteral("DROP DATABASE gone"));
        h.script.answer(Reply::Yes);
        QVERIFY(drop ? h.drop(QStringLiteral("gone")) : h.detach(QStringLiteral("gone")));
    }
    void detachInUse() { busy(false); }
    void dropInUse() { busy(true); }
    void detachGone() { gone(false); }
    // The delete refreshes the list afterwards; its box is the one before the refresh.
    void dropGone() { gone(true); }

    // B1 listed on the backup page, then backed up.
    void listB1() {
        h.sql(QStringLiteral("CREATE DATABASE B1"));
        QVERIFY(h.connect());
        h.openPage(WindowHarness::BackupPage);
    }
    void backupGone() {
        listB1();
        h.sql(QStringLiteral("DROP DATABASE B1"));
        h.backup(QStringLiteral("B1"), scratch + "/b1.bak");
    }
    void backupCut() {
        listB1();
        h.backup(QStringLiteral("B1"), scratch + "/b1.bak");
    }
    void backupDenied() {
        listB1();
        h.backup(QStringLiteral("B1"), locked + "/b1.bak");
    }

    void notABackup() {
        QVERIFY(writeFile(scratch + "/junk.bak", "not a backup\n"));
        QVERIFY(h.connect());
        h.readFileList(scratch + "/junk.bak");
    }
    // A backup a 2012 server made, its file list read here.
    void newerBackup() {
        DevServer newer(2012);
        newer.tsql(QStringLiteral("CREATE DATABASE N\nBACKUP DATABASE N TO DISK = N'%1/n.bak'").arg(scratch));
        QVERIFY(QFile::exists(scratch + "/n.bak"));
        QVERIFY(h.connect());
        h.readFileList(scratch + "/n.bak");
    }
    void fileListDenied() {
        QVERIFY(h.makeBackup(QStringLiteral("D1"), scratch + "/d1.bak"));
        QVERIFY(QFile::copy(scratch + "/d1.bak", locked + "/d1.bak"));
        QVERIFY(h.connect());
        h.readFileList(locked + "/d1.bak");
    }

    // Backups of W1 and W2, W1's file list read (its logical names), then bak restored as name
    // with its data file at mdf.
    void restore(const QString& name, const QString& bak, const QString& mdf, bool inUse = false) {
        QVERIFY(h.makeBackup(QStringLiteral("W1"), scratch + "/w1.bak"));
        QVERIFY(h.makeBackup(QStringLiteral("W2"), scratch + "/w2.bak"));
        QVERIFY(h.connect());
        h.readFileList(scratch + "/w1.bak");
        if (name != QLatin1String("W3"))
            h.script.answer(Reply::Yes); // replacing an existing database is asked
        if (inUse) {
            // Somebody comes in while the user reads the question: the window asked who was inside
            // before it, so only the server's refusal tells.
            modal::setResponder([this, name](const modal::Request& r) {
                h.script.seen << r;
                if (!other && r.type == DialogType::Confirmation)
                    other = useElsewhere(h, name);
                return h.script.queue.isEmpty() ? modal::Answer{} : h.script.queue.takeFirst();
            });
        }
        h.window->RestoreDatabase(name, bak, mdf, scratch + "/w3.ldf");
    }
    void wrongLogicalName() { restore(QStringLiteral("W2"), scratch + "/w2.bak", scratch + "/w3.mdf"); }
    void restoreInUse() { restore(QStringLiteral("W1"), scratch + "/w1.bak", scratch + "/w3.mdf", true); }
    void restoreMissingFolder() { restore(QStringLiteral("W3"), scratch + "/w1.bak", "/no/such/w3.mdf"); }
    void restoreMissingBackup() { restore(QStringLiteral("W3"), scratch + "/none.bak", scratch + "/w3.mdf"); }

    // A1 on the server, its files A1.mdf and A1_log.ldf in the scratch folder, attached as name
    // from mdf and ldf (which the server opens itself, as its service account).
    void makeA1() { QVERIFY(h.makeBackup(QStringLiteral("A1"), scratch + "/a1.bak")); }
    void attach(const QString& name, const QString& mdf, const QString& ldf) {
        QVERIFY(h.connect());
        h.window->AttachDatabase(name, mdf, ldf);
    }
    // A data file alone, copied while its database was online: no new log can be built.
    void attachUnclean() {
        makeA1();
        QDir().mkpath(scratch + "/copy");
        QVERIFY(QFile::copy(scratch + "/A1.mdf", scratch + "/copy/A1.mdf"));
        h.sql(QStringLiteral("DROP DATABASE A1"));
        attach(QStringLiteral("A1"), scratch + "/copy/A1.mdf", QString());
    }
    // A data file shipped alone, attached before: the log built then is still there.
    void attachLogInTheWay() {
        makeA1();
        h.sql(QStringLiteral("EXEC sp_detach_db 'A1', 'true'"));
        QVERIFY(QFile::remove(scratch + "/A1_log.ldf"));
        QVERIFY(writeFile(scratch + "/A1_log.LDF", "a log built by an earlier attach\n"));
        attach(QStringLiteral("A1"), scratch + "/A1.mdf", QString());
    }
    void attachDenied() {
        makeA1();
        h.sql(QStringLiteral("EXEC sp_detach_db 'A1', 'true'"));
        QVERIFY(QFile::copy(scratch + "/A1.mdf", locked + "/A1.mdf"));
        attach(QStringLiteral("A1"), locked + "/A1.mdf", scratch + "/A1_log.ldf");
    }
    void attachInUse() {
        makeA1();
        attach(QStringLiteral("A2"), scratch + "/A1.mdf", scratch + "/A1_log.ldf");
    }
    void attachJunk() {
        QVERIFY(writeFile(scratch + "/junk.mdf", "not a database\n"));
        QVERIFY(writeFile(scratch + "/junk.ldf", "not a database\n"));
        attach(QStringLiteral("J"), scratch + "/junk.mdf", scratch + "/junk.ldf");
    }
};
using Setup = void (Scene::*)();

// One row: what the user does against which personality (and stand-in option), the dialog
// expected, the start of the server's own text and a phrase the line must hold (what to check).
void row(int version, const char* name, Setup setup, modal::Kind kind, const char* serverText,
         const char* advice, const char* option = nullptr) {
    QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(version).arg(QLatin1String(name))))
        << version << (option ? QStringList{QString::fromLatin1(option)} : QStringList()) << setup
        << int(kind) << QString::fromUtf8(serverText) << QString::fromUtf8(advice);
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class ErrorAdviceLines : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void serverErrorGetsItsLine_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QStringList>("option");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("serverText");
        QTest::addColumn<QString>("advice");

        const auto dialog = modal::Kind::MessageDialog, simple = modal::Kind::SimpleMessage,
                   box = modal::Kind::SystemMessageBox, error = modal::Kind::ErrorBox;
        const char* unreachable = "вводьте ХОСТ або ХОСТ,ПОРТ";
        const char* inUse = "користуються інші підключення";
        const char* noDatabase = "Такої бази даних на сервері немає";
        for (int v : {2000, 2019}) {
            row(v, "nothing on the port", &Scene::refused, dialog,
                "Unable to connect: Adaptive Server is unavailable", unreachable);
            row(v, "unknown host", &Scene::unknownHost, dialog, "Unable to connect to data source",
                unreachable);
            row(v, "login failed", &Scene::loginRefused, dialog, "Login failed for user 'sa'",
                "автентифікацією SQL Server", "--refuse-logins");
            row(v, "detach in use", &Scene::detachInUse, error, "Cannot detach the database 'busy'", inUse);
            row(v, "delete in use", &Scene::dropInUse, box, "Cannot drop", inUse);
            row(v, "detach gone", &Scene::detachGone, error, "The database 'gone' does not exist",
                noDatabase);
            row(v, "delete gone", &Scene::dropGone, box, "Cannot drop the database 'gone'", noDatabase);
            row(v, "backup of a database gone", &Scene::backupGone, simple, "", noDatabase);
            row(v, "backup link cut", &Scene::backupCut, simple, "", "могла як завершитися, так і ні",
                "--drop-backup-halfway");
            row(v, "not a backup", &Scene::notABackup, error, "The media family on device",
                "не є резервною копією");
            row(v, "logical file not in the backup", &Scene::wrongLogicalName, dialog,
                "Logical file 'W1' is not part of database 'W2'", "логічними назвами");
            row(v, "restore over a database in use", &Scene::restoreInUse, dialog,
                "Exclusive access could not be obtained", inUse);
            row(v, "attach, not a database file", &Scene::attachJunk, dialog, "The header for file",
                "не є придатним файлом бази даних");
            row(v, "attach alone, the new log's name taken", &Scene::attachLogInTheWay, dialog,
                "Cannot create file", "_log.LDF");
            // The versions word these their own way (2019 as on Linux).
            const bool old = v == 2000;
            row(v, "attach, log file missing, not shut down cleanly", &Scene::attachUnclean, dialog,
                old ? "Primary log file" : "Could not open new database",
                "потрібен її оригінальний файл журналу");
            row(v, "attach, file of another database", &Scene::attachInUse, dialog,
                old ? "Device activation error" : "Unable to open the physical file",
                old ? "від імені своєї служби" : "ним уже користується");
            row(v, "file list, backup denied", &Scene::fileListDenied, error, "Cannot open backup device",
                old ? "або читати файл (відновлення)" : "для відновлення — читати файл");
            row(v, "backup, folder denied", &Scene::backupDenied, simple, "Cannot open backup device",
                old ? "записувати в папку (резервне"
                    : "для резервного копіювання їй потрібне право записувати в папку");
        }
        row(2000, "attach, file denied", &Scene::attachDenied, dialog, "Device activation error",
            "від імені своєї служби");
        // A newer server's backup is unreadable media before 2012: the line names that cause too.
        for (int v : {2005, 2008})
            row(v, "file list of a newer server's backup", &Scene::newerBackup, error,
                "The media family on device", "або її створив новіший SQL Server");
        row(2000, "file list of a newer server's backup", &Scene::newerBackup, error,
            "Too many backup devices specified", "копія новішої версії SQL Server");
    }

    // A folder or a backup the server does not find never reaches the statement: the user is told
    // which path and how far the server sees, on every version, and nothing is restored.
    void missingPathsAreToldBeforeTheRestoreIsSent_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<bool>("folder");
        for (int v : {2000, 2016, 2019}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 folder missing").arg(v))) << v << true;
            QTest::newRow(qPrintable(QStringLiteral("%1 backup missing").arg(v))) << v << false;
        }
    }
    void missingPathsAreToldBeforeTheRestoreIsSent() {
        QFETCH(int, version);
        QFETCH(bool, folder);
        WindowHarness h(version);
        Scene scene{h, QString()};
        (folder ? scene.restoreMissingFolder() : scene.restoreMissingBackup());
        const QString first = h.script.last().text.section(QLatin1Char('\n'), 0, 0);
        QCOMPARE(first, folder ? QStringLiteral("Сервер %1 не може створити файли в каталозі /no/such.").arg(h.server.dataSource())
                               : QStringLiteral("Сервер %1 не може прочитати файл %2/none.bak.")
                                     .arg(h.server.dataSource(), h.server.scratch()));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("RESTORE DATABASE")));
        QVERIFY(!h.databases().contains(QStringLiteral("W3")));
    }

    void serverErrorGetsItsLine() {
        QFETCH(int, version);
        QFETCH(QStringList, option);
        QFETCH(Setup, setup);
        QFETCH(int, kind);
        QFETCH(QString, serverText);
        QFETCH(QString, advice);

        const QTemporaryDir locked;
        WindowHarness h(version, QStringList{QStringLiteral("--deny"), locked.path()} + option);
        Scene scene{h, locked.path()};
        (scene.*setup)();
        if (QTest::currentTestFailed())
            return;

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
        h.connectTo(action == QLatin1String("instance") ? QStringLiteral("127.0.0.1\\NOPE")
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
        Scene{h, locked.path()}.attachDenied();
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
        // Versions: files and backups of a newer server, and of one too old for this one.
        QTest::newRow("948 newer files")
            << "The database 'X' cannot be opened because it is version 904. This server supports version 852 "
               "and earlier. A downgrade path is not supported."
            << QList<int>{948, 1813} << "приєднайте їх на сервері тієї ж або новішої версії";
        QTest::newRow("602 newer files on 2000")
            << "Could not find row in sysindexes for database ID 7, object ID 1, index ID 1. Run DBCC CHECKTABLE "
               "on sysindexes."
            << QList<int>{602} << "новішої версії SQL Server";
        QTest::newRow("950 files of 2000")
            << "Database 'X' cannot be upgraded because its non-release version (539) is not supported by this "
               "version of SQL Server."
            << QList<int>{950, 1813} << "спершу приєднайте їх на SQL Server 2005, 2008 або 2008 R2";
        QTest::newRow("3241 names both causes")
            << "The media family on device '/d/x.bak' is incorrectly formed. SQL Server cannot process this "
               "media family."
            << QList<int>{3241, 3013} << "або її створив новіший SQL Server";
        QTest::newRow("3205 on 2000") << "Too many backup devices specified for backup or restore; only 64 are allowed."
                                      << QList<int>{3205, 3013} << "копія новішої версії SQL Server";
        QTest::newRow("3169 a backup too old for this server")
            << "The database was backed up on a server running version 8.00.2039. That version is "
               "incompatible with this server, which is running version 11.00.2100."
            << QList<int>{3169, 3013} << "занадто старий для цього сервера";
        // Room on the disk is no matter of permissions.
        QTest::newRow("3257 how much is needed")
            << "There is insufficient free space on disk volume '/d' to create the database. The database "
               "requires 3221225472 additional free bytes, while only 1073741824 bytes are available."
            << QList<int>{3257, 3119, 3013} << "потрібно ще 3,0 ГБ, вільно лише 1,0 ГБ";
        QTest::newRow("112 a write that ran out of room")
            << "Write on \"/d/x.bak\" failed: 112(There is not enough space on the disk.)"
            << QList<int>{3202, 3013} << "бракує місця";
        QTest::newRow("112 is not about permissions")
            << "CREATE FILE encountered operating system error 112(There is not enough space on the disk.) "
               "while attempting to open or create the physical file '/d/x.mdf'."
            << QList<int>{5123, 1802} << "справа не в правах доступу";
        QTest::newRow("5133 a Windows path on a Linux server")
            << "Directory lookup for the file \"C:\\Data\\x.mdf\" failed with the operating system error "
               "2(The system cannot find the file specified.)."
            << QList<int>{5133, 3156, 3119, 3013} << "шлях Windows";
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

    // An error after which the server ended the connection says so, with its number, after the
    // line for the error itself; the same error on a link that stays up does not.
    void aConnectionEndedByTheServerIsToldAsSuch() {
        const QString text = QStringLiteral("The database 'X' cannot be opened because it is version 904. This "
                                            "server supports version 852 and earlier");
        DbError ended(text, {{QStringLiteral("42000"), 948}, {QStringLiteral("42000"), 1813}});
        ended.setEndedConnection();
        const QStringList lines = erroradvice::appended(ended).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], text);
        QVERIFY2(lines[1].contains(QStringLiteral("новішої версії")), qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(QStringLiteral("Сервер розірвав з'єднання після помилки 948")), qPrintable(lines[2]));
        DbError kept(text, {{QStringLiteral("42000"), 948}});
        QVERIFY(!erroradvice::appended(kept).contains(QStringLiteral("розірвав")));
    }

    // A server may also close the link without ending its reply: the driver then reports the
    // server's error and a broken link. The server said why, so that is told, not "the operation
    // may or may not have finished"; a link that broke without a word from the server still is.
    void aLinkBrokenAfterTheServersErrorIsEndedByTheServer() {
        const QString text = QStringLiteral("Database 'X' cannot be upgraded because its non-release version (539) "
                                            "is not supported by this version of SQL Server");
        const DbError ended = servererror::linkLost(
            text, {{QStringLiteral("42000"), 950, text}, {QStringLiteral("08S01"), 20017, QStringLiteral("EOF")}});
        QVERIFY(ended.endedConnection());
        const QString shown = erroradvice::appended(ended);
        QVERIFY2(shown.contains(QStringLiteral("Сервер розірвав з'єднання після помилки 950")), qPrintable(shown));
        QVERIFY2(!shown.contains(QStringLiteral("могла як завершитися")), qPrintable(shown));
        const DbError cut = servererror::linkLost(
            QStringLiteral("Communication link failure"),
            {{QStringLiteral("01000"), 3211, QStringLiteral("10 percent processed.")},
             {QStringLiteral("08S01"), 20017, QStringLiteral("EOF")}});
        QVERIFY(!cut.endedConnection());
        QVERIFY(erroradvice::appended(cut).contains(QStringLiteral("могла як завершитися")));
    }
};

QTEST_MAIN(ErrorAdviceLines)
#include "tst_advice.moc"
