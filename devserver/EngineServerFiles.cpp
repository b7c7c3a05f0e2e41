// What SQL Server tells a client about itself and its own files: SERVERPROPERTY, sys.dm_os_host_info,
// xp_fileexist, sys.dm_os_file_exists, xp_dirtree and sys.dm_os_enumerate_filesystem. Every answer
// is looked up as the server's account (after --run-as) inside the server's file system (--root,
// --drive), so a client learns what the server can reach, not what its own user can.
#include "Engine.h"

#include "EngineHelpers.h"
#include "PathSpace.h"
#include "WhereFilter.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fnmatch.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using engine::fmt;
using engine::lower;

namespace {

using Row = std::vector<tds::Value>;

std::string machineName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    std::string s = name;
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// What one path is, as the server's account sees it. A path it may not look at is not there.
struct Seen {
    bool exists = false;
    bool directory = false;
    bool parentExists = false;
};

// A folder the service may not open or create files in (--deny) still shows what is there: looking
// at an entry is its parent's permission, as a real server's account finds on a folder of root's.
bool statAsServer(const std::string& host, struct stat& st) {
    return !host.empty() && ::stat(host.c_str(), &st) == 0;
}

Seen look(const std::string& serverPath) {
    Seen seen;
    std::string path = serverPath;
    // "C:\SQLData\" and "/var/opt/mssql/" name the folder itself.
    while (path.size() > 1 && (path.back() == '/' || (pathspace::windows() && path.back() == '\\')) &&
           !(pathspace::windows() && path.size() == 3))
        path.pop_back();
    struct stat st {};
    if (statAsServer(pathspace::host(path), st)) {
        seen.exists = !S_ISDIR(st.st_mode);
        seen.directory = S_ISDIR(st.st_mode);
    }
    const std::string parent = pathspace::parent(path);
    struct stat up {};
    seen.parentExists = !parent.empty() && statAsServer(pathspace::host(parent), up) && S_ISDIR(up.st_mode);
    return seen;
}

struct Entry {
    std::string name;
    bool directory = false;
    struct stat st {};
};

// The folder's entries in name order; empty when the server's account cannot list it.
std::vector<Entry> listFolder(const std::string& serverFolder) {
    std::vector<Entry> entries;
    const std::string host = pathspace::host(serverFolder);
    if (host.empty() || storage::denied(host))
        return entries;
    DIR* dir = ::opendir(host.c_str());
    if (!dir)
        return entries;
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..")
            continue;
        Entry e;
        e.name = name;
        const std::string full = host + "/" + name;
        if (storage::denied(full) || ::stat(full.c_str(), &e.st) != 0)
            continue;
        e.directory = S_ISDIR(e.st.st_mode);
        entries.push_back(e);
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

std::string timeText(time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S.000", &local);
    return buffer;
}

// The folder with its final separator, as the InstanceDefault…Path properties give it.
std::string asFolder(const std::string& folder) {
    if (folder.empty())
        return folder;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder : folder + pathspace::separator();
}

const int kDeepest = 16; // a walk of the whole tree stops here, as a guard against loops

} // namespace

void Engine::nameColumns(const tsql::Statement& st, std::vector<tds::Column>& columns) {
    if (st.aliases.size() != columns.size())
        return;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (!st.aliases[i].empty())
            columns[i].name = st.aliases[i];
        const std::string& cast = i < st.casts.size() ? st.casts[i] : std::string();
        if (cast.empty())
            continue;
        const size_t open = cast.find('(');
        const std::string type = cast.substr(0, open);
        const std::string length =
            open == std::string::npos ? "" : cast.substr(open + 1, cast.size() - open - 2);
        const int size = length == "max" ? 4001 : length.empty() ? 30 : std::atoi(length.c_str());
        if (type == "nvarchar" || type == "sysname")
            columns[i].type = tds::ColumnType::NVarChar, columns[i].size = type == "sysname" ? 128 : size;
        else if (type == "varchar")
            columns[i].type = tds::ColumnType::VarChar, columns[i].size = size;
        else if (type == "int")
            columns[i].type = tds::ColumnType::Int, columns[i].size = 4;
        columns[i].nullable = true;
    }
}

