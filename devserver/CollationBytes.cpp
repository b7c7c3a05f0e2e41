#include "CollationBytes.h"

#include <sstream>
#include <vector>

namespace collation {
namespace {

struct Locale {
    const char* name;
    uint32_t lcid;
};
// The Windows collations' locales met most (the rest of SQL Server's list is longer).
const Locale kLocales[] = {
    {"Latin1_General", 0x0409},   {"Cyrillic_General", 0x0419}, {"Ukrainian", 0x0422},
    {"Polish", 0x0415},           {"Czech", 0x0405},            {"Hungarian", 0x040E},
    {"Romanian", 0x0418},         {"Croatian", 0x041A},         {"Turkish", 0x041F},
    {"Greek", 0x0408},            {"Hebrew", 0x040D},           {"Arabic", 0x0401},
    {"French", 0x040C},           {"German_PhoneBook", 0x10407}, {"Modern_Spanish", 0x0C0A},
    {"Estonian", 0x0425},         {"Latvian", 0x0426},          {"Lithuanian", 0x0427},
    {"Japanese", 0x0411},         {"Chinese_PRC", 0x0804},      {"Korean_Wansung", 0x0412},
};

// SQL collations are told apart by their sort id alone.
struct SortOrder {
    const char* name;
    uint8_t sortId;
    bool ignoreCase;
};
const SortOrder kSortOrders[] = {
    {"SQL_Latin1_General_CP1_CS_AS", 51, false},
    {"SQL_Latin1_General_CP1_CI_AS", 52, true},
    {"SQL_Latin1_General_Pref_CP1_CI_AS", 53, true},
    {"SQL_Latin1_General_CP1_CI_AI", 54, true},
};

std::vector<std::string> parts(const std::string& name) {
    std::vector<std::string> out;
    std::stringstream in(name);
    for (std::string part; std::getline(in, part, '_');)
        out.push_back(part);
    return out;
}

} // namespace

bool bytesOf(const std::string& name, Bytes& out) {
    for (const SortOrder& s : kSortOrders) {
        if (name == s.name) {
            out = {0x09, 0x04, uint8_t(s.ignoreCase ? 0xD0 : 0xC0), 0x00, s.sortId};
            return true;
        }
    }
    for (const Locale& l : kLocales) {
        const std::string prefix = std::string(l.name) + "_";
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // What follows the locale: an optional version (90, 100, 140), then the comparison options.
        uint8_t version = 0;
        bool ignoreCase = true, ignoreAccent = true, ignoreKana = true, ignoreWidth = true;
        bool binary = false, binary2 = false, utf8 = false, known = false;
        for (const std::string& p : parts(name.substr(prefix.size()))) {
            if (p == "90")
                version = 1;
            else if (p == "100")
                version = 2;
            else if (p == "140")
                version = 3;
            else if (p == "CS" || p == "CI")
                ignoreCase = p == "CI", known = true;
            else if (p == "AS" || p == "AI")
                ignoreAccent = p == "AI";
            else if (p == "KS")
                ignoreKana = false;
            else if (p == "WS")
                ignoreWidth = false;
            else if (p == "BIN")
                binary = true, known = true;
            else if (p == "BIN2")
                binary2 = true, known = true;
            else if (p == "UTF8")
                utf8 = true;
            else if (p != "SC" && p != "VSS")
                return false;
        }
        if (!known)
            return false;
        if (binary || binary2)
            ignoreCase = ignoreAccent = ignoreKana = ignoreWidth = false;
        const uint8_t flags = uint8_t((ignoreCase ? 0x10 : 0) | (ignoreAccent ? 0x20 : 0) |
                                      (ignoreKana ? 0x40 : 0) | (ignoreWidth ? 0x80 : 0));
        out = {uint8_t(l.lcid), uint8_t(l.lcid >> 8), uint8_t(((l.lcid >> 16) & 0x0F) | flags),
               uint8_t((binary ? 0x01 : 0) | (binary2 ? 0x02 : 0) | (utf8 ? 0x04 : 0) | (version << 4)), 0};
        return true;
    }
    return false;
}

} // namespace collation
