// A database that has just arrived by restore or attach, often from another server: its users carry
// the security identifiers (SIDs) of that server's logins, so on this one they may match no login
// ("orphaned users"), and the owner it records may be a login this server does not have. This asks
// the server which users and which owner are in that state, plans what mends them (each plan the
// exact statements a Yes sends), and reads back what the server says once they ran.
//
//   const Findings f = arrived::find(query, "Sales", major);
//   Plan mend = arrived::users(f, {{"reporter", typed}});   // shown, run on one Yes
//   Plan own = arrived::owner(f, f.owners.first());   // asked apart
//   QStringList now = arrived::outcome(mend, f, query);
#pragma once

#include "Plan.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

class AdoQuery;

namespace ops::arrived {

struct OrphanedUser {
    QString name;
    QByteArray sid;
    // A Windows user or group: named only. Zelvaro logs in with SQL logins and cannot make a
    // Windows account's login.
    bool windows = false;
    // A SQL login of the user's name exists here (with another SID): the user can be mapped to it.
    bool loginOfName = false;
    // No login of its name: one can be made with the user's own SID and a password the user types.
    bool needsLogin() const { return !windows && !loginOfName && sid.size() == 16; }
};

struct Findings {
    QString database;
    int majorVersion = 0;        // 8 for 2000
    QVector<OrphanedUser> users; // in the server's order
    // The owner the database records (its dbo) or the one the server records for it is no login here.
    bool ownerUnknown = false;
    QByteArray ownerSid;
    QString connectedLogin; // the login this connection is, as the server names it
    // The logins that may be made the owner, asked in this order: sa, which servers have and
    // administrators make the owner, then the connected login when it is another. A login that is
    // already a user of the database is left out: the server refuses it as the owner (15110).
    QStringList owners;
    bool anything() const { return ownerUnknown || !users.isEmpty(); }
};

// Reads the database's users, the server's logins, both owners' SIDs (2005 on from sys.*, 2000 from
// sysusers, syslogins and sysdatabases) and the connected login. Throws DbError.
Findings find(AdoQuery& query, const QString& database, int majorVersion);

// What was found, as the user reads it: a heading and a line for each user, the owner after them.
QString told(const Findings& findings);

// The users' plan, on one Yes: a user whose name is a login here is mapped to it (ALTER USER … WITH
// LOGIN; sp_change_users_login 'Update_One' on 2000); a user needing a login gets one with its SID
// when `passwords` holds a password for it (CREATE LOGIN … SID; sp_addlogin @sid on 2000) and is
// left otherwise. The password is in the statement sent and shown as stars. No statements when
// there is nothing to do.
Plan users(const Findings& findings, const QMap<QString, QString>& passwords);

// The owner's plan: ALTER AUTHORIZATION (sp_changedbowner on 2000) to `login`.
Plan owner(const Findings& findings, const QString& login);

// What the server says now of each user and of the owner the plan was about, a line each, read from
// its catalog after the run. The connection is taken back to master first: a plan stopped by an
// error may have left it inside the database. Throws DbError.
QStringList outcome(const Plan& plan, const Findings& before, AdoQuery& query);

// How a password is shown in the statement text.
inline QString maskedPassword() {
    return QStringLiteral("********");
}

} // namespace ops::arrived
