// A database that has just arrived by restore or attach, often from another server: its users carry
// the security identifiers (SIDs) of that server's logins, so on this one they may match no login
// ("orphaned users"), and the owner it records may be a login this server does not have. This asks
// the server which users and which owner are in that state, and composes the statements that mend
// them. Nothing here changes anything: the window shows the statements and runs them on a Yes.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

class AdoQuery;

namespace arriveddatabase {

struct OrphanedUser {
    QString name;
    QByteArray sid;
    // A Windows user or group: named only. Zelvaro logs in with SQL logins and cannot make a
    // Windows account's login.
    bool windows = false;
    // A SQL login of the user's name exists here (with another SID): the user can be mapped to it.
    bool loginOfName = false;
};

struct Findings {
    QString database;
    QVector<OrphanedUser> users; // in the server's order
    // The owner the database records (its dbo) or the one the server records for it is no login here.
    bool ownerUnknown = false;
    QByteArray ownerSid;
    bool anything() const { return ownerUnknown || !users.isEmpty(); }
};

// Reads the database's users, the server's logins and both owners' SIDs (2005 on from sys.*, 2000
// from sysusers, syslogins and sysdatabases). majorVersion: 8 for 2000. Throws DbError.
Findings find(AdoQuery& query, const QString& database, int majorVersion);

// A statement as it is sent and as it is shown (and logged): the same but for a password, which is
// shown as stars, so that it never appears again once typed.
struct Statement {
    QStringList sent;
    QStringList shown;
    bool isEmpty() const { return sent.isEmpty(); }
};

// What the user chose: passwords for users that get a new login with their own SID (users without
// a login of their name and without a password here are left as they are), and the login that is
// to own the database (empty: the owner is left).
struct Choices {
    QMap<QString, QString> passwords; // user name -> password
    QString newOwner;
};

// The statements that carry the choices out: a user whose name is a login here is mapped to it
// (ALTER USER … WITH LOGIN; sp_change_users_login 'Update_One' on 2000), a user with a password
// gets a login with its SID (CREATE LOGIN … SID; sp_addlogin @sid on 2000), an unknown owner is
// replaced (ALTER AUTHORIZATION; sp_changedbowner on 2000). Windows users are never touched. Empty
// when there is nothing to do.
Statement fixes(const Findings& findings, const Choices& choices, int majorVersion);

// How a password is shown in the statement text.
inline QString maskedPassword() {
    return QStringLiteral("********");
}

} // namespace arriveddatabase
