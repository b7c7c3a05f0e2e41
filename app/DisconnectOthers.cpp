// Texts and statements for putting the other sessions out of a database (DisconnectOthers.h).
#include "DisconnectOthers.h"

#include "SqlQuote.h"

#include <QStringList>

namespace disconnectothers {

QString sessionLines(const QList<serverquestions::Session>& others) {
    QStringList lines;
    for (const serverquestions::Session& s : others) {
        // A client may leave host or program empty: say so rather than show a bare comma.
        const QString host = s.host.isEmpty() ? QStringLiteral("невідомий комп'ютер") : s.host;
        const QString program = s.program.isEmpty() ? QStringLiteral("програма не назвалася") : s.program;
        lines << QStringLiteral("• %1 (%2, %3)").arg(s.login, host, program);
    }
    return lines.join(QLatin1Char('\n'));
}

QString question(const QString& database, const QList<serverquestions::Session>& others,
                 const QString& verb) {
    return QStringLiteral("Базою даних %1 зараз користуються інші з'єднання (%2):\n%3\n"
                          "Поки вони в ній, сервер не дасть її змінити. %4 базу даних %1, розірвавши ці "
                          "з'єднання? Їхні незавершені транзакції буде скасовано.")
        .arg(database, QString::number(others.size()), sessionLines(others), verb);
}

QString singleUser(const QString& database) {
    return QLatin1String("ALTER DATABASE ") + sqlquote::name(database) +
           QLatin1String(" SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
}

QString multiUser(const QString& database) {
    return QLatin1String("ALTER DATABASE ") + sqlquote::name(database) + QLatin1String(" SET MULTI_USER");
}

} // namespace disconnectothers
