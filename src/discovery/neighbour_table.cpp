#include "discovery/neighbour_table.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>

#include "support/unique_fd.h"

namespace lanrove {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint16_t kDiscardPort = 9;
constexpr milliseconds kPollPeriod{100};
// An entry that has not shown up this long after the datagram never will (the address went
// somewhere other than this link).
constexpr milliseconds kNoEntryLimit{1000};
// One netlink reply may not take longer than this.
constexpr int kNetlinkReplyMs = 500;

std::atomic<std::uint32_t>& dumpSequence() {
    static std::atomic<std::uint32_t> sequence{1};
    return sequence;
}

// One dump of the IPv4 neighbour table; false when the reply did not come in time or was bad.
bool readState(int fd, int ifIndex, std::uint32_t target, bool& found, std::uint16_t& state) {
    const std::uint32_t sequence = dumpSequence().fetch_add(1);
    const std::vector<std::uint8_t> request = buildNeighbourDumpRequest(sequence, ifIndex);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0)
        return false;
    found = false;
    std::vector<std::uint8_t> buffer(32768);
    const auto deadline = Clock::now() + milliseconds(kNetlinkReplyMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        switch (scanNeighbourDump(buffer.data(), static_cast<std::size_t>(n), sequence, ifIndex,
                                  target, found, state)) {
            case DumpScan::More:
                break;
            case DumpScan::Done:
                return true;
            case DumpScan::Error:
                return false;
        }
    }
}

long readLong(const std::string& path, long fallback) {
    std::ifstream in(path);
    long value = 0;
    if (in >> value) return value;
    return fallback;
}

}  // namespace

const char* outcomeName(NeighbourOutcome outcome) {
    switch (outcome) {
        case NeighbourOutcome::Resolved:
            return "resolved";
        case NeighbourOutcome::Failed:
            return "failed";
        case NeighbourOutcome::Undecided:
            return "undecided";
        case NeighbourOutcome::Unavailable:
            return "unavailable";
    }
    return "?";
}

NeighbourOutcome outcomeOfState(std::uint16_t state) {
    if ((state & (kNudReachable | kNudStale | kNudDelay | kNudProbe | kNudPermanent)) != 0)
        return NeighbourOutcome::Resolved;
    if ((state & kNudFailed) != 0) return NeighbourOutcome::Failed;
    if ((state & kNudNoArp) != 0) return NeighbourOutcome::Unavailable;
    return NeighbourOutcome::Undecided;
}

std::vector<std::uint8_t> buildNeighbourDumpRequest(std::uint32_t sequence, int ifIndex) {
    std::vector<std::uint8_t> out(NLMSG_LENGTH(sizeof(ndmsg)), 0);
    nlmsghdr header{};
    header.nlmsg_len = static_cast<std::uint32_t>(out.size());
    header.nlmsg_type = RTM_GETNEIGH;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    header.nlmsg_seq = sequence;
    ndmsg body{};
    body.ndm_family = AF_INET;
    body.ndm_ifindex = ifIndex;  // a hint only: older kernels dump every interface
    std::memcpy(out.data(), &header, sizeof header);
    std::memcpy(out.data() + NLMSG_HDRLEN, &body, sizeof body);
    return out;
}

