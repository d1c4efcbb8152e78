// WS-Discovery datagrams as the simulator receives them on port 3702: any bytes give either
// nothing or ProbeMatches that the program's own parser reads back.
#include <cstdint>
#include <string_view>

#include "discovery/onvif_probe.h"
#include "fleet_file.h"
#include "fuzz_check.h"
#include "wsd_responder.h"

using namespace lanrove;
using namespace lanrove::camsim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fleet* fleet = [] {
        auto* f = new Fleet;
        std::string error;
        parseFleetJson(R"({"cameras": [
            {"mac": "00:80:45:00:00:02", "ip": "192.168.0.3", "onvif": {"name": "A&B"}},
            {"mac": "02:00:00:00:00:03", "ip": "192.168.0.4",
             "onvif": {"only": true, "manufacturer": "Acme", "model": "X1"}},
            {"mac": "02:00:00:00:00:04", "ip": "192.168.0.5", "wsd_printer": true}]})",
                       f->cameras, error);
        return f;
    }();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const WsdProbeResult r = answerProbe(*fleet, input);
    FUZZ_CHECK(r.replies.size() <= fleet->cameras.size());
    if (!r.bProbe) FUZZ_CHECK(r.replies.empty());
    for (const WsdReply& w : r.replies) {
        const onvif::ParsedReply p = onvif::parseProbeMatches(w.xml);
        FUZZ_CHECK(p.status == onvif::ParseStatus::Ok);
        FUZZ_CHECK(p.relatesTo == r.messageId.substr(0, onvif::kMaxFieldChars));
        FUZZ_CHECK(p.matches.size() + static_cast<std::size_t>(p.dropped) == 1);
    }
    return 0;
}
