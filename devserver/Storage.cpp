#include "Storage.h"

#include "PathSpace.h"
#include "WholeTransfer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace storage {

namespace {
std::mutex g_denyMutex;
std::vector<std::string> g_denied;

const char kDataMagic[] = "ZELVARO DATA FILE 1\n";
const char kLogMagic[] = "ZELVARO LOG FILE 1\n";

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

namespace {
thread_local int t_lastError = 5;

// Whether the folder a file goes in is there, and if not why: 0 it is, else the OS error.
int folderProblem(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return errno == EACCES ? 5 : 3;
    return S_ISDIR(st.st_mode) ? 0 : 3;
}
} // namespace

int osErrorOf(int err) {
    switch (err) {
    case 0:
        return 0;
    case ENOENT:
        return 2;
    case ENOTDIR:
        return 3;
    case ENOSPC:
    case EDQUOT:
        return 112;
    default: // EACCES, EPERM, EROFS and the rest: the kernel refused
        return 5;
    }
}

int lastError() {
    return t_lastError;
}

void noteError(int err) {
    t_lastError = osErrorOf(err) ? osErrorOf(err) : 5;
}

int checkRead(const std::string& serverPath) {
    const std::string path = pathspace::host(serverPath);
    if (path.empty())
        return 3; // a path this server's file system does not have
    if (isDenied(path))
        return 5;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == EACCES)
            return 5;
        const int folder = folderProblem(folderOf(path));
        return folder == 0 ? 2 : folder;
    }
    if (S_ISDIR(st.st_mode))
        return 5;
    return ::access(path.c_str(), R_OK) == 0 ? 0 : 5;
}

int checkWrite(const std::string& serverPath) {
    const std::string path = pathspace::host(serverPath);
    if (path.empty())
        return 3;
    if (isDenied(path))
        return 5;
    const std::string folder = folderOf(path);
    if (const int problem = folderProblem(folder))
        return problem;
    if (isDenied(folder) || ::access(folder.c_str(), W_OK) != 0)
        return 5;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || ::access(path.c_str(), W_OK) != 0))
        return 5;
    return 0;
}

int openFile(const std::string& serverPath, int flags, int mode) {
    const std::string path = pathspace::host(serverPath);
    if (path.empty()) {
        errno = ENOENT;
        noteError(errno);
        return -1;
    }
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0)
        noteError(errno);
    return fd;
}

bool removeFile(const std::string& serverPath) {
    const std::string path = pathspace::host(serverPath);
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

bool denied(const std::string& hostPath) {
    return isDenied(hostPath);
}

bool exists(const std::string& serverPath) {
    const std::string path = pathspace::host(serverPath);
    return !path.empty() && ::access(path.c_str(), F_OK) == 0;
}

long long freeBytes(const std::string& serverPath, std::string& volume) {
    std::string path = pathspace::host(serverPath);
    if (path.empty())
        return -1;
    // A folder is on its own volume (a drive's root may be a mount point); a file, made or not yet,
    // is on its folder's.
    struct stat self {};
    if (::stat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode))
        path = folderOf(path);
    struct statvfs vfs {};
    if (::statvfs(path.c_str(), &vfs) != 0)
        return -1;
    // The volume is named by where it is mounted: the highest folder on the same device.
    struct stat st {};
    std::string top = path;
    if (::stat(path.c_str(), &st) == 0) {
        for (std::string up = path; up != "/";) {
            up = folderOf(up);
            struct stat above {};
            if (::stat(up.c_str(), &above) != 0 || above.st_dev != st.st_dev)
                break;
            top = up;
        }
    }
    volume = pathspace::server(top);
    if (volume.empty())
        volume = pathspace::windows() ? std::string(1, serverPath[0]) + ":\\" : "/";
    else if (pathspace::windows() && volume.back() != '\\')
        volume += '\\';
    else if (!pathspace::windows() && volume.back() != '/')
        volume += '/';
    return (long long)vfs.f_bavail * (long long)vfs.f_frsize;
}

