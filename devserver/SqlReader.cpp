#include "SqlReader.h"

#include "Utf.h"

#include <cctype>
#include <cstdlib>
#include <set>

namespace tsql {

namespace {

bool isIdentStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80;
}
bool isIdentPart(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '#' || c == '$' || c == '@' || c >= 0x80;
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Words SQL Server reports with 156 ("near the keyword") rather than 102.
const std::set<std::string>& reserved() {
    static const std::set<std::string> words = {
        "add",   "all",  "and",     "as",    "backup", "by",      "create",  "database", "disk",
        "drop",  "exec", "execute", "file",  "for",    "from",    "in",      "into",     "is",
        "like",  "not",  "null",    "on",    "or",     "primary", "restore", "select",   "set",
        "table", "to",   "use",     "where", "with",   "log"};
    return words;
}

const std::set<std::string>& statementStarts() {
    static const std::set<std::string> words = {"use",  "select", "create",  "exec", "execute",
                                                "drop", "backup", "restore", "set", "dbcc",
                                                "alter"};
    return words;
}

// Other statements' keywords: a batch opening with one of these is a statement the stand-in does
// not play (a syntax error here), never a call of a procedure by that name.
const std::set<std::string>& otherStatementStarts() {
    static const std::set<std::string> words = {
        "begin",      "break",       "checkpoint", "close",  "commit",     "continue",
        "deallocate", "declare",     "delete",     "deny",   "fetch",      "goto",
        "grant",     "if",         "insert",      "kill",       "merge",  "open",       "print",
        "raiserror", "readtext",   "reconfigure", "return",     "revoke", "rollback",   "save",
        "setuser",   "shutdown",   "throw",       "truncate",   "update", "updatetext", "waitfor",
        "while",     "with",       "writetext",   "bulk",       "go"};
    return words;
}

} // namespace

std::vector<Token> tokenize(const std::string& s, SyntaxError* unclosed) {
    std::vector<Token> tokens;
    int line = 1;
    size_t i = 0;
    const size_t n = s.size();
    auto quoted = [&](char close, Token::Kind kind, size_t start, bool national) {
        // start points just past the opening character
        std::string value;
        size_t j = start;
        while (j < n) {
            if (s[j] == close) {
                if (j + 1 < n && s[j + 1] == close) {
                    value += close;
                    j += 2;
                    continue;
                }
                Token t{kind, value, national, line};
                tokens.push_back(t);
                for (size_t k = start; k < j; ++k)
                    if (s[k] == '\n')
                        ++line;
                i = j + 1;
                return true;
            }
            value += s[j++];
        }
        if (unclosed && !unclosed->hasUnclosed) {
            unclosed->hasUnclosed = true;
            unclosed->unclosedTail = s.substr(start);
            unclosed->line = line;
            unclosed->number = close == '\'' ? 105 : 103;
        }
        i = n;
        return false;
    };
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\n') {
            ++line;
            ++i;
        } else if (std::isspace(c)) {
            ++i;
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            size_t end = s.find("*/", i + 2);
            end = end == std::string::npos ? n : end + 2;
            for (size_t k = i; k < end; ++k)
                if (s[k] == '\n')
                    ++line;
            i = end;
        } else if ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'') {
            quoted('\'', Token::String, i + 2, true);
        } else if (c == '\'') {
            quoted('\'', Token::String, i + 1, false);
        } else if (c == '[') {
            quoted(']', Token::Ident, i + 1, false);
        } else if (c == '"') {
            // QUOTED_IDENTIFIER is ON for ODBC sessions: "x" is an identifier.
            quoted('"', Token::Ident, i + 1, false);
        } else if (c == '@') {
            size_t j = i + 1;
            while (j < n && (s[j] == '@' || isIdentPart(static_cast<unsigned char>(s[j]))))
                ++j;
            tokens.push_back({Token::Variable, s.substr(i, j - i), false, line});
            i = j;
        } else if (c == '0' && i + 1 < n && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
            // A binary constant: 0x0105…
            size_t j = i + 2;
            while (j < n && std::isxdigit(static_cast<unsigned char>(s[j])))
                ++j;
            tokens.push_back({Token::Number, s.substr(i, j - i), false, line});
            i = j;
        } else if (std::isdigit(c)) {
            size_t j = i;
            while (j < n && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.'))
                ++j;
            tokens.push_back({Token::Number, s.substr(i, j - i), false, line});
            i = j;
        } else if (isIdentStart(c)) {
            size_t j = i;
            while (j < n && isIdentPart(static_cast<unsigned char>(s[j])))
                ++j;
            tokens.push_back({Token::Word, s.substr(i, j - i), false, line});
            i = j;
        } else {
            tokens.push_back({Token::Symbol, std::string(1, char(c)), false, line});
            ++i;
        }
    }
    tokens.push_back({Token::End, "", false, line});
    return tokens;
}

