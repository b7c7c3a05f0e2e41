// BACKUP DATABASE, RESTORE FILELISTONLY and RESTORE DATABASE.
#include "Engine.h"

#include "EngineHelpers.h"
#include "Utf.h"

#include <unistd.h>

using engine::fmt;
using engine::guidFor;
using engine::pagesOf;

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
