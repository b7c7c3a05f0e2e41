// BACKUP DATABASE, RESTORE HEADERONLY, RESTORE FILELISTONLY and RESTORE DATABASE. Files are streamed
// between database files and backup media in bounded chunks; STATS messages go out as the bytes are done.
#include "Engine.h"

#include "BackupFormat.h"
#include "DiskVersions.h"
#include "EngineHelpers.h"
#include "Utf.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using engine::Fd;
using engine::fmt;
using engine::guidFor;
using engine::pagesOf;

namespace {

// 3202 and 3203: 2000 gives the operating-system code as a status and sends the reader to the
// error log; later versions name the error.
std::string writeFailed(bool is2000, const std::string& path, int code) {
    return is2000 ? fmt("Write on '%1' failed, status = %2. See the SQL Server error log for more details.",
                        path, std::to_string(code))
                  : fmt("Write on \"%1\" failed: %2", path, storage::osErrorText(code));
}
std::string readFailed(bool is2000, const std::string& path, int code) {
    return is2000 ? fmt("Read on '%1' failed, status = %2. See the SQL Server error log for more details.",
                        path, std::to_string(code))
                  : fmt("Read on \"%1\" failed: %2", path, storage::osErrorText(code));
}

// "0.451" seconds and "424.922" MB/sec, as 3014 prints them.
std::string threeDecimals(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

// The server version a backup set records, "15.0.2000".
std::string versionOf(const Personality& p) {
    return std::to_string(p.major) + "." + std::to_string(p.minor) + "." + std::to_string(p.build);
}

struct WrittenBy {
    int major = 0, minor = 0, build = 0;
};

// The version that wrote a set; sets written before it was recorded count as this server's own.
WrittenBy writtenBy(const BackupSetHeader& set, const Personality& p) {
    WrittenBy w{p.major, p.minor, p.build};
    if (!set.version.empty())
        std::sscanf(set.version.c_str(), "%d.%d.%d", &w.major, &w.minor, &w.build);
    return w;
}

bool newerThan(const BackupSetHeader& set, const Personality& p) {
    const WrittenBy w = writtenBy(set, p);
    return w.major > p.major || (w.major == p.major && w.minor > p.minor);
}

int utcOffsetQuarters() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return int(local.tm_gmtoff / 900);
}

// The on-disk version the database in a set had where it was backed up; 0 for a set written before
// sets recorded their server, which counts as this server's own.
int writtenDatabaseVersion(const BackupSetHeader& set) {
    if (set.version.empty())
        return 0;
    int major = 0;
    std::sscanf(set.version.c_str(), "%d", &major);
    return diskversion::ofMajor(major);
}

// 3169, for a set too new for this server and, from 2012 on, for one too old (a 2000 backup): both
// versions as the servers name themselves, "15.00.2000".
std::string incompatibleBackupText(const BackupSetHeader& set, const Personality& p) {
    const WrittenBy w = writtenBy(set, p);
    const auto shown = [](int major, int minor, int build) {
        char text[32];
        std::snprintf(text, sizeof text, "%d.%02d.%04d", major, minor, build);
        return std::string(text);
    };
    return fmt("The database was backed up on a server running version %1. That version is incompatible with "
               "this server, which is running version %2. Either restore the database on a server that "
               "supports the backup, or use a backup that is compatible with this server.",
               shown(w.major, w.minor, w.build), shown(p.major, p.minor, p.build));
}

// 2000, 2005 and 2008 cannot even read the media a newer version writes: they take it for damaged
// media (3241) or, 2000, for a set striped over more devices than it allows (3205). 3169 came with
// 2012 (users restoring 2008 R2 and 2012 backups on 2005 and 2008 met 3241, on 2000 3205).
bool unreadableHere(const BackupSetHeader& set, const Personality& p) {
    return p.year <= 2008 && newerThan(set, p);
}

} // namespace

bool Engine::terminate(int number, int state, const std::string& text, const char* terminating, bool last) {
    error(number, state, 16, text);
    error(3013, 1, 16, terminating);
    done(last, true);
    return true;
}

bool Engine::damagedSet(const BackupSetHeader& set, const backupformat::SetChecksum& sum,
                        const char* terminating) {
    if (!set.checksums || sum.hex() == set.checksum)
        return false;
    error(3189, 1, 16, "Damage to the backup set was detected.");
    error(3013, 1, 16, terminating);
    return true;
}

