// A four-lane multiply-rotate checksum: one word per lane per step keeps the multiplier busy, so
// checking a backup costs about as much as reading it.
#include "BackupChecksum.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace backupformat {

namespace {
const uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
const uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

inline uint64_t rotl(uint64_t v, int r) {
    return (v << r) | (v >> (64 - r));
}
inline uint64_t round(uint64_t lane, uint64_t word) {
    return rotl(lane + word * kPrime2, 31) * kPrime1;
}
inline uint64_t word(const unsigned char* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}
} // namespace

void SetChecksum::block(const unsigned char* p) {
    m_lanes[0] = round(m_lanes[0], word(p));
    m_lanes[1] = round(m_lanes[1], word(p + 8));
    m_lanes[2] = round(m_lanes[2], word(p + 16));
    m_lanes[3] = round(m_lanes[3], word(p + 24));
}

void SetChecksum::add(const char* data, size_t size) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    m_total += size;
    if (m_pendingSize > 0) {
        const size_t take = std::min(size, sizeof m_pending - m_pendingSize);
        std::memcpy(m_pending + m_pendingSize, p, take);
        m_pendingSize += take;
        p += take;
        size -= take;
        if (m_pendingSize < sizeof m_pending)
            return;
        block(m_pending);
        m_pendingSize = 0;
    }
    for (; size >= 32; p += 32, size -= 32)
        block(p);
    std::memcpy(m_pending, p, size);
    m_pendingSize = size;
}

std::string SetChecksum::hex() const {
    uint64_t h = rotl(m_lanes[0], 1) + rotl(m_lanes[1], 7) + rotl(m_lanes[2], 12) + rotl(m_lanes[3], 18);
    h ^= m_total * kPrime1;
    for (size_t i = 0; i < m_pendingSize; ++i)
        h = rotl(h ^ (uint64_t(m_pending[i]) * kPrime2), 11) * kPrime1;
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

} // namespace backupformat
