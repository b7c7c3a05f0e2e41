// The building blocks for a server that runs as another account of this computer: who it is (the
// listening socket's owner), what it may do with a path (checked against the kernel itself by
// running as that account), the shared folder, a read grant that is taken back, and the copies to
// and from the shared folder. The account is `nobody`, which exists everywhere; tests run as root.
#include "AccountAccess.h"
#include "AttachInPlace.h"
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "DbError.h"
#include "DevServer.h"
#include "FileReadGrant.h"
#include "Journal.h"
#include "LeftForServer.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "ProgressDialog.h"
#include "ServerAccount.h"
#include "ServerFileDialog.h"
#include "ServerFiles.h"
#include "SharedCopy.h"
#include "SharedFolder.h"
#include "SqlQuote.h"
#include "UserAclEntry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/socket.h>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const uid_t kNobody = 65534;

// Runs a command as nobody (its own group, no others): the kernel's word on what it may do.
bool asNobody(const QStringList& command) {
    QProcess p;
    p.start(QStringLiteral("setpriv"),
            QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                        QStringLiteral("--clear-groups")} +
                command);
    p.waitForFinished();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
bool nobodyReads(const QString& file) {
    return asNobody({QStringLiteral("cat"), file});
}
bool nobodyWritesIn(const QString& folder) {
    const QString probe = folder + QStringLiteral("/probe");
    const bool ok = asNobody({QStringLiteral("touch"), probe});
    QFile::remove(probe);
    return ok;
}

bool makeFolder(const QString& path, mode_t mode) {
    return QDir().mkpath(path) && chmod(QFile::encodeName(path).constData(), mode) == 0;
}
bool makeFile(const QString& path, const QByteArray& bytes, mode_t mode) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && (f.close(), true) &&
           chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// Mode and ACL of each path: what "nothing else changed" compares.
QStringList permissions(const QStringList& paths) {
    QStringList out;
    for (const QString& p : paths) {
        struct stat st {};
        stat(QFile::encodeName(p).constData(), &st);
        out << p + QStringLiteral(" %1 ").arg(st.st_mode, 0, 8) + aclText(p);
    }
    return out;
}

// A table line of /proc/net/tcp: local address hex, state hex, uid.
QByteArray tableLine(const QByteArray& local, const QByteArray& state, int uid) {
    return "   0: " + local + " 00000000:0000 " + state + " 00000000:00000000 00:00000000 00000000 " +
           QByteArray::number(uid) + "        0 12345 1 0000000000000000 100 0 0 10 0\n";
}

// The stand-in as another account (or in a root of its own), a connection to it and a statement.
struct StandIn {
    explicit StandIn(const QStringList& arguments) : dev(2019, arguments) {
        c.setConnectionString(dev.connectionString());
    }
    DevServer dev;
    AdoConnection c;
    AdoQuery q{c};
    // What the caller of prepareSharedFolder supplies: the server's own word on the folder.
    bool seesFolder(const QString& folder) {
        q.close();
        q.setText(QStringLiteral("EXEC master.dbo.xp_fileexist ") + sqlquote::literal(folder));
        q.openRowset();
        const bool folderThere = q.field(QStringLiteral("File is a Directory")).toInt() == 1;
        q.close();
        return folderThere;
    }
    // The statement's error number, 0 when it succeeded.
    int run(const QString& statement) {
        try {
            q.close();
            q.setText(statement);
            q.execute();
            return 0;
        } catch (const DbError& e) {
            return e.records().isEmpty() ? -1 : e.records().first().native;
        }
    }
};

} // namespace

class TestServerAsAnother : public QObject {
    Q_OBJECT
    QTemporaryDir m_state; // the journal of what is left for the server, never the user's own
private slots:
    void initTestCase() { ops::setJournalForTests(m_state.path()); }
    void accountFromTheKernelsSocketTable_data();
    void accountFromTheKernelsSocketTable();
    void accountOfARealListeningSocket();
    void accessAsTheKernelDecides();
    void readGrantIsTakenBackExactly();
    void readGrantNeverWidensOthers();
    void whatACrashLeftIsTakenBackAtTheNextStart();
    void filesOpenedForAnAttachLastUntilItIsDetached();
    void sharedFolderFallsBackAndLeavesNothing();
    void sharedFolderPassesThroughTheUsersFolderOnly();
    void copiesGoAndCancelLeavesNothing();
    void backupMovesToTheChosenPath();
    void closingTheWindowDuringACopyAsksAndWaits();
    void theStandInAsNobodyUsesTheSharedFolderAndTheGrant();
    void aServerInItsOwnRootSeesNoneOfOurPlaces();
    void whetherTheServerSharesOurFiles_data();
    void whetherTheServerSharesOurFiles();
};

