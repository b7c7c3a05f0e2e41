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

// The calls of one request, in order. False when the request is not a well-formed RPC stream
// (truncated, a type it cannot carry): SQL Server drops such a connection.
bool decode(const std::vector<uint8_t>& payload, bool tds72OrLater, std::vector<Call>& calls);

} // namespace rpc
