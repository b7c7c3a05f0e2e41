#include "AdoQuery.h"

#include "OdbcDiagnostics.h"
#include "RoundTrip.h"
#include "RowBlocks.h"
#include "ServerError.h"

#include <memory>
#include <optional>
#include <vector>

namespace {

// The connection's statement handle for one statement: its cursor is closed when the statement
// is done, ready for the next. Released (left alone) when the connection goes, which frees it.
struct StatementInUse {
    SQLHSTMT h = nullptr;
    ~StatementInUse() {
        if (h)
            SQLFreeStmt(h, SQL_CLOSE);
    }
    void release() { h = nullptr; }
};

// Setting up a block read costs about as much as reading a few dozen values one by one.
const int kRowsBeforeBlocks = 64;
// How long after a failed statement's reply the server's closing of the link is waited for: it
// closes at once, so only a link that stays up (every other failure) waits this long.
const int kSessionEndMillis = 50;

// Appends the cell to the row's cells; NULL reads as an empty text.
void readCell(SQLHSTMT stmt, SQLUSMALLINT column, FlatStrings& cells) {
    SQLWCHAR buffer[256]; // longer values come in several pieces
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA || indicator == SQL_NULL_DATA || !SQL_SUCCEEDED(rc))
            break;
        const int capacity = int(sizeof buffer / sizeof buffer[0]) - 1;
        const int chars =
            (indicator == SQL_NO_TOTAL || indicator / 2 > capacity) ? capacity : int(indicator / 2);
        cells.appendPiece(reinterpret_cast<const QChar*>(buffer), chars);
        // A piece that holds the whole rest ends the value whatever the return code says: FreeTDS
        // answers a sql_variant (DBCC CHECKPRIMARYFILE's values) with a warning every time, and
        // asking again would read the same value forever.
        if (rc == SQL_SUCCESS || (indicator != SQL_NO_TOTAL && indicator / 2 <= capacity))
            break;
    }
    cells.endString();
}

} // namespace

void AdoQuery::setLines(const QStringList& lines) {
    close();
    m_lines = lines;
}

void AdoQuery::addLine(const QString& line) {
    close();
    m_lines.append(line);
}

QString AdoQuery::text() const {
    qsizetype length = 0;
    for (const QString& line : m_lines)
        length += line.size() + 2;
    QString all;
    all.reserve(length);
    for (const QString& line : m_lines) {
        all += line;
        all += QLatin1String("\r\n");
    }
    return all;
}

void AdoQuery::close() {
    m_open = false;
    m_columns.clear();
    m_cells.clear();
    m_current = 0;
}

void AdoQuery::fail(const QString& message) const {
    throw DbError(m_name + QLatin1String(": ") + message);
}

