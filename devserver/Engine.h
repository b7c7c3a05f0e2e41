// Runs one session's batches against the catalog and answers them the way SQL Server does:
// the same message numbers, states, classes and texts, per personality.
#pragma once

#include <atomic>

#include "BackupChecksum.h"
#include "BackupFormat.h"
#include "Catalog.h"
#include "Edition.h"
#include "Personality.h"
#include "Principals.h"
#include "SqlReader.h"
#include "TdsWriter.h"

#include <chrono>
#include <functional>
#include <string>

struct Instance {
    Personality personality;
    std::string serverName; // as messages carry it: HOST or HOST\INSTANCE
    std::string instanceName;
    std::string dataFolder;   // the default data folder, as the server names it
    std::string backupFolder; // the default backup folder, as the server names it
    std::string loginName = "sa"; // the login backups record as their user
    Catalog* catalog = nullptr;
    Principals* principals = nullptr; // the logins and the owners of databases
    std::string statementLog;       // when set, every batch received is appended here
    int slowMillis = 0;             // fault: wait this long before answering each batch
    int slowChangesMillis = 0;      // fault: each change (create, attach, detach, drop, backup, restore)
                                    // takes this long before it starts; a cancel meanwhile stops it
    double throughputMBps = 0;      // backup and restore copy at most this many MB a second; 0: no limit
    bool dropBackupHalfway = false; // fault: cut the connection in the middle of a BACKUP
    bool ignoreAttention = false;   // finish every statement; acknowledge a cancel after its last DONE
    bool silent = false;            // backup and restore send no STATS messages while they copy
    std::string defaultLogDir;      // where a log rebuilt on attach goes; empty: beside the data file
    bool rebuiltLogNoticeAsError = false; // 2000: send 5182 at severity 16 (its table's), not 10
    bool damageBackups = false;     // fault: flip one byte in the middle of every backup set written
    Edition edition = Edition::Developer;
    long long sizeCapOverrideMB = 0; // --size-cap-mb: a lower Express cap, for tests
    int dropAfterChange = 0;        // fault: cut the connection once change number N (counted from
                                    // the start, 1 the first) is done, before its reply is sent
    std::atomic<int> changesRun{0};
    // Another client takes a database's one slot as soon as SET SINGLE_USER leaves it free and
    // holds it this many milliseconds (0: until the server stops); -1: no such client.
    int anotherTakesSingleUserMillis = -1;
};

class Engine {
public:
    Engine(Instance& instance, tds::Writer& out, int session, std::string& database)
        : m_instance(instance), m_out(out), m_session(session), m_database(database) {}

    // Writes the whole reply, ending with a final DONE. False when the connection must be dropped.
    // `values` binds the @variables of a parameterised statement (remote procedure calls).
    bool runBatch(const std::string& text, const tsql::VariableValues* values = nullptr);

private:
    using Row = std::vector<tds::Value>;
    bool run(const tsql::Statement& st, bool last);

    void error(int number, int state, int cls, const std::string& text, const std::string& proc = "");
    // Informational messages go with class 0, as captures of real servers show for all of them
    // (progress, "Processed", attach notes): a severity of 10 from the message table is sent as 0,
    // as SQL Server converts it.
    void info(int number, const std::string& text, int cls = 0);
    void done(bool last, bool failed, uint16_t curCmd = 0, uint64_t rows = 0, bool counted = false);
    bool progress(const std::string& text, int number = 3211);

    bool use(const tsql::Statement& st, bool last);
    bool select(const tsql::Statement& st, bool last);
    bool fileRows(const tsql::Statement& st, bool altfiles, std::vector<tds::Column>& columns,
                  std::vector<Row>& rows);
    bool createDatabase(const tsql::Statement& st, bool last);
    // The messages of a CREATE DATABASE whose file could not be made; code is the server's OS error
    // (3 a missing folder, 112 no room, 5 denied) before the Linux personalities reword it.
    bool createFailed(bool last, int code, const std::string& path);
    bool attach(const tsql::Statement& st, bool last);
    // CREATE DATABASE … FOR ATTACH without ending the reply (sp_attach_single_file_db ends it as a
    // procedure does); true when the database was attached.
    bool attachFiles(const tsql::Statement& st);
    // Replaces the logs an attach could not find with one new log beside the primary file, when SQL
    // Server would; false after the messages when it would refuse. files gets the new log.
    bool rebuildLog(const tsql::Statement& st, const FileHeader& primary, const std::string& dataPath,
                    const std::vector<DbFile>& missing, int logCount, std::vector<DbFile>& files);
    // 948 or 950 (602 on 2000) for a primary file whose on-disk version this server cannot open,
    // ending the connection as their severity does; true when it can.
    bool openableVersion(const std::string& name, const FileHeader& primary);
    // 944 and a 951 per step for a file of an older version, which the attach converts.
    bool upgradeAttached(const std::string& name, const FileHeader& primary);
    // DBCC CHECKPRIMARYFILE: what a primary file not attached says of its database.
    bool checkPrimaryFile(const tsql::Statement& st, bool last);
    // An error of severity 20 or more: sent, then the connection is closed. Always false.
    bool fatal(int number, int state, int cls, const std::string& text);
    bool exec(const tsql::Statement& st, bool last);
    bool attachSingleFile(const tsql::Statement& st, bool last);
    bool attachDb(const tsql::Statement& st, bool last);
    bool drop(const tsql::Statement& st, bool last);
    bool backup(const tsql::Statement& st, bool last);
    bool restoreFileList(const tsql::Statement& st, bool last);
    bool restoreDatabase(const tsql::Statement& st, bool last);

