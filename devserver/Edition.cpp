#include "Edition.h"

bool editionFor(const std::string& word, Edition& out) {
    if (word == "express")
        out = Edition::Express;
    else if (word == "standard")
        out = Edition::Standard;
    else if (word == "enterprise")
        out = Edition::Enterprise;
    else if (word == "developer")
        out = Edition::Developer;
    else
        return false;
    return true;
}

namespace {
const char* baseName(Edition edition, const Personality& p) {
    switch (edition) {
    case Edition::Express:
        return p.is2000() ? "Desktop Engine" : "Express Edition";
    case Edition::Standard:
        return "Standard Edition";
    case Edition::Enterprise:
        return "Enterprise Edition";
    case Edition::Developer:
        break;
    }
    return "Developer Edition";
}

// 2000 and 2005 play 32-bit builds (Intel X86); the later ones are X64 and say so.
bool sixtyFourBit(const Personality& p) {
    return p.year > 2005;
}
} // namespace

std::string editionName(Edition edition, const Personality& p) {
    return std::string(baseName(edition, p)) + (sixtyFourBit(p) ? " (64-bit)" : "");
}

int engineEdition(Edition edition, const Personality& p) {
    switch (edition) {
    case Edition::Express:
        return p.is2000() ? 1 : 4;
    case Edition::Standard:
        return 2;
    default:
        return 3;
    }
}

std::string bannerFor(Edition edition, const Personality& p) {
    // The last line: "\tDeveloper Edition (64-bit) on Linux (…)", "\tExpress Edition on Windows NT 5.1 …".
    std::string banner = p.versionBanner;
    const size_t line = banner.rfind("\n\t");
    const size_t on = banner.find(" on ", line == std::string::npos ? 0 : line);
    if (line == std::string::npos || on == std::string::npos)
        return banner;
    return banner.substr(0, line + 2) + editionName(edition, p) + banner.substr(on);
}

long long sizeCapMB(Edition edition, const Personality& p, long long capOverrideMB) {
    if (edition != Edition::Express)
        return 0;
    if (capOverrideMB > 0)
        return capOverrideMB;
    // The 2008 personality is 2008 RTM (10.0): its 10 GB came with 2008 R2 (10.50).
    return p.year == 2000 ? 2048 : p.year <= 2008 ? 4096 : p.year < 2025 ? 10240 : 51200;
}
