#include "FileChecks.h"

#include <QDir>
#include <QFileInfo>

namespace filechecks {

QString folderPrefix(const QString& path) {
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString folderPart(const QString& path) {
    QString prefix = folderPrefix(path);
    if (prefix.size() > 1)
        prefix.chop(1);
    return prefix;
}

bool fileExists(const QString& path) {
    const QFileInfo info(path);
    return !path.isEmpty() && info.exists() && !info.isDir();
}

bool folderExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QString firstMatchingEntry(const QString& folder, const QString& wildcard) {
    QDir dir(folder);
    dir.setNameFilters({wildcard});
    // Without QDir::CaseSensitive the name filter ignores letter case, so "x.LDF" matches "*.ldf".
    dir.setFilter(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    dir.setSorting(QDir::Name);
    const QStringList entries = dir.entryList();
    return entries.isEmpty() ? QString() : entries.first();
}

QString trimmed(const QString& text) {
    int begin = 0, end = text.size();
    auto blankOrControl = [](QChar c) { return c.unicode() <= 0x20; };
    while (begin < end && blankOrControl(text[begin]))
        ++begin;
    while (end > begin && blankOrControl(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QString join(const QString& folder, const QString& fileName) {
    return folder + QLatin1Char('/') + fileName;
}

} // namespace filechecks
