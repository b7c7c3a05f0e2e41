// tst_explore: random sessions through the real window against stand-in servers, every step
// checked against what the user asked for; a failing session is shrunk and printed.
//
// ZELVARO_EXPLORE_SEED        the seed (default: a new one, printed first)
// ZELVARO_EXPLORE_STEPS       how many steps, all of them (2000 and more is a soak)
// ZELVARO_EXPLORE_SECONDS     without STEPS: steps go on until this many seconds have passed and
//                             every kind of step has been done (default 25; at most 500 steps and
//                             twice the seconds), so that CTest's run stays short on a loaded machine
// ZELVARO_EXPLORE_VERSION     2000 or 2019 (default: chosen by the seed)
// ZELVARO_EXPLORE_WORLD       plain; nobody: server A runs as nobody beside a closed scratch folder;
//                             root: server A in a file system of its own (its data folder)
//                             (default: chosen by the seed; nobody only when run as root)
// Every world also has a backup of another database named Sales (server B's), other programs
// that hold databases open, a 3 MB disk (@S/small, mounted when run as root) and restarts of
// server A as SQL Server Express with a lowered size cap.
// ZELVARO_EXPLORE_ACTIONS     the actions drawn from, comma separated (default: all; see Generate.h)
// ZELVARO_EXPLORE_INVARIANTS  the invariants checked, e.g. "1,2,3" (default: all, 1 to 7): 1 files,
//                             2 databases, 3 messages, 4 window, 5 consent (sessions ended and
//                             databases replaced only on Yes, nothing changed on No), 6 stalls of the
//                             window over 1 s, 7 the server's reach (refused paths, folders opened)
// ZELVARO_EXPLORE_ALLOW_STALLS 1 (or the argument --allow-stalls): stalls are reported, not failed
// ZELVARO_EXPLORE_REPLAY      a file of encoded steps to run instead of random ones
// ZELVARO_EXPLORE_SHRINK      how many replays shrinking may use (default 40; 0: no shrinking)
#include "Generate.h"
#include "Session.h"
#include "Shrink.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace {

// Records an exception that reaches Qt's event loop instead of letting it end the program.
class ExploreApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            explore::g_exceptionInEventLoop = true;
            return false;
        }
    }
};

QString env(const char* name, const QString& fallback = {}) {
    const QByteArray v = qgetenv(name);
    return v.isEmpty() ? fallback : QString::fromLocal8Bit(v);
}

// Each kind of step the summary counts has been done at least once.
bool everyKindDone(const explore::Counts& c) {
    return qMin(qMin(qMin(c.attach, c.detach), qMin(c.remove, c.restore)),
                qMin(qMin(c.backup, c.cancel), qMin(qMin(c.restart, c.settings), c.world))) > 0;
}

