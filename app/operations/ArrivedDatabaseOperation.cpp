// The users and owner of a database that has just arrived, and the plans that mend them
// (ArrivedDatabaseOperation.h).
#include "ArrivedDatabaseOperation.h"

#include "AdoQuery.h"
#include "DatabaseOperations.h"
#include "SqlQuote.h"

#include <QSet>

namespace ops::arrived {

namespace {

struct Principal {
    QString name;
    QByteArray sid;
    QString type; // S SQL user or login, U/G Windows, anything else neither
};

// The principals a query lists: its name and sid columns, and what typeOf makes of the row (S a SQL
// user or login, U or G Windows, anything else neither).
template <typename TypeOf> QVector<Principal> read(AdoQuery& query, const QString& sql, TypeOf typeOf) {
    query.close();
    query.setText(sql);
    query.openRowset();
    QVector<Principal> out;
    for (query.first(); !query.atEnd(); query.next())
        out.push_back({query.field(QStringLiteral("name")).trimmed(),
                       QByteArray::fromHex(query.field(QStringLiteral("sid")).toLatin1()), typeOf(query)});
    query.close();
    return out;
}

QString typeColumn(const AdoQuery& query) {
    return query.field(QStringLiteral("type")).trimmed();
}

// 2000 says with flags what 2005 says with a type letter.
QString userFlags(const AdoQuery& query) {
    return query.field(QStringLiteral("issqluser")).trimmed() == QLatin1String("1")  ? QStringLiteral("S")
           : query.field(QStringLiteral("isntname")).trimmed() == QLatin1String("1") ? QStringLiteral("U")
                                                                                     : QString();
}

QString loginFlags(const AdoQuery& query) {
    return query.field(QStringLiteral("isntname")).trimmed() == QLatin1String("1") ? QStringLiteral("U")
                                                                                   : QStringLiteral("S");
}

// The users a database always has; they are nobody's login.
bool fixedUser(const QString& name) {
    for (const char* fixed :
         {"dbo", "guest", "INFORMATION_SCHEMA", "sys", "system_function_schema", "public"})
        if (name.compare(QLatin1String(fixed), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// A SID as T-SQL writes a binary constant. Its digits come from the bytes, never from text.
QString binary(const QByteArray& sid) {
    return QLatin1String("0x") + QString::fromLatin1(sid.toHex().toUpper());
}

bool is2000(const Findings& f) {
    return f.majorVersion <= 8;
}

Statement plain(const QString& text) {
    return {text, Pace::Short, QString()};
}

// Users are mapped, and on 2000 the owner changed, from inside the database; the connection goes
// back to master after, so that it holds nobody's database open.
Plan inside(Kind kind, const Findings& f, QList<Statement> statements) {
    Plan plan;
    plan.kind = kind;
    plan.database = f.database;
    plan.databaseExists = true;
    if (statements.isEmpty())
        return plan;
    plan.statements << plain(QLatin1String("USE ") + sqlquote::name(f.database)) << statements
                    << plain(QStringLiteral("USE [master]"));
    return plan;
}

} // namespace

Findings find(AdoQuery& query, const QString& database, int majorVersion) {
    Findings f;
    f.database = database;
    f.majorVersion = majorVersion;
    const bool old = is2000(f);
    const QVector<Principal> users =
        old ? read(query,
                   QLatin1String("SELECT name, sid, issqluser, isntname FROM ") + sqlquote::name(database) +
                       QLatin1String(".dbo.sysusers"),
                   userFlags)
            : read(query,
                   QLatin1String("SELECT name, sid, type FROM ") + sqlquote::name(database) +
                       QLatin1String(".sys.database_principals"),
                   typeColumn);
    const QVector<Principal> logins =
        old ? read(query, QStringLiteral("SELECT name, sid, isntname FROM master.dbo.syslogins"), loginFlags)
            : read(query, QStringLiteral("SELECT name, sid, type FROM sys.server_principals"), typeColumn);
    QSet<QByteArray> loginSids;
    QSet<QString> sqlLoginNames;
    for (const Principal& l : logins) {
        loginSids.insert(l.sid);
        if (l.type == QLatin1String("S"))
            sqlLoginNames.insert(l.name.toCaseFolded());
    }
    QSet<QByteArray> userSids;
    for (const Principal& u : users) {
        if (u.name.compare(QLatin1String("dbo"), Qt::CaseInsensitive) == 0) {
            f.ownerSid = u.sid;
            f.ownerUnknown = !u.sid.isEmpty() && !loginSids.contains(u.sid);
            continue;
        }
        userSids.insert(u.sid);
        const bool windows = u.type == QLatin1String("U") || u.type == QLatin1String("G");
        // A SQL user with a login's SID length; users WITHOUT LOGIN have longer SIDs (S-1-5-9-3-…),
        // certificate and key users other types, guest the SID 0x00.
        const bool sqlUser = u.type == QLatin1String("S") && u.sid.size() >= 1 && u.sid.size() <= 16 &&
                             u.sid != QByteArray(1, '\0');
        if (fixedUser(u.name) || (!windows && !sqlUser) || loginSids.contains(u.sid))
            continue;
        f.users.push_back(
            {u.name, u.sid, windows, !windows && sqlLoginNames.contains(u.name.toCaseFolded())});
    }
    // The owner the server records, too: the database's dbo may be known while master's record is not.
    query.close();
    query.setText((old ? QLatin1String("SELECT sid AS owner FROM master.dbo.sysdatabases WHERE name = ")
                       : QLatin1String("SELECT owner_sid AS owner FROM sys.databases WHERE name = ")) +
                  sqlquote::literal(database));
    query.openRowset();
    if (!query.atEnd()) {
        const QByteArray serverOwner = QByteArray::fromHex(query.field(QStringLiteral("owner")).toLatin1());
        if (!serverOwner.isEmpty() && !loginSids.contains(serverOwner)) {
            f.ownerUnknown = true;
            if (f.ownerSid.isEmpty())
                f.ownerSid = serverOwner;
        }
    }
    query.close();
    // The login offered as the owner besides sa: the one the user connected as.
    query.setText(QStringLiteral("SELECT SUSER_SNAME() AS login"));
    query.openRowset();
    if (!query.atEnd())
        f.connectedLogin = query.field(QStringLiteral("login")).trimmed();
    query.close();
    const QString sa = QStringLiteral("sa");
    for (const QString& candidate : {sa, f.connectedLogin}) {
        if (candidate.isEmpty() || f.owners.contains(candidate, Qt::CaseInsensitive))
            continue;
        for (const Principal& l : logins)
            if (l.name.compare(candidate, Qt::CaseInsensitive) == 0 && !userSids.contains(l.sid))
                f.owners << l.name;
    }
    return f;
}

QString told(const Findings& f) {
    QStringList lines;
    for (const OrphanedUser& u : f.users) {
        if (u.windows)
            lines << QStringLiteral(
                         "• %1 — користувач Windows без входу на цьому сервері; Zelvaro його не змінює.")
                         .arg(u.name);
        else if (u.loginOfName)
            lines
                << QStringLiteral(
                       "• %1 — вхід з таким ім'ям тут є, але з іншим SID: користувача можна зіставити з ним.")
                       .arg(u.name);
        else
            lines << QStringLiteral(
                         "• %1 — входу з таким ім'ям тут немає: його можна створити з SID користувача "
                         "(%2) і паролем, який ви введете.")
                         .arg(u.name, binary(u.sid));
    }
    QString text;
    if (!lines.isEmpty())
        text = QStringLiteral(
                   "Користувачі бази даних, чиї SID не відповідають жодному входу цього сервера "
                   "(база даних, мабуть, з іншого сервера), тож програми під ними її не відкриють:\n") +
               lines.join(QLatin1Char('\n'));
    if (f.ownerUnknown)
        text +=
            (text.isEmpty() ? QString() : QStringLiteral("\n")) +
            QStringLiteral("Власник бази даних (SID %1) — не вхід цього сервера.").arg(binary(f.ownerSid));
    return text;
}

Plan users(const Findings& f, const QMap<QString, QString>& passwords) {
    QList<Statement> statements;
    QStringList mapped, created, left;
    for (const OrphanedUser& u : f.users) {
        if (u.windows)
            continue;
        const QString name = sqlquote::name(u.name);
        if (u.loginOfName) {
            statements << plain(
                is2000(f) ? QLatin1String("EXEC sp_change_users_login 'Update_One', ") +
                                sqlquote::literal(u.name) + QLatin1String(", ") + sqlquote::literal(u.name)
                          : QLatin1String("ALTER USER ") + name + QLatin1String(" WITH LOGIN = ") + name);
            mapped << u.name;
            continue;
        }
        const auto typed = passwords.constFind(u.name);
        if (!u.needsLogin() || typed == passwords.constEnd()) {
            left << u.name;
            continue;
        }
        // The login gets the user's own SID, so the user finds it without being changed.
        const QString head = is2000(f)
                                 ? QLatin1String("EXEC sp_addlogin @loginame = ") +
                                       sqlquote::literal(u.name) + QLatin1String(", @passwd = ")
                                 : QLatin1String("CREATE LOGIN ") + name + QLatin1String(" WITH PASSWORD = ");
        const QString tail =
            (is2000(f) ? QLatin1String(", @sid = ") : QLatin1String(", SID = ")) + binary(u.sid);
        statements << Statement{head + sqlquote::literal(*typed) + tail, Pace::Short,
                                head + sqlquote::literal(maskedPassword()) + tail};
        created << u.name;
    }
    Plan plan = inside(Kind::ArrivedUsers, f, statements);
    plan.touches = mapped + created;
    plan.findings = told(f).split(QLatin1Char('\n'));
    const QString what =
        !mapped.isEmpty() && !created.isEmpty()
            ? QStringLiteral("Зіставити користувачів із входами та створити нові входи з їхніми SID?")
        : !mapped.isEmpty() ? QStringLiteral("Зіставити користувачів із входами?")
                            : QStringLiteral("Створити нові входи з SID користувачів?");
    plan.question =
        (left.isEmpty() ? QString()
                        : QStringLiteral("Без входу залишаться: %1.\n").arg(left.join(QLatin1String(", ")))) +
        what;
    return plan;
}

Plan owner(const Findings& f, const QString& login) {
    Plan plan;
    if (is2000(f)) {
        // sp_changedbowner changes the database it runs in.
        plan = inside(Kind::ArrivedOwner, f,
                      {plain(QLatin1String("EXEC sp_changedbowner ") + sqlquote::literal(login))});
    } else {
        plan = inside(Kind::ArrivedOwner, f, {});
        plan.statements << plain(QLatin1String("ALTER AUTHORIZATION ON DATABASE::") +
                                 sqlquote::name(f.database) + QLatin1String(" TO ") + sqlquote::name(login));
    }
    plan.touches = {f.database};
    plan.question =
        QStringLiteral("Власник бази даних %1 (SID %2) — не вхід цього сервера. Зробити власником %3?")
            .arg(f.database, binary(f.ownerSid), login);
    return plan;
}

QStringList outcome(const Plan& plan, const Findings& before, AdoQuery& query) {
    useMaster(query);
    const Findings now = find(query, before.database, before.majorVersion);
    QStringList lines;
    if (plan.kind == Kind::ArrivedOwner)
        return {now.ownerUnknown ? QStringLiteral("• Власник бази даних досі невідомий цьому серверу.")
                                 : QStringLiteral("• Власник бази даних — вхід цього сервера.")};
    for (const OrphanedUser& u : before.users) {
        if (u.windows)
            continue;
        bool still = false;
        for (const OrphanedUser& n : now.users)
            still = still || n.name == u.name;
        lines << (still ? QStringLiteral("• %1 — досі без входу.")
                        : QStringLiteral("• %1 — тепер має вхід %1."))
                     .arg(u.name);
    }
    return lines;
}

} // namespace ops::arrived
