// The on-disk version of attached files: a newer file is refused with an error that ends the
// connection, a 2000 file on 2012 and later too, and an older one is upgraded in place, step by step.
#include "Engine.h"

#include "DiskVersions.h"
#include "EngineHelpers.h"

#include <algorithm>

using engine::fmt;

bool Engine::fatal(int number, int state, int cls, const std::string& text) {
    error(number, state, cls, text);
    // Severity 20 and above ends the session: the reply goes out and the connection is closed.
    m_out.done(uint16_t(tds::DoneFinal | tds::DoneError | tds::DoneServerError));
    m_out.flush(true);
    m_connectionCut = true;
    return false;
}

bool Engine::openableVersion(const std::string& name, const FileHeader& primary) {
    const Personality& p = m_instance.personality;
    const int version = primary.version > 0 ? primary.version : p.databaseVersion();
    auto aborted = [&]() {
        // The order (1813 before the fatal error) is as users' sqlcmd transcripts remember it.
        error(1813, 2, 16, fmt("Could not open new database '%1'. CREATE DATABASE is aborted.", name));
    };
    if (version > p.databaseVersion()) {
        if (is2000()) {
            // 2000 knows no 948: it looks for its system tables where a newer version keeps others
            // and fails, at severity 21, as users attaching 2005 files on it reported.
            int dbid = 5;
            for (const Database& d : m_instance.catalog->databases())
                dbid = std::max(dbid, d.dbid + 1);
            return fatal(602, 13, 21,
                         fmt("Could not find row in sysindexes for database ID %1, object ID 1, index ID 1. "
                             "Run DBCC CHECKTABLE on sysindexes.",
                             std::to_string(dbid)));
        }
        aborted();
        return fatal(948, 1, 20,
                     fmt("The database '%1' cannot be opened because it is version %2. This server supports "
                         "version %3 and earlier. A downgrade path is not supported.",
                         name, std::to_string(version), std::to_string(p.databaseVersion())));
    }
    if (version < diskversion::oldestOpened(p)) {
        aborted();
        return fatal(950, 1, 20,
                     fmt("Database '%1' cannot be upgraded because its non-release version (%2) is not supported "
                         "by this version of SQL Server. You cannot open a database that is incompatible with "
                         "this version of sqlservr.exe. You must re-create the database.",
                         name, std::to_string(version)));
    }
    return true;
}

bool Engine::upgradeAttached(const std::string& name, const FileHeader& primary) {
    const int current = m_instance.personality.databaseVersion();
    const int version = primary.version > 0 ? primary.version : current;
    if (version >= current)
        return true;
    // Informational lines, one per step; the files keep the new version from now on (the caller
    // rewrites the primary file's header), so the older server can never open them again.
    info(944, fmt("Converting database '%1' from version %2 to the current version %3.", name,
                  std::to_string(version), std::to_string(current)));
    for (const auto& [from, to] : diskversion::upgradeSteps(version, current))
        info(951, fmt("Database '%1' running the upgrade step from version %2 to version %3.", name,
                      std::to_string(from), std::to_string(to)));
    return true;
}
