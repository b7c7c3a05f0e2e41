// TLS for the stand-in's clients with OpenSSL: certificate, handshake inside PRELOGIN packets, relay.
#include "TlsChannel.h"

#include "TdsWriter.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tls {

namespace {

SSL_CTX* g_context = nullptr;
BIO_METHOD* g_prelogin = nullptr;

size_t packetLength(const uint8_t* header) {
    return size_t(header[2]) << 8 | header[3];
}

} // namespace

// The handshake's TLS records as the payload of TDS packets of type 0x12: what OpenSSL writes is
// kept until it flushes a flight (or wants to read), then sent in packets; what it reads is taken
// from the payloads of the client's packets.
struct Framing {
    int fd;
    std::vector<uint8_t> in;
    size_t inAt = 0;
    std::vector<uint8_t> out;
    uint8_t packetId = 1;

    bool flush() {
        const size_t room = 4096 - 8;
        for (size_t at = 0; at < out.size();) {
            const size_t chunk = std::min(room, out.size() - at);
            const size_t length = chunk + 8;
            const bool last = at + chunk == out.size();
            uint8_t packet[4096] = {
                0x12, uint8_t(last ? 1 : 0), uint8_t(length >> 8), uint8_t(length), 0, 0, packetId++, 0};
            std::memcpy(packet + 8, out.data() + at, chunk);
            if (!tds::sendAll(fd, packet, length))
                return false;
            at += chunk;
        }
        out.clear();
        return true;
    }
    bool refill() {
        while (inAt == in.size()) {
            uint8_t header[8];
            if (!tds::readExact(fd, header, 8) || packetLength(header) < 8)
                return false;
            in.resize(packetLength(header) - 8);
            inAt = 0;
            if (!tds::readExact(fd, in.data(), in.size()))
                return false;
        }
        return true;
    }
};

namespace {

int framedWrite(BIO* bio, const char* data, int length) {
    auto* f = static_cast<Framing*>(BIO_get_data(bio));
    f->out.insert(f->out.end(), data, data + length);
    return length;
}

int framedRead(BIO* bio, char* data, int length) {
    auto* f = static_cast<Framing*>(BIO_get_data(bio));
    if (!f->flush() || !f->refill())
        return -1;
    const size_t n = std::min(size_t(length), f->in.size() - f->inAt);
    std::memcpy(data, f->in.data() + f->inAt, n);
    f->inAt += n;
    return int(n);
}

long framedControl(BIO* bio, int command, long, void*) {
    if (command == BIO_CTRL_FLUSH)
        return static_cast<Framing*>(BIO_get_data(bio))->flush() ? 1 : 0;
    return 0;
}

// Self-signed, under the name SQL Server gives the certificate it makes when none is configured.
X509* selfSigned(EVP_PKEY* key) {
    X509* cert = X509_new();
    if (!cert)
        return nullptr;
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    X509_NAME* name = X509_get_subject_name(cert);
    const bool ok =
        number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert)) && X509_set_version(cert, 2) &&
        X509_gmtime_adj(X509_getm_notBefore(cert), -24L * 3600) &&
        X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 365 * 24 * 3600) &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("SSL_Self_Signed_Fallback"), -1, -1,
                                   0) &&
        X509_set_issuer_name(cert, name) && X509_set_pubkey(cert, key) && X509_sign(cert, key, EVP_sha256());
    BN_free(number);
    if (!ok) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

// TLS 1.2 at most, as SQL Server speaks it inside PRELOGIN (1.3 would send session tickets after the
// handshake, which clients still reading PRELOGIN packets then could not take); an elliptic-curve
// key, made in a millisecond and quick to sign with.
SSL_CTX* makeContext() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = key ? selfSigned(key) : nullptr;
    SSL_CTX* context = cert ? SSL_CTX_new(TLS_server_method()) : nullptr;
    bool ok = context && SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) &&
              SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) &&
              SSL_CTX_use_certificate(context, cert) && SSL_CTX_use_PrivateKey(context, key);
    if (ok) {
        SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) {
        SSL_CTX_free(context);
        context = nullptr;
    }
    ERR_clear_error();
    return context;
}