bool Engine::restoreVerifyOnly(const tsql::Statement& st, bool last) {
    const char* terminating = "VERIFY DATABASE is terminating abnormally.";
    BackupSetHeader set;
    if (!openMedia(st, terminating, set)) {
        done(last, true);
        return true;
    }
    if (st.checksum && !set.checksums) {
        return terminate(3187, 1,
                         "RESTORE WITH CHECKSUM cannot be specified because the backup set does not contain "
                         "checksum information.",
                         terminating, last);
    }
    // Every byte is read, as a restore reads it, and goes through the set's checksum when it has one.
    const std::string device = resolve(st.disk);
    Fd media(storage::openFile(device, O_RDONLY));
    backupformat::SetChecksum sum;
    Transfer t;
    t.total = set.bytes();
    t.stats = is2000() ? 0 : st.stats; // 2000's VERIFYONLY has no STATS
    t.paced = false;
    t.nextPercent = t.stats;
    for (const BackupFileEntry& f : set.files) {
        if (media.fd < 0 || !copyWithProgress(media.fd, f.offset, f.size, -1, t, set.checksums ? &sum : nullptr)) {
            if (m_connectionCut)
                return false;
            if (m_attention)
                return cancelled(terminating);
            return terminate(3203, 1, fmt("Read on \"%1\" failed: %2", device, storage::osErrorText(38)),
                             terminating, last);
        }
    }
    if (damagedSet(set, sum, terminating)) {
        done(last, true);
        return true;
    }
    info(3262, is2000() ? std::string("The backup set is valid.")
                        : fmt("The backup set on file %1 is valid.", std::to_string(set.position)));
    done(last, false);
    return true;
}

long long Engine::pagesInSet(const BackupFileEntry& f) {
    return f.pages > 0 ? f.pages : pagesOf(size_t(f.size));
}

long long Engine::pagesInUse(const DbFile& file, int fd, long long size) const {
    // Page 0, our own header, stands for the file's header and allocation pages, which the
    // baseline already counts; any other page that holds data is a page in use.
    const long long written = std::max(0LL, storage::pagesHoldingData(fd, size) - 1);
    const long long baseline = file.type == 'L'   ? 2 // the log's active part of a quiet database
                               : file.fileId == 1 ? m_instance.personality.emptyDatabasePages()
                                                  : 8; // a secondary file's first extent
    return std::min(pagesOf(size_t(size)), baseline + written);
}

bool Engine::fileProcessed(const BackupFileEntry& f, const std::string& database, int position) {
    // Each file's line goes out like a progress line, as SQL Server streams it.
    return progress(fmt("Processed %1 pages for database '%2', file '%3' on file ", std::to_string(pagesInSet(f)),
                        database, f.file.logical) +
                        std::to_string(position) + ".",
                    4035);
}

bool Engine::reportCopied(const char* operation, const std::vector<BackupFileEntry>& files,
                          const std::string& database, int position, bool linesSent,
                          std::chrono::steady_clock::time_point started, bool last, int upgradedFrom) {
    const double seconds =
        std::max(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 0.001);
    long long pages = 0;
    for (const BackupFileEntry& f : files) {
        pages += pagesInSet(f);
        if (!linesSent && !fileProcessed(f, database, position))
            return false;
    }
    // A database from an older server is converted as it is restored, through the versions SQL
    // Server's upgrade steps pass.
    const int current = m_instance.personality.databaseVersion();
    if (upgradedFrom > 0 && upgradedFrom < current) {
        if (!progress(fmt("Converting database '%1' from version %2 to the current version %3.", database,
                          std::to_string(upgradedFrom), std::to_string(current)),
                      944))
            return false;
        for (const auto& [from, to] : diskversion::upgradeSteps(upgradedFrom, current))
            if (!progress(fmt("Database '%1' running the upgrade step from version %2 to version %3.",
                              database, std::to_string(from), std::to_string(to)),
                          951))
                return false;
    }
    // The rate is that of the pages processed, as 3014 counts it, not of the files' bytes.
    const double megabytes = double(pages) * 8192.0 / (1024.0 * 1024.0);
    info(3014, fmt("%1 successfully processed %2 pages in %3 seconds (", operation, std::to_string(pages),
                   threeDecimals(seconds)) +
                   threeDecimals(megabytes / seconds) + " MB/sec).");
    done(last, false);
    return true;
}

