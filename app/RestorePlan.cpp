#include "RestorePlan.h"

#include "FileChecks.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace restoreplan {

namespace {
bool isLog(const BackupFile& f) {
    return f.type.compare(QLatin1String("L"), Qt::CaseInsensitive) == 0;
}

bool isData(const BackupFile& f) {
    return f.type.compare(QLatin1String("D"), Qt::CaseInsensitive) == 0;
}

// Indexes of the rows the page's two paths stand for: the first data row and the first log row.
QSet<int> shownOnThePage(const QList<BackupFile>& files) {
    QSet<int> shown;
    bool data = false, log = false;
    for (int i = 0; i < files.size(); ++i) {
        if (!data && isData(files[i])) {
            shown.insert(i);
            data = true;
        } else if (!log && isLog(files[i])) {
            shown.insert(i);
            log = true;
        }
    }
    return shown;
}

bool notInAFileName(QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control;
}

// The same file whatever way the path is written; a path of no file stands for itself.
QString fileIdentity(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}
} // namespace

QString plainFileName(const QString& stem, const QString& tail) {
    QString name = stem;
    for (QChar& c : name)
        if (notInAFileName(c))
            c = QLatin1Char('_');
    for (qsizetype i = 0; i < name.size() && name[i] == QLatin1Char('.'); ++i)
        name[i] = QLatin1Char('_');
    if (name.isEmpty())
        name = QStringLiteral("_");
    const qsizetype room = 255 - tail.toUtf8().size();
    while (name.toUtf8().size() > room && !name.isEmpty())
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    return name + tail;
}

QString listedKey(const QString& path) {
    const bool windows = path.contains(QLatin1Char('\\')) || (path.size() >= 2 && path[1] == QLatin1Char(':'));
    return windows ? path.toLower().replace(QLatin1Char('\\'), QLatin1Char('/')) : path;
}

