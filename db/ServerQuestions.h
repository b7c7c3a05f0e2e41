// What the server can say before an operation starts, each asked with the best query the version
// has: who else is inside a database, which edition it is and how much data Express allows, how
// much room the folder a file goes into has, and what a backup's header says of where it comes
// from. Widget-free; every function throws DbError when the server cannot be asked.
#pragma once

#include <QList>
#include <QString>

class AdoQuery;

namespace serverquestions {

struct ServerVersion {
    int major = 0; // 8 for 2000 … 17 for 2025
    int minor = 0; // 50 for 2008 R2
    int build = 0;
    bool atLeast(int ma, int mi, int bu) const {
        return major != ma ? major > ma : minor != mi ? minor > mi : build >= bu;
    }
};
// SERVERPROPERTY('ProductVersion'), "15.0.2000.5".
ServerVersion version(AdoQuery& query);

struct Session {
    int id = 0;
    QString login;
    QString host;
    QString program;
};
// The users' sessions other than this connection's whose current database is `database`:
// sys.dm_exec_sessions where it has database_id (2012 on), sysprocesses before. The server's own
// sessions are left out.
QList<Session> othersUsing(AdoQuery& query, const ServerVersion& v, const QString& database);

struct Edition {
    int engineEdition = 0; // 4 Express (1 for MSDE 2000), 2 Standard, 3 Enterprise and Developer
    QString name;          // SERVERPROPERTY('Edition')
    qint64 capMB = 0;      // the most data one database may hold; 0: no limit
    bool express() const { return capMB > 0; }
};
Edition edition(AdoQuery& query, const ServerVersion& v);
// Express's cap by version: 2 GB for MSDE 2000, 4 GB for 2005 and 2008, 10 GB from 2008 R2 to
// 2022, 50 GB from 2025.
qint64 expressCapMB(const ServerVersion& v);

// Free bytes of the volume that holds `folder` as the server names it; -1 when the server cannot
// tell that volume's (never another volume's figure). Tries, in order: sys.dm_os_volume_stats of a
// database file in that very folder (2008 R2 SP1 on), sys.dm_os_enumerate_fixed_drives (2017 CU1
// on) for a drive letter or the very folder it lists, sys.dm_os_volume_stats of a file on the same
// drive, xp_fixeddrives for a drive letter (SQL Server on Windows).
qint64 freeBytes(AdoQuery& query, const ServerVersion& v, const QString& folder);

struct BackupHeader {
    QString database;
    int major = 0, minor = 0, build = 0; // SoftwareVersionMajor/Minor/Build: the server that made it
    int databaseVersion = 0;
    QString collation;
    QString familyGuid; // empty when read by SQL Server 2000, whose header has no such column
};
// The set at `position` of RESTORE HEADERONLY (the first when 0); database empty when the file
// has no such set.
BackupHeader backupHeader(AdoQuery& query, const ServerVersion& v, const QString& file, int position = 0);

} // namespace serverquestions
