#include "discovery/arp_probe.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "support/unique_fd.h"

namespace lanrove {

namespace {

constexpr std::uint16_t kEtherTypeArp = 0x0806;
constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kHardwareEthernet = 1;
constexpr std::uint16_t kOpRequest = 1;
constexpr std::uint16_t kOpReply = 2;
// The second round of requests, for a frame lost on the way.
constexpr std::chrono::milliseconds kResendAfter{100};
// The most hardware addresses kept for one address.
constexpr std::size_t kMaxClaimants = 16;

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v & 0xFF);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t get32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace

std::string hardwareText(const HardwareAddress& mac) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

std::array<std::uint8_t, kArpPacketSize> buildArpRequest(const HardwareAddress& ownMac,
                                                         std::uint32_t local,
                                                         std::uint32_t target) {
    std::array<std::uint8_t, kArpPacketSize> p{};
    put16(&p[0], kHardwareEthernet);
    put16(&p[2], kEtherTypeIpv4);
    p[4] = 6;
    p[5] = 4;
    put16(&p[6], kOpRequest);
    std::copy(ownMac.begin(), ownMac.end(), p.begin() + 8);
    put32(&p[14], local);
    // Target hardware address stays zero: it is what is asked for.
    put32(&p[24], target);
    return p;
}

std::optional<ArpReply> parseArpReply(const std::uint8_t* data, std::size_t length) {
    if (data == nullptr || length < kArpPacketSize) return std::nullopt;
    if (get16(data) != kHardwareEthernet || get16(data + 2) != kEtherTypeIpv4 || data[4] != 6 ||
        data[5] != 4 || get16(data + 6) != kOpReply)
        return std::nullopt;
    ArpReply r;
    std::copy(data + 8, data + 14, r.senderMac.begin());
    r.senderIp = get32(data + 14);
    return r;
}

std::optional<ArpAnswers> askArp(const std::string& ifName, const HardwareAddress& ownMac,
                                 std::uint32_t local, const std::vector<std::uint32_t>& targets,
                                 std::chrono::milliseconds window) {
    const unsigned ifIndex = ::if_nametoindex(ifName.c_str());
    if (ifIndex == 0) return std::nullopt;
    const UniqueFd fd(
        ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(kEtherTypeArp)));
    if (fd.get() < 0) return std::nullopt;
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(kEtherTypeArp);
    at.sll_ifindex = static_cast<int>(ifIndex);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return std::nullopt;

    sockaddr_ll to = at;
    to.sll_halen = 6;
    std::fill(std::begin(to.sll_addr), std::begin(to.sll_addr) + 6, 0xFF);
    const std::set<std::uint32_t> wanted(targets.begin(), targets.end());
    auto sendAll = [&] {
        for (std::uint32_t t : wanted) {
            const auto packet = buildArpRequest(ownMac, local, t);
            // A full send queue loses a request; the second round covers it.
            (void)::sendto(fd.get(), packet.data(), packet.size(), 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
    };

    ArpAnswers answers;
    using SteadyClock = std::chrono::steady_clock;
    const auto start = SteadyClock::now();
    const auto end = start + window;
    bool resent = false;
    sendAll();
    for (;;) {
        const auto now = SteadyClock::now();
        if (now >= end) break;
        if (!resent && now >= start + kResendAfter) {
            sendAll();
            resent = true;
        }
        const auto until = resent ? end : std::min(end, start + kResendAfter);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        pollfd p{fd.get(), POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::max<long long>(1, wait.count())));
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        std::uint8_t buf[256];
        // A segment flooding replies never keeps the drain going past the window.
        while (SteadyClock::now() < end) {
            const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
            if (n < 0) break;
            const auto reply = parseArpReply(buf, static_cast<std::size_t>(n));
            if (!reply || wanted.count(reply->senderIp) == 0) continue;
            // Two claimants already make a conflict; a few more are kept for the evidence,
            // not an unbounded set of forged ones.
            std::set<HardwareAddress>& claimants = answers[reply->senderIp];
            if (claimants.size() < kMaxClaimants) claimants.insert(reply->senderMac);
        }
    }
    return answers;
}

}  // namespace lanrove
