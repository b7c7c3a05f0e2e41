#include "Session.h"

#include "EngineHelpers.h"
#include "Prelogin.h"
#include "Rpc.h"
#include "TdsWriter.h"
#include "Utf.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct Message {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

// A whole message: packets are joined until the end-of-message bit.
bool readMessage(int fd, Message& message) {
    message.payload.clear();
    for (;;) {
        uint8_t header[8];
        if (!tds::readExact(fd, header, 8))
            return false;
        const size_t length = size_t(header[2]) << 8 | header[3];
        if (length < 8)
            return false;
        message.type = header[0];
        const size_t old = message.payload.size();
        message.payload.resize(old + length - 8);
        if (!tds::readExact(fd, message.payload.data() + old, length - 8))
            return false;
        if (header[1] & 0x01)
            return true;
    }
}

uint16_t le16(const std::vector<uint8_t>& p, size_t at) {
    return at + 1 < p.size() ? uint16_t(p[at] | p[at + 1] << 8) : 0;
}
uint32_t le32(const std::vector<uint8_t>& p, size_t at) {
    return at + 3 < p.size() ? uint32_t(le16(p, at) | uint32_t(le16(p, at + 2)) << 16) : 0;
}

std::string loginString(const std::vector<uint8_t>& p, size_t entry, bool password = false) {
    const size_t offset = le16(p, entry);
    const size_t chars = le16(p, entry + 2);
    if (offset + chars * 2 > p.size())
        return {};
    std::vector<uint8_t> bytes(p.begin() + long(offset), p.begin() + long(offset + chars * 2));
    if (password)
        for (uint8_t& b : bytes) {
            b ^= 0xA5;
            b = uint8_t((b << 4) | (b >> 4));
        }
    return utf::fromUtf16le(bytes.data(), chars);
}

} // namespace