namespace {

class Parser {
public:
    Parser(std::vector<Token> tokens, SyntaxError unclosed, Dialect dialect,
           std::vector<std::string> variables = {})
        : t(std::move(tokens)), unclosed(std::move(unclosed)), variables(std::move(variables)), dialect(dialect) {
        this->variables.resize(t.size());
    }

    std::vector<Statement> statements() {
        std::vector<Statement> out;
        while (peek().kind != Token::End) {
            if (isSymbol(";")) {
                ++pos;
                continue;
            }
            out.push_back(statement());
        }
        if (unclosed.hasUnclosed) {
            SyntaxError e = unclosed;
            e.cls = 15;
            e.state = 1;
            e.near = unclosed.unclosedTail;
            throw e;
        }
        return out;
    }

private:
    const Token& peek(size_t ahead = 0) const { return t[std::min(pos + ahead, t.size() - 1)]; }
    bool isWord(const char* w, size_t ahead = 0) const {
        return peek(ahead).kind == Token::Word && lower(peek(ahead).text) == w;
    }
    bool isSymbol(const char* s) const { return peek().kind == Token::Symbol && peek().text == s; }
    // The @variable a literal token stands for, "" for a token written in the batch.
    const std::string& variable(size_t ahead = 0) const {
        return variables[std::min(pos + ahead, t.size() - 1)];
    }

