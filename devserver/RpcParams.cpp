#include "RpcParams.h"

#include "Principals.h"

#include "Utf.h"

#include <cctype>

namespace rpc {

namespace {

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

bool isNumericType(const std::string& t) {
    return t == "int" || t == "bigint" || t == "smallint" || t == "tinyint" || t == "bit" || t == "decimal" ||
           t == "numeric" || t == "float" || t == "real" || t == "money" || t == "smallmoney";
}
bool isUnicodeType(const std::string& t) {
    return t == "nvarchar" || t == "nchar" || t == "ntext" || t == "sysname" || t == "xml";
}
bool isCodePageType(const std::string& t) {
    return t == "varchar" || t == "char" || t == "text";
}
bool isBinaryType(const std::string& t) {
    return t == "varbinary" || t == "binary" || t == "image";
}

} // namespace

bool parseDeclarations(const std::string& text, std::vector<Declaration>& out) {
    out.clear();
    int depth = 0;
    std::string piece;
    std::vector<std::string> pieces;
    for (char c : text) {
        if (c == '(')
            ++depth;
        if (c == ')')
            --depth;
        if (c == ',' && depth == 0) {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!trim(piece).empty() || !pieces.empty())
        pieces.push_back(piece);
    for (const std::string& raw : pieces) {
        const std::string p = trim(raw);
        if (p.size() < 2 || p[0] != '@')
            return false;
        size_t end = 1;
        while (end < p.size() && !std::isspace(static_cast<unsigned char>(p[end])))
            ++end;
        Declaration d;
        d.name = lower(p.substr(0, end));
        std::string rest = lower(trim(p.substr(end)));
        if (rest.rfind("as ", 0) == 0)
            rest = trim(rest.substr(3));
        size_t typeEnd = 0;
        while (typeEnd < rest.size() &&
               (std::isalnum(static_cast<unsigned char>(rest[typeEnd])) || rest[typeEnd] == '_'))
            ++typeEnd;
        d.type = rest.substr(0, typeEnd);
        if (d.type.empty())
            return false;
        const std::string tail = rest.substr(typeEnd);
        d.output = tail.find("out") != std::string::npos;
        out.push_back(d);
    }
    return true;
}

std::string Bindings::bind(const std::vector<Declaration>& declarations, const std::vector<Param>& values,
                           bool& tooMany) {
    tooMany = false;
    m_values.clear();
    size_t next = 0;
    for (const Param& p : values) {
        const std::string name = lower(p.name);
        const Declaration* d = nullptr;
        if (name.empty()) {
            if (next < declarations.size())
                d = &declarations[next++];
        } else {
            for (const Declaration& candidate : declarations)
                if (candidate.name == name)
                    d = &candidate;
        }
        if (!d) {
            tooMany = true;
            return "";
        }
        m_values[d->name] = {d->type, p.value};
    }
    for (const Declaration& d : declarations)
        if (!m_values.count(d.name))
            return d.name;
    return "";
}

// The literal a value would be written as, typed by its declaration, so the statement reads it as
// that value and nothing else.
bool Bindings::literal(const std::string& variable, tsql::Token& token) const {
    const auto it = m_values.find(lower(variable));
    if (it == m_values.end())
        return false;
    const std::string& type = it->second.type;
    const Value& v = it->second.value;
    std::string text;
    switch (v.kind) {
    case Value::Null:
    case Value::Other:
        token.kind = tsql::Token::Word;
        token.text = "NULL";
        return true;
    case Value::Integer:
        text = std::to_string(v.integer);
        break;
    case Value::Binary:
        text = isUnicodeType(type) || isCodePageType(type) ? v.text : principals::hex(v.text);
        break;
    default:
        text = v.text;
        break;
    }
    if (isNumericType(type) || isBinaryType(type) ||
        (!isUnicodeType(type) && !isCodePageType(type) &&
         (v.kind == Value::Integer || v.kind == Value::Real || v.kind == Value::Binary))) {
        token.kind = tsql::Token::Number;
        token.text = text;
        return true;
    }
    token.kind = tsql::Token::String;
    token.national = !isCodePageType(type) && !(type.empty() && v.kind == Value::Text);
    token.text = text;
    return true;
}

} // namespace rpc
