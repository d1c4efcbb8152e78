#pragma once
// Other makers' ONVIF cameras, found beside the search: one UDP socket per adapter sends the
// WS-Discovery Probes (NetworkVideoTransmitter, then Device, then without a type) to
// 239.255.255.250:3702 from that adapter's address, three rounds 10 s apart as the search
// sends its requests, and takes the ProbeMatches that come back (from any subnet). Devices are
// merged by endpoint UUID; only those with an ONVIF type are kept. Every wait is bounded: the
// whole pass by its length, each datagram by its size, the list by its count.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "discovery/adapter_entry.h"
#include "discovery/onvif_probe.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove {

inline constexpr std::uint16_t kWsDiscoveryPort = 3702;
inline constexpr const char* kWsDiscoveryGroup = "239.255.255.250";
inline constexpr std::size_t kMaxOnvifDevices = 1000;
// The rounds of probes and the pass's length, as the search's own schedule.
inline constexpr long kOnvifRoundMs = 10000;
inline constexpr int kOnvifRounds = 3;
inline constexpr long kOnvifPassMs = 31000;

struct OnvifDevice {
    onvif::ProbeMatch match;
    std::string sourceIp;  // where the ProbeMatch came from
    std::string adapter;   // the interface it came in on
    std::string mac;       // from the neighbour table, empty when it does not know
};

// The device's address: the XAddr's host, else where its reply came from.
std::string onvifDeviceIp(const OnvifDevice& device);
// The device as a row of the camera list's nine columns: no number, status ONVIF, maker and
// model in the model column, its name (and place) as the title, SSL "1" for an https service.
std::vector<std::string> onvifRowTexts(const OnvifDevice& device);

// "AA:BB:CC:DD:EE:FF" for `ip` from the kernel's neighbour table (/proc/net/arp); empty when
// the address is not there or has no hardware address.
std::string neighbourMac(const std::string& ip);

class OnvifDiscovery {
  public:
    OnvifDiscovery(const Clock& clock, TraceLog& log);
    ~OnvifDiscovery();
    OnvifDiscovery(const OnvifDiscovery&) = delete;
    OnvifDiscovery& operator=(const OnvifDiscovery&) = delete;

    // Starts the pass on its own thread over the adapters with an address. `target` replaces
    // the multicast group (tests on loopback send to a unicast address instead). False when no
    // socket could be opened (the trace says why).
    bool start(const std::vector<AdapterEntry>& adapters, std::string target = kWsDiscoveryGroup,
               std::uint16_t port = kWsDiscoveryPort);
    // Ends the pass early; joins the thread.
    void stop();
    // Waits for the pass to end on its own.
    void wait();
    bool running() const { return m_running; }

    // The devices so far, in the order they first answered.
    std::vector<OnvifDevice> devices() const;

    // Takes one received datagram (the receive loop's step, also for tests): parsed, merged
    // by endpoint UUID, bounded. Returns the number of devices added.
    int take(std::string_view datagram, const std::string& sourceIp, const std::string& adapter);

  private:
    struct Socket {
        int fd = -1;
        std::string adapter;
    };
    void run(std::vector<Socket> sockets, std::string target, std::uint16_t port);
    void nudgeNeighbours(int fd, std::set<std::string>& nudged);
    void sendRound(const std::vector<Socket>& sockets, const std::string& target,
                   std::uint16_t port);

    const Clock& m_clock;
    TraceLog& m_log;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    mutable std::mutex m_mutex;
    std::vector<OnvifDevice> m_devices;
};

}  // namespace lanrove
