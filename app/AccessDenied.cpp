// Recognising operating-system error 5 in a server's error text.
#include "AccessDenied.h"

#include <QRegularExpression>

namespace accessdenied {

namespace {

// The paths, longest first: one path may hold another.
QStringList longestFirst(QStringList paths) {
    std::stable_sort(paths.begin(), paths.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
    return paths;
}

// The text with every occurrence of the paths blanked out, so that nothing inside a path can pass
// for the code.
QString withoutPaths(QString text, const QStringList& paths) {
    for (const QString& path : longestFirst(paths))
        if (!path.isEmpty())
            text.replace(path, QString(path.size(), QChar(0x1)));
    return text;
}

} // namespace

QList<int> osErrorCodes(const QString& message) {
    // The code stands alone (no letter, digit or path character before it, so not "665(" nor
    // ".../copy5(1)/") and the system's text follows the parenthesis, never a bare number as in a
    // file named "5(1).mdf". The words around it differ with the server's language; this does not.
    static const QRegularExpression code(
        QStringLiteral("(?<![\\p{L}\\p{N}/\\\\._~-])(\\d{1,5})\\((?!\\d+\\))"));
    static const QRegularExpression quoted(QStringLiteral("'[^']*'"));
    QString outside = message;
    outside.replace(quoted, QStringLiteral("''"));
    QList<int> codes;
    for (auto it = code.globalMatch(outside); it.hasNext();)
        codes.append(it.next().captured(1).toInt());
    return codes;
}

QString refusedPath(const QString& message, const QStringList& paths) {
    if (!osErrorCodes(withoutPaths(message, paths)).contains(5))
        return {};
    // The server names the one file it could not open or create; where a path holds another, the
    // longer one is what the server named.
    QString text = message;
    QString named;
    qsizetype at = -1;
    for (const QString& path : longestFirst(paths)) {
        if (path.isEmpty())
            continue;
        const qsizetype found = text.indexOf(path);
        if (found >= 0 && (at < 0 || found < at)) {
            at = found;
            named = path;
        }
        text.replace(path, QString(path.size(), QChar(0x1)));
    }
    return named.isEmpty() && !paths.isEmpty() ? paths.first() : named;
}

RefusedFile refusedFile(const QString& message, const QString& dataPath, const QString& logPath) {
    const QString named = refusedPath(message, {dataPath, logPath});
    if (named.isEmpty())
        return RefusedFile::None;
    return !logPath.isEmpty() && named == logPath && named != dataPath ? RefusedFile::Log : RefusedFile::Data;
}

} // namespace accessdenied
