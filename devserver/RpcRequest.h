// Reads a TDS RPC request (procedure calls with typed parameters) into plain values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rpc {

// A parameter value as the statement sees it; the bytes it came in are kept beside it.
struct Value {
    enum Kind { Null, Integer, Real, Unicode, Text, Binary, Other } kind = Null;
    long long integer = 0;
    std::string text; // Unicode/Text: UTF-8; Binary: the bytes; Real: decimal text
};

struct Param {
    std::string name;                // "@handle", or "" when given by position
    uint8_t status = 0;              // bit 0: passed by reference (an output parameter)
    uint8_t type = 0;                // the TDS type byte
    std::vector<uint8_t> typeInfo;   // TYPE_INFO as sent, echoed back for output parameters
    std::vector<uint8_t> valueBytes; // the value as sent, in TYPE_INFO's length form
    Value value;
    bool output() const { return status & 0x01; }
    bool isString() const { return value.kind == Value::Unicode || value.kind == Value::Text; }
};

struct Call {
    uint16_t procId = 0;  // 0 when the procedure is called by name
    std::string procName; // as sent, when called by name
    uint16_t options = 0;
    std::vector<Param> params;
};

// A parameter SQL Server refuses while reading the request: a type it does not know (8009) or a
// length the type cannot have (8016). It answers with the error and keeps the connection.
struct BadParameter {
    int number = 0;
    int ordinal = 0; // 1-based
    std::string name;
    uint8_t type = 0;
};

enum class Decoded {
    Ok,
    BadParameter,
    Broken, // the stream cannot be read (cut short, lengths past its end): the connection is dropped
};

// The calls of one request, in order.
Decoded decode(const std::vector<uint8_t>& payload, bool tds72OrLater, std::vector<Call>& calls,
               BadParameter& bad);

} // namespace rpc
