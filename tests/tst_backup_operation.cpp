// The backup operation without the window: what its plans show is the stand-in's log of the run,
// line for line (the BACKUP and its RESTORE VERIFYONLY; over the database's own older backup; the
// shared folder's route, whose path is the one shown; a cancel), judged afterwards by the server.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "BackupOperation.h"
#include "DevServer.h"
#include "Runner.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
// Sends the plan's statements on the test's own statement object; `cancelAt` stands for a cancel
// the server acknowledged before that statement ran.
struct Sending : ops::Executor {
    Sending(AdoQuery& q, QString cancelAt = {}) : q(q), cancelAt(std::move(cancelAt)) {}
    void send(const ops::Statement& s) override {
        QCOMPARE(s.pace, ops::Pace::Long);
        if (!cancelAt.isEmpty() && s.text.startsWith(cancelAt))
            throw Cancelled{};
        q.close();
        q.setText(s.text);
        q.execute();
        q.close();
    }
    AdoQuery& query() override { return q; }
    struct Cancelled {};
    AdoQuery& q;
    QString cancelAt;
};
} // namespace

class BackupOperation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ops::setJournalForTests(m_state.path()); }

    void init() {
        m_server = std::make_unique<DevServer>(2019);
        m_c = std::make_unique<AdoConnection>();
        m_c->setConnectionString(m_server->connectionString());
        m_c->setIdleMillisForTests(600000); // no probe of an idle link among the logged batches
        m_c->open();
        m_q = std::make_unique<AdoQuery>(*m_c);
        m_q->setText(QStringLiteral("CREATE DATABASE [Склад' 1]]]\nCREATE DATABASE Other"));
        m_q->execute();
        m_q->close();
    }

    // Named as the user typed it, sent as the server spells it; the check is shown and sent after
    // the backup. Over the database's own older backup nothing is asked; over another database's
    // backup the file's content is named.
    void plainAndOverItsOwnOlderBackup() {
        const QString bak = m_server->scratch() + QStringLiteral("/Склад.bak");
        for (const QString& database : {QStringLiteral("склад' 1]"), QStringLiteral("Склад' 1]")}) {
            const ops::Plan plan = planFor(database, bak);
            QCOMPARE(plan.database, QStringLiteral("Склад' 1]"));
            QCOMPARE(plan.texts(),
                     (QStringList{
                         QStringLiteral("Backup Database [Склад' 1]]] to disk = N'%1' WITH INIT , NOUNLOAD , "
                                        "SKIP , STATS = 10, NOFORMAT, CHECKSUM, COPY_ONLY")
                             .arg(bak),
                         QStringLiteral("RESTORE VERIFYONLY FROM DISK = N'%1' WITH FILE = 1, CHECKSUM")
                             .arg(bak)}));
            QVERIFY2(ops::backup::confirmation(plan).isEmpty(), qPrintable(plan.question));
            QVERIFY(runAndCompare(plan).done);
        }
        const ops::Plan other = planFor(QStringLiteral("Other"), bak);
        QVERIFY2(other.question.contains(QStringLiteral("резервну копію іншої бази даних: Склад' 1] від ")),
                 qPrintable(other.question));
    }

    // A folder the server may not write: the refusal, and the shared folder's plan whose statements
    // name the file the server writes there; its copy is journalled while it runs. Cancelled before
    // the check, the copy stays written down until its owner removes it, and the server says the
    // backup was made; cancelled before the backup, that it was not.
    void theSharedFolderRouteAndACancel_data() {
        QTest::addColumn<QString>("cancelAt");
        QTest::newRow("done") << QString();
        QTest::newRow("cancel before the check") << QStringLiteral("RESTORE");
        QTest::newRow("cancel before the backup") << QStringLiteral("Backup");
    }
    void theSharedFolderRouteAndACancel() {
        QFETCH(QString, cancelAt);
        const QString chosen = QStringLiteral("/home/user/closed/Other.bak");
        const QString shared = m_server->scratch() + QStringLiteral("/shared/Other.bak");
        QDir().mkpath(QFileInfo(shared).path());
        ops::backup::Request request;
        request.database = QStringLiteral("Other");
        request.path = chosen;
        request.seen = {ops::backup::TargetSeen::Reach::Refused,
                        QStringLiteral("Сервер не може записати файл."), false,
                        QStringLiteral("/home/user/closed")};
        request.serverAccount = QStringLiteral("nobody");
        request.sharedExample = QStringLiteral("/var/tmp/zelvaro-user");
        request.sharedFile = [&] { return ops::backup::SharedFile{shared, {}}; };
        ops::Server server{*m_c, *m_q, QStringLiteral("zelvaro-test")};
        const ops::Plan plan = ops::backup::plan(request, server);
        QCOMPARE(plan.stop, request.seen.refusal);
        QCOMPARE(plan.remedies.size(), size_t(1));
        QVERIFY(plan.remedies[0].offer.contains(
            QStringLiteral("Сервер (nobody) може записати копію до спільної теки")));
        const ops::Plan& route = *plan.remedies[0].plan;
        QVERIFY(route.stop.isEmpty());
        QVERIFY(ops::backup::throughShared(route));
        QVERIFY(!route.shown().contains(chosen));
        QCOMPARE(route.shown().count(shared), 2);
        QCOMPARE(route.leaves.size(), 1);
        QCOMPARE(route.leaves[0].path, shared);

        const ops::backup::Sets before = ops::backup::before(route, server);
        const ops::Ran ran = runAndCompare(route, cancelAt);
        QCOMPARE(ran.done, cancelAt.isEmpty());
        QCOMPARE(ran.left.size(), ran.done ? 0 : 1);
        QCOMPARE(ops::journal().entries().size(), ran.left.size());
        for (const ops::JournalEntry& left : ran.left)
            QVERIFY(ops::journal().crossOut(left.id));
        const bool written = cancelAt != QLatin1String("Backup");
        QCOMPARE(ops::backup::outcome(route, server, before),
                 written ? ops::Outcome::Done : ops::Outcome::NotDone);
        QCOMPARE(QFileInfo(shared).size() > 0, written);
    }

