// Backup media: reading set headers without the data, and writing one set as it streams.
#include "BackupFormat.h"

#include "BackupChecksum.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace backupformat {

namespace {

const char kMediaMagic[] = "ZELVARO BACKUP 2\n";
const char kSetMark[] = "SET\n";
const char kEndMark[] = "END SET\n";

// Reads up to and including the next '\n' through a small buffer; false at end of file.
class LineReader {
public:
    explicit LineReader(int fd) : m_fd(fd) {}
    bool seek(long long offset) {
        m_size = m_at = 0;
        m_offset = offset;
        return ::lseek(m_fd, offset, SEEK_SET) == offset;
    }
    long long offset() const { return m_offset; }
    bool line(std::string& out) {
        out.clear();
        for (;;) {
            if (m_at == m_size) {
                const ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
                if (n <= 0)
                    return false;
                m_size = size_t(n);
                m_at = 0;
            }
            const char c = m_buffer[m_at++];
            ++m_offset;
            if (c == '\n')
                return true;
            out += c;
            if (out.size() > 65536)
                return false;
        }
    }

private:
    int m_fd;
    char m_buffer[4096];
    size_t m_size = 0;
    size_t m_at = 0;
    long long m_offset = 0;
};

using Fields = std::vector<std::pair<std::string, std::string>>;

const char kHeaderCheck[] = "check";

// The check of a set's key=value block: the block's text before the check line.
std::string headerCheck(const std::string& text) {
    SetChecksum sum;
    sum.add(text.data(), text.size());
    return sum.hex();
}

// key=value lines up to an empty line; raw, when given, gets the lines before a check line.
bool readFields(LineReader& in, Fields& fields, std::string* raw = nullptr) {
    std::string line;
    while (in.line(line)) {
        if (line.empty())
            return true;
        if (raw && line.rfind(std::string(kHeaderCheck) + "=", 0) != 0)
            *raw += line + "\n";
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return false;
        fields.emplace_back(line.substr(0, eq), storage::unescape(line.substr(eq + 1)));
    }
    return false;
}

std::string field(const Fields& fields, const std::string& key) {
    for (const auto& [k, v] : fields)
        if (k == key)
            return v;
    return {};
}

std::string line(const std::string& key, const std::string& value) {
    return key + "=" + storage::escape(value) + "\n";
}

} // namespace

ReadResult readMedia(const std::string& path, std::vector<BackupSetHeader>& sets, long long& appendAt) {
    sets.clear();
    appendAt = 0;
    const int fd = storage::openFile(path, O_RDONLY);
    if (fd < 0)
        return ReadResult::Unreadable;
    const long long end = ::lseek(fd, 0, SEEK_END);
    LineReader in(fd);
    std::string text;
    if (!in.seek(0) || !in.line(text) || text + "\n" != kMediaMagic) {
        ::close(fd);
        return ReadResult::NotMedia;
    }
    appendAt = in.offset();
    while (in.offset() < end) {
        Fields fields;
        std::string raw;
        if (!in.line(text) || text + "\n" != kSetMark || !readFields(in, fields, &raw))
            break;
        BackupSetHeader set;
        const std::string check = field(fields, kHeaderCheck);
        if (!check.empty() && check != headerCheck(raw)) {
            // Nothing in a damaged block can be trusted, the files' sizes least: no set after it is found.
            set.position = int(sets.size()) + 1;
            set.damaged = true;
            sets.push_back(set);
            break;
        }
        set.version = field(fields, "version");
        set.checksums = field(fields, "checksums") == "1";
        set.copyOnly = field(fields, "copy_only") == "1";
        set.singleUser = field(fields, "single_user") == "1";
        set.position = int(sets.size()) + 1;
        set.name = field(fields, "name");
        set.description = field(fields, "description");
        set.database = field(fields, "database");
        set.familyGuid = field(fields, "family");
        set.setGuid = field(fields, "set");
        set.created = field(fields, "created");
        set.started = field(fields, "started");
        set.user = field(fields, "user");
        set.server = field(fields, "server");
        set.machine = field(fields, "machine");
        set.collation = field(fields, "collation");
        const int count = std::atoi(field(fields, "files").c_str());
        long long offset = in.offset();
        for (int i = 1; i <= count; ++i) {
            const std::string k = "file" + std::to_string(i) + ".";
            BackupFileEntry f;
            f.file.logical = field(fields, k + "logical");
            f.file.physical = field(fields, k + "physical");
            f.file.type = field(fields, k + "type") == "L" ? 'L' : 'D';
            f.file.fileId = std::atoi(field(fields, k + "id").c_str());
            f.file.filegroup = field(fields, k + "group");
            f.file.groupId = std::atoi(field(fields, k + "groupid").c_str());
            f.size = std::atoll(field(fields, k + "size").c_str());
            f.pages = std::atoll(field(fields, k + "pages").c_str());
            f.offset = offset;
            offset += f.size;
            set.files.push_back(f);
        }
        Fields trailer;
        if (count > 0 && offset <= end && in.seek(offset) && in.line(text) && text + "\n" == kEndMark &&
            readFields(in, trailer)) {
            set.finished = field(trailer, "finished");
            set.checksum = field(trailer, "checksum");
            set.complete = true;
            appendAt = in.offset();
        }
        sets.push_back(set);
        if (!set.complete)
            break;
    }
    ::close(fd);
    return sets.empty() && appendAt != end ? ReadResult::NotMedia : ReadResult::Ok;
}

