#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace velmar {

class DataRoot;
class EventLog;

// The Linkel's own status record; the records of the controllers it polls are shorter.
inline constexpr int kLinkelRecordSize = 175;

// The login key `HashTable`: H[1]..H[8] are bytes; H[0] is not used. The Linkel, the panels and
// the PC share it.
using LoginKey = std::array<std::uint8_t, 9>;

// Where the Linkel is and the key it expects: "linkelnet.cfg" in the data root. Line 1 its IPv4
// address, line 2 its port, lines 3..10 the key bytes H[1]..H[8] in decimal.
struct LinkelNetConfig {
    QString address = QStringLiteral("192.168.0.254");
    std::uint16_t port = 9876;
    LoginKey H{};
    // False when "linkelnet.cfg" could not be read whole: no key is known, so no login is
    // made to the Linkel and no panel login is accepted until the file is mended.
    bool keyValid = true;
    // Why keyValid is false: the file and its first fault ("linkelnet.cfg -> line 7: \"\"").
    QString fault{};
};

// Reads "linkelnet.cfg", creating it with a random key (readable by its owner only) when it is
// missing. A file that is there but cannot be read whole (unreadable, fewer than 10 lines, an
// address that is not IPv4, a port outside 1..65535, a key byte outside 0..255) is left as it
// is: keyValid is false, `fault` names the first fault, and one line says so in the log.
LinkelNetConfig readOrCreateLinkelNet(const DataRoot& root, EventLog& log);

// The 13-byte login response to a 6-byte challenge: the challenge, six key-derived bytes, 13.
std::array<std::uint8_t, 13> CalculateChalangeResponse(const std::uint8_t* challenge,
                                                       const LoginKey& H);
// True when `response` (13 bytes) answers `challenge` (6 bytes) with this key.
bool CheckChalangeResponse(const std::uint8_t* challenge, const std::uint8_t* response,
                           const LoginKey& H);

}  // namespace velmar