bool Engine::attentionArrived() {
    if (m_attention)
        return true;
    pollfd p{m_out.fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    uint8_t header[8];
    const ssize_t n = ::recv(m_out.fd(), header, sizeof header, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) {
        // The client went away: nobody is waiting for the rest.
        m_connectionCut = true;
        return true;
    }
    // Told to ignore it, the statement runs on; the session answers the attention after the
    // statement's last DONE, as SQL Server does when a cancel comes too late.
    if (n < 1 || header[0] != 0x06 || m_instance.ignoreAttention)
        return false;
    // An attention is a bare packet header; take it off the wire so the session does not answer it twice.
    size_t got = 0;
    while (got < sizeof header) {
        const ssize_t r = ::recv(m_out.fd(), header + got, sizeof header - got, 0);
        if (r <= 0)
            break;
        got += size_t(r);
    }
    m_attention = true;
    return true;
}

bool Engine::cancelled(const char* terminating) {
    error(3204, 1, 16,
          is2000()
              ? "Operator aborted backup or restore. See the error messages returned to the console for more "
                "details."
              : "The backup or restore was aborted.");
    error(3013, 1, 16, terminating);
    m_out.done(tds::DoneAttention);
    return true;
}

bool Engine::copyWithProgress(int in, long long offset, long long size, int out, Transfer& t,
                              backupformat::SetChecksum* sum) {
    const long long base = t.done;
    const double bytesPerSecond = t.paced ? m_instance.throughputMBps * 1024.0 * 1024.0 : 0.0;
    // Paced copies go in pieces of a twentieth of a second, so shares and cancels are seen in time.
    // Unpaced ones in pieces that stay in the processor's cache: every byte is copied twice through
    // the buffer (in from the source's pages, out to the target's), and a buffer larger than the
    // cache (1 MB against 512 KB of L2 a core here) made restores two to three times slower than cp.
    const size_t chunk = bytesPerSecond > 0
                             ? size_t(std::clamp(bytesPerSecond / 20.0, 8192.0, double(1 << 20)))
                             : size_t(64 << 10);
    const storage::CopyResult result = storage::copyBytes(
        in, offset, size, out,
        [&](long long copied) {
            t.done = base + copied;
            if (bytesPerSecond > 0) {
                const auto due =
                    t.started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(double(t.done) / bytesPerSecond));
                while (std::chrono::steady_clock::now() < due && !attentionArrived())
                    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                        due - std::chrono::steady_clock::now(), std::chrono::milliseconds(10)));
            }
            if (attentionArrived())
                return false;
            // SQL Server counts progress in whole transfers (1 MB, its default for disk) and reports the
            // share done when it looks, not the step it passed: 12, 25, 37 … with STATS = 10, and as
            // few lines as there are transfers.
            const long long kTransfer = 1 << 20;
            const long long looked = t.done >= t.total ? t.done : t.done / kTransfer * kTransfer;
            if (t.stats > 0 && t.nextPercent <= 100 &&
                looked * 100 >= t.nextPercent * std::max(t.total, 1LL)) {
                const int reached = int(std::min(100LL, looked * 100 / std::max(t.total, 1LL)));
                const char* verb = is2000() ? (t.backup ? "%1 percent backed up." : "%1 percent restored.")
                                            : "%1 percent processed.";
                if (!m_instance.silent && !progress(fmt(verb, std::to_string(reached)))) {
                    m_connectionCut = true;
                    return false;
                }
                // The fault cuts the connection once half is reported done.
                if (m_instance.dropBackupHalfway && t.backup && reached >= 50 && reached < 100) {
                    m_connectionCut = true;
                    return false;
                }
                t.nextPercent = (reached / t.stats + 1) * t.stats;
            }
            return true;
        },
        chunk, sum ? std::function<void(const char*, size_t)>([sum](const char* data, size_t n) { sum->add(data, n); })
                   : nullptr);
    t.result = result;
    if (result == storage::CopyResult::Done && (m_attention || m_connectionCut))
        t.result = storage::CopyResult::Stopped;
    return t.result == storage::CopyResult::Done;
}

