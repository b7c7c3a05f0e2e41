#include "Principals.h"

#include "Catalog.h"
#include "EngineHelpers.h"
#include "Storage.h"
#include "Utf.h"

#include <cctype>
#include <random>
#include <sstream>

namespace principals {

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool fromHex(const std::string& text, std::string& bytes) {
    if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    std::string digits = text.substr(2);
    if (digits.size() % 2)
        digits = "0" + digits; // SQL Server pads an odd count on the left
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(digits[i])) ||
            !std::isxdigit(static_cast<unsigned char>(digits[i + 1])))
            return false;
        bytes += char(std::stoi(digits.substr(i, 2), nullptr, 16));
    }
    return true;
}

std::string newSid() {
    static std::mutex mutex;
    static std::mt19937 random{std::random_device{}()};
    std::lock_guard<std::mutex> lock(mutex);
    std::string sid;
    for (int i = 0; i < 16; ++i)
        sid += char(random() & 0xFF);
    return sid;
}

bool complexEnough(const std::string& password, const std::string& login) {
    if (utf::lengthInChars(password) < 8)
        return false;
    if (!login.empty() && utf::fold(password).find(utf::fold(login)) != std::string::npos)
        return false;
    bool upper = false, lowerCase = false, digit = false, other = false;
    for (unsigned char c : password) {
        upper = upper || std::isupper(c);
        lowerCase = lowerCase || std::islower(c);
        digit = digit || std::isdigit(c);
        other = other || (!std::isalnum(c) && c < 0x80);
    }
    return int(upper) + int(lowerCase) + int(digit) + int(other) >= 3;
}

std::string maskPasswords(const std::string& batch) {
    std::string out;
    size_t i = 0;
    while (i < batch.size()) {
        size_t keyEnd = std::string::npos;
        for (const char* key : {"password", "@passwd"}) {
            const size_t n = std::char_traits<char>::length(key);
            if (batch.size() - i >= n && utf::fold(batch.substr(i, n)) == key &&
                (i == 0 || !std::isalnum(static_cast<unsigned char>(batch[i - 1]))))
                keyEnd = i + n;
        }
        if (keyEnd == std::string::npos) {
            out += batch[i++];
            continue;
        }
        size_t j = keyEnd;
        while (j < batch.size() && std::isspace(static_cast<unsigned char>(batch[j])))
            ++j;
        if (j >= batch.size() || batch[j] != '=') {
            out += batch.substr(i, keyEnd - i);
            i = keyEnd;
            continue;
        }
        ++j;
        while (j < batch.size() && std::isspace(static_cast<unsigned char>(batch[j])))
            ++j;
        if (j < batch.size() && (batch[j] == 'N' || batch[j] == 'n'))
            ++j;
        if (j >= batch.size() || batch[j] != '\'') {
            out += batch.substr(i, keyEnd - i);
            i = keyEnd;
            continue;
        }
        size_t end = j + 1; // past the closing quote; doubled quotes stay inside
        while (end < batch.size() &&
               !(batch[end] == '\'' && (end + 1 >= batch.size() || batch[end + 1] != '\'')))
            end += batch[end] == '\'' ? 2 : 1;
        out += batch.substr(i, j + 1 - i) + "********'";
        i = std::min(batch.size(), end + 1);
    }
    return out;
}

// One user a line: type, SID in hex, then the name (last, so it may hold any character).
bool readUsers(const std::string& primaryPath, std::vector<DbUser>& users) {
    std::string text;
    if (!storage::readSection(primaryPath, "principals", text))
        return false;
    users.clear();
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t a = line.find('|'), b = a == std::string::npos ? a : line.find('|', a + 1);
        if (b == std::string::npos || a != 1)
            continue;
        DbUser u;
        u.type = line[0];
        fromHex(line.substr(a + 1, b - a - 1), u.sid);
        u.name = line.substr(b + 1);
        users.push_back(u);
    }
    return !users.empty();
}

bool writeUsers(const std::string& primaryPath, const std::vector<DbUser>& users) {
    std::string text;
    for (const DbUser& u : users)
        text += std::string(1, u.type) + "|" + (u.sid.empty() ? "" : hex(u.sid)) + "|" + u.name + "\n";
    return storage::writeSection(primaryPath, "principals", text);
}

} // namespace principals

