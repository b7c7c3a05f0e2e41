// The rows a WHERE keeps: every condition, joined by AND, compared as SQL Server compares the
// column's type (text by the server's collation, numbers by value, LIKE by its pattern).
#pragma once

#include "SqlReader.h"
#include "TdsWriter.h"

#include <functional>
#include <string>
#include <vector>

namespace where {

struct Test {
    size_t column = 0;
    std::string op;
    std::string value;
    bool never = false; // DB_ID of a name the server does not have is NULL, which nothing equals
};

// DB_ID(name): the database's id, or 0 for a name the server does not have.
using DbIdLookup = std::function<int(const std::string& name)>;

// False, with the condition's column in badColumn, when a condition names a column known lacks.
bool prepare(const std::vector<tds::Column>& known, const std::vector<tsql::Statement::Condition>& conditions,
             const DbIdLookup& dbId, std::vector<Test>& tests, std::string& badColumn);
bool keeps(const std::vector<tds::Column>& known, const std::vector<Test>& tests,
           const std::vector<tds::Value>& row);

} // namespace where