bool Engine::backup(const tsql::Statement& st, bool last) {
    const char* terminating = "BACKUP DATABASE is terminating abnormally.";
    Catalog& catalog = *m_instance.catalog;
    const std::string device = resolve(st.disk);
    auto fail = [&](int number, int state, const std::string& text) {
        return terminate(number, state, text, terminating, last);
    };
    BackupSetHeader set;
    std::vector<Fd> sources;
    {
        std::lock_guard<std::mutex> lock(catalog.mutex());
        const Database* db = catalog.find(st.name);
        if (Catalog::sameName(st.name, "tempdb"))
            return fail(3147, 1, "Backup and restore operations are not allowed on database tempdb.");
        if (!db)
            return fail(911, 11, missingDatabaseText(st.name));
        if (db->restoring)
            return fail(927, 2, restoringText(db->name));
        set.singleUser = db->userAccess == UserAccess::Single;
        const int code = osError(storage::checkWrite(device));
        if (code != 0)
            return fail(3201, 1,
                        is2000()
                            ? fmt("Cannot open backup device '%1'. Device error or device off-line. See the "
                                  "SQL Server error log for more details.",
                                  device)
                            : fmt("Cannot open backup device '%1'. Operating system error %2.", device,
                                  storage::osErrorText(code)));
        set.database = db->name;
        set.familyGuid = db->familyGuid.empty() ? guidFor(db->name) : db->familyGuid;
        set.created = db->created;
        for (const DbFile& f : db->files) {
            Fd fd(storage::openFile(f.physical, O_RDONLY));
            const long long size = storage::fileSize(f.physical);
            if (fd.fd < 0 || size < 0)
                return fail(3203, 1, readFailed(is2000(), f.physical, 2));
            BackupFileEntry entry{f, size, 0};
            entry.pages = pagesInUse(f, fd.fd, size);
            set.files.push_back(entry);
            sources.push_back(std::move(fd));
        }
    }
    set.name = st.backupName;
    set.description = st.backupDescription;
    set.setGuid = engine::newGuid();
    set.user = m_instance.loginName;
    set.server = m_instance.serverName;
    set.machine = m_instance.serverName.substr(0, m_instance.serverName.find('\\'));
    set.started = engine::nowText();
    set.version = versionOf(m_instance.personality);
    set.collation = Catalog::collation();
    set.checksums = st.checksum;
    set.copyOnly = st.copyOnly;

    // Without INIT the set goes after the last one; media whose end is not a complete set cannot
    // take another.
    std::vector<BackupSetHeader> sets;
    long long appendAt = 0;
    const long long existing = storage::fileSize(device);
    if (!st.init && existing > 0) {
        const auto read = backupformat::readMedia(device, sets, appendAt);
        if ((read != backupformat::ReadResult::Ok || appendAt != existing) && is2000()) {
            // 2000 words it as a warning of its own; the backup stops all the same.
            info(3266,
                 fmt("The backup data in '%1' is incorrectly formatted. Backups cannot be appended, but "
                     "existing backup sets may still be usable.",
                     device),
                 10); // a warning of 2000's own, at its table's severity
            error(3013, 1, 16, terminating);
            done(last, true);
            return true;
        }
        if (read != backupformat::ReadResult::Ok || appendAt != existing)
            return fail(
                3266, 1,
                fmt("The backup data at the end of \"%1\" is incorrectly formatted. Backup sets on the "
                    "media might be damaged and unusable. To determine the backup sets on the media, use "
                    "RESTORE HEADERONLY. To determine the usability of the backup sets, run RESTORE "
                    "VERIFYONLY. If all of the backup sets are incomplete, reformat the media using "
                    "BACKUP WITH FORMAT, which destroys all the backup sets.",
                    device));
    }
    set.position = int(sets.size()) + 1;
    backupformat::SetWriter writer;
    if (!writer.open(device, st.init, st.init ? 0 : appendAt) || !writer.writeHeader(set))
        return fail(3202, 1, writeFailed(is2000(), device, storage::lastError()));

    const auto started = std::chrono::steady_clock::now();
    Transfer t;
    t.total = set.bytes();
    t.stats = st.stats;
    t.nextPercent = st.stats;
    t.backup = true;
    backupformat::SetChecksum sum;
    for (size_t i = 0; i < set.files.size(); ++i) {
        if (!copyWithProgress(sources[i].fd, 0, set.files[i].size, writer.fd(), t,
                              set.checksums ? &sum : nullptr)) {
            if (m_connectionCut)
                return false;
            if (m_attention)
                return cancelled(terminating); // the set stays on the media unfinished
            if (t.result == storage::CopyResult::ReadFailed)
                return fail(3203, 1, readFailed(is2000(), set.files[i].file.physical, 2));
            return fail(3202, 1, writeFailed(is2000(), device, storage::lastError()));
        }
        if (interleavesFileLines() && !fileProcessed(set.files[i], set.database, set.position))
            return false;
    }
    if (!writer.finish(engine::nowText(), set.checksums ? sum.hex() : std::string()))
        return fail(3202, 1, writeFailed(is2000(), device, storage::lastError()));
    if (m_instance.damageBackups)
        backupformat::damageMiddle(device, st.init ? 0 : appendAt); // a failing disk, after the fact
    return reportCopied("BACKUP DATABASE", set.files, set.database, set.position, interleavesFileLines(), started,
                        last);
}

