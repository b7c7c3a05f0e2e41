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
    // window) must never wait for the server. The handle stays valid while that thread holds the
    // lock, since end() takes the lock before the statement object closes the handle.
    m_canceller = std::thread([this] {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Before the driver has started the statement there is nothing to cancel yet: the
        // statement object delivers it after the first reply (deliverLateCancel).
        if (m_running && !m_delivered)
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
    m_delivered = false;
    return true;
}

void StatementWatch::end() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = nullptr;
}

void StatementWatch::deliverLateCancel(SQLHSTMT statement) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_cancelled || m_delivered)
        return;
    m_delivered = SQL_SUCCEEDED(SQLCancel(statement));
}
