#include "Engine.h"

#include "Utf.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

std::string fmt(const char* pattern, const std::string& a, const std::string& b = "",
                const std::string& c = "") {
    // Tiny %1 %2 %3 substitution: message templates keep their quotes and punctuation readable.
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (*p == '%' && p[1] >= '1' && p[1] <= '3') {
            out += p[1] == '1' ? a : p[1] == '2' ? b : c;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// LIKE with %, _ and [set], case-insensitive as the default collation is.
bool likeMatch(const std::u16string& s, size_t si, const std::u16string& p, size_t pi) {
    while (pi < p.size()) {
        const char16_t c = p[pi];
        if (c == u'%') {
            for (size_t k = si; k <= s.size(); ++k)
                if (likeMatch(s, k, p, pi + 1))
                    return true;
            return false;
        }
        if (si >= s.size())
            return false;
        if (c == u'_') {
            ++si;
            ++pi;
            continue;
        }
        if (c == u'[') {
            const size_t close = p.find(u']', pi + 1);
            if (close != std::u16string::npos) {
                bool negate = pi + 1 < close && p[pi + 1] == u'^';
                bool hit = false;
                for (size_t k = pi + 1 + (negate ? 1 : 0); k < close; ++k) {
                    if (k + 2 < close && p[k + 1] == u'-') {
                        hit = hit || (s[si] >= p[k] && s[si] <= p[k + 2]);
                        k += 2;
                    } else {
                        hit = hit || s[si] == p[k];
                    }
                }
                if (hit == negate)
                    return false;
                ++si;
                pi = close + 1;
                continue;
            }
        }
        if (s[si] != c)
            return false;
        ++si;
        ++pi;
    }
    return si == s.size();
}

bool like(const std::string& value, const std::string& pattern) {
    return likeMatch(utf::toUtf16(utf::fold(value)), 0, utf::toUtf16(utf::fold(pattern)), 0);
}

long long pagesOf(size_t bytes) {
    return (long long)((bytes + 8191) / 8192);
}

std::string guidFor(const std::string& seed) {
    unsigned long long h = 1469598103934665603ULL;
    for (char c : seed)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08llX-%04llX-%04llX-%04llX-%012llX", h >> 32, (h >> 16) & 0xFFFF,
                  h & 0xFFFF, (h >> 48) & 0xFFFF, (h * 31) & 0xFFFFFFFFFFFFULL);
    return buffer;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

const char* const kSchemas[] = {"dbo",
                                "guest",
                                "INFORMATION_SCHEMA",
                                "sys",
                                "db_owner",
                                "db_accessadmin",
                                "db_securityadmin",
                                "db_ddladmin",
                                "db_backupoperator",
                                "db_datareader",
                                "db_datawriter",
                                "db_denydatareader",
                                "db_denydatawriter"};

} // namespace

void Engine::error(int number, int state, int cls, const std::string& text, const std::string& proc) {
    m_out.message(true, number, state, cls, text, m_instance.serverName, proc, 1);
}

void Engine::info(int number, const std::string& text, int cls) {
    m_out.message(false, number, 1, cls, text, m_instance.serverName, "", 1);
}

void Engine::done(bool last, bool failed, uint16_t curCmd, uint64_t rows, bool counted) {
    uint16_t status = last ? tds::DoneFinal : tds::DoneMore;
    if (failed)
        status |= tds::DoneError;
    if (counted)
        status |= tds::DoneCount;
    m_out.done(status, curCmd, rows);
}

// A progress line goes out at once, followed by a DONE with MORE, as SQL Server streams it.
bool Engine::progress(const std::string& text) {
    info(3211, text);
    m_out.done(tds::DoneMore, 0, 0);
    return m_out.flush(false);
}

std::string Engine::missingDatabaseText(const std::string& name) const {
    if (is2000())
        return fmt("Could not locate entry in sysdatabases for database '%1'. No entry found with that name. "
                   "Make sure "
                   "that the name is entered correctly.",
                   name);
    return fmt("Database '%1' does not exist. Make sure that the name is entered correctly.", name);
}

std::string Engine::syntaxText(const tsql::SyntaxError& e) const {
    switch (e.number) {
    case 156:
        return fmt("Incorrect syntax near the keyword '%1'.", e.near);
    case 105:
        return fmt(is2000() ? "Unclosed quotation mark before the character string '%1'."
                            : "Unclosed quotation mark after the character string '%1'.",
                   e.near);
    case 103:
        return fmt("The identifier that starts with '%1' is too long. Maximum length is 128.",
                   e.near.substr(0, 128));
    case 137:
        return fmt(is2000() ? "Must declare the variable '%1'." : "Must declare the scalar variable \"%1\".",
                   e.near);
    case 1038:
        return is2000()
                   ? "Cannot use empty object or column names. Use a single space if necessary."
                   : "An object or column name is missing or empty. For SELECT INTO statements, verify each "
                     "column has a name. For other statements, look for empty alias names. Aliases defined "
                     "as "
                     "\"\" or [] are not allowed. Change the alias to a valid name.";
    default:
        if (is2000())
            return fmt("Line %1: Incorrect syntax near '%2'.", std::to_string(e.line), e.near);
        return fmt("Incorrect syntax near '%1'.", e.near);
    }
}

bool Engine::runBatch(const std::string& text, const tsql::VariableValues* values) {
    if (!m_instance.statementLog.empty()) {
        std::ofstream log(m_instance.statementLog, std::ios::app | std::ios::binary);
        log << text << "\n--- end of batch ---\n";
    }
    if (m_instance.slowMillis > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_instance.slowMillis));

    std::vector<tsql::Statement> statements;
    try {
        statements = values ? tsql::parse(text, *values) : tsql::parse(text);
    } catch (const tsql::SyntaxError& e) {
        const int number = (e.number == 102 && is2000()) ? 170 : e.number;
        if (e.number != 105 && e.number != 103)
            error(number, e.state, e.cls, syntaxText(e));
        if (e.hasUnclosed || e.number == 105) {
            tsql::SyntaxError unclosed = e;
            unclosed.number = 105;
            unclosed.near = e.unclosedTail.empty() ? e.near : e.unclosedTail;
            error(105, 1, 15, syntaxText(unclosed));
        }
        if (e.number == 103)
            error(103, 4, 15, syntaxText(e));
        done(true, true);
        return m_out.flush(true);
    }
    if (statements.empty()) {
        done(true, false);
        return m_out.flush(true);
    }
    for (size_t i = 0; i < statements.size(); ++i) {
        if (!run(statements[i], i + 1 == statements.size()))
            return false;
        if (m_connectionCut)
            return false;
    }
    return m_out.flush(true);
}