QString awayFromOthersFiles(const QString& path, const QString& name, bool log,
                            const QHash<QString, QString>& listed) {
    const QString databaseName = filechecks::trimmed(name);
    const auto othersFile = [&](const QString& p) {
        const auto owner = listed.constFind(listedKey(p));
        return owner != listed.constEnd() && owner->compare(databaseName, Qt::CaseInsensitive) != 0;
    };
    if (path.isEmpty() || !othersFile(path))
        return path;
    const int cut = int(std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')))) + 1;
    const QString folder = path.left(cut);
    const QString stem = databaseName.isEmpty() ? QFileInfo(path.mid(cut)).completeBaseName()
                                                : databaseName + (log ? QStringLiteral("_log") : QString());
    const QString extension = log ? QStringLiteral(".ldf") : QStringLiteral(".mdf");
    QString proposed = folder + plainFileName(stem, extension);
    for (int n = 2; othersFile(proposed); ++n)
        proposed = folder + plainFileName(stem, QLatin1Char('_') + QString::number(n) + extension);
    return proposed;
}

QStringList othersFiles(const QStringList& targets, const QStringList& ownFiles,
                        const std::function<bool(const QString&)>& exists) {
    QSet<QString> own;
    for (const QString& f : ownFiles)
        own.insert(fileIdentity(f));
    QStringList others;
    QSet<QString> seen;
    for (const QString& t : targets) {
        const QString id = fileIdentity(t);
        // The server is asked last: one question per file that could be somebody else's.
        if (!own.contains(id) && !seen.contains(id) && exists(t)) {
            others.append(t);
            seen.insert(id);
        }
    }
    return others;
}

const BackupSet* newestSet(const QList<BackupSet>& sets) {
    // A set without a finish date never finished (its backup was interrupted) and cannot be
    // restored; such sets count only when the server gives no set a finish date.
    bool anyFinished = false;
    for (const BackupSet& s : sets)
        anyFinished = anyFinished || !s.finishDate.isEmpty();
    const BackupSet* newestFull = nullptr;
    const BackupSet* newest = nullptr;
    for (const BackupSet& s : sets) {
        if (anyFinished && s.finishDate.isEmpty())
            continue;
        if (!newest || s.position > newest->position)
            newest = &s;
        if (s.backupType == 1 && (!newestFull || s.position > newestFull->position))
            newestFull = &s;
    }
    return newestFull ? newestFull : newest;
}

ChosenSet chooseSet(const QString& backupPath, const QList<BackupSet>& sets) {
    ChosenSet chosen;
    chosen.backupPath = backupPath;
    if (const BackupSet* set = newestSet(sets)) {
        chosen.position = sets.size() > 1 ? set->position : 0;
        chosen.finishDate = set->finishDate;
        chosen.databaseName = set->databaseName;
        chosen.familyGuid = set->familyGuid;
        chosen.setGuid = set->setGuid;
        chosen.major = set->major;
        chosen.minor = set->minor;
        chosen.build = set->build;
        chosen.collation = set->collation;
        chosen.checksums = set->checksums;
    }
    return chosen;
}

bool sameSet(const ChosenSet& a, const ChosenSet& b) {
    if (!a.setGuid.isEmpty() || !b.setGuid.isEmpty())
        return a.setGuid.compare(b.setGuid, Qt::CaseInsensitive) == 0;
    return a.position == b.position && a.databaseName == b.databaseName && a.finishDate == b.finishDate;
}

QString shownDate(const QString& serverDate) {
    for (const char* format : {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss"}) {
        const QDateTime when = QDateTime::fromString(serverDate, QLatin1String(format));
        if (when.isValid())
            return when.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    }
    return serverDate;
}

QList<Move> furtherFiles(const QList<BackupFile>& files, const QString& databaseName, const QString& mdfPath,
                         const QString& ldfPath, const std::function<bool(const QString&)>& taken) {
    const QSet<int> shown = shownOnThePage(files);
    const QString name = filechecks::trimmed(databaseName);
    QSet<QString> chosen{mdfPath, ldfPath};
    QList<Move> moves;
    for (int i = 0; i < files.size(); ++i) {
        if (shown.contains(i))
            continue;
        const BackupFile& f = files[i];
        const bool log = isLog(f);
        const QString folder = filechecks::folderPrefix(log ? ldfPath : mdfPath);
        const QString stem = name + QLatin1Char('_') + f.logicalName;
        const QString extension = log ? QStringLiteral(".ldf") : QStringLiteral(".ndf");
        QString target = folder + plainFileName(stem, extension);
        for (int n = 2; chosen.contains(target) || taken(target); ++n)
            target = folder + plainFileName(stem, QLatin1Char('_') + QString::number(n) + extension);
        chosen.insert(target);
        moves.append({f.logicalName, target});
    }
    return moves;
}

QString furtherFilesHint(const QList<BackupFile>& files) {
    const QSet<int> shown = shownOnThePage(files);
    int data = 0, log = 0;
    for (int i = 0; i < files.size(); ++i)
        if (!shown.contains(i))
            ++(isLog(files[i]) ? log : data);
    if (data + log == 0)
        return {};
    QString where;
    if (data && log)
        where = QStringLiteral("дані — у каталог MDF-файлу, журнали — у каталог LDF-файлу");
    else if (data)
        where = QStringLiteral("у каталог MDF-файлу");
    else
        where = QStringLiteral("у каталог LDF-файлу");
    return QStringLiteral("Ще файлів у копії: %1; їх буде відновлено %2 під іменами "
                          "«<ім'я бази>_<логічне ім'я>».")
        .arg(data + log)
        .arg(where);
}

QString furtherFilesDone(const QList<Move>& moves) {
    if (moves.isEmpty())
        return {};
    QStringList folders;
    for (const Move& m : moves) {
        const QString folder = filechecks::folderPart(m.target);
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return QStringLiteral("Ще файлів відновлено: %1, у %2 %3.")
        .arg(moves.size())
        .arg(folders.size() == 1 ? QStringLiteral("каталог") : QStringLiteral("каталоги"))
        .arg(folders.join(QStringLiteral(", ")));
}

} // namespace restoreplan
