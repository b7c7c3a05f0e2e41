// The time limit of zelvaro-backup's statements: a statement during which the server reports no
// progress for the limit is cancelled; a server that does not answer the cancel either within the
// limit (at most a minute more) ends the run. A timer must not wait behind a hung server for ever.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class StatementWatch;

namespace backupcmd {

class StallGuard {
public:
    // onUnanswered runs on the guard's own thread, while the statement still waits for the server:
    // it must say so and end the process.
    StallGuard(StatementWatch& watch, std::chrono::milliseconds limit, std::function<void()> onUnanswered);
    ~StallGuard();
    StallGuard(const StallGuard&) = delete;
    StallGuard& operator=(const StallGuard&) = delete;

    // The span of one statement; the limit counts only within it, from its start or its last progress.
    class Statement {
    public:
        explicit Statement(StallGuard& guard) : m_guard(guard) { m_guard.setRunning(true); }
        ~Statement() { m_guard.setRunning(false); }
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;

    private:
        StallGuard& m_guard;
    };

    // Any thread: the server reported progress (a message while the statement runs).
    void progress();
    // Whether a statement was cancelled for want of progress.
    bool stalled() const;
    std::chrono::milliseconds limit() const { return m_limit; }

private:
    void setRunning(bool running);
    void watchLoop();

    StatementWatch& m_watch;
    const std::chrono::milliseconds m_limit;
    const std::chrono::milliseconds m_cancelGrace;
    std::function<void()> m_onUnanswered;
    mutable std::mutex m_mutex; // guards what follows; never held while the watch cancels
    std::condition_variable m_changed;
    bool m_running = false;
    bool m_stalled = false;
    bool m_quit = false;
    std::chrono::steady_clock::time_point m_lastSign;
    std::chrono::steady_clock::time_point m_cancelledAt;
    std::thread m_thread;
};

} // namespace backupcmd
