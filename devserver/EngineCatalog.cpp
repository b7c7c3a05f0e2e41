// Catalog statements: CREATE DATABASE, attach (CREATE DATABASE … FOR ATTACH and
// sp_attach_single_file_db), detach (sp_detach_db) and DROP DATABASE.
#include "Engine.h"

#include "DiskVersions.h"
#include "EngineHelpers.h"
#include "Utf.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <unistd.h>

using engine::fmt;
using engine::folderOf;
using engine::lower;

namespace {

// The header a database file carries; the primary file also lists every file of the database.
FileHeader headerFor(const std::string& database, const std::string& family, const std::string& created,
                     const DbFile& file, const std::vector<DbFile>& all, int version) {
    FileHeader h;
    h.version = version;
    h.type = file.type;
    h.database = database;
    h.familyGuid = family;
    h.created = created;
    h.fileId = file.fileId;
    h.logical = file.logical;
    if (file.fileId == 1)
        h.members = all;
    return h;
}

} // namespace

bool Engine::createFailed(bool last, int code, const std::string& path) {
    // 2000 closes its message with "Check previous errors." at severity 11, later servers with
    // "Check related errors." at 16.
    auto failed = [&](int state) {
        if (is2000())
            error(1802, 1, 11,
                  "CREATE DATABASE failed. Some file names listed could not be created. Check previous errors.");
        else
            error(1802, state, 16,
                  "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.");
        done(last, true);
        return true;
    };
    if (code == 3 && is2000()) {
        // 2000 has no directory lookup message: the file's device cannot be activated.
        error(5105, 2, 16, fmt("Device activation error. The physical file name '%1' may be incorrect.", path));
        return failed(1);
    }
    if (code == 3) {
        // The folder is looked up before the file is created: error 3 on Windows, 2 on Linux.
        error(5133, 1, 16,
              fmt("Directory lookup for the file \"%1\" failed with the operating system error %2.", path,
                  storage::osErrorText(osError(3))));
        return failed(1);
    }
    if (code == 112) {
        // The file is given its whole size as it is created; a disk without room fails there.
        error(5149, 3, 16, modifyFileText(path));
        return failed(4);
    }
    error(5123, 1, 16,
          fmt("CREATE FILE encountered operating system error %1 while attempting to open or create the "
              "physical file '%2'.",
              storage::osErrorText(osError(code)), path));
    return failed(4);
}