    [[noreturn]] void fail() const {
        if (peek().kind == Token::End && unclosed.hasUnclosed) {
            SyntaxError e = unclosed;
            e.number = 105;
            e.state = 1;
            e.cls = 15;
            e.near = unclosed.unclosedTail;
            throw e;
        }
        const size_t atPos = peek().kind == Token::End && pos > 0 ? pos - 1 : std::min(pos, t.size() - 1);
        const Token& at = t[atPos];
        SyntaxError e{102, 1, 15, at.text, at.line, "", false};
        if (at.kind == Token::Word && reserved().count(lower(at.text)))
            e.number = 156;
        if (at.kind == Token::String)
            e.near = at.text;
        if (!variables[atPos].empty()) {
            e.number = 102;
            e.near = variables[atPos];
        }
        e.hasUnclosed = unclosed.hasUnclosed;
        e.unclosedTail = unclosed.unclosedTail;
        throw e;
    }
    void expectWord(const char* w) {
        if (!isWord(w))
            fail();
        ++pos;
    }
    void expectSymbol(const char* s) {
        if (!isSymbol(s))
            fail();
        ++pos;
    }
    // A database name: bare word or quoted identifier. [] and "" are refused as SQL Server does.
    std::string name() {
        const Token& tok = peek();
        if (tok.kind == Token::Ident) {
            if (tok.text.empty())
                throw SyntaxError{1038, 4, 15, "", tok.line, "", false};
            ++pos;
            return tok.text;
        }
        if (tok.kind == Token::Word && !reserved().count(lower(tok.text))) {
            ++pos;
            return tok.text;
        }
        fail();
    }
    std::string stringValue() {
        undeclaredVariable();
        if (peek().kind != Token::String && variable().empty())
            fail();
        return t[pos++].text;
    }
    // Where SQL Server takes a variable, one that nothing binds is a compile error of its own.
    void undeclaredVariable() const {
        const Token& tok = peek();
        if (tok.kind == Token::Variable && tok.text.rfind("@@", 0) != 0)
            throw SyntaxError{137, 2, 15, tok.text, tok.line, "", false};
    }
    // BACKUP and RESTORE take the database as a name or as a variable.
    std::string nameOrVariable() {
        undeclaredVariable();
        if (!variable().empty())
            return t[pos++].text;
        return name();
    }
    // A value SQL Server takes only as written, never from a variable (a file's FILENAME).
    std::string literalValue() {
        if (!variable().empty())
            fail();
        return value();
    }
    // A procedure argument or option value: literal, identifier, word or number.
    std::string value() {
        undeclaredVariable();
        const Token& tok = peek();
        if (tok.kind == Token::String || tok.kind == Token::Ident || tok.kind == Token::Word ||
            tok.kind == Token::Number) {
            ++pos;
            return tok.text;
        }
        fail();
    }
    std::vector<std::string> qualifiedName() {
        std::vector<std::string> parts;
        for (;;) {
            if (peek().kind != Token::Word && peek().kind != Token::Ident)
                fail();
            // [].dbo.sysindexes: an empty name is refused before anything is looked up.
            if (peek().kind == Token::Ident && peek().text.empty())
                throw SyntaxError{1038, 4, 15, "", peek().line, "", false};
            parts.push_back(t[pos++].text);
            if (!isSymbol("."))
                break;
            ++pos;
            // master..sysprocesses: the schema left out between the dots.
            while (isSymbol(".") && parts.size() < 3) {
                parts.emplace_back();
                ++pos;
            }
        }
        return parts;
    }

    Statement statement() {
        Statement st;
        st.line = peek().line;
        // A batch that opens with a bare name calls it: EXECUTE may be left out there.
        const bool opensBatch = pos == 0;
        if (opensBatch && variable().empty() &&
            ((peek().kind == Token::Word && !statementStarts().count(lower(peek().text)) &&
              !reserved().count(lower(peek().text)) && !otherStatementStarts().count(lower(peek().text))) ||
             peek().kind == Token::Ident)) {
            exec(st);
            return st;
        }
        if (peek().kind != Token::Word || !statementStarts().count(lower(peek().text)))
            fail();
        const std::string head = lower(t[pos++].text);
        if (head == "use") {
            st.kind = Statement::Use;
            st.name = name();
        } else if (head == "select") {
            select(st);
        } else if (head == "create" && dialect != Dialect::Sql2000 && isWord("login")) {
            createLogin(st);
        } else if (head == "create") {
            createDatabase(st);
        } else if (head == "exec" || head == "execute") {
            exec(st);
        } else if (head == "drop") {
            st.kind = Statement::DropDatabase;
            expectWord("database");
            st.names.push_back(name());
            while (isSymbol(",")) {
                ++pos;
                st.names.push_back(name());
            }
        } else if (head == "backup") {
            backup(st);
        } else if (head == "restore") {
            restore(st);
        } else if (head == "dbcc") {
            dbcc(st);
        } else if (head == "alter" && dialect != Dialect::Sql2000 &&
                   (isWord("user") || isWord("authorization"))) {
            alterPrincipal(st);
        } else if (head == "alter") {
            alterDatabase(st);
        } else {
            st.kind = Statement::Set;
            // SET options end at the next statement or ";".
            while (peek().kind != Token::End && !isSymbol(";") &&
                   !(peek().kind == Token::Word && statementStarts().count(lower(peek().text))))
                ++pos;
        }
        return st;
    }

