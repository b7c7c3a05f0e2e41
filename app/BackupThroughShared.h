// A backup into a folder the server cannot write (the user's home, closed to the server's account):
// the backup operation offers a plan of its own in which the server writes into the shared folder
// (SharedFolder.h); the backup page verifies it there and then moves it to the path the user chose,
// so the user's own folders are never opened to the server. What this computer supplies for it:
// whether it may be offered, and the shared folder's new file.
#pragma once

#include "BackupOperation.h"
#include "OperationPlan.h"

namespace serverfiles {
class ServerFiles;
}

namespace backupshared {

// Whether the route may be offered: the server's account is known on this computer and the
// backup's target is all it was refused.
bool offered(const OperationPlan& asked);

// Makes (or finds) the shared folder, the server asked whether it reaches it, and a new file's path
// there named as `chosen` is; or the lines that tell why there is none (the administrator's one
// command included) and that nothing was sent. `files` must outlive the call.
ops::backup::SharedFile prepare(const OperationPlan& asked, serverfiles::ServerFiles& files,
                                const QString& chosen);

} // namespace backupshared