void TestServerAsAnother::accountFromTheKernelsSocketTable_data() {
    QTest::addColumn<QByteArray>("tcp");
    QTest::addColumn<QByteArray>("tcp6");
    QTest::addColumn<QString>("host");
    QTest::addColumn<qint64>("uid"); // of listenerUid on the host's address
    QTest::addColumn<bool>("known");
    // 127.0.0.1:1433 as the kernel writes it on a little-endian machine; 0A = LISTEN, 01 = ESTABLISHED.
    const QByteArray loop = "0100007F:0599", any = "00000000:0599";
    const QByteArray any6 = "00000000000000000000000000000000:0599";
    QTest::newRow("on loopback") << tableLine(loop, "0A", 999) << QByteArray() << "127.0.0.1" << qint64(999)
                                 << true;
    QTest::newRow("on every address")
        << tableLine(any, "0A", 998) << QByteArray() << "localhost" << qint64(998) << true;
    QTest::newRow("IPv6 for every address")
        << QByteArray() << tableLine(any6, "0A", 997) << "127.0.0.1" << qint64(997) << true;
    QTest::newRow("a connection, not the listener")
        << tableLine(loop, "01", 996) << QByteArray() << "127.0.0.1" << qint64(-1) << false;
    QTest::newRow("a container's forwarder (root)")
        << tableLine(any, "0A", 0) << QByteArray() << "127.0.0.1" << qint64(0) << false;
    QTest::newRow("another port") << tableLine("0100007F:0598", "0A", 995) << QByteArray() << "127.0.0.1"
                                  << qint64(-1) << false;
    // Documentation's address block: never this computer's, whatever listens here on every address.
    QTest::newRow("another machine") << tableLine(any, "0A", 994) << QByteArray() << "192.0.2.7"
                                     << qint64(994) << false;
}

void TestServerAsAnother::accountFromTheKernelsSocketTable() {
    QFETCH(QByteArray, tcp);
    QFETCH(QByteArray, tcp6);
    QFETCH(QString, host);
    QFETCH(qint64, uid);
    QFETCH(bool, known);
    QTemporaryDir proc;
    const QByteArray heading =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
    QVERIFY(makeFile(proc.filePath(QStringLiteral("tcp")), heading + tcp, 0644));
    QVERIFY(makeFile(proc.filePath(QStringLiteral("tcp6")), heading + tcp6, 0644));
    const QString address = host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : host;
    QCOMPARE(listenerUid(address, 1433, proc.path()), uid);
    const ServerAccount account = serverAccount(host, 1433, proc.path());
    QCOMPARE(account.known, known);
    if (known)
        QCOMPARE(qint64(account.uid), uid);
}

void TestServerAsAnother::accountOfARealListeningSocket() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    QCOMPARE(listen(fd, 1), 0);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    const quint16 port = ntohs(a.sin_port);
    // Made by root: said as unknown, as a container's forwarder would be.
    QVERIFY(!serverAccount(QStringLiteral("127.0.0.1"), port).known);
    // A server that binds and then becomes its account hands the socket over with it.
    QCOMPARE(fchown(fd, kNobody, kNobody), 0);
    const ServerAccount account = serverAccount(QStringLiteral("localhost"), port);
    close(fd);
    QVERIFY(account.known);
    QCOMPARE(account.uid, kNobody);
    QCOMPARE(account.name, QStringLiteral("nobody"));
    QVERIFY(!serverAccount(QStringLiteral("127.0.0.1"), port).known); // closed: nothing listens
}