    bool restoreHeaderOnly(const tsql::Statement& st, bool last);
    // RESTORE VERIFYONLY: reads every byte of the set as a restore would and checks it.
    bool restoreVerifyOnly(const tsql::Statement& st, bool last);
    // 3189 when the set carries a checksum that the bytes read do not give.
    // The statement's error, then SQL Server's "… is terminating abnormally." (3013), and its DONE.
    bool terminate(int number, int state, const std::string& text, const char* terminating, bool last);
    bool damagedSet(const BackupSetHeader& set, const backupformat::SetChecksum& sum, const char* terminating);

    // Reads the media's set headers; picks the set FILE = n names (the first by default), or hands
    // back every set when all is given. False after the error messages have been written.
    bool openMedia(const tsql::Statement& st, const char* terminating, BackupSetHeader& set,
                   std::vector<BackupSetHeader>* all = nullptr);
    // One operation's bytes in flight: STATS messages go out as each share is really done.
    struct Transfer {
        long long total = 0;
        long long done = 0;
        int stats = 0;
        int nextPercent = 0;
        bool backup = false;
        bool paced = true; // --throughput paces backup and restore, not verification
        storage::CopyResult result = storage::CopyResult::Done;
        std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    };
    // out -1 only reads; sum, when given, gets every byte read.
    bool copyWithProgress(int in, long long offset, long long size, int out, Transfer& t,
                          backupformat::SetChecksum* sum = nullptr);
    // True once the client has sent an attention (cancel); the attention packet is consumed here.
    bool attentionArrived();
    // Works on a change for --slow-changes' time, or until an attention (cancel) ends it early.
    void workOnChange(const tsql::Statement& st);
    // Ends a backup or restore stopped by an attention: 3204, 3013, and the attention's DONE.
    bool cancelled(const char* terminating);
    // The end of a backup or restore that copied every byte: a 4035 per file, streamed like the
    // progress lines, then 3014 with the real pages, seconds and MB/sec, then the final DONE.
    // upgradedFrom: the on-disk version a restored database had, when older than this server's (944
    // and the 951 steps follow the 4035 lines); 0 otherwise.
    // linesSent: the 4035 lines went out as each file was copied (interleavesFileLines()).
    bool reportCopied(const char* operation, const std::vector<BackupFileEntry>& files,
                      const std::string& database, int position, bool linesSent,
                      std::chrono::steady_clock::time_point started, bool last, int upgradedFrom = 0);
    // A file's 4035 line ("Processed N pages …"); false when the client has gone.
    bool fileProcessed(const BackupFileEntry& f, const std::string& database, int position);
    // SQL Server on Linux sends each file's 4035 line once that file is copied, between the percent
    // lines; on Windows every percent line comes first and the 4035 lines after them.
    bool interleavesFileLines() const { return m_instance.personality.onLinux(); }
    // The pages BACKUP counts for a database file: those in use (the model's pages of a new
    // database and whatever has been written since), not the whole file.
    long long pagesInUse(const DbFile& file, int fd, long long size) const;
    static long long pagesInSet(const BackupFileEntry& f);
    // HEADERONLY's BackupSize: the pages and the set's own blocks around them (its header and the
    // database's metadata before the pages, the trailer after), in 64 KB transfer units.
    static long long backupSizeOf(long long pages) {
        const long long kBlock = 64 * 1024;
        return (pages * 8192 + kBlock - 1) / kBlock * kBlock + 2 * kBlock;
    }
    // What the server answers about itself and its files (EngineServerFiles.cpp), computed with the
    // server account's rights inside its own file system. Each returns false when the statement is
    // not one of its own.
    bool serverProperty(const std::string& lowered, tds::Column& column, tds::Value& value) const;
    // DATABASEPROPERTYEX('name', 'property') of a SELECT without FROM; false when the column is not
    // one. The caller holds the catalog's lock.
    bool databaseProperty(const std::string& column, tds::Column& type, tds::Value& value);
    bool fileProcedure(const tsql::Statement& st, bool last);
    bool serverView(const tsql::Statement& st, bool last);
    // The rows a view or function gives, as the statement picks, filters and names them: 207 for a
    // column it does not have. The caller must not hold the catalog's lock (DB_ID takes it).
    // A system procedure's result set: its rows, DONEINPROC, return status 0, then the batch's DONE.
    void procedureRows(const std::vector<tds::Column>& columns, const std::vector<Row>& rows, bool last);
    bool answerRows(const tsql::Statement& st, const std::vector<tds::Column>& known,
                    const std::vector<Row>& all, bool last);
    // Who is connected (EngineSessions.cpp): sys.dm_exec_sessions, sysprocesses; false when the
    // statement asks for neither.
    bool sessionView(const tsql::Statement& st, bool last);
    // ALTER DATABASE … SET SINGLE_USER | RESTRICTED_USER | MULTI_USER, ending others on ROLLBACK.
    bool alterDatabase(const tsql::Statement& st, bool last);
    // 924 when another session holds the single-user database; true when this one may use it.
    bool mayEnter(const Database& db);
    // 1827 when the data files would pass the edition's cap; true when within it (EngineEdition.cpp).
    bool withinSizeCap(long long dataBytes);
    // Free space as the server sees it (EngineFreeSpace.cpp): sys.dm_os_volume_stats,
    // sys.dm_os_enumerate_fixed_drives, and xp_fixeddrives as a procedure.
    bool volumeView(const tsql::Statement& st, bool last);
    // The data pages a database takes (EngineSpaceUsed.cpp): [db].sys.allocation_units, [db].dbo.sysindexes.
    bool spaceView(const tsql::Statement& st, bool last);
    // Logins and database users (EnginePrincipals.cpp): CREATE LOGIN, ALTER USER, ALTER
    // AUTHORIZATION; sp_addlogin, sp_change_users_login, sp_changedbowner (false when the procedure
    // is none of them); the views that list them (false when the query asks for none).
    bool principalStatement(const tsql::Statement& st, bool last);
    bool principalProcedure(const tsql::Statement& st, bool last);
    bool principalView(const tsql::Statement& st, bool last);
    bool createLogin(const tsql::Statement& st, bool last);
    bool alterUser(const tsql::Statement& st, bool last);
    bool alterAuthorization(const tsql::Statement& st, bool last);
    bool addLogin(const tsql::Statement& st, bool last);
    bool changeUsersLogin(const tsql::Statement& st, bool last);
    // procedure null: ALTER AUTHORIZATION's messages. The caller holds the catalog's lock.
    bool changeOwner(const Database& db, const std::string& login, const char* procedure, bool last);
    bool procedureFailed(const char* procedure, int number, int cls, const std::string& text, bool last);
    bool statementFailed(int number, const std::string& text, bool last);
    // The login this session logged in with.
    std::string sessionLogin() const;
    // 916 when the session's login has no user in the database; the caller holds the catalog's lock.
    bool mayUse(const Database& db);
    // A database created, attached or restored: the login that did it owns it. Catalog lock held.
    void databaseArrived(const std::string& name);
    // 208 for a FROM that names nothing the server has, named as the statement wrote it.
    bool invalidObject(const tsql::Statement& st, bool last);
    bool fixedDrives(const tsql::Statement& st, bool last);
    // 3257 when a volume has no room for the files a restore would write; true when there is room.
    bool roomFor(const std::vector<BackupFileEntry>& targets);
    static void nameColumns(const tsql::Statement& st, std::vector<tds::Column>& columns);
    std::string resolve(const std::string& path) const;
    std::string missingDatabaseText(const std::string& name) const;
    std::string restoringText(const std::string& name) const;
    std::string syntaxText(const tsql::SyntaxError& e) const;
    // 5149 for a file a full disk could not give its size (2000's text names no file).
    std::string modifyFileText(const std::string& path) const;
    bool is2000() const { return m_instance.personality.is2000(); }
    // SQL Server on Linux meets ENOENT as error 2 whether the file or a folder on its way is missing;
    // on Windows a missing folder is 3.
    int osError(int code) const { return code == 3 && m_instance.personality.onLinux() ? 2 : code; }

    Instance& m_instance;
    tds::Writer& m_out;
    int m_session;
    std::string& m_database;
    bool m_connectionCut = false;
    bool m_attention = false; // the reply has been ended by an attention acknowledgement
    std::string m_badColumn;  // the column a query named that its table does not have
    const std::string* m_batch = nullptr; // the batch being run, for the refusal log
};
