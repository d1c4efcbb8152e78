// ProbeMatch replies of other makers' cameras as they arrive over UDP: the parser takes any
// bytes and keeps its bounds.
#include <cstdint>
#include <string_view>

#include "discovery/onvif_probe.h"
#include "fuzz_check.h"

using namespace lanrove::onvif;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const ParsedReply r = parseProbeMatches(input);
    FUZZ_CHECK(r.matches.size() <= kMaxMatchesPerMessage);
    if (size > kMaxMessageBytes) FUZZ_CHECK(r.status == ParseStatus::Oversized);
    if (r.status != ParseStatus::Ok) FUZZ_CHECK(r.matches.empty());
    for (const ProbeMatch& m : r.matches) {
        FUZZ_CHECK(!m.endpoint.empty() && m.endpoint.size() <= kMaxFieldChars);
        FUZZ_CHECK(m.xaddrs.size() <= kMaxListItems && m.scopes.size() <= kMaxListItems);
        FUZZ_CHECK(m.name.size() <= kMaxFieldChars && m.maker.size() <= kMaxFieldChars);
        FUZZ_CHECK(m.address.empty() || m.port != 0);
    }
    return 0;
}
