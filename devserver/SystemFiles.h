// The files of the four system databases, as sys.master_files and sysaltfiles list them: master's
// first file is where clients look for the server's data folder when SERVERPROPERTY has none, and
// its volume is the one sys.dm_os_volume_stats(1, 1) reports.
#pragma once

#include "Catalog.h"
#include "Personality.h"

#include <string>

// dataFolder as the server names it. The files are listed, not made: nothing on disk changes.
void giveSystemFiles(Catalog& catalog, const Personality& personality, const std::string& dataFolder);