bool Engine::run(const tsql::Statement& st, bool last) {
    switch (st.kind) {
    case tsql::Statement::Use:
        return use(st, last);
    case tsql::Statement::Select:
        return select(st, last);
    case tsql::Statement::CreateDatabase:
        return st.forAttach ? attach(st, last) : createDatabase(st, last);
    case tsql::Statement::Exec:
        return exec(st, last);
    case tsql::Statement::DropDatabase:
        return drop(st, last);
    case tsql::Statement::Backup:
        return backup(st, last);
    case tsql::Statement::RestoreFileList:
        return restoreFileList(st, last);
    case tsql::Statement::RestoreDatabase:
        return restoreDatabase(st, last);
    case tsql::Statement::Set:
        done(last, false);
        return true;
    }
    return true;
}

bool Engine::use(const tsql::Statement& st, bool last) {
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    const Database* db = catalog.find(st.name);
    if (!db) {
        error(911, 1, 16, missingDatabaseText(st.name));
        done(last, true);
        return true;
    }
    const std::string old = m_database;
    m_database = db->name;
    catalog.enter(m_session, m_database);
    m_out.envChange(1, m_database, old);
    info(5701, fmt("Changed database context to '%1'.", m_database));
    done(last, false);
    return true;
}

bool Engine::select(const tsql::Statement& st, bool last) {
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    std::vector<tds::Column> columns;
    std::vector<Row> rows;

    std::vector<std::string> from;
    for (const std::string& part : st.from)
        from.push_back(lower(part));
    const std::string table = from.empty() ? "" : from.back();
    const std::string schema = from.size() >= 2 ? from[from.size() - 2] : "";
    const bool sysdatabases =
        (table == "sysdatabases" && (schema.empty() || schema == "dbo" || schema == "sys")) ||
        (table == "databases" && schema == "sys" && !is2000());
    const bool schemata = table == "schemata" && schema == "information_schema";

    auto columnError = [&](const std::string& name) {
        error(207, 1, 16, fmt(is2000() ? "Invalid column name '%1'." : "Invalid column name '%1'.", name));
        done(last, true);
        return true;
    };

    if (st.from.empty()) {
        Row row;
        for (const std::string& c : st.columns) {
            const std::string l = lower(c);
            if (l == "@@version") {
                columns.push_back({"", tds::ColumnType::NVarChar, 300, 0, false});
                row.push_back(m_instance.personality.versionBanner);
            } else if (l == "@@spid") {
                columns.push_back({"", tds::ColumnType::SmallInt, 2, 0, false});
                row.push_back(std::to_string(m_session));
            } else if (l == "@@servername") {
                columns.push_back({"", tds::ColumnType::NVarChar, 128});
                row.push_back(m_instance.serverName);
            } else if (l == "@@max_precision") {
                columns.push_back({"", tds::ColumnType::TinyInt, 1, 0, false});
                row.push_back(std::string("38"));
            } else if (l == "@@trancount" || l == "@@error" || l == "@@rowcount") {
                columns.push_back({"", tds::ColumnType::Int, 4, 0, false});
                row.push_back(std::string("0"));
            } else if (l == "db_name()") {
                columns.push_back({"", tds::ColumnType::NVarChar, 128});
                row.push_back(m_database);
            } else if (c.size() >= 2 && c[0] == 'N' && c[1] == '\'') {
                columns.push_back({"", tds::ColumnType::NVarChar,
                                   int(std::max<size_t>(1, utf::lengthInChars(c) - 2)), 0, false});
                row.push_back(c.substr(2));
            } else if (!c.empty() && c[0] == '\'') {
                columns.push_back(
                    {"", tds::ColumnType::VarChar, int(std::max<size_t>(1, c.size() - 1)), 0, false});
                row.push_back(c.substr(1));
            } else if (l.size() >= 2 && l[0] == '0' && l[1] == 'x') {
                // A binary constant (a bound varbinary): the bytes its hex digits spell.
                std::string bytes;
                for (size_t k = 2; k + 1 < l.size(); k += 2)
                    bytes += char(std::strtol(l.substr(k, 2).c_str(), nullptr, 16));
                columns.push_back(
                    {"", tds::ColumnType::VarBinary, int(std::max<size_t>(1, bytes.size())), 0, false});
                row.push_back(bytes);
            } else if (!l.empty() && (std::isdigit(static_cast<unsigned char>(l[0])) || l[0] == '-')) {
                // A bound bigint keeps its width; a bound int may be negative.
                const long long n = std::strtoll(l.c_str(), nullptr, 10);
                const bool wide = n < -2147483648LL || n > 2147483647LL;
                columns.push_back(
                    {"", wide ? tds::ColumnType::BigInt : tds::ColumnType::Int, wide ? 8 : 4, 0, false});
                row.push_back(l);
            } else if (!l.empty() && l[0] == '@') {
                error(137, 2, 15, fmt("Must declare the scalar variable \"%1\".", c));
                done(last, true);
                return true;
            } else {
                return columnError(c);
            }
        }
        rows.push_back(row);
    } else if (sysdatabases) {
        for (const std::string& c : st.columns) {
            const std::string l = lower(c);
            if (l == "name" || l == "*")
                columns.push_back({"name", tds::ColumnType::NVarChar, 128, 0, false});
            if (l == "dbid" || l == "database_id" || l == "*")
                columns.push_back(
                    {l == "database_id" ? "database_id" : "dbid", tds::ColumnType::SmallInt, 2, 0, false});
            if (l != "name" && l != "*" && l != "dbid" && l != "database_id")
                return columnError(c);
        }
        if (!st.whereColumn.empty() && lower(st.whereColumn) != "name")
            return columnError(st.whereColumn);
        for (const Database& db : catalog.databases()) {
            if (st.whereOp == "=" && !Catalog::sameName(db.name, st.whereValue))
                continue;
            if (st.whereOp == "like" && !like(db.name, st.whereValue))
                continue;
            Row row;
            for (const tds::Column& c : columns)
                row.push_back(c.name == "name" ? db.name : std::to_string(db.dbid));
            rows.push_back(row);
        }
    } else if (schemata) {
        // 2000 lists databases here; from 2005 on the view lists the schemas of the current
        // database, every row carrying the current database's name as CATALOG_NAME.
        for (const std::string& c : st.columns) {
            const std::string l = lower(c);
            if (l == "*") {
                for (const char* n : {"CATALOG_NAME", "SCHEMA_NAME", "SCHEMA_OWNER"})
                    columns.push_back({n, tds::ColumnType::NVarChar, 128, 0, false});
            } else if (l == "catalog_name" || l == "schema_name" || l == "schema_owner") {
                std::string upper = c;
                for (char& ch : upper)
                    ch = char(std::toupper(static_cast<unsigned char>(ch)));
                columns.push_back({upper, tds::ColumnType::NVarChar, 128, 0, false});
            } else {
                return columnError(c);
            }
        }
        const std::string whereColumn = lower(st.whereColumn);
        if (!whereColumn.empty() && whereColumn != "catalog_name" && whereColumn != "schema_name" &&
            whereColumn != "schema_owner")
            return columnError(st.whereColumn);
        std::vector<std::vector<std::string>> candidates; // catalog, schema, owner
        if (is2000()) {
            for (const Database& db : catalog.databases())
                candidates.push_back({db.name, "dbo", "dbo"});
        } else {
            for (const char* s : kSchemas) {
                const std::string owner =
                    (std::string(s) == "guest" || std::string(s) == "sys" ||
                     std::string(s) == "INFORMATION_SCHEMA" || std::string(s).rfind("db_", 0) == 0)
                        ? s
                        : "dbo";
                candidates.push_back({m_database, s, owner});
            }
        }
        for (const auto& candidate : candidates) {
            if (!whereColumn.empty()) {
                const std::string& v = whereColumn == "catalog_name"  ? candidate[0]
                                       : whereColumn == "schema_name" ? candidate[1]
                                                                      : candidate[2];
                if (st.whereOp == "=" && !Catalog::sameName(v, st.whereValue))
                    continue;
                if (st.whereOp == "like" && !like(v, st.whereValue))
                    continue;
            }
            Row row;
            for (const tds::Column& c : columns)
                row.push_back(c.name == "CATALOG_NAME"  ? candidate[0]
                              : c.name == "SCHEMA_NAME" ? candidate[1]
                                                        : candidate[2]);
            rows.push_back(row);
        }
    } else {
        std::string shown;
        for (size_t i = 0; i < st.from.size(); ++i)
            shown += (i ? "." : "") + st.from[i];
        error(208, 1, 16, fmt("Invalid object name '%1'.", shown));
        done(last, true);
        return true;
    }

    m_out.columns(columns);
    for (const Row& row : rows)
        m_out.row(columns, row);
    done(last, false, 0xC1, rows.size(), true);
    return true;
}

