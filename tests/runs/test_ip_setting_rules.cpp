#include <gtest/gtest.h>

#include "discovery/ipv4_address.h"
#include "runs/ip_setting_rules.h"

using namespace lanrove;

namespace {
AdapterEntry adapter(const char* ip, const char* mask, const char* gw) {
    AdapterEntry a;
    a.clear();
    AdapterEntry::setText(a.szIp, ip);
    AdapterEntry::setText(a.szMask, mask);
    AdapterEntry::setText(a.szGateway, gw);
    return a;
}
const AdapterEntry kLan = adapter("192.168.0.10", "255.255.255.0", "192.168.0.1");
}  // namespace

TEST(AutoSettingRules, StartPrefillAndClamp) {
    EXPECT_EQ(autoStartPrefill(kLan), u"192.168.0.2");
    EXPECT_EQ(autoStartPrefill(adapter("192.168.0.10", "255.255.255.0", "0.0.0.0")),
              u"192.168.0.1");
    // Only the last octet counts up: .255 wraps to .0 without a carry.
    EXPECT_EQ(autoStartPrefill(adapter("10.1.2.3", "255.255.0.0", "10.1.0.255")), u"10.1.0.0");
    const auto clamp = [](const char* text) {
        return ipv4::toText(clampAutoStart(kLan, ipv4::fromText(text)));
    };
    EXPECT_EQ(clamp("10.0.0.5"), "192.168.0.1");
    EXPECT_EQ(clamp("192.168.1.7"), "192.168.0.254");
    EXPECT_EQ(clamp("192.168.0.77"), "192.168.0.77");
    EXPECT_EQ(clampAutoStart(kLan, 0), 0u);
}

TEST(AutoSettingRules, CandidateListAndRangeErrors) {
    const AutoRangeResult open = checkAutoRange(kLan, u"192.168.0.20", u"");
    ASSERT_EQ(open.check, SettingCheck::Ok);
    ASSERT_EQ(open.candidates.count(), 235u);
    EXPECT_EQ(open.candidates.front(), u"192.168.0.20");
    EXPECT_EQ(open.candidates.back(), u"192.168.0.254");
    EXPECT_EQ(checkAutoRange(kLan, u"192.168.0.20", u"0.0.0.0").candidates.count(), 235u);
    EXPECT_EQ(checkAutoRange(kLan, u"192.168.0.20", u"192.168.0.24").candidates.count(), 5u);
    EXPECT_EQ(checkAutoRange(kLan, u"192.168.0.20", u"192.168.0.20").candidates.count(), 1u);

    // A /23 range passes the .255 and .0 in its middle: they are host addresses there.
    const AdapterEntry wide = adapter("172.16.0.9", "255.255.254.0", "172.16.0.1");
    const AutoRangeResult mid = checkAutoRange(wide, u"172.16.0.254", u"172.16.1.1");
    EXPECT_EQ(mid.candidates.all(), (std::vector<std::u16string>{u"172.16.0.254", u"172.16.0.255",
                                                                 u"172.16.1.0", u"172.16.1.1"}));

    struct Bad {
        const char16_t* from;
        const char16_t* to;
        SettingCheck check;
        int focus;
    };
    for (const Bad& b : {
             Bad{u"192.168.0.20", u"192.168.0.19", SettingCheck::Illegal, kIdFieldEnd},
             Bad{u"192.168.0.20", u"192.168.1.5", SettingCheck::Illegal, kIdFieldEnd},
             Bad{u"0.1.2.3", u"", SettingCheck::Illegal, kIdFieldIp},
             Bad{u"192.168.0", u"", SettingCheck::Illegal, kIdFieldIp},
             Bad{u"192.168.0.1000", u"", SettingCheck::Illegal, kIdFieldIp},
             Bad{u"10.0.0.5", u"", SettingCheck::Illegal, kIdFieldIp},
             Bad{u"192.168.0.0", u"", SettingCheck::HostPart, kIdFieldIp},
             Bad{u"192.168.0.255", u"", SettingCheck::HostPart, kIdFieldIp},
         }) {
        const AutoRangeResult r = checkAutoRange(kLan, b.from, b.to);
        EXPECT_EQ(r.check, b.check) << std::string(b.from, b.from + 3);
        EXPECT_EQ(r.focus, b.focus);
        EXPECT_TRUE(r.candidates.empty());
    }
    EXPECT_STREQ(checkAutoRange(kLan, u"0.1.2.3", u"").eventMessage,
                 "The automatic setting is illegal");
    EXPECT_STREQ(checkAutoRange(kLan, u"192.168.0.0", u"").eventMessage,
                 "The IP address setting is illegal");
}

