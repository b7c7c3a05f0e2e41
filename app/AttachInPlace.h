// Lets the server's account use an attached database's files where they lie, for as long as the
// database stays attached: the user's remedy when no place the server owns can take a copy (no
// root, no /srv/zelvaro-USER), chosen on one Yes knowing what is opened and until when.
//
//   const InPlaceOpening opening = whatInPlaceOpens({mdf, ldf}, server.uid);
//   if (opening.ok() && modal::confirm(inPlaceQuestion(opening, account, database)))
//       grantInPlace(opening, server.uid, instance, database, &why);   // before the attach
//   ... detach or drop through Zelvaro: takeBackForDatabase(instance, database);
//
// Every entry is journalled before it is made (addUserRights) and marked lasting for that database:
// the start and exit take nothing of it back, the window's list shows it with its undo command. A
// folder entry another attached database still needs passes to that database instead of going.
#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

struct InPlaceOpening {
    QStringList folders; // the user's folders the account cannot pass yet: each gets --x
    QStringList files;   // the database's files: each gets rw- (the server writes them)
    QString problem;     // why it cannot be done (a folder or file that is not the user's)
    bool ok() const { return problem.isEmpty(); }
};

InPlaceOpening whatInPlaceOpens(const QStringList& files, uid_t server);

// The question, naming exactly what is opened, for whom and until when.
QString inPlaceQuestion(const InPlaceOpening& opening, const QString& account, const QString& database);

// Opens what `opening` names (all or nothing). False and why when something could not be opened.
bool grantInPlace(const InPlaceOpening& opening, uid_t server, const QString& instance, const QString& database,
                  QString* why);

// The database is detached or dropped: what was opened for it goes.
void takeBackForDatabase(const QString& instance, const QString& database);
