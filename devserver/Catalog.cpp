#include "Catalog.h"

#include "Utf.h"

#include <algorithm>
#include <sstream>
#include <sys/socket.h>

namespace {
const char* const kSystem[] = {"master", "tempdb", "model", "msdb"};
const char kLayout[] = "# zelvaro catalog 2";

// Set once from the command line, before any session starts.
std::string g_collation = "SQL_Latin1_General_CP1_CI_AS";
bool g_caseSensitive = false;

// Case-sensitive: a CS part (Latin1_General_100_CS_AI_KS_WS) or a binary one (_BIN, _BIN2).
bool isCaseSensitive(const std::string& name) {
    std::istringstream parts(name);
    for (std::string part; std::getline(parts, part, '_');)
        if (part == "CS" || part.rfind("BIN", 0) == 0)
            return true;
    return false;
}
} // namespace

void Catalog::setCollation(const std::string& name) {
    g_collation = name;
    g_caseSensitive = isCaseSensitive(name);
}

const std::string& Catalog::collation() {
    return g_collation;
}

bool Catalog::caseSensitive() {
    return g_caseSensitive;
}

bool Catalog::sameName(const std::string& a, const std::string& b) {
    return g_caseSensitive ? a == b : utf::fold(a) == utf::fold(b);
}

bool Catalog::isSystem(const std::string& name) {
    for (const char* s : kSystem)
        if (sameName(name, s))
            return true;
    return false;
}

Catalog::Catalog(std::string folder) : m_folder(std::move(folder)) {
    int id = 1;
    for (const char* s : kSystem)
        m_databases.push_back({s, id++, {}, "", "", false});

    std::string text;
    if (!storage::readAll(m_folder + "/catalog.txt", text))
        return;
    // One line per user database, tab separated: name, dbid, family GUID, creation date, state (with the
    // user access after a blank when it is not MULTI_USER), then
    // logical|type|physical|file id|filegroup|filegroup id per file. The first line names the layout;
    // a catalog without it has logical|type|physical per file and no GUID.
    std::istringstream in(text);
    std::string line;
    bool current = false;
    while (std::getline(in, line)) {
        if (line == kLayout) {
            current = true;
            continue;
        }
        std::vector<std::string> fields;
        std::string field;
        std::istringstream parts(line);
        while (std::getline(parts, field, '\t'))
            fields.push_back(storage::unescape(field));
        if (fields.size() < 2 || isSystem(fields[0]))
            continue;
        Database db{fields[0], std::atoi(fields[1].c_str()), {}, "", "", false};
        if (current && fields.size() >= 5) {
            db.familyGuid = fields[2];
            db.created = fields[3];
            // The state, then the user access when it is not MULTI_USER: "online single_user".
            db.restoring = fields[4].rfind("restoring", 0) == 0;
            const std::string access = fields[4].substr(std::min(fields[4].find(' '), fields[4].size()));
            db.userAccess = access == " single_user"       ? UserAccess::Single
                            : access == " restricted_user" ? UserAccess::Restricted
                                                           : UserAccess::Multi;
            for (size_t i = 5; i + 5 < fields.size(); i += 6)
                db.files.push_back({fields[i], fields[i + 2], fields[i + 1] == "L" ? 'L' : 'D',
                                    std::atoi(fields[i + 3].c_str()), fields[i + 4],
                                    std::atoi(fields[i + 5].c_str())});
        } else {
            for (size_t i = 2; i + 2 < fields.size(); i += 3) {
                const bool log = fields[i + 1] == "L";
                db.files.push_back({fields[i], fields[i + 2], log ? 'L' : 'D', log ? 2 : 1,
                                    log ? "" : "PRIMARY", log ? 0 : 1});
            }
        }
        m_databases.push_back(db);
    }
    std::sort(m_databases.begin(), m_databases.end(),
              [](const Database& a, const Database& b) { return a.dbid < b.dbid; });
}

Database* Catalog::find(const std::string& name) {
    for (Database& db : m_databases)
        if (sameName(db.name, name))
            return &db;
    return nullptr;
}

Database& Catalog::add(const std::string& name, std::vector<DbFile> files, const std::string& familyGuid,
                       const std::string& created) {
    // SQL Server hands out the lowest free id above the system databases. The list is kept in id
    // order, so one walk finds the first gap and the place to insert.
    std::sort(files.begin(), files.end(),
              [](const DbFile& a, const DbFile& b) { return a.fileId < b.fileId; });
    int id = 5;
    auto at = m_databases.begin();
    while (at != m_databases.end() && at->dbid <= id) {
        if (at->dbid == id)
            ++id;
        ++at;
    }
    return *m_databases.insert(at, {name, id, std::move(files), familyGuid, created, false});
}

void Catalog::remove(const std::string& name) {
    m_databases.erase(std::remove_if(m_databases.begin(), m_databases.end(),
                                     [&](const Database& d) { return sameName(d.name, name); }),
                      m_databases.end());
}

const Database* Catalog::owner(const std::string& physical) const {
    for (const Database& db : m_databases)
        for (const DbFile& f : db.files)
            if (f.physical == physical)
                return &db;
    return nullptr;
}

bool Catalog::save() const {
    std::string text = std::string(kLayout) + "\n";
    for (const Database& db : m_databases) {
        if (isSystem(db.name))
            continue;
        text += storage::escape(db.name) + "\t" + std::to_string(db.dbid) + "\t" +
                storage::escape(db.familyGuid) + "\t" + storage::escape(db.created) + "\t" +
                (db.restoring ? "restoring" : "online") +
                (db.userAccess == UserAccess::Single       ? " single_user"
                 : db.userAccess == UserAccess::Restricted ? " restricted_user"
                                                           : "");
        for (const DbFile& f : db.files)
            text += "\t" + storage::escape(f.logical) + "\t" + std::string(1, f.type) + "\t" +
                    storage::escape(f.physical) + "\t" + std::to_string(f.fileId) + "\t" +
                    storage::escape(f.filegroup) + "\t" + std::to_string(f.groupId);
        text += "\n";
    }
    return storage::writeAll(m_folder + "/catalog.txt", text);
}

void Catalog::open(int session, const SessionInfo& info) {
    m_sessions[session] = info;
}

void Catalog::enter(int session, const std::string& database) {
    // A session already ended by ROLLBACK IMMEDIATE stays ended.
    const auto it = m_sessions.find(session);
    if (it != m_sessions.end())
        it->second.database = database;
}

void Catalog::leave(int session) {
    m_sessions.erase(session);
}

bool Catalog::inUseByOthers(const std::string& database, int session) const {
    for (const auto& [id, info] : m_sessions)
        if (id != session && sameName(info.database, database))
            return true;
    return false;
}

int Catalog::endOthersIn(const std::string& database, int session) {
    int ended = 0;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->first == session || !sameName(it->second.database, database)) {
            ++it;
            continue;
        }
        // Shut down, not closed: the session's own thread still owns the descriptor and closes it
        // when its next read fails.
        if (it->second.fd >= 0)
            ::shutdown(it->second.fd, SHUT_RDWR);
        it = m_sessions.erase(it);
        ++ended;
    }
    return ended;
}
