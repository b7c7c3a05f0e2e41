// Steering: a session of random steps leaves some kinds of step rare by chance (a seed with no
// backup, one restore, one cancel), so now and then the generator walks towards the kind it has
// done least: the page it needs, the field it lacks, then the press.
#pragma once

#include "Step.h"

#include <QRandomGenerator>
#include <QSet>
#include <optional>

namespace explore {

class Session;

// The kinds every default run must do several times, in the order the summary line prints them.
enum class Kind { Attach, Detach, Delete, Restore, Backup, Cancel, Restart, Settings, World };

// How often each kind was done so far.
int countOf(const Session& session, Kind kind);

// What the walk remembers: a kind it walked towards for long without getting there (a restore when
// the server can read no backup) is left alone for a while.
struct Steering {
    int steered = 0;   // steps given so far
    int tries[9] = {}; // steps given towards each kind since its count last rose
    int lastCount[9] = {};
    int restUntil[9] = {}; // left alone until this many steps were given
};

// The next step towards the least done kind it can reach from the window's state; none when no
// kind can be reached with the allowed actions.
std::optional<Step> steer(QRandomGenerator& random, const Session& session, const QSet<QString>& allowed,
                          Steering& memory);

} // namespace explore
