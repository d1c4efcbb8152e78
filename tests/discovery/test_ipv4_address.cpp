#include <gtest/gtest.h>

#include "discovery/ipv4_address.h"

using namespace lanrove;
using namespace lanrove::ipv4;

TEST(Ipv4Address, ParseIsStrictDottedDecimal) {
    EXPECT_EQ(parse("192.168.0.10"), 0xC0A8000Au);
    EXPECT_EQ(parse("0.0.0.0"), 0u);
    EXPECT_EQ(parse("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(parse(u"010.001.000.009"), 0x0A010009u);  // leading zeros stay decimal
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..2.3", "1.2.3.", ".1.2.3",
                            "1.2.3.4 ", "1.2.3.0004", "a.b.c.d", "1.2.3.-4"})
        EXPECT_FALSE(parse(bad).has_value()) << bad;
    EXPECT_EQ(fromText("bogus"), kAllOnes);
    EXPECT_EQ(fromTextOrZero(""), 0u);
    EXPECT_EQ(toText(0xC0A80001u), "192.168.0.1");
    EXPECT_EQ(toText16(0x0A000001u), u"10.0.0.1");
}

TEST(Ipv4Address, SubnetArithmetic) {
    const std::uint32_t a = *parse("192.168.0.10");
    const std::uint32_t m = *parse("255.255.255.0");
    EXPECT_EQ(networkOf(a, m), *parse("192.168.0.0"));
    EXPECT_EQ(broadcastOf(a, m), *parse("192.168.0.255"));
    EXPECT_EQ(hostPart(a, m), 10u);
    EXPECT_EQ(hostPart(broadcastOf(a, m), m), ~m);
    EXPECT_EQ(incrementLastOctet(*parse("192.168.0.1")), *parse("192.168.0.2"));
    // 255 wraps to 0 without carrying into the third octet.
    EXPECT_EQ(incrementLastOctet(*parse("10.1.2.255")), *parse("10.1.2.0"));
    EXPECT_EQ(prefixLength(m), 24);
    EXPECT_EQ(prefixLength(0), 0);
    EXPECT_EQ(prefixLength(kAllOnes), 32);
    EXPECT_EQ(maskFromPrefix(20), *parse("255.255.240.0"));
    EXPECT_EQ(maskFromPrefix(0), 0u);
}

TEST(Ipv4Address, AddressTextRule) {
    for (const char16_t* good : {u"192.168.0.20", u"1.0.0.0", u"255.255.255.255", u"10.0.0.001"})
        EXPECT_TRUE(isValidAddressText(good));
    for (const char16_t* bad :
         {u"", u"0.1.2.3", u".1.2.3", u"1.2.3", u"1.2.3.", u"1.2.3.4.5", u"1..2.3", u"1.2.3.256",
          u"1.2.3.1000", u"a.2.3.4", u"1.2.3.4x", u"1.2.3.4 ", u" 1.2.3.4", u"1.2.3.-4"})
        EXPECT_FALSE(isValidAddressText(bad));
    EXPECT_FALSE(isValidAddressText(std::u16string(261, u'1')));
}
