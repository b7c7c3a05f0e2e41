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
    int invariant = 0; // 1 files, 2 databases, 3 messages, 4 window
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
};

QList<Violation> checkFiles(const StepRecord& r);
QList<Violation> checkDatabases(const StepRecord& r);
QList<Violation> checkMessages(const StepRecord& r);
QList<Violation> checkWindow(const StepRecord& r, const TMain* window, const Model& model);

} // namespace explore
