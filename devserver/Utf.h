// UTF-8 (the stand-in's internal text) to and from UTF-16LE (TDS's wire text).
#pragma once

#include <cstdint>
#include <string>

namespace utf {

std::string fromUtf16le(const uint8_t* data, size_t units);
std::u16string toUtf16(const std::string& text);
// Case folding for the ASCII range only, which is what identifiers and keywords need; other
// letters are folded through their UTF-16 code units for the common Cyrillic block too.
std::string fold(const std::string& text);
size_t lengthInChars(const std::string& text);

} // namespace utf