void TestServerAsAnother::accessAsTheKernelDecides() {
    QTemporaryDir root;
    const QString home = root.filePath(QStringLiteral("home")), open = home + QStringLiteral("/open");
    const QString file = open + QStringLiteral("/VTR.bak");
    QVERIFY(makeFolder(open, 0755) && makeFolder(home, 0700) && makeFile(file, "backup", 0644));
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    const Account nobody = accountOf(kNobody);
    QVERIFY(nobody.groups.contains(gid_t(65534)));

    // A home closed to others: the first folder on the way that stops the account is named.
    QCOMPARE(closedOnTheWay(file, nobody), home);
    QCOMPARE(allows(file, nobody, Access::Read), true); // the file itself would let it read
    QCOMPARE(nobodyReads(file), false);

    // Passing through by an entry of its own: it may pass, not list; the kernel agrees.
    QVERIFY(addUserRights(home, kNobody, Access::Traverse, nullptr));
    QCOMPARE(closedOnTheWay(file, nobody), QString());
    QCOMPARE(allows(home, nobody, Access::Read), false);
    QCOMPARE(nobodyReads(file), true);
    QCOMPARE(asNobody({QStringLiteral("ls"), home}), false);

    // A group entry counts for the account's groups, within the mask.
    QCOMPARE(allows(open, nobody, Access::Write), false);
    QCOMPARE(QProcess::execute(QStringLiteral("setfacl"),
                               {QStringLiteral("-m"), QStringLiteral("g:nogroup:rwx,m::rx"), open}),
             0);
    QCOMPARE(allows(open, nobody, Access::Write), false);
    QCOMPARE(nobodyWritesIn(open), false);
    QCOMPARE(
        QProcess::execute(QStringLiteral("setfacl"), {QStringLiteral("-m"), QStringLiteral("m::rwx"), open}),
        0);
    QCOMPARE(allows(open, nobody, Access::Write | Access::Traverse), true);
    QCOMPARE(nobodyWritesIn(open), true);
    // Its own entry comes before its groups'.
    QCOMPARE(QProcess::execute(QStringLiteral("setfacl"),
                               {QStringLiteral("-m"), QStringLiteral("u:nobody:r-x"), open}),
             0);
    QCOMPARE(allows(open, nobody, Access::Write), false);
    QCOMPARE(nobodyWritesIn(open), false);
}

void TestServerAsAnother::readGrantIsTakenBackExactly() {
    QTemporaryDir root;
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    const QString home = root.filePath(QStringLiteral("home")),
                  downloads = home + QStringLiteral("/Завантаження");
    const QString file = downloads + QStringLiteral("/VTR.bak"),
                  other = downloads + QStringLiteral("/інше.bak");
    QVERIFY(makeFolder(downloads, 0750) && makeFolder(home, 0700));
    QVERIFY(makeFile(file, "backup", 0600) && makeFile(other, "other", 0600));
    // An entry of its own already there keeps what it had.
    QCOMPARE(QProcess::execute(QStringLiteral("setfacl"),
                               {QStringLiteral("-m"), QStringLiteral("u:nobody:w"), downloads}),
             0);
    const QStringList paths{root.path(), home, downloads, file, other};
    const QStringList before = permissions(paths);

    for (const bool fails : {false, true}) {
        try {
            FileReadGrant grant(file, kNobody, QStringLiteral("nobody"));
            QVERIFY2(grant.ok(), qPrintable(grant.problem()));
            QCOMPARE(grant.grantedPaths(), (QStringList{home, downloads, file}));
            QVERIFY(nobodyReads(file));
            QVERIFY(!nobodyReads(other));
            QVERIFY(!asNobody({QStringLiteral("ls"), downloads}));
            if (fails)
                throw FileTransferFailed(QStringLiteral("the operation failed"));
        } catch (const FileTransferFailed&) {
        }
        QCOMPARE(permissions(paths), before);
        QVERIFY(!nobodyReads(file));
    }

    // A folder on the way that belongs to someone else is not touched: nothing is granted.
    QVERIFY(chown(QFile::encodeName(downloads).constData(), kNobody, kNobody) == 0);
    chmod(QFile::encodeName(downloads).constData(), 0700);
    const QStringList closed = permissions(paths);
    {
        FileReadGrant grant(file, 1, QStringLiteral("daemon"));
        QVERIFY(!grant.ok());
        QVERIFY2(grant.problem().contains(downloads), qPrintable(grant.problem()));
        QCOMPARE(permissions(paths), closed);
    }
}

void TestServerAsAnother::readGrantNeverWidensOthers() {
    QTemporaryDir root;
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    const QString file = root.filePath(QStringLiteral("VTR.mdf"));
    QVERIFY(makeFile(file, "data", 0600));
    // daemon's rw is held back by the mask; raising the mask for nobody's r would let daemon read.
    QCOMPARE(QProcess::execute(QStringLiteral("setfacl"),
                               {QStringLiteral("-m"), QStringLiteral("u:daemon:rw,m::-"), file}),
             0);
    const QStringList before = permissions({file});
    FileReadGrant grant(file, kNobody, QStringLiteral("nobody"));
    QVERIFY(!grant.ok());
    QVERIFY(grant.problem().contains(file));
    QCOMPARE(permissions({file}), before);
    QVERIFY(!nobodyReads(file));
}