std::string Engine::resolve(const std::string& path) const {
    // A relative name lands in the instance's default folder, as SQL Server's default backup
    // and data directories do.
    if (path.empty() || path[0] == '/')
        return path;
    return m_instance.catalog->folder() + "/" + path;
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

bool Engine::backup(const tsql::Statement& st, bool last) {
    const char* terminating = "BACKUP DATABASE is terminating abnormally.";
    Catalog& catalog = *m_instance.catalog;
    BackupSet set;
    std::string device = resolve(st.disk);
    {
        std::lock_guard<std::mutex> lock(catalog.mutex());
        const Database* db = catalog.find(st.name);
        if (!db || Catalog::sameName(st.name, "tempdb")) {
            error(911, 11, 16, missingDatabaseText(st.name));
            error(3013, 1, 16, terminating);
            done(last, true);
            return true;
        }
        const int code = storage::checkWrite(device);
        if (code != 0) {
            error(3201, 1, 16,
                  is2000() ? fmt("Cannot open backup device '%1'. Device error or device off-line. See the "
                                 "SQL Server "
                                 "error log for more details.",
                                 device)
                           : fmt("Cannot open backup device '%1'. Operating system error %2.", device,
                                 storage::osErrorText(code)));
            error(3013, 1, 16, terminating);
            done(last, true);
            return true;
        }
        set.database = db->name;
        for (const DbFile& f : db->files) {
            BackupFile bf{f, {}};
            if (!storage::readAll(f.physical, bf.contents)) {
                error(3203, 1, 16, fmt("Read on \"%1\" failed: %2", f.physical, storage::osErrorText(2)));
                error(3013, 1, 16, terminating);
                done(last, true);
                return true;
            }
            set.files.push_back(std::move(bf));
        }
    }
    if (st.stats > 0) {
        for (int percent = st.stats; percent <= 100; percent += st.stats) {
            if (m_instance.dropBackupHalfway && percent >= 50) {
                m_out.flush(false);
                m_connectionCut = true;
                return false;
            }
            if (!progress(fmt(is2000() ? "%1 percent backed up." : "%1 percent processed.",
                              std::to_string(percent))))
                return false;
        }
    }
    if (!storage::writeAll(device, storage::encodeBackup(set))) {
        error(3202, 1, 16, fmt("Write on \"%1\" failed: %2", device, storage::osErrorText(5)));
        error(3013, 1, 16, terminating);
        done(last, true);
        return true;
    }
    long long total = 0;
    for (const BackupFile& f : set.files) {
        const long long pages = pagesOf(f.contents.size());
        total += pages;
        info(4035, fmt("Processed %1 pages for database '%2', file '%3' on file 1.", std::to_string(pages),
                       set.database, f.file.logical));
    }
    info(3014, fmt("BACKUP DATABASE successfully processed %1 pages in 0.010 seconds (%2 MB/sec).",
                   std::to_string(total), "1.000"));
    done(last, false);
    return true;
}

bool Engine::openBackup(const std::string& path, const char* terminating, BackupSet& set,
                        std::string& device) {
    device = resolve(path);
    const int code = storage::checkRead(device);
    if (code != 0) {
        error(3201, 2, 16,
              is2000() ? fmt("Cannot open backup device '%1'. Device error or device off-line. See the SQL "
                             "Server error "
                             "log for more details.",
                             device)
                       : fmt("Cannot open backup device '%1'. Operating system error %2.", device,
                             storage::osErrorText(code)));
        error(3013, 1, 16, terminating);
        return false;
    }
    std::string contents;
    if (!storage::readAll(device, contents) || !storage::decodeBackup(contents, set)) {
        error(3241, 0, 16,
              fmt("The media family on device '%1' is incorrectly formed. SQL Server cannot process this "
                  "media family.",
                  device));
        error(3013, 1, 16, terminating);
        return false;
    }
    return true;
}

bool Engine::restoreFileList(const tsql::Statement& st, bool last) {
    BackupSet set;
    std::string device;
    if (!openBackup(st.disk, "RESTORE FILELIST is terminating abnormally.", set, device)) {
        done(last, true);
        return true;
    }
    using tds::ColumnType;
    std::vector<tds::Column> all = {
        {"LogicalName", ColumnType::NVarChar, 128},
        {"PhysicalName", ColumnType::NVarChar, 260},
        {"Type", ColumnType::Char, 1},
        {"FileGroupName", ColumnType::NVarChar, 128},
        {"Size", ColumnType::Numeric, 0, 20},
        {"MaxSize", ColumnType::Numeric, 0, 20},
        {"FileId", ColumnType::BigInt, 8},
        {"CreateLSN", ColumnType::Numeric, 0, 25},
        {"DropLSN", ColumnType::Numeric, 0, 25},
        {"UniqueId", ColumnType::Guid, 16},
        {"ReadOnlyLSN", ColumnType::Numeric, 0, 25},
        {"ReadWriteLSN", ColumnType::Numeric, 0, 25},
        {"BackupSizeInBytes", ColumnType::BigInt, 8},
        {"SourceBlockSize", ColumnType::Int, 4},
        {"FileGroupId", ColumnType::Int, 4},
        {"LogGroupGUID", ColumnType::Guid, 16},
        {"DifferentialBaseLSN", ColumnType::Numeric, 0, 25},
        {"DifferentialBaseGUID", ColumnType::Guid, 16},
        {"IsReadOnly", ColumnType::Bit, 1},
        {"IsPresent", ColumnType::Bit, 1},
        {"TDEThumbprint", ColumnType::VarBinary, 32},
        {"SnapshotUrl", ColumnType::NVarChar, 360},
    };
    all.resize(size_t(m_instance.personality.fileListColumns()));
    m_out.columns(all);
    int fileId = 1;
    for (const BackupFile& f : set.files) {
        const bool data = f.file.type == 'D';
        const std::string size = std::to_string(pagesOf(f.contents.size()) * 8192);
        std::vector<tds::Value> row = {
            f.file.logical,
            f.file.physical,
            std::string(1, f.file.type),
            data ? tds::Value("PRIMARY") : tds::Value(),
            size,
            std::string(data ? "35184372080640" : "2199023255552"),
            std::to_string(fileId),
            std::string("0"),
            std::string("0"),
            guidFor(set.database + f.file.logical),
            std::string("0"),
            std::string("0"),
            size,
            std::string("4096"),
            std::string(data ? "1" : "0"),
            tds::Value(),
            std::string("0"),
            std::string("00000000-0000-0000-0000-000000000000"),
            std::string("0"),
            std::string("1"),
            tds::Value(),
            tds::Value(),
        };
        row.resize(all.size());
        m_out.row(all, row);
        ++fileId;
    }
    done(last, false, 0xC1, set.files.size(), true);
    return true;
}

bool Engine::restoreDatabase(const tsql::Statement& st, bool last) {
    const char* terminating = "RESTORE DATABASE is terminating abnormally.";
    BackupSet set;
    std::string device;
    if (!openBackup(st.disk, terminating, set, device)) {
        done(last, true);
        return true;
    }
    Catalog& catalog = *m_instance.catalog;
    std::unique_lock<std::mutex> lock(catalog.mutex());
    auto abort = [&](bool planning) {
        if (planning && !is2000())
            error(3119, 1, 16,
                  "Problems were identified while planning for the RESTORE statement. Previous messages "
                  "provide details.");
        error(3013, 1, 16, terminating);
        done(last, true);
        return true;
    };
    for (const auto& [logical, target] : st.moves) {
        bool known = false;
        for (const BackupFile& f : set.files)
            known = known || Catalog::sameName(f.file.logical, logical);
        if (!known) {
            error(3234, 2, 16,
                  fmt("Logical file '%1' is not part of database '%2'. Use RESTORE FILELISTONLY to list the "
                      "logical file names.",
                      logical, st.name));
            return abort(false);
        }
    }
    const Database* existing = catalog.find(st.name);
    if (existing && Catalog::isSystem(existing->name)) {
        error(
            3108, 1, 16,
            "To restore the master database, the server must be running in single-user mode. For information "
            "on starting in single-user mode, see \"How to: Start an Instance of SQL Server (sqlservr.exe)\" "
            "in Books Online.");
        return abort(false);
    }
    if (existing && !st.replace && !Catalog::sameName(existing->name, set.database)) {
        error(3154, 4, 16,
              fmt("The backup set holds a backup of a database other than the existing '%1' database.",
                  existing->name));
        return abort(false);
    }
    if (existing && catalog.inUseByOthers(existing->name, m_session)) {
        error(3101, 1, 16, "Exclusive access could not be obtained because the database is in use.");
        return abort(false);
    }

    std::vector<BackupFile> targets = set.files;
    for (BackupFile& f : targets)
        for (const auto& [logical, target] : st.moves)
            if (Catalog::sameName(f.file.logical, logical))
                f.file.physical = resolve(target);
    bool problems = false;
    for (const BackupFile& f : targets) {
        const std::string& path = f.file.physical;
        const int code = storage::checkWrite(path);
        const Database* owner = catalog.owner(path);
        if (code == 3) {
            if (is2000())
                error(5105, 2, 16,
                      fmt("Device activation error. The physical file name '%1' may be incorrect.", path));
            else
                error(5133, 1, 16,
                      fmt("Directory lookup for the file \"%1\" failed with the operating system error %2.",
                          path, storage::osErrorText(2)));
            error(3156, 3, 16,
                  fmt("File '%1' cannot be restored to '%2'. Use WITH MOVE to identify a valid location for "
                      "the file.",
                      f.file.logical, path));
            problems = true;
        } else if (code != 0) {
            error(5123, 1, 16,
                  fmt("CREATE FILE encountered operating system error %1 while attempting to open or create "
                      "the physical file '%2'.",
                      storage::osErrorText(code), path));
            error(3156, 3, 16,
                  fmt("File '%1' cannot be restored to '%2'. Use WITH MOVE to identify a valid location for "
                      "the file.",
                      f.file.logical, path));
            problems = true;
        } else if (owner && !(existing && owner->dbid == existing->dbid)) {
            error(1834, 1, 16,
                  fmt("The file '%1' cannot be overwritten.  It is being used by database '%2'.", path,
                      owner->name));
            error(3156, 4, 16,
                  fmt("File '%1' cannot be restored to '%2'. Use WITH MOVE to identify a valid location for "
                      "the file.",
                      f.file.logical, path));
            problems = true;
        }
    }
    if (problems)
        return abort(true);

    for (const BackupFile& f : targets) {
        if (!storage::writeAll(f.file.physical, f.contents)) {
            error(3202, 1, 16, fmt("Write on \"%1\" failed: %2", f.file.physical, storage::osErrorText(5)));
            return abort(false);
        }
    }
    std::vector<DbFile> files;
    for (const BackupFile& f : targets)
        files.push_back(f.file);
    if (existing) {
        // Files the replaced database had elsewhere are no longer anybody's.
        for (const DbFile& old : existing->files) {
            bool reused = false;
            for (const DbFile& f : files)
                reused = reused || f.physical == old.physical;
            if (!reused)
                ::unlink(old.physical.c_str());
        }
        catalog.remove(existing->name);
    }
    catalog.add(st.name, files);
    catalog.save();
    lock.unlock();

    if (st.stats > 0)
        for (int percent = st.stats; percent <= 100; percent += st.stats)
            if (!progress(fmt(is2000() ? "%1 percent restored." : "%1 percent processed.",
                              std::to_string(percent))))
                return false;
    long long total = 0;
    for (const BackupFile& f : targets) {
        const long long pages = pagesOf(f.contents.size());
        total += pages;
        info(4035, fmt("Processed %1 pages for database '%2', file '%3' on file 1.", std::to_string(pages),
                       st.name, f.file.logical));
    }
    info(3014, fmt("RESTORE DATABASE successfully processed %1 pages in 0.010 seconds (%2 MB/sec).",
                   std::to_string(total), "1.000"));
    done(last, false);
    return true;
}
