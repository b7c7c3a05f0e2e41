// Builds the server's token stream and sends it in TDS packets. Knows the per-version layouts
// (7.1 has 2-byte line numbers and user types and 4-byte row counts).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tds {

enum class ColumnType {
    NVarChar,
    NChar,
    VarChar,
    Char,
    Int,
    SmallInt,
    BigInt,
    TinyInt,
    Numeric,
    Bit,
    Guid,
    VarBinary,
    DateTime, // values as "YYYY-MM-DD hh:mm:ss.mmm"
    // sql_variant: a value that reads as a whole number goes as an int, any other as an nvarchar
    Variant
};

struct Column {
    std::string name;
    ColumnType type = ColumnType::NVarChar;
    int size = 128; // characters for text, bytes for varbinary; nvarchar over 4000 is nvarchar(max)
    int precision = 0;
    bool nullable = true;
};

using Value = std::optional<std::string>; // text form; numbers in decimal, GUIDs in 8-4-4-4-12 form

enum DoneStatus : uint16_t {
    DoneFinal = 0,
    DoneMore = 1,
    DoneError = 2,
    DoneCount = 0x10,
    DoneAttention = 0x20,
    DoneServerError = 0x100 // the statement ended in an error that ends the session
};

// The collation the server reports (SQL_Latin1_General_CP1_CI_AS until set); set once at start-up.
void setCollation(const std::array<uint8_t, 5>& bytes);

class Writer {
public:
    Writer(int fd, bool tds72OrLater) : m_fd(fd), m_wide(tds72OrLater) {}
    void setWide(bool tds72OrLater) { m_wide = tds72OrLater; }
    void setTds70(bool tds70) { m_tds70 = tds70; }
    void setPacketSize(size_t size) { m_packetSize = size; }
    void setSpid(uint16_t spid) { m_spid = spid; }
    int fd() const { return m_fd; }

    void message(bool error, int number, int state, int cls, const std::string& text,
                 const std::string& server, const std::string& proc = "", int line = 1);
    void done(uint16_t status, uint16_t curCmd = 0, uint64_t rows = 0, uint8_t token = 0xFD);
    void envChange(uint8_t type, const std::string& newValue, const std::string& oldValue);
    void collationChange();
    // What a TDS 7.0 client is told at login instead of the collation, which its protocol lacks: the
    // character set (3), the Unicode locale (5) and comparison flags (6), from the server's collation.
    void tds70Environment();
    void loginAck(uint32_t tdsVersion, uint8_t major, uint8_t minor, uint16_t build);
    void returnStatus(int32_t status);
    // An output parameter's value: its TYPE_INFO and value bytes as the request carried them.
    void returnValue(uint16_t ordinal, const std::string& name, const std::vector<uint8_t>& typeInfo,
                     const std::vector<uint8_t>& value);
    // Inside a procedure call a statement's DONE is DONEINPROC and never ends the reply; the
    // caller finishes it with the procedure's own DONEPROC.
    void setInsideProcedure(bool inside) { m_insideProcedure = inside; }
    // The number of the first error (class 11 and up) written since the last clearErrors().
    int firstError() const { return m_firstError; }
    void clearErrors() { m_firstError = 0; }
    // Tokens written and not yet sent.
    bool pending() const { return !m_buffer.empty(); }
    void columns(const std::vector<Column>& columns);
    void row(const std::vector<Column>& columns, const std::vector<Value>& values);
    void raw(const std::vector<uint8_t>& bytes) {
        m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
    }

    // Sends what is buffered; the last packet of a reply carries the end-of-message bit.
    bool flush(bool endOfMessage);

private:
    void u8(uint8_t v) { m_buffer.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void u64(uint64_t v);
    void bVarchar(const std::string& text);
    void usVarchar(const std::string& text);
    void typeInfo(const Column& c);
    void plp(const std::string& bytes);
    static bool isMax(const Column& c) { return c.type == ColumnType::NVarChar && c.size > 4000; }

    int m_fd;
    bool m_wide;
    bool m_tds70 = false; // a TDS 7.0 client: no collations anywhere
    void typeCollation();
    size_t m_packetSize = 4096;
    uint16_t m_spid = 51;
    bool m_insideProcedure = false;
    int m_firstError = 0;
    std::vector<uint8_t> m_buffer;
};

// The whole buffer to or from a socket, interrupted calls resumed; false once the link is gone.
bool sendAll(int fd, const uint8_t* data, size_t size);
bool readExact(int fd, uint8_t* data, size_t size);

} // namespace tds