bool Engine::createDatabase(const tsql::Statement& st, bool last) {
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    if (utf::lengthInChars(st.name) > 128) {
        error(103, 4, 15,
              fmt("The identifier that starts with '%1' is too long. Maximum length is 128.",
                  st.name.substr(0, 128)));
        done(last, true);
        return true;
    }
    if (catalog.find(st.name)) {
        error(1801, 3, 16, fmt("Database '%1' already exists. Choose a different database name.", st.name));
        done(last, true);
        return true;
    }
    // Files in the order the statement lists them: the ON list, then LOG ON. The primary data file
    // gets id 1 and the first log id 2; the others 3, 4… in that order. Filegroups are numbered by
    // their first appearance after PRIMARY.
    std::vector<tsql::Statement::FileSpec> specs = st.dataSpecs;
    if (specs.empty())
        specs.push_back({st.name, pathspace::join(m_instance.dataFolder, st.name + ".mdf"), -1, ""});
    const size_t dataCount = specs.size();
    if (st.logSpecs.empty())
        specs.push_back({st.name + "_log", pathspace::join(m_instance.dataFolder, st.name + "_log.ldf"), -1, ""});
    else
        specs.insert(specs.end(), st.logSpecs.begin(), st.logSpecs.end());
    std::vector<DbFile> files;
    std::vector<long long> sizes;
    std::vector<std::string> groups{"PRIMARY"};
    int nextId = 3;
    for (size_t i = 0; i < specs.size(); ++i) {
        const bool log = i >= dataCount;
        DbFile f;
        f.type = log ? 'L' : 'D';
        f.fileId = i == 0 ? 1 : i == dataCount ? 2 : nextId++;
        f.logical = !specs[i].name.empty() ? specs[i].name
                    : f.fileId == 1        ? st.name
                    : f.fileId == 2        ? st.name + "_log"
                                           : st.name + "_" + std::to_string(f.fileId);
        f.physical = resolve(specs[i].fileName);
        if (!log) {
            f.filegroup = specs[i].filegroup.empty() ? "PRIMARY" : specs[i].filegroup;
            size_t g = 0;
            while (g < groups.size() && !Catalog::sameName(groups[g], f.filegroup))
                ++g;
            if (g == groups.size())
                groups.push_back(f.filegroup);
            f.groupId = int(g) + 1;
        }
        for (const DbFile& other : files) {
            if (Catalog::sameName(other.logical, f.logical)) {
                error(1828, 1, 16,
                      fmt("The logical file name \"%1\" is already in use. Choose a different name.",
                          f.logical));
                done(last, true);
                return true;
            }
        }
        files.push_back(f);
        const long long model =
            log ? m_instance.personality.defaultLogSize() : m_instance.personality.defaultDataSize();
        sizes.push_back(specs[i].size > 0 ? std::max(specs[i].size, storage::kPageSize) : model);
    }
    long long dataBytes = 0;
    for (size_t i = 0; i < dataCount; ++i)
        dataBytes += sizes[i];
    if (!withinSizeCap(dataBytes)) {
        done(last, true);
        return true;
    }
    for (const DbFile& f : files) {
        const int code = storage::checkWrite(f.physical);
        if (code != 0)
            return createFailed(last, code, f.physical);
        if (storage::exists(f.physical)) {
            error(5170, 1, 16,
                  fmt("Cannot create file '%1' because it already exists. Change the file path or the file "
                      "name, and retry the operation.",
                      f.physical));
            error(
                1802, 4, 16,
                "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.");
            done(last, true);
            return true;
        }
    }
    const std::string family = engine::newGuid();
    const std::string created = engine::nowText();
    for (size_t i = 0; i < files.size(); ++i) {
        if (!storage::createDatabaseFile(files[i].physical,
                                         headerFor(st.name, family, created, files[i], files,
                                                   m_instance.personality.databaseVersion()),
                                         sizes[i])) {
            const int code = storage::lastError();
            for (size_t k = 0; k < i; ++k)
                storage::removeFile(files[k].physical);
            return createFailed(last, code, files[i].physical);
        }
    }
    catalog.add(st.name, files, family, created);
    catalog.save();
    // 2000 says what it allocated for each file (1805, severity 10 in its message table); later
    // versions are silent.
    if (is2000())
        for (size_t i = 0; i < files.size(); ++i) {
            char mb[32];
            std::snprintf(mb, sizeof mb, "%.2f", double(sizes[i]) / (1024 * 1024));
            info(1805, fmt("The CREATE DATABASE process is allocating %1 MB on disk '%2'.", mb, files[i].logical));
        }
    databaseArrived(st.name);
    done(last, false);
    return true;
}

bool Engine::attach(const tsql::Statement& st, bool last) {
    const bool attached = attachFiles(st);
    if (m_connectionCut)
        return false; // a fatal error has ended the connection
    done(last, !attached);
    return true;
}