DumpScan scanNeighbourDump(const std::uint8_t* data, std::size_t length, std::uint32_t sequence,
                           int ifIndex, std::uint32_t target, bool& found, std::uint16_t& state) {
    std::size_t offset = 0;
    while (offset + sizeof(nlmsghdr) <= length) {
        nlmsghdr header{};
        std::memcpy(&header, data + offset, sizeof header);
        if (header.nlmsg_len < sizeof(nlmsghdr) || offset + header.nlmsg_len > length)
            return DumpScan::Error;
        const std::uint8_t* body = data + offset + NLMSG_HDRLEN;
        const std::size_t bodyLength = header.nlmsg_len - NLMSG_HDRLEN;
        offset += NLMSG_ALIGN(header.nlmsg_len);
        if (header.nlmsg_seq != sequence) continue;  // an answer to an earlier question
        if (header.nlmsg_type == NLMSG_DONE) return DumpScan::Done;
        if (header.nlmsg_type == NLMSG_ERROR) return DumpScan::Error;
        if (header.nlmsg_type != RTM_NEWNEIGH || bodyLength < sizeof(ndmsg)) continue;
        ndmsg neighbour{};
        std::memcpy(&neighbour, body, sizeof neighbour);
        if (neighbour.ndm_family != AF_INET || neighbour.ndm_ifindex != ifIndex) continue;
        std::size_t at = NLMSG_ALIGN(sizeof(ndmsg));
        while (at + sizeof(rtattr) <= bodyLength) {
            rtattr attribute{};
            std::memcpy(&attribute, body + at, sizeof attribute);
            if (attribute.rta_len < sizeof(rtattr) || at + attribute.rta_len > bodyLength)
                return DumpScan::Error;
            if (attribute.rta_type == NDA_DST && attribute.rta_len == RTA_LENGTH(4)) {
                std::uint32_t address = 0;
                std::memcpy(&address, body + at + RTA_LENGTH(0), 4);
                if (ntohl(address) == target) {
                    found = true;
                    state = neighbour.ndm_state;
                }
            }
            at += RTA_ALIGN(attribute.rta_len);
        }
    }
    return DumpScan::More;
}

std::chrono::milliseconds resolutionLimit(long mcastProbes, long appProbes, long retransMs) {
    const long probes = std::clamp(mcastProbes, 0L, 100L) + std::clamp(appProbes, 0L, 100L);
    const long ms = std::max(probes, 1L) * std::clamp(retransMs, 10L, 60000L) + 1000;
    return milliseconds(std::clamp(ms, 1000L, 15000L));
}

std::chrono::milliseconds resolutionLimitFor(std::string_view ifName) {
    const std::string base = "/proc/sys/net/ipv4/neigh/" + std::string(ifName) + "/";
    return resolutionLimit(readLong(base + "mcast_solicit", 3), readLong(base + "app_solicit", 0),
                           readLong(base + "retrans_time_ms", 1000));
}

NeighbourOutcome SystemNeighbourResolver::resolve(const std::string& ifName, std::uint32_t local,
                                                  std::uint32_t target,
                                                  const std::function<bool()>& stop) {
    if (ifName.empty() || ifName.size() >= IF_NAMESIZE) return NeighbourOutcome::Unavailable;
    const int ifIndex = static_cast<int>(::if_nametoindex(ifName.c_str()));
    if (ifIndex <= 0) return NeighbourOutcome::Unavailable;
    UniqueFd netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (netlink.get() < 0) return NeighbourOutcome::Unavailable;
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    if (::bind(netlink.get(), reinterpret_cast<sockaddr*>(&self), sizeof self) < 0)
        return NeighbourOutcome::Unavailable;

    // The datagram that makes the kernel ask. Tied to the adapter's interface where the system
    // allows it, and in any case sent from the adapter's address.
    UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (udp.get() < 0) return NeighbourOutcome::Unavailable;
    ::setsockopt(udp.get(), SOL_SOCKET, SO_BINDTODEVICE, ifName.c_str(),
                 static_cast<socklen_t>(ifName.size()));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(local);
    if (local != 0 && ::bind(udp.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) < 0)
        return NeighbourOutcome::Unavailable;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDiscardPort);
    to.sin_addr.s_addr = htonl(target);
    const char payload = 0;
    if (::sendto(udp.get(), &payload, 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        return NeighbourOutcome::Unavailable;

    const auto start = Clock::now();
    const auto deadline = start + resolutionLimitFor(ifName);
    bool everSeen = false;
    for (;;) {
        bool found = false;
        std::uint16_t state = 0;
        if (readState(netlink.get(), ifIndex, target, found, state) && found) {
            everSeen = true;
            const NeighbourOutcome outcome = outcomeOfState(state);
            if (outcome != NeighbourOutcome::Undecided) return outcome;
        }
        const auto now = Clock::now();
        if (!everSeen && now - start >= kNoEntryLimit) return NeighbourOutcome::Unavailable;
        if (now >= deadline) return NeighbourOutcome::Undecided;
        if (stop && stop()) return NeighbourOutcome::Undecided;
        std::this_thread::sleep_for(std::min<Clock::duration>(kPollPeriod, deadline - now));
    }
}

}  // namespace lanrove
