// Replies to the address probes as anyone on the segment may send them: ARP replies and ICMP
// echo replies (with and without the IP header) are read within their bytes, and only an
// answer to our own request counts. Input: the packet.

#include <cstddef>
#include <cstdint>

#include "discovery/arp_probe.h"
#include "discovery/host_network.h"
#include "fuzz_check.h"

using namespace lanrove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const auto reply = parseArpReply(data, size)) {
        FUZZ_CHECK(size >= kArpPacketSize);
        FUZZ_CHECK(data[7] == 2);  // a reply, never a request
    }
    for (bool withIp : {false, true}) {
        for (bool checkId : {false, true}) {
            const bool ours =
                isEchoReplyFor(data, size, withIp, 0xC0A80002, 0xC0A80002, 0x1234, 0x0007, checkId);
            if (ours) FUZZ_CHECK(size >= (withIp ? 28u : 8u));
            // A reply from another address never counts.
            FUZZ_CHECK(!isEchoReplyFor(data, size, withIp, 0xC0A80003, 0xC0A80002, 0x1234, 0x0007,
                                       checkId));
        }
    }
    return 0;
}
