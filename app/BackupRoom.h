// Whether the folder a backup goes into has room for it, asked before anything is sent: a backup
// that fills the disk fails only at its end (3202, operating-system error 112), after minutes of
// writing, and may leave the disk full for everything else on it.
#pragma once

#include "ServerQuestions.h"

#include <QString>

class AdoQuery;

namespace backuproom {

// About what a full backup of the database writes: the pages its data takes (reserved pages of
// [db].sys.allocation_units from 2005, of [db].dbo.sysindexes on 2000, as sp_spaceused counts
// them). Throws DbError when the server cannot be asked.
qint64 usedBytes(AdoQuery& query, const serverquestions::ServerVersion& v, const QString& database);

// The refusal when free < needed: how much the backup needs, how much the folder has, and that
// nothing was sent. `where` names the folder ("на сервері" or "на цьому комп'ютері").
QString shortage(const QString& database, const QString& folder, const QString& where, qint64 needed,
                 qint64 free);

// What the room check found: a refusal when a folder has no room for the database's backup, or the
// line that says the server folder's room could not be checked (nobody can tell it; the confirmation
// says so). Both empty when there is room, or when the server will not say what the backup takes.
struct Room {
    QString refusal;
    QString notChecked;
};
// serverFolder: where the server writes it; localFolder: where this computer moves it afterwards
// (empty when it does not). sharesThisComputer: see FolderRoom.h.
Room check(AdoQuery& query, const QString& database, const QString& serverFolder, bool sharesThisComputer,
           const QString& localFolder = QString());

// "3,0 МБ", "1,2 ГБ".
QString sizeText(qint64 bytes);

} // namespace backuproom