// A run killed while it holds a read grant leaves the home open to the server's account; the journal
// written before the grant lets the next start take exactly that back. A copy the user kept (in the
// server's data folder), and the ACL entry it carries, stay and are listed; an empty shared folder
// of the ended run goes.
void TestServerAsAnother::whatACrashLeftIsTakenBackAtTheNextStart() {
    QTemporaryDir root;
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    const QString home = root.filePath(QStringLiteral("home")), file = home + QStringLiteral("/VTR.mdf");
    const QString shared = root.filePath(QStringLiteral("zelvaro-ivan")), kept = root.filePath(QStringLiteral("VTR.mdf"));
    QVERIFY(makeFolder(home, 0700) && makeFile(file, "data", 0600));
    const QStringList before = permissions({root.path(), home, file});

    int ready[2];
    QVERIFY(pipe(ready) == 0);
    const pid_t run = fork();
    if (run == 0) { // the run that is killed: a grant, a shared folder and a kept copy in it
        FileReadGrant grant(file, kNobody, QStringLiteral("nobody"));
        const SharedFolder folder = prepareSharedFolder(kNobody, QStringLiteral("nobody"),
                                                        [](const QString&) { return true; }, {shared});
        SharedCopy copy(kept);
        makeFile(kept, "copy", 0600);
        addUserRights(kept, kNobody, Access::Read | Access::Write, nullptr);
        copy.keep();
        const char state = grant.ok() && folder.ok() ? '1' : '0';
        (void)!write(ready[1], &state, 1);
        pause();
        _exit(0);
    }
    char state = 0;
    QVERIFY(read(ready[0], &state, 1) == 1);
    QCOMPARE(state, '1');
    QVERIFY(aclText(home).contains(QStringLiteral("user:65534:--x")));
    kill(run, SIGKILL);
    waitpid(run, nullptr, 0);
    QVERIFY(nobodyReads(file)); // what the killed run left

    // The same thing written twice is one entry.
    ops::JournalEntry again;
    again.kind = ops::JournalEntry::Kind::AclGrant;
    again.path = home;
    again.account = QStringLiteral("nobody");
    const qsizetype entries = ops::journal().entries().size();
    QVERIFY(ops::journal().write(again));
    QCOMPARE(ops::journal().entries().size(), entries);

    leftforserver::takeBackWhatWasLeft(false);
    QCOMPARE(permissions({root.path(), home, file}), before);
    QVERIFY(!nobodyReads(file));
    QVERIFY(QFile::exists(kept) && nobodyReads(kept));
    const QString listed = leftforserver::whatIsOpenText();
    QVERIFY(!QFileInfo::exists(shared));
    QVERIFY2(listed.contains(QStringLiteral("Забрати: rm -- ") + kept) &&
                 listed.contains(QStringLiteral("Забрати: setfacl -x u:nobody ") + kept) &&
                 !listed.contains(QStringLiteral("u:nobody ") + home + QLatin1Char('\n')),
             qPrintable(listed));
    // Once the copy is gone its entries go too.
    QVERIFY(QFile::remove(kept));
    leftforserver::takeBackWhatWasLeft(false);
    for (const ops::JournalEntry& e : ops::journal().entries())
        QVERIFY2(e.pid != run, qPrintable(e.describe()));
}

