// Which on-disk versions of a database a server opens, and the steps by which it upgrades an older
// one: what decides whether an attach or a restore goes through, fails, or converts the files.
#pragma once

#include "Personality.h"

#include <utility>
#include <vector>

namespace diskversion {

// The on-disk version of the databases of a major version (8 for 2000 … 17 for 2025); a major
// version no personality plays is taken as newer than them all.
int ofMajor(int major);

// The oldest on-disk version the server still opens: 2012 and later no longer open 2000's (539).
int oldestOpened(const Personality& p);

// The upgrade steps from one version to another, as SQL Server names them in its 951 lines
// ("running the upgrade step from version 539 to version 551"): from and to of each, in order.
std::vector<std::pair<int, int>> upgradeSteps(int from, int to);

} // namespace diskversion
