// Runs one session's batches against the catalog and answers them the way SQL Server does:
// the same message numbers, states, classes and texts, per personality.
#pragma once

#include "BackupChecksum.h"
#include "BackupFormat.h"
#include "Catalog.h"
#include "Personality.h"
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
    void info(int number, const std::string& text, int cls = 0);
    void done(bool last, bool failed, uint16_t curCmd = 0, uint64_t rows = 0, bool counted = false);
    bool progress(const std::string& text, int number = 3211);

    bool use(const tsql::Statement& st, bool last);
    bool select(const tsql::Statement& st, bool last);
    bool fileRows(const tsql::Statement& st, bool altfiles, std::vector<tds::Column>& columns,
                  std::vector<Row>& rows);
    bool createDatabase(const tsql::Statement& st, bool last);
    bool createFailed(bool last, int osError, const std::string& path);
    bool attach(const tsql::Statement& st, bool last);
    // CREATE DATABASE … FOR ATTACH without ending the reply (sp_attach_single_file_db ends it as a
    // procedure does); true when the database was attached.
    bool attachFiles(const tsql::Statement& st);
    // Replaces the logs an attach could not find with one new log beside the primary file, when SQL
    // Server would; false after the messages when it would refuse. files gets the new log.
    bool rebuildLog(const tsql::Statement& st, const FileHeader& primary, const std::string& dataPath,
                    const std::vector<DbFile>& missing, int logCount, std::vector<DbFile>& files);
    bool exec(const tsql::Statement& st, bool last);
    bool attachSingleFile(const tsql::Statement& st, bool last);
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
    bool reportCopied(const char* operation, const std::vector<BackupFileEntry>& files,
                      const std::string& database, int position, long long bytes,
                      std::chrono::steady_clock::time_point started, bool last, int upgradedFrom = 0);
    // What the server answers about itself and its files (EngineServerFiles.cpp), computed with the
    // server account's rights inside its own file system. Each returns false when the statement is
    // not one of its own.
    bool serverProperty(const std::string& lowered, tds::Column& column, tds::Value& value) const;
    bool fileProcedure(const tsql::Statement& st, bool last);
    bool serverView(const tsql::Statement& st, bool last);
    // 3257 when a volume has no room for the files a restore would write; true when there is room.
    bool roomFor(const std::vector<BackupFileEntry>& targets);
    static void nameColumns(const tsql::Statement& st, std::vector<tds::Column>& columns);
    std::string resolve(const std::string& path) const;
    std::string missingDatabaseText(const std::string& name) const;
    std::string restoringText(const std::string& name) const;
    std::string syntaxText(const tsql::SyntaxError& e) const;
    bool is2000() const { return m_instance.personality.is2000(); }

    Instance& m_instance;
    tds::Writer& m_out;
    int m_session;
    std::string& m_database;
    bool m_connectionCut = false;
    bool m_attention = false; // the reply has been ended by an attention acknowledgement
    std::string m_badColumn;  // the column a query named that its table does not have
};
