// What the server says of a backup file and of the files it lists for its databases: the set a
// restore reads (RESTORE HEADERONLY) and where every listed database keeps its files. Both are
// asked while a plan is made, before anything is confirmed.
#pragma once

#include "RestorePlan.h"

#include <QHash>
#include <QString>

class AdoQuery;

namespace ops::backupheader {

// A backup file may hold several sets (a backup without INIT appends one): the newest full backup
// is the one read and restored. 2000's header names no family and no set identity. Throws DbError.
restoreplan::ChosenSet chosenSet(AdoQuery& query, const QString& backup, bool is2000);

// listedKey of every file the server lists for a database, to that database's name; empty when the
// server will not say.
QHash<QString, QString> listedDatabaseFiles(AdoQuery& query, bool is2000);

} // namespace ops::backupheader