void relay(SSL* ssl, int client, int inner) {
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        bool fromClient = SSL_pending(ssl) > 0, fromServer = false;
        if (!fromClient) {
            pollfd p[2] = {{client, POLLIN, 0}, {inner, POLLIN, 0}};
            if (::poll(p, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            fromClient = p[0].revents != 0;
            fromServer = p[1].revents != 0;
        }
        if (fromClient) {
            const int n = SSL_read(ssl, buffer.data(), int(buffer.size()));
            if (n <= 0 || !tds::sendAll(inner, buffer.data(), size_t(n)))
                break;
        }
        if (fromServer) {
            const ssize_t n = ::recv(inner, buffer.data(), buffer.size(), 0);
            if (n <= 0 || SSL_write(ssl, buffer.data(), int(n)) != int(n))
                break;
        }
    }
    // Either side gone: the other learns it from its socket closing, as with a plain connection.
    ::close(inner);
    SSL_free(ssl);
    ::close(client);
    ERR_clear_error();
}

bool sslReadExact(SSL* ssl, uint8_t* data, size_t size) {
    while (size > 0) {
        const int n = SSL_read(ssl, data, int(size));
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

bool prepare() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_context = makeContext();
        g_prelogin = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tds prelogin");
        if (g_prelogin) {
            BIO_meth_set_write(g_prelogin, framedWrite);
            BIO_meth_set_read(g_prelogin, framedRead);
            BIO_meth_set_ctrl(g_prelogin, framedControl);
        }
    });
    return g_context && g_prelogin;
}

Channel::Channel(int fd) : m_fd(fd), m_framing(std::make_unique<Framing>(Framing{fd, {}, 0, {}, 1})) {}

Channel::~Channel() {
    SSL_free(m_ssl);
    ERR_clear_error();
}

bool Channel::handshake() {
    if (!prepare() || !(m_ssl = SSL_new(g_context)))
        return false;
    BIO* bio = BIO_new(g_prelogin);
    if (!bio)
        return false;
    BIO_set_data(bio, m_framing.get());
    BIO_set_init(bio, 1);
    SSL_set_bio(m_ssl, bio, bio);
    if (SSL_accept(m_ssl) != 1 || !m_framing->flush())
        return false;
    // From here TLS records go onto the socket as they are. Whatever is left of the client's last
    // handshake packet is padding, which clients send and servers ignore.
    return SSL_set_fd(m_ssl, m_fd) == 1;
}

bool Channel::readLogin(uint8_t& type, std::vector<uint8_t>& payload) {
    uint8_t header[8];
    if (!m_ssl || !sslReadExact(m_ssl, header, 8) || packetLength(header) < 8)
        return false;
    type = header[0];
    payload.resize(packetLength(header) - 8);
    if (!sslReadExact(m_ssl, payload.data(), payload.size()))
        return false;
    // The client drops TLS without a closing alert once its packet is sent; so do we.
    SSL_free(m_ssl);
    m_ssl = nullptr;
    bool last = header[1] & 0x01;
    while (!last) {
        if (!tds::readExact(m_fd, header, 8) || packetLength(header) < 8)
            return false;
        last = header[1] & 0x01;
        const size_t old = payload.size();
        payload.resize(old + packetLength(header) - 8);
        if (!tds::readExact(m_fd, payload.data() + old, packetLength(header) - 8))
            return false;
    }
    return true;
}

bool Channel::relayEverything() {
    int pair[2];
    if (!m_ssl || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    const int client = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    // The session's descriptor becomes its end of the pair: everything that reads or writes the
    // connection, down to the check for an attention during a long statement, goes on unchanged.
    if (client < 0 || ::dup3(pair[0], m_fd, O_CLOEXEC) < 0 || SSL_set_fd(m_ssl, client) != 1) {
        if (client >= 0)
            ::close(client);
        ::close(pair[0]);
        ::close(pair[1]);
        return false;
    }
    ::close(pair[0]);
    SSL* ssl = m_ssl;
    m_ssl = nullptr;
    const int inner = pair[1];
    std::thread([ssl, client, inner] { relay(ssl, client, inner); }).detach();
    return true;
}

} // namespace tls
