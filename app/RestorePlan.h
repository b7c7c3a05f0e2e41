// Where every file of a backup set goes when it is restored, and which set of a backup file is
// restored: nothing of a backup is ever written to the path it recorded, which may belong to
// another database by now.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace restoreplan {

// One row of the backup's file list.
struct BackupFile {
    QString logicalName;
    QString type; // "D" data, "L" log; other kinds (full-text, FILESTREAM) are placed like data
    QString physicalName;
    qint64 bytes = 0; // Size: what the file takes when restored
};

// One row of the backup's header: one backup set of the file.
struct BackupSet {
    int position = 0;
    int backupType = 1; // 1 is a full database backup
    QString databaseName;
    QString finishDate; // as the server sent it
    // From 2005 on: the database's family (kept through its backups and restores) and the set's
    // own identity; empty on 2000, whose header has neither.
    QString familyGuid;
    QString setGuid;
    // The server that wrote the set (SoftwareVersionMajor/Minor/Build), the database's collation,
    // and whether the set carries checksums (2005 on).
    int major = 0, minor = 0, build = 0;
    QString collation;
    bool checksums = false;
};

// The set to restore: the newest full database backup, else the newest set of any kind; never a
// set without a finish date (an interrupted backup) while another has one. Null when the file
// holds no set.
const BackupSet* newestSet(const QList<BackupSet>& sets);

// The set of one backup file that is read and restored.
struct ChosenSet {
    QString backupPath;
    int position = 0; // 0 when the file holds a single set: the statements then name none
    QString finishDate;
    QString databaseName;
    QString familyGuid;
    QString setGuid;
    int major = 0, minor = 0, build = 0;
    QString collation;
    bool checksums = false;
};
ChosenSet chooseSet(const QString& backupPath, const QList<BackupSet>& sets);

// Whether two readings of a backup file's header chose the same set: by the set's identity where
// the server gives one, else (2000) by its place, database and finish time. A file written again
// between the readings holds another set, even under the same name.
bool sameSet(const ChosenSet& a, const ChosenSet& b);

// "07.12.2026 14:03" from the server's "2026-12-07 14:03:12.000"; the text as given otherwise.
QString shownDate(const QString& serverDate);

struct Move {
    QString logicalName;
    QString target;
};

// The files other than the first data and the first log file (those two go to the page's two
// paths): each data file to the folder of mdfPath as "<name>_<logical>.ndf", each log file to the
// folder of ldfPath as "<name>_<logical>.ldf", each a plain file name (see plainFileName). A target
// that is taken (a file of somebody else's there) or already chosen gets "_2", "_3" … before its
// extension instead.
QList<Move> furtherFiles(const QList<BackupFile>& files, const QString& databaseName, const QString& mdfPath,
                         const QString& ldfPath, const std::function<bool(const QString&)>& taken);

// One plain file name inside whatever folder it is joined to, made of a stem that came from outside
// (a logical name read from a backup, a database name) and a tail of ours (an extension, a "_2"
// before it): separators, control characters and leading dots of the stem become "_", and the stem
// is cut on a character boundary so that the whole name takes at most 255 bytes in UTF-8, which is
// what file systems take.
QString plainFileName(const QString& stem, const QString& tail);

// The key a path the server lists has in `listed` below: a Windows path in one case and with one
// kind of separator, as Windows compares them; any other as it stands.
QString listedKey(const QString& path);
// The path proposed for the first data (or, with log, log) file of a restore as `name`: `path`
// itself unless the server lists it as a file of another database (`listed`: listedKey of every
// database file the server lists, to its database's name); then, in the same folder, a name after
// the database: "<name>.mdf" or "<name>_log.ldf", "_2", "_3" … while that one is listed too.
// Without a name yet the stem is the file's own. Restoring over the database that has the file
// keeps it.
QString awayFromOthersFiles(const QString& path, const QString& name, bool log,
                            const QHash<QString, QString>& listed);

// The targets where a file already lies that is none of `ownFiles` (the files of the database the
// restore replaces, as the server names them): files of somebody else's, which the restore would
// overwrite. Each target once, in the given order.
// `exists` says whether a file lies at a path, as the server sees it: the server writes there.
QStringList othersFiles(const QStringList& targets, const QStringList& ownFiles,
                        const std::function<bool(const QString&)>& exists);

// The line under the data file's path that says where those further files go.
QString furtherFilesHint(const QList<BackupFile>& files);
// The line of the success message that says where they went.
QString furtherFilesDone(const QList<Move>& moves);

} // namespace restoreplan
