// Following and cancelling a running statement from another thread.
#include "StatementWatch.h"

#include <sqlext.h>

StatementWatch::~StatementWatch() {
    if (m_canceller.joinable())
        m_canceller.join();
}

void StatementWatch::cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cancelled)
        return;
    m_cancelled = true;
    // SQLCancel is the one ODBC call defined for use from another thread while the statement runs:
    // the driver sends the server an attention and the running call returns once the server has
    // acknowledged it. It is made on a thread of its own because FreeTDS, when it catches the
    // statement between two calls, waits for that acknowledgement itself, and the caller (the
    // window) must never wait for the server. The lock keeps the handle alive and the worker away
    // from the statement's diagnostics (which SQLCancel clears) until the driver has returned.
    m_canceller = std::thread([this] {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Outside a call that waits for the server, FreeTDS's cancel finds nothing to stop and says
        // it succeeded: the worker delivers it before its next call instead.
        if (m_running && m_inCall && !m_delivered)
            m_delivered = SQL_SUCCEEDED(SQLCancel(m_running));
    });
}

bool StatementWatch::cancelRequested() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelled;
}

bool StatementWatch::cancelDelivered() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_delivered;
}

bool StatementWatch::begin(SQLHSTMT statement) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cancelled)
        return false;
    m_running = statement;
    m_inCall = false;
    m_delivered = false;
    return true;
}

void StatementWatch::end() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = nullptr;
    m_inCall = false;
}

bool StatementWatch::callStarts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cancelled && !m_delivered)
        return false;
    m_inCall = true;
    return true;
}

std::unique_lock<std::mutex> StatementWatch::callEnded() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_inCall = false;
    return lock;
}

void StatementWatch::deliverLateCancel(SQLHSTMT statement) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_cancelled || m_delivered)
        return;
    m_delivered = SQL_SUCCEEDED(SQLCancel(statement));
}
