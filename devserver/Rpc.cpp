#include "Rpc.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

enum ProcId : uint16_t {
    ExecuteSql = 10,
    Prepare = 11,
    Execute = 12,
    PrepExec = 13,
    Unprepare = 15,
};

const char* procedureName(uint16_t id) {
    static const char* const names[] = {"",
                                        "sp_cursor",
                                        "sp_cursoropen",
                                        "sp_cursorprepare",
                                        "sp_cursorexecute",
                                        "sp_cursorprepexec",
                                        "sp_cursorunprepare",
                                        "sp_cursorfetch",
                                        "sp_cursoroption",
                                        "sp_cursorclose",
                                        "sp_executesql",
                                        "sp_prepare",
                                        "sp_execute",
                                        "sp_prepexec",
                                        "sp_prepexecrpc",
                                        "sp_unprepare"};
    return id < sizeof names / sizeof names[0] ? names[id] : "";
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "master.sys.sp_executesql", "[dbo].[x]" -> the procedure's own name.
std::string bareName(const std::string& name) {
    std::string last = name;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        last = name.substr(dot + 1);
    if (last.size() >= 2 && last.front() == '[' && last.back() == ']')
        last = last.substr(1, last.size() - 2);
    return last;
}

std::vector<uint8_t> intValue(int32_t v) {
    return {4, uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(uint32_t(v) >> 24)};
}

// A leading parameter of a special procedure. Called by id, SQL Server takes the leading ones by
// position whatever the client names them (one widely used client names sp_executesql's statement
// @statement); called by name, the one given by that name, else an unnamed one at its position.
const rpc::Param* fixed(const rpc::Call& call, size_t position, const char* name) {
    if (call.procId)
        return position < call.params.size() ? &call.params[position] : nullptr;
    for (const rpc::Param& p : call.params)
        if (lower(p.name) == name)
            return &p;
    if (position < call.params.size() && call.params[position].name.empty())
        return &call.params[position];
    return nullptr;
}

// The statement's values: every parameter the leading ones did not take, in the order they came.
std::vector<rpc::Param> valuesBesides(const rpc::Call& call, std::initializer_list<const rpc::Param*> taken) {
    std::vector<rpc::Param> values;
    for (const rpc::Param& p : call.params)
        if (std::find(taken.begin(), taken.end(), &p) == taken.end())
            values.push_back(p);
    return values;
}

} // namespace

void RpcRunner::error(int number, int state, const std::string& text, const std::string& procedure) {
    m_out.message(true, number, state, 16, text, m_instance.serverName, procedure, 1);
}

bool RpcRunner::run(const std::vector<rpc::Call>& calls) {
    for (size_t i = 0; i < calls.size(); ++i)
        if (!call(calls[i], i + 1 == calls.size()))
            return false;
    // A procedure that ended the reply itself (see callByName) has nothing left to send.
    return !m_out.pending() || m_out.flush(true);
}

bool RpcRunner::refuse(const rpc::BadParameter& bad) {
    char type[8];
    std::snprintf(type, sizeof type, "0x%02X", bad.type);
    const std::string start =
        "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream is "
        "incorrect. Parameter " +
        std::to_string(bad.ordinal) + " (\"" + bad.name + "\"): Data type " + type;
    if (bad.number == 8009)
        error(8009, 1, start + " is unknown.", "");
    else
        error(8016, 30, start + " has an invalid data length or metadata length.", "");
    m_out.done(tds::DoneError, 0xE0, 0, 0xFE);
    return m_out.flush(true);
}

// A declaration list that does not read, as SQL Server words the syntax error.
void RpcRunner::syntaxError(const std::string& near) {
    if (is2000())
        error(170, 1, "Line 1: Incorrect syntax near '" + near + "'.", "");
    else
        error(102, 1, "Incorrect syntax near '" + near + "'.", "");
}

// RETURNSTATUS, the output parameters (a new handle in place of the one passed in), DONEPROC.
void RpcRunner::finish(const rpc::Call& call, bool last, int32_t handle, bool returnStatus) {
    const int failed = m_out.firstError();
    if (returnStatus)
        m_out.returnStatus(failed);
    for (size_t i = 0; i < call.params.size(); ++i) {
        const rpc::Param& p = call.params[i];
        if (!p.output())
            continue;
        if (handle != 0 && i == 0)
            m_out.returnValue(uint16_t(i), p.name, {0x26, 4}, intValue(handle));
        else
            m_out.returnValue(uint16_t(i), p.name, p.typeInfo, p.valueBytes);
    }
    uint16_t status = last ? tds::DoneFinal : tds::DoneMore;
    if (failed)
        status |= tds::DoneError;
    m_out.done(status, 0, 0, 0xFE);
}

bool RpcRunner::execute(const std::string& procedure, const std::string& declarationText,
                        const std::string& statement, const std::vector<rpc::Param>& values) {
    std::vector<rpc::Declaration> declarations;
    if (!rpc::parseDeclarations(declarationText, declarations)) {
        syntaxError(declarationText);
        return true;
    }
    rpc::Bindings bindings;
    bool tooMany = false;
    const std::string missing = bindings.bind(declarations, values, tooMany);
    if (tooMany) {
        error(8144, 2, "Procedure or function " + procedure + " has too many arguments specified.",
              procedure);
        return true;
    }
    if (!missing.empty()) {
        const std::string query = "(" + declarationText + ")" + statement;
        error(8178, 1,
              is2000() ? "Prepared statement '" + query + "' expects parameter " + missing +
                             ", which was not supplied."
                       : "The parameterized query '" + query + "' expects the parameter '" + missing +
                             "', which was not supplied.",
              "");
        return true;
    }
    const tsql::VariableValues hook = bindings.hook();
    m_out.setInsideProcedure(true);
    Engine engine(m_instance, m_out, m_session, m_database);
    const bool keep = engine.runBatch(statement, &hook);
    m_out.setInsideProcedure(false);
    return keep;
}

