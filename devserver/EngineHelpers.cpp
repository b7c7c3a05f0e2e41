// Helpers the statement families share: LIKE matching, the current time, new GUIDs.
#include "EngineHelpers.h"

#include "Catalog.h"
#include "Utf.h"

#include <chrono>
#include <ctime>
#include <mutex>
#include <random>

namespace engine {

namespace {
bool likeMatch(const std::u16string& s, size_t si, const std::u16string& p, size_t pi) {
    while (pi < p.size()) {
        const char16_t c = p[pi];
        if (c == u'%') {
            for (size_t k = si; k <= s.size(); ++k)
                if (likeMatch(s, k, p, pi + 1))
                    return true;
            return false;
        }
        if (si >= s.size())
            return false;
        if (c == u'_') {
            ++si;
            ++pi;
            continue;
        }
        if (c == u'[') {
            const size_t close = p.find(u']', pi + 1);
            if (close != std::u16string::npos) {
                bool negate = pi + 1 < close && p[pi + 1] == u'^';
                bool hit = false;
                for (size_t k = pi + 1 + (negate ? 1 : 0); k < close; ++k) {
                    if (k + 2 < close && p[k + 1] == u'-') {
                        hit = hit || (s[si] >= p[k] && s[si] <= p[k + 2]);
                        k += 2;
                    } else {
                        hit = hit || s[si] == p[k];
                    }
                }
                if (hit == negate)
                    return false;
                ++si;
                pi = close + 1;
                continue;
            }
        }
        if (s[si] != c)
            return false;
        ++si;
        ++pi;
    }
    return si == s.size();
}

} // namespace

bool like(const std::string& value, const std::string& pattern) {
    if (Catalog::caseSensitive())
        return likeMatch(utf::toUtf16(value), 0, utf::toUtf16(pattern), 0);
    return likeMatch(utf::toUtf16(utf::fold(value)), 0, utf::toUtf16(utf::fold(pattern)), 0);
}

std::string nowText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis =
        long(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
    return buffer;
}

std::string newGuid() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    std::lock_guard<std::mutex> lock(mutex);
    const unsigned long long a = random(), b = random();
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08llX-%04llX-%04llX-%04llX-%012llX", a >> 32, (a >> 16) & 0xFFFF,
                  (a & 0x0FFF) | 0x4000, ((b >> 48) & 0x3FFF) | 0x8000, b & 0xFFFFFFFFFFFFULL);
    return buffer;
}

} // namespace engine
