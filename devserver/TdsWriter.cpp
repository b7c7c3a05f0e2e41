#include "TdsWriter.h"

#include "CollationBytes.h"
#include "Utf.h"
#include "WholeTransfer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace tds {

namespace {
// The server's collation, as every character column, sql_variant string and the login carry it.
collation::Bytes kCollation = collation::kDefault;
} // namespace

void setCollation(const collation::Bytes& bytes) {
    kCollation = bytes;
}

namespace {

int numericLength(int precision) {
    if (precision <= 9)
        return 5;
    if (precision <= 19)
        return 9;
    if (precision <= 28)
        return 13;
    return 17;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}
} // namespace

bool sendAll(int fd, const uint8_t* data, size_t size) {
    return transferWhole(data, size, [fd](const uint8_t* d, size_t n) { return ::send(fd, d, n, MSG_NOSIGNAL); });
}

bool readExact(int fd, uint8_t* data, size_t size) {
    return transferWhole(data, size, [fd](uint8_t* d, size_t n) { return ::recv(fd, d, n, 0); });
}

void Writer::u16(uint16_t v) {
    u8(uint8_t(v));
    u8(uint8_t(v >> 8));
}
void Writer::u32(uint32_t v) {
    u16(uint16_t(v));
    u16(uint16_t(v >> 16));
}
void Writer::u64(uint64_t v) {
    u32(uint32_t(v));
    u32(uint32_t(v >> 32));
}

void Writer::bVarchar(const std::string& text) {
    std::u16string w = utf::toUtf16(text);
    if (w.size() > 255)
        w.resize(255);
    u8(uint8_t(w.size()));
    for (char16_t c : w)
        u16(c);
}

void Writer::usVarchar(const std::string& text) {
    std::u16string w = utf::toUtf16(text);
    if (w.size() > 65535)
        w.resize(65535);
    u16(uint16_t(w.size()));
    for (char16_t c : w)
        u16(c);
}

void Writer::message(bool error, int number, int state, int cls, const std::string& text,
                     const std::string& server, const std::string& proc, int line) {
    if (error && cls > 10 && m_firstError == 0)
        m_firstError = number;
    std::vector<uint8_t> saved;
    saved.swap(m_buffer);
    u32(uint32_t(number));
    u8(uint8_t(state));
    u8(uint8_t(cls));
    usVarchar(text);
    bVarchar(server);
    bVarchar(proc);
    if (m_wide)
        u32(uint32_t(line));
    else
        u16(uint16_t(line));
    std::vector<uint8_t> body;
    body.swap(m_buffer);
    m_buffer.swap(saved);
    u8(error ? 0xAA : 0xAB);
    u16(uint16_t(body.size()));
    raw(body);
}

void Writer::done(uint16_t status, uint16_t curCmd, uint64_t rows, uint8_t token) {
    if (m_insideProcedure) {
        status |= DoneMore;
        if (token == 0xFD)
            token = 0xFF;
    }
    u8(token);
    u16(status);
    u16(curCmd);
    if (m_wide)
        u64(rows);
    else
        u32(uint32_t(rows));
}

void Writer::envChange(uint8_t type, const std::string& newValue, const std::string& oldValue) {
    std::vector<uint8_t> saved;
    saved.swap(m_buffer);
    u8(type);
    bVarchar(newValue);
    bVarchar(oldValue);
    std::vector<uint8_t> body;
    body.swap(m_buffer);
    m_buffer.swap(saved);
    u8(0xE3);
    u16(uint16_t(body.size()));
    raw(body);
}

void Writer::collationChange() {
    u8(0xE3);
    u16(1 + 1 + 5 + 1);
    u8(7);
    u8(5);
    for (uint8_t b : kCollation)
        u8(b);
    u8(0);
}

