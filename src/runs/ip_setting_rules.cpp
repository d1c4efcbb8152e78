#include "runs/ip_setting_rules.h"

#include "discovery/ipv4_address.h"

namespace lanrove {

AdapterSubnet::AdapterSubnet(const AdapterEntry& adapter)
    : address(ipv4::fromText(adapter.ip())),
      mask(ipv4::fromText(adapter.mask())),
      network(address & mask),
      broadcast((address & mask) | ~mask) {}

std::u16string autoStartPrefill(const AdapterEntry& adapter) {
    const AdapterSubnet subnet(adapter);
    std::uint32_t base = ipv4::fromText(adapter.gateway());
    if (base == 0) base = subnet.network;
    return ipv4::toText16(ipv4::incrementLastOctet(base));
}

std::uint32_t clampAutoStart(const AdapterEntry& adapter, std::uint32_t x) {
    if (x == 0) return x;
    const AdapterSubnet subnet(adapter);
    if (x > subnet.broadcast) return subnet.broadcast - 1;
    if (x < subnet.network) return subnet.network + 1;
    return x;
}

AutoRangeResult checkAutoRange(const AdapterEntry& adapter, std::u16string_view from,
                               std::u16string_view to) {
    AutoRangeResult r;
    const AdapterSubnet subnet(adapter);
    const auto illegal = [&r](int focus) {
        r.check = SettingCheck::Illegal;
        r.focus = focus;
        r.eventMessage = "The automatic setting is illegal";
        return r;
    };
    if (!ipv4::isValidAddressText(from)) return illegal(kIdFieldIp);
    const std::uint32_t first = ipv4::fromText(from);
    // The dialog's clamp keeps the start inside the adapter's subnet; a start typed elsewhere
    // (the command line) would hand out addresses the PC cannot reach.
    if (subnet.isOutside(first)) return illegal(kIdFieldIp);
    const auto parsedEnd = ipv4::parse(to);
    if (!to.empty() && !parsedEnd) return illegal(kIdFieldEnd);
    std::uint32_t last = parsedEnd.value_or(0);
    if (last != 0 && (last < first || last > subnet.broadcast || last < subnet.network))
        return illegal(kIdFieldEnd);
    if (!subnet.isHostAddress(first)) {
        r.check = SettingCheck::HostPart;
        r.focus = kIdFieldIp;
        r.eventMessage = "The IP address setting is illegal";
        return r;
    }
    if (last == 0) last = (first & subnet.mask) | ~subnet.mask;
    r.candidates = CandidateAddresses(first, last, subnet.mask);
    return r;
}

CandidateAddresses::CandidateAddresses(std::uint32_t first, std::uint32_t last, std::uint32_t mask)
    : m_first(first), m_last(last), m_mask(mask), m_next(first) {}

CandidateAddresses::CandidateAddresses(std::vector<std::u16string> list)
    : m_bList(true), m_list(std::move(list)), m_next(0) {}

bool CandidateAddresses::isHost(std::uint64_t x) const {
    const auto host = static_cast<std::uint32_t>(x) & ~m_mask;
    return host != 0 && host != ~m_mask;
}

namespace {
// Numbers in [0, n] that are `r` modulo `m`; n may be -1.
std::uint64_t countUpTo(std::int64_t n, std::uint64_t r, std::uint64_t m) {
    if (n < 0 || static_cast<std::uint64_t>(n) < r) return 0;
    return (static_cast<std::uint64_t>(n) - r) / m + 1;
}
}  // namespace

std::uint64_t CandidateAddresses::count() const {
    if (m_bList) return m_list.size();
    if (m_first > m_last) return 0;
    const std::uint64_t block = std::uint64_t{~m_mask} + 1;  // addresses per subnet
    const auto between = [&](std::uint64_t residue) {
        return countUpTo(static_cast<std::int64_t>(m_last), residue, block) -
               countUpTo(static_cast<std::int64_t>(m_first) - 1, residue, block);
    };
    std::uint64_t excluded = between(0);
    // A /32 has one residue for both ends; a /31 and wider have two.
    if (block > 1) excluded += between(block - 1);
    return m_last - m_first + 1 - excluded;
}

std::u16string CandidateAddresses::front() const {
    CandidateAddresses copy = *this;
    copy.m_next = m_bList ? 0 : m_first;
    std::u16string out;
    return copy.next(out) ? out : std::u16string();
}

std::u16string CandidateAddresses::back() const {
    if (m_bList) return m_list.empty() ? std::u16string() : m_list.back();
    // At most two numbers at the top are not host addresses.
    for (std::uint64_t x = m_last; x >= m_first && x + 3 > m_last; --x) {
        if (isHost(x)) return ipv4::toText16(static_cast<std::uint32_t>(x));
        if (x == 0) break;
    }
    return {};
}

bool CandidateAddresses::next(std::u16string& out) {
    if (m_bList) {
        if (m_next >= m_list.size()) return false;
        out = m_list[static_cast<std::size_t>(m_next++)];
        return true;
    }
    // 64-bit numbers: a range that ends at 255.255.255.255 stops instead of wrapping to 0.
    while (m_next <= m_last) {
        const std::uint64_t x = m_next++;
        if (!isHost(x)) continue;
        out = ipv4::toText16(static_cast<std::uint32_t>(x));
        return true;
    }
    return false;
}

std::vector<std::u16string> CandidateAddresses::all() const {
    CandidateAddresses copy = *this;
    copy.m_next = m_bList ? 0 : m_first;
    std::vector<std::u16string> out;
    std::u16string a;
    while (copy.next(a)) out.push_back(a);
    return out;
}

bool isValidPortText(std::u16string_view text) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<unsigned>(c - u'0');
    }
    return value <= 65535;
}

