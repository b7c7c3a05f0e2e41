#include "RoundTrip.h"

#include <atomic>
#include <thread>

namespace roundtrip {

namespace {
// The waiter is read and written on the installing thread only; the other threads (workers, jobs
// left running while the next window installs its waiter) only compare their id with its thread's.
Waiter g_waiter;
std::atomic<std::thread::id> g_waiterThread{};
// True on a thread while it runs a job: a round trip inside it waits right there.
thread_local bool t_inJob = false;

struct InJob {
    bool before = t_inJob;
    InJob() { t_inJob = true; }
    ~InJob() { t_inJob = before; }
};
} // namespace

void installWaiter(Waiter waiter) {
    g_waiterThread = std::thread::id();
    g_waiter = std::move(waiter);
    if (g_waiter)
        g_waiterThread = std::this_thread::get_id();
}

bool run(std::function<void()> job) {
    if (t_inJob || std::this_thread::get_id() != g_waiterThread.load() || !g_waiter) {
        const InJob marked;
        job();
        return true;
    }
    return g_waiter([job = std::move(job)] {
        const InJob marked;
        job();
    });
}

DbError givenUp() {
    return DbError(QStringLiteral("Очікування відповіді сервера скасовано: сервер не відповів."));
}

} // namespace roundtrip
