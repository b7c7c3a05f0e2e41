// What a backup asks the server before and after it writes: the database's name as the server
// spells it, the room its folder has for it, what the target file holds before WITH INIT replaces
// it, and after a cancel whether the file holds the set just written.
#pragma once

#include "ServerQuestions.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class AdoQuery;

namespace ops::backuproom {

// About what a full backup of the database writes: the pages its data takes (reserved pages of
// [db].sys.allocation_units from 2005, of [db].dbo.sysindexes on 2000, as sp_spaceused counts
// them). Throws DbError when the server cannot be asked.
qint64 usedBytes(AdoQuery& query, const serverquestions::ServerVersion& v, const QString& database);

// Free bytes of the volume that holds `folder` (as the server names it); -1 when nobody can tell.
// sharesThisComputer: the folder's own file system answers (statvfs); the server is asked when it
// does not share this computer's files, or the folder cannot be looked at from here. A folder on a
// disk of its own must never be measured by another volume's figure. Throws DbError.
qint64 freeBytes(AdoQuery& query, const serverquestions::ServerVersion& v, const QString& folder,
                 bool sharesThisComputer);
// The confirmation's line when nobody can tell: the room could not be checked.
QString notChecked(const QString& folder, const QString& needed);

// The refusal when free < needed: how much the backup needs, how much the folder has, and that
// nothing was sent. `where` names the folder ("на сервері" or "на цьому комп'ютері").
QString shortage(const QString& database, const QString& folder, const QString& where, qint64 needed,
                 qint64 free);

// What the room check found: a refusal when a folder has no room for the database's backup, or the
// line that says the server folder's room could not be checked. Both empty when there is room, or
// when the server will not say what the backup takes.
struct Room {
    QString refusal;
    QString notChecked;
};
// serverFolder: where the server writes it; localFolder: where this computer moves it afterwards
// (empty when it does not).
Room check(AdoQuery& query, const QString& database, const QString& serverFolder, bool sharesThisComputer,
           const QString& localFolder = QString());

// "3,0 МБ", "1,2 ГБ".
QString sizeText(qint64 bytes);

} // namespace ops::backuproom

namespace ops::backuptarget {

struct Set {
    QString database;
    QString familyGuid; // empty on 2000, whose header has none
    QString finishDate;
};

// What the file a backup is written to holds before WITH INIT replaces the whole of it.
struct Held {
    enum class Kind {
        Nothing,    // no file there
        Sets,       // the complete backup sets the server reads in it
        NoBackup,   // a file the server reads no backup set in
        Unreadable, // a file the server cannot open, or would not say what it is
    };
    Kind kind = Kind::Nothing;
    QList<Set> sets;
};

// Asks the server what the file holds (RESTORE HEADERONLY). exists: whether a file lies at the path,
// as the server sees it; a file it cannot read is Unreadable, never Nothing.
Held read(AdoQuery& query, const QString& path, bool exists, bool is2000);

// The Yes/No question before the backup of `database` replaces what the file holds; empty when it
// holds nothing or only sets `own` says are the database's own (replaced unasked, as always).
QString question(const QString& database, const QString& path, const Held& held,
                 const std::function<bool(const Set&)>& own);

// The database's family as the server keeps it (2005 on): the same for every restore of its
// backups, so a copy restored under another name is still the same database. Empty on 2000.
QString familyGuid(AdoQuery& query, const QString& name, bool is2000);

// The database's name as the server lists it, found as the server compares names; empty when it
// has none. Throws DbError.
QString serverSpelling(AdoQuery& query, const QString& name);

// The complete sets a backup file holds, as the server reads it: each set's identity (BackupSetGUID
// from 2005; on 2000 its position, start and finish times and checkpoint LSN) with its database.
// Empty when the server finds no file or no set there. Throws DbError when it cannot be asked.
struct Sets {
    QStringList ids;
    QStringList databases; // per id
};
Sets sets(AdoQuery& query, const QString& file, bool is2000);
// Whether the file now holds a complete set of the database that `before` did not: only the
// server's word counts, never this computer's file times.
bool written(AdoQuery& query, const QString& file, const QString& database, const Sets& before, bool is2000);

} // namespace ops::backuptarget
