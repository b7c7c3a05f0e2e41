// Runs one statement that may take long (backup, restore, attach, drop, a backup's file list) on a
// worker thread while the window stays alive: its controls disabled, the progress dialog up after
// a moment, Cancel sending the driver's cancel. One operation at a time.
#pragma once

#include "DbError.h"

#include <QString>

class AdoQuery;
class QWidget;

// Thrown on the window's thread when the user cancelled: the cancelled message has been shown
// already, and the handler simply ends (see HandlerGuard.h). Not a DbError, so the callers' error
// handling never mistakes it for a failure.
struct OperationCancelled {};

namespace longop {

enum class Mode { Execute, OpenRowset };

struct Operation {
    Mode mode = Mode::Execute;
    QString title;     // what runs: "Створення резервної копії бази даних"
    QString subject;   // on what: "База даних: X"
    QString cancelled; // what the user is told after a cancel, the state left included
};

Operation backup(const QString& database, const QString& file);
Operation restore(const QString& database);
Operation attach(const QString& database);
Operation drop(const QString& database);
Operation fileList(const QString& backupFile);

// Runs the query's text as the operation says (execute, or openRowset keeping its rows) and returns
// when the statement has ended, the event loop running meanwhile. A failure is thrown here as the
// DbError the statement gave; a cancelled statement shows the cancelled message and throws
// OperationCancelled. A cancel the server acknowledged only after the statement had succeeded
// counts as success: the user is told what really happened.
void run(QWidget* window, AdoQuery& query, const Operation& operation);

// A second statement run on the same query under the same dialog once the operation's statement has
// succeeded (a backup's verification): the dialog shows its line instead of the operation's title,
// and Cancel cancels it.
struct FollowUp {
    QString statement;
    QString line;      // "Перевірка…"
    QString cancelled; // what the user is told after a cancel of the follow-up
};
// The follow-up's statement failed: the operation itself had succeeded.
struct FollowUpFailed : DbError {
    explicit FollowUpFailed(const DbError& e) : DbError(e) {}
};
// As run() above, then the follow-up; its failure is thrown as FollowUpFailed, its cancel as
// OperationCancelled after its own message.
void run(QWidget* window, AdoQuery& query, const Operation& operation, const FollowUp& followUp);

bool isRunning();
// The window is being closed while an operation runs: asks whether to cancel it. When the user
// agrees, the operation is cancelled and the window closes once it has ended and the user has
// been told how; either way the window stays open for now.
void askToCancelForClose(QWidget* window);
// Called when an event handler has ended: closes the window a confirmed close is waiting for.
void closeIfAsked();

// The share done that a server's progress message (3211: "10 percent processed.", on SQL Server
// 2000 "10 percent backed up." / "10 percent restored.") reports, or -1 for any other message.
int percentOf(int number, const QString& message);

} // namespace longop
