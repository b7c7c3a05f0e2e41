// The PRELOGIN exchange: the server's answer, the encryption the two sides end up with (decided from
// the client's ENCRYPTION option as SQL Server decides it), and carrying that encryption out.
#pragma once

#include "Personality.h"

#include <cstdint>
#include <vector>

namespace prelogin {

// The ENCRYPTION option's values.
enum Encryption : uint8_t { Off = 0x00, On = 0x01, NotSupported = 0x02, Required = 0x03 };

enum class Scope {
    Nothing,    // the client cannot, or says so, and the server lets it
    Login,      // "off" from the client: only its login packet travels encrypted
    Everything, // the client wants it, or the server forces it
    Refused     // the server forces encryption on a client that cannot: the connection is closed
};

struct Agreement {
    uint8_t answer;
    Scope scope;
};

// The client's ENCRYPTION option in a PRELOGIN payload; NotSupported when there is none.
uint8_t offered(const std::vector<uint8_t>& request);
// serverCan: the server has a certificate; force: it takes no client that cannot encrypt.
Agreement agree(uint8_t client, bool serverCan, bool force);
// From the 2005 personality on, as long as OpenSSL could make a certificate.
bool canEncrypt(const Personality& personality);

enum class Outcome {
    Closed,         // the connection is to be closed
    Clear,          // nothing is encrypted; the login comes next, in clear
    LoginDecrypted, // type and payload now hold the LOGIN7, whose packet came through TLS
    AllEncrypted    // TLS carries everything from the login on; fd now gives it in plain (a relay)
};

// Answers the PRELOGIN in `payload` on the connection and carries out what was agreed.
Outcome negotiate(int fd, const Personality& personality, bool force, uint8_t& type,
                  std::vector<uint8_t>& payload);

} // namespace prelogin
