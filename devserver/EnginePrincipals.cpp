// Logins and database users: CREATE LOGIN, ALTER USER … WITH LOGIN, ALTER AUTHORIZATION ON
// DATABASE, sp_addlogin, sp_change_users_login, sp_changedbowner, the views that list them
// (sys.server_principals, syslogins, sys.database_principals, sysusers) and USE's 916.
//
// Messages, with their numbers, severities and texts, come from SQL Server's message tables: the
// 2005+ texts from the sql-docs error tables (15000–15999, 916), the 2000 ones from its
// sysmessages install script (15007, 15025, 15110, 15298, 15501, 916). Every message goes out with
// state 1; which state each real procedure raises is not known.
#include "Engine.h"

#include "EngineHelpers.h"
#include "Principals.h"
#include "Utf.h"

#include <algorithm>

using engine::fmt;
using engine::lower;

namespace {

// Fixed database roles and their principal ids, as every database has them.
const std::pair<const char*, int> kDatabaseRoles[] = {
    {"db_owner", 16384},      {"db_accessadmin", 16385},    {"db_securityadmin", 16386},
    {"db_ddladmin", 16387},   {"db_backupoperator", 16389}, {"db_datareader", 16390},
    {"db_datawriter", 16391}, {"db_denydatareader", 16392}, {"db_denydatawriter", 16393}};
const char* const kServerRoles[] = {"public",       "sysadmin",  "securityadmin", "serveradmin", "setupadmin",
                                    "processadmin", "diskadmin", "dbcreator",     "bulkadmin"};

// The users no statement may remap: their names are the database's own.
bool fixedUser(const std::string& name) {
    for (const char* n : {"dbo", "guest", "INFORMATION_SCHEMA", "sys", "system_function_schema", "public"})
        if (Catalog::sameName(name, n))
            return true;
    return false;
}

const char* typeDesc(char type) {
    switch (type) {
    case 'U':
        return "WINDOWS_USER";
    case 'G':
        return "WINDOWS_GROUP";
    case 'C':
        return "CERTIFICATE_MAPPED_USER";
    case 'K':
        return "ASYMMETRIC_KEY_MAPPED_USER";
    case 'R':
        return "DATABASE_ROLE";
    default:
        return "SQL_USER";
    }
}

// The value of a procedure's parameter, by position or by @name; nullopt when not given or NULL.
tds::Value argument(const tsql::Statement& st, size_t position, const char* name) {
    for (size_t i = 0; i < st.args.size(); ++i) {
        const bool match = st.argNames[i].empty() ? i == position : st.argNames[i] == name;
        if (match)
            return lower(st.args[i]) == "null" ? tds::Value() : tds::Value(st.args[i]);
    }
    return {};
}

std::string option(const tsql::Statement& st, const char* name) {
    for (size_t i = 0; i < st.args.size(); ++i)
        if (st.argNames[i] == name)
            return st.args[i];
    return {};
}

} // namespace

std::string Engine::sessionLogin() const {
    const auto& sessions = m_instance.catalog->sessions();
    const auto it = sessions.find(m_session);
    return it == sessions.end() ? std::string() : it->second.login;
}

bool Engine::mayUse(const Database& db) {
    const std::string login = sessionLogin();
    Principals& p = *m_instance.principals;
    std::lock_guard<std::mutex> lock(p.mutex());
    if (login.empty() || p.mayEnter(login, db))
        return true;
    error(916, 1, 14,
          is2000() ? fmt("Server user '%1' is not a valid user in database '%2'.", login, db.name)
                   : fmt("The server principal \"%1\" is not able to access the database \"%2\" under the "
                         "current security context.",
                         login, db.name));
    return false;
}

void Engine::databaseArrived(const std::string& name) {
    Principals& p = *m_instance.principals;
    const std::string login = sessionLogin();
    std::lock_guard<std::mutex> lock(p.mutex());
    // The database is owned by the login that created, attached or restored it; the owner the
    // database itself records (its dbo) stays what its files say.
    const Login* l = p.login(login);
    p.setOwner(name, l ? l->sid : p.admin().sid);
    p.save();
}