SetWriter::~SetWriter() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SetWriter::open(const std::string& path, bool init, long long appendAt) {
    m_fd = storage::openFile(path, O_WRONLY | O_CREAT | (init ? O_TRUNC : 0), 0644);
    if (m_fd < 0)
        return false;
    if (init || appendAt == 0) {
        if (::ftruncate(m_fd, 0) != 0)
            return false;
        return storage::writeFully(m_fd, kMediaMagic, sizeof kMediaMagic - 1);
    }
    // Whatever an interrupted set left after the last complete one is overwritten.
    return ::ftruncate(m_fd, appendAt) == 0 && ::lseek(m_fd, appendAt, SEEK_SET) == appendAt;
}

bool SetWriter::writeHeader(const BackupSetHeader& h) {
    std::string s = kSetMark;
    if (!h.name.empty())
        s += line("name", h.name);
    if (!h.description.empty())
        s += line("description", h.description);
    s += line("database", h.database) + line("family", h.familyGuid) + line("set", h.setGuid) +
         line("created", h.created) + line("started", h.started) + line("user", h.user) +
         line("server", h.server) + line("machine", h.machine) +
         line("files", std::to_string(h.files.size()));
    if (!h.version.empty())
        s += line("version", h.version);
    if (!h.collation.empty())
        s += line("collation", h.collation);
    if (h.checksums)
        s += line("checksums", "1");
    if (h.copyOnly)
        s += line("copy_only", "1");
    if (h.singleUser)
        s += line("single_user", "1");
    for (size_t i = 0; i < h.files.size(); ++i) {
        const std::string k = "file" + std::to_string(i + 1) + ".";
        const BackupFileEntry& f = h.files[i];
        s += line(k + "logical", f.file.logical) + line(k + "physical", f.file.physical) +
             line(k + "type", std::string(1, f.file.type)) + line(k + "id", std::to_string(f.file.fileId)) +
             line(k + "group", f.file.filegroup) + line(k + "groupid", std::to_string(f.file.groupId)) +
             line(k + "size", std::to_string(f.size));
        if (f.pages > 0)
            s += line(k + "pages", std::to_string(f.pages));
    }
    s += line(kHeaderCheck, headerCheck(s.substr(sizeof kSetMark - 1))) + "\n";
    return write(s.data(), s.size());
}

bool SetWriter::write(const char* data, size_t size) {
    return m_fd >= 0 && storage::writeFully(m_fd, data, size);
}

bool SetWriter::finish(const std::string& finished, const std::string& checksum) {
    const std::string s = std::string(kEndMark) + line("finished", finished) +
                          (checksum.empty() ? std::string() : line("checksum", checksum)) + "\n";
    const bool ok = write(s.data(), s.size()) && ::fsync(m_fd) == 0;
    ::close(m_fd);
    m_fd = -1;
    return ok;
}

bool damageMiddle(const std::string& path, long long from) {
    const int fd = storage::openFile(path, O_RDWR);
    if (fd < 0)
        return false;
    const long long end = ::lseek(fd, 0, SEEK_END);
    const long long at = from + (end - from) / 2;
    unsigned char byte = 0;
    bool ok = at < end && ::pread(fd, &byte, 1, at) == 1;
    byte = static_cast<unsigned char>(~byte);
    ok = ok && ::pwrite(fd, &byte, 1, at) == 1 && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace backupformat
