// Shrinking a failing session by leaving out ever smaller runs of steps.
#include "Shrink.h"

#include "Session.h"

#include <QElapsedTimer>
#include <cstdio>

namespace explore {

std::optional<Violation> replay(const Steps& steps, const Replay& how, int* stepsRun) {
    Session session(how.version, how.invariants, how.world);
    if (!session.ready())
        return std::nullopt;
    for (int i = 0; i < steps.size(); ++i) {
        const QList<Violation> found = session.run(steps[i]);
        if (!found.isEmpty()) {
            if (stepsRun)
                *stepsRun = i + 1;
            return found.first();
        }
    }
    return std::nullopt;
}

Steps shrink(const Steps& failing, const Violation& violation, const Replay& how, int maxReplays) {
    auto sameKind = [&](const Steps& candidate, Steps* upTo) {
        int run = 0;
        const auto found = replay(candidate, how, &run);
        if (!found || found->invariant != violation.invariant || found->key != violation.key)
            return false;
        *upTo = candidate.mid(0, run);
        return true;
    };
    Steps best = failing;
    int replays = 0;
    QElapsedTimer clock;
    clock.start();
    // A budget of replays and of time: a failing run must still end soon.
    const qint64 kMaxMs = 120000;
    auto budgetLeft = [&] { return replays < maxReplays && clock.elapsed() < kMaxMs; };
    for (int chunk = qMax(1, int(best.size()) / 2); chunk >= 1 && budgetLeft(); chunk /= 2) {
        bool removed = true;
        while (removed && budgetLeft()) {
            removed = false;
            for (int start = 0; start < best.size() && budgetLeft(); start += chunk) {
                Steps candidate = best.mid(0, start) + best.mid(start + chunk);
                if (candidate.isEmpty())
                    continue;
                ++replays;
                Steps upTo;
                if (sameKind(candidate, &upTo)) {
                    best = upTo;
                    removed = true;
                    std::fprintf(stderr, "explore: shrunk to %d steps (%d replays, %lld s)\n", int(best.size()),
                                 replays, clock.elapsed() / 1000);
                    break;
                }
            }
        }
    }
    // Then each remaining cancel is tried away: a plain press is the easier sequence to read.
    for (int i = 0; i < best.size() && budgetLeft(); ++i) {
        if (best[i].cancelAtMs < 0)
            continue;
        Steps candidate = best;
        candidate[i].cancelAtMs = -1;
        candidate[i].closeDuring = false;
        ++replays;
        Steps upTo;
        if (sameKind(candidate, &upTo) && upTo.size() == best.size())
            best = upTo;
    }
    return best;
}

} // namespace explore
