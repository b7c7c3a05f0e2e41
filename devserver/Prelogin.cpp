// The PRELOGIN answer and the encryption agreed in it.
#include "Prelogin.h"

#include "TdsWriter.h"
#include "TlsChannel.h"

namespace prelogin {

namespace {

bool answer(int fd, const Personality& p, uint8_t encryption) {
    // Each option's token, offset and length: VERSION first and ENCRYPTION second (some clients
    // read the blocks in table order), INSTOPT, THREADID (empty), MARS; then their data.
    const uint8_t table[] = {0x00, 0x00, 0x1A, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00, 0x21,
                             0x00, 0x01, 0x03, 0x00, 0x22, 0x00, 0x00, 0x04, 0x00, 0x22, 0x00, 0x01, 0xFF};
    const uint8_t data[] = {p.major, p.minor, uint8_t(p.build >> 8), uint8_t(p.build), 0, 0, encryption,
                            0,       0};
    std::vector<uint8_t> packet = {4, 1, 0, uint8_t(8 + sizeof table + sizeof data), 0, 0, 1, 0};
    packet.insert(packet.end(), table, table + sizeof table);
    packet.insert(packet.end(), data, data + sizeof data);
    return tds::sendAll(fd, packet.data(), packet.size());
}

} // namespace

uint8_t offered(const std::vector<uint8_t>& request) {
    for (size_t at = 0; at + 5 <= request.size() && request[at] != 0xFF; at += 5) {
        if (request[at] != 0x01)
            continue;
        const size_t offset = size_t(request[at + 1]) << 8 | request[at + 2];
        const size_t length = size_t(request[at + 3]) << 8 | request[at + 4];
        return length >= 1 && offset < request.size() ? request[offset] : uint8_t(NotSupported);
    }
    return NotSupported;
}

Agreement agree(uint8_t client, bool serverCan, bool force) {
    if (!serverCan)
        return {NotSupported, Scope::Nothing};
    switch (client & 0x7F) { // 0x80 only adds that the client has a certificate of its own
    case Off:
        return force ? Agreement{Required, Scope::Everything} : Agreement{Off, Scope::Login};
    case On:
    case Required:
        return {force ? Required : On, Scope::Everything};
    default:
        return force ? Agreement{Required, Scope::Refused} : Agreement{NotSupported, Scope::Nothing};
    }
}

bool canEncrypt(const Personality& personality) {
    return !personality.is2000() && tls::prepare();
}

Outcome negotiate(int fd, const Personality& personality, bool force, uint8_t& type,
                  std::vector<uint8_t>& payload) {
    const Agreement agreed = agree(offered(payload), canEncrypt(personality), force);
    if (!answer(fd, personality, agreed.answer) || agreed.scope == Scope::Refused)
        return Outcome::Closed;
    if (agreed.scope == Scope::Nothing)
        return Outcome::Clear;
    tls::Channel channel(fd);
    if (!channel.handshake())
        return Outcome::Closed;
    if (agreed.scope == Scope::Everything)
        return channel.relayEverything() ? Outcome::AllEncrypted : Outcome::Closed;
    return channel.readLogin(type, payload) ? Outcome::LoginDecrypted : Outcome::Closed;
}

} // namespace prelogin
