#pragma once
// WS-Discovery for other makers' ONVIF cameras: the Probe the search sends and the parser of
// the ProbeMatches they answer with. Elements are matched on namespace URIs, never on
// prefixes, which differ from device to device. Replies are bounded in size and count.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lanrove::onvif {

inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;
inline constexpr std::size_t kMaxMatchesPerMessage = 64;
inline constexpr std::size_t kMaxListItems = 32;  // XAddrs, Scopes, Types of one match
inline constexpr std::size_t kMaxFieldChars = 128;

// The Probe types, in the order the search sends them.
enum class ProbeType { NetworkVideoTransmitter, Device, Any };

// "urn:uuid:" and a random version-4 UUID.
std::string newMessageId();
std::string buildProbe(ProbeType type, std::string_view messageId);

struct ProbeMatch {
    std::string endpoint;  // EndpointReference Address (urn:uuid:...)
    std::vector<std::string> xaddrs;
    std::vector<std::string> scopes;
    std::string maker, model, name, location;
    // From the first http(s) XAddr with an IPv4 host.
    std::string scheme, address;
    std::uint16_t port = 0;
};

enum class ParseStatus { Ok, Oversized, Malformed, NotProbeMatches };

struct ParsedReply {
    ParseStatus status = ParseStatus::Malformed;
    std::vector<ProbeMatch> matches;  // ONVIF devices only
    int dropped = 0;                  // matches without an ONVIF type or without an endpoint
    std::string relatesTo;
};

ParsedReply parseProbeMatches(std::string_view message);
const char* statusName(ParseStatus status);

// "%41" decoding; control characters are dropped and the result is kept to kMaxFieldChars.
std::string decodeScopeText(std::string_view text);

}  // namespace lanrove::onvif