bool Engine::openMedia(const tsql::Statement& st, const char* terminating, BackupSetHeader& set,
                       std::vector<BackupSetHeader>* all) {
    const std::string device = resolve(st.disk);
    const int code = osError(storage::checkRead(device));
    if (code != 0) {
        error(3201, 2, 16,
              is2000() ? fmt("Cannot open backup device '%1'. Device error or device off-line. See the SQL "
                             "Server error log for more details.",
                             device)
                       : fmt("Cannot open backup device '%1'. Operating system error %2.", device,
                             storage::osErrorText(code)));
        error(3013, 1, 16, terminating);
        return false;
    }
    std::vector<BackupSetHeader> sets;
    long long appendAt = 0;
    if (backupformat::readMedia(device, sets, appendAt) != backupformat::ReadResult::Ok || sets.empty()) {
        error(3241, 0, 16,
              fmt("The media family on device '%1' is incorrectly formed. SQL Server cannot process this "
                  "media family.",
                  device));
        error(3013, 1, 16, terminating);
        return false;
    }
    for (const BackupSetHeader& s : sets) {
        if (!s.damaged)
            continue;
        error(3241, 0, 16,
              fmt("The media family on device '%1' is incorrectly formed. SQL Server cannot process this "
                  "media family.",
                  device));
        error(3013, 1, 16, terminating);
        return false;
    }
    for (const BackupSetHeader& s : sets) {
        if (!unreadableHere(s, m_instance.personality))
            continue;
        if (is2000())
            error(3205, 1, 16, "Too many backup devices specified for backup or restore; only 64 are allowed.");
        else
            error(3241, 0, 16,
                  fmt("The media family on device '%1' is incorrectly formed. SQL Server cannot process this "
                      "media family.",
                      device));
        error(3013, 1, 16, terminating);
        return false;
    }
    if (all) {
        *all = sets;
        return true;
    }
    const int wanted = st.file > 0 ? st.file : 1;
    if (wanted > int(sets.size())) {
        error(4038, 1, 16, fmt("Cannot find file ID %1 on device '%2'.", std::to_string(wanted), device));
        error(3013, 1, 16, terminating);
        return false;
    }
    set = sets[size_t(wanted - 1)];
    if (!set.complete) {
        error(
            3256, 1, 16,
            fmt("The backup set on device '%1' was terminated while it was being created and is incomplete. "
                "RESTORE sequence is terminated abnormally.",
                device));
        error(3013, 1, 16, terminating);
        return false;
    }
    const int written = writtenDatabaseVersion(set);
    if (newerThan(set, m_instance.personality) ||
        (written > 0 && written < diskversion::oldestOpened(m_instance.personality))) {
        error(3169, 1, 16, incompatibleBackupText(set, m_instance.personality));
        error(3013, 1, 16, terminating);
        return false;
    }
    std::sort(set.files.begin(), set.files.end(), [](const BackupFileEntry& a, const BackupFileEntry& b) {
        return a.file.fileId < b.file.fileId;
    });
    return true;
}

