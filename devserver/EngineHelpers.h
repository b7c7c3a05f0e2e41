// Small text and number helpers the statement families of Engine share: message templates,
// LIKE matching, page counts. Internal to the stand-in.
#pragma once

#include "PathSpace.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace engine {

// Closes a descriptor on every way out.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Tiny %1 %2 %3 substitution: message templates keep their quotes and punctuation readable.
inline std::string fmt(const char* pattern, const std::string& a, const std::string& b = "",
                       const std::string& c = "") {
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (*p == '%' && p[1] >= '1' && p[1] <= '3') {
            out += p[1] == '1' ? a : p[1] == '2' ? b : c;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

inline std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// LIKE with %, _ and [set], comparing letters as the server's collation does.
bool like(const std::string& value, const std::string& pattern);

inline long long pagesOf(size_t bytes) {
    return (long long)((bytes + 8191) / 8192);
}

inline std::string guidFor(const std::string& seed) {
    unsigned long long h = 1469598103934665603ULL;
    for (char c : seed)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08llX-%04llX-%04llX-%04llX-%012llX", h >> 32, (h >> 16) & 0xFFFF,
                  h & 0xFFFF, (h >> 48) & 0xFFFF, (h * 31) & 0xFFFFFFFFFFFFULL);
    return buffer;
}

// The folder part of a server path, with its separator ("C:\\SQLData\\" when the server plays Windows).
inline std::string folderOf(const std::string& path) {
    const size_t slash = pathspace::windows() ? path.find_last_of("\\/") : path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The local time as SQL Server shows a datetime: "2026-01-31 14:05:09.123".
std::string nowText();
// A fresh random GUID in 8-4-4-4-12 form.
std::string newGuid();

} // namespace engine
