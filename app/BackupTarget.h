// What the file a backup is written to holds before the backup replaces it: WITH INIT overwrites
// the whole file. A database's own older backup is replaced without a question, as the backup page
// always did; a backup of another database, or a file that is no backup, is named in the one
// confirmation first.
#pragma once

#include <QList>
#include <QString>
#include <functional>

class AdoQuery;

namespace backuptarget {

struct Set {
    QString database;
    QString familyGuid; // empty on 2000, whose header has none
    QString finishDate;
};

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
// holds nothing or only sets `own` says are the database's own.
QString question(const QString& database, const QString& path, const Held& held,
                 const std::function<bool(const Set&)>& own);

} // namespace backuptarget