    // A column name, or a function of literal arguments: SERVERPROPERTY('Collation').
    std::string functionColumn() {
        if (peek().kind != Token::Word && peek().kind != Token::Ident)
            fail();
        std::string column = t[pos++].text;
        if (isSymbol("(")) {
            ++pos;
            std::string arguments;
            while (peek().kind == Token::String || peek().kind == Token::Number) {
                arguments += (arguments.empty() ? "" : ",") +
                             (peek().kind == Token::String ? "'" + peek().text + "'" : peek().text);
                ++pos;
                if (!isSymbol(","))
                    break;
                ++pos;
            }
            expectSymbol(")");
            column += "(" + arguments + ")";
        }
        return column;
    }

    // ALTER DATABASE name SET SINGLE_USER | RESTRICTED_USER | MULTI_USER
    //     [WITH ROLLBACK IMMEDIATE | ROLLBACK AFTER n [SECONDS] | NO_WAIT]: the one ALTER played.
    void alterDatabase(Statement& st) {
        expectWord("database");
        st.kind = Statement::AlterDatabase;
        st.name = name();
        expectWord("set");
        const std::string access = peek().kind == Token::Word ? lower(peek().text) : "";
        if (access != "single_user" && access != "restricted_user" && access != "multi_user")
            fail();
        ++pos;
        st.userAccess = access;
        if (!isWord("with"))
            return;
        ++pos;
        if (isWord("no_wait")) {
            ++pos;
            st.termination = "no_wait";
            return;
        }
        expectWord("rollback");
        if (isWord("immediate")) {
            ++pos;
            st.termination = "rollback immediate";
            return;
        }
        expectWord("after");
        if (peek().kind != Token::Number)
            fail();
        ++pos;
        if (isWord("seconds"))
            ++pos;
        st.termination = "rollback after";
    }

    // option = value [, …]: the WITH list of CREATE LOGIN and ALTER USER.
    void principalOptions(Statement& st) {
        for (;;) {
            if (peek().kind != Token::Word)
                fail();
            st.argNames.push_back(lower(t[pos++].text));
            expectSymbol("=");
            st.args.push_back(value());
            if (!isSymbol(","))
                break;
            ++pos;
        }
    }

    // CREATE LOGIN name WITH PASSWORD = 'p' [, SID = 0x…] [, DEFAULT_DATABASE = db] [, CHECK_POLICY = OFF …]
    void createLogin(Statement& st) {
        expectWord("login");
        st.kind = Statement::CreateLogin;
        st.name = name();
        expectWord("with");
        principalOptions(st);
    }

    // ALTER USER name WITH LOGIN = login | ALTER AUTHORIZATION ON DATABASE::name TO principal
    void alterPrincipal(Statement& st) {
        if (isWord("user")) {
            ++pos;
            st.kind = Statement::AlterUser;
            st.name = name();
            expectWord("with");
            principalOptions(st);
            return;
        }
        expectWord("authorization");
        st.kind = Statement::AlterAuthorization;
        expectWord("on");
        expectWord("database");
        expectSymbol(":");
        expectSymbol(":");
        st.name = name();
        expectWord("to");
        st.argNames.push_back("to");
        st.args.push_back(name());
    }

    // DBCC CHECKPRIMARYFILE (N'path' [, option]) [WITH NO_INFOMSGS]: the one DBCC statement played.
    void dbcc(Statement& st) {
        expectWord("checkprimaryfile");
        st.kind = Statement::CheckPrimaryFile;
        expectSymbol("(");
        st.disk = stringValue();
        if (isSymbol(",")) {
            ++pos;
            if (peek().kind != Token::Number)
                fail();
            st.file = std::atoi(t[pos++].text.c_str());
        }
        expectSymbol(")");
        if (isWord("with")) {
            ++pos;
            expectWord("no_infomsgs");
            st.noInfoMessages = true;
        }
    }