bool Engine::restoreHeaderOnly(const tsql::Statement& st, bool last) {
    BackupSetHeader unused;
    std::vector<BackupSetHeader> sets;
    if (!openMedia(st, "RESTORE HEADERONLY is terminating abnormally.", unused, &sets)) {
        done(last, true);
        return true;
    }
    using tds::ColumnType;
    std::vector<tds::Column> all = {
        {"BackupName", ColumnType::NVarChar, 128},
        {"BackupDescription", ColumnType::NVarChar, 255},
        {"BackupType", ColumnType::SmallInt, 2},
        {"ExpirationDate", ColumnType::DateTime, 8},
        {"Compressed", is2000() ? ColumnType::TinyInt : ColumnType::Bit, 1},
        {"Position", ColumnType::SmallInt, 2},
        {"DeviceType", ColumnType::TinyInt, 1},
        {"UserName", ColumnType::NVarChar, 128},
        {"ServerName", ColumnType::NVarChar, 128},
        {"DatabaseName", ColumnType::NVarChar, 128},
        {"DatabaseVersion", ColumnType::Int, 4},
        {"DatabaseCreationDate", ColumnType::DateTime, 8},
        {"BackupSize", ColumnType::Numeric, 0, 20},
        {"FirstLSN", ColumnType::Numeric, 0, 25},
        {"LastLSN", ColumnType::Numeric, 0, 25},
        {"CheckpointLSN", ColumnType::Numeric, 0, 25},
        {is2000() ? "DifferentialBaseLsn" : "DatabaseBackupLSN", ColumnType::Numeric, 0, 25},
        {"BackupStartDate", ColumnType::DateTime, 8},
        {"BackupFinishDate", ColumnType::DateTime, 8},
        {"SortOrder", ColumnType::SmallInt, 2},
        {"CodePage", ColumnType::SmallInt, 2},
        {"UnicodeLocaleId", ColumnType::Int, 4},
        {"UnicodeComparisonStyle", ColumnType::Int, 4},
        {"CompatibilityLevel", ColumnType::TinyInt, 1},
        {"SoftwareVendorId", ColumnType::Int, 4},
        {"SoftwareVersionMajor", ColumnType::Int, 4},
        {"SoftwareVersionMinor", ColumnType::Int, 4},
        {"SoftwareVersionBuild", ColumnType::Int, 4},
        {"MachineName", ColumnType::NVarChar, 128},
        {"Flags", ColumnType::Int, 4},
        {"BindingID", ColumnType::Guid, 16},
        {"RecoveryForkID", ColumnType::Guid, 16},
        {"Collation", ColumnType::NVarChar, 128},
        {"FamilyGUID", ColumnType::Guid, 16},
        {"HasBulkLoggedData", ColumnType::Bit, 1},
        {"IsSnapshot", ColumnType::Bit, 1},
        {"IsReadOnly", ColumnType::Bit, 1},
        {"IsSingleUser", ColumnType::Bit, 1},
        {"HasBackupChecksums", ColumnType::Bit, 1},
        {"IsDamaged", ColumnType::Bit, 1},
        {"BeginsLogChain", ColumnType::Bit, 1},
        {"HasIncompleteMetaData", ColumnType::Bit, 1},
        {"IsForceOffline", ColumnType::Bit, 1},
        {"IsCopyOnly", ColumnType::Bit, 1},
        {"FirstRecoveryForkID", ColumnType::Guid, 16},
        {"ForkPointLSN", ColumnType::Numeric, 0, 25},
        {"RecoveryModel", ColumnType::NVarChar, 60},
        {"DifferentialBaseLSN", ColumnType::Numeric, 0, 25},
        {"DifferentialBaseGUID", ColumnType::Guid, 16},
        {"BackupTypeDescription", ColumnType::NVarChar, 60},
        {"BackupSetGUID", ColumnType::Guid, 16},
        {"CompressedBackupSize", ColumnType::BigInt, 8},
        {"containment", ColumnType::TinyInt, 1, 0, false},
        {"KeyAlgorithm", ColumnType::NVarChar, 32},
        {"EncryptorThumbprint", ColumnType::VarBinary, 20},
        {"EncryptorType", ColumnType::NVarChar, 32},
        {"LastValidRestoreTime", ColumnType::DateTime, 8},
        {"TimeZone", ColumnType::NVarChar, 32},
        {"CompressionAlgorithm", ColumnType::NVarChar, 32},
    };
    all.resize(size_t(m_instance.personality.headerOnlyColumns()));
    m_out.columns(all);
    const Personality& p = m_instance.personality;
    long long rows = 0;
    for (const BackupSetHeader& s : sets) {
        if (!s.complete)
            continue; // an interrupted set is no set: it cannot be restored (3256)
        // The set's byte size as the server counts it: the pages it wrote (as 3014 reports them)
        // and the set's own blocks, not the media file's size.
        long long pages = 0;
        for (const BackupFileEntry& f : s.files)
            pages += pagesInSet(f);
        const std::string size = std::to_string(backupSizeOf(pages));
        const std::string lsn = std::to_string(1000000 + s.position) + "00000001";
        const auto optional = [](const std::string& v) { return v.empty() ? tds::Value() : tds::Value(v); };
        const WrittenBy written = writtenBy(s, p);
        std::vector<tds::Value> row = {
            optional(s.name),
            optional(s.description),
            std::string("1"),
            tds::Value(),
            std::string("0"),
            std::to_string(s.position),
            std::string("2"), // a disk file named in the statement, as real servers report it
            s.user.empty() ? std::string("sa") : s.user,
            s.server,
            s.database,
            // The version the database had where it was backed up, as the set records it.
            std::to_string(writtenDatabaseVersion(s) > 0 ? writtenDatabaseVersion(s) : p.databaseVersion()),
            optional(s.created.empty() ? s.started : s.created),
            size,
            lsn,
            std::to_string(1000000 + s.position) + "00000002",
            lsn,
            std::string("0"),
            s.started,
            s.finished,
            std::string("52"),
            std::string("0"),
            std::string("1033"),
            std::string("196609"),
            // The database's level where it was backed up: its server's (80 on 2000, then major × 10;
            // a database upgraded from an older version keeps its older level, which is not modelled).
            std::to_string(written.major == 8 ? 80 : written.major * 10),
            std::string("4608"),
            std::to_string(written.major),
            std::to_string(written.minor),
            std::to_string(written.build),
            s.machine,
            // 16: the set has backup checksums; 8: the database was single-user.
            std::to_string(512 | (s.checksums ? 16 : 0) | (s.singleUser ? 8 : 0)),
            guidFor(s.familyGuid + "binding"),
            guidFor(s.familyGuid + "fork"),
            // The database's collation as the set records it: a backup from a case-sensitive server
            // says so on every server that reads it.
            s.collation.empty() ? std::string("SQL_Latin1_General_CP1_CI_AS") : s.collation,
            s.familyGuid,
            std::string("0"),
            std::string("0"),
            std::string("0"),
            std::string(s.singleUser ? "1" : "0"), // IsSingleUser
            std::string(s.checksums ? "1" : "0"), // HasBackupChecksums
            std::string("0"),
            std::string("0"),
            std::string("0"),
            std::string("0"),
            std::string(s.copyOnly ? "1" : "0"), // IsCopyOnly
            guidFor(s.familyGuid + "fork"),
            tds::Value(),
            std::string("FULL"),
            tds::Value(),
            tds::Value(),
            std::string("Database"),
            s.setGuid,
            size,
            std::string("0"),
            tds::Value(),
            tds::Value(),
            tds::Value(),
            tds::Value(),
            // TimeZone: the server's offset from UTC as a number (of quarter hours, as msdb's
            // backupset.time_zone counts), not a name.
            std::to_string(utcOffsetQuarters()),
            tds::Value(),
        };
        row.resize(all.size());
        m_out.row(all, row);
        ++rows;
    }
    done(last, false, 0xC1, uint64_t(rows), true);
    return true;
}

