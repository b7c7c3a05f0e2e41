// Lets another thread follow a statement the statement object runs: each informational message as
// the driver hands it over, and a cancel of the statement while it runs.
#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
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
    // Joins the canceller, which is done with the driver by then: end() waited for it.
    ~StatementWatch();
    StatementWatch(const StatementWatch&) = delete;
    StatementWatch& operator=(const StatementWatch&) = delete;

    // Any thread; returns at once. Asks the driver to cancel the statement now running, or the next
    // one to start, which then does not start at all. Safe to call more than once.
    void cancel();
    // Any thread; never waits for the driver or the server.
    bool cancelRequested() const;
    // Whether the driver took the cancel while the statement ran: what the statement returned after
    // that is cut short even when the driver reports no error (FreeTDS says nothing when the cancel
    // caught the statement between two calls).
    bool cancelDelivered() const;

    // The statement object's side, on the thread that runs the statement. begin() names the
    // handle the statement is about to run on and says whether it may run (false once cancelled);
    // end() comes before the handle is closed or freed, and waits for a cancel being delivered on
    // it, so the driver's cancel never touches a stale handle.
    bool begin(SQLHSTMT statement);
    void end();
    // Around each driver call that waits for the server (the statement's start, the next result).
    // callStarts() says whether the call may be made: false when a cancel came before it, which
    // the caller then delivers (deliverLateCancel) instead. Only while such a call runs, and once
    // it has waited for the server a while, does cancel() call the driver from its own thread, as
    // ODBC allows.
    bool callStarts();
    // After the call has returned, before its diagnostics are read: waits (on this thread) for a
    // cancel the driver is still delivering, then says whether one was sent while the call ran.
    // From here on no cancel touches the handle until this thread delivers one itself, so the
    // diagnostics read next are the call's own. The driver's cancel clears the diagnostics when it
    // catches the call just returned: a call that says it has diagnostics but shows none, with a
    // cancel sent meanwhile, was cut short by the cancel and its outcome is unknown.
    [[nodiscard]] bool callEnded();
    // Between two driver calls of a running statement: a cancel that came while no call was
    // waiting for the server is delivered here (once), on this thread; true when it was sent. The
    // statement's diagnostics then hold the server's answer to it.
    bool deliverLateCancel(SQLHSTMT statement);
    void message(int number, const QString& text) const {
        if (m_sink)
            m_sink(number, text);
    }

private:
    // How long a call must have waited for the server before another thread cancels it.
    static constexpr std::chrono::milliseconds kCallAgeBeforeCancel{100};
    // The driver's cancel, made without the lock: it may wait for the server's acknowledgement,
    // and nobody else (the window's thread least) may wait for that.
    void sendCancel(SQLHSTMT statement, bool betweenCalls);

    MessageSink m_sink;
    mutable std::mutex m_mutex; // guards the members below; never held while the driver runs
    std::condition_variable m_changed; // a call ended, or the driver's cancel returned
    SQLHSTMT m_running = nullptr;
    bool m_inCall = false;
    std::chrono::steady_clock::time_point m_callStartedAt;
    bool m_cancelled = false;
    bool m_delivered = false;
    bool m_sending = false;        // the driver's cancel runs on m_running now
    bool m_sentDuringCall = false; // a cancel was sent while the current call ran
    std::thread m_canceller;
};
