// Following and cancelling a running statement from another thread.
#include "StatementWatch.h"

#include "OdbcDiagnostics.h"

#include <sqlext.h>

namespace {
bool serverAnswered(SQLHSTMT statement) {
    for (const OdbcRecord& r : odbcdiag::read(SQL_HANDLE_STMT, statement))
        if (r.native > 0)
            return true;
    return false;
}
} // namespace

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
    // window) must never wait for the server.
    m_canceller = std::thread([this] {
        SQLHSTMT statement = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            for (;;) {
                // Outside a call that waits for the server, FreeTDS's cancel finds nothing to stop
                // and says it succeeded: the worker delivers it before its next call instead.
                if (!m_running || !m_inCall || m_delivered || m_sending)
                    return;
                // A call that has only just started may as well be about to return, and a cancel
                // that catches it returned clears its diagnostics while the driver manager may
                // still be reading them (a race no lock of ours can close). Such a call is left
                // to end; the worker delivers the cancel after it. Only a call that has waited for
                // the server a while is cancelled from here.
                const auto waited = std::chrono::steady_clock::now() - m_callStartedAt;
                if (waited >= kCallAgeBeforeCancel)
                    break;
                m_changed.wait_for(lock, kCallAgeBeforeCancel - waited);
            }
            statement = m_running;
            m_sending = true;
            m_sentDuringCall = true;
        }
        sendCancel(statement, false);
    });
}

void StatementWatch::sendCancel(SQLHSTMT statement, bool betweenCalls) {
    const SQLRETURN rc = SQLCancel(statement);
    // Between two calls FreeTDS reads the server's reply up to the acknowledgement itself, and
    // the server's word that it stopped (3204, 3013) comes back as the cancel's own error. Its
    // diagnostics are read only there: during a call they belong to the running call.
    const bool delivered =
        SQL_SUCCEEDED(rc) || (betweenCalls && rc == SQL_ERROR && serverAnswered(statement));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_delivered = m_delivered || delivered;
        m_sending = false;
    }
    m_changed.notify_all();
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
    m_sentDuringCall = false;
    return true;
}

void StatementWatch::end() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_inCall = false;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_sending; });
    m_running = nullptr;
}

bool StatementWatch::callStarts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cancelled && !m_delivered)
        return false;
    m_inCall = true;
    m_callStartedAt = std::chrono::steady_clock::now();
    m_sentDuringCall = false;
    return true;
}

bool StatementWatch::callEnded() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_inCall = false;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_sending; });
    return m_sentDuringCall;
}

bool StatementWatch::deliverLateCancel(SQLHSTMT statement) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_cancelled || m_delivered || m_sending)
            return false;
        m_sending = true;
    }
    sendCancel(statement, true);
    return true;
}