void print(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    using namespace explore;
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    ExploreApplication app(argc, argv);
    prepareApplication();

    const quint32 seed = env("ZELVARO_EXPLORE_SEED").isEmpty() ? QRandomGenerator::system()->generate()
                                                               : env("ZELVARO_EXPLORE_SEED").toUInt();
    print(QStringLiteral("explore: seed %1").arg(seed));
    const bool fixedSteps = !env("ZELVARO_EXPLORE_STEPS").isEmpty();
    const int steps = env("ZELVARO_EXPLORE_STEPS", QStringLiteral("500")).toInt();
    const qint64 budgetMs = fixedSteps ? -1 : env("ZELVARO_EXPLORE_SECONDS", QStringLiteral("25")).toLongLong() * 1000;
    Replay how;
    how.version = env("ZELVARO_EXPLORE_VERSION", seed % 2 ? QStringLiteral("2000") : QStringLiteral("2019")).toInt();
    // A third of the seeds meet server A running as nobody, where the account exists and the
    // explorer may hand it its data folder (root).
    const bool nobodyPossible = ::geteuid() == 0 && ::getpwnam("nobody");
    // A quarter meet server A in a file system of its own, as in a container.
    const int draw = int((seed >> 1) % 4);
    how.world = variantNamed(env("ZELVARO_EXPLORE_WORLD", draw == 2 && nobodyPossible ? "nobody"
                                                          : draw == 3                 ? "root"
                                                                                      : "plain"));
    if (how.world == Variant::Nobody && !nobodyPossible) {
        print(QStringLiteral("explore: note: server A as nobody needs root and the account nobody; the world is left "
                             "out and this run is plain"));
        how.world = Variant::Plain;
    }
    const QString invariants = env("ZELVARO_EXPLORE_INVARIANTS", QStringLiteral("1,2,3,4,5,6,7"));
    for (const QString& i : invariants.split(QLatin1Char(',')))
        how.invariants.insert(i.trimmed().toInt());
    // Until every round trip is off the window's thread, a run may be told to report stalls only.
    const bool allowStalls = QCoreApplication::arguments().contains(QStringLiteral("--allow-stalls")) ||
                             env("ZELVARO_EXPLORE_ALLOW_STALLS") == QLatin1String("1");
    if (allowStalls)
        how.invariants.remove(6);
    QSet<QString> allowed;
    for (const QString& a : env("ZELVARO_EXPLORE_ACTIONS").split(QLatin1Char(','), Qt::SkipEmptyParts))
        allowed.insert(a.trimmed());
    const int maxReplays = env("ZELVARO_EXPLORE_SHRINK", QStringLiteral("40")).toInt();
    Steps replaying;
    if (!env("ZELVARO_EXPLORE_REPLAY").isEmpty()) {
        QFile f(env("ZELVARO_EXPLORE_REPLAY"));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n')) {
                Step s;
                if (Step::decode(QString::fromUtf8(line), s))
                    replaying << s;
            }
    }
    print(QStringLiteral("explore: version %1, world %2, invariants %3")
              .arg(how.version)
              .arg(nameOf(how.world), invariants + (allowStalls ? QStringLiteral(" (stalls only reported)") : QString())));

    // Each step is written down before it runs, so that even a crash leaves the session to replay.
    QFile log(QDir::current().absoluteFilePath(QStringLiteral("explore-steps.txt")));
    log.open(QIODevice::WriteOnly | QIODevice::Truncate);

    Steps done;
    QList<Violation> violations;
    Counts counts;
    QList<Stall> stalls;
    {
        Session session(how.version, how.invariants, how.world);
        if (!session.ready()) {
            print(QStringLiteral("explore: the stand-in servers could not be set up"));
            return 2;
        }
        QRandomGenerator random(seed);
        Steering steering;
        const int total = replaying.isEmpty() ? steps : int(replaying.size());
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < total && violations.isEmpty(); ++i) {
            if (replaying.isEmpty() && budgetMs >= 0 && clock.elapsed() >= budgetMs &&
                (everyKindDone(session.counts()) || clock.elapsed() >= 2 * budgetMs))
                break;
            const Step step =
                replaying.isEmpty() ? generate(random, session, allowed, steering) : replaying[i];
            done << step;
            log.write((step.encode() + QLatin1Char('\n')).toUtf8());
            log.flush();
            if (qEnvironmentVariableIsSet("ZELVARO_EXPLORE_VERBOSE"))
                print(QStringLiteral("explore: %1. %2").arg(i + 1).arg(step.describe()));
            violations = session.run(step);
        }
        counts = session.counts();
        stalls = session.stalls();
    }

    if (!violations.isEmpty()) {
        const Violation& v = violations.first();
        print(QStringLiteral("explore: VIOLATION of invariant %1 (%2) at step %3: %4")
                  .arg(v.invariant).arg(v.key).arg(done.size()).arg(v.detail));
        for (int i = 1; i < violations.size(); ++i)
            print(QStringLiteral("explore:   also invariant %1: %2").arg(violations[i].invariant).arg(violations[i].detail));
        print(QStringLiteral("explore: seed %1, the steps that led there:\n%2").arg(seed).arg(describe(done).chopped(1)));
        if (maxReplays > 0) {
            const Steps shrunk = shrink(done, v, how, maxReplays);
            print(QStringLiteral("explore: shrunk to %1 steps (each replayed from scratch with fresh servers):\n%2")
                      .arg(shrunk.size()).arg(describe(shrunk).chopped(1)));
            QFile shrunkFile(QFileInfo(log).absolutePath() + QStringLiteral("/explore-shrunk.txt"));
            if (shrunkFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
                for (const Step& s : shrunk)
                    shrunkFile.write((s.encode() + QLatin1Char('\n')).toUtf8());
            print(QStringLiteral("explore: replay it with ZELVARO_EXPLORE_REPLAY=%1 ZELVARO_EXPLORE_VERSION=%2 "
                                 "ZELVARO_EXPLORE_WORLD=%3%4")
                      .arg(shrunkFile.fileName()).arg(how.version).arg(nameOf(how.world))
                      .arg(allowStalls ? QStringLiteral(" ZELVARO_EXPLORE_ALLOW_STALLS=1") : QString()));
        }
    }
    if (!stalls.isEmpty()) {
        qint64 longest = 0;
        for (const Stall& s : stalls)
            longest = qMax(longest, s.ms);
        print(QStringLiteral("explore: %1 steps stalled the window over %2 ms (longest %3 ms):")
                  .arg(stalls.size()).arg(kStallLimitMs).arg(longest));
        for (const Stall& s : stalls)
            print(QStringLiteral("explore:   step %1, %2 ms: %3").arg(s.step).arg(s.ms).arg(s.what));
    }
    print(QStringLiteral("explore: seed %1, steps %2, violations %3, attach %4, detach %5, delete %6, restore %7, "
                         "backup %8, cancel %9, restart %10, settings %11, world %12")
              .arg(seed).arg(done.size()).arg(violations.isEmpty() ? 0 : 1).arg(counts.attach).arg(counts.detach)
              .arg(counts.remove).arg(counts.restore).arg(counts.backup).arg(counts.cancel).arg(counts.restart)
              .arg(counts.settings).arg(counts.world));
    return violations.isEmpty() ? 0 : 1;
}
