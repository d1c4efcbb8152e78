#pragma once
// The PC's own network: its adapters with their IPv4 settings, the start-up check that the PC
// has an address and that ICMP is not blocked, a one-shot ICMP echo and the ARP cache flush.
// HostNetwork is the seam through which callers reach the system, so tests can replace it.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/adapter_entry.h"
#include "discovery/neighbour_table.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove {

// Echo result values (IP status values of the echo interface).
inline constexpr std::uint32_t kEchoSuccess = 0;
inline constexpr std::uint32_t kEchoDestNetUnreachable = 11002;
inline constexpr std::uint32_t kEchoDestHostUnreachable = 11003;
inline constexpr std::uint32_t kEchoTimedOut = 11010;
inline constexpr std::uint32_t kEchoBadDestination = 11018;
inline constexpr std::uint32_t kEchoGeneralFailure = 11050;
inline constexpr std::uint32_t kEchoUnavailable = 255;

// One interface as the system reports it, before the adapter rules are applied.
struct InterfaceInfo {
    std::string name;
    unsigned flags = 0;  // IFF_* flags
    std::uint8_t mac[6] = {};
    struct Address {
        std::uint32_t address;  // host order
        std::uint32_t mask;
    };
    std::vector<Address> addresses;  // IPv4, in the order the system lists them
};

// The interfaces in system order (getifaddrs; labelled addresses such as "eth0:1" belong to
// their base interface).
std::vector<InterfaceInfo> readInterfaces();
// First default gateway per interface from the text of /proc/net/route (host order).
std::map<std::string, std::uint32_t> parseDefaultGateways(std::string_view routeText);
// The adapter rules: loopback, interfaces that are down and interfaces without IPv4 are
// skipped; so are interfaces that are up but have no carrier (no IFF_RUNNING), whose names go to
// `withoutCarrier` when given: a search there would only wait. Each other interface gives one
// entry with its first address.
std::vector<AdapterEntry> buildAdapterList(const std::vector<InterfaceInfo>& interfaces,
                                           const std::map<std::string, std::uint32_t>& gateways,
                                           std::vector<std::string>* withoutCarrier = nullptr);

// Target of the start-up echo: the gateway when it converts to a non-zero address, else the
// adapter's network address with 1 added to its last octet.
std::string startupEchoTarget(const AdapterEntry& adapter);

enum class NetworkCheckOutcome { Pass, NoAddress, Firewall };
struct NetworkCheckResult {
    NetworkCheckOutcome outcome = NetworkCheckOutcome::NoAddress;
    int adapterCount = 0;
    std::string target;  // empty when no echo was sent
    std::uint32_t echoResult = 0;
};
const char* outcomeName(NetworkCheckOutcome outcome);

class HostNetwork {
  public:
    virtual ~HostNetwork() = default;
    // Rebuilds `out` (previous contents dropped); returns the count.
    virtual int enumerateAdapters(std::vector<AdapterEntry>& out) = 0;
    // One ICMP echo; `target` is a dotted address or a host name (first 32 characters used).
    // `timeoutMs` is a protocol duration (scaled by the clock).
    virtual std::uint32_t echo(std::u16string_view target, long timeoutMs) = 0;
    // The same echo, given up (kEchoTimedOut) soon after `cancel` is set. Implementations that
    // cannot cut it short wait for the time-out.
    virtual std::uint32_t echoUntil(std::u16string_view target, long timeoutMs,
                                    const std::atomic<bool>& cancel) {
        (void)cancel;
        return echo(target, timeoutMs);
    }
    // The neighbour table of this network, or null where it cannot be asked (test networks).
    virtual NeighbourResolver* neighbours() { return nullptr; }
    // 0 after the flush command has run, -1 when it could not be started or was killed after
    // its time-out.
    virtual int flushArpCache() = 0;
};

inline constexpr long kStartupEchoTimeoutMs = 3000;

// The start-up check: enumerate (into `adapters`), echo the first adapter's gateway or network
// address + 1 with 3000 ms, pass on 0 or 11010.
NetworkCheckResult runStartupNetworkCheck(HostNetwork& net, std::vector<AdapterEntry>& adapters);

// The system implementation (Linux).
// The `ip` program by its absolute path (/usr/sbin/ip, else /sbin/ip where only that one is
// there): the flush may run as root, and must never run whatever "ip" a PATH finds first.
std::string ipCommandPath();
// The same choice among `candidates`: the first executable one, else the first.
std::string firstExecutable(const std::vector<std::string>& candidates);

class SystemHostNetwork final : public HostNetwork {
  public:
    SystemHostNetwork(const Clock& clock, TraceLog& log);
    int enumerateAdapters(std::vector<AdapterEntry>& out) override;
    std::uint32_t echo(std::u16string_view target, long timeoutMs) override;
    std::uint32_t echoUntil(std::u16string_view target, long timeoutMs,
                            const std::atomic<bool>& cancel) override;
    NeighbourResolver* neighbours() override { return &m_neighbours; }
    int flushArpCache() override;
    // The flush command line (tests replace it).
    void setFlushCommand(std::vector<std::string> argv) { m_flushCommand = std::move(argv); }

  private:
    const Clock& m_clock;
    TraceLog& m_log;
    SystemNeighbourResolver m_neighbours;
    std::vector<std::string> m_flushCommand{ipCommandPath(), "-4", "neigh", "flush", "all"};
};

// Free-standing forms of the system operations.
int enumerateSystemAdapters(std::vector<AdapterEntry>& out,
                            std::vector<std::string>* withoutCarrier = nullptr);
// `cancel`, when given, ends the wait early with kEchoTimedOut.
std::uint32_t icmpEcho(std::u16string_view target, long timeoutMs, const Clock& clock,
                       const std::atomic<bool>* cancel = nullptr);
// How long the ARP cache flush may run before it is killed (real time).
inline constexpr Millis kFlushCommandTimeout{5000};
// Runs `argv` as a child process with its output discarded and waits for it at most `timeout`.
// Returns 0 when it ran to its end; a non-zero exit status (no privileges) adds the trace line
// "ARP cache not flushed: ... exited with N ...". On a start failure writes "SetCmdNetshExc
// Error(%d)" and returns -1; a child still running after `timeout` is killed, with the trace line
// "SetCmdNetshExc Timeout(%ld ms) Killed", and -1 is returned.
int runFlushCommand(const std::vector<std::string>& argv, TraceLog& log,
                    Millis timeout = kFlushCommandTimeout);

// Pure part of the echo: does this received packet answer our request? `withIpHeader` for raw
// sockets; `checkId` false for datagram ICMP sockets, whose identifier the kernel owns.
bool isEchoReplyFor(const std::uint8_t* data, std::size_t length, bool withIpHeader,
                    std::uint32_t sourceHostOrder, std::uint32_t targetHostOrder, std::uint16_t id,
                    std::uint16_t sequence, bool checkId);
// Echo request header (8 bytes, no data) with its checksum.
void buildEchoRequest(std::uint8_t (&out)[8], std::uint16_t id, std::uint16_t sequence);

}  // namespace lanrove
