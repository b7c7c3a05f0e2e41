// The five bytes by which TDS names a collation (in column metadata, sql_variant values and the
// login's collation change): the locale, the comparison flags and version, and SQL collations' sort id.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace collation {

using Bytes = std::array<uint8_t, 5>;

// SQL_Latin1_General_CP1_CI_AS, the installation default.
constexpr Bytes kDefault = {0x09, 0x04, 0xD0, 0x00, 0x34};

// The bytes of a collation by its name, "Latin1_General_100_CS_AS" or "SQL_Latin1_General_CP1_CI_AS";
// false (out untouched) for a name whose locale or sort order is not known here.
bool bytesOf(const std::string& name, Bytes& out);

} // namespace collation
