// Texts and statements for putting the other sessions out of a database, and the guard that lets
// everyone in again when the operation did not happen (DisconnectOthers.h).
#include "DisconnectOthers.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "SqlQuote.h"

#include <QStringList>

namespace disconnectothers {

QString singleUser(const QString& database) {
    return QLatin1String("ALTER DATABASE ") + sqlquote::name(database) +
           QLatin1String(" SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
}

QString multiUser(const QString& database) {
    return QLatin1String("ALTER DATABASE ") + sqlquote::name(database) + QLatin1String(" SET MULTI_USER");
}

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

QString finding(const QString& database, const QList<serverquestions::Session>& others) {
    QStringList who;
    for (const serverquestions::Session& s : others) {
        QStringList parts;
        parts << (s.login.isEmpty() ? QStringLiteral("(без імені)") : s.login);
        if (!s.host.isEmpty())
            parts << QStringLiteral("комп'ютер ") + s.host;
        if (!s.program.isEmpty())
            parts << QStringLiteral("програма ") + s.program;
        who << QStringLiteral("  сеанс %1: %2").arg(s.id).arg(parts.join(QStringLiteral(", ")));
    }
    return QStringLiteral("Базою даних %1 зараз користуються інші сеанси:\n%2\n"
                          "Так: їх буде від'єднано (їхні незавершені транзакції буде скасовано), і операція "
                          "продовжиться; якщо вона не вдасться, базу даних буде знову відкрито для всіх.")
        .arg(database, who.join(QLatin1Char('\n')));
}

} // namespace disconnectothers

DisconnectOthers::DisconnectOthers(AdoQuery& query, QString database)
    : m_query(query), m_database(std::move(database)) {}

DisconnectOthers::~DisconnectOthers() {
    if (!m_disconnected || m_kept)
        return;
    // Back to what it was, whatever stopped the operation; a database the failure took away (a
    // restore that left nothing) has nothing to set.
    try {
        m_query.close();
        m_query.setText(disconnectothers::multiUser(m_database));
        m_query.execute();
        m_query.close();
    } catch (const DbError&) {
    }
}

void DisconnectOthers::disconnect() {
    m_query.close();
    m_query.setText(disconnectothers::singleUser(m_database));
    m_query.execute();
    m_query.close();
    m_disconnected = true;
}
