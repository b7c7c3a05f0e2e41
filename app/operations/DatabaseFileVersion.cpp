// Database file versions and what an attach does with them (DatabaseFileVersion.h).
#include "DatabaseFileVersion.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "SqlQuote.h"

#include <iterator>

namespace fileversion {

namespace {
struct Known {
    int version;
    const char* name;
};
// The newest version number each release writes (2005 SP2 writes 612, 2017 868 or 869).
constexpr Known kKnown[] = {{539, "SQL Server 2000"},    {612, "SQL Server 2005"}, {655, "SQL Server 2008"},
                            {661, "SQL Server 2008 R2"}, {706, "SQL Server 2012"}, {782, "SQL Server 2014"},
                            {852, "SQL Server 2016"},    {869, "SQL Server 2017"}, {904, "SQL Server 2019"},
                            {957, "SQL Server 2022"},    {998, "SQL Server 2025"}};
} // namespace

int ofPrimaryFile(AdoQuery& query, const QString& path) {
    try {
        query.close();
        query.setText(QLatin1String("DBCC CHECKPRIMARYFILE (") + sqlquote::literal(path) +
                      QLatin1String(", 2) WITH NO_INFOMSGS"));
        query.openRowset();
        int version = 0;
        for (query.first(); !query.atEnd(); query.next())
            if (query.field(QStringLiteral("property")).trimmed() == QLatin1String("Database version"))
                version = query.field(QStringLiteral("value")).trimmed().toInt();
        query.close();
        return version;
    } catch (const DbError&) {
        // Not a sysadmin, or a file the server cannot open: the attach itself then says what it meets.
        query.close();
        return 0;
    }
}

qint64 dataBytes(AdoQuery& query, const QString& path) {
    try {
        query.close();
        query.setText(QLatin1String("DBCC CHECKPRIMARYFILE (") + sqlquote::literal(path) +
                      QLatin1String(", 1) WITH NO_INFOMSGS"));
        query.openRowset();
        qint64 pages = 0;
        // A log file is in no filegroup; its pages are no data.
        for (query.first(); !query.atEnd(); query.next())
            if (query.field(QStringLiteral("groupid")).toInt() != 0)
                pages += query.field(QStringLiteral("size")).toLongLong();
        query.close();
        return pages * 8192;
    } catch (const DbError&) {
        query.close();
        return -1;
    }
}

QStringList furtherDataFiles(AdoQuery& query, const QString& path) {
    QStringList further;
    try {
        query.close();
        query.setText(QLatin1String("DBCC CHECKPRIMARYFILE (") + sqlquote::literal(path) +
                      QLatin1String(", 3) WITH NO_INFOMSGS"));
        query.openRowset();
        // 0x40 marks a log file; file 1 is the primary itself.
        for (query.first(); !query.atEnd(); query.next())
            if (query.field(QStringLiteral("fileid")).toInt() != 1 &&
                !(query.field(QStringLiteral("status")).toLongLong() & 0x40))
                further << query.field(QStringLiteral("filename")).trimmed();
        query.close();
    } catch (const DbError&) {
        query.close();
        further.clear();
    }
    return further;
}

int writtenBy(const serverquestions::ServerVersion& server) {
    switch (server.major) {
    case 8:
        return 539;
    case 9:
        return 611;
    case 10:
        return server.minor >= 50 ? 661 : 655;
    case 11:
        return 706;
    case 12:
        return 782;
    case 13:
        return 852;
    case 14:
        return 869;
    case 15:
        return 904;
    case 16:
        return 957;
    default:
        return server.major > 16 ? 998 : 0;
    }
}

// The release a version number belongs to, as an index into kKnown (one past it when newer).
static int releaseOf(int databaseVersion) {
    int i = 0;
    for (const Known& k : kKnown) {
        if (databaseVersion <= k.version)
            return i;
        ++i;
    }
    return i;
}

QString serverName(int databaseVersion) {
    const int i = releaseOf(databaseVersion);
    return i < int(std::size(kKnown)) ? QString::fromLatin1(kKnown[i].name)
                                      : QStringLiteral("новіший за SQL Server 2025");
}

Verdict verdict(int fileVersion, const serverquestions::ServerVersion& server) {
    const int own = writtenBy(server);
    // Builds of one release may write neighbouring numbers (2005 611 and 612): the release counts.
    if (fileVersion <= 0 || own <= 0 || releaseOf(fileVersion) == releaseOf(own))
        return Verdict::Same;
    if (fileVersion > own)
        return Verdict::Newer;
    // From 2012 on a server upgrades files of 2005 and later only.
    if (server.major >= 11 && fileVersion <= 539)
        return Verdict::TooOld;
    return Verdict::Upgraded;
}

} // namespace fileversion