// Files an attach uses where they lie stay open through exit and the next start, are listed for
// their database, and go when it is detached; the way to another attached database's files stays.
void TestServerAsAnother::filesOpenedForAnAttachLastUntilItIsDetached() {
    QTemporaryDir root;
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    const QString home = root.filePath(QStringLiteral("home")), db = home + QStringLiteral("/db");
    const QString a = db + QStringLiteral("/A.mdf"), aLog = db + QStringLiteral("/A_log.ldf"),
                  b = db + QStringLiteral("/B.mdf");
    QVERIFY(makeFolder(db, 0700) && makeFolder(home, 0700));
    QVERIFY(makeFile(a, "a", 0600) && makeFile(aLog, "l", 0600) && makeFile(b, "b", 0600));
    const QStringList paths{root.path(), home, db, a, aLog, b};
    const QStringList before = permissions(paths);

    const InPlaceOpening forA = whatInPlaceOpens({a, aLog}, kNobody);
    QCOMPARE(forA.folders, (QStringList{home, db}));
    QCOMPARE(forA.files, (QStringList{a, aLog}));
    QVERIFY(inPlaceQuestion(forA, QStringLiteral("nobody"), QStringLiteral("A"))
                .contains(QStringLiteral("• %1: --x (лише прохід, без перегляду)\n• %2: --x").arg(home, db)));
    QString why;
    QVERIFY2(grantInPlace(forA, kNobody, QStringLiteral("srv"), QStringLiteral("A"), &why), qPrintable(why));
    QVERIFY2(grantInPlace(whatInPlaceOpens({b}, kNobody), kNobody, QStringLiteral("srv"), QStringLiteral("B"), &why),
             qPrintable(why));
    QVERIFY(asNobody({QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("test -r '%1' -a -w '%1'").arg(a)}));
    QVERIFY(!asNobody({QStringLiteral("ls"), home}));

    leftforserver::takeBackWhatWasLeft(true); // exit and start leave what was chosen to last
    QVERIFY(nobodyReads(a) && nobodyReads(b));
    QVERIFY(leftforserver::whatIsOpenText().contains(
        QStringLiteral("дозвіл для nobody на %1 (rw-), доки база даних A приєднана до srv\n"
                       "   Забрати: setfacl -x u:nobody %1").arg(a)));

    takeBackForDatabase(QStringLiteral("srv"), QStringLiteral("A"));
    QVERIFY(!nobodyReads(a) && nobodyReads(b));
    takeBackForDatabase(QStringLiteral("srv"), QStringLiteral("B"));
    QCOMPARE(permissions(paths), before);
}

void TestServerAsAnother::sharedFolderFallsBackAndLeavesNothing() {
    QTemporaryDir root;
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    const QString taken = root.filePath(QStringLiteral("taken")),
                  unseen = root.filePath(QStringLiteral("unseen"));
    const QString good = root.filePath(QStringLiteral("good"));
    // Somebody else's folder under the name: left alone, never used.
    QVERIFY(makeFolder(taken, 0777) && chown(QFile::encodeName(taken).constData(), kNobody, kNobody) == 0);
    const QStringList takenBefore = permissions({taken});
    QStringList asked;
    const auto reaches = [&](const QString& folder) {
        asked << folder;
        return folder != unseen && nobodyWritesIn(folder);
    };
    const SharedFolder shared =
        prepareSharedFolder(kNobody, QStringLiteral("nobody"), reaches, {taken, unseen, good});
    QCOMPARE(shared.folder, good);
    QCOMPARE(asked, (QStringList{unseen, good}));
    QCOMPARE(shared.problems.size(), 2);
    // Said with whose it is.
    QVERIFY2(shared.problems[0].contains(taken) && shared.problems[0].contains(QStringLiteral("«nobody»")),
             qPrintable(shared.problems[0]));
    QVERIFY(!QFileInfo::exists(unseen)); // made for the try, and removed again
    QCOMPARE(permissions({taken}), takenBefore);
    QCOMPARE(shared.sudoCommand, QString());

    // The server writes a file as its creator's mode allows; the user can read it and remove it.
    const QString written = good + QStringLiteral("/written.bak");
    QVERIFY(asNobody({QStringLiteral("sh"), QStringLiteral("-c"),
                      QStringLiteral("umask 077; echo data > '%1'").arg(written)}));
    QVERIFY2(aclText(written).contains(QStringLiteral("user:0:")), qPrintable(aclText(written)));
    QVERIFY(aclText(good).contains(QStringLiteral("default:user:65534:rwx")));
    struct stat st {};
    stat(QFile::encodeName(good).constData(), &st);
    QCOMPARE(st.st_mode & 0777, mode_t(0770)); // the mask shows as the group bits: no "other" bits
    // The entries themselves, not the mask the mode shows: nothing for the group and the others.
    for (acl_type_t type : {ACL_TYPE_ACCESS, ACL_TYPE_DEFAULT}) {
        acl_t acl = acl_get_file(QFile::encodeName(good).constData(), type);
        QVERIFY(acl);
        acl_entry_t entry = nullptr;
        int checked = 0;
        for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
            acl_tag_t tag = ACL_UNDEFINED_TAG;
            acl_get_tag_type(entry, &tag);
            if (tag == ACL_GROUP_OBJ || tag == ACL_OTHER)
                checked += permsOf(entry) == 0 ? 1 : 100;
        }
        acl_free(acl);
        QCOMPARE(checked, 2);
    }
    QVERIFY(QFile::remove(written));

    // No place works: the one command for an administrator, and nothing made.
    const SharedFolder none = prepareSharedFolder(kNobody, QStringLiteral("nobody"),
                                                  [](const QString&) { return false; }, {unseen});
    QVERIFY(!none.ok());
    QVERIFY(!QFileInfo::exists(unseen));
    QVERIFY(none.sudoCommand.startsWith(QStringLiteral("sudo sh -c '")));
    QVERIFY(none.sudoCommand.contains(
        QStringLiteral("setfacl -m u:nobody:rwx,d:u:nobody:rwx,d:u:root:rwx /srv/zelvaro-root")));

    // No place opens the home; files that must last go nowhere the system's cleaner empties.
    for (const QString& place : sharedFolderPlaces() + lastingFolderPlaces())
        QVERIFY2(!place.startsWith(QDir::homePath()), qPrintable(place));
    for (const QString& place : lastingFolderPlaces())
        QVERIFY2(!place.startsWith(QStringLiteral("/tmp/")) && !place.startsWith(QStringLiteral("/var/tmp/")),
                 qPrintable(place));
}