void Writer::tds70Environment() {
    // MS-TDS (ENVCHANGE): "types 3, 5, and 6 are only sent back to clients running TDS 7.0 or earlier",
    // types 5 and 6 with an empty old value. Clients that cannot read a collation take the code page
    // from them (pytds maps the locale to a code page; jTDS asks the server when it gets neither).
    const uint32_t word = uint32_t(kCollation[0]) | uint32_t(kCollation[1]) << 8 | uint32_t(kCollation[2]) << 16 |
                          uint32_t(kCollation[3]) << 24;
    const uint32_t lcid = word & 0xFFFFF;
    const uint32_t flags = (word >> 20) & 0xFF;
    // The character set's name as syscharsets has it: Cyrillic locales use code page 1251, the
    // Latin ones (and every SQL collation the stand-in plays) 1252, which SQL Server calls iso_1.
    const bool cyrillic = lcid == 0x419 || lcid == 0x422 || lcid == 0x423 || lcid == 0x402 || lcid == 0x42F;
    envChange(3, cyrillic ? "cp1251" : "iso_1", "");
    envChange(5, std::to_string(lcid), "");
    // The Windows comparison style (SERVERPROPERTY('ComparisonStyle'), 196609 for a CI_AS collation):
    // ignore case 1, ignore accents 2, ignore kana 0x10000, ignore width 0x20000; 0 when binary.
    const uint32_t style = (flags & 0x30) ? 0
                                          : ((flags & 1) ? 1u : 0u) | ((flags & 2) ? 2u : 0u) |
                                                ((flags & 4) ? 0x10000u : 0u) | ((flags & 8) ? 0x20000u : 0u);
    envChange(6, std::to_string(style), "");
}

void Writer::typeCollation() {
    // TDS 7.0 knows no collations: its character types end at their length.
    if (!m_tds70)
        for (uint8_t b : kCollation)
            u8(b);
}

void Writer::loginAck(uint32_t tdsVersion, uint8_t major, uint8_t minor, uint16_t build) {
    // The name as real servers send it: 22 characters, the last two NUL.
    const std::string program("Microsoft SQL Server\0\0", 22);
    u8(0xAD);
    u16(uint16_t(1 + 4 + 1 + program.size() * 2 + 4));
    u8(1); // SQL_TSQL: FreeTDS refuses the default interface value
    u8(uint8_t(tdsVersion >> 24));
    u8(uint8_t(tdsVersion >> 16));
    u8(uint8_t(tdsVersion >> 8));
    u8(uint8_t(tdsVersion));
    bVarchar(program);
    u8(major);
    u8(minor);
    u8(uint8_t(build >> 8));
    u8(uint8_t(build));
}

void Writer::returnStatus(int32_t status) {
    u8(0x79);
    u32(uint32_t(status));
}

void Writer::returnValue(uint16_t ordinal, const std::string& name, const std::vector<uint8_t>& typeInfo,
                         const std::vector<uint8_t>& value) {
    u8(0xAC);
    u16(ordinal);
    bVarchar(name);
    u8(0x01); // an output parameter
    if (m_wide)
        u32(0);
    else
        u16(0);
    u16(0x0001); // nullable
    raw(typeInfo);
    raw(value);
}

