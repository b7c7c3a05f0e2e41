#include "BackupFiles.h"

#include "RestorePlan.h"

#include <QRegularExpression>

#include <algorithm>

namespace backupcmd {
namespace {
const char* const kStampFormat = "yyyy-MM-dd_HHmmss";
const QLatin1String kUnverified(".unverified-");

QString tail(const QDateTime& when, int n) {
    return QLatin1Char('_') + when.toString(QLatin1String(kStampFormat)) +
           (n > 1 ? QLatin1Char('_') + QString::number(n) : QString()) + QLatin1String(".bak");
}

struct Found {
    QString name;
    QString stamp;
    int n;
};

// The entry, when it is exactly a name backupFileName makes for the database: a name that merely
// begins the same ("Sales_keep_…" beside "Sales", another database's "SalesArchive_…") is not.
bool madeFor(const QString& database, const QString& entry, Qt::CaseSensitivity sensitivity, Found* found) {
    static const QRegularExpression rest(
        QStringLiteral("_(\\d{4}-\\d{2}-\\d{2}_\\d{6})(?:_(\\d{1,6}))?\\.bak$"));
    const QRegularExpressionMatch m = rest.match(entry);
    if (!m.hasMatch())
        return false;
    const int n = m.captured(2).isEmpty() ? 1 : m.captured(2).toInt();
    const QDateTime when = QDateTime::fromString(m.captured(1), QLatin1String(kStampFormat));
    if (!when.isValid() || backupFileName(database, when, n).compare(entry, sensitivity) != 0)
        return false;
    *found = {entry, m.captured(1), n};
    return true;
}
} // namespace

QString backupFileName(const QString& database, const QDateTime& when, int n) {
    return restoreplan::plainFileName(database, tail(when, n));
}

QStringList ownBackupNames(const QString& database, const QStringList& entries,
                           Qt::CaseSensitivity sensitivity) {
    QList<Found> found;
    for (const QString& entry : entries) {
        Found f;
        if (madeFor(database, entry, sensitivity, &f))
            found.append(f);
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.n > b.n;
    });
    QStringList names;
    for (const Found& f : found)
        names.append(f.name);
    return names;
}

QString failedName(const QString& fileName) {
    return fileName.left(fileName.size() - 4) + QLatin1String(".failed.bak");
}

QString unverifiedName(const QString& fileName, qint64 processId) {
    return fileName + kUnverified + QString::number(processId);
}

QStringList unverifiedNames(const QString& database, const QStringList& entries,
                            Qt::CaseSensitivity sensitivity) {
    static const QRegularExpression pid(QStringLiteral("^\\d+$"));
    QStringList names;
    for (const QString& entry : entries) {
        const qsizetype at = entry.lastIndexOf(kUnverified);
        Found f;
        if (at > 0 && pid.match(entry.mid(at + kUnverified.size())).hasMatch() &&
            madeFor(database, entry.left(at), sensitivity, &f))
            names.append(entry);
    }
    return names;
}

} // namespace backupcmd