void AdoQuery::requireOpen() const {
    if (!m_open)
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

namespace {
// Statements that change nothing on the server: safe to send again on a fresh connection.
bool isReadOnly(const QString& text) {
    const QStringView head = QStringView(text).trimmed();
    for (const char* readOnly : {"USE ", "SELECT ", "RESTORE FILELISTONLY"})
        if (head.startsWith(QLatin1String(readOnly), Qt::CaseInsensitive))
            return true;
    return false;
}
} // namespace

// Everything a statement's round trip touches, owned by the job: a wait given up leaves it running
// on its worker, where it ends on its own, while the statement object is used again or is gone.
struct AdoQuery::Trip {
    Trip(AdoConnection& c, StatementWatch* outerWatch, QString queryName, QString text, bool rows)
        : alive(c.keepAlive()), connection(c), watch(outerWatch ? outerWatch : &ownWatch),
          name(std::move(queryName)), sql(std::move(text)), wantRows(rows) {}

    // On the thread that waits for the server. Never throws: the outcome is kept.
    void run() noexcept;
    // Any thread: the statement is asked to stop (the driver's cancel), or not sent at all.
    void cancel() { watch->cancel(); }

    // What one statement brought back: its first rowset, its messages and how it ended.
    struct Reply {
        Result kept;
        QList<OdbcRecord> errors;
        // The server's informational messages of the statement go with its error too: they may
        // say why it failed (a log that could not be rebuilt, say) where the error only says that.
        QList<OdbcRecord> notes;
        bool linkLost = false;
        bool truncated = false;
        // A cancel cleared the diagnostics of a call before they were read: its outcome is unknown.
        bool cutByCancel = false;
    };
    // The link was found gone before the server answered anything: the statement may be sent again.
    struct LinkLostBeforeReply {
        QString message;
        QList<OdbcRecord> records;
    };
    Result sendAndRead();
    // Sends the text once on the connection's statement handle and reads its whole reply.
    Result runOnce();
    Reply readReply(SQLHSTMT stmt, SQLRETURN firstCall);
    // One result of the reply: its rows are kept when `keep`, otherwise read past.
    void readResult(SQLHSTMT stmt, bool keep, Reply& reply);
    // The diagnostics of the last driver call: messages, errors, and whether the link went.
    void collect(SQLHSTMT stmt, Reply& reply);
    // The message the statement's failure is reported with; empty when it did not fail. Also
    // notices a link that died without saying so.
    QString firstErrorOf(Reply& reply) const;
    [[noreturn]] void fail(const QString& message) const {
        throw DbError(name + QLatin1String(": ") + message);
    }

    // Keeps a connection owned by a shared pointer alive for a job left running.
    const std::shared_ptr<AdoConnection> alive;
    AdoConnection& connection;
    // Lets the statement be cancelled from the window when nobody else follows it. Declared before
    // `watch`, which may point at it; joined (destroyed) after the statement has let it go.
    StatementWatch ownWatch;
    StatementWatch* const watch;
    const QString name;
    const QString sql;
    const bool wantRows;
    // The outcome, read once the job has ended.
    QStringList messages;
    Result result;
    std::optional<DbError> failure;
};

void AdoQuery::Trip::run() noexcept {
    try {
        result = sendAndRead();
    } catch (const DbError& e) {
        failure = e;
    } catch (const std::exception& e) {
        failure = DbError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        failure = DbError(QStringLiteral("Unknown error"));
    }
}

AdoQuery::Result AdoQuery::run(bool wantRows) {
    close();
    m_messages.clear();
    const auto trip = std::make_shared<Trip>(m_connection, m_watch, m_name, text(), wantRows);
    if (!roundtrip::run([trip] { trip->run(); })) {
        // Given up: the server is asked to stop the statement, which ends on its worker and then
        // lets the connection go; the next round trip waits for that on its own worker.
        trip->cancel();
        throw roundtrip::givenUp();
    }
    m_messages = trip->messages;
    if (trip->failure)
        throw *trip->failure;
    return std::move(trip->result);
}

AdoQuery::Result AdoQuery::Trip::sendAndRead() {
    // One thread at a time on the connection: a statement left running by a given-up wait ends
    // first, and this thread (never the window's) waits for it.
    const AdoConnection::Hold held(connection);
    connection.ensureOpen();
    const bool readOnly = isReadOnly(sql);
    if (!readOnly)
        connection.reviveIfStale();
    try {
        return runOnce();
    } catch (const LinkLostBeforeReply& lost) {
        // The server never answered on the old link (it went away while we were idle): a statement
        // that changes nothing is sent once more on a new one; any other is reported.
        if (!readOnly)
            throw servererror::linkLost(lost.message, lost.records);
        connection.ensureOpen();
        try {
            return runOnce();
        } catch (const LinkLostBeforeReply& again) {
            throw servererror::linkLost(again.message, again.records);
        }
    }
}

namespace {
// Tells the watch when the statement is over, before its handle is closed or freed.
struct WatchedStatement {
    StatementWatch* watch = nullptr;
    ~WatchedStatement() { letGo(); }
    void letGo() {
        if (watch)
            watch->end();
        watch = nullptr;
    }
};
} // namespace

AdoQuery::Result AdoQuery::Trip::runOnce() {
    messages.clear();

    StatementInUse stmt{connection.statementHandle()};
    if (!stmt.h) {
        connection.dropBrokenLink();
        throw DbError(QStringLiteral("Cannot allocate an ODBC statement"));
    }
    WatchedStatement watched; // destroyed before stmt
    if (watch) {
        if (!watch->begin(stmt.h))
            throw DbError(QStringLiteral("Operation cancelled"));
        watched.watch = watch;
    }

    // The time-out is the statement's own: the handle is shared by every statement. A statement
    // that changes something is never given up by the client (the server may be silent until it
    // ends: a restore without STATS is, for hours); the login time-out is the connection's.
    const SQLULEN timeout = isReadOnly(sql) ? SQLULEN(connection.commandTimeout()) : 0;
    SQLSetStmtAttr(stmt.h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);
    // A cancel that came before the statement starts: it is not sent at all.
    if (watch && !watch->callStarts())
        throw DbError(QStringLiteral("Operation cancelled"));
    const SQLRETURN rc =
        SQLExecDirectW(stmt.h, const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(sql.utf16())),
                       SQLINTEGER(sql.size()));
    Reply reply = readReply(stmt.h, rc);
    connection.markUsed();

    const QString firstError = firstErrorOf(reply);
    // An error that ends the session: the server closes the link right after its reply.
    bool endedByServer = false;
    if (!firstError.isEmpty() && !reply.linkLost && connection.closedByServerWithin(kSessionEndMillis)) {
        endedByServer = true;
        watched.letGo();
        const SQLHSTMT ranOn = stmt.h;
        stmt.release();
        connection.dropBrokenLink(ranOn);
    }
    if (reply.linkLost) {
        // The handle goes with the link: the watch lets go of it first.
        watched.letGo();
        const SQLHSTMT ranOn = stmt.h;
        stmt.release();
        connection.dropBrokenLink(ranOn);
        if (!reply.kept.hasRows && messages.isEmpty())
            throw LinkLostBeforeReply{firstError, reply.errors};
    }
    if (endedByServer) {
        DbError ended = servererror::fromRecords(reply.errors + reply.notes, firstError);
        ended.setEndedConnection();
        throw ended;
    }
    if (firstError.isEmpty() && reply.cutByCancel)
        fail(QStringLiteral("Operation canceled"));
    if (!firstError.isEmpty())
        throw reply.linkLost ? servererror::linkLost(firstError, reply.errors + reply.notes)
                             : servererror::fromRecords(reply.errors + reply.notes, firstError);
    // A value longer than its column announced: never shown cut short. SQL Server's columns
    // announce their true bounds, so this speaks of a driver or server at fault.
    if (reply.truncated)
        fail(QStringLiteral("A value is longer than its column's declared size"));
    return std::move(reply.kept);
}

