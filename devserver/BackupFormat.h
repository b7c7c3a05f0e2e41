// Backup media on disk: a media header line, then backup sets one after another. Each set is a
// block of key=value lines, the bytes of every file of the database, and an end mark written only
// once the set is complete, so an interrupted backup leaves a set that readers recognise as cut off.
// The key=value block carries a check of its own, so damage to a set's structure is always found;
// damage to the files' bytes only through the set's checksum, written when the backup asked for one.
#pragma once

#include "Storage.h"

#include <cstdint>
#include <string>
#include <vector>

struct BackupFileEntry {
    DbFile file;          // as the database had it: logical name, recorded path, type, id, filegroup
    long long size = 0;   // bytes of the file in the set
    long long offset = 0; // where those bytes start in the media file (known when reading)
    // The pages the server counts as backed up for the file (those in use, not the whole file);
    // 0 in sets written before they were recorded, which count the whole file.
    long long pages = 0;
};

struct BackupSetHeader {
    int position = 0; // 1, 2, … in the order the sets were appended
    std::string name; // BACKUP … WITH NAME; empty when none was given
    std::string description;
    std::string database;
    std::string familyGuid;
    std::string setGuid;
    std::string created; // the database's creation date
    std::string started;
    std::string finished; // empty while the set is incomplete
    std::string user;
    std::string server;
    std::string machine;
    std::vector<BackupFileEntry> files;
    bool complete = false;
    // The server that wrote the set, "15.0.2000"; empty in sets written before it was recorded.
    std::string version;
    bool checksums = false; // BACKUP … WITH CHECKSUM: checksum covers every byte of the files
    bool copyOnly = false;  // BACKUP … WITH COPY_ONLY
    bool singleUser = false; // the database was SINGLE_USER when it was backed up
    // The collation of the server that wrote the set (HEADERONLY's Collation); empty in sets written
    // before it was recorded, which were all made under the default one.
    std::string collation;
    std::string checksum;   // from the end mark, once the set is complete
    bool damaged = false;   // the key=value block does not match its own check

    long long bytes() const {
        long long total = 0;
        for (const BackupFileEntry& f : files)
            total += f.size;
        return total;
    }
};

namespace backupformat {

enum class ReadResult { Ok, NotMedia, Unreadable };

// Reads the set headers only, seeking over the files' bytes: cheap however large the media is.
// Sets are returned in position order; an incomplete set (always the last) has complete == false.
// appendAt is where a new set would go: the end of the last complete set.
ReadResult readMedia(const std::string& path, std::vector<BackupSetHeader>& sets, long long& appendAt);

// Writes one set: the header first, then the files' bytes as the caller streams them, then the end
// mark. A writer abandoned before finish() leaves the set incomplete on disk, as a real server does.
class SetWriter {
public:
    SetWriter() = default;
    SetWriter(const SetWriter&) = delete;
    SetWriter& operator=(const SetWriter&) = delete;
    ~SetWriter();

    // init: the media starts afresh (BACKUP … WITH INIT / FORMAT); otherwise the set goes at appendAt.
    bool open(const std::string& path, bool init, long long appendAt);
    bool writeHeader(const BackupSetHeader& header);
    bool write(const char* data, size_t size);
    // checksum: the set's checksum when its header asked for one, empty otherwise.
    bool finish(const std::string& finished, const std::string& checksum = {});
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// A failing disk: flips one byte halfway between from and the end of the media.
bool damageMiddle(const std::string& path, long long from);

} // namespace backupformat
