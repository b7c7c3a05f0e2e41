#include "BackupStatements.h"

#include "SqlQuote.h"

#include <QRegularExpression>

namespace backupsql {

QString backup(const QString& database, const QString& path, bool checksum, bool copyOnly) {
    return QLatin1String("Backup Database ") + sqlquote::name(database) + QLatin1String(" to disk = ") +
           sqlquote::literal(path) + QLatin1String(" WITH INIT , NOUNLOAD , SKIP , STATS = 10, NOFORMAT") +
           (checksum ? QLatin1String(", CHECKSUM") : QLatin1String("")) +
           (copyOnly ? QLatin1String(", COPY_ONLY") : QLatin1String(""));
}

QString verifyOnly(const QString& path, int position, bool checksum, int stats) {
    return QLatin1String("RESTORE VERIFYONLY FROM DISK = ") + sqlquote::literal(path) +
           QLatin1String(" WITH FILE = ") + QString::number(position) +
           (checksum ? QLatin1String(", CHECKSUM") : QLatin1String("")) +
           (stats > 0 ? QLatin1String(", STATS = ") + QString::number(stats) : QString());
}

QString databaseList() {
    return QStringLiteral("SELECT name FROM master.dbo.sysdatabases");
}

bool isSystemDatabase(QStringView name) {
    if (name.size() < 4 || name.size() > 6)
        return false;
    for (const char* system : {"master", "tempdb", "model", "msdb"})
        if (name.compare(QLatin1String(system), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

int percentOf(int number, const QString& message) {
    // Known by its number, in whatever language the server speaks: the share is the number the
    // text begins with.
    constexpr int kPercentDone = 3211;
    static const QRegularExpression leading(QStringLiteral("^\\s*(\\d{1,3})\\b"));
    const QRegularExpressionMatch match = leading.match(message);
    if (number != kPercentDone || !match.hasMatch())
        return -1;
    const int percent = match.captured(1).toInt();
    return percent <= 100 ? percent : -1;
}

} // namespace backupsql
