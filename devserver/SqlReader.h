// Reads a T-SQL batch into the statements the stand-in understands. A batch that does not parse is
// refused whole, as SQL Server refuses it, before any statement runs.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tsql {

struct Token {
    enum Kind { Word, Ident, String, Number, Variable, Symbol, End } kind = End;
    std::string text; // decoded: brackets, quotes and doubled quotes removed
    bool national = false;
    int line = 1;
};

// A refusal at parse time: 102, 156, 105, 1038 and the like, with the value for the message slot.
struct SyntaxError {
    int number;
    int state;
    int cls;
    std::string near;
    int line;
    // 105 follows a 102 when the batch also holds an unclosed string.
    std::string unclosedTail;
    bool hasUnclosed = false;
};

struct Statement {
    enum Kind {
        Use,
        Select,
        CreateDatabase,
        Exec,
        DropDatabase,
        Backup,
        RestoreFileList,
        RestoreHeaderOnly,
        RestoreDatabase,
        RestoreVerifyOnly,
        CheckPrimaryFile, // DBCC CHECKPRIMARYFILE (path in disk, option in file)
        AlterDatabase,    // ALTER DATABASE name SET SINGLE_USER | RESTRICTED_USER | MULTI_USER
        // Principals (2005 on): name is the login, user or database; args/argNames hold the WITH
        // options by their lower-case names ("password", "sid", "login", …) and, for ALTER
        // AUTHORIZATION ON DATABASE::name TO principal, the principal as "to".
        CreateLogin,
        AlterUser,
        AlterAuthorization,
        Set,
    } kind = Set;

    std::string name;                  // database or procedure name
    std::vector<std::string> names;    // DROP DATABASE a, b
    std::vector<std::string> args;     // EXEC arguments, in order
    std::vector<std::string> argNames; // "@dbname" or "" per argument

    // SELECT
    std::vector<std::string> columns; // as written, "@@version", "name", "*", "'x'"
    std::vector<std::string> aliases; // per column: its AS name, or ""
    std::vector<std::string> casts;   // per column: the type CAST turns it into ("nvarchar(128)"), or ""
    std::vector<std::string> from;    // qualified name parts
    bool fromCall = false;            // FROM names a table-valued function: sys.dm_os_file_exists(…)
    std::vector<std::string> fromArgs; // its arguments, as literals
    std::string whereColumn;
    std::string whereOp; // "=" or "like"
    std::string whereValue;
    std::string whereFunction;        // "db_id" when the value is DB_ID(N'…'); the argument is whereValue
    bool whereNumber = false;         // the value was a number literal
    // Every condition of WHERE, joined by AND; the first is also the where… fields above.
    struct Condition {
        std::string column, op, value, function;
        bool number = false;
    };
    std::vector<Condition> where;
    std::vector<std::string> orderBy; // ORDER BY columns, ascending

    // CREATE DATABASE
    struct FileSpec {
        std::string name;      // NAME =, empty when left out
        std::string fileName;  // FILENAME =
        long long size = -1;   // SIZE = in bytes; -1 when left out
        std::string filegroup; // FILEGROUP the spec follows; empty for PRIMARY and for log files
    };
    std::vector<std::string> dataFiles; // FILENAME values of ON
    std::vector<std::string> logFiles;  // FILENAME values of LOG ON
    std::vector<FileSpec> dataSpecs;    // the ON list in order (with FOR ATTACH it may hold logs too)
    std::vector<FileSpec> logSpecs;     // the LOG ON list
    bool forAttach = false;
    bool rebuildLog = false; // FOR ATTACH_REBUILD_LOG (forAttach is set too)

    // BACKUP / RESTORE
    std::string disk;
    std::vector<std::pair<std::string, std::string>> moves; // logical -> physical
    bool replace = false;
    bool init = false;
    int file = 0; // FILE = n; 0 when not given (the first set)
    std::string backupName;
    std::string backupDescription;
    int stats = 0; // 0: no progress messages
    bool checksum = false; // WITH CHECKSUM (from 2005; SQL Server 2000 does not know the word)
    bool copyOnly = false; // WITH COPY_ONLY (from 2005): no base for later differential backups
    bool noInfoMessages = false; // DBCC … WITH NO_INFOMSGS

    // ALTER DATABASE … SET
    std::string userAccess;  // "single_user", "restricted_user" or "multi_user"
    std::string termination; // "rollback immediate", "rollback after", "no_wait" or "" (wait)
    int line = 1;
};

// The value of a @variable as a literal token (kind, text, national); false when it is not bound.
using VariableValues = std::function<bool(const std::string& variable, Token& literal)>;

std::vector<Token> tokenize(const std::string& batch, SyntaxError* unclosed);
// The statements SQL Server 2000 knows are a subset of the later versions'.
enum class Dialect { Sql2005, Sql2000 };
std::vector<Statement> parse(const std::string& batch,
                             Dialect dialect = Dialect::Sql2005); // throws SyntaxError
// The same, with each bound @variable turned into a literal token before the statements are read:
// values never become statement text.
std::vector<Statement> parse(const std::string& batch, const VariableValues& values,
                             Dialect dialect = Dialect::Sql2005);

} // namespace tsql