namespace {
const char kLayout[] = "# zelvaro principals 1";
}

Principals::Principals(std::string folder, const std::string& adminName, const std::string& adminPassword)
    : m_folder(std::move(folder)) {
    // sa is 0x01 on every server; the fixed server roles take ids 2 to 10, logins start at 256.
    Login sa{"sa", std::string(1, '\x01'), adminPassword, "master", "2003-04-08 09:10:35.460", 1, true,
             false};
    m_logins.push_back(sa);
    if (!Catalog::sameName(adminName, "sa")) {
        // Started with another administrator: sa is there but disabled, as a hardened server has it.
        m_logins[0].disabled = true;
        m_logins[0].password.clear();
        Login admin{adminName, principals::newSid(), adminPassword, "master", engine::nowText(), 256, true,
                    false};
        m_logins.push_back(admin);
        m_admin = 1;
    }
    std::string text;
    if (!storage::readAll(m_folder + "/principals.txt", text))
        return;
    // login <tab> name, SID, password, default database, created, id;  owner <tab> database, SID
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');)
            f.push_back(storage::unescape(field));
        if (f.size() == 7 && f[0] == "login" && !login(f[1])) {
            Login l{f[1], "", f[3], f[4], f[5], std::atoi(f[6].c_str()), false, false};
            principals::fromHex(f[2], l.sid);
            m_logins.push_back(l);
        } else if (f.size() == 3 && f[0] == "owner") {
            principals::fromHex(f[2], m_owners[utf::fold(f[1])]);
        }
    }
}

const Login* Principals::login(const std::string& name) const {
    for (const Login& l : m_logins)
        if (Catalog::sameName(l.name, name))
            return &l;
    return nullptr;
}

const Login* Principals::loginBySid(const std::string& sid) const {
    for (const Login& l : m_logins)
        if (l.sid == sid)
            return &l;
    return nullptr;
}

void Principals::add(Login login) {
    int id = 256;
    for (const Login& l : m_logins)
        id = std::max(id, l.principalId + 1);
    login.principalId = id;
    if (login.sid.empty())
        login.sid = principals::newSid();
    if (login.created.empty())
        login.created = engine::nowText();
    m_logins.push_back(login);
}

std::string Principals::ownerOf(const std::string& database) const {
    const auto it = m_owners.find(utf::fold(database));
    return it == m_owners.end() ? admin().sid : it->second;
}

void Principals::setOwner(const std::string& database, const std::string& sid) {
    m_owners[utf::fold(database)] = sid;
}

bool Principals::save() const {
    std::string text = std::string(kLayout) + "\n";
    for (const Login& l : m_logins) {
        if (l.sysadmin)
            continue; // given by the command line each start
        text += "login\t" + storage::escape(l.name) + "\t" + principals::hex(l.sid) + "\t" +
                storage::escape(l.password) + "\t" + storage::escape(l.defaultDatabase) + "\t" +
                storage::escape(l.created) + "\t" + std::to_string(l.principalId) + "\n";
    }
    for (const auto& [database, sid] : m_owners)
        text += "owner\t" + storage::escape(database) + "\t" + principals::hex(sid) + "\n";
    return storage::writeAll(m_folder + "/principals.txt", text);
}

std::vector<DbUser> Principals::usersOf(const Database& db) const {
    std::vector<DbUser> users;
    if (db.files.empty() || !principals::readUsers(db.files[0].physical, users))
        users = {{"dbo", 'S', ownerOf(db.name)}};
    return users;
}

bool Principals::mayEnter(const std::string& loginName, const Database& db) const {
    const Login* l = login(loginName);
    if (!l || l->sysadmin || l->sid == ownerOf(db.name))
        return true;
    // guest may connect to master, tempdb and msdb; it is disabled in model and new databases.
    if (Catalog::sameName(db.name, "master") || Catalog::sameName(db.name, "tempdb") ||
        Catalog::sameName(db.name, "msdb"))
        return true;
    for (const DbUser& u : usersOf(db))
        if (u.sid == l->sid)
            return true;
    return false;
}