    void select(Statement& st) {
        st.kind = Statement::Select;
        for (;;) {
            const Token& tok = peek();
            if (isSymbol("*")) {
                st.columns.push_back("*");
                ++pos;
            } else if (tok.kind == Token::Variable || tok.kind == Token::Number) {
                st.columns.push_back(lower(tok.text));
                ++pos;
            } else if (tok.kind == Token::String) {
                st.columns.push_back((tok.national ? "N'" : "'") + tok.text);
                ++pos;
            } else if (isWord("cast") && peek(1).kind == Token::Symbol && peek(1).text == "(") {
                // CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128)): the column and its new type.
                pos += 2;
                st.columns.push_back(functionColumn());
                expectWord("as");
                if (peek().kind != Token::Word)
                    fail();
                std::string type = lower(t[pos++].text);
                if (isSymbol("(")) {
                    ++pos;
                    type += "(" + lower(value()) + ")";
                    expectSymbol(")");
                }
                expectSymbol(")");
                st.casts.resize(st.columns.size());
                st.casts.back() = type;
            } else if (isWord("convert") && peek(1).kind == Token::Symbol && peek(1).text == "(") {
                // CONVERT(nvarchar(128), SERVERPROPERTY('ProductVersion')): CAST written the other way.
                pos += 2;
                if (peek().kind != Token::Word)
                    fail();
                std::string type = lower(t[pos++].text);
                if (isSymbol("(")) {
                    ++pos;
                    type += "(" + lower(value()) + ")";
                    expectSymbol(")");
                }
                expectSymbol(",");
                st.columns.push_back(functionColumn());
                expectSymbol(")");
                st.casts.resize(st.columns.size());
                st.casts.back() = type;
            } else if (tok.kind == Token::Word || tok.kind == Token::Ident) {
                st.columns.push_back(functionColumn());
            } else {
                fail();
            }
            st.aliases.resize(st.columns.size());
            if (isWord("as")) {
                ++pos;
                st.aliases.back() = value();
            } else if (peek().kind == Token::Ident ||
                       (peek().kind == Token::Word && !reserved().count(lower(peek().text)) &&
                        !statementStarts().count(lower(peek().text)) && lower(peek().text) != "order")) {
                st.aliases.back() = t[pos++].text; // an alias without AS
            }
            if (!isSymbol(","))
                break;
            ++pos;
        }
        st.casts.resize(st.columns.size());
        if (isWord("from")) {
            ++pos;
            st.from = qualifiedName();
            if (isSymbol("(")) {
                ++pos;
                st.fromCall = true;
                while (!isSymbol(")")) {
                    st.fromArgs.push_back(value());
                    if (!isSymbol(","))
                        break;
                    ++pos;
                }
                expectSymbol(")");
            }
            if (isWord("as")) {
                pos += 2;
            } else if (peek().kind == Token::Word && !reserved().count(lower(peek().text)) &&
                       !statementStarts().count(lower(peek().text)) && lower(peek().text) != "order") {
                ++pos; // a table alias
            }
        }
        if (isWord("where")) {
            // WHERE a = 1 AND b = N'x': conditions joined by AND (the default folders' fallback asks
            // for master's first file by dbid and fileid).
            do {
                ++pos;
                st.where.push_back(condition());
            } while (isWord("and"));
            const Statement::Condition& first = st.where.front();
            st.whereColumn = first.column;
            st.whereOp = first.op;
            st.whereValue = first.value;
            st.whereFunction = first.function;
            st.whereNumber = first.number;
        }
        if (isWord("order")) {
            ++pos;
            expectWord("by");
            for (;;) {
                if (peek().kind != Token::Word && peek().kind != Token::Ident)
                    fail();
                st.orderBy.push_back(t[pos++].text);
                if (isWord("asc"))
                    ++pos;
                if (!isSymbol(","))
                    break;
                ++pos;
            }
        }
    }

