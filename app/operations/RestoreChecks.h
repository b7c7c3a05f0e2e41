// What would stop a restore, or what its user should know, found from the backup's header and
// file list and from the server's answers before anything is sent: a backup of a newer server, the
// edition's data cap, the room of each target folder, an older server's backup the server
// upgrades, another collation. Widget-free; the texts are the confirmation's lines.
#pragma once

#include "ServerQuestions.h"

#include <QList>
#include <QString>
#include <functional>

class AdoQuery;
namespace ops {
struct Plan;
}

namespace restorechecks {

// "3,0 МБ": bytes in the largest unit that keeps the number at or above 1.
QString humanSize(qint64 bytes);
// "SQL Server 2019 (15.00.2000)", the product by its version number; "SQL Server 18.00.100" for
// one this program does not know.
QString serverName(int major, int minor, int build);

// The refusal for a backup this server cannot restore (a newer server's; from 2012 on, a 2000
// one), empty otherwise.
QString unreadableVersion(const QString& backup, int major, int minor, int build,
                          const serverquestions::ServerVersion& v);
// The line for a backup of an older server, which the restore upgrades; empty otherwise.
QString upgraded(int major, int minor, int build, const serverquestions::ServerVersion& v);
// The line for a backup whose collation is not the server's; empty when they agree or either is
// not known.
QString otherCollation(const QString& backupCollation, const QString& serverCollation);

// One file the restore creates: where, how large the backup's list says it is, whether it holds
// data (the edition's cap counts data files only), and whether the replaced database's own file
// lies there already (its room is there).
struct Target {
    QString path;
    qint64 bytes = 0;
    bool data = true;
    bool replacesOwnFile = false;
};

struct Server {
    serverquestions::ServerVersion version;
    std::function<QString(const QString&)> folderOf; // the folder of a path, as the server writes paths
    bool sharesThisComputer = false; // it runs here and sees this computer's files (FolderRoom.h)
    // The free bytes of the volume that holds a folder, -1 when nobody can tell (throws DbError when
    // the server must be asked and cannot be), and the line that says its room was not checked:
    // whoever can tell that very volume's (FolderRoom.h) answers.
    std::function<qint64(const QString&)> freeBytes;
    std::function<QString(const QString& folder, const QString& needed)> notChecked;
};

// What the backup's header says of the set restored.
struct Backup {
    QString path;
    int major = 0, minor = 0, build = 0; // the server that made it; 0 when the header does not say
    QString collation;
};

// Asks the server about its edition, collation and the free space of each target folder, and puts
// what it found into the plan: a refusal into plan.stop, lines into plan.findings (a folder whose
// room nobody can tell among them). Each question stands alone: one the server cannot answer
// keeps none of the others from being asked and told.
void check(AdoQuery& query, const Server& server, ops::Plan& plan, const QList<Target>& targets,
           const Backup& backup);

} // namespace restorechecks
