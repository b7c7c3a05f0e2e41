// Decoding follows the request layout: ALL_HEADERS (7.2+), then calls separated by batch flags,
// each a name or procedure id, option flags and parameters (name, status, TYPE_INFO, value).
#include "RpcRequest.h"

#include "Utf.h"

#include <cstdio>

namespace rpc {

namespace {

class Reader {
public:
    Reader(const std::vector<uint8_t>& bytes, size_t at) : m_bytes(bytes), m_pos(at) {}

    bool atEnd() const { return m_pos >= m_bytes.size(); }
    size_t pos() const { return m_pos; }
    bool has(size_t n) const { return n <= m_bytes.size() - m_pos; }
    uint8_t peek() const { return m_bytes[m_pos]; }

    bool u8(uint8_t& v) {
        if (!has(1))
            return false;
        v = m_bytes[m_pos++];
        return true;
    }
    bool u16(uint16_t& v) {
        if (!has(2))
            return false;
        v = uint16_t(m_bytes[m_pos] | m_bytes[m_pos + 1] << 8);
        m_pos += 2;
        return true;
    }
    bool u32(uint32_t& v) {
        uint16_t lo, hi;
        if (!u16(lo) || !u16(hi))
            return false;
        v = uint32_t(lo) | uint32_t(hi) << 16;
        return true;
    }
    bool u64(uint64_t& v) {
        uint32_t lo, hi;
        if (!u32(lo) || !u32(hi))
            return false;
        v = uint64_t(lo) | uint64_t(hi) << 32;
        return true;
    }
    bool bytes(size_t n, std::string& out) {
        if (!has(n))
            return false;
        out.append(reinterpret_cast<const char*>(m_bytes.data() + m_pos), n);
        m_pos += n;
        return true;
    }
    bool skip(size_t n) {
        if (!has(n))
            return false;
        m_pos += n;
        return true;
    }
    bool utf16(size_t chars, std::string& out) {
        if (chars > (m_bytes.size() - m_pos) / 2)
            return false;
        out = utf::fromUtf16le(m_bytes.data() + m_pos, chars);
        m_pos += chars * 2;
        return true;
    }
    std::vector<uint8_t> slice(size_t from) const {
        return {m_bytes.begin() + long(from), m_bytes.begin() + long(m_pos)};
    }

private:
    const std::vector<uint8_t>& m_bytes;
    size_t m_pos;
};

// Code-page text: the collation the stand-in reports is Latin-1 based.
std::string fromLatin1(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

long long signedOf(const std::string& raw) {
    uint64_t v = 0;
    for (size_t i = 0; i < raw.size(); ++i)
        v |= uint64_t(static_cast<unsigned char>(raw[i])) << (8 * i);
    if (raw.size() < 8 && raw.size() > 0 && (static_cast<unsigned char>(raw.back()) & 0x80))
        v |= ~uint64_t(0) << (8 * raw.size());
    return (long long)v;
}

// A partially length-prefixed value (PLP): total length, then chunks until an empty one.
bool plp(Reader& in, std::string& out, bool& isNull) {
    uint64_t total;
    if (!in.u64(total))
        return false;
    isNull = total == ~uint64_t(0);
    if (isNull)
        return true;
    for (;;) {
        uint32_t chunk;
        if (!in.u32(chunk))
            return false;
        if (chunk == 0)
            return true;
        if (!in.bytes(chunk, out))
            return false;
    }
}

enum class Length { Fixed, Byte, UShort, Long };

// Broken: the stream cannot be read on. The others are refused per parameter, as SQL Server
// refuses them with 8009 and 8016, and the connection stays.
enum class ParamOutcome { Ok, Broken, UnknownType, BadLength };

ParamOutcome readParam(Reader& in, bool tds72, Param& p) {
    uint8_t nameLength;
    if (!in.u8(nameLength) || !in.utf16(nameLength, p.name) || !in.u8(p.status))
        return ParamOutcome::Broken;
    if (p.status & ~uint8_t(0x0B)) // by reference, default value, encrypted: nothing else is defined
        return ParamOutcome::Broken;
    if (p.status & 0x08) // Always Encrypted values need keys the stand-in does not hold
        return ParamOutcome::Broken;
    const size_t typeStart = in.pos();
    if (!in.u8(p.type))
        return ParamOutcome::Broken;

    Length length = Length::Byte;
    size_t fixedSize = 0;
    uint32_t maxLength = 0;
    bool collation = false;
    switch (p.type) {
    case 0x1F: // NULL
        length = Length::Fixed;
        break;
    case 0x30:
    case 0x32: // TINYINT, BIT
        length = Length::Fixed, fixedSize = 1;
        break;
    case 0x34: // SMALLINT
        length = Length::Fixed, fixedSize = 2;
        break;
    case 0x38:
    case 0x3A:
    case 0x3B:
    case 0x7A: // INT, SMALLDATETIME, REAL, SMALLMONEY
        length = Length::Fixed, fixedSize = 4;
        break;
    case 0x3C:
    case 0x3D:
    case 0x3E:
    case 0x7F: // MONEY, DATETIME, FLOAT, BIGINT
        length = Length::Fixed, fixedSize = 8;
        break;
    case 0x24:
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x6E:
    case 0x6F: // GUID, INTN, BITN, FLTN, MONEYN, DATETIMN
    case 0x25:
    case 0x27:
    case 0x2D:
    case 0x2F: { // the old one-byte binary and text
        uint8_t m;
        if (!in.u8(m))
            return ParamOutcome::Broken;
        break;
    }
    case 0x37:
    case 0x3F:
    case 0x6A:
    case 0x6C: // DECIMAL, NUMERIC: length, precision, scale
        if (!in.skip(3))
            return ParamOutcome::Broken;
        break;
    case 0x28: // DATE
        break;
    case 0x29:
    case 0x2A:
    case 0x2B: // TIME, DATETIME2, DATETIMEOFFSET: scale
        if (!in.skip(1))
            return ParamOutcome::Broken;
        break;
    case 0xA5:
    case 0xAD:
    case 0xA7:
    case 0xAF:
    case 0xE7:
    case 0xEF: {
        uint16_t m;
        if (!in.u16(m))
            return ParamOutcome::Broken;
        maxLength = m;
        length = Length::UShort;
        collation = p.type == 0xA7 || p.type == 0xAF || p.type == 0xE7 || p.type == 0xEF;
        break;
    }
    case 0x22:
    case 0x23:
    case 0x63:
    case 0x62: // IMAGE, TEXT, NTEXT, SQL_VARIANT
        if (!in.u32(maxLength))
            return ParamOutcome::Broken;
        length = Length::Long;
        collation = p.type == 0x23 || p.type == 0x63;
        break;
    default: // XML, UDT, table-valued parameters: not carried here
        return ParamOutcome::UnknownType;
    }
    if (collation && !in.skip(5))
        return ParamOutcome::Broken;
    p.typeInfo = in.slice(typeStart);

    const size_t valueStart = in.pos();
    std::string raw;
    bool isNull = false;
    switch (length) {
    case Length::Fixed:
        isNull = p.type == 0x1F;
        if (!in.bytes(fixedSize, raw))
            return ParamOutcome::Broken;
        break;
    case Length::Byte: {
        uint8_t n;
        if (!in.u8(n) || !in.bytes(n, raw))
            return ParamOutcome::Broken;
        isNull = n == 0;
        break;
    }
    case Length::UShort:
        if (tds72 && maxLength == 0xFFFF) {
            if (!plp(in, raw, isNull))
                return ParamOutcome::Broken;
        } else {
            uint16_t n;
            if (!in.u16(n))
                return ParamOutcome::Broken;
            isNull = n == 0xFFFF;
            if (!isNull && !in.bytes(n, raw))
                return ParamOutcome::Broken;
        }
        break;
    case Length::Long: {
        uint32_t n;
        if (!in.u32(n))
            return ParamOutcome::Broken;
        isNull = n == 0xFFFFFFFF;
        if (!isNull && !in.bytes(n, raw))
            return ParamOutcome::Broken;
        break;
    }
    }
    p.valueBytes = in.slice(valueStart);

    Value& v = p.value;
    if (isNull) {
        v.kind = Value::Null;
        return ParamOutcome::Ok;
    }
    switch (p.type) {
    case 0x30: // TINYINT is the one unsigned integer
        v.kind = Value::Integer;
        v.integer = static_cast<unsigned char>(raw[0]);
        break;
    case 0x26:
        if (raw.size() != 1 && raw.size() != 2 && raw.size() != 4 && raw.size() != 8)
            return ParamOutcome::BadLength;
        v.kind = Value::Integer;
        v.integer = raw.size() == 1 ? static_cast<unsigned char>(raw[0]) : signedOf(raw);
        break;
    case 0x34:
    case 0x38:
    case 0x7F:
        v.kind = Value::Integer;
        v.integer = signedOf(raw);
        break;
    case 0x32:
    case 0x68:
        if (raw.size() != 1)
            return ParamOutcome::BadLength;
        v.kind = Value::Integer;
        v.integer = raw[0] ? 1 : 0;
        break;
    case 0x3B:
    case 0x3E:
    case 0x6D: {
        char buffer[40];
        if (raw.size() == 4) {
            float f;
            std::copy(raw.begin(), raw.end(), reinterpret_cast<char*>(&f));
            std::snprintf(buffer, sizeof buffer, "%.9g", double(f));
        } else if (raw.size() == 8) {
            double d;
            std::copy(raw.begin(), raw.end(), reinterpret_cast<char*>(&d));
            std::snprintf(buffer, sizeof buffer, "%.17g", d);
        } else {
            return ParamOutcome::BadLength;
        }
        v.kind = Value::Real;
        v.text = buffer;
        break;
    }
    case 0xE7:
    case 0xEF:
    case 0x63:
        if (raw.size() % 2)
            return ParamOutcome::BadLength;
        v.kind = Value::Unicode;
        v.text = utf::fromUtf16le(reinterpret_cast<const uint8_t*>(raw.data()), raw.size() / 2);
        break;
    case 0xA7:
    case 0xAF:
    case 0x23:
    case 0x27:
    case 0x2F:
        v.kind = Value::Text;
        v.text = fromLatin1(raw);
        break;
    case 0xA5:
    case 0xAD:
    case 0x22:
    case 0x25:
    case 0x2D:
        v.kind = Value::Binary;
        v.text = raw;
        break;
    default:
        v.kind = Value::Other;
        break;
    }
    return ParamOutcome::Ok;
}

bool isBatchFlag(uint8_t b) {
    // 0x80 between calls (0xFF from clients older than 7.2); 0xFE (NoExec) separates them too.
    return b == 0x80 || b == 0xFF || b == 0xFE;
}

} // namespace

Decoded decode(const std::vector<uint8_t>& payload, bool tds72OrLater, std::vector<Call>& calls,
               BadParameter& bad) {
    calls.clear();
    size_t start = 0;
    if (tds72OrLater) {
        Reader headers(payload, 0);
        uint32_t total;
        if (!headers.u32(total) || total < 4 || total > payload.size())
            return Decoded::Broken;
        start = total;
    }
    Reader in(payload, start);
    if (in.atEnd())
        return Decoded::Broken;
    while (!in.atEnd()) {
        Call call;
        uint16_t nameLength;
        if (!in.u16(nameLength))
            return Decoded::Broken;
        if (nameLength == 0xFFFF) {
            if (!in.u16(call.procId) || call.procId == 0)
                return Decoded::Broken;
        } else if (nameLength == 0 || !in.utf16(nameLength, call.procName)) {
            return Decoded::Broken;
        }
        if (!in.u16(call.options))
            return Decoded::Broken;
        while (!in.atEnd() && !isBatchFlag(in.peek())) {
            Param p;
            const ParamOutcome outcome = readParam(in, tds72OrLater, p);
            if (outcome == ParamOutcome::Broken)
                return Decoded::Broken;
            if (outcome != ParamOutcome::Ok) {
                bad.number = outcome == ParamOutcome::UnknownType ? 8009 : 8016;
                bad.ordinal = int(call.params.size()) + 1;
                bad.name = p.name;
                bad.type = p.type;
                return Decoded::BadParameter;
            }
            call.params.push_back(std::move(p));
        }
        calls.push_back(std::move(call));
        if (!in.atEnd())
            in.skip(1);
    }
    return Decoded::Ok;
}

} // namespace rpc