bool Engine::procedureFailed(const char* procedure, int number, int cls, const std::string& text, bool last) {
    error(number, 1, cls, text, procedure);
    m_out.returnStatus(1);
    m_out.done(uint16_t((last ? tds::DoneFinal : tds::DoneMore) | tds::DoneError), 0xE0, 0, 0xFE);
    return true;
}

bool Engine::statementFailed(int number, const std::string& text, bool last) {
    error(number, 1, 16, text);
    done(last, true);
    return true;
}

bool Engine::createLogin(const tsql::Statement& st, bool last) {
    Login l;
    l.name = st.name;
    l.password = option(st, "password");
    l.defaultDatabase = option(st, "default_database").empty() ? "master" : option(st, "default_database");
    const std::string sid = option(st, "sid");
    if (option(st, "password").empty() &&
        st.argNames.end() == std::find(st.argNames.begin(), st.argNames.end(), "password"))
        return statementFailed(
            15021, "Invalid value given for parameter PASSWORD. Specify a valid parameter value.", last);
    if (!sid.empty() && (!principals::fromHex(sid, l.sid) || l.sid.size() != 16))
        return statementFailed(15419, "Supplied parameter sid should be binary(16).", last);
    Principals& p = *m_instance.principals;
    std::lock_guard<std::mutex> lock(p.mutex());
    if (p.login(l.name))
        return statementFailed(15025, fmt("The server principal '%1' already exists.", l.name), last);
    if (!l.sid.empty() && p.loginBySid(l.sid))
        return statementFailed(15433, "Supplied parameter sid is in use.", last);
    // CHECK_POLICY is ON unless turned off: the operating system's complexity rule applies.
    if (lower(option(st, "check_policy")) != "off" && !principals::complexEnough(l.password, l.name))
        return statementFailed(15118,
                               "Password validation failed. The password does not meet Windows policy "
                               "requirements because it is not complex enough.",
                               last);
    p.add(l);
    p.save();
    done(last, false);
    return true;
}

bool Engine::alterUser(const tsql::Statement& st, bool last) {
    const std::string loginName = option(st, "login");
    if (loginName.empty())
        return statementFailed(
            102, fmt("Incorrect syntax near '%1'.", st.args.empty() ? st.name : st.args[0]), last);
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> catalogLock(catalog.mutex());
    const Database* db = catalog.find(m_database);
    if (!db)
        return statementFailed(911, missingDatabaseText(m_database), last);
    Principals& p = *m_instance.principals;
    std::lock_guard<std::mutex> lock(p.mutex());
    std::vector<DbUser> users = p.usersOf(*db);
    auto user = std::find_if(users.begin(), users.end(),
                             [&](const DbUser& u) { return Catalog::sameName(u.name, st.name); });
    if (fixedUser(st.name))
        return statementFailed(
            15150, fmt("Cannot alter the user '%1'.", user == users.end() ? st.name : user->name), last);
    if (user == users.end())
        return statementFailed(
            15151,
            fmt("Cannot alter the user '%1', because it does not exist or you do not have permission.",
                st.name),
            last);
    const Login* l = p.login(loginName);
    if (!l)
        return statementFailed(
            15151,
            fmt("Cannot find the login '%1', because it does not exist or you do not have permission.",
                loginName),
            last);
    // A SQL user maps to a SQL login only; users without a login, certificate and Windows users cannot.
    if (user->type != 'S' || !user->instanceUser())
        return statementFailed(
            33016,
            "Cannot remap a user of one type to a login of a different type. For example, a SQL "
            "user must be mapped to a SQL login; it cannot be remapped to a Windows login.",
            last);
    for (const DbUser& other : users)
        if (&other != &*user && other.sid == l->sid)
            return statementFailed(15063, "The login already has an account under a different user name.",
                                   last);
    user->sid = l->sid;
    principals::writeUsers(db->files[0].physical, users);
    done(last, false);
    return true;
}

