// Statements and texts for putting the others out and letting everybody in again (SingleUser.h).
#include "SingleUser.h"

#include "AdoQuery.h"
#include "SqlQuote.h"

#include <QStringList>

namespace ops::singleuser {

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

QString userAccess(AdoQuery& query, const QString& database) {
    // A sql_variant is cast to text: not every client reads the variant itself.
    query.close();
    query.setText(QLatin1String("SELECT CAST(DATABASEPROPERTYEX(") + sqlquote::literal(database) +
                  QLatin1String(", 'UserAccess') AS nvarchar(128)) AS user_access"));
    query.openRowset();
    const QString access = query.atEnd() ? QString() : query.field(QStringLiteral("user_access")).trimmed();
    query.close();
    return access.toUpper();
}

void putOthersOut(Plan& plan) {
    plan.statements.prepend({singleUser(plan.database), Pace::Short});
    plan.putBack = {{multiUser(plan.database), Pace::Short}};
    JournalEntry left;
    left.kind = JournalEntry::Kind::SingleUser;
    left.server = plan.server;
    left.database = plan.database;
    plan.leaves = {left};
}

QString leftSingleUser(const QString& database, const QString& why) {
    return QStringLiteral(
               "База даних %1 залишилася доступною лише одному з'єднанню: сервер не виконав %2 (%3). "
               "Виконайте цю інструкцію, коли сервер буде доступний.")
        .arg(database, multiUser(database), why);
}

Plan openToAll(const JournalEntry& left) {
    Plan plan;
    plan.kind = Kind::OpenToAll;
    plan.server = left.server;
    plan.database = left.database;
    plan.databaseExists = true;
    plan.touches = {left.database};
    plan.question =
        QStringLiteral("База даних %1 на сервері %2 досі в однокористувацькому режимі (SINGLE_USER): "
                       "Zelvaro перевів її в цей режим для операції, яка не завершилася (%3), і не "
                       "зміг відкрити знову. Нею може користуватися лише одне з'єднання. Відкрити її "
                       "для всіх?")
            .arg(left.database, left.server,
                 left.made.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")));
    plan.statements = {{multiUser(left.database), Pace::Short}};
    return plan;
}

} // namespace ops::singleuser
