#include "Pruning.h"

#include "BackupFiles.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "KeepRule.h"

#include <QDir>
#include <QFile>

namespace backupcmd {
namespace {

QList<OlderBackup> olderVerified(const QString& folder, const QString& database, const QString& newName,
                                 Qt::CaseSensitivity sensitivity,
                                 const std::function<QList<SetHeader>(const QString&)>& readSets,
                                 const std::function<void(const QString&)>& tell) {
    QList<OlderBackup> older;
    for (const QString& name : ownBackupNames(database, QDir(folder).entryList(QDir::Files), sensitivity)) {
        if (name == newName)
            continue;
        const QString path = filechecks::join(folder, name);
        QList<SetHeader> sets;
        try {
            sets = readSets(path);
        } catch (const DbError& e) {
            tell(QStringLiteral("%1: файл %2 не видалено, бо сервер не прочитав його заголовок: ")
                     .arg(database, path) +
                 erroradvice::appended(e));
            continue;
        }
        // Another database's (whose name makes the same file name), or several sets: not a file
        // this program wrote.
        if (sets.size() != 1 || sets.first().database.compare(database, sensitivity) != 0)
            continue;
        if (!sets.first().finished.isValid()) {
            tell(QStringLiteral("%1: файл %2 не видалено: сервер не назвав час завершення копії")
                     .arg(database, path));
            continue;
        }
        older.append({name, sets.first().finished});
    }
    return older;
}

} // namespace

Pruned deleteBeyondKeep(const QString& folder, const QString& database, const QString& newName, int keep,
                        Qt::CaseSensitivity sensitivity,
                        const std::function<QList<SetHeader>(const QString& path)>& readSets,
                        const std::function<void(const QString& text)>& tell) {
    Pruned pruned;
    for (const QString& name :
         beyondKeep(olderVerified(folder, database, newName, sensitivity, readSets, tell), keep)) {
        QFile file(filechecks::join(folder, name));
        if (file.remove()) {
            ++pruned.deleted;
        } else {
            tell(QStringLiteral("%1: стару копію %2 не вдалося видалити: %3")
                     .arg(database, file.fileName(), file.errorString()));
            pruned.someNotDeleted = true;
        }
    }
    return pruned;
}

} // namespace backupcmd
