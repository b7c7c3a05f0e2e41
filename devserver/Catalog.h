// The server's list of databases (sysdatabases) with their files, kept in the data folder so that
// it survives a restart. One catalog per instance; every session shares it under its lock.
#pragma once

#include "Storage.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

// Who may use a database (ALTER DATABASE … SET SINGLE_USER | RESTRICTED_USER | MULTI_USER), numbered as
// sys.databases' user_access numbers it.
enum class UserAccess { Multi = 0, Single = 1, Restricted = 2 };
// "MULTI_USER", "SINGLE_USER", "RESTRICTED_USER": user_access_desc and DATABASEPROPERTYEX's words.
inline const char* userAccessName(UserAccess a) {
    return a == UserAccess::Single ? "SINGLE_USER" : a == UserAccess::Restricted ? "RESTRICTED_USER" : "MULTI_USER";
}

struct Database {
    std::string name;
    int dbid = 0;
    std::vector<DbFile> files; // in file id order
    std::string familyGuid;    // kept through backup and restore; a new CREATE gets a new one
    std::string created;       // creation date, as backups record it
    bool restoring = false;    // a restore was interrupted: the database cannot be used
    // An option of the database itself: SQL Server records it in the primary file's boot page, so
    // files detached single-user are attached single-user again.
    UserAccess userAccess = UserAccess::Multi;
};

// What a session told the server in LOGIN7, and where it is now; sysprocesses and
// sys.dm_exec_sessions list these.
struct SessionInfo {
    std::string database;
    std::string login;
    std::string host;
    std::string program;
    std::string loginTime; // as a datetime shows it
    int fd = -1;           // the connection, so that ROLLBACK IMMEDIATE can end it
};

class Catalog {
public:
    // Loads <folder>/catalog.txt when present; the four system databases are always there.
    explicit Catalog(std::string folder);

    std::mutex& mutex() { return m_mutex; }

    // All of the following expect the caller to hold mutex().
    const std::vector<Database>& databases() const { return m_databases; }
    Database* find(const std::string& name);
    Database& add(const std::string& name, std::vector<DbFile> files, const std::string& familyGuid = "",
                  const std::string& created = "");
    void remove(const std::string& name);
    // Which database uses a physical file, compared as the file system sees it.
    const Database* owner(const std::string& physical) const;
    bool save() const;
    const std::string& folder() const { return m_folder; }

    // Sessions say which database they are in, so detach and drop can refuse one in use.
    void open(int session, const SessionInfo& info);
    void enter(int session, const std::string& database);
    void leave(int session);
    bool inUseByOthers(const std::string& database, int session) const;
    const std::map<int, SessionInfo>& sessions() const { return m_sessions; }
    // Ends every other session in the database as ALTER DATABASE … WITH ROLLBACK IMMEDIATE does:
    // their connections are closed and they are gone from the lists at once. How many were ended.
    int endOthersIn(const std::string& database, int session);

    static bool isSystem(const std::string& name);
    // Names of databases (and of their files) compare as the server's collation compares them:
    // ignoring case, unless the collation is case-sensitive (a CS part in its name) or binary.
    static bool sameName(const std::string& a, const std::string& b);
    static void setCollation(const std::string& name);
    static const std::string& collation();
    static bool caseSensitive();

private:
    std::string m_folder;
    mutable std::mutex m_mutex;
    std::vector<Database> m_databases;
    std::map<int, SessionInfo> m_sessions;
};
