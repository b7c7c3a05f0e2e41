// The operations layer without the window: plans made against the stand-in, the runner sending
// exactly what the plan shows (compared with the stand-in's statement log), the channel's refusal,
// and the journal after a crash. Links the operations library and Qt Core alone: no widgets.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "AttachOperation.h"
#include "DatabaseOperations.h"
#include "DbError.h"
#include "DevServer.h"
#include "FileListOperation.h"
#include "Journal.h"
#include "RestoreOperation.h"
#include "Runner.h"
#include "SingleUser.h"
#include "SqlQuote.h"

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {
struct Stand {
    Stand() {
        c.setConnectionString(server.connectionString());
        c.setIdleMillisForTests(600000); // no probe of an idle link among the logged batches
        c.open();
    }
    DevServer server;
    AdoConnection c;
    AdoQuery q{c};
    ops::Server ops{c, q, QStringLiteral("zelvaro-test")};
    void sql(const QString& text) {
        q.setText(text);
        q.execute();
        q.close();
    }
    // The batches the stand-in received since `from` bytes of its log, one per line.
    QStringList batchesSince(qint64 from) const {
        QStringList out;
        for (const QString& b : server.receivedStatements().mid(from).split(
                 QStringLiteral("\n--- end of batch ---\n"), Qt::SkipEmptyParts))
            out << b.trimmed();
        return out;
    }
};

// Sends on a statement object, as the window's executor does on its worker.
struct QueryExecutor : ops::Executor {
    explicit QueryExecutor(AdoQuery& q) : q(q) {}
    void send(const ops::Statement& s) override {
        q.close();
        q.setText(s.text);
        if (s.rowset) {
            q.openRowset(); // left open for the caller's rows
            return;
        }
        q.execute();
        q.close();
    }
    AdoQuery& query() override { return q; }
    AdoQuery& q;
};

struct Recording : ops::Executor {
    void send(const ops::Statement& s) override { sent << s.text; }
    AdoQuery& query() override { throw std::logic_error("no server"); }
    QStringList sent;
};
} // namespace

