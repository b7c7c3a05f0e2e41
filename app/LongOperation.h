// Runs one statement that may take long (backup, restore, attach, drop, a backup's file list) on a
// worker thread while the window stays alive: its controls disabled, the progress dialog up after
// a moment, Cancel sending the driver's cancel. One operation at a time.
#pragma once

#include "BackupStatements.h"
#include "DbError.h"

#include <QString>

#include <functional>

class AdoQuery;
class StatementWatch;
class QWidget;

// Thrown on the window's thread when the user cancelled and the server did not finish the
// operation: the message says what the server was left with. The handler guard shows it and ends
// the handler (see HandlerGuard.h); a caller that must undo something first may add to it and
// throw it on. Not a DbError, so the callers' error handling never mistakes it for a failure.
struct OperationCancelled {
    QString message;
};

namespace longop {

enum class Mode { Execute, OpenRowset };

// What the server holds after a cancelled statement, asked once the statement has ended: an
// acknowledged cancel only says the attention arrived, not that the server stopped in time.
enum class Left { Done, NotDone, Restoring, Unknown };

struct Operation {
    Mode mode = Mode::Execute;
    QString title;   // what runs: "Створення резервної копії бази даних"
    QString subject; // on what: "База даних: X"
    // What the user is told after a cancel, by what the server holds: not done, left restoring,
    // or (the server could not be asked) what it may have left.
    QString notDone;
    QString restoring;
    QString unknown;
    // Asks the server after a cancel, on the window's thread with the statement object free. May
    // throw DbError (then the user is told `unknown`). Unset: the operation counts as not done.
    std::function<Left()> ask;
};

Operation backup(const QString& database, const QString& file);
Operation restore(const QString& database);
Operation attach(const QString& database);
Operation drop(const QString& database);
Operation fileList(const QString& backupFile);

// Runs the query's text as the operation says (execute, or openRowset keeping its rows) and returns
// when the statement has ended, the event loop running meanwhile. A failure is thrown here as the
// DbError the statement gave, also when the user had pressed Cancel meanwhile (the server's own
// error is not hidden behind the cancel). A lost link asks the server as a cancel does: done after
// all returns as a success, anything else throws the link's error. After a cancel the server is asked what it
// holds: done after all returns as a success does, so the caller tells its success; otherwise
// OperationCancelled is thrown with what is true.
void run(QWidget* window, AdoQuery& query, const Operation& operation);

// A second statement run on the same query under the same dialog once the operation's statement has
// succeeded (a backup's verification): the dialog shows its line instead of the operation's title,
// and Cancel cancels it.
struct FollowUp {
    QString statement;
    QString line;      // "Перевірка…"
    QString cancelled; // what the user is told after a cancel of the follow-up
    // What the user is told when a cancel or a lost link kept the follow-up from running and the
    // server says the operation was done all the same: done, but not checked.
    QString notRun;
};
// The follow-up's statement failed: the operation itself had succeeded.
struct FollowUpFailed : DbError {
    explicit FollowUpFailed(const DbError& e) : DbError(e) {}
};
// As run() above, then the follow-up; its failure is thrown as FollowUpFailed, its cancel as
// OperationCancelled after its own message. Returns only when the follow-up ran and succeeded: a
// cancel that kept it from running asks the server, and even an operation done after all is
// thrown as OperationCancelled with `notRun`.
void run(QWidget* window, AdoQuery& query, const Operation& operation, const FollowUp& followUp);

bool isRunning();

// Work of this program's own on a worker thread (a file copy) that the window must wait for in
// the same way: while the object lives isRunning() is true, and a confirmed close request cancels
// the work through `watch` (the worker follows watch.cancelRequested()) and closes the window
// once the handler has ended.
class OwnWork {
public:
    explicit OwnWork(StatementWatch& watch);
    ~OwnWork();
    OwnWork(const OwnWork&) = delete;
    OwnWork& operator=(const OwnWork&) = delete;
};
// The window is being closed while an operation runs: asks whether to cancel it. When the user
// agrees, the operation is cancelled and the window closes once it has ended and the user has
// been told how; either way the window stays open for now.
void askToCancelForClose(QWidget* window);
// Called when an event handler has ended: closes the window a confirmed close is waiting for.
void closeIfAsked();
// The window closes once the handler now running has ended (a close asked for during a plan's run).
void closeOnceHandlerEnds(QWidget* window);

// The share done that a server's progress message reports, or -1 for any other message.
inline int percentOf(int number, const QString& message) {
    return backupsql::percentOf(number, message);
}

} // namespace longop
