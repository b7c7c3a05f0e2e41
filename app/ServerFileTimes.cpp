#include "ServerFileTimes.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "SqlQuote.h"

namespace serverfiletimes {

QString lastWritten(AdoQuery& query, int majorVersion, const QString& path, serverfiles::Platform platform) {
    if (majorVersion < 14)
        return {};
    const QString folder = serverfiles::folderOf(path, platform);
    const QString name = serverfiles::fileNameOf(path);
    if (folder.isEmpty() || name.isEmpty())
        return {};
    query.close();
    // The folder's own entries only (level 0), matched by name here: the function's pattern
    // treats "[" and "*" in a file name as wildcards.
    query.setText(QStringLiteral("SELECT file_or_directory_name, last_write_time FROM "
                                 "sys.dm_os_enumerate_filesystem(%1, N'*') WHERE level = 0")
                      .arg(sqlquote::literal(folder)));
    // 2017 got the function with a cumulative update: its first builds answer 208, and the time is
    // then not known, as on older versions.
    try {
        query.openRowset();
    } catch (const DbError& e) {
        query.close();
        for (const DbError::Record& r : e.records())
            if (r.native == 208)
                return {};
        throw;
    }
    QString written;
    const Qt::CaseSensitivity cs =
        platform == serverfiles::Platform::Windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (query.first(); !query.atEnd() && written.isEmpty(); query.next())
        if (query.field(QStringLiteral("file_or_directory_name")).compare(name, cs) == 0)
            written = query.field(QStringLiteral("last_write_time"));
    query.close();
    return written;
}

} // namespace serverfiletimes
