// TLS between the stand-in and one client: a self-signed certificate made once per process, the
// handshake carried inside TDS PRELOGIN packets, then either the one encrypted login packet or a
// relay that encrypts everything.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

typedef struct ssl_st SSL;

namespace tls {

struct Framing;

// Makes the key and the self-signed certificate on the first call (later calls give the first
// outcome). False when OpenSSL cannot; the stand-in then offers no encryption.
bool prepare();

class Channel {
public:
    explicit Channel(int fd);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // The server's side of the handshake on the connection, its records inside TDS packets of type
    // 0x12 both ways. False when it fails or the client goes away.
    bool handshake();

    // When only the login is encrypted: its first packet comes through TLS, which then ends, and
    // any further packets of the message come in clear. Gives the whole LOGIN7 message.
    bool readLogin(uint8_t& type, std::vector<uint8_t>& payload);

    // When everything is encrypted: from now on the connection's descriptor carries plain TDS to and
    // from a thread that speaks TLS with the client; that thread owns the client's socket and ends
    // when either side closes.
    bool relayEverything();

private:
    int m_fd;
    std::unique_ptr<Framing> m_framing; // outlives m_ssl, whose handshake writes go through it
    SSL* m_ssl = nullptr;
};

} // namespace tls