bool Engine::restoreFileList(const tsql::Statement& st, bool last) {
    BackupSetHeader set;
    if (!openMedia(st, "RESTORE FILELIST is terminating abnormally.", set)) {
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
    for (const BackupFileEntry& f : set.files) {
        const bool data = f.file.type == 'D';
        const std::string size = std::to_string(pagesOf(size_t(f.size)) * 8192);
        std::vector<tds::Value> row = {
            f.file.logical,
            f.file.physical,
            std::string(1, f.file.type),
            data ? tds::Value(f.file.filegroup.empty() ? "PRIMARY" : f.file.filegroup) : tds::Value(),
            size,
            std::string(data ? "35184372080640" : "2199023255552"),
            std::to_string(f.file.fileId),
            std::string("0"),
            std::string("0"),
            guidFor(set.familyGuid + f.file.logical),
            std::string("0"),
            std::string("0"),
            std::to_string(pagesInSet(f) * 8192), // BackupSizeInBytes: the pages in use the set holds
            std::string("4096"),
            std::to_string(f.file.groupId),
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
    }
    done(last, false, 0xC1, set.files.size(), true);
    return true;
}

bool Engine::restoreDatabase(const tsql::Statement& st, bool last) {
    const char* terminating = "RESTORE DATABASE is terminating abnormally.";
    BackupSetHeader set;
    if (!openMedia(st, terminating, set)) {
        done(last, true);
        return true;
    }
    const std::string device = resolve(st.disk);
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
        for (const BackupFileEntry& f : set.files)
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
    // Without REPLACE only the same database (its family, kept through backup and restore) may be
    // restored over.
    const bool sameFamily =
        existing && (existing->familyGuid.empty() ? Catalog::sameName(existing->name, set.database)
                                                  : existing->familyGuid == set.familyGuid);
    if (existing && !st.replace && !sameFamily) {
        error(3154, 4, 16,
              fmt("The backup set holds a backup of a database other than the existing '%1' database.",
                  existing->name));
        return abort(false);
    }
    // This session's own current database cannot be replaced under it (3102 16/1 then 3013, as
    // captures of real servers show); the client is told to work from master.
    if (existing && Catalog::sameName(existing->name, m_database)) {
        error(3102, 1, 16,
              fmt("RESTORE cannot process database '%1' because it is in use by this session. It is "
                  "recommended that the master database be used when performing this operation.",
                  existing->name));
        return abort(false);
    }
    if (existing && catalog.inUseByOthers(existing->name, m_session)) {
        error(3101, 1, 16, "Exclusive access could not be obtained because the database is in use.");
        return abort(false);
    }

    // Each file goes where its MOVE says, every other one to the path recorded in the backup.
    std::vector<BackupFileEntry> targets = set.files;
    for (BackupFileEntry& f : targets)
        for (const auto& [logical, target] : st.moves)
            if (Catalog::sameName(f.file.logical, logical))
                f.file.physical = resolve(target);
    bool problems = false;
    for (size_t i = 0; i < targets.size(); ++i) {
        const DbFile& f = targets[i].file;
        const std::string& path = f.physical;
        const int code = storage::checkWrite(path);
        const Database* owner = catalog.owner(path);
        const auto cannotRestore = [&](int state) {
            error(3156, state, 16,
                  fmt("File '%1' cannot be restored to '%2'. Use WITH MOVE to identify a valid location for "
                      "the file.",
                      f.logical, path));
            problems = true;
        };
        for (size_t k = 0; k < i; ++k) {
            if (targets[k].file.physical == path) {
                error(3176, 1, 16,
                      fmt("File '%1' is claimed by '%2'(", path, f.logical) + std::to_string(f.fileId) +
                          ") and '" + targets[k].file.logical + "'(" +
                          std::to_string(targets[k].file.fileId) +
                          "). The WITH MOVE clause can be used to relocate one or more files.");
                problems = true;
            }
        }
        if (code != 0 && m_instance.personality.onLinux() && pathspace::driveLetterPath(path)) {
            // A Windows path (a backup made on Windows, restored without MOVE) names no folder here.
            error(5133, 1, 16,
                  fmt("Directory lookup for the file \"%1\" failed with the operating system error %2.", path,
                      storage::osErrorText(2)));
            cannotRestore(3);
        } else if (code != 0 && m_instance.personality.onLinux()) {
            // SQL Server on Linux checks the target before creating it and names that check; a
            // missing folder reads as a missing file there.
            error(3634, 1, 16,
                  fmt("The operating system returned the error '%1' while attempting "
                      "'RestoreContainer::ValidateTargetForCreation' on '%2'.",
                      storage::osErrorText(code == 3 ? 2 : code), path));
            cannotRestore(5);
        } else if (code == 3) {
            if (is2000())
                error(5105, 2, 16,
                      fmt("Device activation error. The physical file name '%1' may be incorrect.", path));
            else // Windows looks the folder up and finds no path: error 3
                error(5133, 1, 16,
                      fmt("Directory lookup for the file \"%1\" failed with the operating system error %2.",
                          path, storage::osErrorText(3)));
            cannotRestore(3);
        } else if (code != 0) {
            error(5123, 1, 16,
                  fmt("CREATE FILE encountered operating system error %1 while attempting to open or create "
                      "the physical file '%2'.",
                      storage::osErrorText(code), path));
            cannotRestore(3);
        } else if (owner && !(existing && owner->dbid == existing->dbid)) {
            error(1834, 1, 16,
                  fmt("The file '%1' cannot be overwritten.  It is being used by database '%2'.", path,
                      owner->name));
            cannotRestore(4);
        } else if (!st.replace && !owner && storage::fileSize(path) >= 0) {
            // A file no database holds is overwritten only WITH REPLACE.
            error(3142, 1, 16,
                  is2000()
                      ? fmt("File '%1' cannot be restored over the existing '%2'. Reissue the RESTORE "
                            "statement using WITH REPLACE to overwrite pre-existing files.",
                            f.logical, path)
                      : fmt("File \"%1\" cannot be restored over the existing \"%2\". Reissue the RESTORE "
                            "statement using WITH REPLACE to overwrite pre-existing files, or WITH MOVE to "
                            "identify an alternate location.",
                            f.logical, path));
            cannotRestore(4);
        }
    }
    if (problems || !roomFor(targets))
        return abort(true);
    long long dataBytes = 0;
    for (const BackupFileEntry& f : targets)
        if (f.file.type == 'D')
            dataBytes += f.size;
    if (!withinSizeCap(dataBytes))
        return abort(false);

    std::vector<DbFile> files;
    for (const BackupFileEntry& f : targets)
        files.push_back(f.file);
    if (existing) {
        // Files the replaced database had elsewhere are no longer anybody's.
        for (const DbFile& old : existing->files) {
            bool reused = false;
            for (const DbFile& f : files)
                reused = reused || f.physical == old.physical;
            if (!reused)
                storage::removeFile(old.physical);
        }
        catalog.remove(existing->name);
    }
    // Until every byte is in place the database is "restoring": an interrupted restore leaves it so.
    catalog.add(st.name, files, set.familyGuid, set.created).restoring = true;
    catalog.save();
    lock.unlock();

    const auto started = std::chrono::steady_clock::now();
    Fd media(storage::openFile(device, O_RDONLY));
    backupformat::SetChecksum sum; // checked when the set has one, as SQL Server checks by default
    Transfer t;
    t.total = set.bytes();
    t.stats = st.stats;
    t.nextPercent = st.stats;
    for (const BackupFileEntry& f : targets) {
        Fd out(storage::openFile(f.file.physical, O_WRONLY | O_CREAT | O_TRUNC, 0644));
        if (out.fd < 0 || media.fd < 0) {
            error(3202, 1, 16, writeFailed(is2000(), f.file.physical, storage::lastError()));
            return abort(false);
        }
        if (!copyWithProgress(media.fd, f.offset, f.size, out.fd, t, set.checksums ? &sum : nullptr)) {
            if (m_connectionCut)
                return false;
            if (m_attention)
                return cancelled(terminating); // the database stays "restoring"
            if (t.result == storage::CopyResult::ReadFailed)
                error(3203, 1, 16, readFailed(is2000(), device, 2));
            else
                error(3202, 1, 16, writeFailed(is2000(), f.file.physical, storage::lastError()));
            return abort(false);
        }
        ::fsync(out.fd);
        if (interleavesFileLines() && !fileProcessed(f, st.name, set.position))
            return false;
    }
    if (damagedSet(set, sum, terminating)) {
        done(last, true);
        return true; // the database stays "restoring": its files hold what could be read
    }
    // The primary file now records the database's name, where its files are and, upgraded as it was
    // restored, this server's on-disk version.
    FileHeader header;
    header.version = m_instance.personality.databaseVersion();
    header.database = st.name;
    header.familyGuid = set.familyGuid;
    header.created = set.created;
    header.logical = files[0].logical;
    header.members = files;
    storage::rewriteHeader(files[0].physical, header);
    lock.lock();
    if (Database* db = catalog.find(st.name))
        db->restoring = false;
    catalog.save();
    databaseArrived(st.name);
    lock.unlock();

    return reportCopied("RESTORE DATABASE", targets, st.name, set.position, interleavesFileLines(), started, last,
                        writtenDatabaseVersion(set));
}
