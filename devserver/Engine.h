// Runs one session's batches against the catalog and answers them the way SQL Server does:
// the same message numbers, states, classes and texts, per personality.
#pragma once

#include "Catalog.h"
#include "Personality.h"
#include "SqlReader.h"
#include "TdsWriter.h"

#include <functional>
#include <string>

struct Instance {
    Personality personality;
    std::string serverName; // as messages carry it: HOST or HOST\INSTANCE
    std::string instanceName;
    Catalog* catalog = nullptr;
    std::string statementLog;       // when set, every batch received is appended here
    int slowMillis = 0;             // fault: wait this long before answering each batch
    bool dropBackupHalfway = false; // fault: cut the connection in the middle of a BACKUP
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
    bool progress(const std::string& text);

    bool use(const tsql::Statement& st, bool last);
    bool select(const tsql::Statement& st, bool last);
    bool createDatabase(const tsql::Statement& st, bool last);
    bool attach(const tsql::Statement& st, bool last);
    bool exec(const tsql::Statement& st, bool last);
    bool drop(const tsql::Statement& st, bool last);
    bool backup(const tsql::Statement& st, bool last);
    bool restoreFileList(const tsql::Statement& st, bool last);
    bool restoreDatabase(const tsql::Statement& st, bool last);

    bool openBackup(const std::string& path, const char* terminating, BackupSet& set, std::string& device);
    std::string resolve(const std::string& path) const;
    std::string missingDatabaseText(const std::string& name) const;
    std::string syntaxText(const tsql::SyntaxError& e) const;
    bool is2000() const { return m_instance.personality.is2000(); }

    Instance& m_instance;
    tds::Writer& m_out;
    int m_session;
    std::string& m_database;
    bool m_connectionCut = false;
};
