// The stand-in as its own service account: once its ports are bound it gives up root for another
// account's uid, gid and groups, so the kernel judges every file it touches as it would judge
// SQL Server's (mssql on Linux, a service account on Windows).
#pragma once

#include <string>
#include <vector>

namespace runas {

// mkdir -p; true when the folder exists afterwards.
bool makeFolders(const std::string& folder);

// Hands `owned` (the data folder with everything in it, the statement log) to the account, then
// becomes it for good: supplementary groups, gid, uid, each checked, and no way back to root.
// False with the reason when any step fails; the process must not go on then.
bool become(const std::string& user, const std::vector<std::string>& owned, std::string& problem);

// Whether the account (now) may list, create and remove files in its data folder; a folder on the
// way it may not pass through (a home folder closed to others) is named in problem.
bool canUse(const std::string& folder, std::string& problem);

} // namespace runas
