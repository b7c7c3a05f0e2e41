// The parameters of a parameterised statement: the declaration list ("@P1 nvarchar(4000), @n int
// OUTPUT") and the values bound to it, handed to the T-SQL reader as literal tokens.
#pragma once

#include "RpcRequest.h"
#include "SqlReader.h"

#include <map>
#include <string>
#include <vector>

namespace rpc {

struct Declaration {
    std::string name; // "@p1", folded to lower case: variable names are case-insensitive
    std::string type; // base type in lower case: "nvarchar", "int", ...
    bool output = false;
};

// False when the list does not read as declarations.
bool parseDeclarations(const std::string& text, std::vector<Declaration>& out);

class Bindings {
public:
    // Values after the fixed parameters: named ones by name, the others in declaration order.
    // Returns the variable a declaration waits for, "" when all are bound; `tooMany` is set when
    // more values came than were declared.
    std::string bind(const std::vector<Declaration>& declarations, const std::vector<Param>& values,
                     bool& tooMany);

    bool literal(const std::string& variable, tsql::Token& token) const;
    tsql::VariableValues hook() const {
        return [this](const std::string& variable, tsql::Token& token) { return literal(variable, token); };
    }

private:
    struct Bound {
        std::string type;
        Value value;
    };
    std::map<std::string, Bound> m_values;
};

} // namespace rpc
