// Free space as the server sees it, computed with statvfs on the host folders that play the
// server's volumes: sys.dm_os_volume_stats for a database's file (2008 R2 SP1 on, so from the 2012
// personality), sys.dm_os_enumerate_fixed_drives (2017 CU1 on, so from 2019), and xp_fixeddrives,
// which only SQL Server on Windows has.
#include "Engine.h"

#include "EngineHelpers.h"
#include "PathSpace.h"

#include <sys/statvfs.h>

using engine::lower;

namespace {

using Row = std::vector<tds::Value>;

struct Volume {
    std::string mountPoint; // as the server names it: "/" or "C:\"
    long long total = -1;
    long long free = -1;
};

Volume volumeOf(const std::string& serverPath) {
    Volume v;
    v.free = storage::freeBytes(serverPath, v.mountPoint);
    struct statvfs vfs {};
    const std::string host = pathspace::host(serverPath);
    if (v.free >= 0 && !host.empty() && ::statvfs(host.c_str(), &vfs) == 0)
        v.total = (long long)vfs.f_blocks * (long long)vfs.f_frsize;
    return v;
}

} // namespace

bool Engine::volumeView(const tsql::Statement& st, bool last) {
    std::vector<std::string> from;
    for (const std::string& part : st.from)
        from.push_back(lower(part));
    if (from.size() < 2 || from[from.size() - 2] != "sys")
        return false;
    const std::string& view = from.back();
    const int year = m_instance.personality.year;
    using tds::ColumnType;
    std::vector<tds::Column> known;
    std::vector<Row> all;
    if (view == "dm_os_volume_stats" && st.fromCall && year >= 2012) {
        known = {{"database_id", ColumnType::Int, 4, 0, false},
                 {"file_id", ColumnType::Int, 4, 0, false},
                 {"volume_mount_point", ColumnType::NVarChar, 512},
                 {"volume_id", ColumnType::NVarChar, 512},
                 {"logical_volume_name", ColumnType::NVarChar, 512},
                 {"file_system_type", ColumnType::NVarChar, 512},
                 {"total_bytes", ColumnType::BigInt, 8, 0, false},
                 {"available_bytes", ColumnType::BigInt, 8, 0, false},
                 {"supports_compression", ColumnType::TinyInt, 1},
                 {"supports_alternate_streams", ColumnType::TinyInt, 1},
                 {"supports_sparse_files", ColumnType::TinyInt, 1},
                 {"is_read_only", ColumnType::TinyInt, 1},
                 {"is_compressed", ColumnType::TinyInt, 1}};
        const int dbid = st.fromArgs.size() > 0 ? std::atoi(st.fromArgs[0].c_str()) : 0;
        const int fileId = st.fromArgs.size() > 1 ? std::atoi(st.fromArgs[1].c_str()) : 0;
        std::string physical;
        {
            std::lock_guard<std::mutex> lock(m_instance.catalog->mutex());
            for (const Database& db : m_instance.catalog->databases())
                if (db.dbid == dbid)
                    for (const DbFile& f : db.files)
                        if (f.fileId == fileId)
                            physical = f.physical;
        }
        // A database or file the server does not have gives no row.
        const Volume v = physical.empty() ? Volume{} : volumeOf(physical);
        if (v.free >= 0) {
            const bool windows = !m_instance.personality.onLinux();
            all.push_back({std::to_string(dbid), std::to_string(fileId), v.mountPoint,
                           std::string(windows ? "\\\\?\\Volume{" + engine::guidFor(v.mountPoint) + "}\\"
                                               : v.mountPoint),
                           std::string(""), std::string(windows ? "NTFS" : "EXT4"), std::to_string(v.total),
                           std::to_string(v.free), std::string(windows ? "1" : "0"),
                           std::string(windows ? "1" : "0"), std::string("1"), std::string("0"),
                           std::string("0")});
        }
    } else if (view == "dm_os_enumerate_fixed_drives" && !st.fromCall && year >= 2019) {
        known = {{"fixed_drive_path", ColumnType::NVarChar, 512},
                 {"drive_type", ColumnType::Int, 4, 0, false},
                 {"drive_type_desc", ColumnType::NVarChar, 256},
                 {"free_space_in_bytes", ColumnType::BigInt, 8, 0, false}};
        // Playing Windows, each drive; on Linux the server's file system from its root.
        std::vector<std::string> roots;
        for (char letter : pathspace::driveLetters())
            roots.push_back(std::string(1, letter) + ":\\");
        if (roots.empty())
            roots.push_back("/");
        for (const std::string& root : roots) {
            const Volume v = volumeOf(pathspace::join(root, "."));
            if (v.free >= 0)
                all.push_back({root, std::string("3"), std::string("DRIVE_FIXED"), std::to_string(v.free)});
        }
    } else {
        return false;
    }
    return answerRows(st, known, all, last);
}

bool Engine::fixedDrives(const tsql::Statement& st, bool last) {
    if (lower(st.name) != "xp_fixeddrives" || m_instance.personality.onLinux())
        return false;
    const std::vector<tds::Column> columns = {{"drive", tds::ColumnType::Char, 1},
                                              {"MB free", tds::ColumnType::Int, 4}};
    // Each drive the server was given; without drives the data folder's volume plays drive C.
    std::vector<Row> rows;
    const std::string letters = pathspace::driveLetters();
    if (letters.empty()) {
        const Volume v = volumeOf(pathspace::join(m_instance.dataFolder, "."));
        if (v.free >= 0)
            rows.push_back({std::string("C"), std::to_string(v.free / (1024 * 1024))});
    }
    for (char letter : letters) {
        const Volume v = volumeOf(std::string(1, letter) + ":\\.");
        if (v.free >= 0)
            rows.push_back({std::string(1, letter), std::to_string(v.free / (1024 * 1024))});
    }
    procedureRows(columns, rows, last);
    return true;
}
