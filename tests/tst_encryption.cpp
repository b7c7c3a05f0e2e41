// What crosses the wire between Zelvaro's database layer and the stand-in, recorded by a proxy in
// between: from 2005 on neither the password nor a readable login packet, and with forced encryption
// nothing but TLS after the handshake; FreeTDS's tsql as a client we did not write.
#include "AdoConnection.h"
#include "AdoQuery.h"
#include "DevServer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// A loopback relay for one connection to the stand-in's port that keeps every byte each side sent.
class RecordingProxy {
public:
    explicit RecordingProxy(int targetPort) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(0);
        socklen_t length = sizeof a;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), length);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this, targetPort] { relay(targetPort); });
    }
    ~RecordingProxy() { finish(); }
    int port() const { return m_port; }
    // Waits for the connection to end; then the recordings are whole.
    void finish() {
        if (m_thread.joinable()) {
            m_thread.join();
            ::close(m_listener);
        }
    }
    QByteArray fromClient, fromServer;

private:
    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        return a;
    }
    void relay(int target) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, 20000) <= 0)
            return;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(target);
        ::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        char buffer[65536];
        for (;;) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 20000) <= 0)
                break;
            const bool up = p[0].revents != 0;
            const ssize_t n = ::recv(up ? client : server, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            (up ? fromClient : fromServer).append(buffer, int(n));
            if (::send(up ? server : client, buffer, size_t(n), MSG_NOSIGNAL) != n)
                break;
        }
        ::close(client);
        ::close(server);
    }

    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

// The password as LOGIN7 carries it: UTF-16LE, each byte's nibbles swapped, then XOR 0xA5.
QByteArray scrambled(const QString& password) {
    QByteArray bytes(reinterpret_cast<const char*>(password.utf16()), int(password.size() * 2));
    for (char& b : bytes) {
        const auto u = uint8_t(b);
        b = char(uint8_t((u << 4) | (u >> 4)) ^ 0xA5);
    }
    return bytes;
}

uint16_t be16(const QByteArray& s, int at) {
    return uint16_t(uint8_t(s[at]) << 8 | uint8_t(s[at + 1]));
}

// A readable LOGIN7 packet anywhere in the stream: a type 0x10 header whose payload begins with the
// login's own length, which is the packet's length less its header.
bool holdsClearLogin(const QByteArray& s) {
    for (int i = 0; i + 12 <= s.size(); ++i) {
        if (s[i] != 0x10 || uint8_t(s[i + 1]) > 1)
            continue;
        const uint32_t loginLength = uint8_t(s[i + 8]) | uint8_t(s[i + 9]) << 8 | uint8_t(s[i + 10]) << 16 |
                                     uint32_t(uint8_t(s[i + 11])) << 24;
        if (be16(s, i + 2) >= 94 && loginLength == uint32_t(be16(s, i + 2)) - 8)
            return true;
    }
    return false;
}

// After the clear PRELOGIN exchange and the handshake it carries (TDS packets of type 0x12, and the
// server's first answer, type 4), the rest of the stream is nothing but whole TLS records, at least
// one of them application data.
bool onlyTlsAfterHandshake(const QByteArray& s) {
    int at = 0;
    while (at + 8 <= s.size() && (s[at] == 0x12 || (at == 0 && s[at] == 0x04)))
        at += be16(s, at + 2);
    bool applicationData = false;
    while (at + 5 <= s.size()) {
        const auto type = uint8_t(s[at]);
        if (type < 0x14 || type > 0x17 || s[at + 1] != 0x03)
            return false;
        applicationData = applicationData || type == 0x17;
        at += 5 + be16(s, at + 3);
    }
    return at == s.size() && applicationData;
}

QString providerFor(int version) {
    return version == 2000   ? QStringLiteral("SQLOLEDB.1")
           : version == 2005 ? QStringLiteral("SQLNCLI.1")
           : version == 2008 ? QStringLiteral("SQLNCLI10.1")
                             : QStringLiteral("SQLNCLI11.0");
}

// Connects through the proxy as Zelvaro does, lists the databases, closes.
void listDatabasesThrough(const RecordingProxy& proxy, int version) {
    AdoConnection c;
    c.setConnectionString(QStringLiteral("Provider=%1;Data Source=127.0.0.1,%2;User ID=sa;Password=pvtmo")
                              .arg(providerFor(version))
                              .arg(proxy.port()));
    try {
        c.open();
        AdoQuery q(c);
        q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"));
        q.openRowset();
        QCOMPARE(q.rowCount(), 4);
    } catch (const DbError& e) {
        QFAIL(qPrintable(e.message()));
    }
    c.close();
}

} // namespace

class Encryption : public QObject {
    Q_OBJECT
private slots:
    void passwordNeverCrossesReadable_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QStringList>("arguments");
        for (int version : {2000, 2005, 2008, 2012, 2014, 2016, 2017, 2019})
            QTest::newRow(qPrintable(QString::number(version))) << version << QStringList();
        QTest::newRow("2019 forcing") << 2019 << QStringList{QStringLiteral("--force-encryption")};
        QTest::newRow("2005 forcing") << 2005 << QStringList{QStringLiteral("--force-encryption")};
    }
    void passwordNeverCrossesReadable() {
        QFETCH(int, version);
        QFETCH(QStringList, arguments);
        DevServer dev(version, arguments);
        RecordingProxy proxy(dev.port());
        listDatabasesThrough(proxy, version);
        if (QTest::currentTestFailed())
            return;
        proxy.finish();
        const QByteArray& up = proxy.fromClient;
        // SQL Server 2000 has no certificate: its clients log in as before, which also shows that
        // the checks below find a readable login when there is one.
        const bool clear = version == 2000;
        QCOMPARE(up.contains(scrambled(QStringLiteral("pvtmo"))), clear);
        QCOMPARE(holdsClearLogin(up), clear);
        if (!arguments.isEmpty()) {
            QVERIFY(onlyTlsAfterHandshake(up));
            QVERIFY(onlyTlsAfterHandshake(proxy.fromServer));
        }
    }

    // tsql, configured through its own freetds.conf, against the stand-in.
    void otherClientsNegotiateAsWithSqlServer_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("encryption");
        QTest::addColumn<bool>("connects");
        const QStringList force{QStringLiteral("--force-encryption")};
        QTest::newRow("2019 require") << 2019 << QStringList() << "require" << true;
        QTest::newRow("2019 off") << 2019 << QStringList() << "off" << true;
        QTest::newRow("2019 forcing, require") << 2019 << force << "require" << true;
        QTest::newRow("2019 forcing, request") << 2019 << force << "request" << true;
        QTest::newRow("2019 forcing, off") << 2019 << force << "off" << false;
        QTest::newRow("2000 require") << 2000 << QStringList() << "require" << false;
    }
    void otherClientsNegotiateAsWithSqlServer() {
        QFETCH(int, version);
        QFETCH(QStringList, arguments);
        QFETCH(QString, encryption);
        QFETCH(bool, connects);
        DevServer dev(version, arguments);
        QTemporaryDir dir;
        QFile conf(dir.filePath(QStringLiteral("freetds.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral("[global]\n\tencryption = %1\n").arg(encryption).toUtf8());
        conf.close();
        const QString out =
            dev.tsql(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"),
                     version == 2000 ? QStringLiteral("7.1") : QStringLiteral("7.4"), conf.fileName());
        QVERIFY2(out.contains(QLatin1String("(4 rows affected)")) == connects, qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(Encryption)
#include "tst_encryption.moc"
