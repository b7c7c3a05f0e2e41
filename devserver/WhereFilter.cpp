#include "WhereFilter.h"

#include "Catalog.h"
#include "EngineHelpers.h"

#include <cstdlib>

namespace where {

bool prepare(const std::vector<tds::Column>& known, const std::vector<tsql::Statement::Condition>& conditions,
             const DbIdLookup& dbId, std::vector<Test>& tests, std::string& badColumn) {
    tests.clear();
    for (const tsql::Statement::Condition& c : conditions) {
        Test test;
        test.column = known.size();
        for (size_t k = 0; k < known.size() && test.column == known.size(); ++k)
            if (engine::lower(known[k].name) == engine::lower(c.column))
                test.column = k;
        if (test.column == known.size()) {
            badColumn = c.column;
            return false;
        }
        test.op = c.op;
        test.value = c.value;
        if (c.function == "db_id") {
            const int id = dbId(c.value);
            test.never = id == 0;
            test.value = std::to_string(id);
        }
        tests.push_back(test);
    }
    return true;
}

bool keeps(const std::vector<tds::Column>& known, const std::vector<Test>& tests,
           const std::vector<tds::Value>& row) {
    for (const Test& test : tests) {
        if (test.never || !row[test.column])
            return false;
        // = ignores trailing blanks, as in SQL Server (2000's nchar names are padded with them).
        std::string v = *row[test.column];
        if (test.op != "like")
            while (!v.empty() && v.back() == ' ')
                v.pop_back();
        const bool text = known[test.column].type == tds::ColumnType::NVarChar ||
                          known[test.column].type == tds::ColumnType::NChar ||
                          known[test.column].type == tds::ColumnType::VarChar ||
                          known[test.column].type == tds::ColumnType::Char;
        if (test.op == "like") {
            if (!engine::like(v, test.value))
                return false;
        } else if (text ? !Catalog::sameName(v, test.value)
                        : std::atoll(v.c_str()) != std::atoll(test.value.c_str())) {
            return false;
        }
    }
    return true;
}

} // namespace where
