// Lets another thread follow a statement the statement object runs: each informational message as
// the driver hands it over, and a cancel of the statement while it runs.
#pragma once

#include <QString>

#include <functional>
#include <mutex>
#include <thread>

#include <sql.h>

class StatementWatch {
public:
    // Called on the thread that runs the statement, once per informational message, in order,
    // with the server's message number. The callee must not throw and must not touch the
    // statement object.
    using MessageSink = std::function<void(int number, const QString& text)>;
    explicit StatementWatch(MessageSink sink = {}) : m_sink(std::move(sink)) {}
    // Waits for a cancel still being delivered.
    ~StatementWatch();
    StatementWatch(const StatementWatch&) = delete;
    StatementWatch& operator=(const StatementWatch&) = delete;

    // Any thread; returns at once. Asks the driver to cancel the statement now running, or the next
    // one to start, which then does not start at all. Safe to call more than once.
    void cancel();
    bool cancelRequested() const;
    // Whether the driver took the cancel while the statement ran: what the statement returned after
    // that is cut short even when the driver reports no error (FreeTDS says nothing when the cancel
    // caught the statement between two calls).
    bool cancelDelivered() const;

    // The statement object's side, on the thread that runs the statement. begin() names the
    // handle the statement is about to run on and says whether it may run (false once cancelled);
    // end() comes before the handle is closed or freed, and waits for a cancel being delivered on
    // it, so cancel() never touches a stale handle.
    bool begin(SQLHSTMT statement);
    void end();
    // Around each driver call that waits for the server (the statement's start, the next result).
    // callStarts() says whether the call may be made: false when a cancel came before it, which
    // the caller then delivers (deliverLateCancel) instead. Only while such a call runs does
    // cancel() call the driver from its own thread, as ODBC allows. callEnded() returns a lock to
    // hold while the statement's diagnostics are read: the driver's cancel clears them, so it waits.
    bool callStarts();
    [[nodiscard]] std::unique_lock<std::mutex> callEnded();
    // Between two driver calls of a running statement: a cancel that came while no call was
    // waiting for the server is delivered here (once), on this thread.
    void deliverLateCancel(SQLHSTMT statement);
    void message(int number, const QString& text) const {
        if (m_sink)
            m_sink(number, text);
    }

private:
    MessageSink m_sink;
    mutable std::mutex m_mutex; // guards the members below, and the handle while the driver cancels
    SQLHSTMT m_running = nullptr;
    bool m_inCall = false;
    bool m_cancelled = false;
    bool m_delivered = false;
    std::thread m_canceller;
};
