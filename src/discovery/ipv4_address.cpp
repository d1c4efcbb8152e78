#include "discovery/ipv4_address.h"

namespace lanrove::ipv4 {

namespace {

template <typename Char>
std::optional<std::uint32_t> parseImpl(std::basic_string_view<Char> text) {
    std::uint32_t result = 0;
    int fields = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (true) {
        std::uint32_t value = 0;
        int digits = 0;
        while (i < n && text[i] >= Char('0') && text[i] <= Char('9')) {
            if (++digits > 3) return std::nullopt;
            value = value * 10 + static_cast<std::uint32_t>(text[i] - Char('0'));
            ++i;
        }
        if (digits == 0 || value > 255) return std::nullopt;
        result = (result << 8) | value;
        ++fields;
        if (i == n) break;
        if (text[i] != Char('.') || fields == 4) return std::nullopt;
        ++i;
    }
    if (fields != 4) return std::nullopt;
    return result;
}

}  // namespace

std::optional<std::uint32_t> parse(std::string_view text) {
    return parseImpl(text);
}
std::optional<std::uint32_t> parse(std::u16string_view text) {
    return parseImpl(text);
}

std::string toText(std::uint32_t a) {
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 0xFF) + '.' +
           std::to_string((a >> 8) & 0xFF) + '.' + std::to_string(a & 0xFF);
}

std::u16string toText16(std::uint32_t address) {
    const std::string s = toText(address);
    return std::u16string(s.begin(), s.end());
}

int prefixLength(std::uint32_t mask) {
    int n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)) != 0) ++n;
    return n;
}

std::uint32_t maskFromPrefix(int prefix) {
    if (prefix <= 0) return 0;
    if (prefix >= 32) return kAllOnes;
    return kAllOnes << (32 - prefix);
}

bool isValidAddressText(std::u16string_view text) {
    if (text.empty() || text.size() > 260) return false;
    if (text[0] < u'0' || text[0] > u'9') return false;
    int fields = 0;
    int digits = 0;
    unsigned value = 0;
    unsigned firstValue = 0;
    for (char16_t c : text) {
        if (c >= u'0' && c <= u'9') {
            if (++digits > 3) return false;
            value = value * 10 + static_cast<unsigned>(c - u'0');
            if (value > 255) return false;
        } else if (c == u'.') {
            if (digits == 0) return false;  // empty field or double dot
            if (fields == 0) firstValue = value;
            ++fields;
            if (fields > 3) return false;
            digits = 0;
            value = 0;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;  // empty last field
    if (fields == 0) firstValue = value;
    ++fields;
    return fields == 4 && firstValue != 0;
}

}  // namespace lanrove::ipv4
