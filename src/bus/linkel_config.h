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
};

// Reads "linkelnet.cfg", creating it with a random key (readable by its owner only) when it is
// missing. A line that does not parse is logged and keeps its default (address, port) or 0 (a
// key byte).
LinkelNetConfig readOrCreateLinkelNet(const DataRoot& root, EventLog& log);

// The 13-byte login response to a 6-byte challenge: the challenge, six key-derived bytes, 13.
std::array<std::uint8_t, 13> CalculateChalangeResponse(const std::uint8_t* challenge,
                                                       const LoginKey& H);
// True when `response` (13 bytes) answers `challenge` (6 bytes) with this key.
bool CheckChalangeResponse(const std::uint8_t* challenge, const std::uint8_t* response,
                           const LoginKey& H);

}  // namespace velmar
