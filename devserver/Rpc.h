// Answers remote procedure calls: sp_executesql, sp_prepare, sp_execute, sp_prepexec and
// sp_unprepare run the statements the stand-in understands with their parameters bound as values;
// other procedures are called as a batch would call them. Prepared handles live as long as the
// session.
#pragma once

#include "Engine.h"
#include "RpcParams.h"
#include "RpcRequest.h"

#include <map>
#include <string>
#include <vector>

class RpcRunner {
public:
    RpcRunner(Instance& instance, tds::Writer& out, int session, std::string& database)
        : m_instance(instance), m_out(out), m_session(session), m_database(database) {}

    // Writes the whole reply to one request. False when the connection must be dropped.
    bool run(const std::vector<rpc::Call>& calls);
    // The reply to a request with a parameter SQL Server refuses while reading it.
    bool refuse(const rpc::BadParameter& bad);

private:
    struct Prepared {
        std::string declarationText;
        std::vector<rpc::Declaration> declarations;
        std::string statement;
    };

    bool call(const rpc::Call& call, bool last);
    // Runs a parameterised statement inside the procedure; the caller writes the procedure's end.
    bool execute(const std::string& procedure, const std::string& declarationText,
                 const std::string& statement, const std::vector<rpc::Param>& values);
    bool callByName(const std::string& name, const rpc::Call& call, bool last);
    void finish(const rpc::Call& call, bool last, int32_t handle, bool returnStatus = true);
    void error(int number, int state, const std::string& text, const std::string& procedure);
    void syntaxError(const std::string& near);
    bool is2000() const { return m_instance.personality.is2000(); }

    Instance& m_instance;
    tds::Writer& m_out;
    int m_session;
    std::string& m_database;
    std::map<int32_t, Prepared> m_prepared;
    int32_t m_nextHandle = 1;
};
