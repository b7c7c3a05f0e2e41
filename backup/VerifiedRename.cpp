#include "VerifiedRename.h"

#include "BackupFiles.h"
#include "FileChecks.h"

#include <QFile>
#include <QFileInfo>

namespace backupcmd {
namespace {
constexpr int kTries = 100;
}

QString settleVerified(const QString& folder, const QString& unverified, const QString& database,
                       const QDateTime& when, int n, QString* error) {
    QFile file(filechecks::join(folder, unverified));
    for (int i = n; i < n + kTries; ++i) {
        const QString name = backupFileName(database, when, i);
        if (QFileInfo::exists(filechecks::join(folder, failedName(name))))
            continue;
        if (file.rename(filechecks::join(folder, name)))
            return name;
        if (!QFileInfo::exists(filechecks::join(folder, name)))
            break; // not a taken name: the rename itself failed
    }
    *error = file.errorString();
    return {};
}

QString markFailed(const QString& folder, const QString& written, const QString& fileName) {
    QFile file(filechecks::join(folder, written));
    for (int i = 1; i <= kTries; ++i) {
        const QString failed =
            i == 1 ? failedName(fileName)
                   : fileName.left(fileName.size() - 4) + QStringLiteral(".failed-%1.bak").arg(i);
        if (file.rename(filechecks::join(folder, failed)))
            return failed;
        if (!QFileInfo::exists(filechecks::join(folder, failed)))
            break;
    }
    return {};
}

} // namespace backupcmd
