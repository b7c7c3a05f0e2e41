// Who is connected and to which database (sys.dm_exec_sessions, sysprocesses), and the user access
// of a database: ALTER DATABASE … SET SINGLE_USER [WITH ROLLBACK IMMEDIATE] ends the other sessions
// in it, as SQL Server does, and keeps every other session out until MULTI_USER.
#include "Engine.h"

#include "EngineHelpers.h"

#include <chrono>
#include <thread>

using engine::fmt;
using engine::lower;

namespace {

using Row = std::vector<tds::Value>;

// The server's own sessions, which both lists show before the users' (spid 50 and below).
struct SystemSession {
    int spid;
    int dbid; // sysprocesses: 0 for tasks in no database
    const char* status;
    const char* command;
};
const SystemSession kSystemSessions[] = {{1, 0, "background", "RESOURCE MONITOR"},
                                         {2, 0, "background", "LAZY WRITER"},
                                         {3, 0, "sleeping", "LOG WRITER"},
                                         {4, 1, "background", "TASK MANAGER"}};

} // namespace

bool Engine::sessionView(const tsql::Statement& st, bool last) {
    std::vector<std::string> from;
    for (const std::string& part : st.from)
        from.push_back(lower(part));
    if (from.empty() || st.fromCall)
        return false;
    const std::string& table = from.back();
    const std::string schema = from.size() >= 2 ? from[from.size() - 2] : "";
    const std::string database = from.size() >= 3 ? from[from.size() - 3] : "master";
    // sys.dm_exec_sessions came with 2005, its database_id with 2012; sysprocesses is in every
    // version, as master.dbo.sysprocesses and, from 2005, the compatibility view sys.sysprocesses.
    const bool sessions = table == "dm_exec_sessions" && schema == "sys" && !is2000();
    const bool processes = table == "sysprocesses" && database == "master" &&
                           (schema.empty() || schema == "dbo" || (schema == "sys" && !is2000()));
    if (!sessions && !processes)
        return false;
    const bool databaseColumn = m_instance.personality.year >= 2012;
    using tds::ColumnType;
    std::vector<tds::Column> known;
    if (sessions) {
        known = {{"session_id", ColumnType::SmallInt, 2, 0, false},
                 {"login_time", ColumnType::DateTime, 8, 0, false},
                 {"host_name", ColumnType::NVarChar, 128},
                 {"program_name", ColumnType::NVarChar, 128},
                 {"login_name", ColumnType::NVarChar, 128, 0, false},
                 {"status", ColumnType::NVarChar, 30, 0, false},
                 {"is_user_process", ColumnType::Bit, 1, 0, false},
                 {"original_login_name", ColumnType::NVarChar, 128, 0, false}};
        if (databaseColumn)
            known.push_back({"database_id", ColumnType::SmallInt, 2});
    } else {
        // Its text columns are nchar: hostname, program_name and loginame come padded with spaces.
        known = {{"spid", ColumnType::SmallInt, 2, 0, false},
                 {"dbid", ColumnType::SmallInt, 2, 0, false},
                 {"login_time", ColumnType::DateTime, 8, 0, false},
                 {"status", ColumnType::NChar, 30, 0, false},
                 {"hostname", ColumnType::NChar, 128, 0, false},
                 {"program_name", ColumnType::NChar, 128, 0, false},
                 {"cmd", ColumnType::NChar, 16, 0, false},
                 {"loginame", ColumnType::NChar, 128, 0, false}};
    }
    std::vector<Row> all;
    {
        Catalog& catalog = *m_instance.catalog;
        std::lock_guard<std::mutex> lock(catalog.mutex());
        const std::string started = engine::nowText();
        for (const SystemSession& s : kSystemSessions) {
            const std::string spid = std::to_string(s.spid);
            if (sessions) {
                // sys.dm_exec_sessions gives the server's own sessions no program and one of the
                // statuses its page documents (running, sleeping, dormant, preconnect).
                Row row{spid, started, std::nullopt, std::nullopt, std::string("sa"), std::string("sleeping"),
                        std::string("0"), std::string("sa")};
                if (databaseColumn)
                    row.push_back(std::string("1"));
                all.push_back(row);
            } else {
                all.push_back({spid, std::to_string(s.dbid), started, std::string(s.status), std::string(),
                               std::string(), std::string(s.command), std::string("sa")});
            }
        }
        for (const auto& [id, info] : catalog.sessions()) {
            const Database* db = catalog.find(info.database);
            const std::string dbid = std::to_string(db ? db->dbid : 1);
            const bool self = id == m_session;
            const std::string status = self ? (sessions ? "running" : "runnable") : "sleeping";
            if (sessions) {
                Row row{std::to_string(id), info.loginTime, info.host, info.program, info.login, status,
                        std::string("1"), info.login};
                if (databaseColumn)
                    row.push_back(dbid);
                all.push_back(row);
            } else {
                all.push_back({std::to_string(id), dbid, info.loginTime, status, info.host, info.program,
                               std::string(self ? "SELECT" : "AWAITING COMMAND"), info.login});
            }
        }
    }
    return answerRows(st, known, all, last);
}

