#pragma once
// The free-address probe of the automatic setting and the address plans: an address is in use
// when a host on the adapter's segment answers ARP for it or when it answers the ICMP echo. A
// host whose firewall drops pings still answers ARP, so it is no longer taken for free; and an
// address nobody answers ARP for is known to be free once the kernel gives up (about 3 s), so a
// batch no longer waits the whole echo time-out. Addresses off the segment, and any address
// the neighbour table cannot decide, are left to the echo alone.

#include <mutex>
#include <string>
#include <string_view>

#include "discovery/adapter_entry.h"
#include "discovery/host_network.h"
#include "discovery/neighbour_table.h"
#include "runs/settings_run.h"
#include "support/trace_log.h"

namespace lanrove {

// Which probe decided, for the trace line.
enum class ProbeDecider { Arp, Echo, EchoOffSegment, EchoArpUndecided };
const char* deciderName(ProbeDecider decider);

struct ProbeVerdict {
    bool inUse = false;
    ProbeDecider decider = ProbeDecider::Echo;
};

class NeighbourAddressProbe final : public AddressProbe {
  public:
    // `neighbours` may be null: the echo alone decides then.
    NeighbourAddressProbe(HostNetwork& net, NeighbourResolver* neighbours, TraceLog& log)
        : m_net(net), m_neighbours(neighbours), m_log(log) {}
    void useAdapter(const AdapterEntry& adapter) override;
    bool inUse(std::u16string_view address) override;
    // The verdict with the probe that gave it (inUse() writes it to the trace log).
    ProbeVerdict probe(std::u16string_view address);

  private:
    HostNetwork& m_net;
    NeighbourResolver* m_neighbours;
    TraceLog& m_log;
    std::mutex m_mutex;
    AdapterEntry m_adapter{};
    bool m_bHaveAdapter = false;
};

}  // namespace lanrove