std::string osErrorText(int code) {
    switch (code) {
    case 2:
        return "2(The system cannot find the file specified.)";
    case 3:
        return "3(The system cannot find the path specified.)";
    case 5:
        return "5(Access is denied.)";
    case 38:
        return "38(Reached the end of the file.)";
    case 32:
        return "32(The process cannot access the file because it is being used by another process.)";
    case 112:
        return "112(There is not enough space on the disk.)";
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

bool writeFully(int fd, const char* data, size_t size) {
    const bool ok = transferWhole(data, size, [fd](const char* d, size_t n) { return ::write(fd, d, n); });
    if (!ok)
        noteError(errno);
    return ok;
}

bool writeAll(const std::string& path, const std::string& contents) {
    const std::string temporary = path + ".zelvaro-tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    if (!writeFully(fd, contents.data(), contents.size())) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
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

namespace {
// Sections the database keeps for itself; a rewrite of the header carries them over.
const char* const kKeptSections[] = {"principals"};

std::string headerText(const FileHeader& h,
                       const std::vector<std::pair<std::string, std::string>>& kept = {}) {
    std::string s = h.type == 'L' ? kLogMagic : kDataMagic;
    auto add = [&](const std::string& key, const std::string& value) {
        s += key + "=" + escape(value) + "\n";
    };
    add("database", h.database);
    add("family", h.familyGuid);
    add("created", h.created);
    add("fileid", std::to_string(h.fileId));
    add("logical", h.logical);
    add("clean", h.clean ? "1" : "0");
    if (h.version > 0)
        add("version", std::to_string(h.version));
    if (h.userAccess != 0)
        add("useraccess", std::to_string(h.userAccess));
    for (const DbFile& m : h.members) {
        const std::string k = "member." + std::to_string(m.fileId) + ".";
        add(k + "logical", m.logical);
        add(k + "physical", m.physical);
        add(k + "type", std::string(1, m.type));
        add(k + "group", m.filegroup);
        add(k + "groupid", std::to_string(m.groupId));
    }
    for (const auto& [key, value] : kept)
        add(key, value);
    s += "\n";
    if ((long long)(s.size()) < kPageSize)
        s.resize(size_t(kPageSize), '\0');
    return s;
}

} // namespace

bool createDatabaseFile(const std::string& serverPath, const FileHeader& header, long long size) {
    const std::string path = pathspace::host(serverPath);
    const std::string page = headerText(header);
    const std::string temporary = path + ".zelvaro-tmp";
    const int fd = path.empty() ? -1 : ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        noteError(path.empty() ? ENOENT : errno);
        return false;
    }
    const long long total = std::max<long long>(size, (long long)(page.size()));
    bool ok = writeFully(fd, page.data(), page.size());
    // The file gets its whole size on the disk now, as SQL Server's files do (a log is zeroed, a
    // data file allocated even when it is not): a disk without room refuses the file here, with
    // error 112, rather than at some later write.
    if (ok) {
        const int err = ::posix_fallocate(fd, 0, total);
        if (err != 0)
            noteError(err);
        ok = err == 0;
    }
    if (ok && ::fsync(fd) != 0) {
        noteError(errno);
        ok = false;
    }
    ::close(fd);
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

long long pagesHoldingData(int fd, long long size) {
    long long pages = 0;
    std::string page(size_t(kPageSize), '\0');
    long long at = 0;
    while (at < size) {
        // Holes read as zeros: go straight to the next part that holds data.
        const off_t data = ::lseek(fd, off_t(at), SEEK_DATA);
        if (data < 0)
            break; // no data beyond (ENXIO), or the file system cannot say: what was counted stands
        at = (long long)(data) / kPageSize * kPageSize;
        if (at >= size)
            break;
        const off_t hole = ::lseek(fd, off_t(at), SEEK_HOLE);
        const long long end = std::min(size, hole > at ? (long long)(hole) : size);
        for (; at < end; at += kPageSize) {
            const ssize_t n = ::pread(fd, &page[0], size_t(std::min(kPageSize, size - at)), off_t(at));
            if (n <= 0)
                return pages;
            if (std::any_of(page.begin(), page.begin() + n, [](char c) { return c != 0; }))
                ++pages;
        }
    }
    return pages;
}

namespace {
// The file's first page (shorter when the file is), or false when there is none to read.
bool headerPage(const std::string& path, std::string& page) {
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    page.assign(size_t(kPageSize), '\0');
    const ssize_t n = ::pread(fd, &page[0], page.size(), 0);
    ::close(fd);
    if (n <= 0)
        return false;
    page.resize(size_t(n));
    return true;
}

// The header page's key=value fields, or false when the file has no header of ours.
bool headerFields(const std::string& path, std::vector<std::pair<std::string, std::string>>& fields) {
    std::string page;
    if (!headerPage(path, page))
        return false;
    const size_t start = page.compare(0, sizeof kDataMagic - 1, kDataMagic) == 0 ? sizeof kDataMagic - 1
                         : page.compare(0, sizeof kLogMagic - 1, kLogMagic) == 0 ? sizeof kLogMagic - 1
                                                                                 : 0;
    return start != 0 && readFields(page, start, fields) != std::string::npos;
}

std::vector<std::pair<std::string, std::string>> keptSections(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> fields, kept;
    headerFields(path, fields);
    for (const auto& [key, value] : fields)
        for (const char* k : kKeptSections)
            if (key == k)
                kept.emplace_back(key, value);
    return kept;
}
} // namespace

bool readSection(const std::string& serverPath, const std::string& key, std::string& value) {
    std::vector<std::pair<std::string, std::string>> fields;
    if (!headerFields(pathspace::host(serverPath), fields))
        return false;
    for (const auto& [k, v] : fields)
        if (k == key) {
            value = v;
            return true;
        }
    return false;
}

bool writeSection(const std::string& serverPath, const std::string& key, const std::string& value) {
    FileHeader header;
    if (!readHeader(serverPath, header))
        return false;
    auto kept = keptSections(pathspace::host(serverPath));
    bool replaced = false;
    for (auto& [k, v] : kept)
        if (k == key) {
            v = value;
            replaced = true;
        }
    if (!replaced)
        kept.emplace_back(key, value);
    const std::string page = headerText(header, kept);
    const int fd = ::open(pathspace::host(serverPath).c_str(), O_WRONLY);
    if (fd < 0 || (long long)(page.size()) > kPageSize) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const bool ok = ::pwrite(fd, page.data(), page.size(), 0) == ssize_t(page.size());
    ::close(fd);
    return ok;
}

bool rewriteHeader(const std::string& serverPath, const FileHeader& header) {
    const std::string path = pathspace::host(serverPath);
    const std::string page = headerText(header, keptSections(path));
    if ((long long)(page.size()) > kPageSize)
        return false;
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::pwrite(fd, page.data(), page.size(), 0) == ssize_t(page.size());
    ::close(fd);
    return ok;
}

bool readHeader(const std::string& serverPath, FileHeader& out) {
    const std::string path = pathspace::host(serverPath);
    std::string page;
    if (!headerPage(path, page))
        return false;
    const bool data = page.compare(0, sizeof kDataMagic - 1, kDataMagic) == 0;
    const bool log = page.compare(0, sizeof kLogMagic - 1, kLogMagic) == 0;
    if (!data && !log)
        return false;
    std::vector<std::pair<std::string, std::string>> fields;
    if (readFields(page, data ? sizeof kDataMagic - 1 : sizeof kLogMagic - 1, fields) == std::string::npos)
        return false;
    out = FileHeader();
    out.type = data ? 'D' : 'L';
    out.database = field(fields, "database");
    out.familyGuid = field(fields, "family");
    out.created = field(fields, "created");
    out.logical = field(fields, "logical");
    out.clean = field(fields, "clean") != "0";
    out.version = std::atoi(field(fields, "version").c_str());
    out.userAccess = std::atoi(field(fields, "useraccess").c_str());
    const std::string id = field(fields, "fileid");
    out.fileId = id.empty() ? (data ? 1 : 2) : std::atoi(id.c_str());
    for (int i = 1; i <= 32767; ++i) {
        const std::string k = "member." + std::to_string(i) + ".";
        bool present = false;
        for (const auto& [key, value] : fields)
            present = present || key.compare(0, k.size(), k) == 0;
        if (!present) {
            if (i > 2)
                break;
            continue;
        }
        DbFile m;
        m.fileId = i;
        m.logical = field(fields, k + "logical");
        m.physical = field(fields, k + "physical");
        m.type = field(fields, k + "type") == "L" ? 'L' : 'D';
        m.filegroup = field(fields, k + "group");
        m.groupId = std::atoi(field(fields, k + "groupid").c_str());
        out.members.push_back(m);
    }
    if (data && out.fileId == 1 && out.members.empty()) {
        // A header written before files were listed: one data file and the log it names.
        out.members.push_back({out.logical, serverPath, 'D', 1, "PRIMARY", 1});
        out.members.push_back({field(fields, "log"), "", 'L', 2, "", 0});
    }
    return data ? !out.logical.empty() : true;
}

long long fileSize(const std::string& serverPath) {
    const std::string path = pathspace::host(serverPath);
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

namespace {
// Reading only: the bytes are looked at where the page cache holds them, mapped a window at a time,
// instead of copied into a buffer first, so a verification costs little more than reading the
// file does, and the process holds no more than a window of it. False when a window cannot be
// mapped before anything was looked at: the caller then reads the ordinary way.
bool readMapped(int in, long long offset, long long size, const std::function<bool(long long)>& progress,
                const std::function<void(const char*, size_t)>& seen, CopyResult& result) {
    const long long page = ::sysconf(_SC_PAGESIZE);
    const long long window = 8LL << 20;
    const long long step = 1LL << 20; // progress and cancel are looked at this often
    result = CopyResult::Done;
    for (long long done = 0; done < size;) {
        const long long at = offset + done;
        const long long start = at - at % page;
        const long long length = std::min(window, offset + size - start);
        void* mapped = ::mmap(nullptr, size_t(length), PROT_READ, MAP_SHARED | MAP_POPULATE, in, start);
        if (mapped == MAP_FAILED) {
            if (done == 0)
                return false;
            result = CopyResult::ReadFailed;
            return true;
        }
        const char* bytes = static_cast<const char*>(mapped) + (at - start);
        const long long end = done + (start + length - at);
        bool stop = false;
        while (done < end && !stop) {
            const size_t n = size_t(std::min(step, end - done));
            if (seen)
                seen(bytes, n);
            bytes += n;
            done += static_cast<long long>(n);
            stop = progress && !progress(done);
        }
        ::munmap(mapped, size_t(length));
        if (stop) {
            result = done == size ? CopyResult::Done : CopyResult::Stopped;
            return true;
        }
    }
    return true;
}
} // namespace

CopyResult copyBytes(int in, long long offset, long long size, int out,
                     const std::function<bool(long long)>& progress, size_t chunk,
                     const std::function<void(const char*, size_t)>& seen) {
    CopyResult mapped;
    // Beyond the end of the file a mapping gives SIGBUS, not an error: only regions the file holds.
    struct stat st {};
    if (out < 0 && ::fstat(in, &st) == 0 && offset + size <= st.st_size &&
        readMapped(in, offset, size, progress, seen, mapped))
        return mapped;
    // A chunk at a time: memory stays bounded whatever the database's size.
    const size_t kChunk = std::max<size_t>(chunk, 4096);
    std::vector<char> buffer(kChunk);
    long long done = 0;
    while (done < size) {
        const size_t want = size_t(std::min<long long>(kChunk, size - done));
        const ssize_t n = ::pread(in, buffer.data(), want, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return CopyResult::ReadFailed;
        if (seen)
            seen(buffer.data(), size_t(n));
        if (out >= 0 && !writeFully(out, buffer.data(), size_t(n)))
            return CopyResult::WriteFailed;
        done += n;
        if (progress && !progress(done))
            return done == size ? CopyResult::Done : CopyResult::Stopped;
    }
    return CopyResult::Done;
}

} // namespace storage
