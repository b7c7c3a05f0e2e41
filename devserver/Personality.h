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
    // The personalities that play SQL Server on Linux, whose file checks differ (3634 on restore).
    bool onLinux() const { return year >= 2017 && !onWindows; }
    bool onWindows = false; // a Linux-era personality made to play Windows (--drive)
    int fileListColumns() const { return year == 2000 ? 6 : year == 2005 ? 20 : year < 2016 ? 21 : 22; }
    // RESTORE HEADERONLY: 2000 ends at Collation, 2005 at BackupSetGUID, 2008 adds CompressedBackupSize,
    // 2012 containment, 2014 CU1 the encryption columns (the 2014 personality is RTM, 12.0.2000, which
    // still ends at containment), 2022 LastValidRestoreTime, TimeZone and CompressionAlgorithm.
    int headerOnlyColumns() const {
        return year == 2000   ? 33
               : year == 2005 ? 51
               : year == 2008 ? 52
               : year <= 2014 ? 53
               : year < 2022  ? 56
                              : 59;
    }
    // The on-disk version and compatibility level a database of this version has.
    int databaseVersion() const {
        return year == 2000   ? 539
               : year == 2005 ? 611
               : year == 2008 ? 655
               : year == 2012 ? 706
               : year == 2014 ? 782
               : year == 2016 ? 852
               : year == 2017 ? 869
               : year == 2019 ? 904
               : year == 2022 ? 957
                              : 998;
    }
    int compatibilityLevel() const {
        return year == 2000   ? 80
               : year == 2005 ? 90
               : year == 2008 ? 100
               : year == 2012 ? 110
               : year == 2014 ? 120
               : year == 2016 ? 130
               : year == 2017 ? 140
               : year == 2019 ? 150
               : year == 2022 ? 160
                              : 170;
    }
    // The model database's file sizes, which a CREATE DATABASE without SIZE gets.
    long long defaultDataSize() const { return year == 2000 ? 1 << 20 : year < 2016 ? 2 << 20 : 8 << 20; }
    long long defaultLogSize() const { return year == 2000 ? 1 << 20 : year < 2016 ? 1 << 20 : 8 << 20; }
    // The pages a new database's primary data file has in use, copied from model: what BACKUP
    // processes of a database nobody has written to. 2000 to 2012 are the model database's reserved
    // space as Microsoft published it (528, 1136, 1200, 2096 KB); later versions are estimates
    // that grow as model did.
    long long emptyDatabasePages() const {
        return year == 2000   ? 66
               : year == 2005 ? 142
               : year == 2008 ? 150
               : year == 2012 ? 262
               : year == 2014 ? 288
               : year == 2016 ? 328
               : year == 2017 ? 344
               : year == 2019 ? 360
                              : 392;
    }
};

// Known years are 2000 2005 2008 2012 2014 2016 2017 2019 2022 2025; false for any other.
bool personalityFor(int year, Personality& out);

// The TDS version both sides speak: the lower of the client's and the personality's.
uint32_t negotiateTds(uint32_t clientVersion, uint32_t serverVersion);
bool isTds72OrLater(uint32_t version);
// How LOGINACK acknowledges a TDS 7.0 login (whose LOGIN7 says 0x70000000).
constexpr uint32_t kTds70Ack = 0x07000000;
