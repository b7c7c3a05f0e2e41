// Backing a database up into a file: the plan from the server's answers (the database as the
// server spells it, what the target holds, the room, whether the server may write there), with
// exactly what is sent: the BACKUP and the RESTORE VERIFYONLY that checks it. A target the server
// may not write is offered the shared folder's route, a whole plan of its own that writes a new
// file there (the path shown is the path sent) and journals it until it is moved or removed.
//
//   ops::backup::Request request{database, path};
//   const ops::Plan plan = ops::backup::plan(request, server);
//   ... confirm ops::backup::confirmation(plan) with plan.shown(), or a remedy's ...
//   const ops::backup::Sets before = ops::backup::before(plan, server);
//   ops::run(plan, executor, journal) ... ops::backup::outcome(plan, server, before) after a cancel
#pragma once

#include "BackupChecks.h"
#include "DatabaseOperations.h"
#include "Plan.h"

#include <QString>
#include <functional>

namespace ops::backup {

// What the server's file system says of the target, asked by the caller through its questions
// about the server's files (the window's); a caller whose server sees its paths says Reached.
struct TargetSeen {
    enum class Reach { Unknown, Reached, Refused };
    Reach reach = Reach::Unknown;
    QString refusal;        // Refused: what the user is told (the folder, the server's account, nothing sent)
    bool fileThere = false; // a file lies at the path, as the server sees it
    QString serverFolder;   // the target's folder as the server names it
};

// The new file in the shared folder the server is to write instead, made ready by the caller
// (SharedFolder.h): its path, or why no shared folder could be had (the user is told, nothing sent).
struct SharedFile {
    QString path;
    QString problems;
};

struct Request {
    QString database;
    QString path; // as the user chose it
    // The server sees this computer's files: its folders' room is measured here.
    bool sharesThisComputer = true;
    TargetSeen seen{TargetSeen::Reach::Reached, {}, false, {}};
    // The server's account on this computer, when known: a target refused to it is then offered the
    // shared folder (sharedExample names the place in the offer; sharedFile makes the file's path).
    QString serverAccount;
    QString sharedExample;
    std::function<SharedFile()> sharedFile;
    // From 2005 on the copy is COPY_ONLY unless asked not to: a plain full backup would become the
    // base of the site's own differential backups, whose chain breaks once our file is moved.
    bool copyOnly = true;
    // Progress messages of the check (", STATS = n"), from 2005 on; 0: none.
    int verifyStats = 0;
    // What the version is taken for when the connection cannot say (it is closed).
    bool assume2000 = false;
};

// BACKUP of the database into the path, and the check of set 1 (WITH INIT leaves the new set alone
// in the file), both with checksums from 2005 on: the server checksums every page it writes, so the
// check finds a changed byte anywhere in the file. Both long.
QList<Statement> statements(const QString& database, const QString& path, bool is2000, bool copyOnly,
                            int verifyStats);

Plan plan(const Request& request, Server& server);
// The same plan without asking the server anything: for a caller that asked it already (zelvaro-
// backup writes a new file under a name the server said was free). request.seen is not looked at.
Plan unasked(const Request& request, const QString& serverName, bool is2000);

// The one confirmation's text: the findings, then the question (or "Продовжити?" after findings
// alone); empty when there is nothing to ask.
QString confirmation(const Plan& plan);
// Where the server writes the backup: the chosen path, or the shared folder's new file.
QString writtenAt(const Plan& plan);
bool throughShared(const Plan& plan);

using backuptarget::Sets;
// What the written file holds right before the run: after a cancel only a set that was not there
// then is the new backup. Empty when the server cannot say.
Sets before(const Plan& plan, Server& server);
// Done when the file holds a complete set of the database it did not hold before. Throws DbError
// when the server cannot be asked.
Outcome outcome(const Plan& plan, Server& server, const Sets& before);

} // namespace ops::backup
