#pragma once
// One network adapter of the PC that has an IPv4 address, as the discovery and setting runs
// use it: hardware address, first address, its mask and the first default gateway, all as
// 8-bit dotted texts. The interface name is kept so that sockets can be tied to the adapter.

#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace lanrove {

struct AdapterEntry {
    std::uint8_t mac[6];
    char szIp[32];
    char szMask[32];
    char szGateway[32];  // "0.0.0.0" when the adapter has no default gateway
    char szIfName[16];   // kernel interface name (for SO_BINDTODEVICE)

    void clear() { std::memset(this, 0, sizeof(*this)); }
    std::string_view ip() const { return view(szIp); }
    std::string_view mask() const { return view(szMask); }
    std::string_view gateway() const { return view(szGateway); }
    std::string_view ifName() const { return view(szIfName); }

    // Copies at most N-1 bytes and always terminates.
    template <std::size_t N>
    static void setText(char (&field)[N], std::string_view value) {
        const std::size_t n = value.size() < N - 1 ? value.size() : N - 1;
        std::memset(field, 0, N);
        if (n > 0) std::memcpy(field, value.data(), n);
    }

  private:
    template <std::size_t N>
    static std::string_view view(const char (&field)[N]) {
        std::size_t n = 0;
        while (n < N && field[n] != 0) ++n;
        return {field, n};
    }
};

static_assert(std::is_trivially_copyable_v<AdapterEntry>);

}  // namespace lanrove
