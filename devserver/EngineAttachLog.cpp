// Attach without the log: SQL Server builds a new log when the database was shut down cleanly and
// refuses otherwise, because the lost log may hold work the data files do not.
#include "Engine.h"

#include "EngineHelpers.h"

#include <algorithm>
#include <unistd.h>

using engine::fmt;
using engine::folderOf;

bool Engine::rebuildLog(const tsql::Statement& st, const FileHeader& primary, const std::string& dataPath,
                        const std::vector<DbFile>& missing, int logCount, std::vector<DbFile>& files) {
    auto aborted = [&]() {
        error(1813, 2, 16, fmt("Could not open new database '%1'. CREATE DATABASE is aborted.", st.name));
        return false;
    };
    // 2000 says in one error that the log is gone and cannot be rebuilt.
    if (is2000() && !primary.clean) {
        error(
            1818, 1, 16,
            fmt("Primary log file '%1' is missing and the database was not cleanly shut down so it cannot be "
                "rebuilt.",
                missing[0].physical));
        return aborted();
    }
    // Each log the server failed to open is named as it goes; these are warnings, not errors. A file
    // that opens but is not this database's log is said to be so.
    for (const DbFile& m : missing) {
        if (storage::checkRead(m.physical) == 0 && !m_instance.catalog->owner(m.physical))
            info(5108,
                 fmt(is2000() ? "Log file '%1' does not match the primary file.  It may be from a different "
                                "database or the log may have been rebuilt previously."
                              : "Log file '%1' does not match the primary file. It may be from a different "
                                "database or the log may have been rebuilt previously.",
                     m.physical));
        else if (is2000())
            info(5105,
                 fmt("Device activation error. The physical file name '%1' may be incorrect.", m.physical));
        else
            info(5111,
                 fmt("File activation failure. The physical file name \"%1\" may be incorrect.", m.physical));
    }
    if (!primary.clean) {
        info(5113,
             "The log cannot be rebuilt because there were open transactions/users when the database was "
             "shutdown, no checkpoint occurred to the database, or the database was read-only. This error "
             "could occur if the transaction log file was manually deleted or lost due to a hardware or "
             "environment failure.");
        return aborted();
    }
    // Plain FOR ATTACH rebuilds a single log only; FOR ATTACH_REBUILD_LOG (2005 on) rebuilds any number.
    if (logCount > 1 && !st.rebuildLog) {
        if (!is2000())
            info(5131, "The log was not rebuilt because there is more than one log file.");
        return aborted();
    }

    // The new log is named after the primary file (its name without the extension, then _log.LDF),
    // in the server's default log folder when one is set, else beside the primary file.
    std::string stem = dataPath.substr(folderOf(dataPath).size());
    if (const size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0)
        stem.erase(dot);
    const std::string folder =
        m_instance.defaultLogDir.empty() ? folderOf(dataPath) : m_instance.defaultLogDir + pathspace::separator();
    const std::string rebuilt = folder + stem + "_log.LDF";
    const int code = osError(storage::checkWrite(rebuilt));
    if (code != 0) {
        error(5123, 1, 16,
              fmt("CREATE FILE encountered operating system error %1 while attempting to open or create the "
                  "physical file '%2'.",
                  storage::osErrorText(code), rebuilt));
        return aborted();
    }
    if (storage::exists(rebuilt)) {
        error(5170, 1, 16,
              fmt(is2000() ? "Cannot create file '%1' because it already exists."
                           : "Cannot create file '%1' because it already exists. Change the file path or the "
                             "file name, and retry the operation.",
                  rebuilt));
        return aborted();
    }
    // The log that takes the place of them all keeps the first log's id and logical name.
    DbFile log;
    for (const DbFile& f : files)
        if (f.type == 'L') {
            log = f;
            break;
        }
    log.physical = rebuilt;
    FileHeader header;
    header.type = 'L';
    header.database = st.name;
    header.familyGuid = primary.familyGuid;
    header.created = primary.created;
    header.fileId = log.fileId;
    header.logical = log.logical;
    // FOR ATTACH_REBUILD_LOG makes a 1 MB log; FOR ATTACH one of the model's size.
    const long long size = st.rebuildLog ? 1 << 20 : m_instance.personality.defaultLogSize();
    if (!storage::createDatabaseFile(rebuilt, header, size)) {
        // What the kernel said: a disk without room is 112 (the log is given its size as it is
        // made), anything else as it maps.
        const int failure = storage::lastError();
        if (failure == 112)
            error(5149, 3, 16, modifyFileText(rebuilt));
        else
            error(5123, 1, 16,
                  fmt("CREATE FILE encountered operating system error %1 while attempting to open or create "
                      "the physical file '%2'.",
                      storage::osErrorText(osError(failure)), rebuilt));
        return aborted();
    }
    // 2000's message table gives 5182 severity 16; whether it is sent so is not known, so the
    // stand-in can send it either way.
    if (is2000() && m_instance.rebuiltLogNoticeAsError)
        error(5182, 1, 16, fmt("New log file '%1' was created.", rebuilt));
    else
        info(5182, fmt("New log file '%1' was created.", rebuilt), 10);
    files.erase(std::remove_if(files.begin(), files.end(), [](const DbFile& f) { return f.type == 'L'; }),
                files.end());
    files.push_back(log);
    std::sort(files.begin(), files.end(),
              [](const DbFile& a, const DbFile& b) { return a.fileId < b.fileId; });
    return true;
}
