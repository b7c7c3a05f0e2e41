// Carries out a confirmed plan: its statements and nothing else, in its order, through one channel
// that refuses whatever is not next in the plan; the put-back when a statement fails after the
// plan's lasting changes were written down; the journal kept in step.
//
//   WindowExecutor executor(...);              // or a test's, sending on its own statement object
//   const ops::Ran ran = ops::run(plan, executor, ops::journal());
//   if (!ran.done) ... tell ran.stopped, ran.putBackFailed ...
#pragma once

#include "Journal.h"
#include "Plan.h"

#include <QString>
#include <exception>
#include <stdexcept>

class AdoQuery;

namespace ops {

// Sends one statement and waits for it as its pace says; throws what stopped it (DbError, a
// cancel). The window sends long statements through its long-operation runner (a worker thread, the
// progress dialog, Cancel) and short ones as round trips; tests send them on a statement object.
class Executor {
public:
    virtual ~Executor() = default;
    virtual void send(const Statement& statement) = 0;
    // The put-back begins: what is sent from here on gives the server back what the plan took.
    virtual void puttingBack() {}
    // Where the runner asks the server what is still left after a put-back that failed.
    virtual AdoQuery& query() = 0;
};

// A statement that is not the plan's next one: a programming error, refused before anything is sent.
struct NotInPlan : std::logic_error {
    explicit NotInPlan(const QString& statement)
        : std::logic_error("statement not in the confirmed plan: " + statement.toStdString()) {}
};

// The one way statements reach the executor: the plan's statements in order, and after
// beginPutBack() the put-back's.
class Channel {
public:
    Channel(const Plan& plan, Executor& executor) : m_plan(plan), m_executor(executor) {}
    void send(const QString& text); // throws NotInPlan, or what the executor throws
    void beginPutBack();
    // Passes over the put-back's next statement unsent (its onlyAfter statement never went through).
    void passOver();
    bool allSent() const;

private:
    const Plan& m_plan;
    Executor& m_executor;
    bool m_puttingBack = false;
    int m_next = 0;
};

struct Ran {
    bool done = false;          // every statement succeeded
    std::exception_ptr stopped; // otherwise what stopped it (a DbError, a cancel)
    bool putBackSent = false;
    // The put-back's failure in the server's words; empty when none was needed or it went through.
    QString putBackFailed;
    QList<JournalEntry> left; // written down and not taken back
};

// Never throws what stopped the plan: that is in Ran. Throws NotInPlan only for a broken plan.
Ran run(const Plan& plan, Executor& executor, Journal& journal);

// Whether what the entry says was left is still there, by the server's word: false also when the
// database is gone. Throws DbError when the server cannot be asked.
bool stillLeft(AdoQuery& query, const JournalEntry& entry);

} // namespace ops