bool RpcRunner::call(const rpc::Call& call, bool last) {
    m_out.clearErrors();
    const std::string name = call.procId ? procedureName(call.procId) : lower(bareName(call.procName));
    const uint16_t id = call.procId               ? call.procId
                        : name == "sp_executesql" ? ExecuteSql
                        : name == "sp_prepare"    ? Prepare
                        : name == "sp_execute"    ? Execute
                        : name == "sp_prepexec"   ? PrepExec
                        : name == "sp_unprepare"  ? Unprepare
                                                  : 0;
    auto needText = [&](const rpc::Param* p, const char* parameter) {
        if (p && (p->isString() || p->value.kind == rpc::Value::Null))
            return true;
        error(214, 201,
              std::string("Procedure expects parameter '") + parameter + "' of type 'ntext/nchar/nvarchar'.",
              name);
        return false;
    };
    auto handleOf = [&](const rpc::Param* p, int32_t& handle) {
        handle = p && p->value.kind == rpc::Value::Integer ? int32_t(p->value.integer) : 0;
        if (m_prepared.count(handle))
            return true;
        error(8179, 4, "Could not find prepared statement with handle " + std::to_string(handle) + ".", name);
        return false;
    };

    switch (id) {
    case ExecuteSql: {
        const rpc::Param* statement = fixed(call, 0, "@stmt");
        if (!needText(statement, "@statement"))
            break;
        const rpc::Param* params = fixed(call, 1, "@params");
        if (params && !needText(params, "@params"))
            break;
        if (!execute(name, params ? params->value.text : "", statement->value.text,
                     valuesBesides(call, {statement, params})))
            return false;
        break;
    }
    case Prepare:
    case PrepExec: {
        const rpc::Param* params = fixed(call, 1, "@params");
        const rpc::Param* statement = fixed(call, 2, "@stmt");
        if (!needText(params, "@params") || !needText(statement, "@stmt"))
            break;
        Prepared prepared{params->value.text, {}, statement->value.text};
        if (!rpc::parseDeclarations(prepared.declarationText, prepared.declarations)) {
            syntaxError(prepared.declarationText);
            break;
        }
        const int32_t handle = m_nextHandle++;
        m_prepared[handle] = prepared;
        if (id == PrepExec && !execute(name, prepared.declarationText, prepared.statement,
                                       valuesBesides(call, {fixed(call, 0, "@handle"), params, statement})))
            return false;
        finish(call, last, handle);
        return true;
    }
    case Execute: {
        int32_t handle = 0;
        const rpc::Param* handleParam = fixed(call, 0, "@handle");
        if (!handleOf(handleParam, handle))
            break;
        const Prepared prepared = m_prepared[handle];
        if (!execute(name, prepared.declarationText, prepared.statement, valuesBesides(call, {handleParam})))
            return false;
        break;
    }
    case Unprepare: {
        int32_t handle = 0;
        if (handleOf(fixed(call, 0, "@handle"), handle))
            m_prepared.erase(handle);
        break;
    }
    default:
        return callByName(name.empty() ? call.procName : bareName(call.procName), call, last);
    }
    finish(call, last, 0);
    return true;
}

// Any other procedure runs as EXEC would run it, its parameters bound as the arguments.
bool RpcRunner::callByName(const std::string& name, const rpc::Call& call, bool last) {
    // The procedures a client calls by name: sp_detach_db with its named parameters, and the file
    // procedures (xp_fileexist, xp_dirtree), whose arguments go by position.
    struct Procedure {
        const char* name;
        std::vector<rpc::Declaration> parameters;
        bool byPosition;
    };
    static const Procedure kProcedures[] = {
        {"sp_detach_db",
         {{"@dbname", "sysname", false}, {"@skipchecks", "nvarchar", false},
          {"@keepfulltextindexfile", "nvarchar", false}},
         false},
        {"xp_fileexist", {{"@filename", "nvarchar", false}}, true},
        {"xp_dirtree", {{"@directory", "nvarchar", false}, {"@depth", "int", false}, {"@file", "int", false}},
         true},
    };
    const Procedure* procedure = nullptr;
    for (const Procedure& p : kProcedures)
        if (lower(name) == p.name)
            procedure = &p;
    if (!procedure) {
        error(2812, 62, "Could not find stored procedure '" + name + "'.", "");
        finish(call, last, 0, false);
        return true;
    }
    const std::vector<rpc::Declaration>& declarations = procedure->parameters;
    rpc::Bindings bindings;
    bool tooMany = false;
    bindings.bind(declarations, call.params, tooMany);
    if (tooMany) {
        error(8144, 2, "Procedure or function " + name + " has too many arguments specified.", name);
        finish(call, last, 0, false);
        return true;
    }
    std::string statement = std::string("EXEC ") + procedure->name;
    tsql::Token probe;
    bool first = true;
    for (const rpc::Declaration& d : declarations) {
        const std::string p = d.name;
        if (!bindings.literal(p, probe)) {
            if (procedure->byPosition)
                break;
            continue;
        }
        statement += std::string(first ? " " : ", ") + (procedure->byPosition ? p : p + " = " + p);
        first = false;
    }
    // The procedure writes its own RETURNSTATUS and DONEPROC; only a later call keeps the reply open.
    const tsql::VariableValues hook = bindings.hook();
    m_out.setInsideProcedure(!last);
    Engine engine(m_instance, m_out, m_session, m_database);
    const bool keep = engine.runBatch(statement, &hook);
    m_out.setInsideProcedure(false);
    return keep;
}
