// The window's side of running an operation's plan: long statements through the long-operation
// runner (a worker thread, the progress dialog, Cancel), short ones as round trips (a worker, the
// wait dialog), so the window's thread never waits on the server. Closing the window while a plan
// runs stops it after the statement in progress and waits, under the wait dialog, for the put-back.
#pragma once

#include "DatabaseOperations.h"
#include "LongOperation.h"
#include "Runner.h"

#include <QHash>

class AdoQuery;
class QWidget;

class WindowExecutor : public ops::Executor {
public:
    // longOperation: how the plan's long statement is shown and asked about after a cancel.
    WindowExecutor(QWidget* window, AdoQuery& query, longop::Operation longOperation = {});
    ~WindowExecutor() override;
    void send(const ops::Statement& statement) override;
    void puttingBack() override;
    AdoQuery& query() override { return m_query; }
    // A long statement of the plan shown and asked about as its own operation (a restore's
    // verification under the check's dialog, the restore under its own).
    void setLongOperation(const QString& statement, longop::Operation operation);
    // The statement sent last (the one that stopped the plan, when it did not end).
    QString lastSent() const { return m_lastSent; }

private:
    QWidget* m_window;
    AdoQuery& m_query;
    longop::Operation m_long;
    QHash<QString, longop::Operation> m_longFor;
    QString m_lastSent;
};

namespace operationrun {
// Whether a plan is being run by the window.
bool isRunning();
// The window is being closed while a plan runs: the wait in progress is given up (unless it is the
// put-back's), the plan stops there, its put-back runs, and the window closes once the handler ends.
void closeRequested(QWidget* window);
// Whether the run now ending was asked to close the window.
bool closing();

// What a long statement's cancel left, as the operation's outcome says it; the server could not
// say (Unknown): thrown as an error, and the user is told what the operation may have left.
longop::Left leftBy(ops::Outcome outcome);

// Runs the plan; when the window was closed meanwhile, tells only a put-back that failed and ends
// the handler quietly (the window then closes).
ops::Ran run(QWidget* window, const ops::Plan& plan, WindowExecutor& executor);
} // namespace operationrun
