// Whether a server that runs on this computer as another account may do with a path what a
// statement needs, as the kernel will decide it when the server opens the path: the server's own
// answer (xp_fileexist, sys.dm_os_file_exists) says only that it sees the path, and a folder it may
// pass through but not write in (a home with `--x` for it) comes back only after the statement, as
// operating-system error 5.
//
//   const Account account = accountOf(serverUid);
//   serverreach::judge(plan, account);   // paths the server sees but may not use become refused
//
// Only paths that lie on this computer are judged; the caller makes sure the server shares this
// computer's file system (ServerFiles::sharesFilesWith), or a container's "/" would be judged
// by the host's.
#pragma once

#include "AccountAccess.h"
#include "OperationPlan.h"
#include "ServerFiles.h"

namespace serverreach {

// The path whose mode or ACL stops the account from using `path` with the rights `wanted`
// (Access bits on the path itself; every folder on the way must let it pass): the first folder it
// cannot pass, else the path itself; empty when nothing stops it or the path is not here.
QString whatStops(const QString& path, const Account& account, int wanted);

// Whether any path of the plan the server reaches lies on this computer: only then is there
// anything to judge (and the question whether the server shares our files worth asking).
bool anyHere(const OperationPlan& plan);

// Marks every path of the plan that the server reaches but the account may not use as the
// statement needs (read a backup; read and write an attached database's files; create files in
// a restore's folder; write a backup and its folder) as refused, naming what stops it.
void judge(OperationPlan& plan, const Account& account);

// The server's own data folder, where files that must last (an attached database's) belong like
// any other database's, when it is a folder of this computer the user may create files in and the
// server sees a file made there just now (so it is the same folder, not a container's); empty
// otherwise. Asks the server through `files`; throws DbError as it does.
QString writableDataFolder(serverfiles::ServerFiles& files);

} // namespace serverreach
