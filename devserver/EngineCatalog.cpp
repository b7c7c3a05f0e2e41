// Catalog statements: CREATE DATABASE, attach (CREATE DATABASE … FOR ATTACH), detach
// (sp_detach_db) and DROP DATABASE.
#include "Engine.h"

#include "EngineHelpers.h"
#include "Utf.h"

#include <unistd.h>

using engine::fmt;
using engine::folderOf;
using engine::lower;

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
    const std::string dataPath =
        st.dataFiles.empty() ? catalog.folder() + "/" + st.name + ".mdf" : resolve(st.dataFiles[0]);
    const std::string logPath =
        st.logFiles.empty() ? catalog.folder() + "/" + st.name + "_log.ldf" : resolve(st.logFiles[0]);
    for (const std::string& path : {dataPath, logPath}) {
        const int code = storage::checkWrite(path);
        if (code != 0) {
            error(5123, 1, 16,
                  fmt("CREATE FILE encountered operating system error %1 while attempting to open or create "
                      "the "
                      "physical file '%2'.",
                      storage::osErrorText(code), path));
            error(
                1802, 4, 16,
                "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.");
            done(last, true);
            return true;
        }
        if (::access(path.c_str(), F_OK) == 0) {
            error(5170, 1, 16,
                  fmt("Cannot create file '%1' because it already exists. Change the file path or the file "
                      "name, and "
                      "retry the operation.",
                      path));
            error(
                1802, 4, 16,
                "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.");
            done(last, true);
            return true;
        }
    }
    const std::string logical = st.name;
    const std::string logicalLog = st.name + "_log";
    if (!storage::writeAll(dataPath, storage::newDataFile(st.name, logical, logicalLog)) ||
        !storage::writeAll(logPath, storage::newLogFile(logicalLog))) {
        ::unlink(dataPath.c_str());
        error(5123, 1, 16,
              fmt("CREATE FILE encountered operating system error %1 while attempting to open or create the "
                  "physical "
                  "file '%2'.",
                  storage::osErrorText(5), dataPath));
        error(1802, 4, 16,
              "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.");
        done(last, true);
        return true;
    }
    catalog.add(st.name, {{logical, dataPath, 'D'}, {logicalLog, logPath, 'L'}});
    catalog.save();
    done(last, false);
    return true;
}

bool Engine::attach(const tsql::Statement& st, bool last) {
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    if (st.dataFiles.empty() || st.dataFiles[0].empty()) {
        error(1829, 1, 16, "The FOR ATTACH option requires that at least the primary file be specified.");
        done(last, true);
        return true;
    }
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
    // Opening a file the way the engine would: read and write access, and not held by another database.
    auto openFailure = [&](const std::string& path) {
        int code = storage::checkRead(path);
        if (code == 0 && catalog.owner(path))
            code = 32;
        if (code == 0)
            return false;
        if (is2000()) {
            error(5105, 2, 16,
                  fmt("Device activation error. The physical file name '%1' may be incorrect.", path));
            error(1813, 2, 16, fmt("Could not open new database '%1'. CREATE DATABASE is aborted.", st.name));
        } else {
            error(5120, 101, 16,
                  fmt("Unable to open the physical file \"%1\". Operating system error %2: \"%3\".", path,
                      std::to_string(code), storage::osErrorText(code)));
            error(
                1802, 7, 16,
                "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.");
        }
        done(last, true);
        return true;
    };
    auto badHeader = [&](const std::string& path) {
        error(5172, 15, 16,
              fmt("The header for file '%1' is not a valid database file header. The FILE SIZE property is "
                  "incorrect.",
                  path));
        if (is2000())
            error(1813, 2, 16, fmt("Could not open new database '%1'. CREATE DATABASE is aborted.", st.name));
        else
            error(
                1802, 7, 16,
                "CREATE DATABASE failed. Some file names listed could not be created. Check related errors.");
        done(last, true);
        return true;
    };

    const std::string dataPath = resolve(st.dataFiles[0]);
    if (openFailure(dataPath))
        return true;
    std::string contents, logicalData, logicalLog;
    if (!storage::readAll(dataPath, contents) || !storage::readDataHeader(contents, logicalData, logicalLog))
        return badHeader(dataPath);

    std::vector<DbFile> files{{logicalData, dataPath, 'D'}};
    if (!st.logFiles.empty()) {
        // A log file named in the statement must open; only a left-out log gets rebuilt.
        const std::string logPath = resolve(st.logFiles[0]);
        if (openFailure(logPath))
            return true;
        std::string logContents, logName;
        if (!storage::readAll(logPath, logContents) || !storage::readLogHeader(logContents, logName))
            return badHeader(logPath);
        files.push_back({logName.empty() ? logicalLog : logName, logPath, 'L'});
    } else {
        const std::string guess = folderOf(dataPath) + logicalLog + ".ldf";
        std::string logContents, logName;
        if (storage::checkRead(guess) == 0 && !catalog.owner(guess) && storage::readAll(guess, logContents) &&
            storage::readLogHeader(logContents, logName)) {
            files.push_back({logName, guess, 'L'});
        } else {
            const std::string rebuilt = folderOf(dataPath) + st.name + "_log.LDF";
            if (is2000())
                info(5105,
                     fmt("Device activation error. The physical file name '%1' may be incorrect.", guess),
                     10);
            else
                info(5111,
                     fmt("File activation failure. The physical file name \"%1\" may be incorrect.", guess),
                     10);
            storage::writeAll(rebuilt, storage::newLogFile(logicalLog));
            info(5182, fmt("New log file '%1' was created.", rebuilt), 10);
            files.push_back({logicalLog, rebuilt, 'L'});
        }
    }
    catalog.add(st.name, files);
    catalog.save();
    done(last, false);
    return true;
}

bool Engine::exec(const tsql::Statement& st, bool last) {
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
    // The files stay on disk; only the catalog forgets the database.
    catalog.remove(db->name);
    catalog.save();
    m_out.returnStatus(0);
    m_out.done(last ? tds::DoneFinal : tds::DoneMore, 0xE0, 0, 0xFE);
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
        for (const DbFile& f : db->files) {
            if (is2000())
                info(3738, fmt("Deleting database file '%1'.", f.physical));
            ::unlink(f.physical.c_str());
        }
        catalog.remove(db->name);
        catalog.save();
    }
    done(last, failed);
    return true;
}