private:
    ops::Plan planFor(const QString& database, const QString& path) {
        ops::backup::Request request;
        request.database = database;
        request.path = path;
        request.seen.fileThere = QFile::exists(path);
        ops::Server server{*m_c, *m_q, QStringLiteral("zelvaro-test")};
        return ops::backup::plan(request, server);
    }

    // Runs the plan and compares the batches the stand-in received with what the plan shows: up to
    // the statement cancelled, if any.
    ops::Ran runAndCompare(const ops::Plan& plan, const QString& cancelAt = {}) {
        const qint64 from = m_server->receivedStatements().size();
        Sending executor(*m_q, cancelAt);
        const ops::Ran ran = ops::run(plan, executor, ops::journal());
        QStringList sent;
        for (const QString& batch : m_server->receivedStatements().mid(from).split(
                 QStringLiteral("\n--- end of batch ---\n"), Qt::SkipEmptyParts))
            sent << batch.trimmed();
        QStringList shown = plan.shown().split(QLatin1Char('\n'));
        while (!cancelAt.isEmpty() && !shown.isEmpty() && !shown.last().startsWith(cancelAt))
            shown.removeLast();
        if (!cancelAt.isEmpty())
            shown.removeLast();
        [&] { QCOMPARE(sent, shown); }();
        return ran;
    }

    QTemporaryDir m_state;
    std::unique_ptr<DevServer> m_server;
    std::unique_ptr<AdoConnection> m_c;
    std::unique_ptr<AdoQuery> m_q;
};

QTEST_GUILESS_MAIN(BackupOperation)
#include "tst_backup_operation.moc"
