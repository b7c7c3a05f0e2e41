// Where a round trip to the server waits. The database layer only knows that a thread may have a
// waiter: the program installs one for the window's thread at start-up, which runs the job on a
// worker and keeps the window painting and answering meanwhile. Round trips made on any other
// thread (a long operation's worker, a job itself) run where they are.
#pragma once

#include "DbError.h"

#include <functional>

namespace roundtrip {

// Runs job until it ends and returns true, or returns false once the wait was given up: the job
// then runs on unobserved, so it must own (share) everything it touches.
using Waiter = std::function<bool(std::function<void()> job)>;

// For the calling thread; an empty waiter removes it.
void installWaiter(Waiter waiter);
// Runs job through the waiter when called on the thread that installed it, outside another job;
// otherwise runs it right here. False: the wait was given up.
bool run(std::function<void()> job);

// What a round trip whose wait was given up throws: to the caller it is a read that failed.
DbError givenUp();

} // namespace roundtrip
