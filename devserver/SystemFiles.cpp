#include "SystemFiles.h"

#include "PathSpace.h"

void giveSystemFiles(Catalog& catalog, const Personality& personality, const std::string& dataFolder) {
    // Logical and physical names as SQL Server's setup makes them (the system database pages of its
    // documentation: master/mastlog, tempdev/templog, modeldev/modellog, MSDBData/MSDBLog). SQL
    // Server on Linux and 2000 spell msdb's files in lower case (msdbdata.mdf, as listings of
    // /var/opt/mssql/data and 2000's Data folders show them).
    const bool lowerMsdb = personality.onLinux() || personality.is2000();
    struct Pair {
        const char* database;
        const char* dataLogical;
        const char* dataFile;
        const char* logLogical;
        const char* logFile;
    };
    const Pair pairs[] = {
        {"master", "master", "master.mdf", "mastlog", "mastlog.ldf"},
        {"tempdb", "tempdev", "tempdb.mdf", "templog", "templog.ldf"},
        {"model", "modeldev", "model.mdf", "modellog", "modellog.ldf"},
        {"msdb", "MSDBData", lowerMsdb ? "msdbdata.mdf" : "MSDBData.mdf", "MSDBLog",
         lowerMsdb ? "msdblog.ldf" : "MSDBLog.ldf"},
    };
    std::lock_guard<std::mutex> lock(catalog.mutex());
    for (const Pair& p : pairs) {
        Database* db = catalog.find(p.database);
        if (!db || !db->files.empty())
            continue;
        db->files.push_back({p.dataLogical, pathspace::join(dataFolder, p.dataFile), 'D', 1, "PRIMARY", 1});
        db->files.push_back({p.logLogical, pathspace::join(dataFolder, p.logFile), 'L', 2, "", 0});
    }
}
