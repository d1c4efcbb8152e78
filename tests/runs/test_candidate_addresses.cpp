// The automatic setting's candidate addresses are produced one at a time: a /8 with a blank end
// is ready at once, costs no more than a /24, and the walk stops at the top of the range
// instead of wrapping around.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>

#include "discovery/ipv4_address.h"
#include "runs/ip_setting_rules.h"
#include "runs/settings_run.h"
#include "support/trace_log.h"

using namespace lanrove;

namespace {

AdapterEntry adapter(const char* ip, const char* mask, const char* gw = "0.0.0.0") {
    AdapterEntry a;
    a.clear();
    AdapterEntry::setText(a.szIp, ip);
    AdapterEntry::setText(a.szMask, mask);
    AdapterEntry::setText(a.szGateway, gw);
    return a;
}

std::vector<std::u16string> take(CandidateAddresses& c, int n) {
    std::vector<std::u16string> out;
    std::u16string a;
    while (static_cast<int>(out.size()) < n && c.next(a)) out.push_back(a);
    return out;
}

long maxRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Every address is free; counts the probes.
class AllFree final : public AddressProbe {
  public:
    std::atomic<int> calls{0};
    bool inUse(std::u16string_view) override {
        ++calls;
        return false;
    }
};

}  // namespace

TEST(CandidateAddresses, SlashEightWithABlankEndIsReadyAtOnceAndSmall) {
    const long rssBefore = maxRssKiB();
    const auto started = std::chrono::steady_clock::now();
    AutoRangeResult r =
        checkAutoRange(adapter("10.0.0.10", "255.0.0.0", "10.0.0.1"), u"10.0.0.2", u"");
    ASSERT_EQ(r.check, SettingCheck::Ok);
    // 10.0.0.2 to 10.255.255.254.
    EXPECT_EQ(r.candidates.count(), 16777213u);
    EXPECT_EQ(r.candidates.front(), u"10.0.0.2");
    EXPECT_EQ(r.candidates.back(), u"10.255.255.254");
    // The probe starts with the first batch and stops when enough are free.
    AllFree probe;
    TraceLog log;
    const FreeAddressResult found = findFreeAddresses(r.candidates, 3, probe, log);
    EXPECT_EQ(found.addresses,
              (std::vector<std::u16string>{u"10.0.0.2", u"10.0.0.3", u"10.0.0.4"}));
    EXPECT_EQ(probe.calls.load(), kProbeSlots);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    // A full list would take hundreds of megabytes; the lazy walk costs next to nothing (the
    // bound leaves room for a sanitizer's own bookkeeping).
    EXPECT_LT(maxRssKiB() - rssBefore, 64 * 1024);
    // The walk in a /8 passes .255 and .0 in its middle: they are host addresses there.
    CandidateAddresses c(ipv4::fromText(std::string_view("10.0.0.254")),
                         ipv4::fromText(std::string_view("10.0.1.1")), 0xFF000000u);
    EXPECT_EQ(take(c, 10), (std::vector<std::u16string>{u"10.0.0.254", u"10.0.0.255", u"10.0.1.0",
                                                        u"10.0.1.1"}));
}

TEST(CandidateAddresses, SlashSixteenAndSlashThirty) {
    const AutoRangeResult wide =
        checkAutoRange(adapter("172.16.5.9", "255.255.0.0"), u"172.16.0.1", u"");
    ASSERT_EQ(wide.check, SettingCheck::Ok);
    EXPECT_EQ(wide.candidates.count(), 65534u);
    EXPECT_EQ(wide.candidates.back(), u"172.16.255.254");
    CandidateAddresses walk = wide.candidates;
    std::u16string a;
    std::uint64_t n = 0;
    std::u16string last;
    while (walk.next(a)) {
        ++n;
        last = a;
    }
    EXPECT_EQ(n, 65534u);
    EXPECT_EQ(last, u"172.16.255.254");
    EXPECT_FALSE(walk.next(a));  // stays at the end

    // A /30 holds two host addresses.
    const AutoRangeResult small =
        checkAutoRange(adapter("192.168.7.5", "255.255.255.252"), u"192.168.7.5", u"");
    ASSERT_EQ(small.check, SettingCheck::Ok);
    EXPECT_EQ(small.candidates.count(), 2u);
    EXPECT_EQ(small.candidates.all(),
              (std::vector<std::u16string>{u"192.168.7.5", u"192.168.7.6"}));
    // A copy goes on from where the original stood.
    CandidateAddresses first = small.candidates;
    ASSERT_TRUE(first.next(a));
    CandidateAddresses second = first;
    ASSERT_TRUE(second.next(a));
    EXPECT_EQ(a, u"192.168.7.6");
}

TEST(CandidateAddresses, WalkEndsAtTheBroadcastAddressWithoutWrapping) {
    // The top /30 of the address space: .255 is its broadcast and the last 32-bit number.
    const AutoRangeResult top =
        checkAutoRange(adapter("255.255.255.253", "255.255.255.252"), u"255.255.255.253", u"");
    ASSERT_EQ(top.check, SettingCheck::Ok);
    EXPECT_EQ(top.candidates.all(),
              (std::vector<std::u16string>{u"255.255.255.253", u"255.255.255.254"}));
    // A raw range up to 255.255.255.255 stops there rather than going on at 0.0.0.0.
    CandidateAddresses raw(0xFFFFFFFDu, 0xFFFFFFFFu, 0xFFFFFF00u);
    EXPECT_EQ(raw.count(), 2u);
    EXPECT_EQ(take(raw, 10), (std::vector<std::u16string>{u"255.255.255.253", u"255.255.255.254"}));
    EXPECT_EQ(raw.back(), u"255.255.255.254");
    // An end at the subnet's broadcast address leaves it out.
    const AutoRangeResult lan = checkAutoRange(adapter("192.168.0.10", "255.255.255.0"),
                                               u"192.168.0.250", u"192.168.0.255");
    ASSERT_EQ(lan.check, SettingCheck::Ok);
    EXPECT_EQ(lan.candidates.count(), 5u);
    EXPECT_EQ(lan.candidates.back(), u"192.168.0.254");
    // /31 and /32 hold no host address.
    EXPECT_EQ(CandidateAddresses(0x0A000000u, 0x0A000001u, 0xFFFFFFFEu).count(), 0u);
    EXPECT_EQ(CandidateAddresses(0x0A000000u, 0x0A000000u, 0xFFFFFFFFu).count(), 0u);
    EXPECT_TRUE(CandidateAddresses(0x0A000000u, 0x0A000001u, 0xFFFFFFFEu).all().empty());
    // An explicit list is walked as it is.
    CandidateAddresses list(std::vector<std::u16string>{u"10.0.0.7", u"10.0.0.3"});
    EXPECT_EQ(list.count(), 2u);
    EXPECT_EQ(list.back(), u"10.0.0.3");
    EXPECT_EQ(take(list, 5), (std::vector<std::u16string>{u"10.0.0.7", u"10.0.0.3"}));
}