// SERVERPROPERTY gives a sql_variant; the stand-in sends its text (a number as its digits), which is
// what clients read it as. A name the version does not know is NULL, as on SQL Server.
bool Engine::serverProperty(const std::string& lowered, tds::Column& column, tds::Value& value) const {
    const std::string prefix = "serverproperty('";
    if (lowered.rfind(prefix, 0) != 0 || lowered.size() < prefix.size() + 2)
        return false;
    const std::string name = lowered.substr(prefix.size(), lowered.size() - prefix.size() - 2);
    const Personality& p = m_instance.personality;
    column = {"", tds::ColumnType::NVarChar, 128, 0, true};
    value = std::nullopt;
    if (name == "productversion") {
        value = p.productVersion;
    } else if (name == "productlevel") {
        // The personalities' builds: 2000 is SP4 (8.00.2039), 2005 SP2 (9.00.3042), the rest RTM.
        value = std::string(p.year == 2000 ? "SP4" : p.year == 2005 ? "SP2" : "RTM");
    } else if (name == "edition") {
        value = editionName(m_instance.edition, p);
    } else if (name == "engineedition") {
        value = std::to_string(engineEdition(m_instance.edition, p));
    } else if (name == "machinename") {
        value = machineName();
    } else if (name == "servername") {
        value = m_instance.serverName;
    } else if (name == "instancename") {
        if (!m_instance.instanceName.empty())
            value = m_instance.instanceName;
    } else if (name == "collation") {
        value = Catalog::collation();
    } else if (name == "instancedefaultdatapath" && p.year >= 2016) {
        // "SQL Server 2012 through current version in updates beginning in late 2015" (SERVERPROPERTY's
        // page): the 2012 and 2014 personalities are RTM builds, without them; 2016 RTM came later.
        value = asFolder(m_instance.dataFolder);
    } else if (name == "instancedefaultlogpath" && p.year >= 2016) {
        value = asFolder(m_instance.defaultLogDir.empty() ? m_instance.dataFolder : m_instance.defaultLogDir);
    } else if (name == "instancedefaultbackuppath" && p.year >= 2019) {
        value = asFolder(m_instance.backupFolder.empty() ? m_instance.dataFolder : m_instance.backupFolder);
    } else if (name == "pathseparator" && p.year >= 2017) {
        value = std::string(1, pathspace::separator()); // "\\ on Windows and / on Linux", from 2017 on
    } else if (name == "isclustered" || name == "issingleuser") {
        value = std::string("0");
    }
    return true;
}

// DATABASEPROPERTYEX is a sql_variant too, sent as its text. A database or property it does not know
// is NULL (2000 on); the database's name keeps its case, as the catalog compares it.
bool Engine::databaseProperty(const std::string& column, tds::Column& type, tds::Value& value) {
    const std::string prefix = "databasepropertyex('";
    const std::string lowered = lower(column);
    const size_t comma = column.rfind("','");
    if (lowered.rfind(prefix, 0) != 0 || comma == std::string::npos || comma < prefix.size() ||
        lowered.compare(lowered.size() - 2, 2, "')") != 0)
        return false;
    const std::string name = column.substr(prefix.size(), comma - prefix.size());
    const std::string property = lowered.substr(comma + 3, lowered.size() - comma - 5);
    type = {"", tds::ColumnType::NVarChar, 128, 0, true};
    value = std::nullopt;
    const Database* db = m_instance.catalog->find(name);
    if (db && property == "useraccess")
        value = std::string(userAccessName(db->userAccess));
    return true;
}

bool Engine::fileProcedure(const tsql::Statement& st, bool last) {
    const std::string name = lower(st.name);
    if (name != "xp_fileexist" && name != "xp_dirtree")
        return false;
    std::vector<tds::Column> columns;
    std::vector<Row> rows;
    const std::string path = st.args.empty() ? std::string() : st.args[0];
    if (name == "xp_fileexist") {
        // One row whatever the path; a path the server's account cannot see exists in no column.
        columns = {{"File Exists", tds::ColumnType::Int, 4, 0, false},
                   {"File is a Directory", tds::ColumnType::Int, 4, 0, false},
                   {"Parent Directory Exists", tds::ColumnType::Int, 4, 0, false}};
        const Seen seen = look(path);
        rows.push_back({std::string(seen.exists ? "1" : "0"), std::string(seen.directory ? "1" : "0"),
                        std::string(seen.parentExists ? "1" : "0")});
    } else {
        // xp_dirtree N'folder', depth (0: all), files (1: list files too).
        const int depth = st.args.size() > 1 ? std::atoi(st.args[1].c_str()) : 0;
        const bool files = st.args.size() > 2 && std::atoi(st.args[2].c_str()) != 0;
        columns = {{"subdirectory", tds::ColumnType::NVarChar, 255, 0, true},
                   {"depth", tds::ColumnType::Int, 4, 0, true}};
        if (files)
            columns.push_back({"file", tds::ColumnType::Int, 4, 0, true});
        const int deepest = depth <= 0 ? kDeepest : std::min(depth, kDeepest);
        std::function<void(const std::string&, int)> walk = [&](const std::string& folder, int level) {
            for (const Entry& e : listFolder(folder)) {
                if (!e.directory && !files)
                    continue;
                Row row{e.name, std::to_string(level)};
                if (files)
                    row.push_back(std::string(e.directory ? "0" : "1"));
                rows.push_back(row);
                if (e.directory && level < deepest)
                    walk(pathspace::join(folder, e.name), level + 1);
            }
        };
        walk(path, 1);
    }
    procedureRows(columns, rows, last);
    return true;
}