// The owner master records and the dbo the database records both become the login, as ALTER
// AUTHORIZATION and sp_changedbowner make them.
bool Engine::changeOwner(const Database& db, const std::string& loginName, const char* procedure, bool last) {
    auto fail = [&](int number, const std::string& text) {
        return procedure ? procedureFailed(procedure, number, 16, text, last)
                         : statementFailed(number, text, last);
    };
    if (Catalog::sameName(db.name, "master") || Catalog::sameName(db.name, "model") ||
        Catalog::sameName(db.name, "tempdb"))
        return fail(15109,
                    is2000()
                        ? "Cannot change the owner of the master database."
                        : "Cannot change the owner of the master, model, tempdb or distribution database.");
    Principals& p = *m_instance.principals;
    std::lock_guard<std::mutex> lock(p.mutex());
    const Login* l = p.login(loginName);
    if (!l)
        return fail(procedure ? 15007 : 15151,
                    procedure ? fmt(is2000() ? "The login '%1' does not exist."
                                             : "'%1' is not a valid login or you do not have permission.",
                                    loginName)
                              : fmt("Cannot find the principal '%1', because it does not exist or you do not "
                                    "have permission.",
                                    loginName));
    std::vector<DbUser> users = p.usersOf(db);
    for (size_t i = 1; i < users.size(); ++i)
        if (users[i].sid == l->sid)
            return fail(
                15110, is2000()
                           ? "The proposed new database owner is already a user in the database."
                           : "The proposed new database owner is already a user or aliased in the database.");
    users[0].sid = l->sid;
    users[0].type = 'S';
    principals::writeUsers(db.files[0].physical, users);
    p.setOwner(db.name, l->sid);
    p.save();
    if (procedure) {
        if (is2000())
            info(15501, "Database owner changed.");
        m_out.returnStatus(0);
        m_out.done(last ? tds::DoneFinal : tds::DoneMore, 0xE0, 0, 0xFE);
    } else {
        done(last, false);
    }
    return true;
}

bool Engine::alterAuthorization(const tsql::Statement& st, bool last) {
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    const Database* db = catalog.find(st.name);
    if (!db || db->files.empty())
        return statementFailed(
            15151,
            fmt("Cannot find the database '%1', because it does not exist or you do not have permission.",
                st.name),
            last);
    return changeOwner(*db, option(st, "to"), nullptr, last);
}

bool Engine::principalStatement(const tsql::Statement& st, bool last) {
    switch (st.kind) {
    case tsql::Statement::CreateLogin:
        return createLogin(st, last);
    case tsql::Statement::AlterUser:
        return alterUser(st, last);
    default:
        return alterAuthorization(st, last);
    }
}

bool Engine::addLogin(const tsql::Statement& st, bool last) {
    const char* proc = "sp_addlogin";
    Login l;
    l.name = argument(st, 0, "@loginame").value_or("");
    l.password = argument(st, 1, "@passwd").value_or("");
    l.defaultDatabase = argument(st, 2, "@defdb").value_or("master");
    const tds::Value sid = argument(st, 4, "@sid");
    if (sid && (!principals::fromHex(*sid, l.sid) || l.sid.size() != 16))
        return procedureFailed(proc, 15419, 16,
                               is2000() ? "Supplied parameter @sid should be binary(16)."
                                        : "Supplied parameter sid should be binary(16).",
                               last);
    {
        Catalog& catalog = *m_instance.catalog;
        std::lock_guard<std::mutex> lock(catalog.mutex());
        if (!catalog.find(l.defaultDatabase))
            return procedureFailed(
                proc, 15010, 16,
                is2000() ? fmt("The database '%1' does not exist. Use sp_helpdb to show available databases.",
                               l.defaultDatabase)
                         : fmt("The database '%1' does not exist. Supply a valid database name. To see "
                               "available databases, use sys.databases.",
                               l.defaultDatabase),
                last);
    }
    Principals& p = *m_instance.principals;
    std::lock_guard<std::mutex> lock(p.mutex());
    if (p.login(l.name))
        return procedureFailed(
            proc, 15025, 16,
            fmt(is2000() ? "The login '%1' already exists." : "The server principal '%1' already exists.",
                l.name),
            last);
    if (!l.sid.empty() && p.loginBySid(l.sid))
        return procedureFailed(
            proc, 15433, 16,
            is2000() ? "Supplied parameter @sid is in use." : "Supplied parameter sid is in use.", last);
    p.add(l);
    p.save();
    if (is2000())
        info(15298, "New login created.");
    m_out.returnStatus(0);
    m_out.done(last ? tds::DoneFinal : tds::DoneMore, 0xE0, 0, 0xFE);
    return true;
}