void TestServerAsAnother::sharedFolderPassesThroughTheUsersFolderOnly() {
    QTemporaryDir root;
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    const QString home = root.filePath(QStringLiteral("home")),
                  place = home + QStringLiteral("/zelvaro-server");
    QVERIFY(makeFolder(home, 0700) && makeFile(home + QStringLiteral("/private.txt"), "mine", 0644));
    const SharedFolder shared =
        prepareSharedFolder(kNobody, QStringLiteral("nobody"), nobodyWritesIn, {place});
    QVERIFY2(shared.ok(), qPrintable(shared.problems.join(QLatin1Char('\n'))));
    QCOMPARE(shared.passThrough.size(), 1);
    QCOMPARE(shared.passThrough[0].path, home);
    QVERIFY(aclText(home).contains(QStringLiteral("user:65534:--x")));
    // Passing through only: the home cannot be listed. (A file in it whose name is known and whose
    // mode lets everyone read stays readable by name: why a place outside the home comes first.)
    QVERIFY(!asNobody({QStringLiteral("ls"), home}));
    QVERIFY(nobodyWritesIn(place));
}

void TestServerAsAnother::copiesGoAndCancelLeavesNothing() {
    QTemporaryDir from, shared;
    const QString source = from.filePath(QStringLiteral("VTR.bak"));
    QByteArray bytes(3 * 1024 * 1024 + 17, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    QVERIFY(makeFile(source, bytes, 0600));
    QVERIFY(makeFile(shared.filePath(QStringLiteral("VTR.bak")), "somebody's", 0600));
    QString copied;
    {
        std::unique_ptr<SharedCopy> copy = copyIntoShared(nullptr, source, shared.path());
        copied = copy->path();
        QCOMPARE(copied, shared.filePath(QStringLiteral("VTR (2).bak")));
        QFile f(copied);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), bytes);
    }
    QVERIFY(!QFileInfo::exists(copied));
    QCOMPARE(QFile(shared.filePath(QStringLiteral("VTR.bak"))).size(), qint64(10));

    // Cancel pressed on the progress dialog: told so, and no part of the copy stays.
    int dialogs = 0;
    modal::setProgressWatcher([&](ProgressDialog& dialog) {
        ++dialogs;
        dialog.cancelButton()->click();
    });
    bool cancelled = false;
    try {
        copyIntoShared(nullptr, source, shared.path());
    } catch (const OperationCancelled& e) {
        cancelled = true;
        QVERIFY(e.message.contains(QStringLiteral("скасовано")));
    }
    modal::setProgressWatcher(nullptr);
    QVERIFY(cancelled);
    QCOMPARE(dialogs, 1);
    QCOMPARE(QDir(shared.path()).entryList(QDir::Files), QStringList{QStringLiteral("VTR.bak")});

    bool failed = false;
    try {
        copyIntoShared(nullptr, from.filePath(QStringLiteral("немає.bak")), shared.path());
    } catch (const FileTransferFailed& e) {
        failed = QString::fromStdString(e.what()).contains(QStringLiteral("немає.bak"));
    }
    QVERIFY(failed);
}