AdoQuery::Trip::Reply AdoQuery::Trip::readReply(SQLHSTMT stmt, SQLRETURN rc) {
    Reply reply;
    // Whether a cancel was sent while the call ran; once it has ended, no cancel touches the
    // handle until this thread delivers one, after the diagnostics are read.
    bool cancelSent = watch && watch->callEnded();
    int failures = 0;
    // Every result and message is read until the driver says there is no more: a BACKUP or RESTORE
    // whose stream is abandoned early gets cancelled by the server.
    for (;;) {
        // Only these come with messages; asking after a plain success costs a call for nothing.
        if (rc == SQL_SUCCESS_WITH_INFO || rc == SQL_ERROR) {
            const qsizetype before = reply.errors.size() + reply.notes.size() + (reply.linkLost ? 1 : 0);
            collect(stmt, reply);
            // The driver's cancel, catching the call just returned, cleared what it had to say:
            // whatever the call did is not known, and never taken for done.
            if (cancelSent && reply.errors.size() + reply.notes.size() + (reply.linkLost ? 1 : 0) == before)
                reply.cutByCancel = true;
        }
        if (rc == SQL_NO_DATA)
            break;
        if (rc == SQL_ERROR && !reply.linkLost && connection.isDead())
            reply.linkLost = true;
        // A dead link answers every further call with an error: stop there, and never spin on a
        // driver that keeps failing without moving on.
        if (rc == SQL_INVALID_HANDLE || (!SQL_SUCCEEDED(rc) && reply.linkLost) ||
            (rc == SQL_ERROR && ++failures > 64))
            break;
        if (SQL_SUCCEEDED(rc))
            readResult(stmt, wantRows && !reply.kept.hasRows, reply);
        if (watch) {
            // What the server said as it stopped ("aborted", "terminating abnormally") is the
            // statement's own last word: kept, not cleared by the next call.
            if (watch->deliverLateCancel(stmt))
                collect(stmt, reply);
            watch->callStarts(); // a cancel not delivered above is sent while the call runs
        }
        rc = SQLMoreResults(stmt);
        cancelSent = watch && watch->callEnded();
    }
    return reply;
}

