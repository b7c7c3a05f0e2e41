// A held database: a plain ODBC session that has USEd it and asks `SELECT 1` now and then. A session
// the server ended (ROLLBACK IMMEDIATE, KILL) fails its next statement; a broken link fails too, so
// a holder whose link the world broke is replaced, not counted.
#include "Holders.h"

#include "PlainOdbc.h"
#include "SqlQuote.h"

#include <QDir>
#include <QSet>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace explore {

namespace {
const int kMaxHeld = 3;

// This process's sockets connected to `port` on this computer.
QSet<int> socketsTo(int port) {
    QSet<int> out;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& entry : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        const int fd = entry.toInt();
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.ss_family == AF_INET &&
            ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port) == port)
            out.insert(fd);
    }
    return out;
}
} // namespace

// The connection is made in the base class; the sockets to the port that are new after it are its own.
class SocketsBefore {
protected:
    explicit SocketsBefore(int port) : m_before(socketsTo(port)) {}
    QSet<int> m_before;
};

class HeldDatabase : private SocketsBefore, public PlainOdbc {
public:
    HeldDatabase(int server, int port, int version, const QString& database)
        : SocketsBefore(port), PlainOdbc(port, version == 2000 ? QStringLiteral("7.1") : QStringLiteral("7.4")),
          server(server), port(port), version(version), database(database),
          sockets(socketsTo(port) - m_before) {
        // A statement that would wait for a stopped server gives up instead of holding the explorer.
        SQLSetStmtAttr(m_stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(5)), 0);
        held = connected() && exec(QStringLiteral("USE ") + sqlquote::name(database));
    }
    bool exec(const QString& statement) {
        const std::u16string text = statement.toStdU16String();
        SQLRETURN rc = SQLExecDirectW(m_stmt, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.c_str())),
                                      SQLINTEGER(text.size()));
        bool ok = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
        while (ok && SQL_SUCCEEDED(rc = SQLMoreResults(m_stmt)))
            ;
        SQLFreeStmt(m_stmt, SQL_CLOSE);
        return ok;
    }
    bool alive() { return exec(QStringLiteral("SELECT 1")); }

    const int server, port, version;
    const QString database;
    const QSet<int> sockets;
    bool held = false;
};

Holders::Holders() = default;
Holders::~Holders() = default;

bool Holders::hold(int server, int port, int version, const QString& database) {
    auto held = std::make_unique<HeldDatabase>(server, port, version, database);
    if (!held->held)
        return false;
    if (int(m_held.size()) >= kMaxHeld)
        m_held.erase(m_held.begin());
    m_held.push_back(std::move(held));
    return true;
}

int Holders::countEnded(const QList<int>& skip) {
    int ended = 0;
    for (auto it = m_held.begin(); it != m_held.end();) {
        if (skip.contains((*it)->server) || (*it)->alive()) {
            ++it;
            continue;
        }
        ++ended;
        it = m_held.erase(it);
    }
    return ended;
}

void Holders::reconnect(const QList<int>& ports, const QList<int>& skip) {
    for (auto& h : m_held) {
        if (skip.contains(h->server) || h->alive())
            continue;
        auto again = std::make_unique<HeldDatabase>(h->server, ports.value(h->server), h->version, h->database);
        h = std::move(again);
    }
    // A database gone meanwhile (dropped behind the back) is held by nobody any more.
    m_held.erase(std::remove_if(m_held.begin(), m_held.end(), [](const auto& h) { return !h->held; }),
                 m_held.end());
}

QSet<int> Holders::sockets() const {
    QSet<int> out;
    for (const auto& h : m_held)
        out += h->sockets;
    return out;
}

QString Holders::describe() const {
    QStringList out;
    for (const auto& h : m_held)
        out << QStringLiteral("%1 on %2").arg(h->database, h->server ? QStringLiteral("B") : QStringLiteral("A"));
    return out.join(QStringLiteral(", "));
}

} // namespace explore