bool Engine::changeUsersLogin(const tsql::Statement& st, bool last) {
    const char* proc = "sp_change_users_login";
    const std::string action = lower(argument(st, 0, "@action").value_or(""));
    const tds::Value userName = argument(st, 1, "@usernamepattern");
    const tds::Value loginName = argument(st, 2, "@loginname");
    const tds::Value password = argument(st, 3, "@password");
    if (action != "report" && action != "update_one" && action != "auto_fix")
        return procedureFailed(proc, 15286, 16,
                               fmt("Terminating this procedure. The @action '%1' is unrecognized. Try "
                                   "'REPORT', 'UPDATE_ONE', or 'AUTO_FIX'.",
                                   argument(st, 0, "@action").value_or("")),
                               last);
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> catalogLock(catalog.mutex());
    const Database* db = catalog.find(m_database);
    if (!db || db->files.empty())
        return procedureFailed(
            proc, 15291, 16,
            fmt("Terminating this procedure. The %1 name '%2' is absent or invalid.", "Database", m_database),
            last);
    Principals& p = *m_instance.principals;
    std::lock_guard<std::mutex> lock(p.mutex());
    std::vector<DbUser> users = p.usersOf(*db);
    // The procedure's own test: a SQL user with a SID of a login's length that no login has.
    auto orphaned = [&](const DbUser& u) {
        return u.type == 'S' && u.instanceUser() && u.sid != std::string(1, '\0') && !p.loginBySid(u.sid);
    };
    if (action == "report") {
        std::vector<tds::Column> columns = {{"UserName", tds::ColumnType::NVarChar, 128, 0, false},
                                            {"UserSID", tds::ColumnType::VarBinary, 85, 0, true}};
        std::vector<Row> rows;
        for (const DbUser& u : users)
            if (orphaned(u))
                rows.push_back({u.name, u.sid});
        std::sort(rows.begin(), rows.end(),
                  [](const Row& a, const Row& b) { return utf::fold(*a[0]) < utf::fold(*b[0]); });
        procedureRows(columns, rows, last);
        return true;
    }
    auto user = std::find_if(users.begin(), users.end(), [&](const DbUser& u) {
        return userName && Catalog::sameName(u.name, *userName) && u.type == 'S' && u.instanceUser();
    });
    if (user == users.end() || fixedUser(user->name))
        return procedureFailed(proc, 15291, 16,
                               fmt("Terminating this procedure. The %1 name '%2' is absent or invalid.",
                                   "User", userName.value_or("")),
                               last);
    int mapped = 0, created = 0;
    const Login* l = nullptr;
    if (action == "update_one") {
        l = loginName ? p.login(*loginName) : nullptr;
        if (l && Catalog::sameName(l->name, "sa"))
            return procedureFailed(proc, 15287, 16,
                                   "Terminating this procedure. 'sa' is a forbidden value for the login name "
                                   "parameter in this procedure.",
                                   last);
        if (!l)
            return procedureFailed(proc, 15291, 16,
                                   fmt("Terminating this procedure. The %1 name '%2' is absent or invalid.",
                                       "Login", loginName.value_or("")),
                                   last);
    } else {
        if (loginName)
            return procedureFailed(
                proc, 15600, 15,
                "An invalid parameter or option was specified for procedure 'sp_change_users_login'.", last);
        l = p.login(user->name);
        if (!l && !password)
            return procedureFailed(
                proc, 15600, 15,
                "An invalid parameter or option was specified for procedure 'sp_change_users_login'.", last);
        if (l) {
            info(15292, fmt("The row for user '%1' will be fixed by updating its login link to a login "
                            "already in existence.",
                            user->name));
            mapped = 1;
        } else {
            info(15293,
                 fmt(is2000() ? "Barring a conflict, the row for user '%1' will be fixed by updating its "
                                "link to a new login. Consider changing the new password from null."
                              : "Barring a conflict, the row for user '%1' will be fixed by updating its "
                                "link to a new login.",
                     user->name));
            Login fresh;
            fresh.name = user->name;
            fresh.password = *password;
            p.add(fresh);
            p.save();
            l = p.login(user->name);
            created = 1;
        }
    }
    for (const DbUser& other : users)
        if (&other != &*user && other.sid == l->sid)
            return procedureFailed(proc, 15063, 16,
                                   "The login already has an account under a different user name.", last);
    user->sid = l->sid;
    principals::writeUsers(db->files[0].physical, users);
    if (action == "auto_fix") {
        info(15295,
             fmt("The number of orphaned users fixed by updating users was %1.", std::to_string(mapped)));
        info(15294,
             fmt("The number of orphaned users fixed by adding new logins and then updating users was %1.",
                 std::to_string(created)));
    }
    m_out.returnStatus(0);
    m_out.done(last ? tds::DoneFinal : tds::DoneMore, 0xE0, 0, 0xFE);
    return true;
}

