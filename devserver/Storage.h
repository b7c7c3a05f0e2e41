// The stand-in's files on disk: data (MDF) and log (LDF) files, backup files, and how the
// service account would be allowed to touch a path. Formats are our own, each with a header line.
#pragma once

#include <string>
#include <vector>

struct DbFile {
    std::string logical;
    std::string physical;
    char type = 'D'; // 'D' data, 'L' log
};

struct BackupFile {
    DbFile file;
    std::string contents;
};

struct BackupSet {
    std::string database;
    std::vector<BackupFile> files;
};

namespace storage {

// Paths the service account may not touch (the stand-in's way of testing access denial while
// the tests run as root). A path equal to or below one of them is refused with error 5.
void denyPath(const std::string& prefix);

// Operating-system error SQL Server would meet: 0 none, 2 file missing, 3 folder missing, 5 denied.
int checkRead(const std::string& path);
int checkWrite(const std::string& path);
// "5(Access is denied.)" and its kin, as SQL Server prints them on every platform.
std::string osErrorText(int code);

bool readAll(const std::string& path, std::string& out);
// Writes through a temporary file and a rename, so a crash never leaves half a file behind.
bool writeAll(const std::string& path, const std::string& contents);

std::string newDataFile(const std::string& database, const std::string& logicalData,
                        const std::string& logicalLog);
std::string newLogFile(const std::string& logicalLog);
// Logical names recorded in a data file; false when the header is not ours.
bool readDataHeader(const std::string& contents, std::string& logicalData, std::string& logicalLog);
bool readLogHeader(const std::string& contents, std::string& logicalLog);

std::string encodeBackup(const BackupSet& set);
bool decodeBackup(const std::string& contents, BackupSet& out);

std::string escape(const std::string& field);
std::string unescape(const std::string& field);

} // namespace storage
