#include "Utf.h"

namespace utf {

namespace {
void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}
} // namespace

std::string fromUtf16le(const uint8_t* data, size_t units) {
    std::string out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = data[2 * i] | (data[2 * i + 1] << 8);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            const uint32_t low = data[2 * i + 2] | (data[2 * i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, u);
    }
    return out;
}

std::u16string toUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = uint8_t(text[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            cp = 0xFFFD;
            extra = 0;
        }
        ++i;
        for (int k = 0; k < extra && i < text.size(); ++k, ++i)
            cp = (cp << 6) | (uint8_t(text[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

std::string fold(const std::string& text) {
    std::u16string wide = toUtf16(text);
    for (char16_t& c : wide) {
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c + 32);
        else if (c >= 0x0410 && c <= 0x042F) // А..Я
            c = char16_t(c + 0x20);
        else if (c >= 0x0400 && c <= 0x040F) // Ѐ..Џ, including Є, І, Ї
            c = char16_t(c + 0x50);
        else if (c == 0x0490) // Ґ
            c = 0x0491;
    }
    std::string bytes;
    for (char16_t c : wide) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    return fromUtf16le(reinterpret_cast<const uint8_t*>(bytes.data()), wide.size());
}

size_t lengthInChars(const std::string& text) {
    return toUtf16(text).size();
}

} // namespace utf
