#include "Catalog.h"

#include "Utf.h"

#include <algorithm>
#include <sstream>

namespace {
const char* const kSystem[] = {"master", "tempdb", "model", "msdb"};
}

bool Catalog::sameName(const std::string& a, const std::string& b) {
    return utf::fold(a) == utf::fold(b);
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
        m_databases.push_back({s, id++, {}});

    std::string text;
    if (!storage::readAll(m_folder + "/catalog.txt", text))
        return;
    // One line per user database: name, dbid, then logical|type|physical per file, tab separated.
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::string field;
        std::istringstream parts(line);
        while (std::getline(parts, field, '\t'))
            fields.push_back(storage::unescape(field));
        if (fields.size() < 2 || isSystem(fields[0]))
            continue;
        Database db{fields[0], std::atoi(fields[1].c_str()), {}};
        for (size_t i = 2; i + 2 < fields.size(); i += 3)
            db.files.push_back({fields[i], fields[i + 2], fields[i + 1] == "L" ? 'L' : 'D'});
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

Database& Catalog::add(const std::string& name, std::vector<DbFile> files) {
    // SQL Server hands out the lowest free id above the system databases.
    int id = 5;
    while (
        std::any_of(m_databases.begin(), m_databases.end(), [id](const Database& d) { return d.dbid == id; }))
        ++id;
    m_databases.push_back({name, id, std::move(files)});
    std::sort(m_databases.begin(), m_databases.end(),
              [](const Database& a, const Database& b) { return a.dbid < b.dbid; });
    return *find(name);
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
    std::string text;
    for (const Database& db : m_databases) {
        if (isSystem(db.name))
            continue;
        text += storage::escape(db.name) + "\t" + std::to_string(db.dbid);
        for (const DbFile& f : db.files)
            text += "\t" + storage::escape(f.logical) + "\t" + std::string(1, f.type) + "\t" +
                    storage::escape(f.physical);
        text += "\n";
    }
    return storage::writeAll(m_folder + "/catalog.txt", text);
}

void Catalog::enter(int session, const std::string& database) {
    m_sessions[session] = database;
}

void Catalog::leave(int session) {
    m_sessions.erase(session);
}

bool Catalog::inUseByOthers(const std::string& database, int session) const {
    for (const auto& [id, db] : m_sessions)
        if (id != session && sameName(db, database))
            return true;
    return false;
}