bool Engine::attachFiles(const tsql::Statement& st) {
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    if (st.dataFiles.empty() || st.dataFiles[0].empty()) {
        error(1829, 1, 16, "The FOR ATTACH option requires that at least the primary file be specified.");
        return false;
    }
    if (utf::lengthInChars(st.name) > 128) {
        error(103, 4, 15,
              fmt("The identifier that starts with '%1' is too long. Maximum length is 128.",
                  st.name.substr(0, 128)));
        return false;
    }
    if (catalog.find(st.name)) {
        error(1801, 3, 16, fmt("Database '%1' already exists. Choose a different database name.", st.name));
        return false;
    }
    // The closing error of a failed attach; false, the attach's result.
    auto aborted = [&](int state2005) {
        if (is2000())
            error(1813, 2, 16, fmt("Could not open new database '%1'. CREATE DATABASE is aborted.", st.name));
        else
            error(
                1802, state2005, 16,
                "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.");
        return false;
    };
    // Opening a file the way the engine would: read and write access, and not held by another database.
    // True when it failed, after the messages.
    auto openFailure = [&](const std::string& path) {
        int code = osError(storage::checkRead(path));
        if (code == 0 && catalog.owner(path))
            code = 32;
        if (code == 0)
            return false;
        if (is2000())
            error(5105, 2, 16,
                  fmt("Device activation error. The physical file name '%1' may be incorrect.", path));
        else
            error(5120, 101, 16,
                  fmt("Unable to open the physical file \"%1\". Operating system error %2: \"%3\".", path,
                      std::to_string(code), storage::osErrorText(code)));
        aborted(7);
        return true;
    };
    auto badHeader = [&](const std::string& path) {
        error(5172, 15, 16,
              fmt("The header for file '%1' is not a valid database file header. The FILE SIZE property is "
                  "incorrect.",
                  path));
        return aborted(7);
    };
    auto mismatch = [&]() {
        error(5173, 1, 16,
              is2000()
                  ? "Cannot associate files with different databases."
                  : "One or more files do not match the primary file of the database. If you are attempting "
                    "to attach a database, retry the operation with the correct files. If this is an "
                    "existing database, the file may be corrupted and should be restored from a backup.");
        return aborted(7);
    };

    std::vector<std::string> named;
    for (const std::string& f : st.dataFiles)
        named.push_back(resolve(f));
    for (const std::string& f : st.logFiles)
        named.push_back(resolve(f));
    const std::string dataPath = named[0];
    if (openFailure(dataPath))
        return false;
    FileHeader primary;
    if (!storage::readHeader(dataPath, primary))
        return badHeader(dataPath);
    if (primary.type != 'D' || primary.fileId != 1) {
        error(5171, 1, 16, fmt("%1 is not a primary database file.", dataPath));
        return aborted(7);
    }
    // Which member of the primary's list a file is; a header written before families existed
    // matches by type alone.
    auto memberOf = [&](const FileHeader& h) -> const DbFile* {
        if (!primary.familyGuid.empty() && h.familyGuid != primary.familyGuid)
            return nullptr;
        for (const DbFile& m : primary.members)
            if (m.type == h.type && (primary.familyGuid.empty() ? m.type == 'L' : m.fileId == h.fileId))
                return &m;
        return nullptr;
    };
    std::map<int, std::string> paths{{1, dataPath}};
    for (size_t i = 1; i < named.size(); ++i) {
        if (openFailure(named[i]))
            return false;
        FileHeader h;
        if (!storage::readHeader(named[i], h))
            return badHeader(named[i]);
        const DbFile* m = memberOf(h);
        if (!m || m->fileId == 1)
            return mismatch();
        paths[m->fileId] = named[i];
    }

    // Files left out of the statement are looked for where the primary file last saw them.
    std::vector<DbFile> files;
    std::vector<DbFile> missingLogs; // where each was looked for
    int logCount = 0;
    for (const DbFile& m : primary.members) {
        DbFile f = m;
        logCount += m.type == 'L';
        const auto given = paths.find(m.fileId);
        if (given != paths.end()) {
            f.physical = given->second;
            files.push_back(f);
            continue;
        }
        if (m.type == 'D') {
            if (openFailure(m.physical))
                return false;
            FileHeader h;
            if (!storage::readHeader(m.physical, h))
                return badHeader(m.physical);
            if (memberOf(h) != &m)
                return mismatch();
            files.push_back(f);
            continue;
        }
        std::string candidate = m.physical.empty() ? folderOf(dataPath) + m.logical + ".ldf" : m.physical;
        FileHeader h;
        if (storage::checkRead(candidate) == 0 && !catalog.owner(candidate) &&
            storage::readHeader(candidate, h) && h.type == 'L' && memberOf(h) == &m) {
            f.physical = candidate;
            files.push_back(f);
        } else {
            f.physical = candidate;
            missingLogs.push_back(f);
            files.push_back(f);
        }
    }
    if (!openableVersion(st.name, primary))
        return false;
    long long dataBytes = 0;
    for (const DbFile& f : files)
        if (f.type == 'D')
            dataBytes += std::max(0LL, storage::fileSize(f.physical));
    if (!withinSizeCap(dataBytes))
        return false;
    if (!missingLogs.empty() && !rebuildLog(st, primary, dataPath, missingLogs, logCount, files))
        return false;
    if (!upgradeAttached(st.name, primary))
        return false;
    const std::string family = primary.familyGuid.empty() ? engine::newGuid() : primary.familyGuid;
    FileHeader updated = headerFor(st.name, family, primary.created, files[0], files,
                                   m_instance.personality.databaseVersion());
    updated.userAccess = primary.userAccess;
    storage::rewriteHeader(dataPath, updated);
    Database& attached = catalog.add(st.name, files, family, primary.created);
    attached.userAccess = primary.userAccess == 1   ? UserAccess::Single
                          : primary.userAccess == 2 ? UserAccess::Restricted
                                                    : UserAccess::Multi;
    catalog.save();
    databaseArrived(st.name);
    return true;
}

