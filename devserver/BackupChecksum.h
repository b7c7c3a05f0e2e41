// The checksum a backup set carries when BACKUP … WITH CHECKSUM asked for one: every byte of the
// set's files goes in, so a single changed byte anywhere is found. Streamed: bytes may arrive in
// pieces of any size and give the same value as in one piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace backupformat {

class SetChecksum {
public:
    void add(const char* data, size_t size);
    // The value over every byte added so far, as 16 hex digits.
    std::string hex() const;

private:
    void block(const unsigned char* p); // 32 bytes, one word into each lane
    uint64_t m_lanes[4] = {0x9E3779B185EBCA87ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                           0x85EBCA77C2B2AE63ull};
    unsigned char m_pending[32] = {};
    size_t m_pendingSize = 0;
    uint64_t m_total = 0;
};

} // namespace backupformat
