// Other programs connected to the servers: each a plain ODBC connection of its own that has USEd a
// database and keeps it open, as an application or a colleague's query window does. The explorer
// asks each after a step whether the server ended it, to count sessions ended against the Yes
// answers the user gave.
#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <memory>

namespace explore {

class HeldDatabase;

class Holders {
public:
    Holders();
    ~Holders();
    // Another program connects to the server on `port` (0 A, 1 B) and USEs `database`; false when
    // it could not (no such database, a server that refuses). At most a few at a time: the oldest
    // goes first.
    bool hold(int server, int port, int version, const QString& database);
    // Asks every holder on a server that answers whether its session still lives; returns how many
    // the server ended since the last call. Holders of servers in `skip` are not asked this time.
    int countEnded(const QList<int>& skip = {});
    // Holders whose connection broke for a reason of the world's (a restart, a cut) connect again.
    void reconnect(const QList<int>& ports, const QList<int>& skip = {});
    int size() const { return int(m_held.size()); }
    QString describe() const;
    // The holders' own sockets, which the world's cutting of Zelvaro's connections leaves alone.
    QSet<int> sockets() const;

private:
    std::vector<std::unique_ptr<HeldDatabase>> m_held;
};

} // namespace explore
