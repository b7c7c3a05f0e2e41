// Whether the folder a backup goes into has room for it, asked before anything is sent: a backup
// that fills the disk fails only at its end (3202, operating-system error 112), after minutes of
// writing, and may leave the disk full for everything else on it. Asked by the backup operation
// (app/operations/BackupChecks.h); the restore's checks measure their folders the same way.
#pragma once

#include "BackupChecks.h"

namespace backuproom = ops::backuproom;
