#pragma once
// IPv4 address texts and subnet arithmetic shared by every subnet check: the strict
// dotted-decimal parser, the address text rule of the address dialogs, and network / broadcast
// / host-part computations.
// Addresses are unsigned 32-bit numbers in host order (first octet most significant).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lanrove::ipv4 {

inline constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

// Exactly four decimal fields of 1 to 3 digits, each 0..255, separated by single dots.
std::optional<std::uint32_t> parse(std::string_view text);
std::optional<std::uint32_t> parse(std::u16string_view text);

// Like the classic address conversion: an unparsable text yields the all-ones address.
inline std::uint32_t fromText(std::string_view text) {
    return parse(text).value_or(kAllOnes);
}
inline std::uint32_t fromText(std::u16string_view text) {
    return parse(text).value_or(kAllOnes);
}

// A text that is empty or unparsable counts as "no address" (0), e.g. a missing gateway.
inline std::uint32_t fromTextOrZero(std::string_view text) {
    return parse(text).value_or(0);
}

std::string toText(std::uint32_t address);
std::u16string toText16(std::uint32_t address);

constexpr std::uint32_t networkOf(std::uint32_t address, std::uint32_t mask) {
    return address & mask;
}
constexpr std::uint32_t broadcastOf(std::uint32_t address, std::uint32_t mask) {
    return (address & mask) | ~mask;
}
constexpr std::uint32_t hostPart(std::uint32_t address, std::uint32_t mask) {
    return address & ~mask;
}
// Adds 1 to the last octet only: 255 wraps to 0 without a carry into the third octet.
constexpr std::uint32_t incrementLastOctet(std::uint32_t address) {
    return (address & 0xFFFFFF00u) | ((address + 1u) & 0xFFu);
}
// Number of leading one bits of a mask (a non-contiguous mask counts its leading run).
int prefixLength(std::uint32_t mask);
std::uint32_t maskFromPrefix(int prefix);

// The address text rule of the address dialogs: 1 to 260 characters, first character a digit,
// decimal fields of 1 to 3 digits separated by single dots, each 0..255, first field not 0,
// exactly four fields with a non-empty last one.
bool isValidAddressText(std::u16string_view text);

}  // namespace lanrove::ipv4
