#pragma once
// Whether a host on an adapter's segment answers ARP for an address. The kernel does the
// asking: a UDP datagram to the discard port makes it resolve the address (no privileges
// needed), and the neighbour table, read over rtnetlink, tells how that ended. A host whose
// firewall drops pings still answers ARP, so this sees hosts that the ICMP echo misses.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lanrove {

enum class NeighbourOutcome {
    Resolved,     // a host answered ARP (or the entry is otherwise known to be alive)
    Failed,       // the kernel gave up resolving: nobody on the segment has the address
    Undecided,    // no outcome within the limit, or the wait was stopped
    Unavailable,  // the question could not be asked (no socket, no netlink, no entry)
};
const char* outcomeName(NeighbourOutcome outcome);

class NeighbourResolver {
  public:
    virtual ~NeighbourResolver() = default;
    // Makes the kernel resolve `target` (host order) on interface `ifName`, sending from
    // `local`, and waits for the outcome. The waits follow the kernel's own timers (real time,
    // never scaled) with an overall limit; `stop` is asked between polls and ends the wait
    // early with Undecided. Safe to call from several threads at once.
    virtual NeighbourOutcome resolve(const std::string& ifName, std::uint32_t local,
                                     std::uint32_t target, const std::function<bool()>& stop) = 0;
};

// The Linux implementation (rtnetlink, RTM_GETNEIGH).
class SystemNeighbourResolver final : public NeighbourResolver {
  public:
    NeighbourOutcome resolve(const std::string& ifName, std::uint32_t local, std::uint32_t target,
                             const std::function<bool()>& stop) override;
};

// ---- Pure parts, tested without a network ----

// Neighbour states (the kernel's NUD_* bits).
inline constexpr std::uint16_t kNudIncomplete = 0x01;
inline constexpr std::uint16_t kNudReachable = 0x02;
inline constexpr std::uint16_t kNudStale = 0x04;
inline constexpr std::uint16_t kNudDelay = 0x08;
inline constexpr std::uint16_t kNudProbe = 0x10;
inline constexpr std::uint16_t kNudFailed = 0x20;
inline constexpr std::uint16_t kNudNoArp = 0x40;
inline constexpr std::uint16_t kNudPermanent = 0x80;

// What one state says: Resolved for the states that hold a hardware address, Failed for
// FAILED, Undecided while resolution goes on (NONE, INCOMPLETE), Unavailable for NOARP (no
// ARP on that link: someone else must decide).
NeighbourOutcome outcomeOfState(std::uint16_t state);

// One neighbour dump request for IPv4 (netlink header and ndmsg).
std::vector<std::uint8_t> buildNeighbourDumpRequest(std::uint32_t sequence, int ifIndex);

enum class DumpScan {
    More,   // read the next datagram of the reply
    Done,   // NLMSG_DONE seen
    Error,  // NLMSG_ERROR or a malformed message
};
// Scans one datagram of a dump reply with sequence `sequence` for the entry of `target` (host
// order) on `ifIndex`; sets `found` and `state` when it is there.
DumpScan scanNeighbourDump(const std::uint8_t* data, std::size_t length, std::uint32_t sequence,
                           int ifIndex, std::uint32_t target, bool& found, std::uint16_t& state);

// How long the kernel takes to give up on an address: (multicast + application probes) times
// the retransmit time, plus a margin, kept between 1 and 15 seconds.
std::chrono::milliseconds resolutionLimit(long mcastProbes, long appProbes, long retransMs);
// The same from the interface's settings under /proc/sys/net/ipv4/neigh (3, 0 and 1000 ms
// where they cannot be read).
std::chrono::milliseconds resolutionLimitFor(std::string_view ifName);

}  // namespace lanrove
