// The promises checked after every step: files and databases change only as the confirmed
// operation says, the user is told what the server shows, and the window is left usable.
#pragma once

#include "Model.h"
#include "Step.h"

#include <QList>
#include <QString>

class TMain;

namespace explore {

struct Violation {
    int invariant = 0; // 1 files, 2 databases, 3 messages, 4 window, 5 consent, 6 stalls, 7 server's reach,
                       // 8 arrived databases
    QString key;       // what kind, kept while a failing sequence is shrunk
    QString detail;
};

// Everything one step did, as the checks need it.
struct StepRecord {
    Step step;
    Asked asked; // Op::None unless a big button was pressed while enabled
    Permit permit;
    Snapshot before, after;
    QList<modal::Request> dialogs; // every dialog shown during the step
    QStringList sent;              // per server, the statements it received during the step
    bool exceptionInEventLoop = false;
    qint64 longestStall = 0;   // ms the window's event loop did not run, at most, during the step
    bool yesGiven = false;     // a question of the step was answered Yes
    bool noBeforeStart = false; // a question was answered No before any operation ran
    int sessionsEnded = 0;     // other programs' sessions the servers ended during the step
    bool yesSinceCount = false; // a Yes was given since those sessions were last all counted
    QStringList refused;       // paths of the operation server A cannot reach as it needs them
    QString afterResume;       // what the window's connection said to a statement once A went on
    // After a restore or attach that succeeded: the users of its database no login matches, as the
    // server lists them after the step ("dbo": an owner it does not know).
    QStringList orphansAfter;
};

// The longest a step may keep the window's event loop from running: wide enough for a loaded
// machine, far below the seconds a blocking call to a slow or stopped server takes.
constexpr qint64 kStallLimitMs = 1000;

QList<Violation> checkFiles(const StepRecord& r);
QList<Violation> checkDatabases(const StepRecord& r);
QList<Violation> checkMessages(const StepRecord& r);
// 5: another program's session is ended, a database replaced, only after a Yes; after a No to a
// question asked before the operation began, nothing changes.
QList<Violation> checkConsent(const StepRecord& r);
// 6: the window's event loop never stops for longer than kStallLimitMs.
QList<Violation> checkStall(const StepRecord& r);
// 7: a path the server cannot reach is never sent without the user's Yes, and an operation that
// did not succeed with it changed nothing; no folder of the user's is opened wider than passing
// through.
QList<Violation> checkServerReach(const StepRecord& r);
// 8: after a restore or attach every user of the database whose login the server lacks, and an
// owner it does not know, is told; no login or user is created or changed but by T-SQL a question
// showed and the user answered Yes.
QList<Violation> checkArrived(const StepRecord& r);
QList<Violation> checkWindow(const StepRecord& r, const TMain* window, const Model& model);

} // namespace explore
