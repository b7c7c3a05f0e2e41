// The server's account from the owner of its listening socket (see ServerAccount.h).
#include "ServerAccount.h"

#include <QFile>
#include <QList>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kListen = 0x0A; // TCP_LISTEN in the tables' "st" column

// The kernel writes an address as the bytes of its 32-bit words in host order, each printed as
// one hex number: on a little-endian machine 127.0.0.1 reads "0100007F".
QByteArray addressBytes(const QByteArray& hex) {
    QByteArray bytes;
    for (int word = 0; word + 8 <= hex.size(); word += 8) {
        bool ok = false;
        const quint32 value = hex.mid(word, 8).toUInt(&ok, 16);
        if (!ok)
            return {};
        uint32_t raw = value; // the word as the kernel held it in memory
        bytes.append(reinterpret_cast<const char*>(&raw), 4);
    }
    return bytes;
}

// An address as the bytes of its family (4 or 16), from its text; empty when it is not one.
QByteArray parseAddress(const QString& text) {
    const QByteArray t = text.toLatin1();
    unsigned char buffer[16];
    if (inet_pton(AF_INET, t.constData(), buffer) == 1)
        return QByteArray(reinterpret_cast<const char*>(buffer), 4);
    if (inet_pton(AF_INET6, t.constData(), buffer) == 1)
        return QByteArray(reinterpret_cast<const char*>(buffer), 16);
    return {};
}

QByteArray bytesOf(const sockaddr* a) {
    if (a->sa_family == AF_INET)
        return QByteArray(reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in*>(a)->sin_addr),
                          4);
    if (a->sa_family == AF_INET6)
        return QByteArray(reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr),
                          16);
    return {};
}

QString textOf(const QByteArray& bytes) {
    char buffer[INET6_ADDRSTRLEN] = {};
    inet_ntop(bytes.size() == 4 ? AF_INET : AF_INET6, bytes.constData(), buffer, sizeof buffer);
    return QString::fromLatin1(buffer);
}

// An IPv4 address as a socket of the other family sees it: ::ffff:a.b.c.d.
QByteArray mapped(const QByteArray& v4) {
    QByteArray b(10, '\0');
    b.append('\xff').append('\xff');
    return b + v4;
}

// The IPv4 address inside ::ffff:a.b.c.d, or the address itself.
QByteArray unmapped(const QByteArray& a) {
    if (a.size() == 16 && a.startsWith(QByteArray(10, '\0') + "\xff\xff"))
        return a.mid(12);
    return a;
}

bool isLoopback(const QByteArray& a) {
    if (a.size() == 4)
        return quint8(a[0]) == 127;
    return a == QByteArray(15, '\0') + '\x01';
}

qint64 scan(const QString& table, const QList<QByteArray>& wanted, quint16 port) {
    QFile f(table);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    f.readLine(); // the heading
    qint64 wildcardOwner = -1;
    while (!f.atEnd()) {
        const QList<QByteArray> cols = f.readLine().simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid ...
        if (cols.size() < 8)
            continue;
        bool ok = false;
        if (cols[3].toInt(&ok, 16) != kListen || !ok)
            continue;
        const int colon = cols[1].indexOf(':');
        if (colon < 0 || cols[1].mid(colon + 1).toUInt(&ok, 16) != port || !ok)
            continue;
        const QByteArray local = addressBytes(cols[1].left(colon));
        const qint64 uid = cols[7].toLongLong(&ok);
        if (!ok)
            continue;
        if (wanted.contains(local))
            return uid;
        if (local == QByteArray(local.size(), '\0'))
            wildcardOwner = uid;
    }
    return wildcardOwner;
}

QList<QByteArray> resolve(const QString& host) {
    const QByteArray literal = parseAddress(host);
    if (!literal.isEmpty())
        return {unmapped(literal)};
    QList<QByteArray> out;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0)
        return out;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const QByteArray address = unmapped(bytesOf(a->ai_addr));
        if (!address.isEmpty() && !out.contains(address))
            out << address;
    }
    freeaddrinfo(found);
    return out;
}

QString userName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result)
        return QString::fromLocal8Bit(result->pw_name);
    return QString::number(uid);
}

} // namespace

qint64 listenerUid(const QString& address, quint16 port, const QString& procNet) {
    const QByteArray a = unmapped(parseAddress(address));
    if (a.isEmpty())
        return -1;
    if (a.size() == 4) {
        const qint64 uid = scan(procNet + QStringLiteral("/tcp"), {a}, port);
        // A server listening on IPv6 for every address takes IPv4 connections too.
        return uid >= 0 ? uid : scan(procNet + QStringLiteral("/tcp6"), {mapped(a)}, port);
    }
    return scan(procNet + QStringLiteral("/tcp6"), {a}, port);
}

bool isLocalAddress(const QString& address) {
    const QByteArray a = unmapped(parseAddress(address));
    if (a.isEmpty())
        return false;
    if (isLoopback(a))
        return true;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool local = false;
    for (ifaddrs* i = list; i && !local; i = i->ifa_next)
        if (i->ifa_addr && (i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6))
            local = unmapped(bytesOf(i->ifa_addr)) == a;
    freeifaddrs(list);
    return local;
}

ServerAccount serverAccount(const QString& host, quint16 port, const QString& procNet) {
    const QString name = host.trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : host.trimmed();
    for (const QByteArray& address : resolve(name)) {
        const QString text = textOf(address);
        if (!isLocalAddress(text))
            continue;
        const qint64 uid = listenerUid(text, port, procNet);
        if (uid < 0)
            continue;
        // Root owns a container's port forwarder; the server behind it is another account.
        if (uid == 0)
            return {};
        return {true, uid_t(uid), userName(uid_t(uid))};
    }
    return {};
}