void Writer::plp(const std::string& bytes) {
    u64(bytes.size());
    if (!bytes.empty()) {
        u32(uint32_t(bytes.size()));
        raw(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    u32(0);
}

void Writer::typeInfo(const Column& c) {
    if (isMax(c)) {
        // nvarchar(max) before 7.2 travels as ntext, as SQL Server sends it to older clients.
        if (m_wide) {
            u8(0xE7);
            u16(0xFFFF);
        } else {
            u8(0x63);
            u32(0x7FFFFFFF);
        }
        typeCollation();
        return;
    }
    switch (c.type) {
    case ColumnType::NVarChar:
    case ColumnType::NChar:
        u8(c.type == ColumnType::NVarChar ? 0xE7 : 0xEF);
        u16(uint16_t(c.size * 2));
        typeCollation();
        break;
    case ColumnType::VarChar:
    case ColumnType::Char:
        u8(c.type == ColumnType::VarChar ? 0xA7 : 0xAF);
        u16(uint16_t(c.size));
        typeCollation();
        break;
    case ColumnType::Int:
        u8(0x26);
        u8(4);
        break;
    case ColumnType::SmallInt:
        u8(0x26);
        u8(2);
        break;
    case ColumnType::BigInt:
        u8(0x26);
        u8(8);
        break;
    case ColumnType::TinyInt:
        u8(0x26);
        u8(1);
        break;
    case ColumnType::Numeric:
        u8(0x6C);
        u8(uint8_t(numericLength(c.precision)));
        u8(uint8_t(c.precision));
        u8(0);
        break;
    case ColumnType::Bit:
        u8(0x68);
        u8(1);
        break;
    case ColumnType::Guid:
        u8(0x24);
        u8(16);
        break;
    case ColumnType::VarBinary:
        u8(0xA5);
        u16(uint16_t(c.size));
        break;
    case ColumnType::DateTime:
        u8(0x6F);
        u8(8);
        break;
    case ColumnType::Variant:
        u8(0x62);
        u32(8016); // the largest value a sql_variant holds
        break;
    }
}

void Writer::columns(const std::vector<Column>& columns) {
    u8(0x81);
    u16(uint16_t(columns.size()));
    for (const Column& c : columns) {
        if (m_wide)
            u32(0);
        else
            u16(0);
        u16(c.nullable ? 0x0001 : 0x0000);
        typeInfo(c);
        if (isMax(c) && !m_wide)
            u16(0); // ntext names its table; an expression has none
        bVarchar(c.name);
    }
}

void Writer::row(const std::vector<Column>& columns, const std::vector<Value>& values) {
    u8(0xD1);
    for (size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        const Value& v = i < values.size() ? values[i] : Value();
        if (isMax(c)) {
            std::string bytes;
            if (v)
                for (char16_t ch : utf::toUtf16(*v)) {
                    bytes += char(ch & 0xFF);
                    bytes += char(ch >> 8);
                }
            if (m_wide) {
                if (v) {
                    plp(bytes);
                } else {
                    u64(~uint64_t(0));
                }
            } else if (!v) {
                u8(0); // no text pointer: NULL
            } else {
                u8(16);
                for (int b = 0; b < 16; ++b)
                    u8(0xFF); // text pointer
                for (int b = 0; b < 8; ++b)
                    u8(0); // timestamp
                u32(uint32_t(bytes.size()));
                raw(std::vector<uint8_t>(bytes.begin(), bytes.end()));
            }
            continue;
        }
        switch (c.type) {
        case ColumnType::NVarChar:
        case ColumnType::NChar: {
            if (!v) {
                u16(0xFFFF);
                break;
            }
            std::u16string w = utf::toUtf16(*v);
            if (c.type == ColumnType::NChar)
                w.resize(size_t(c.size), u' ');
            u16(uint16_t(w.size() * 2));
            for (char16_t ch : w)
                u16(ch);
            break;
        }
        case ColumnType::VarChar:
        case ColumnType::Char: {
            if (!v) {
                u16(0xFFFF);
                break;
            }
            std::string s = *v;
            if (c.type == ColumnType::Char)
                s.resize(size_t(c.size), ' ');
            u16(uint16_t(s.size()));
            for (char ch : s)
                u8(uint8_t(ch));
            break;
        }
        case ColumnType::Int:
        case ColumnType::SmallInt:
        case ColumnType::BigInt:
        case ColumnType::TinyInt: {
            const int width = c.type == ColumnType::Int        ? 4
                              : c.type == ColumnType::SmallInt ? 2
                              : c.type == ColumnType::BigInt   ? 8
                                                               : 1;
            if (!v) {
                u8(0);
                break;
            }
            const long long n = std::strtoll(v->c_str(), nullptr, 10);
            u8(uint8_t(width));
            for (int b = 0; b < width; ++b)
                u8(uint8_t(uint64_t(n) >> (8 * b)));
            break;
        }
        case ColumnType::Numeric: {
            if (!v) {
                u8(0);
                break;
            }
            const int length = numericLength(c.precision);
            const bool negative = !v->empty() && (*v)[0] == '-';
            const unsigned long long magnitude = std::strtoull(v->c_str() + (negative ? 1 : 0), nullptr, 10);
            u8(uint8_t(length));
            u8(negative ? 0 : 1);
            for (int b = 0; b < length - 1; ++b)
                u8(b < 8 ? uint8_t(magnitude >> (8 * b)) : 0);
            break;
        }
        case ColumnType::Bit:
            if (!v) {
                u8(0);
            } else {
                u8(1);
                u8(*v == "1" ? 1 : 0);
            }
            break;
        case ColumnType::Guid: {
            if (!v) {
                u8(0);
                break;
            }
            std::string hex;
            for (char ch : *v)
                if (ch != '-' && ch != '{' && ch != '}')
                    hex += ch;
            hex.resize(32, '0');
            uint8_t bytes[16];
            for (int b = 0; b < 16; ++b)
                bytes[b] = uint8_t(hexValue(hex[2 * b]) * 16 + hexValue(hex[2 * b + 1]));
            // The first three groups travel little-endian.
            const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
            u8(16);
            for (int b : order)
                u8(bytes[b]);
            break;
        }
        case ColumnType::DateTime: {
            if (!v) {
                u8(0);
                break;
            }
            // Days since 1900-01-01, then three-hundredths of a second since midnight.
            int y = 1900, mo = 1, d = 1, h = 0, mi = 0, sec = 0, ms = 0;
            std::sscanf(v->c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &sec, &ms);
            const int a = (14 - mo) / 12, yy = y + 4800 - a, mm = mo + 12 * a - 3;
            const long julian = d + (153 * mm + 2) / 5 + 365L * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
            const long days = julian - 2415021; // 1900-01-01
            const uint32_t ticks = uint32_t(((h * 60 + mi) * 60 + sec) * 300 + (ms * 3 + 5) / 10);
            u8(8);
            u32(uint32_t(int32_t(days)));
            u32(ticks);
            break;
        }
        case ColumnType::Variant: {
            if (!v) {
                u32(0);
                break;
            }
            // The value's own type goes with it: base type, the size of its properties, them, the bytes.
            const bool whole = !v->empty() && v->find_first_not_of("-0123456789") == std::string::npos &&
                               v->size() < 11;
            if (whole) {
                u32(2 + 4);
                u8(0x38); // int
                u8(0);
                u32(uint32_t(int32_t(std::strtol(v->c_str(), nullptr, 10))));
                break;
            }
            const std::u16string w = utf::toUtf16(*v);
            u32(uint32_t(2 + 7 + w.size() * 2));
            u8(0xE7); // nvarchar: its collation and maximum length are its properties
            u8(7);
            for (uint8_t b : kCollation)
                u8(b);
            u16(uint16_t(std::max<size_t>(w.size() * 2, 2)));
            for (char16_t ch : w)
                u16(ch);
            break;
        }
        case ColumnType::VarBinary:
            if (!v) {
                u16(0xFFFF);
            } else {
                u16(uint16_t(v->size()));
                for (char ch : *v)
                    u8(uint8_t(ch));
            }
            break;
        }
    }
}

bool Writer::flush(bool endOfMessage) {
    if (endOfMessage && m_insideProcedure)
        return true; // the procedure's own DONEPROC ends the message
    const size_t payload = m_packetSize - 8;
    size_t offset = 0;
    bool ok = true;
    do {
        const size_t chunk = std::min(payload, m_buffer.size() - offset);
        const bool last = offset + chunk == m_buffer.size();
        if (!endOfMessage && chunk == 0)
            break;
        uint8_t header[8] = {
            4, uint8_t(last && endOfMessage ? 1 : 0), 0, 0, uint8_t(m_spid >> 8), uint8_t(m_spid), 1, 0};
        const size_t length = chunk + 8;
        header[2] = uint8_t(length >> 8);
        header[3] = uint8_t(length);
        std::vector<uint8_t> packet(header, header + 8);
        packet.insert(packet.end(), m_buffer.begin() + long(offset), m_buffer.begin() + long(offset + chunk));
        ok = ok && sendAll(m_fd, packet.data(), packet.size());
        offset += chunk;
    } while (offset < m_buffer.size());
    m_buffer.clear();
    return ok;
}

} // namespace tds
