#include "Personality.h"

namespace {
struct Row {
    int year;
    uint32_t tds;
    uint8_t major, minor;
    uint16_t build;
    const char* product;
    const char* banner;
};
// @@VERSION as each build prints it: the version line, the build date, the copyright and the edition
// with the system, each after a line break and a tab (the build dates are the builds' own). The
// Windows personalities name a Windows of their time; 2017 and later play SQL Server on Linux.
const Row kRows[] = {
    {2000, 0x71000001, 8, 0, 2039, "8.00.2039",
     "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n\tMay  3 2005 23:18:38 \n\tCopyright (c) 1988-2003 "
     "Microsoft Corporation\n\tEnterprise Edition on Windows NT 5.2 (Build 3790: Service Pack 2)\n"},
    {2005, 0x72090002, 9, 0, 3042, "9.00.3042.00",
     "Microsoft SQL Server 2005 - 9.00.3042.00 (Intel X86) \n\tFeb  9 2007 22:47:07 \n\tCopyright (c) 1988-2005 "
     "Microsoft Corporation\n\tExpress Edition on Windows NT 5.1 (Build 2600: Service Pack 2)\n"},
    {2008, 0x730B0003, 10, 0, 1600, "10.0.1600.22",
     "Microsoft SQL Server 2008 (RTM) - 10.0.1600.22 (X64) \n\tJul  9 2008 14:17:44 \n\tCopyright (c) 1988-2008 "
     "Microsoft Corporation\n\tDeveloper Edition (64-bit) on Windows NT 6.1 <X64> (Build 7601: Service Pack 1)\n"},
    {2012, 0x74000004, 11, 0, 2100, "11.0.2100.60",
     "Microsoft SQL Server 2012 - 11.0.2100.60 (X64) \n\tFeb 10 2012 19:39:15 \n\tCopyright (c) Microsoft "
     "Corporation\n\tDeveloper Edition (64-bit) on Windows NT 6.1 <X64> (Build 7601: Service Pack 1)\n"},
    {2014, 0x74000004, 12, 0, 2000, "12.0.2000.8",
     "Microsoft SQL Server 2014 - 12.0.2000.8 (X64) \n\tFeb 20 2014 20:04:26 \n\tCopyright (c) Microsoft "
     "Corporation\n\tDeveloper Edition (64-bit) on Windows NT 6.3 <X64> (Build 9600: )\n"},
    {2016, 0x74000004, 13, 0, 1601, "13.0.1601.5",
     "Microsoft SQL Server 2016 (RTM) - 13.0.1601.5 (X64) \n\tApr 29 2016 23:23:58 \n\tCopyright (c) Microsoft "
     "Corporation\n\tDeveloper Edition (64-bit) on Windows 10 Pro 6.3 <X64> (Build 14393: )\n"},
    {2017, 0x74000004, 14, 0, 1000, "14.0.1000.169",
     "Microsoft SQL Server 2017 (RTM) - 14.0.1000.169 (X64) \n\tAug 22 2017 17:04:49 \n\tCopyright (C) 2017 "
     "Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux (Ubuntu 16.04.3 LTS)"},
    {2019, 0x74000004, 15, 0, 2000, "15.0.2000.5",
     "Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) \n\tSep 24 2019 13:48:23 \n\tCopyright (C) 2019 "
     "Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux (Ubuntu 18.04.3 LTS) <X64>"},
    {2022, 0x74000004, 16, 0, 1000, "16.0.1000.6",
     "Microsoft SQL Server 2022 (RTM) - 16.0.1000.6 (X64) \n\tOct  8 2022 05:58:25 \n\tCopyright (C) 2022 "
     "Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux (Ubuntu 22.04.1 LTS) <X64>"},
    {2025, 0x74000004, 17, 0, 1000, "17.0.1000.7",
     "Microsoft SQL Server 2025 (RTM) - 17.0.1000.7 (X64) \n\tOct 21 2025 12:05:57 \n\tCopyright (C) 2025 "
     "Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux (Ubuntu 22.04.5 LTS) <X64>"},
};

// Orders protocol versions: 7.1 < 7.2 < 7.3A < 7.3B < 7.4 (their wire values do not sort).
int rank(uint32_t v) {
    switch (v) {
    case 0x07010000:
    case 0x71000001:
        return 1;
    case 0x72090002:
        return 2;
    case 0x730A0003:
        return 3;
    case 0x730B0003:
        return 4;
    case 0x74000004:
        return 5;
    default:
        return v >= 0x74000000 ? 5 : 0;
    }
}
} // namespace

bool personalityFor(int year, Personality& out) {
    for (const Row& r : kRows) {
        if (r.year == year) {
            out.year = r.year;
            out.tdsVersion = r.tds;
            out.major = r.major;
            out.minor = r.minor;
            out.build = r.build;
            out.productVersion = r.product;
            out.versionBanner = r.banner;
            return true;
        }
    }
    return false;
}

uint32_t negotiateTds(uint32_t clientVersion, uint32_t serverVersion) {
    // 7.0 and 7.1 revision 0 are acknowledged in their own older form, never raised to 7.1 rev 1.
    if (clientVersion == 0x70000000)
        return kTds70Ack;
    if (clientVersion == 0x71000000)
        return 0x07010000;
    if (rank(clientVersion) == 0)
        return 0x71000001;
    if (rank(clientVersion) >= rank(serverVersion))
        return serverVersion;
    return clientVersion == 0x07010000 ? 0x71000001 : clientVersion;
}

bool isTds72OrLater(uint32_t version) {
    return rank(version) >= 2;
}
