#include "Storage.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

namespace {
std::mutex g_denyMutex;
std::vector<std::string> g_denied;

const char kDataMagic[] = "ZELVARO DATA FILE 1\n";
const char kLogMagic[] = "ZELVARO LOG FILE 1\n";
const char kBackupMagic[] = "ZELVARO BACKUP 1\n";

bool isDenied(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_denyMutex);
    for (const std::string& p : g_denied) {
        if (path == p)
            return true;
        if (path.size() > p.size() && path.compare(0, p.size(), p) == 0 &&
            (p.back() == '/' || path[p.size()] == '/'))
            return true;
    }
    return false;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// key=value lines after the magic line, up to an empty line; returns the offset after it.
size_t readFields(const std::string& contents, size_t start,
                  std::vector<std::pair<std::string, std::string>>& fields) {
    size_t pos = start;
    while (pos < contents.size()) {
        const size_t end = contents.find('\n', pos);
        if (end == std::string::npos)
            return std::string::npos;
        const std::string line = contents.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty())
            return pos;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return std::string::npos;
        fields.emplace_back(line.substr(0, eq), unescape(line.substr(eq + 1)));
    }
    return std::string::npos;
}

std::string field(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& key) {
    for (const auto& [k, v] : fields)
        if (k == key)
            return v;
    return {};
}
} // namespace

void denyPath(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(g_denyMutex);
    std::string p = prefix;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    g_denied.push_back(p);
}

int checkRead(const std::string& path) {
    if (isDenied(path))
        return 5;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == EACCES ? 5 : isFolder(folderOf(path)) ? 2 : 3;
    if (S_ISDIR(st.st_mode))
        return 5;
    return ::access(path.c_str(), R_OK) == 0 ? 0 : 5;
}

int checkWrite(const std::string& path) {
    if (isDenied(path))
        return 5;
    const std::string folder = folderOf(path);
    if (!isFolder(folder))
        return 3;
    if (isDenied(folder) || ::access(folder.c_str(), W_OK) != 0)
        return 5;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || ::access(path.c_str(), W_OK) != 0))
        return 5;
    return 0;
}

std::string osErrorText(int code) {
    switch (code) {
    case 2:
        return "2(The system cannot find the file specified.)";
    case 3:
        return "3(The system cannot find the path specified.)";
    case 5:
        return "5(Access is denied.)";
    case 32:
        return "32(The process cannot access the file because it is being used by another process.)";
    default:
        return std::to_string(code) + "(error not found)";
    }
}

bool readAll(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    out = buffer.str();
    return true;
}

bool writeAll(const std::string& path, const std::string& contents) {
    const std::string temporary = path + ".zelvaro-tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        done += size_t(n);
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string escape(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '%' || c == '\n' || c == '\r' || c == '\t' || c == '=') {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, "%%%02X", static_cast<unsigned char>(c));
            out += buffer;
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescape(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size()) {
            out += char(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string newDataFile(const std::string& database, const std::string& logicalData,
                        const std::string& logicalLog) {
    std::string s = kDataMagic;
    s += "database=" + escape(database) + "\n";
    s += "logical=" + escape(logicalData) + "\n";
    s += "log=" + escape(logicalLog) + "\n\n";
    // A recognisable body of pages, so that backups and restores carry real bytes around.
    for (int page = 0; page < 16; ++page)
        s += "page " + std::to_string(page) + " of " + database + "\n";
    return s;
}

std::string newLogFile(const std::string& logicalLog) {
    std::string s = kLogMagic;
    s += "logical=" + escape(logicalLog) + "\n\n";
    s += "log records\n";
    return s;
}

bool readDataHeader(const std::string& contents, std::string& logicalData, std::string& logicalLog) {
    const size_t magic = sizeof kDataMagic - 1;
    if (contents.compare(0, magic, kDataMagic) != 0)
        return false;
    std::vector<std::pair<std::string, std::string>> fields;
    if (readFields(contents, magic, fields) == std::string::npos)
        return false;
    logicalData = field(fields, "logical");
    logicalLog = field(fields, "log");
    return !logicalData.empty();
}

bool readLogHeader(const std::string& contents, std::string& logicalLog) {
    const size_t magic = sizeof kLogMagic - 1;
    if (contents.compare(0, magic, kLogMagic) != 0)
        return false;
    std::vector<std::pair<std::string, std::string>> fields;
    if (readFields(contents, magic, fields) == std::string::npos)
        return false;
    logicalLog = field(fields, "logical");
    return true;
}

std::string encodeBackup(const BackupSet& set) {
    std::string s = kBackupMagic;
    s += "database=" + escape(set.database) + "\n";
    s += "files=" + std::to_string(set.files.size()) + "\n\n";
    for (const BackupFile& f : set.files) {
        s += "logical=" + escape(f.file.logical) + "\n";
        s += "physical=" + escape(f.file.physical) + "\n";
        s += std::string("type=") + f.file.type + "\n";
        s += "size=" + std::to_string(f.contents.size()) + "\n\n";
        s += f.contents;
    }
    return s;
}

bool decodeBackup(const std::string& contents, BackupSet& out) {
    const size_t magic = sizeof kBackupMagic - 1;
    if (contents.compare(0, magic, kBackupMagic) != 0)
        return false;
    std::vector<std::pair<std::string, std::string>> head;
    size_t pos = readFields(contents, magic, head);
    if (pos == std::string::npos)
        return false;
    out.database = field(head, "database");
    const int count = std::atoi(field(head, "files").c_str());
    out.files.clear();
    for (int i = 0; i < count; ++i) {
        std::vector<std::pair<std::string, std::string>> fields;
        pos = readFields(contents, pos, fields);
        if (pos == std::string::npos)
            return false;
        BackupFile f;
        f.file.logical = field(fields, "logical");
        f.file.physical = field(fields, "physical");
        f.file.type = field(fields, "type") == "L" ? 'L' : 'D';
        const size_t size = size_t(std::atoll(field(fields, "size").c_str()));
        if (pos + size > contents.size())
            return false;
        f.contents = contents.substr(pos, size);
        pos += size;
        out.files.push_back(std::move(f));
    }
    return count > 0;
}

} // namespace storage
