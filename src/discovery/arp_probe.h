#pragma once
// Who answers ARP for an address: one request per address on an adapter's segment, and every
// reply collected for a short window. Unlike the neighbour table, which keeps one hardware
// address per entry, this sees each host that claims the address. Needs a packet socket
// (CAP_NET_RAW); without one nothing is measured.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lanrove {

using HardwareAddress = std::array<std::uint8_t, 6>;

// "00:80:45:00:01:02" (upper-case hex, as the search shows MACs).
std::string hardwareText(const HardwareAddress& mac);

// The hardware addresses that answered, per target (host order), at most 16 of them. A
// target nobody answered has no entry.
using ArpAnswers = std::map<std::uint32_t, std::set<HardwareAddress>>;

// Sends one request for each target from `local` (host order) with hardware address `ownMac`
// on interface `ifName`, again after a short pause for a lost frame, and collects replies
// until `window` has passed (an overall limit). nullopt when no packet socket could be opened
// or bound (no privilege, no such interface).
std::optional<ArpAnswers> askArp(const std::string& ifName, const HardwareAddress& ownMac,
                                 std::uint32_t local, const std::vector<std::uint32_t>& targets,
                                 std::chrono::milliseconds window);

// ---- Pure parts, tested without a network ----

inline constexpr std::size_t kArpPacketSize = 28;

// An Ethernet/IPv4 ARP request for `target` (all addresses host order).
std::array<std::uint8_t, kArpPacketSize> buildArpRequest(const HardwareAddress& ownMac,
                                                         std::uint32_t local, std::uint32_t target);

struct ArpReply {
    std::uint32_t senderIp = 0;  // host order
    HardwareAddress senderMac{};
};
// A reply (operation 2) for Ethernet/IPv4; nullopt for anything else or a short packet.
std::optional<ArpReply> parseArpReply(const std::uint8_t* data, std::size_t length);

}  // namespace lanrove