namespace {
// --another-client-takes-single-user: a client that was waiting for the database gets in the moment
// its one slot is free, as happens when an application keeps reconnecting. It is listed as a session
// like any other and leaves after its time. The caller holds the catalog's lock.
void anotherClientTakes(Catalog& catalog, const std::string& database, int millis) {
    static std::atomic<int> nextId{2000};
    const int id = nextId++;
    SessionInfo info;
    info.database = database;
    info.login = "sa";
    info.host = "ANOTHER-PC";
    info.program = "another client";
    info.loginTime = "2024-01-15 10:00:00.000";
    catalog.open(id, info);
    if (millis > 0)
        std::thread([&catalog, id, millis] {
            std::this_thread::sleep_for(std::chrono::milliseconds(millis));
            std::lock_guard<std::mutex> lock(catalog.mutex());
            catalog.leave(id);
        }).detach();
}
} // namespace

bool Engine::mayEnter(const Database& db) {
    if (db.userAccess != UserAccess::Single || !m_instance.catalog->inUseByOthers(db.name, m_session))
        return true;
    error(924, 1, 14, fmt("Database '%1' is already open and can only have one user at a time.", db.name));
    return false;
}

bool Engine::alterDatabase(const tsql::Statement& st, bool last) {
    Catalog& catalog = *m_instance.catalog;
    std::unique_lock<std::mutex> lock(catalog.mutex());
    // 2000's table has 5069 too; it is known to follow 5064 and 5070 there, not 5011.
    auto failed = [&](bool also2000 = false) {
        if (!is2000() || also2000)
            error(5069, 1, 16, "ALTER DATABASE statement failed.");
        done(last, true);
        return true;
    };
    const Database* db = catalog.find(st.name);
    if (!db) {
        error(5011, is2000() ? 1 : 7, 14,
              is2000() ? fmt("User does not have permission to alter database '%1' or the database does "
                             "not exist.",
                             st.name)
                       : fmt("User does not have permission to alter database '%1', the database does not "
                             "exist, or the database is not in a state that allows access checks.",
                             st.name));
        return failed();
    }
    const std::string name = db->name;
    const std::string option = st.userAccess == "single_user"       ? "SINGLE_USER"
                               : st.userAccess == "restricted_user" ? "RESTRICTED_USER"
                                                                    : "MULTI_USER";
    // A restore left unfinished: the database takes no options until a restore completes it.
    if (db->restoring) {
        error(5052, 1, 16, "ALTER DATABASE is not permitted while a database is in the Restoring state.");
        return failed();
    }
    if (Catalog::isSystem(name) && st.userAccess != "multi_user") {
        error(5058, 4, 16, fmt("Option '%1' cannot be set in database '%2'.", option, name));
        return failed();
    }
    // Someone else has the one slot of a single-user database: none of its options can change
    // (5064 16/1 and 5069, whatever the termination clause), until that client leaves.
    if (db->userAccess == UserAccess::Single && catalog.inUseByOthers(name, m_session)) {
        error(5064, 1, 16,
              fmt("Changes to the state or options of database '%1' cannot be made at this time. The "
                  "database is in single-user mode, and a user is currently connected to it.",
                  name));
        return failed(true);
    }
    int ended = 0;
    if (st.userAccess == "single_user" && catalog.inUseByOthers(name, m_session)) {
        if (st.termination == "no_wait" && is2000()) {
            error(5070, 1, 16,
                  fmt("Database state cannot be changed while other users are using the database '%1'", name));
            return failed(true);
        }
        if (st.termination == "no_wait") {
            error(5061, 1, 16,
                  fmt("ALTER DATABASE failed because a lock could not be placed on database '%1'. Try again "
                      "later.",
                      name));
            return failed();
        }
        if (st.termination.empty()) {
            // Without a termination clause the statement waits for the others to leave, or for a cancel.
            while (catalog.inUseByOthers(name, m_session)) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const bool stop = attentionArrived();
                lock.lock();
                if (stop) {
                    if (m_connectionCut)
                        return false;
                    m_out.done(tds::DoneAttention);
                    return true;
                }
            }
        } else {
            ended = catalog.endOthersIn(name, m_session);
        }
    }
    Database* target = catalog.find(name);
    if (!target) // dropped while this statement waited
        return failed();
    target->userAccess = st.userAccess == "single_user"       ? UserAccess::Single
                         : st.userAccess == "restricted_user" ? UserAccess::Restricted
                                                              : UserAccess::Multi;
    catalog.save(); // an option of the database: it outlasts a restart
    // SQL Server writes it into the primary file's boot page at once: the files say it from now on,
    // and a detach and attach of them gives back the same bytes.
    FileHeader header;
    if (!target->files.empty() && storage::readHeader(target->files[0].physical, header) &&
        header.userAccess != int(target->userAccess)) {
        header.userAccess = int(target->userAccess);
        storage::rewriteHeader(target->files[0].physical, header);
    }
    if (target->userAccess == UserAccess::Single && m_instance.anotherTakesSingleUserMillis >= 0 &&
        !Catalog::sameName(m_database, name))
        anotherClientTakes(catalog, name, m_instance.anotherTakesSingleUserMillis);
    lock.unlock();
    // Real servers print the estimate as the rollback starts and as it ends.
    if (ended > 0) {
        info(5060, "Nonqualified transactions are being rolled back. Estimated rollback completion: 0%.");
        info(5060, "Nonqualified transactions are being rolled back. Estimated rollback completion: 100%.");
    }
    done(last, false);
    return true;
}
