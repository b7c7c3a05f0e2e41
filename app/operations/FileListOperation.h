// Reading a backup's file list: the set is chosen from the backup's header while planning (the
// newest full backup of the file), a backup this server cannot restore stops the plan before its
// list is read, and the plan's one statement is the list of exactly that set, as it is sent.
#pragma once

#include "DatabaseOperations.h"
#include "Plan.h"
#include "RestorePlan.h"

#include <QList>
#include <QString>

class AdoQuery;

namespace ops::filelist {

struct Request {
    QString backup;
    bool is2000 = false; // 2000's header names no family and no set identity
};

struct FileListPlan : Plan {
    restoreplan::ChosenSet set; // the set the list is read of
};

// "RESTORE FILELISTONLY FROM Disk = '…'", with "WITH FILE = n" when the file holds several sets.
QString statement(const QString& backup, int position);

// Reads the header (throws DbError when the server cannot read it) and checks the backup's version
// against the server's: a newer server's backup (a 2000 one from 2012 on) is the plan's stop, told
// before the list is read (the server would say 3169 only after reading the whole file).
FileListPlan plan(const Request& request, Server& server);

// The remedy where the server's account cannot read the backup on this computer: an ACL entry lets
// it read that one file (written in the journal before it is made, crossed out once taken back),
// and the header is read through it; the list's own plan is then made from that header.
Plan readGrant(const Request& request, const QString& server, const QString& account);
// The grant's question, as it ends the refusal.
QString readGrantOffer(const QString& account, const QStringList& paths);

// The list's rows, read from the statement object the plan's statement left open.
QList<restoreplan::BackupFile> files(AdoQuery& query);

} // namespace ops::filelist