    // column = 1, column = N'x', column = DB_ID(N'x'), column LIKE N'x%'
    Statement::Condition condition() {
        Statement::Condition c;
        if (peek().kind != Token::Word && peek().kind != Token::Ident)
            fail();
        c.column = t[pos++].text;
        if (isSymbol("=")) {
            c.op = "=";
        } else if (isWord("like")) {
            c.op = "like";
        } else {
            fail();
        }
        ++pos;
        if (peek().kind == Token::Number) {
            c.number = true;
            c.value = t[pos++].text;
        } else if (peek().kind == Token::Word && peek(1).kind == Token::Symbol && peek(1).text == "(") {
            c.function = lower(t[pos].text);
            pos += 2;
            c.value = stringValue();
            expectSymbol(")");
        } else {
            c.value = stringValue();
        }
        return c;
    }

    // ( NAME = x, FILENAME = 'path', SIZE = 10MB, MAXSIZE = UNLIMITED, FILEGROWTH = 10% )
    Statement::FileSpec fileSpec(const std::string& filegroup) {
        expectSymbol("(");
        Statement::FileSpec spec;
        spec.filegroup = filegroup;
        for (;;) {
            if (peek().kind != Token::Word)
                fail();
            const std::string key = lower(t[pos++].text);
            expectSymbol("=");
            const bool number = peek().kind == Token::Number;
            const std::string v = literalValue();
            // Sizes take a unit (KB, MB, GB, TB; MB when left out) or, for FILEGROWTH, a percent sign.
            long long unit = 1024 * 1024;
            if (isSymbol("%")) {
                ++pos;
            } else if (peek().kind == Token::Word) {
                const std::string u = lower(peek().text);
                if (u == "kb" || u == "mb" || u == "gb" || u == "tb") {
                    unit = u == "kb" ? 1024LL : u == "mb" ? 1024LL * 1024 : u == "gb" ? 1LL << 30 : 1LL << 40;
                    ++pos;
                }
            }
            if (key == "filename")
                spec.fileName = v;
            else if (key == "name")
                spec.name = v;
            else if (key == "size" && number)
                spec.size = (long long)(std::atof(v.c_str()) * double(unit));
            if (!isSymbol(","))
                break;
            ++pos;
        }
        expectSymbol(")");
        return spec;
    }

    // ON [PRIMARY] spec, spec, FILEGROUP fg [DEFAULT] spec, spec … LOG ON spec, spec
    void createDatabase(Statement& st) {
        st.kind = Statement::CreateDatabase;
        expectWord("database");
        st.name = name();
        if (isWord("on")) {
            ++pos;
            if (isWord("primary"))
                ++pos;
            std::string group;
            for (;;) {
                if (isWord("filegroup")) {
                    ++pos;
                    group = name();
                    if (isWord("default"))
                        ++pos;
                }
                st.dataSpecs.push_back(fileSpec(group));
                st.dataFiles.push_back(st.dataSpecs.back().fileName);
                if (!isSymbol(","))
                    break;
                ++pos;
            }
        }
        if (isWord("log")) {
            ++pos;
            expectWord("on");
            for (;;) {
                st.logSpecs.push_back(fileSpec(""));
                st.logFiles.push_back(st.logSpecs.back().fileName);
                if (!isSymbol(","))
                    break;
                ++pos;
            }
        }
        if (isWord("for")) {
            ++pos;
            // SQL Server 2005 added FOR ATTACH_REBUILD_LOG; to 2000 it is an unknown word.
            if (dialect != Dialect::Sql2000 && isWord("attach_rebuild_log")) {
                st.rebuildLog = true;
                ++pos;
            } else {
                expectWord("attach");
            }
            st.forAttach = true;
        }
    }