class Operations : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ops::setJournalForTests(m_state.path()); }

    // The statements the confirmation shows are the stand-in's log of the run, line for line:
    // nobody inside, others put out first, and a refusal after SINGLE_USER (our own session inside
    // the database: 3702, 3703) that sends MULTI_USER back.
    void whatIsShownIsWhatIsSent_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("othersInside");
        QTest::addColumn<QString>("ending");
        for (const char* op : {"detach", "drop"}) {
            QTest::addRow("%s alone", op) << op << false << "done";
            QTest::addRow("%s with others", op) << op << true << "done";
            QTest::addRow("%s refused after single-user", op) << op << true << "refused";
            QTest::addRow("%s cancelled after single-user", op) << op << true << "cancelled";
        }
    }
    void whatIsShownIsWhatIsSent() {
        QFETCH(QString, operation);
        QFETCH(bool, othersInside);
        QFETCH(QString, ending);
        Stand s;
        const QString name = QStringLiteral("Склад' 1]");
        s.sql(QStringLiteral("CREATE DATABASE [Склад' 1]]]"));
        AdoConnection holder;
        if (othersInside) {
            holder.setConnectionString(s.server.connectionString());
            holder.open();
            holder.setDefaultDatabase(name);
        }
        const bool detach = operation == QLatin1String("detach");
        const ops::Plan plan = detach ? ops::detach::plan({name}, s.ops) : ops::drop::plan({name}, s.ops);
        QVERIFY(plan.databaseExists);
        QCOMPARE(plan.othersInside.size(), othersInside ? 1 : 0);
        QCOMPARE(plan.leaves.size(), othersInside ? 1 : 0);
        if (ending == QLatin1String("refused"))
            s.c.setDefaultDatabase(name);

        const qint64 before = s.server.receivedStatements().size();
        // A cancel the server acknowledged before it ran the statement: what the window's long
        // operation throws then.
        struct CancelledBeforeTheLast : QueryExecutor {
            using QueryExecutor::QueryExecutor;
            void send(const ops::Statement& st) override {
                if (st.text.startsWith(QLatin1String("ALTER DATABASE")))
                    QueryExecutor::send(st);
                else
                    throw Cancelled{};
            }
            struct Cancelled {};
        };
        QueryExecutor plain(s.q);
        CancelledBeforeTheLast cancelling(s.q);
        const bool cancelled = ending == QLatin1String("cancelled");
        const ops::Ran ran = ops::run(plan, cancelled ? cancelling : plain, ops::journal());
        QStringList shown = plan.shown().split(QLatin1Char('\n'));
        QCOMPARE(shown.removeAll(ops::putBackComment()), qsizetype(othersInside ? 1 : 0));
        if (ending == QLatin1String("done")) // the put-back is shown, and sent only when something fails
            shown = plan.texts();
        if (cancelled)
            shown.removeAt(1); // never reached the server
        QCOMPARE(s.batchesSince(before), shown);

        QCOMPARE(ran.done, ending == QLatin1String("done"));
        QCOMPARE(ran.putBackSent, !ran.done);
        QVERIFY(ran.putBackFailed.isEmpty());
        QVERIFY(ops::journal().entries().isEmpty());
        s.c.setDefaultDatabase(QStringLiteral("master"));
        QCOMPARE(detach ? ops::detach::outcome(plan, s.ops) : ops::drop::outcome(plan, s.ops),
                 ran.done ? ops::Outcome::Done : ops::Outcome::NotDone);
        if (!ran.done)
            QCOMPARE(ops::singleuser::userAccess(s.q, name), QStringLiteral("MULTI_USER"));
    }

    // The attach's statements against the stand-in's log, equal: plain; over an older database of
    // the name with others inside (SINGLE_USER, detach, attach); the same failing or cancelled,
    // which puts the older back open to all; and the copies' plan, which names the copies alone.
    void attachShownIsSent_data() {
        QTest::addColumn<bool>("over");
        QTest::addColumn<QString>("ending");
        QTest::addRow("plain") << false << "done";
        QTest::addRow("over others") << true << "done";
        QTest::addRow("over others, refused") << true << "refused";
        QTest::addRow("over others, cancelled") << true << "cancelled";
        // Our own session inside the older database: the detach is refused, the put-back's attach of
        // the older files with it, and MULTI_USER is sent all the same.
        QTest::addRow("over others, detach refused") << true << "detach refused";
        QTest::addRow("copies") << false << "copies";
    }
    void attachShownIsSent() {
        QFETCH(bool, over);
        QFETCH(QString, ending);
        Stand s;
        const QString dir = s.server.scratch(), name = QStringLiteral("Нова' ]");
        s.sql(QStringLiteral("CREATE DATABASE src ON PRIMARY (FILENAME = N'%1/n.mdf') LOG ON (FILENAME = "
                             "N'%1/n.ldf')\nEXEC sp_detach_db N'src'")
                  .arg(dir));
        AdoConnection holder;
        if (over) {
            s.sql(
                QStringLiteral(
                    "CREATE DATABASE [Нова' ]]] ON (FILENAME = N'%1/o.mdf') LOG ON (FILENAME = N'%1/o.ldf')")
                    .arg(dir));
            holder.setConnectionString(s.server.connectionString());
            holder.open();
            holder.setDefaultDatabase(name);
        }
        const bool refused = ending == QLatin1String("refused");
        const QString mdf = dir + (refused ? QStringLiteral("/none.mdf") : QStringLiteral("/n.mdf"));
        const ops::attach::Planned planned =
            ops::attach::plan({name, mdf, dir + QStringLiteral("/n.ldf")}, s.ops);
        ops::Plan plan = planned.plan;
        QVERIFY(plan.stop.isEmpty());
        QCOMPARE(planned.olderFiles.size(), over ? 2 : 0);
        QCOMPARE(plan.othersInside.size(), over ? 1 : 0);
        if (ending == QLatin1String("copies")) {
            QDir(dir).mkdir(QStringLiteral("shared"));
            const QList<ops::FileCopy> copies = {
                {mdf, dir + QStringLiteral("/shared/n.mdf")},
                {dir + QStringLiteral("/n.ldf"), dir + QStringLiteral("/shared/n.ldf")}};
            plan = ops::attach::ofCopies(planned, {name, copies[0].path, copies[1].path}, copies);
            QVERIFY(!plan.shown().contains(mdf) && plan.shown().contains(copies[0].path));
            QCOMPARE(ops::attach::copyEntry(plan, copies[0]).kind, ops::JournalEntry::Kind::Copy);
            for (const ops::FileCopy& c : copies)
                QVERIFY(QFile::copy(c.source, c.path));
        }
        struct CancelledAttach : QueryExecutor {
            using QueryExecutor::QueryExecutor;
            void send(const ops::Statement& st) override {
                if (st.pace == ops::Pace::Long)
                    throw std::runtime_error("cancelled");
                QueryExecutor::send(st);
            }
        };
        QueryExecutor plain(s.q);
        CancelledAttach cancelling(s.q);
        if (ending == QLatin1String("detach refused"))
            s.c.setDefaultDatabase(name);
        const qint64 before = s.server.receivedStatements().size();
        const bool cancelled = ending == QLatin1String("cancelled");
        const ops::Ran ran = ops::run(plan, cancelled ? cancelling : plain, ops::journal());
        QStringList shown = plan.shown().split(QLatin1Char('\n'));
        shown.removeAll(ops::putBackComment());
        QString expected = ran.done ? plan.texts().join(QLatin1Char('\n')) : shown.join(QLatin1Char('\n'));
        if (cancelled || ending == QLatin1String("detach refused")) // the attach never reached the server
            expected.replace(plan.texts().last() + QLatin1Char('\n'), QString());
        // The runner's questions after a put-back that failed (what is still left) change nothing.
        const QStringList changes =
            s.batchesSince(before).filter(QRegularExpression(QStringLiteral("^(?!SELECT )")));
        QCOMPARE(changes.join(QLatin1Char('\n')), expected);
        QCOMPARE(ran.done, ending == QLatin1String("done") || ending == QLatin1String("copies"));
        QVERIFY(ran.putBackFailed.isEmpty());
        s.c.setDefaultDatabase(QStringLiteral("master"));
        QVERIFY(ops::journal().entries().isEmpty());
        QCOMPARE(ops::attach::outcome(plan, s.ops), ran.done ? ops::Outcome::Done : ops::Outcome::NotDone);
        if (!ran.done)
            QCOMPARE(ops::singleuser::userAccess(s.q, name), QStringLiteral("MULTI_USER"));
    }

    // A backup's file list and its restore: what the plan shows is the stand-in's log of the run,
    // line for line. The file list names the newest of two sets (WITH FILE = 2); the restore goes
    // under a new name, or over the database with another session inside (verified first, then
    // SINGLE_USER, MULTI_USER put back when the restore is cancelled), or into the server's own
    // folders (the remedy's whole plan).
    void backupFileListAndRestoreShowWhatIsSent_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("new name") << "Нова' 1]" << false;
        QTest::newRow("over with others inside") << "Склад" << false;
        QTest::newRow("over, cancelled") << "Склад" << true;
        QTest::newRow("server's own folders") << "Власна" << false;
    }
    void backupFileListAndRestoreShowWhatIsSent() {
        QFETCH(QString, target);
        QFETCH(bool, cancelled);
        Stand s;
        const QString bak = s.server.scratch() + QStringLiteral("/склад.bak");
        s.sql(QStringLiteral("CREATE DATABASE [Склад]\nCREATE DATABASE [Старий]\n"
                             "BACKUP DATABASE [Старий] TO DISK = N'%1' WITH INIT\n"
                             "BACKUP DATABASE [Склад] TO DISK = N'%1'").arg(bak));
        ops::Server& server = s.ops;
        const ops::filelist::FileListPlan list = ops::filelist::plan({bak}, server);
        QVERIFY(list.stop.isEmpty());
        QCOMPARE(list.set.position, 2);
        qint64 before = s.server.receivedStatements().size();
        QueryExecutor plain(s.q);
        QVERIFY(ops::run(list, plain, ops::journal()).done);
        QCOMPARE(s.batchesSince(before), list.texts());
        QVERIFY(list.shown().endsWith(QStringLiteral(" WITH FILE = 2")));
        const QList<restoreplan::BackupFile> files = ops::filelist::files(s.q);
        s.q.close();
        QCOMPARE(files.size(), 2);
        QCOMPARE(files[0].logicalName, QStringLiteral("Склад"));

        AdoConnection holder;
        const bool replacing = target == QStringLiteral("Склад");
        if (replacing) {
            holder.setConnectionString(s.server.connectionString());
            holder.open();
            holder.setDefaultDatabase(target);
        }
        // The remedy's plan is the same restore with the files in the server's own folder.
        const QString folder = target == QStringLiteral("Власна") ? s.server.scratch() + QStringLiteral("/data")
                                                                : s.server.scratch() + QStringLiteral("/restored");
        QDir().mkpath(folder);
        const ops::restore::Request request{target,
                                            bak,
                                            list.set,
                                            files[0].logicalName,
                                            folder + QStringLiteral("/") + target + QStringLiteral(".mdf"),
                                            files[1].logicalName,
                                            folder + QStringLiteral("/") + target + QStringLiteral("_log.ldf"),
                                            {},
                                            replacing};
        const ops::Plan plan = ops::restore::plan(request, server);
        QCOMPARE(plan.othersInside.size(), replacing ? 1 : 0);
        QCOMPARE(plan.statements.size(), replacing ? 3 : 1);
        QVERIFY(plan.texts().last().endsWith(QStringLiteral(", STATS = 10")));
        struct CancelledAtTheRestore : QueryExecutor {
            using QueryExecutor::QueryExecutor;
            void send(const ops::Statement& st) override {
                if (st.text.startsWith(QLatin1String("RESTORE DATABASE")))
                    throw Cancelled{};
                QueryExecutor::send(st);
            }
            struct Cancelled {};
        } cancelling(s.q);
        before = s.server.receivedStatements().size();
        const ops::Ran ran = ops::run(plan, cancelled ? cancelling : plain, ops::journal());
        QCOMPARE(ran.done, !cancelled);
        QStringList shown = plan.shown().split(QLatin1Char('\n'));
        QCOMPARE(shown.removeAll(ops::putBackComment()), qsizetype(replacing ? 1 : 0));
        if (!cancelled) // the put-back is shown, and sent only when something fails
            shown = plan.texts();
        else
            shown.removeAt(2); // the restore never reached the server
        QCOMPARE(s.batchesSince(before), shown);
        QVERIFY(ops::journal().entries().isEmpty());
        QCOMPARE(ops::databaseExists(s.q, target), replacing || !cancelled);
        if (replacing)
            QCOMPARE(ops::singleuser::userAccess(s.q, target), QStringLiteral("MULTI_USER"));
        QCOMPARE(QFile::exists(request.mdf), !cancelled);

        // A restore under a new name that failed part-way leaves its database restoring: dropped.
        const ops::Plan drop = ops::restore::dropHalfRestored(plan);
        QCOMPARE(drop.shown(), QStringLiteral("DROP DATABASE ") + sqlquote::name(target));
    }

    // A put-back the server never gets (the link lost): the failure is kept for the user with the
    // database and its statement, and the journal keeps the entry for the next connect.
    void aFailedPutBackIsToldAndKept() {
        Stand s;
        s.sql(QStringLiteral("CREATE DATABASE Busy"));
        AdoConnection holder;
        holder.setConnectionString(s.server.connectionString());
        holder.open();
        holder.setDefaultDatabase(QStringLiteral("Busy"));
        const ops::Plan plan = ops::drop::plan({QStringLiteral("Busy")}, s.ops);
        s.c.setDefaultDatabase(QStringLiteral("Busy")); // the drop is refused: our own session is inside
        struct LinkLostAtPutBack : QueryExecutor {
            using QueryExecutor::QueryExecutor;
            void puttingBack() override { throw DbError(QStringLiteral("Communication link failure")); }
        } executor(s.q);
        const ops::Ran ran = ops::run(plan, executor, ops::journal());
        QVERIFY(!ran.done);
        QCOMPARE(ran.putBackFailed, QStringLiteral("Communication link failure"));
        QCOMPARE(ran.left.size(), 1);
        QCOMPARE(ops::journal().entries().size(), 1);
        QVERIFY(ops::singleuser::leftSingleUser(QStringLiteral("Busy"), ran.putBackFailed)
                    .contains(QStringLiteral("сервер не виконав ALTER DATABASE [Busy] SET MULTI_USER")));
        QVERIFY(ops::journal().crossOut(ran.left[0].id));
    }

    // A statement that is not the plan's next is a programming error: refused, nothing sent.
    void theChannelRefusesWhatIsNotNext() {
        ops::Plan plan;
        plan.statements = {{QStringLiteral("A")}, {QStringLiteral("B")}};
        plan.putBack = {{QStringLiteral("P")}};
        Recording executor;
        ops::Channel channel(plan, executor);
        QVERIFY_THROWS_EXCEPTION(ops::NotInPlan, channel.send(QStringLiteral("B")));
        QVERIFY_THROWS_EXCEPTION(ops::NotInPlan, channel.send(QStringLiteral("P")));
        QVERIFY_THROWS_EXCEPTION(ops::NotInPlan, channel.send(QStringLiteral("DROP DATABASE x")));
        QVERIFY(executor.sent.isEmpty());
        channel.send(QStringLiteral("A"));
        QVERIFY_THROWS_EXCEPTION(ops::NotInPlan, channel.send(QStringLiteral("A")));
        channel.beginPutBack();
        channel.send(QStringLiteral("P"));
        QCOMPARE(executor.sent, (QStringList{QStringLiteral("A"), QStringLiteral("P")}));
    }

    // A run that ended without taking back what it left (killed after SINGLE_USER): its entry is
    // ours to reconcile; a live run's is not. Reconciling asks the server, opens the database, and
    // crosses the entry out.
    void theJournalIsReconciledAfterACrash() {
        Stand s;
        const QTemporaryDir state;
        ops::Journal journal(state.path());
        s.sql(QStringLiteral("CREATE DATABASE Left"));
        ops::JournalEntry entry;
        entry.server = s.ops.name;
        entry.database = QStringLiteral("Left");
        // Another run writes it down, puts the database single-user and waits to be killed.
        const pid_t other = ::fork();
        if (other == 0) {
            ops::Journal(state.path()).write(entry);
            ::pause();
            ::_exit(0);
        }
        QTRY_COMPARE(journal.entries().size(), 1);
        s.sql(QStringLiteral("ALTER DATABASE [Left] SET SINGLE_USER WITH ROLLBACK IMMEDIATE"));
        QVERIFY(journal.ours().isEmpty()); // alive: its own to take back
        ::kill(other, SIGKILL);
        ::waitpid(other, nullptr, 0);
        const QList<ops::JournalEntry> left = journal.ours();
        QCOMPARE(left.size(), 1);
        QVERIFY(left[0].sameThing(entry));
        QVERIFY(ops::stillLeft(s.q, left[0]));

        const ops::Plan open = ops::singleuser::openToAll(left[0]);
        QVERIFY(open.question.contains(QStringLiteral("База даних Left на сервері zelvaro-test досі в "
                                                      "однокористувацькому режимі (SINGLE_USER)")));
        QueryExecutor executor(s.q);
        QVERIFY(ops::run(open, executor, journal).done);
        QVERIFY(journal.crossOut(left[0].id));
        QVERIFY(journal.entries().isEmpty());
        QVERIFY(!ops::stillLeft(s.q, left[0]));
        QVERIFY(!QFile::exists(journal.file() + QStringLiteral(".new")));
    }

    // The state folder is the user's, never /tmp: $XDG_STATE_HOME when absolute, else ~/.local/state.
    void theJournalLiesInTheStateFolder() {
        const QByteArray kept = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", "/srv/state");
        QCOMPARE(ops::Journal::stateFolder(), QStringLiteral("/srv/state/zelvaro"));
        qputenv("XDG_STATE_HOME", "relative");
        QCOMPARE(ops::Journal::stateFolder(), QDir::homePath() + QStringLiteral("/.local/state/zelvaro"));
        qputenv("XDG_STATE_HOME", kept);
    }

private:
    QTemporaryDir m_state;
};

QTEST_GUILESS_MAIN(Operations)
#include "tst_operations.moc"