bool Engine::serverView(const tsql::Statement& st, bool last) {
    std::vector<std::string> from;
    for (const std::string& part : st.from)
        from.push_back(lower(part));
    if (from.size() < 2 || from[from.size() - 2] != "sys" || m_instance.personality.year < 2017)
        return false; // before 2017 none of these exist: the query gets 208 as any unknown object
    const std::string view = from.back();
    std::vector<tds::Column> known;
    std::vector<Row> all;
    using tds::ColumnType;
    if (view == "dm_os_host_info" && !st.fromCall) {
        const bool onLinux = m_instance.personality.onLinux();
        known = {{"host_platform", ColumnType::NVarChar, 256},
                 {"host_distribution", ColumnType::NVarChar, 256},
                 {"host_release", ColumnType::NVarChar, 256},
                 {"host_service_pack_level", ColumnType::NVarChar, 256},
                 {"host_sku", ColumnType::Int, 4},
                 {"os_language_version", ColumnType::Int, 4}};
        if (m_instance.personality.year >= 2022)
            known.push_back({"host_architecture", ColumnType::NVarChar, 256});
        // The release @@VERSION names ("on Linux (Ubuntu 18.04.3 LTS)" gives 18.04); the language
        // is the server's, 1033 for us_english, on Linux as on Windows.
        const std::string& banner = m_instance.personality.versionBanner;
        const size_t ubuntu = banner.find("Ubuntu ");
        std::string release = ubuntu == std::string::npos ? "22.04" : banner.substr(ubuntu + 7);
        const size_t minorEnd = release.find_first_not_of("0123456789", release.find('.') + 1);
        release = release.substr(0, minorEnd);
        Row row = onLinux ? Row{std::string("Linux"), std::string("Ubuntu"), release, std::string(""),
                              std::nullopt, std::string("1033")}
                        : Row{std::string("Windows"), std::string("Windows Server 2019 Datacenter"),
                              std::string("10.0"), std::string(""), std::string("8"), std::string("1033")};
        if (known.size() > row.size())
            row.push_back(std::string("X64"));
        all.push_back(row);
    } else if (view == "dm_os_file_exists" && st.fromCall) {
        known = {{"file_exists", ColumnType::Bit, 1},
                 {"file_is_a_directory", ColumnType::Bit, 1},
                 {"parent_directory_exists", ColumnType::Bit, 1}};
        const Seen seen = look(st.fromArgs.empty() ? std::string() : st.fromArgs[0]);
        all.push_back({std::string(seen.exists ? "1" : "0"), std::string(seen.directory ? "1" : "0"),
                       std::string(seen.parentExists ? "1" : "0")});
    } else if (view == "dm_os_enumerate_filesystem" && st.fromCall && m_instance.personality.year >= 2019) {
        // A cumulative update of 2017 brought it; the 2017 personality plays RTM.
        known = {{"full_filesystem_path", ColumnType::NVarChar, 512},
                 {"parent_directory", ColumnType::NVarChar, 512},
                 {"file_or_directory_name", ColumnType::NVarChar, 512},
                 {"level", ColumnType::Int, 4},
                 {"is_directory", ColumnType::Bit, 1},
                 {"is_read_only", ColumnType::Bit, 1},
                 {"is_system", ColumnType::Bit, 1},
                 {"is_hidden", ColumnType::Bit, 1},
                 {"has_integrity_stream", ColumnType::Bit, 1},
                 {"is_temporary", ColumnType::Bit, 1},
                 {"is_sparse", ColumnType::Bit, 1},
                 {"creation_time", ColumnType::DateTime, 8},
                 {"last_access_time", ColumnType::DateTime, 8},
                 {"last_write_time", ColumnType::DateTime, 8},
                 {"size_in_bytes", ColumnType::BigInt, 8}};
        const std::string top = st.fromArgs.empty() ? std::string() : st.fromArgs[0];
        const std::string pattern = st.fromArgs.size() > 1 ? st.fromArgs[1] : "*";
        const int flags = pathspace::windows() ? FNM_CASEFOLD : 0;
        // The whole subtree, each entry with its depth below the folder asked about (level 0).
        std::function<void(const std::string&, int)> walk = [&](const std::string& folder, int level) {
            for (const Entry& e : listFolder(folder)) {
                const std::string full = pathspace::join(folder, e.name);
                if (::fnmatch(pattern.c_str(), e.name.c_str(), flags) == 0) {
                    const bool readOnly = !(e.st.st_mode & S_IWUSR);
                    all.push_back({full, folder, e.name, std::to_string(level),
                                   std::string(e.directory ? "1" : "0"), std::string(readOnly ? "1" : "0"),
                                   std::string("0"), std::string(e.name[0] == '.' ? "1" : "0"),
                                   std::string("0"), std::string("0"),
                                   std::string(e.st.st_blocks * 512 < e.st.st_size ? "1" : "0"),
                                   timeText(e.st.st_ctime), timeText(e.st.st_atime), timeText(e.st.st_mtime),
                                   std::to_string(e.directory ? 0 : (long long)e.st.st_size)});
                }
                if (e.directory && level < kDeepest)
                    walk(full, level + 1);
            }
        };
        std::string folder = top;
        while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\') &&
               !(pathspace::windows() && folder.size() == 3))
            folder.pop_back();
        walk(folder, 0);
    } else {
        return false;
    }
    return answerRows(st, known, all, last);
}

