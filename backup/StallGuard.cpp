#include "StallGuard.h"

#include "StatementWatch.h"

namespace backupcmd {

StallGuard::StallGuard(StatementWatch& watch, std::chrono::milliseconds limit,
                       std::function<void()> onUnanswered)
    : m_watch(watch), m_limit(limit),
      m_cancelGrace(std::min<std::chrono::milliseconds>(limit, std::chrono::minutes(1))),
      m_onUnanswered(std::move(onUnanswered)), m_thread([this] { watchLoop(); }) {}

StallGuard::~StallGuard() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void StallGuard::progress() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_lastSign = std::chrono::steady_clock::now();
}

bool StallGuard::stalled() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_stalled;
}

void StallGuard::setRunning(bool running) {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_running = running;
        m_lastSign = std::chrono::steady_clock::now();
    }
    m_changed.notify_all();
}

void StallGuard::watchLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (!m_running) {
            m_changed.wait(lock);
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!m_stalled && now - m_lastSign >= m_limit) {
            m_stalled = true;
            m_cancelledAt = now;
            lock.unlock();
            m_watch.cancel(); // returns at once; the statement ends with the server's answer to it
            lock.lock();
        } else if (m_stalled && now - m_cancelledAt >= m_cancelGrace) {
            lock.unlock();
            m_onUnanswered();
            return;
        } else {
            m_changed.wait_until(lock, m_stalled ? m_cancelledAt + m_cancelGrace : m_lastSign + m_limit);
        }
    }
}

} // namespace backupcmd
