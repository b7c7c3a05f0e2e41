// Which server wrote a database's files, read from the primary file without attaching it, and what
// that means for an attach here: a newer server's files cannot be opened at all, 2000's cannot be
// upgraded from 2012 on, and an older server's are upgraded in place for good.
#pragma once

#include "ServerQuestions.h"

#include <QString>
#include <QStringList>

class AdoQuery;

namespace fileversion {

// The version number DBCC CHECKPRIMARYFILE gives for the file ("Database version"); 0 when the
// server would not say (the statement is the sysadmin's only, and undocumented).
int ofPrimaryFile(AdoQuery& query, const QString& path);
// The size of the database's data files (the log's left out) as the primary file lists them; -1
// when the server would not say.
qint64 dataBytes(AdoQuery& query, const QString& path);
// The database's data files other than the primary, at the paths the primary file records for
// them; empty when there are none or the server would not say.
QStringList furtherDataFiles(AdoQuery& query, const QString& path);
// The version number of the files the server writes itself.
int writtenBy(const serverquestions::ServerVersion& server);
// "SQL Server 2019" for 904; the newest name for a number beyond every known one.
QString serverName(int databaseVersion);

enum class Verdict {
    Same,     // or not known: the attach goes as it always did
    Newer,    // the server cannot open them (948)
    TooOld,   // too old to be upgraded here (950)
    Upgraded, // attached, they are upgraded in place and no older server opens them again
};
Verdict verdict(int fileVersion, const serverquestions::ServerVersion& server);

} // namespace fileversion