    void exec(Statement& st) {
        st.kind = Statement::Exec;
        const auto parts = qualifiedName();
        st.name = parts.back();
        if (peek().kind == Token::End || isSymbol(";"))
            return;
        for (;;) {
            std::string argName;
            const bool named = peek(1).kind == Token::Symbol && peek(1).text == "=";
            if (peek().kind == Token::Variable && named) {
                argName = lower(t[pos++].text);
                expectSymbol("=");
            } else if (named && !variable().empty()) {
                // "@dbname = ..." where a bound parameter happens to share the argument's name
                argName = lower(variables[pos++]);
                expectSymbol("=");
            }
            st.argNames.push_back(argName);
            st.args.push_back(value());
            if (!isSymbol(","))
                break;
            ++pos;
        }
    }

    void disk(Statement& st) {
        expectWord("disk");
        expectSymbol("=");
        st.disk = stringValue();
    }

    // WITH option [= value] [, ...]; MOVE 'a' TO 'b' for restores.
    void options(Statement& st) {
        if (!isWord("with"))
            return;
        ++pos;
        for (;;) {
            if (peek().kind != Token::Word)
                fail();
            const std::string option = lower(t[pos].text);
            if (dialect == Dialect::Sql2000 &&
                (option == "checksum" || option == "no_checksum" || option == "copy_only"))
                fail(); // 2005 added backup checksums and copy-only backups
            ++pos;
            if (option == "move") {
                const std::string logical = stringValue();
                expectWord("to");
                st.moves.emplace_back(logical, stringValue());
            } else {
                std::string v;
                if (isSymbol("=")) {
                    ++pos;
                    v = value();
                }
                if (option == "replace")
                    st.replace = true;
                else if (option == "init" || option == "format")
                    st.init = true;
                else if (option == "stats")
                    st.stats = v.empty() ? 10 : std::max(1, std::atoi(v.c_str()));
                else if (option == "file")
                    st.file = std::atoi(v.c_str());
                else if (option == "name")
                    st.backupName = v;
                else if (option == "description")
                    st.backupDescription = v;
                else if (option == "checksum")
                    st.checksum = true;
                else if (option == "copy_only")
                    st.copyOnly = true;
            }
            if (!isSymbol(","))
                break;
            ++pos;
        }
    }

    void backup(Statement& st) {
        st.kind = Statement::Backup;
        expectWord("database");
        st.name = nameOrVariable();
        expectWord("to");
        disk(st);
        options(st);
    }

    void restore(Statement& st) {
        if (isWord("filelistonly")) {
            ++pos;
            st.kind = Statement::RestoreFileList;
        } else if (isWord("headeronly")) {
            ++pos;
            st.kind = Statement::RestoreHeaderOnly;
        } else if (isWord("verifyonly")) {
            ++pos;
            st.kind = Statement::RestoreVerifyOnly;
        } else {
            expectWord("database");
            st.kind = Statement::RestoreDatabase;
            st.name = nameOrVariable();
        }
        expectWord("from");
        disk(st);
        options(st);
    }

    std::vector<Token> t;
    size_t pos = 0;
    SyntaxError unclosed;
    std::vector<std::string> variables; // per token: the bound @variable it stands for, or ""
    Dialect dialect;
};

} // namespace

std::vector<Statement> parse(const std::string& batch, Dialect dialect) {
    SyntaxError unclosed{0, 0, 0, "", 0, "", false};
    auto tokens = tokenize(batch, &unclosed);
    return Parser(std::move(tokens), unclosed, dialect).statements();
}

std::vector<Statement> parse(const std::string& batch, const VariableValues& values, Dialect dialect) {
    SyntaxError unclosed{0, 0, 0, "", 0, "", false};
    auto tokens = tokenize(batch, &unclosed);
    std::vector<std::string> variables(tokens.size());
    for (size_t i = 0; i < tokens.size(); ++i) {
        Token& token = tokens[i];
        if (token.kind != Token::Variable || token.text.rfind("@@", 0) == 0)
            continue;
        Token literal;
        if (!values(token.text, literal))
            continue;
        literal.line = token.line;
        variables[i] = token.text;
        token = literal;
    }
    return Parser(std::move(tokens), unclosed, dialect, std::move(variables)).statements();
}

} // namespace tsql
