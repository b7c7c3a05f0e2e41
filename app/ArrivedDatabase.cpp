// The users and owner of a database that has just arrived, and the statements that mend them
// (ArrivedDatabase.h).
#include "ArrivedDatabase.h"

#include "AdoQuery.h"
#include "SqlQuote.h"

#include <QSet>

namespace arriveddatabase {

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

} // namespace

Findings find(AdoQuery& query, const QString& database, int majorVersion) {
    const bool is2000 = majorVersion <= 8;
    Findings f;
    f.database = database;
    const QVector<Principal> users =
        is2000 ? read(query,
                      QLatin1String("SELECT name, sid, issqluser, isntname FROM ") +
                          sqlquote::name(database) + QLatin1String(".dbo.sysusers"),
                      userFlags)
               : read(query,
                      QLatin1String("SELECT name, sid, type FROM ") + sqlquote::name(database) +
                          QLatin1String(".sys.database_principals"),
                      typeColumn);
    const QVector<Principal> logins =
        is2000
            ? read(query, QStringLiteral("SELECT name, sid, isntname FROM master.dbo.syslogins"), loginFlags)
            : read(query, QStringLiteral("SELECT name, sid, type FROM sys.server_principals"), typeColumn);
    QSet<QByteArray> loginSids;
    QSet<QString> sqlLoginNames;
    for (const Principal& l : logins) {
        loginSids.insert(l.sid);
        if (l.type == QLatin1String("S"))
            sqlLoginNames.insert(l.name.toCaseFolded());
    }
    for (const Principal& u : users) {
        if (u.name.compare(QLatin1String("dbo"), Qt::CaseInsensitive) == 0) {
            f.ownerSid = u.sid;
            f.ownerUnknown = !u.sid.isEmpty() && !loginSids.contains(u.sid);
            continue;
        }
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
    query.setText((is2000 ? QLatin1String("SELECT sid AS owner FROM master.dbo.sysdatabases WHERE name = ")
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
    return f;
}

Statement fixes(const Findings& findings, const Choices& choices, int majorVersion) {
    const bool is2000 = majorVersion <= 8;
    Statement s;
    auto add = [&](const QString& sent, const QString& shown) {
        s.sent << sent;
        s.shown << shown;
    };
    auto both = [&](const QString& text) { add(text, text); };
    for (const OrphanedUser& u : findings.users) {
        if (u.windows)
            continue;
        const QString name = sqlquote::name(u.name);
        if (u.loginOfName) {
            both(is2000 ? QLatin1String("EXEC sp_change_users_login 'Update_One', ") +
                              sqlquote::literal(u.name) + QLatin1String(", ") + sqlquote::literal(u.name)
                        : QLatin1String("ALTER USER ") + name + QLatin1String(" WITH LOGIN = ") + name);
            continue;
        }
        const auto typed = choices.passwords.constFind(u.name);
        if (typed == choices.passwords.constEnd() || u.sid.size() != 16)
            continue;
        // The login gets the user's own SID, so the user finds it without being changed.
        if (is2000) {
            const QString head = QLatin1String("EXEC sp_addlogin @loginame = ") + sqlquote::literal(u.name) +
                                 QLatin1String(", @passwd = ");
            const QString tail = QLatin1String(", @sid = ") + binary(u.sid);
            add(head + sqlquote::literal(*typed) + tail, head + sqlquote::literal(maskedPassword()) + tail);
        } else {
            const QString head = QLatin1String("CREATE LOGIN ") + name + QLatin1String(" WITH PASSWORD = ");
            const QString tail = QLatin1String(", SID = ") + binary(u.sid);
            add(head + sqlquote::literal(*typed) + tail, head + sqlquote::literal(maskedPassword()) + tail);
        }
    }
    if (findings.ownerUnknown && !choices.newOwner.isEmpty())
        both(is2000 ? QLatin1String("EXEC sp_changedbowner ") + sqlquote::literal(choices.newOwner)
                    : QLatin1String("ALTER AUTHORIZATION ON DATABASE::") + sqlquote::name(findings.database) +
                          QLatin1String(" TO ") + sqlquote::name(choices.newOwner));
    if (s.isEmpty())
        return s;
    // Users are mapped, and on 2000 the owner changed, from inside the database; the connection
    // goes back to master after.
    const QString into = QLatin1String("USE ") + sqlquote::name(findings.database);
    s.sent.prepend(into);
    s.shown.prepend(into);
    both(QStringLiteral("USE [master]"));
    return s;
}

} // namespace arriveddatabase
