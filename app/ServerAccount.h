// Who the server runs as on this computer: the owner of the socket it listens on, read from the
// kernel's socket tables (/proc/net/tcp and tcp6), which every user may read.
//
//   ServerAccount account = serverAccount(host, port);
//   if (account.known) ... account.uid, account.name ("mssql") ...
//   else ... say "обліковий запис служби сервера" ...
//
// Unknown is the honest answer for a server on another machine, for nothing listening on that
// address and port here, and for a socket owned by root: on this computer that is a container's
// port forwarder (docker-proxy), not the account the server's files are opened with.
#pragma once

#include <QString>

#include <sys/types.h>

struct ServerAccount {
    bool known = false;
    uid_t uid = 0;
    QString name; // the account's user name; its number as text when it has none
};

// host as the connection reaches it (a name, "127.0.0.1", "::1"); port the TCP port it connects
// to. procNet is where tcp and tcp6 are read (tests hand a folder of their own). Never throws.
ServerAccount serverAccount(const QString& host, quint16 port,
                            const QString& procNet = QStringLiteral("/proc/net"));

// The owner of a LISTEN socket bound to address (IPv4 or IPv6 text) or to every address of its
// family, in the tables below procNet; -1 when there is none. Exposed for tests.
qint64 listenerUid(const QString& address, quint16 port,
                   const QString& procNet = QStringLiteral("/proc/net"));

// Whether address is one of this computer's own (loopback or an interface's address).
bool isLocalAddress(const QString& address);
