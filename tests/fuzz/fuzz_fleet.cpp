// The simulator's fleet file. A fleet that loads must describe cameras the simulator can
// serve: unique MACs, addresses that read back, ports in range, and search replies that the
// PC decodes to the same identity; its WS-Discovery devices have unique endpoints.

#include <set>
#include <string>

#include "camera_datagrams.h"
#include "discovery/ipv4_address.h"
#include "fleet_file.h"
#include "fuzz_check.h"

using namespace lanrove;
using namespace lanrove::camsim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<SimCamera> cameras;
    std::string error;
    if (!parseFleetJson(text, cameras, error)) {
        FUZZ_CHECK(!error.empty() && cameras.empty());
        return 0;
    }
    FUZZ_CHECK(error.empty());
    std::set<std::string> macs;
    std::set<std::string> endpoints;
    const WireCodec codec;
    for (const SimCamera& c : cameras) {
        FUZZ_CHECK(macs.insert(dgram::macTextUpper(c.mac)).second);
        FUZZ_CHECK(c.protoVer == 1 || c.protoVer == 2);
        FUZZ_CHECK(c.port >= 1 && c.port <= 65535);
        FUZZ_CHECK(ipv4::parse(c.ip) && ipv4::parse(c.mask) && ipv4::parse(c.gateway));
        // WS-Discovery devices: one kind each, a unique endpoint, a service port in range.
        FUZZ_CHECK(!(c.onvif.enabled && c.wsdPrinter));
        if (c.onvif.enabled) {
            FUZZ_CHECK(c.onvif.xaddrPort >= 1 && c.onvif.xaddrPort <= 65535);
            FUZZ_CHECK(endpoints.insert(c.onvif.uuid).second && c.onvif.uuid.size() == 45);
            FUZZ_CHECK(c.onvif.name.size() <= 64 && c.onvif.model.size() <= 64);
        }
        if (c.wsdPrinter) FUZZ_CHECK(endpoints.insert(c.wsdUuid).second && c.wsdUuid.size() == 45);
        if (macs.size() > 16) continue;  // generated fleets can be large
        const dgram::Datagram d = encodeSearchReply(c, codec);
        CameraEntry e;
        FUZZ_CHECK(dgram::decodeSearchReply(d.data(), d.size(), codec, e));
        FUZZ_CHECK(fieldUtf8(e.szMac) == dgram::macTextUpper(c.mac));
        FUZZ_CHECK(ipv4::parse(fieldUtf8(e.szIp)) == ipv4::parse(c.ip));
        FUZZ_CHECK(e.wProtoVer == c.protoVer);
    }
    return 0;
}
