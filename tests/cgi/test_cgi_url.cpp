// Base URL rules, credentials, subnet test and request paths of the camera client.
#include <gtest/gtest.h>

#include "cgi/cgi.h"

using namespace lanrove;

namespace {

std::u16string url(std::u16string_view ip, std::u16string_view port, std::u16string_view ssl) {
    return CCGI::MakeBaseUrl(ip, port, ssl);
}

}  // namespace

TEST(MakeBaseUrl, PlainAddresses) {
    EXPECT_EQ(url(u"192.168.0.2/", u"80", u"0"), u"http://192.168.0.2:80/");
    EXPECT_EQ(url(u"10.0.0.7", u"443", u"1"), u"https://10.0.0.7:443/");
    // Anything but exactly "1" is HTTP.
    EXPECT_EQ(url(u"10.0.0.7", u"8080", u""), u"http://10.0.0.7:8080/");
    EXPECT_EQ(url(u"10.0.0.7", u"8080", u"2"), u"http://10.0.0.7:8080/");
    EXPECT_EQ(url(u"10.0.0.7", u"8080", u"1 "), u"http://10.0.0.7:8080/");
    // Only one trailing slash is dropped.
    EXPECT_EQ(url(u"10.0.0.7//", u"80", u"0"), u"http://10.0.0.7/:80/");
}

TEST(MakeBaseUrl, SchemesInTheAddress) {
    EXPECT_EQ(url(u"https://10.0.0.7", u"443", u"1"), u"https://10.0.0.7:443/");
    EXPECT_EQ(url(u"http://10.0.0.7/", u"80", u"0"), u"http://10.0.0.7:80/");
    EXPECT_EQ(url(u"http://10.0.0.7", u"443", u"1"), u"ERROR");
    EXPECT_EQ(url(u"https://10.0.0.7", u"80", u"0"), u"ERROR");
    EXPECT_EQ(url(u"x-https://10.0.0.7", u"443", u"1"), u"ERROR");
    EXPECT_EQ(url(u"x-http://10.0.0.7", u"80", u"0"), u"ERROR");
}

TEST(MakeBaseUrl, ErrorUrlNeverOpensARequest) {
    TraceLog log;
    WireCodec codec;
    ScaledClock clock(0.01);
    CCGI cgi(clock, log, codec);
    CameraEntry e{};
    e.clear();
    setField(e.szNo, std::u16string_view(u"1"));
    setField(e.szIp, std::u16string_view(u"http://127.0.0.1"));
    setField(e.szPort, std::u16string_view(u"1"));
    setField(e.szSsl, std::u16string_view(u"1"));
    CgiSessionSlot slot;
    EXPECT_EQ(cgi.ConnectInitSess(e, slot, false), kCgiFailed);
    EXPECT_EQ(cgi.SendCommand(e, slot, "cgi-bin/lang.cgi"), kCgiFailed);
    EXPECT_FALSE(IsHttpUrl("ERRORcgi-bin/lang.cgi"));
    EXPECT_FALSE(IsHttpUrl("ftp://127.0.0.1:21/"));
    EXPECT_TRUE(IsHttpUrl("https://127.0.0.1:443/cgi-bin/lang.cgi"));
}

TEST(Credentials, Base64AndLongCredentials) {
    EXPECT_EQ(CCGI::Base64(""), "");
    EXPECT_EQ(CCGI::Base64("f"), "Zg==");
    EXPECT_EQ(CCGI::Base64("fo"), "Zm8=");
    EXPECT_EQ(CCGI::Base64("foo"), "Zm9v");
    EXPECT_EQ(CCGI::Base64(std::string_view("\xFF\xFE\x00", 3)), "//4A");
    TraceLog log;
    WireCodec codec("CP1252");
    CCGI cgi(defaultClock(), log, codec);
    EXPECT_EQ(cgi.BasicCredentials(u"Aladdin", u"open sesame"),
              "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    // Non-ASCII characters go out as single code-page bytes.
    EXPECT_EQ(cgi.BasicCredentials(u"\u00E9", u""), "Basic " + CCGI::Base64("\xE9:"));
    // The longest credentials a record holds (63 + 63 characters) encode whole.
    const std::u16string user(63, u'u');
    const std::u16string password(63, u'p');
    const std::string basic = cgi.BasicCredentials(user, password);
    EXPECT_EQ(basic, "Basic " + CCGI::Base64(std::string(63, 'u') + ":" + std::string(63, 'p')));
    EXPECT_EQ(basic.size(), 6u + 172u);
}

TEST(Subnet, InsideAndOutside) {
    const char* ip = "192.168.0.10";
    const char* mask = "255.255.255.0";
    EXPECT_EQ(CCGI::IsOutsideHostSubnet(ip, mask, "192.168.0.0"), 0);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet(ip, mask, "192.168.0.255"), 0);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet(ip, mask, "192.168.0.77"), 0);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet(ip, mask, "192.168.1.1"), 1);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet(ip, mask, "192.167.255.255"), 1);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet(ip, mask, "0.0.0.0"), 0);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet(ip, mask, "not an address"), 1);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet("10.1.2.3", "255.0.0.0", "10.255.255.255"), 0);
    // Nothing unreadable is ever inside, not even in a subnet that spans every address.
    EXPECT_EQ(CCGI::IsOutsideHostSubnet("10.1.2.3", "0.0.0.0", "not an address"), 1);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet("10.1.2.3", "0.0.0.0", "10.9.9.9"), 0);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet("10.1.2.3", "", "10.1.2.4"), 1);
    EXPECT_EQ(CCGI::IsOutsideHostSubnet("", "255.0.0.0", "10.1.2.4"), 1);
}

TEST(CommandPaths, FixedFormsAndEncodedNetValues) {
    EXPECT_EQ(CCGI::AspectRatioPath(1), "cgi-bin/codec_stream.cgi?aspect_ratio=1");
    EXPECT_EQ(CCGI::RebootPath(1700000000LL), "cgi-bin/opecmd.cgi?ope=35&1700000000");
    EXPECT_EQ(CCGI::FactoryDefaultPath(0), "cgi-bin/opecmd.cgi?ope=36&num=0");
    TraceLog log;
    WireCodec codec("CP1252");
    CCGI cgi(defaultClock(), log, codec);
    CameraEntry e{};
    e.clear();
    setField(e.szTitle, std::u16string_view(u"Gate #2 & Caf\u00E9"));
    setField(e.szSsl, std::u16string_view(u"1"));
    setField(e.szPort, std::u16string_view(u"8443"));
    EXPECT_EQ(cgi.NetCgiPath(e),
              "cgi-bin/net.cgi?title=Gate%20%232%20%26%20Caf%E9&img_encryption=1&port=8443");
}