bool Engine::exec(const tsql::Statement& st, bool last) {
    if (fileProcedure(st, last) || fixedDrives(st, last))
        return true;
    if (lower(st.name) == "sp_attach_single_file_db")
        return attachSingleFile(st, last);
    // Deprecated since 2005 and still there up to 2022; 2025 no longer has it.
    if (lower(st.name) == "sp_attach_db" && m_instance.personality.year <= 2022)
        return attachDb(st, last);
    if (principalProcedure(st, last))
        return true;
    if (lower(st.name) != "sp_detach_db") {
        error(2812, 62, 16, fmt("Could not find stored procedure '%1'.", st.name));
        done(last, true);
        return true;
    }
    std::string name;
    for (size_t i = 0; i < st.args.size(); ++i)
        if ((st.argNames[i].empty() && i == 0) || st.argNames[i] == "@dbname")
            name = st.args[i];

    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    auto fail = [&](int number, int state, const std::string& text) {
        error(number, state, 16, text, "sp_detach_db");
        m_out.returnStatus(1);
        m_out.done(uint16_t((last ? tds::DoneFinal : tds::DoneMore) | tds::DoneError), 0xE0, 0, 0xFE);
        return true;
    };
    const Database* db = catalog.find(name);
    if (!db)
        return fail(
            15010, 1,
            is2000()
                ? fmt("The database '%1' does not exist. Use sp_helpdb to show available databases.", name)
                : fmt("The database '%1' does not exist. Supply a valid database name. To see available "
                      "databases, use sys.databases.",
                      name));
    if (Catalog::isSystem(db->name))
        return fail(7940, 1, "System databases master, model, msdb, and tempdb cannot be detached.");
    if (catalog.inUseByOthers(db->name, -1))
        return fail(3703, 2,
                    fmt("Cannot detach the database '%1' because it is currently in use.", db->name));
    // The files stay on disk; only the catalog forgets the database. The primary file records that
    // the database was shut down cleanly, so that it may later be attached without its log.
    FileHeader header;
    if (!db->files.empty() && storage::readHeader(db->files[0].physical, header)) {
        header.clean = true;
        header.userAccess = int(db->userAccess);
        storage::rewriteHeader(db->files[0].physical, header);
    }
    catalog.remove(db->name);
    catalog.save();
    m_out.returnStatus(0);
    m_out.done(last ? tds::DoneFinal : tds::DoneMore, 0xE0, 0, 0xFE);
    return true;
}

// sp_attach_single_file_db runs CREATE DATABASE … ON (FILENAME = @physname) FOR ATTACH and answers
// as a procedure: the statement's messages, then its return status.
bool Engine::attachSingleFile(const tsql::Statement& st, bool last) {
    static const char* const kParameters[] = {"@dbname", "@physname"};
    std::string values[2];
    bool given[2] = {false, false};
    for (size_t i = 0; i < st.args.size(); ++i) {
        for (int k = 0; k < 2; ++k) {
            if (st.argNames[i].empty() ? i == size_t(k) : st.argNames[i] == kParameters[k]) {
                values[k] = st.args[i];
                given[k] = true;
            }
        }
    }
    for (int k = 0; k < 2; ++k) {
        if (!given[k]) {
            error(201, 4, 16,
                  is2000() ? fmt("Procedure '%1' expects parameter '%2', which was not supplied.",
                                 "sp_attach_single_file_db", kParameters[k])
                           : fmt("Procedure or function '%1' expects parameter '%2', which was not supplied.",
                                 "sp_attach_single_file_db", kParameters[k]),
                  "sp_attach_single_file_db");
            done(last, true);
            return true;
        }
    }
    tsql::Statement attach;
    attach.kind = tsql::Statement::CreateDatabase;
    attach.forAttach = true;
    attach.name = values[0];
    attach.dataFiles = {values[1]};
    const bool attached = attachFiles(attach);
    if (m_connectionCut)
        return false;
    m_out.returnStatus(attached ? 0 : 1);
    m_out.done(uint16_t((last ? tds::DoneFinal : tds::DoneMore) | (attached ? 0 : tds::DoneError)), 0xE0, 0,
               0xFE);
    return true;
}

