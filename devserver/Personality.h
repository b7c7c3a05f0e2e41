// Which SQL Server version the stand-in plays: protocol version, product version and the
// differences in message texts and result columns that clients can see.
#pragma once

#include <cstdint>
#include <string>

struct Personality {
    int year = 2019;
    uint32_t tdsVersion = 0x74000004; // as LOGINACK sends it
    uint8_t major = 15, minor = 0;
    uint16_t build = 2000;
    std::string productVersion; // "15.0.2000.5"
    std::string versionBanner;  // @@VERSION

    bool is2000() const { return year == 2000; }
    int fileListColumns() const { return year == 2000 ? 6 : year == 2005 ? 20 : year < 2016 ? 21 : 22; }
};

// Known years are 2000 2005 2008 2012 2014 2016 2017 2019; false for any other.
bool personalityFor(int year, Personality& out);

// The TDS version both sides speak: the lower of the client's and the personality's.
uint32_t negotiateTds(uint32_t clientVersion, uint32_t serverVersion);
bool isTds72OrLater(uint32_t version);