bool Engine::answerRows(const tsql::Statement& st, const std::vector<tds::Column>& known,
                        const std::vector<Row>& all, bool last) {
    using tds::ColumnType;
    std::vector<size_t> picked;
    for (const std::string& c : st.columns) {
        if (c == "*") {
            for (size_t k = 0; k < known.size(); ++k)
                picked.push_back(k);
            continue;
        }
        size_t k = 0;
        while (k < known.size() && known[k].name != lower(c))
            ++k;
        if (k == known.size()) {
            error(207, 1, 16, fmt("Invalid column name '%1'.", c));
            done(last, true);
            return true;
        }
        picked.push_back(k);
    }
    std::vector<where::Test> tests;
    std::string badColumn;
    const auto dbId = [this](const std::string& name) {
        std::lock_guard<std::mutex> lock(m_instance.catalog->mutex());
        const Database* db = m_instance.catalog->find(name);
        return db ? db->dbid : 0;
    };
    if (!where::prepare(known, st.where, dbId, tests, badColumn)) {
        error(207, 1, 16, fmt("Invalid column name '%1'.", badColumn));
        done(last, true);
        return true;
    }
    std::vector<tds::Column> columns;
    for (size_t k : picked)
        columns.push_back(known[k]);
    nameColumns(st, columns);
    std::vector<Row> rows;
    for (const Row& row : all) {
        if (!where::keeps(known, tests, row))
            continue;
        Row out;
        for (size_t k : picked)
            out.push_back(row[k]);
        rows.push_back(out);
    }
    m_out.columns(columns);
    for (const Row& row : rows)
        m_out.row(columns, row);
    done(last, false, 0xC1, rows.size(), true);
    return true;
}

bool Engine::roomFor(const std::vector<BackupFileEntry>& targets) {
    // volume -> bytes the files need beyond what they already hold there, bytes free
    std::map<std::string, std::pair<long long, long long>> room;
    std::vector<std::string> order;
    for (const BackupFileEntry& f : targets) {
        std::string volume;
        const long long free = storage::freeBytes(f.file.physical, volume);
        if (free < 0)
            continue;
        if (room.emplace(volume, std::make_pair(0LL, free)).second)
            order.push_back(volume);
        const long long there = std::max(0LL, storage::fileSize(f.file.physical));
        room[volume].first += std::max(0LL, f.size - there);
    }
    for (const std::string& volume : order) {
        const auto& [needed, free] = room[volume];
        if (needed <= free)
            continue;
        error(3257, 1, 16,
              fmt("There is insufficient free space on disk volume '%1' to create the database. The "
                  "database requires %2 additional free bytes, while only %3 bytes are available.",
                  volume, std::to_string(needed), std::to_string(free)));
        return false;
    }
    return true;
}

void Engine::procedureRows(const std::vector<tds::Column>& columns, const std::vector<Row>& rows, bool last) {
    m_out.columns(columns);
    for (const Row& row : rows)
        m_out.row(columns, row);
    m_out.done(tds::DoneMore | tds::DoneCount, 0xC1, rows.size(), 0xFF); // DONEINPROC, as a procedure's
    m_out.returnStatus(0);
    m_out.done(last ? tds::DoneFinal : tds::DoneMore, 0xE0, 0, 0xFE);
}