void TestServerAsAnother::backupMovesToTheChosenPath() {
    // The same file system (a rename) and another (/dev/shm is memory): the chosen file is replaced
    // whole, its neighbours stay, and the written backup is gone only once the chosen path has it.
    QTemporaryDir shared, chosenHere;
    QTemporaryDir chosenElsewhere(QStringLiteral("/dev/shm/zelvaro-move-XXXXXX"));
    QVERIFY(chosenElsewhere.isValid());
    for (const QString& folder : {chosenHere.path(), chosenElsewhere.path()}) {
        const QString written = shared.filePath(QStringLiteral("VTR.bak"));
        const QString target = folder + QStringLiteral("/Копія VTR.bak"),
                      neighbour = folder + QStringLiteral("/VTR.bak");
        QVERIFY(makeFile(written, "new backup", 0600));
        QVERIFY(makeFile(target, "old", 0600) && makeFile(neighbour, "neighbour", 0600));
        moveToChosenPath(nullptr, written, target);
        QVERIFY(!QFileInfo::exists(written));
        QFile t(target);
        QVERIFY(t.open(QIODevice::ReadOnly));
        QCOMPARE(t.readAll(), QByteArray("new backup"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("VTR.bak"), QStringLiteral("Копія VTR.bak")}));
    }
    // A chosen folder that is not there: the backup stays where the server wrote it, and the
    // message says where.
    const QString written = shared.filePath(QStringLiteral("VTR.bak"));
    QVERIFY(makeFile(written, "new backup", 0600));
    bool failed = false;
    try {
        moveToChosenPath(nullptr, written, chosenHere.filePath(QStringLiteral("немає/VTR.bak")));
    } catch (const FileTransferFailed& e) {
        failed = QString::fromStdString(e.what()).contains(written);
    }
    QVERIFY(failed);
    QVERIFY(QFileInfo::exists(written));
}

void TestServerAsAnother::closingTheWindowDuringACopyAsksAndWaits() {
    QTemporaryDir from, shared;
    const QString source = from.filePath(QStringLiteral("VTR.mdf"));
    QVERIFY(makeFile(source, QByteArray(1 << 20, 'x'), 0600));
    QWidget window;
    window.show();
    int asked = 0;
    modal::setResponder([&](const modal::Request&) {
        ++asked;
        modal::Answer yes;
        yes.result = 6;
        return yes;
    });
    bool runningMeanwhile = false;
    modal::setProgressWatcher([&](ProgressDialog&) {
        runningMeanwhile = longop::isRunning();
        longop::askToCancelForClose(&window); // the window system's close request, answered Yes
    });
    bool cancelled = false;
    try {
        copyIntoShared(&window, source, shared.path());
    } catch (const OperationCancelled&) {
        cancelled = true;
    }
    modal::setProgressWatcher(nullptr);
    modal::setResponder(nullptr);
    QVERIFY(runningMeanwhile);
    QCOMPARE(asked, 1);
    QVERIFY(cancelled);
    QVERIFY(!longop::isRunning());
    QVERIFY(QDir(shared.path()).isEmpty());
    longop::closeIfAsked(); // what the handler guard does when the handler ends
    QTRY_VERIFY(!window.isVisible());
}

void TestServerAsAnother::theStandInAsNobodyUsesTheSharedFolderAndTheGrant() {
    // The user's folders are closed to others, as Debian makes a home.
    QTemporaryDir root;
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    const QString home = root.filePath(QStringLiteral("home")), backups = home + QStringLiteral("/Копії");
    QVERIFY(makeFolder(backups, 0700) && makeFolder(home, 0700));
    StandIn server({QStringLiteral("--run-as"), QStringLiteral("nobody")});
    QCOMPARE(server.run(QStringLiteral("CREATE DATABASE [Облік]")), 0);
    const QString direct = backups + QStringLiteral("/Облік.bak");
    QCOMPARE(server.run(QStringLiteral("BACKUP DATABASE [Облік] TO DISK = ") + sqlquote::literal(direct)),
             3201);

    const QStringList before = permissions({root.path(), home, backups});
    const SharedFolder shared = prepareSharedFolder(kNobody, QStringLiteral("nobody"),
                                                    [&](const QString& f) { return server.seesFolder(f); },
                                                    {home + QStringLiteral("/zelvaro-server")});
    QVERIFY2(shared.ok(), qPrintable(shared.problems.join(QLatin1Char('\n'))));
    const QString written = freshPath(shared.folder, QStringLiteral("Облік.bak"));
    QCOMPARE(server.run(QStringLiteral("BACKUP DATABASE [Облік] TO DISK = ") + sqlquote::literal(written)),
             0);
    moveToChosenPath(nullptr, written, direct);
    QVERIFY(QFileInfo(direct).size() > 0);
    // The result is the user's own file: no entry of the shared folder's comes with it.
    struct stat st {};
    QCOMPARE(stat(QFile::encodeName(direct).constData(), &st), 0);
    QCOMPARE(st.st_uid, getuid());
    QVERIFY2(!aclText(direct).contains(QStringLiteral("65534")), qPrintable(aclText(direct)));
    QCOMPARE(QDir(shared.folder).entryList(QDir::Files), QStringList());

    // The backup read where it lies: refused, allowed while the grant lives, refused again after.
    for (AclChange change : shared.passThrough)
        QVERIFY(takeBack(change, nullptr));
    QVERIFY(QDir(shared.folder).removeRecursively());
    QCOMPARE(permissions({root.path(), home, backups}), before);
    const QString list = QStringLiteral("RESTORE FILELISTONLY FROM DISK = ") + sqlquote::literal(direct);
    QCOMPARE(server.run(list), 3201);
    {
        FileReadGrant grant(direct, kNobody, QStringLiteral("nobody"));
        QVERIFY2(grant.ok(), qPrintable(grant.problem()));
        QCOMPARE(server.run(list), 0);
    }
    QCOMPARE(server.run(list), 3201);
    QCOMPARE(permissions({root.path(), home, backups}), before);
}

