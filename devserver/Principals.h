// Who may log in and who a database knows: the server's logins with their security identifiers
// (SIDs), each database's owner as master records it, and the users a database keeps in its own
// files. A user finds its login by SID alone, as on SQL Server, so a database brought from another
// server arrives with users whose SIDs no login here has ("orphaned users").
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

struct Database;

struct Login {
    std::string name;
    std::string sid;      // the bytes: 0x01 for sa, 16 bytes for every other SQL login
    std::string password; // as given; checked as SQL Server checks it (case-sensitive)
    std::string defaultDatabase = "master";
    std::string created; // as a datetime shows it
    int principalId = 0;
    bool sysadmin = false;
    bool disabled = false;
};

// A database principal the database keeps: dbo (always first) and the users added to it. The fixed
// ones (public, guest, INFORMATION_SCHEMA, sys and the fixed roles) are the same in every database
// and are not stored.
struct DbUser {
    std::string name;
    char type = 'S'; // S SQL user (also WITHOUT LOGIN), U Windows user, G Windows group, C certificate, K key
    std::string sid;
    // A user that maps to a login: a SQL user with a SID of at most 16 bytes or a Windows one. Users
    // WITHOUT LOGIN carry a longer SID (S-1-5-9-3-…), certificate and key users none of a login's.
    bool instanceUser() const {
        return (type == 'S' && sid.size() <= 16 && !sid.empty()) || type == 'U' || type == 'G';
    }
};

namespace principals {

// "0x0105…", upper-case, as SQL Server prints a varbinary; and back. False for text that is not hex.
std::string hex(const std::string& bytes);
bool fromHex(const std::string& text, std::string& bytes);
// A new SQL login's SID: 16 random bytes, as SQL Server makes them.
std::string newSid();
// Windows' complexity rule as CHECK_POLICY applies it: at least 8 characters, three of the four
// kinds (upper case, lower case, digits, others), and not the login's name.
bool complexEnough(const std::string& password, const std::string& login);

// A batch as the statement log keeps it: the string given as PASSWORD = or @passwd = is replaced by
// stars, as SQL Server keeps passwords out of its traces.
std::string maskPasswords(const std::string& batch);

// The users a database's primary file records; false when it records none (a database made before
// users were kept, whose only principal is its owner as dbo).
bool readUsers(const std::string& primaryPath, std::vector<DbUser>& users);
bool writeUsers(const std::string& primaryPath, const std::vector<DbUser>& users);

} // namespace principals

class Principals {
public:
    // Loads <folder>/principals.txt when present. The administrator's login (sa unless the stand-in
    // was started with another) is always there and is a sysadmin.
    Principals(std::string folder, const std::string& adminName, const std::string& adminPassword);

    std::mutex& mutex() { return m_mutex; }

    // All of the following expect the caller to hold mutex().
    const Login* login(const std::string& name) const;
    const Login* loginBySid(const std::string& sid) const;
    const std::vector<Login>& logins() const { return m_logins; }
    const Login& admin() const { return m_logins[m_admin]; }
    // Adds a SQL login (its SID given or new); false when its name or SID is taken.
    void add(Login login);
    // The owner's SID master records for a database (sys.databases.owner_sid); the administrator's for
    // a database that arrived before owners were recorded.
    std::string ownerOf(const std::string& database) const;
    void setOwner(const std::string& database, const std::string& sid);
    bool save() const;

    // The users of an online database: what its primary file records, or its owner as dbo.
    std::vector<DbUser> usersOf(const Database& db) const;
    // Whether the login may enter the database: a sysadmin, its owner, or a user whose SID is the
    // login's (guest lets anybody into master, tempdb and msdb). The caller holds both locks.
    bool mayEnter(const std::string& loginName, const Database& db) const;

private:
    std::string m_folder;
    mutable std::mutex m_mutex;
    std::vector<Login> m_logins;
    size_t m_admin = 0;
    std::map<std::string, std::string> m_owners; // folded database name -> SID
};
