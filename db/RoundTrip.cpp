#include "RoundTrip.h"

#include <thread>

namespace roundtrip {

namespace {
// Read and written on the installing thread only: the other threads tell themselves apart by id.
Waiter g_waiter;
std::thread::id g_waiterThread;
// True on a thread while it runs a job: a round trip inside it waits right there.
thread_local bool t_inJob = false;

struct InJob {
    bool before = t_inJob;
    InJob() { t_inJob = true; }
    ~InJob() { t_inJob = before; }
};
} // namespace

void installWaiter(Waiter waiter) {
    g_waiter = std::move(waiter);
    g_waiterThread = g_waiter ? std::this_thread::get_id() : std::thread::id();
}

bool run(std::function<void()> job) {
    if (t_inJob || !g_waiter || std::this_thread::get_id() != g_waiterThread) {
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
