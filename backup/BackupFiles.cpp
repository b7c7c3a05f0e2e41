#include "BackupFiles.h"

#include "RestorePlan.h"

#include <QRegularExpression>

#include <algorithm>

namespace backupcmd {
namespace {
const char* const kStampFormat = "yyyy-MM-dd_HHmmss";

QString tail(const QDateTime& when, int n) {
    return QLatin1Char('_') + when.toString(QLatin1String(kStampFormat)) +
           (n > 1 ? QLatin1Char('_') + QString::number(n) : QString()) + QLatin1String(".bak");
}
} // namespace

QString backupFileName(const QString& database, const QDateTime& when, int n) {
    return restoreplan::plainFileName(database, tail(when, n));
}

QStringList ownBackupNames(const QString& database, const QStringList& entries) {
    struct Found {
        QString name;
        QString stamp;
        int n;
    };
    static const QRegularExpression rest(QStringLiteral("_(\\d{4}-\\d{2}-\\d{2}_\\d{6})(?:_(\\d{1,6}))?\\.bak$"));
    QList<Found> found;
    for (const QString& entry : entries) {
        const QRegularExpressionMatch m = rest.match(entry);
        if (!m.hasMatch())
            continue;
        const int n = m.captured(2).isEmpty() ? 1 : m.captured(2).toInt();
        // Exactly the name that would have been made for this database: a name that merely begins
        // the same (another database's, "X_old" beside "X") is not one of its backups.
        if (backupFileName(database, QDateTime::fromString(m.captured(1), QLatin1String(kStampFormat)), n) != entry)
            continue;
        found.append({entry, m.captured(1), n});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.n > b.n;
    });
    QStringList names;
    for (const Found& f : found)
        names.append(f.name);
    return names;
}

QStringList ownBackupNames(const QString& database, const QStringList& entries, Qt::CaseSensitivity) { return ownBackupNames(database, entries); }
QStringList unverifiedNames(const QString& , const QStringList& , Qt::CaseSensitivity) { return {}; }
QString failedName(const QString& fileName) {
    return fileName.left(fileName.size() - 4) + QLatin1String(".failed.bak");
}

} // namespace backupcmd
