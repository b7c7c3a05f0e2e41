// Recognising operating-system error 5 in a server's error text.
#include "AccessDenied.h"

#include <QRegularExpression>

namespace accessdenied {

namespace {

// The text with every occurrence of the paths blanked out, longest path first (one path may
// hold the other), so that nothing inside a path can pass for the code.
QString withoutPaths(QString text, QString first, QString second) {
    if (first.size() < second.size())
        std::swap(first, second);
    for (const QString& path : {first, second})
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
    // Quoted text is a path, except where the code itself is quoted (3634: "the error '2(…)'").
    static const QRegularExpression quoted(QStringLiteral("'(?!\\d{1,5}\\((?!\\d+\\)))[^']*'"));
    QString outside = message;
    outside.replace(quoted, QStringLiteral("''"));
    QList<int> codes;
    for (auto it = code.globalMatch(outside); it.hasNext();)
        codes.append(it.next().captured(1).toInt());
    return codes;
}

RefusedFile refusedFile(const QString& message, const QString& dataPath, const QString& logPath) {
    if (!osErrorCodes(withoutPaths(message, dataPath, logPath)).contains(5))
        return RefusedFile::None;
    // The server names the one file it could not open or create.
    const bool namesLog = !logPath.isEmpty() && message.contains(logPath);
    const bool namesData =
        !dataPath.isEmpty() && withoutPaths(message, logPath, QString()).contains(dataPath);
    return namesLog && !namesData ? RefusedFile::Log : RefusedFile::Data;
}

} // namespace accessdenied
