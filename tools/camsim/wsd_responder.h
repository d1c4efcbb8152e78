#pragma once
// WS-Discovery on the simulator's side: which devices of the fleet answer a Probe, and their
// ProbeMatches. A Probe without types finds every WS-Discovery device; with types only the
// devices that have all of them (matched on namespace URI and local name); with scopes only
// devices holding every scope (RFC 3986 prefix match or strcmp0).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fleet.h"

namespace lanrove::camsim {

inline constexpr std::size_t kMaxProbeBytes = 64 * 1024;
inline constexpr int kWsdPort = 3702;
inline constexpr const char* kWsdGroup = "239.255.255.250";

struct WsdReply {
    std::string xml;           // one ProbeMatches message
    std::uint32_t source = 0;  // the device's address (host order), 0 when it has none
    std::size_t device = 0;    // index into the fleet
};

struct WsdProbeResult {
    bool bProbe = false;  // the message was a well-formed Probe
    std::string messageId;
    std::string why;  // for the log when it was not
    std::vector<WsdReply> replies;
};

WsdProbeResult answerProbe(Fleet& fleet, std::string_view message);

// Percent-encodes everything but RFC 3986's unreserved characters, for a scope's last segment.
std::string scopeSegment(std::string_view text);

}  // namespace lanrove::camsim
