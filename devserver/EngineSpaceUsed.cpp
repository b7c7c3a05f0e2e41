// How much of a database's files its data takes, as a client asks it from outside the database:
// `[db].sys.allocation_units` (2005 on) and `[db].dbo.sysindexes` (every version; 2000's
// sp_spaceused adds up `reserved` of indid 0, 1 and 255). One allocation unit (indid 1) per data
// file, holding the pages in use that its BACKUP counts and writes for that file.
#include "Engine.h"

#include "EngineHelpers.h"
#include "Storage.h"

#include <fcntl.h>

using engine::Fd;
using engine::fmt;
using engine::lower;
using engine::pagesOf;

bool Engine::spaceView(const tsql::Statement& st, bool last) {
    std::vector<std::string> from;
    for (const std::string& part : st.from)
        from.push_back(lower(part));
    if (from.size() < 2)
        return false;
    const std::string& view = from.back();
    const std::string& schema = from[from.size() - 2];
    const bool units = view == "allocation_units" && schema == "sys" && !is2000();
    const bool indexes = view == "sysindexes" && (schema == "dbo" || schema.empty());
    if (!units && !indexes)
        return false;
    const std::string name = from.size() >= 3 ? st.from[from.size() - 3] : m_database;
    std::vector<long long> pages; // per data file
    bool found = false, restoring = false;
    {
        Catalog& catalog = *m_instance.catalog;
        std::lock_guard<std::mutex> lock(catalog.mutex());
        if (const Database* db = catalog.find(name)) {
            found = true;
            restoring = db->restoring;
            for (const DbFile& f : db->files)
                if (f.type == 'D') {
                    const long long size = std::max(0LL, storage::fileSize(f.physical));
                    Fd fd(storage::openFile(f.physical, O_RDONLY));
                    pages.push_back(fd.fd < 0 ? pagesOf(size_t(size)) : pagesInUse(f, fd.fd, size));
                }
        }
    }
    if (!found) {
        return invalidObject(st, last);
    }
    if (restoring) {
        error(927, 2, 14, restoringText(name));
        done(last, true);
        return true;
    }
    using tds::ColumnType;
    std::vector<tds::Column> known;
    std::vector<std::vector<tds::Value>> all;
    if (units) {
        known = {{"allocation_unit_id", ColumnType::BigInt, 8, 0, false},
                 {"type", ColumnType::TinyInt, 1, 0, false},
                 {"type_desc", ColumnType::NVarChar, 60},
                 {"container_id", ColumnType::BigInt, 8, 0, false},
                 {"data_space_id", ColumnType::Int, 4},
                 {"total_pages", ColumnType::BigInt, 8, 0, false},
                 {"used_pages", ColumnType::BigInt, 8, 0, false},
                 {"data_pages", ColumnType::BigInt, 8, 0, false}};
        for (size_t i = 0; i < pages.size(); ++i) {
            const std::string n = std::to_string(pages[i]);
            all.push_back({std::to_string(72057594037927936LL + (long long)i), std::string("1"),
                           std::string("IN_ROW_DATA"), std::to_string(72057594037927936LL + (long long)i),
                           std::string("1"), n, n, n});
        }
    } else {
        known = {{"id", ColumnType::Int, 4, 0, false}, {"indid", ColumnType::SmallInt, 2, 0, false},
                 {"name", ColumnType::NVarChar, 128},  {"reserved", ColumnType::Int, 4},
                 {"used", ColumnType::Int, 4},         {"dpages", ColumnType::Int, 4}};
        for (size_t i = 0; i < pages.size(); ++i) {
            const std::string n = std::to_string(pages[i]);
            all.push_back({std::to_string(1977058079 + int(i)), std::string("1"),
                           std::string("PK_data_") + std::to_string(i + 1), n, n, n});
        }
    }
    return answerRows(st, known, all, last);
}