TEST(ManualSettingRules, FieldRulesInTheDialogsOrder) {
    EXPECT_TRUE(isValidPortText(u"65535"));
    EXPECT_TRUE(isValidPortText(u"0"));
    EXPECT_FALSE(isValidPortText(u"65536"));
    EXPECT_FALSE(isValidPortText(u"8a"));
    EXPECT_FALSE(isValidPortText(u""));
    EXPECT_FALSE(isValidPortText(u"000080"));
    EXPECT_TRUE(isContiguousMask(0xFFFFFFFFu));
    EXPECT_TRUE(isContiguousMask(0));
    EXPECT_TRUE(isContiguousMask(0xFFFFFE00u));
    EXPECT_FALSE(isContiguousMask(0xFFFF00FFu));

    const auto check = [](ManualFields f) { return checkManualFields(kLan, f); };
    const ManualFields good{u"192.168.0.50", u"255.255.255.0", u"192.168.0.1", u"80"};
    EXPECT_EQ(check(good).check, SettingCheck::Ok);
    EXPECT_FALSE(check(good).unreachableAfter);

    ManualFields f = good;
    f.mask = u"255.255.0.255";
    EXPECT_EQ(check(f).check, SettingCheck::Mask);
    EXPECT_EQ(check(f).focus, kIdFieldMask);
    EXPECT_STREQ(check(f).eventMessage, "The subnetmask setting is illegal");
    f.mask = u"255.255.255.255";
    EXPECT_EQ(check(f).check, SettingCheck::Ok);

    f = good;
    f.ip = u"192.168.0.0";
    EXPECT_EQ(check(f).check, SettingCheck::HostPart);
    EXPECT_EQ(check(f).focus, kIdFieldIp);
    f.mask = u"255.255.0.0";  // the host part is taken with the adapter's mask
    EXPECT_EQ(check(f).check, SettingCheck::HostPart);

    // Syntax first, the first failing field in dialog order gets the focus.
    f = good;
    f.gateway = u"";
    f.port = u"65536";
    EXPECT_EQ(check(f).check, SettingCheck::Illegal);
    EXPECT_EQ(check(f).focus, kIdFieldGateway);
    EXPECT_STREQ(check(f).eventMessage, "The manual setting is illegal");
    f.gateway = good.gateway;
    EXPECT_EQ(check(f).focus, kIdFieldPort);

    f = good;
    f.gateway = u"10.0.0.1";
    EXPECT_TRUE(check(f).unreachableAfter);
    f = good;
    f.ip = u"10.0.0.50";
    EXPECT_TRUE(check(f).unreachableAfter);
}

TEST(LoginRules, FieldsAndTheStepBeforeTheDialog) {
    EXPECT_FALSE(isValidLoginText(u"abc"));
    EXPECT_FALSE(isValidLoginText(u"ad-min"));
    EXPECT_FALSE(isValidLoginText(u"ad min"));
    EXPECT_TRUE(isValidLoginText(std::u16string(32, u'a')));
    EXPECT_FALSE(isValidLoginText(std::u16string(33, u'a')));
    EXPECT_EQ(checkLoginFields(u"abc", u"vorly", u"80").focus, kIdLoginUser);
    EXPECT_EQ(checkLoginFields(u"vorly", u"vor", u"80").focus, kIdLoginPassword);
    EXPECT_EQ(checkLoginFields(u"vorly", u"vorly", u"8a").focus, kIdLoginPort);
    EXPECT_TRUE(checkLoginFields(u"vorly", u"vorly", u"443").ok);

    EXPECT_EQ(manualLoginStep(false, true, false), LoginStep::Skip);
    EXPECT_EQ(manualLoginStep(false, false, false), LoginStep::AskPrefilled);
    EXPECT_EQ(manualLoginStep(true, false, false), LoginStep::TestDefault);
    EXPECT_EQ(manualLoginStep(true, false, true), LoginStep::AskPrefilled);
    EXPECT_EQ(manualLoginStep(false, true, true), LoginStep::AskPrefilled);
}
