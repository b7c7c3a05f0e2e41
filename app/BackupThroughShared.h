// A backup into a folder the server cannot write (the user's home, closed to the server's account):
// offered as the plan's remedy, the server writes it into the shared folder (SharedFolder.h), the
// backup page verifies it there and then moves it to the path the user chose, so the user's own
// folders are never opened to the server.
#pragma once

#include "OperationPlan.h"

namespace serverfiles {
class ServerFiles;
}

namespace backupshared {

// Sets plan.remedy when the server's account is known on this computer and the backup's target is
// what it was refused; Yes makes (or finds) the shared folder, asks the server whether it reaches
// it, and points the plan's statement at a new file there (plan.backupWrittenAt). The statement is
// made by `statementFor` from the path the server is to write. `files` must outlive the plan's
// confirmation.
void offer(OperationPlan& plan, serverfiles::ServerFiles& files,
           std::function<QString(const QString& writtenAt)> statementFor);

} // namespace backupshared