void runSession(int fd, Instance& instance, const LoginPolicy& policy, int sessionId) {
    tds::Writer out(fd, true);
    out.setSpid(uint16_t(sessionId));
    std::string database = "master";
    Message message;
    bool loggedIn = false;
    bool encrypted = false; // the login came through TLS
    uint32_t tdsVersion = instance.personality.tdsVersion;
    RpcRunner rpcRunner(instance, out, sessionId, database); // prepared handles live with the session

    while (readMessage(fd, message)) {
        const auto& p = message.payload;
        if (!loggedIn) {
            if (message.type == 0x12) {
                const prelogin::Outcome outcome = prelogin::negotiate(
                    fd, instance.personality, policy.forceEncryption, message.type, message.payload);
                if (outcome == prelogin::Outcome::Closed)
                    break;
                encrypted = outcome != prelogin::Outcome::Clear;
                if (outcome != prelogin::Outcome::LoginDecrypted)
                    continue;
            }
            // A server that forces encryption takes no login in clear, not even without a PRELOGIN.
            if (policy.forceEncryption && !encrypted && prelogin::canEncrypt(instance.personality))
                break;
            if (message.type != 0x10 || p.size() < 86)
                break;
            tdsVersion = negotiateTds(le32(p, 4), instance.personality.tdsVersion);
            out.setWide(isTds72OrLater(tdsVersion));
            out.setTds70(tdsVersion == kTds70Ack);
            const uint32_t asked = le32(p, 8);
            const size_t packetSize = asked >= 512 && asked <= 32767 ? asked : 4096;
            const std::string user = loginString(p, 40);
            const std::string password = loginString(p, 44, true);
            const std::string wanted = loginString(p, 68);

            // SQL Server authentication: the login's own password; a disabled login fails as a wrong
            // password does (the client learns no more than state 1 says).
            std::string loginName, defaultDatabase;
            {
                std::lock_guard<std::mutex> lock(instance.principals->mutex());
                const Login* known = instance.principals->login(user);
                if (known && !known->disabled && known->password == password) {
                    loginName = known->name;
                    defaultDatabase = known->defaultDatabase;
                }
            }
            if (policy.refuseAll || loginName.empty()) {
                out.message(true, 18456, 1, 14, "Login failed for user '" + user + "'.", instance.serverName,
                            "", 1);
                out.done(tds::DoneError);
                out.flush(true);
                break;
            }
            // Without a database in the login, the login's default database; one it cannot open fails
            // the login with 4064 instead of 4060.
            const bool named = !wanted.empty();
            const std::string target = named ? wanted : defaultDatabase;
            if (!Catalog::sameName(target, "master")) {
                std::lock_guard<std::mutex> lock(instance.catalog->mutex());
                const Database* db = instance.catalog->find(target);
                bool allowed = true;
                if (db) {
                    std::lock_guard<std::mutex> principalsLock(instance.principals->mutex());
                    allowed = instance.principals->mayEnter(loginName, *db);
                }
                // A database held in single-user mode by another session refuses the login as it
                // refuses USE (924), before the usual 4060.
                const bool held = db && db->userAccess == UserAccess::Single && instance.catalog->inUseByOthers(db->name, sessionId);
                if (!db || held || !allowed) {
                    if (held)
                        out.message(true, 924, 1, 14,
                                    "Database '" + db->name +
                                        "' is already open and can only have one user at a time.",
                                    instance.serverName, "", 1);
                    if (named)
                        out.message(true, 4060, 1, 11,
                                    instance.personality.is2000()
                                        ? "Cannot open database requested in login '" + wanted +
                                              "'. Login fails."
                                        : "Cannot open database \"" + wanted +
                                              "\" requested by the login. The login failed.",
                                    instance.serverName, "", 1);
                    else
                        out.message(true, 4064, 1, 11, "Cannot open user default database. Login failed.",
                                    instance.serverName, "", 1);
                    out.message(true, 18456, 1, 14, "Login failed for user '" + user + "'.",
                                instance.serverName, "", 1);
                    out.done(tds::DoneError);
                    out.flush(true);
                    break;
                }
                database = db->name;
            }
            {
                std::lock_guard<std::mutex> lock(instance.catalog->mutex());
                SessionInfo info;
                info.database = database;
                info.login = loginName;
                info.host = loginString(p, 36);
                info.program = loginString(p, 48);
                info.loginTime = engine::nowText();
                info.fd = fd;
                instance.catalog->open(sessionId, info);
            }
            out.envChange(1, database, "master");
            out.message(false, 5701, 2, 0, "Changed database context to '" + database + "'.",
                        instance.serverName, "", 1);
            if (tdsVersion != kTds70Ack)
                out.collationChange(); // collations came with TDS 7.1
            else
                out.tds70Environment();
            out.envChange(2, "us_english", "");
            out.message(false, 5703, 1, 0, "Changed language setting to us_english.", instance.serverName, "",
                        1);
            const Personality& pers = instance.personality;
            out.loginAck(tdsVersion, pers.major, pers.minor, pers.build);
            out.envChange(4, std::to_string(packetSize), "4096");
            out.done(tds::DoneFinal);
            out.flush(true);
            out.setPacketSize(packetSize);
            loggedIn = true;
            continue;
        }

        if (message.type == 0x06) {
            out.done(tds::DoneAttention);
            out.flush(true);
            continue;
        }
        if (message.type == 0x01) {
            size_t start = 0;
            if (isTds72OrLater(tdsVersion)) {
                start = le32(p, 0);
                if (start > p.size())
                    start = p.size();
            }
            const std::string text = utf::fromUtf16le(p.data() + start, (p.size() - start) / 2);
            Engine engine(instance, out, sessionId, database);
            if (!engine.runBatch(text))
                break;
            continue;
        }
        if (message.type == 0x03) {
            // A request that cannot be read is dropped with the connection, as SQL Server drops it.
            std::vector<rpc::Call> calls;
            rpc::BadParameter bad;
            const rpc::Decoded decoded = rpc::decode(p, isTds72OrLater(tdsVersion), calls, bad);
            if (decoded == rpc::Decoded::Broken)
                break;
            if (!(decoded == rpc::Decoded::Ok ? rpcRunner.run(calls) : rpcRunner.refuse(bad)))
                break;
            continue;
        }
        if (message.type == 0x0E) {
            // Transaction requests are not played: the clients we serve run in autocommit.
            out.message(true, 2812, 62, 16, "Could not find stored procedure 'the requested RPC'.",
                        instance.serverName, "", 1);
            out.done(tds::DoneError);
            out.flush(true);
            continue;
        }
        break;
    }
    {
        std::lock_guard<std::mutex> lock(instance.catalog->mutex());
        instance.catalog->leave(sessionId);
    }
    ::close(fd);
}