void AdoQuery::Trip::readResult(SQLHSTMT stmt, bool keep, Reply& reply) {
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    if (columns <= 0)
        return;
    Result& kept = reply.kept;
    // Each column's widest text: all bounded, the rows can be read in blocks.
    std::vector<SQLULEN> widths;
    bool blockReadable = keep;
    if (keep) {
        kept.hasRows = true;
        for (SQLUSMALLINT c = 1; c <= columns; ++c) {
            SQLWCHAR name[256] = {};
            SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLDescribeColW(stmt, c, name, 255, &nameLength, &type, &size, &digits, &nullable);
            kept.columns.append(odbcdiag::fromWide(name, qMin<int>(nameLength, 255)));
            widths.push_back(rowblocks::textWidth(type, size));
            blockReadable = blockReadable && widths.back() > 0;
        }
    }
    // The first rows are read value by value; a rowset that goes on longer (the database list) is
    // read a block of rows per fetch from there, which pays only when there are many.
    SQLRETURN frc;
    int rowsRead = 0;
    while (SQL_SUCCEEDED(frc = SQLFetch(stmt))) {
        if (!keep)
            continue;
        for (SQLUSMALLINT c = 1; c <= columns; ++c)
            readCell(stmt, c, kept.cells);
        if (blockReadable && ++rowsRead == kRowsBeforeBlocks) {
            frc = rowblocks::readAll(stmt, widths, rowblocks::rowsPerBlock(widths), kept.cells,
                                     &reply.truncated);
            break;
        }
    }
    if (frc == SQL_SUCCESS_WITH_INFO || frc == SQL_ERROR)
        collect(stmt, reply);
}

void AdoQuery::Trip::collect(SQLHSTMT stmt, Reply& reply) {
    for (const OdbcRecord& r : odbcdiag::read(SQL_HANDLE_STMT, stmt)) {
        if (odbcdiag::isLinkFailure(r))
            reply.linkLost = true;
        if (odbcdiag::isInformational(r)) {
            messages.append(odbcdiag::cleanMessage(r));
            reply.notes.append(r);
            if (watch)
                watch->message(r.native, messages.last());
        } else
            reply.errors.append(r);
    }
}

QString AdoQuery::Trip::firstErrorOf(Reply& reply) const {
    const QString first = odbcdiag::errorMessage(reply.errors, QString());
    if (!first.isEmpty() && !reply.linkLost && connection.isDead())
        reply.linkLost = true;
    // FreeTDS reports a link it found closed (a server restarted since the last statement, say)
    // as a bare "Unknown error", also after it has already said the link is gone: that tells the
    // user nothing. A server that died while the statement waited for it leaves only "Unexpected
    // EOF from the server", filed as informational (01000): the statement did not end, so it failed.
    // A link that went before the server's reply may bring no error text at all: never a success.
    if (reply.linkLost && (first.isEmpty() || first == QLatin1String("Unknown error")))
        return QStringLiteral("Communication link failure: the connection to the server was lost");
    return first;
}

void AdoQuery::execute() {
    run(false);
}

void AdoQuery::openRowset() {
    Result result = run(true);
    if (!result.hasRows)
        fail(QStringLiteral("CommandText does not return a result set"));
    m_columns = result.columns;
    m_cells = std::move(result.cells);
    m_current = 0;
    m_open = true;
}

int AdoQuery::rowCount() const {
    requireOpen();
    return rows();
}

bool AdoQuery::atEnd() const {
    requireOpen();
    return m_current >= rows();
}

void AdoQuery::first() {
    requireOpen();
    m_current = 0;
}

void AdoQuery::next() {
    requireOpen();
    if (m_current < rows())
        ++m_current;
}

QString AdoQuery::field(const QString& column) const {
    requireOpen();
    const int index = m_columns.indexOf(column, 0);
    int found = index;
    if (found < 0)
        for (int i = 0; i < m_columns.size(); ++i)
            if (m_columns[i].compare(column, Qt::CaseInsensitive) == 0) {
                found = i;
                break;
            }
    if (found < 0)
        fail(QStringLiteral("Field '%1' not found").arg(column));
    return currentCell(found).toString();
}

QString AdoQuery::firstColumn() const {
    return firstColumnView().toString();
}

QStringView AdoQuery::firstColumnView() const {
    requireOpen();
    if (m_columns.isEmpty())
        fail(QStringLiteral("Field '' not found"));
    return currentCell(0);
}

QStringView AdoQuery::currentCell(int column) const {
    if (m_current >= rows())
        fail(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted"));
    return m_cells.at(qsizetype(m_current) * m_columns.size() + column);
}