// sp_attach_db @dbname, @filename1 … @filename16: CREATE DATABASE … ON (FILENAME = …), … FOR ATTACH,
// answered as a procedure.
bool Engine::attachDb(const tsql::Statement& st, bool last) {
    std::string values[17];
    bool given[17] = {};
    for (size_t i = 0; i < st.args.size(); ++i) {
        int k = -1;
        const std::string named = lower(st.argNames[i]);
        if (named.empty())
            k = i < 17 ? int(i) : -1;
        else if (named == "@dbname")
            k = 0;
        else if (named.rfind("@filename", 0) == 0)
            k = std::atoi(named.c_str() + 9);
        if (k < 0 || k > 16 || (k > 0 && named.size() > 9 && std::to_string(k) != named.substr(9))) {
            error(8145, 2, 16,
                  fmt("%1 is not a parameter for procedure %2.", st.argNames[i].empty() ? "@filename17"
                                                                                        : st.argNames[i],
                      "sp_attach_db"),
                  "sp_attach_db");
            done(last, true);
            return true;
        }
        values[k] = st.args[i];
        given[k] = true;
    }
    for (int k = 0; k < 2; ++k) {
        if (!given[k]) {
            const std::string parameter = k == 0 ? "@dbname" : "@filename1";
            error(201, 4, 16,
                  is2000() ? fmt("Procedure '%1' expects parameter '%2', which was not supplied.", "sp_attach_db",
                                 parameter)
                           : fmt("Procedure or function '%1' expects parameter '%2', which was not supplied.",
                                 "sp_attach_db", parameter),
                  "sp_attach_db");
            done(last, true);
            return true;
        }
    }
    tsql::Statement attach;
    attach.kind = tsql::Statement::CreateDatabase;
    attach.forAttach = true;
    attach.name = values[0];
    for (int k = 1; k <= 16; ++k)
        if (given[k] && !values[k].empty())
            attach.dataFiles.push_back(values[k]);
    const bool attached = attachFiles(attach);
    if (m_connectionCut)
        return false;
    m_out.returnStatus(attached ? 0 : 1);
    m_out.done(uint16_t((last ? tds::DoneFinal : tds::DoneMore) | (attached ? 0 : tds::DoneError)), 0xE0, 0,
               0xFE);
    return true;
}

bool Engine::drop(const tsql::Statement& st, bool last) {
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    bool failed = false;
    for (const std::string& name : st.names) {
        const Database* db = catalog.find(name);
        if (!db) {
            error(3701, 1, 11,
                  is2000()
                      ? fmt("Cannot drop the database '%1', because it does not exist in the system catalog.",
                            name)
                      : fmt("Cannot drop the database '%1', because it does not exist or you do not have "
                            "permission.",
                            name));
            failed = true;
            continue;
        }
        if (Catalog::isSystem(db->name)) {
            error(3708, 1, 16,
                  fmt("Cannot drop the database '%1' because it is a system database.", db->name));
            failed = true;
            continue;
        }
        if (catalog.inUseByOthers(db->name, -1)) {
            error(3702, 4, 16,
                  is2000() ? fmt("Cannot drop the database '%1' because it is currently in use.", db->name)
                           : fmt("Cannot drop database \"%1\" because it is currently in use.", db->name));
            failed = true;
            continue;
        }
        // 2000 names the log files first, then the data files.
        std::vector<DbFile> files = db->files;
        if (is2000())
            std::stable_partition(files.begin(), files.end(), [](const DbFile& f) { return f.type == 'L'; });
        for (const DbFile& f : files) {
            if (is2000())
                info(3738, fmt("Deleting database file '%1'.", f.physical));
            storage::removeFile(f.physical);
        }
        catalog.remove(db->name);
        catalog.save();
    }
    done(last, failed);
    return true;
}
