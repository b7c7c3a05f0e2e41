// The stand-in's files on disk: data (MDF, NDF) and log (LDF) files, and how the service account
// would be allowed to touch a path. Each database file starts with a header page of our own format.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct DbFile {
    std::string logical;
    std::string physical;
    char type = 'D';       // 'D' data, 'L' log
    int fileId = 0;        // 1 the primary data file, 2 the first log, then 3, 4… in creation order
    std::string filegroup; // "PRIMARY" or a user filegroup for data files; empty for logs
    int groupId = 0;       // 1 PRIMARY, 2… user filegroups, 0 logs
};

// What a database file's first page says. The primary file lists every file of its database with
// the paths they last had, so that an attach knows what belongs and where to look.
struct FileHeader {
    char type = 'D';
    std::string database;
    std::string familyGuid;
    std::string created;
    int fileId = 1;
    std::string logical;
    std::vector<DbFile> members; // primary data file only
    // Whether the database was shut down cleanly, as the primary file's boot page records it. The
    // files of an online database say no (a copy of them is a crashed database); a clean detach
    // says yes. Only a cleanly shut down database may have its log rebuilt at attach. Headers
    // written before the flag existed read as clean.
    bool clean = false;
    // The on-disk version of the server that last wrote the database (539 for 2000 … 998 for 2025),
    // as SQL Server's boot page records it; 0 in headers written before it was recorded, which
    // count as the reading server's own.
    int version = 0;
    // Who may use the database (0 MULTI_USER, 1 SINGLE_USER, 2 RESTRICTED_USER), as the boot page
    // keeps it: files detached single-user come back single-user. Older headers read as 0.
    int userAccess = 0;
};

namespace storage {

// Paths the service account may not touch (the stand-in's way of testing access denial while
// the tests run as root). A path equal to or below one of them is refused with error 5.
void denyPath(const std::string& prefix);

// Paths here are the server's (see PathSpace.h); the host's file system is reached through them.
// Operating-system error SQL Server would meet: 0 none, 2 file missing, 3 folder missing, 5 denied.
int checkRead(const std::string& path);
int checkWrite(const std::string& path);
// The Windows error SQL Server reports for an errno: 2 file missing, 3 path missing, 5 denied,
// 112 disk full.
int osErrorOf(int err);
// The OS error of this thread's last failed open or write (5 when none was noted).
int lastError();
void noteError(int err);
// open(2) of a server path; -1 with errno (ENOENT for a path the server does not have).
int openFile(const std::string& path, int flags, int mode = 0644);
bool removeFile(const std::string& path);
bool exists(const std::string& path);
// Whether --deny keeps the service account away from a host path.
bool denied(const std::string& hostPath);
// Free bytes on the volume a file would be created in, and the volume's name as the server shows
// it ("/", "C:\"); -1 when the folder cannot be looked at.
long long freeBytes(const std::string& path, std::string& volume);
// "5(Access is denied.)" and its kin, as SQL Server prints them on every platform.
std::string osErrorText(int code);

bool readAll(const std::string& path, std::string& out);
// Writes every byte to an open file, over short writes and interruptions.
bool writeFully(int fd, const char* data, size_t size);
// Writes through a temporary file and a rename, so a crash never leaves half a file behind.
bool writeAll(const std::string& path, const std::string& contents);

// The header occupies the first page of a database file.
constexpr long long kPageSize = 8192;
// A new database file: its header page, then zero pages up to size bytes in all, allocated on the
// disk (a disk without room refuses it; storage::lastError() then says 112).
bool createDatabaseFile(const std::string& path, const FileHeader& header, long long size);
// Rewrites the header page in place (attach and restore record the database's current paths).
bool rewriteHeader(const std::string& path, const FileHeader& header);
// Reads the header page; false when the file cannot be read or the header is not ours.
bool readHeader(const std::string& path, FileHeader& out);
// A section the database itself keeps in its primary file's header page (its users): header
// rewrites (attach, restore, detach) keep it, so it travels wherever the files and backups go.
// False when the file cannot be read or has no such section.
bool readSection(const std::string& path, const std::string& key, std::string& value);
bool writeSection(const std::string& path, const std::string& key, const std::string& value);
long long fileSize(const std::string& path); // -1 when missing
// How many of the first size bytes' pages (kPageSize each) hold any byte that is not zero; the
// file's holes are skipped without being read.
long long pagesHoldingData(int fd, long long size);

enum class CopyResult { Done, ReadFailed, WriteFailed, Stopped };
// Copies size bytes from in (at offset) to out's current position in chunks of at most chunk bytes,
// calling progress with the bytes copied so far after each chunk; progress returning false stops the copy.
// seen, when given, gets every chunk as it passes; out -1 only reads (a backup's verification).
CopyResult copyBytes(int in, long long offset, long long size, int out,
                     const std::function<bool(long long)>& progress, size_t chunk = 1 << 20,
                     const std::function<void(const char*, size_t)>& seen = nullptr);

std::string escape(const std::string& field);
std::string unescape(const std::string& field);

} // namespace storage