void TestServerAsAnother::aServerInItsOwnRootSeesNoneOfOurPlaces() {
    // The server's file system is the folder that holds its data folder (the harness gives the
    // data folder); ours lies outside it.
    StandIn server({});
    const QString serverRoot = QFileInfo(server.dev.dataDir()).path();
    server.dev.stop();
    server.dev.setExtraArguments({QStringLiteral("--root"), serverRoot});
    QVERIFY(server.dev.start());
    QTemporaryDir ours(QStringLiteral("/var/tmp/zelvaro-ours-XXXXXX"));
    const QString place = ours.filePath(QStringLiteral("zelvaro-server"));
    const SharedFolder shared = prepareSharedFolder(
        kNobody, QStringLiteral("nobody"), [&](const QString& f) { return server.seesFolder(f); }, {place});
    QVERIFY(!shared.ok());
    QVERIFY(!QFileInfo::exists(place));
    QVERIFY(!shared.sudoCommand.isEmpty());

    // Its own folders: where its files are by default, listed as it names them.
    serverfiles::Folders folders;
    try {
        folders = serverfiles::defaultFolders(server.q);
    } catch (const DbError& e) {
        QFAIL(qPrintable(e.message()));
    }
    const QString dataFolder =
        QLatin1Char('/') + QFileInfo(server.dev.dataDir()).fileName() + QLatin1Char('/');
    QCOMPARE(folders.data, dataFolder);
    QVERIFY(!folders.backup.isEmpty());
    QCOMPARE(server.run(QStringLiteral("CREATE DATABASE [Склад]")), 0);
    QStringList names;
    for (const serverfiles::Entry& e : serverfiles::list(server.q, folders.data))
        if (!e.folder)
            names << e.name;
    QVERIFY2(names.contains(QStringLiteral("Склад.mdf")), qPrintable(names.join(QLatin1Char(','))));
    QVERIFY(serverfiles::list(server.q, ours.path()).isEmpty()); // our path means nothing to it
}

void TestServerAsAnother::whetherTheServerSharesOurFiles_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("shares");
    QTest::newRow("this computer's") << QStringList() << true;
    QTest::newRow("a container") << DevServer::ownRoot() << false;
    // Asked about "/", a Windows server says no: it is asked about its own drive.
    QTest::newRow("Windows") << DevServer::windowsDrive() << false;
}

void TestServerAsAnother::whetherTheServerSharesOurFiles() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, shares);
    StandIn server(arguments);
    QTemporaryFile probe;
    QVERIFY(probe.open());
    serverfiles::ServerFiles files(server.q, 15);
    try {
        QCOMPARE(files.sharesFilesWith(probe.fileName()) == serverfiles::ServerFiles::Shared::Yes, shares);
        QCOMPARE(files.sharesFilesWith(probe.fileName()) == serverfiles::ServerFiles::Shared::No, !shares);
    } catch (const DbError& e) {
        QFAIL(qPrintable(e.message()));
    }
}

QTEST_MAIN(TestServerAsAnother)
#include "tst_server_as_another.moc"