bool Engine::principalProcedure(const tsql::Statement& st, bool last) {
    const std::string name = lower(st.name);
    if (name == "sp_addlogin")
        return addLogin(st, last);
    if (name == "sp_change_users_login")
        return changeUsersLogin(st, last);
    if (name != "sp_changedbowner")
        return false;
    const std::string login = argument(st, 0, "@loginame").value_or("");
    Catalog& catalog = *m_instance.catalog;
    std::lock_guard<std::mutex> lock(catalog.mutex());
    const Database* db = catalog.find(m_database);
    if (!db || db->files.empty())
        return procedureFailed(
            "sp_changedbowner", 15109, 16,
            is2000() ? "Cannot change the owner of the master database."
                     : "Cannot change the owner of the master, model, tempdb or distribution database.",
            last);
    return changeOwner(*db, login, "sp_changedbowner", last);
}

bool Engine::principalView(const tsql::Statement& st, bool last) {
    std::vector<std::string> from;
    for (const std::string& part : st.from)
        from.push_back(lower(part));
    if (from.empty() || st.fromCall)
        return false;
    const std::string& table = from.back();
    const std::string schema = from.size() >= 2 ? from[from.size() - 2] : "";
    const bool compatibility = schema.empty() || schema == "dbo" || (schema == "sys" && !is2000());
    const bool serverPrincipals = table == "server_principals" && schema == "sys" && !is2000();
    const bool syslogins = table == "syslogins" && compatibility;
    const bool databasePrincipals = table == "database_principals" && schema == "sys" && !is2000();
    const bool sysusers = table == "sysusers" && compatibility;
    if (!serverPrincipals && !syslogins && !databasePrincipals && !sysusers)
        return false;
    using tds::ColumnType;
    const bool from2012 = m_instance.personality.year >= 2012;
    std::vector<tds::Column> known;
    std::vector<Row> all;
    auto flag = [](bool b) { return tds::Value(b ? "1" : "0"); };
    if (serverPrincipals || syslogins) {
        Principals& p = *m_instance.principals;
        std::lock_guard<std::mutex> lock(p.mutex());
        if (serverPrincipals) {
            known = {{"name", ColumnType::NVarChar, 128, 0, false},
                     {"principal_id", ColumnType::Int, 4, 0, false},
                     {"sid", ColumnType::VarBinary, 85},
                     {"type", ColumnType::Char, 1, 0, false},
                     {"type_desc", ColumnType::NVarChar, 60},
                     {"is_disabled", ColumnType::Bit, 1},
                     {"create_date", ColumnType::DateTime, 8, 0, false},
                     {"modify_date", ColumnType::DateTime, 8, 0, false},
                     {"default_database_name", ColumnType::NVarChar, 128},
                     {"default_language_name", ColumnType::NVarChar, 128},
                     {"credential_id", ColumnType::Int, 4}};
            if (from2012) {
                known.push_back({"owning_principal_id", ColumnType::Int, 4});
                known.push_back({"is_fixed_role", ColumnType::Bit, 1, 0, false});
            }
            for (const Login& l : p.logins()) {
                all.push_back({l.name,
                               std::to_string(l.principalId),
                               l.sid,
                               std::string("S"),
                               std::string("SQL_LOGIN"),
                               flag(l.disabled),
                               l.created,
                               l.created,
                               l.defaultDatabase,
                               std::string("us_english"),
                               {}});
                if (from2012) {
                    all.back().push_back({});
                    all.back().push_back(flag(false));
                }
            }
            for (int i = 0; i < 9; ++i) {
                all.push_back({std::string(kServerRoles[i]),
                               std::to_string(i + 2),
                               std::string(1, char(i + 2)),
                               std::string("R"),
                               std::string("SERVER_ROLE"),
                               flag(false),
                               std::string("2009-04-13 12:59:06.013"),
                               std::string("2009-04-13 12:59:06.013"),
                               {},
                               {},
                               {}});
                if (from2012) {
                    all.back().push_back(std::string("1"));
                    all.back().push_back(flag(i > 0));
                }
            }
        } else {
            known = {{"sid", ColumnType::VarBinary, 85},
                     {"status", ColumnType::SmallInt, 2},
                     {"createdate", ColumnType::DateTime, 8, 0, false},
                     {"name", ColumnType::NVarChar, 128},
                     {"dbname", ColumnType::NVarChar, 128},
                     {"password", ColumnType::NVarChar, 128},
                     {"language", ColumnType::NVarChar, 128},
                     {"denylogin", ColumnType::Int, 4},
                     {"hasaccess", ColumnType::Int, 4},
                     {"isntname", ColumnType::Int, 4},
                     {"isntgroup", ColumnType::Int, 4},
                     {"isntuser", ColumnType::Int, 4},
                     {"sysadmin", ColumnType::Int, 4},
                     {"loginname", ColumnType::NVarChar, 128}};
            for (const Login& l : p.logins())
                all.push_back({l.sid,
                               std::string("9"),
                               l.created,
                               l.name,
                               l.defaultDatabase,
                               {},
                               std::string("us_english"),
                               flag(false),
                               flag(!l.disabled),
                               flag(false),
                               flag(false),
                               flag(false),
                               flag(l.sysadmin),
                               l.name});
        }
        return answerRows(st, known, all, last);
    }
    const std::string name =
        from.size() >= 3 && !st.from[from.size() - 3].empty() ? st.from[from.size() - 3] : m_database;
    std::vector<DbUser> users;
    std::string created;
    {
        Catalog& catalog = *m_instance.catalog;
        std::lock_guard<std::mutex> lock(catalog.mutex());
        const Database* db = catalog.find(name);
        if (!db)
            return invalidObject(st, last);
        if (db->restoring) {
            error(927, 2, 14, restoringText(db->name));
            done(last, true);
            return true;
        }
        created = db->created.empty() ? "2003-04-08 09:13:36.390" : db->created;
        Principals& p = *m_instance.principals;
        std::lock_guard<std::mutex> plock(p.mutex());
        users = p.usersOf(*db);
    }
    // Every database has public, dbo, guest, INFORMATION_SCHEMA and sys (system_function_schema on
    // 2000), then its own users from id 5, then the fixed roles. The roles' SIDs are made up.
    struct Principal {
        std::string name;
        int id;
        char type;
        tds::Value sid;
    };
    std::vector<Principal> list = {
        {"public", 0, 'R', std::string("\x01\x05\x00\x00\x00\x00\x00\x09\x04\x00\x00\x00", 12) + "public"},
        {"dbo", 1, users[0].type, users[0].sid},
        {"guest", 2, 'S', std::string(1, '\0')},
        {"INFORMATION_SCHEMA", 3, 'S', {}},
        {is2000() ? "system_function_schema" : "sys", 4, 'S', {}}};
    for (size_t i = 1; i < users.size(); ++i)
        if (!(is2000() && (users[i].type == 'C' || users[i].type == 'K' || !users[i].instanceUser())))
            list.push_back({users[i].name, int(4 + i), users[i].type, users[i].sid});
    for (const auto& [role, id] : kDatabaseRoles)
        list.push_back(
            {role, id, 'R', std::string("\x01\x05\x00\x00\x00\x00\x00\x09\x04\x00\x00\x00", 12) + role});
    auto instance = [&](const Principal& pr) {
        return pr.id == 1 ||
               (pr.id > 4 && pr.id < 16384 && pr.sid && DbUser{pr.name, pr.type, *pr.sid}.instanceUser());
    };
    if (databasePrincipals) {
        known = {{"name", ColumnType::NVarChar, 128, 0, false},
                 {"principal_id", ColumnType::Int, 4, 0, false},
                 {"type", ColumnType::Char, 1, 0, false},
                 {"type_desc", ColumnType::NVarChar, 60},
                 {"default_schema_name", ColumnType::NVarChar, 128},
                 {"create_date", ColumnType::DateTime, 8, 0, false},
                 {"modify_date", ColumnType::DateTime, 8, 0, false},
                 {"owning_principal_id", ColumnType::Int, 4},
                 {"sid", ColumnType::VarBinary, 85},
                 {"is_fixed_role", ColumnType::Bit, 1, 0, false}};
        if (from2012) {
            known.push_back({"authentication_type", ColumnType::Int, 4, 0, false});
            known.push_back({"authentication_type_desc", ColumnType::NVarChar, 60});
        }
        for (const Principal& pr : list) {
            const bool role = pr.type == 'R';
            all.push_back(
                {pr.name, std::to_string(pr.id), std::string(1, pr.type), std::string(typeDesc(pr.type)),
                 role ? tds::Value() : tds::Value(pr.id == 1 || pr.id > 4 ? "dbo" : pr.name), created,
                 created, role ? tds::Value("1") : tds::Value(), pr.sid, flag(role && pr.id >= 16384)});
            if (from2012) {
                const int auth = !instance(pr) ? 0 : pr.type == 'U' || pr.type == 'G' ? 3 : 1;
                all.back().push_back(std::to_string(auth));
                all.back().push_back(std::string(auth == 0 ? "NONE" : auth == 3 ? "WINDOWS" : "INSTANCE"));
            }
        }
    } else {
        known = {{"uid", ColumnType::SmallInt, 2},
                 {"status", ColumnType::SmallInt, 2},
                 {"name", ColumnType::NVarChar, 128, 0, false},
                 {"sid", ColumnType::VarBinary, 85},
                 {"gid", ColumnType::SmallInt, 2},
                 {"hasdbaccess", ColumnType::Int, 4},
                 {"islogin", ColumnType::Int, 4},
                 {"isntname", ColumnType::Int, 4},
                 {"isntgroup", ColumnType::Int, 4},
                 {"isntuser", ColumnType::Int, 4},
                 {"issqluser", ColumnType::Int, 4},
                 {"isaliased", ColumnType::Int, 4},
                 {"issqlrole", ColumnType::Int, 4},
                 {"isapprole", ColumnType::Int, 4}};
        for (const Principal& pr : list) {
            const bool role = pr.type == 'R', windows = pr.type == 'U' || pr.type == 'G';
            const bool user = pr.type == 'S' && (pr.id == 1 || pr.id == 2 || pr.id > 4);
            all.push_back({std::to_string(pr.id), std::string(role ? "0" : "2"), pr.name,
                           role ? tds::Value() : pr.sid, std::string("0"),
                           flag(!role && pr.id != 2 && pr.id != 3 && pr.id != 4), flag(user || windows),
                           flag(windows), flag(pr.type == 'G'), flag(pr.type == 'U'), flag(user), flag(false),
                           flag(role), flag(false)});
        }
    }
    return answerRows(st, known, all, last);
}
