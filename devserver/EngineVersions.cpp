// The on-disk version of attached files: a newer file is refused with an error that ends the
// connection, a 2000 file on 2012 and later too, and an older one is upgraded in place, step by step.
// DBCC CHECKPRIMARYFILE reads a primary file's version, name and files without attaching it.
#include "Engine.h"

#include "DiskVersions.h"
#include "EngineHelpers.h"
#include "Storage.h"

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

namespace {
// COLLATIONPROPERTY(name, 'CollationID') of the collations the stand-in is run with most; another
// collation is reported by its name (a real server always gives the number).
std::string collationValue(const std::string& name) {
    if (name == "SQL_Latin1_General_CP1_CI_AS")
        return "872468488";
    if (name == "Latin1_General_CI_AS")
        return "53256";
    return name;
}
} // namespace

// DBCC CHECKPRIMARYFILE is undocumented. What is modelled comes from clients that call it and the
// rows they read: option 0 one row, IsMDF (1 for a primary data file); 2 rows of property and
// value (sql_variant): "Database name", "Database version" and "Collation" (the collation's
// number; the stand-in's files do not record one, so the server's own is given); 3 one row per file of the database: status, fileid, name, filename. Option 1 lists the
// files with sysfiles' columns (the sizes in pages), which no capture at hand showed: a guess. A
// file that is no primary file gives 5171 for options 1 to 3, as an attach does; one that cannot be
// opened or is no database file, the attach's errors.
bool Engine::checkPrimaryFile(const tsql::Statement& st, bool last) {
    const std::string path = resolve(st.disk);
    const auto failed = [&](int number, int state, const std::string& text) {
        error(number, state, 16, text);
        done(last, true);
        return true;
    };
    if (const int code = storage::checkRead(path); code != 0) {
        if (is2000())
            return failed(5105, 2, fmt("Device activation error. The physical file name '%1' may be incorrect.", path));
        return failed(5120, 101,
                      fmt("Unable to open the physical file \"%1\". Operating system error %2: \"%3\".", path,
                          std::to_string(code), storage::osErrorText(code)));
    }
    FileHeader header;
    if (!storage::readHeader(path, header))
        return failed(5172, 15,
                      fmt("The header for file '%1' is not a valid database file header. The FILE SIZE property "
                          "is incorrect.",
                          path));
    const bool primary = header.type == 'D' && header.fileId == 1;
    const int option = st.file;
    if (option < 0 || option > 3)
        return failed(2526, 3, "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and "
                               "options.");
    if (option != 0 && !primary)
        return failed(5171, 1, fmt("%1 is not a primary database file.", path));

    using tds::Column;
    using tds::ColumnType;
    std::vector<Column> columns;
    std::vector<std::vector<tds::Value>> rows;
    if (option == 0) {
        columns = {{"IsMDF", ColumnType::Int, 4}};
        rows.push_back({std::string(primary ? "1" : "0")});
    } else if (option == 2) {
        const int version = header.version > 0 ? header.version : m_instance.personality.databaseVersion();
        columns = {{"property", ColumnType::NVarChar, 128}, {"value", ColumnType::Variant, 0}};
        rows.push_back({std::string("Database name"), header.database});
        rows.push_back({std::string("Database version"), std::to_string(version)});
        rows.push_back({std::string("Collation"), collationValue(Catalog::collation())});
    } else {
        if (option == 1)
            columns = {{"fileid", ColumnType::SmallInt, 2}, {"groupid", ColumnType::SmallInt, 2},
                       {"size", ColumnType::Int, 4},        {"maxsize", ColumnType::Int, 4},
                       {"growth", ColumnType::Int, 4},      {"status", ColumnType::Int, 4},
                       {"perf", ColumnType::Int, 4},        {"name", ColumnType::NChar, 128},
                       {"filename", ColumnType::NChar, 260}};
        else
            columns = {{"status", ColumnType::Int, 4},
                       {"fileid", ColumnType::SmallInt, 2},
                       {"name", ColumnType::NChar, 128},
                       {"filename", ColumnType::NChar, 260}};
        for (const DbFile& f : header.members) {
            // 0x2 a disk file, 0x40 a log, 0x100000 growth in percent, as sysfiles has them.
            const std::string status = std::to_string(0x100002 | (f.type == 'L' ? 0x40 : 0));
            const std::string physical = f.fileId == 1 ? path : f.physical;
            if (option == 1) {
                const long long bytes = storage::fileSize(physical);
                rows.push_back({std::to_string(f.fileId), std::to_string(f.groupId),
                                std::to_string(bytes > 0 ? bytes / storage::kPageSize : 0), std::string("-1"),
                                std::string("10"), status, std::string("0"), f.logical, physical});
            } else {
                rows.push_back({status, std::to_string(f.fileId), f.logical, physical});
            }
        }
    }
    m_out.columns(columns);
    for (const auto& row : rows)
        m_out.row(columns, row);
    if (st.noInfoMessages) {
        done(last, false, 0, rows.size(), true);
        return true;
    }
    done(false, false, 0, rows.size(), true);
    info(2528, "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");
    done(last, false);
    return true;
}