bool isContiguousMask(std::uint32_t mask) {
    // Inverted, a contiguous mask is 2^k - 1: adding 1 leaves no bit in common with it.
    const std::uint32_t inv = ~mask;
    return (inv & (inv + 1u)) == 0;
}

bool isValidLoginText(std::u16string_view text) {
    if (text.size() < 4 || text.size() > 32) return false;
    for (char16_t c : text) {
        const bool alnum =
            (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
        if (!alnum) return false;
    }
    return true;
}

ManualCheckResult checkManualFields(const AdapterEntry& adapter, const ManualFields& fields) {
    ManualCheckResult r;
    const auto fail = [&r](SettingCheck check, int focus, const char* message) {
        r.check = check;
        r.focus = focus;
        r.eventMessage = message;
        return r;
    };
    constexpr const char* kIllegal = "The manual setting is illegal";
    if (!ipv4::isValidAddressText(fields.ip))
        return fail(SettingCheck::Illegal, kIdFieldIp, kIllegal);
    if (!ipv4::isValidAddressText(fields.mask))
        return fail(SettingCheck::Illegal, kIdFieldMask, kIllegal);
    if (!ipv4::isValidAddressText(fields.gateway))
        return fail(SettingCheck::Illegal, kIdFieldGateway, kIllegal);
    if (!isValidPortText(fields.port)) return fail(SettingCheck::Illegal, kIdFieldPort, kIllegal);

    const AdapterSubnet subnet(adapter);
    const std::uint32_t ip = ipv4::fromText(fields.ip);
    if (!subnet.isHostAddress(ip))
        return fail(SettingCheck::HostPart, kIdFieldIp, "The IP address setting is illegal");
    if (!isContiguousMask(ipv4::fromText(fields.mask)))
        return fail(SettingCheck::Mask, kIdFieldMask, "The subnetmask setting is illegal");
    r.unreachableAfter = subnet.isOutside(ip) || subnet.isOutside(ipv4::fromText(fields.gateway));
    return r;
}

LoginCheckResult checkLoginFields(std::u16string_view user, std::u16string_view password,
                                  std::u16string_view port) {
    if (!isValidLoginText(user)) return {false, kIdLoginUser};
    if (!isValidLoginText(password)) return {false, kIdLoginPassword};
    if (!isValidPortText(port)) return {false, kIdLoginPort};
    return {};
}

LoginStep manualLoginStep(bool statusOk, bool statusNew, bool outsideSubnet) {
    if (outsideSubnet) return LoginStep::AskPrefilled;
    if (statusOk) return LoginStep::TestDefault;
    return statusNew ? LoginStep::Skip : LoginStep::AskPrefilled;
}

}  // namespace lanrove
