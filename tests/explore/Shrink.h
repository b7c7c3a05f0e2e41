// Makes a failing step list short: parts of it are left out, each try replayed from scratch in a
// fresh world, as long as the same kind of violation still shows.
#pragma once

#include "Invariants.h"
#include "Step.h"
#include "World.h"

#include <QSet>
#include <optional>

namespace explore {

struct Replay {
    int version = 2019;
    QSet<int> invariants;
    Variant world = Variant::Plain;
};

// Runs the steps in a fresh session; the first violation, if any.
std::optional<Violation> replay(const Steps& steps, const Replay& how, int* stepsRun = nullptr);

// A shorter list that still ends in a violation of the same kind (the list itself when none is
// found within the budget of replays).
Steps shrink(const Steps& failing, const Violation& violation, const Replay& how, int maxReplays);

} // namespace explore
