#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/datagram_codec.h"

using namespace lanrove;
using namespace lanrove::dgram;

namespace {

CameraEntry settingsRecord(std::uint16_t version, const char* title) {
    CameraEntry r;
    r.clear();
    setField(r.szNo, std::string_view("1"));
    setField(r.szMac, std::string_view("00:80:45:0A:0B:0C"));
    setField(r.szIp, std::string_view("192.168.0.50"));
    setField(r.szMask, std::string_view("255.255.255.0"));
    setField(r.szGateway, std::string_view("192.168.0.1"));
    setField(r.szUser, std::string_view("vorly"));
    setField(r.szPassword, std::string_view("vorly"));
    setField(r.szPort, std::string_view("8080"));
    setField(r.szSsl, std::string_view("1"));
    setField(r.szTitle, std::string_view(title));
    r.bNetOption = 7;
    r.wProtoVer = version;
    return r;
}

// A search reply as a camera sends it: header, addresses and (version 2) the variable part.
struct ReplyBuilder {
    Datagram d{};
    std::size_t pos = 53;
    explicit ReplyBuilder(std::uint16_t version) {
        putU16(d.data(), kSearchReply);
        const std::uint8_t mac[6] = {0x00, 0x80, 0x45, 0xAB, 0xCD, 0xEF};
        std::memcpy(d.data() + 2, mac, 6);
        putU16(d.data() + 10, version);
        putAddress(d.data() + 32, 0xC0A80002);
        putAddress(d.data() + 36, 0xFFFFFF00);
        putAddress(d.data() + 40, 0xC0A80001);
        putU16(d.data() + 46, 201);
        d[48] = 1;
        d[49] = 3;
        d[50] = 1;
        putU16(d.data() + 51, 443);
    }
    // A length field followed by `text` and its zero byte; `length` overrides the true length.
    ReplyBuilder& text(const std::string& t, int length = -1) {
        putU16(d.data() + pos, static_cast<std::uint16_t>(length < 0 ? t.size() + 1 : length));
        pos += 2;
        std::memcpy(d.data() + pos, t.data(), t.size());
        pos += t.size() + 1;
        return *this;
    }
};

}  // namespace

TEST(DatagramCodec, PcHeaderAndSearchRequest) {
    const std::uint8_t pc[6] = {1, 2, 3, 4, 5, 6};
    Datagram d;
    d.fill(0xEE);
    buildPcDatagram(d, kSearchRequest, pc, kArgSearch, nullptr, 0, 2);
    const std::uint8_t header[34] = {0x40, 0x31, 1, 2, 3, 4, 5, 6, 0, 1, 0, 2, 0, 1, 0, 1, 0,
                                     0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    EXPECT_EQ(std::memcmp(d.data(), header, sizeof header), 0);
    for (std::size_t i = sizeof header; i < kSize; ++i) ASSERT_EQ(d[i], 0) << i;

    const std::uint8_t camMac[6] = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    buildPcDatagram(d, kSearchAck, pc, kArgAck, camMac, 6, 0);
    EXPECT_EQ(getU16(d.data()), 0x8031);
    EXPECT_EQ(getU16(d.data() + 8), 3);
    EXPECT_EQ(std::memcmp(d.data() + 32, camMac, 6), 0);
    EXPECT_EQ(d[38], 0);
}

TEST(DatagramCodec, IpSettingPayloadVersion1Is18Bytes) {
    const CameraEntry r = settingsRecord(1, "CAM");
    Payload p;
    ASSERT_EQ(buildIpSettingPayload(r, WireCodec(), p), 18u);
    const std::uint8_t expected[18] = {0x00, 0x80, 0x45, 0x0A, 0x0B, 0x0C, 192, 168, 0,
                                       50,   255,  255,  255,  0,    192,  168, 0,   1};
    EXPECT_EQ(std::memcmp(p.data(), expected, 18), 0);
    for (std::size_t i = 18; i < p.size(); ++i) ASSERT_EQ(p[i], 0) << i;
}

TEST(DatagramCodec, IpSettingPayloadVersion2WithTitleCam) {
    const CameraEntry r = settingsRecord(2, "CAM");
    Payload p;
    ASSERT_EQ(buildIpSettingPayload(r, WireCodec(), p), 120u);
    EXPECT_EQ(getU16(p.data() + 18), 100);
    EXPECT_EQ(getU16(p.data() + 114), 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 20)),
              base64Encode("vorly:vorly"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 20)), "dm9ybHk6dm9ybHk=");
    EXPECT_EQ(p[110], 7);
    EXPECT_EQ(p[111], 1);
    EXPECT_EQ(getU16(p.data() + 112), 8080);
    EXPECT_EQ(std::memcmp(p.data() + 116, "CAM", 4), 0);  // with its zero byte
}

TEST(DatagramCodec, IpSettingPayloadEdgeTexts) {
    CameraEntry r = settingsRecord(2, "");
    setField(r.szIp, std::string_view("not.an.ip"));
    setField(r.szMac, std::string_view("garbage"));
    setField(r.szPort, std::string_view("80x"));
    setField(r.szSsl, std::string_view(""));
    Payload p;
    ASSERT_EQ(buildIpSettingPayload(r, WireCodec(), p), 117u);  // empty title: only its zero
    EXPECT_EQ(getU16(p.data() + 114), 1);
    EXPECT_EQ(getU16(p.data() + 18), 97);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p[static_cast<std::size_t>(i)], 0);
    EXPECT_EQ(getAddress(p.data() + 6), 0xFFFFFFFFu);  // unparsable address: all ones
    EXPECT_EQ(getU16(p.data() + 112), 80);
    EXPECT_EQ(p[111], 0);

    // Title bytes count in the wire code page, not in characters.
    r = settingsRecord(2, "");
    setField(r.szTitle, std::u16string_view(u"\u30AB\u30E1\u30E9"));
    ASSERT_EQ(buildIpSettingPayload(r, WireCodec("CP932"), p), 116u + 7u);
    EXPECT_EQ(getU16(p.data() + 114), 7);

    // Credentials whose Base64 would overrun the 90-byte field are cut, never spilled.
    r = settingsRecord(2, "T");
    setField(r.szUser, std::u16string_view(std::u16string(63, u'u')));
    setField(r.szPassword, std::u16string_view(std::u16string(63, u'p')));
    ASSERT_EQ(buildIpSettingPayload(r, WireCodec(), p), 118u);
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(p.data() + 20)), 88u);
    EXPECT_EQ(p[109], 0);
    EXPECT_EQ(p[110], 7);
}

TEST(DatagramCodec, Base64) {
    EXPECT_EQ(base64Encode(""), "");
    EXPECT_EQ(base64Encode("f"), "Zg==");
    EXPECT_EQ(base64Encode("fo"), "Zm8=");
    EXPECT_EQ(base64Encode("foo"), "Zm9v");
    EXPECT_EQ(base64Encode("admin:12345"), "YWRtaW46MTIzNDU=");
    std::string out;
    ASSERT_TRUE(base64Decode("YWRtaW46MTIzNDU=", out));
    EXPECT_EQ(out, "admin:12345");
    const std::string binary("\x00\xff\x10\x80", 4);
    ASSERT_TRUE(base64Decode(base64Encode(binary), out));
    EXPECT_EQ(out, binary);
    for (const char* bad : {"Zg=", "Z===", "Zg=a", "Zm9v!A==", "=Zm9", "Zm9vYg==Zm9v"}) {
        // A text that goes bad after a good quad leaves nothing half-decoded behind.
        EXPECT_FALSE(base64Decode(bad, out)) << bad;
        EXPECT_TRUE(out.empty()) << bad;
    }
}

TEST(DatagramCodec, MacTexts) {
    const std::uint8_t mac[6] = {0x00, 0x80, 0x45, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(macTextLower(mac), "00:80:45:ab:cd:ef");
    EXPECT_EQ(macTextUpper(mac), "00:80:45:AB:CD:EF");
    MacBytes parsed{};
    ASSERT_TRUE(parseMacText(std::string_view("00:80:45:ab:CD:ef"), parsed));
    EXPECT_EQ(std::memcmp(parsed.data(), mac, 6), 0);
    EXPECT_FALSE(parseMacText(std::string_view("00:80:45:ab:cd"), parsed));
    EXPECT_FALSE(parseMacText(std::string_view("00-80-45-ab-cd-ef"), parsed));
    EXPECT_FALSE(parseMacText(std::u16string_view(u"00:80:45:ab:cd:eg"), parsed));
    EXPECT_EQ(parsed[0], 0);
    EXPECT_EQ(decimalValue(u""), 0);
    EXPECT_EQ(decimalValue(u" 443abc"), 443);
    EXPECT_EQ(decimalValue(u"x1"), 0);
}

TEST(DatagramCodec, Version2SearchReply) {
    ReplyBuilder b(2);
    b.text("1.20").text("Lobby").text("KT-5200");
    CameraEntry e;
    ASSERT_TRUE(decodeSearchReply(b.d.data(), kSize, WireCodec(), e));
    EXPECT_EQ(fieldUtf8(e.szMac), "00:80:45:AB:CD:EF");
    EXPECT_EQ(fieldUtf8(e.szIp), "192.168.0.2");
    EXPECT_EQ(fieldUtf8(e.szMask), "255.255.255.0");
    EXPECT_EQ(fieldUtf8(e.szGateway), "192.168.0.1");
    EXPECT_EQ(e.wProtoVer, 2);
    EXPECT_EQ(e.dwResult, 201u);
    EXPECT_EQ(e.bFactory, 1);
    EXPECT_EQ(e.bNetOption, 3);
    EXPECT_EQ(fieldUtf8(e.szSsl), "1");
    EXPECT_EQ(fieldUtf8(e.szPort), "443");
    EXPECT_EQ(fieldUtf8(e.szFirmVer), "1.20");
    EXPECT_EQ(fieldUtf8(e.szTitle), "Lobby");
    EXPECT_EQ(fieldUtf8(e.szModel), "KT-5200");
    EXPECT_TRUE(fieldEmpty(e.szNo));  // the table numbers the record
}

TEST(DatagramCodec, TitleLengthZeroStillFindsModel) {
    ReplyBuilder b(2);
    b.text("2.00");
    putU16(b.d.data() + b.pos, 0);  // title length 0 and no title bytes at all
    b.pos += 2;
    b.text("KT-X");
    CameraEntry e;
    ASSERT_TRUE(decodeSearchReply(b.d.data(), kSize, WireCodec(), e));
    EXPECT_TRUE(fieldEmpty(e.szTitle));
    EXPECT_EQ(fieldUtf8(e.szModel), "KT-X");
    EXPECT_EQ(fieldUtf8(e.szFirmVer), "2.00");
}

TEST(DatagramCodec, ReplyTextsRunToTheirZeroBytePastAShortLength) {
    // A camera whose length field is smaller than its text: the text still runs to its zero
    // byte; the length only says where the next field starts.
    ReplyBuilder b(2);
    b.text("1.20.0003", 5);
    CameraEntry e;
    ASSERT_TRUE(decodeSearchReply(b.d.data(), kSize, WireCodec(), e));
    EXPECT_EQ(fieldUtf8(e.szFirmVer), "1.20.0003");

    ReplyBuilder t(2);
    t.text("2.00").text("Entrance Hall", 4);
    CameraEntry f;
    ASSERT_TRUE(decodeSearchReply(t.d.data(), kSize, WireCodec(), f));
    EXPECT_EQ(fieldUtf8(f.szFirmVer), "2.00");
    EXPECT_EQ(fieldUtf8(f.szTitle), "Entrance Hall");

    // Still bounded by the record's field: a long title with a short length keeps 63 characters.
    ReplyBuilder l(2);
    l.text("2.00").text(std::string(100, 'T'), 2);
    CameraEntry g;
    ASSERT_TRUE(decodeSearchReply(l.d.data(), kSize, WireCodec(), g));
    EXPECT_EQ(fieldUtf8(g.szTitle), std::string(63, 'T'));
}

TEST(DatagramCodec, Version1ReplyLeavesVersion2FieldsEmpty) {
    ReplyBuilder b(1);  // bytes 46..52 are set, as a sloppy camera might leave them
    b.text("1.0").text("T").text("M");
    CameraEntry e;
    ASSERT_TRUE(decodeSearchReply(b.d.data(), kSize, WireCodec(), e));
    EXPECT_EQ(e.wProtoVer, 1);
    EXPECT_TRUE(fieldEmpty(e.szSsl));
    EXPECT_TRUE(fieldEmpty(e.szPort));
    EXPECT_TRUE(fieldEmpty(e.szTitle));
    EXPECT_TRUE(fieldEmpty(e.szModel));
    EXPECT_TRUE(fieldEmpty(e.szFirmVer));
    EXPECT_EQ(e.dwResult, 0u);
    EXPECT_EQ(e.bFactory, 0);
    EXPECT_EQ(fieldUtf8(e.szIp), "192.168.0.2");
}

TEST(DatagramCodec, LengthFieldsPastTheEndAreCut) {
    // Firmware length claims 60000 bytes: the rest of the datagram is firmware text, cut at the
    // end; title and model find nothing.
    ReplyBuilder b(2);
    putU16(b.d.data() + 53, 60000);
    std::memset(b.d.data() + 55, 'x', kSize - 55);  // no zero byte up to the very end
    CameraEntry e;
    ASSERT_TRUE(decodeSearchReply(b.d.data(), kSize, WireCodec(), e));
    EXPECT_EQ(fieldView(e.szFirmVer).size(), 127u);  // field width keeps 127 characters
    EXPECT_TRUE(fieldEmpty(e.szTitle));
    EXPECT_TRUE(fieldEmpty(e.szModel));

    // A title length that ends exactly two bytes before the end: the model length field is the
    // last field; the model starts at the datagram's end and is empty.
    ReplyBuilder c(2);
    c.text("1");
    putU16(c.d.data() + c.pos, static_cast<std::uint16_t>(kSize - (c.pos + 2) - 2));
    CameraEntry f;
    ASSERT_TRUE(decodeSearchReply(c.d.data(), kSize, WireCodec(), f));
    EXPECT_TRUE(fieldEmpty(f.szModel));

    // The model runs to the last byte without a zero.
    ReplyBuilder m(2);
    m.text("1").text("T");
    putU16(m.d.data() + m.pos, 5);
    std::memset(m.d.data() + m.pos + 2, 'M', kSize - (m.pos + 2));
    CameraEntry g;
    ASSERT_TRUE(decodeSearchReply(m.d.data(), kSize, WireCodec(), g));
    EXPECT_EQ(fieldView(g.szModel).size(), 63u);
}

TEST(DatagramCodec, WrongSizesAreRejected) {
    ReplyBuilder b(2);
    b.text("1").text("T").text("M");
    CameraEntry e;
    EXPECT_FALSE(decodeSearchReply(b.d.data(), 511, WireCodec(), e));
    EXPECT_FALSE(decodeSearchReply(b.d.data(), 513, WireCodec(), e));
    SetReplyEntry r;
    EXPECT_FALSE(decodeSetReply(b.d.data(), 0, r));
}

TEST(DatagramCodec, ReplyTextsUseTheWireCodePage) {
    ReplyBuilder b(2);
    b.text("1").text("\x83\x4A\x83\x81\x83\x89").text("M");
    CameraEntry e;
    ASSERT_TRUE(decodeSearchReply(b.d.data(), kSize, WireCodec("CP932"), e));
    EXPECT_EQ(fieldView(e.szTitle), u"\u30AB\u30E1\u30E9");
}

TEST(DatagramCodec, SetReply) {
    Datagram d{};
    putU16(d.data(), kIpSettingReply);
    const std::uint8_t mac[6] = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    std::memcpy(d.data() + 2, mac, 6);
    putU16(d.data() + 32, 201);
    SetReplyEntry r;
    ASSERT_TRUE(decodeSetReply(d.data(), kSize, r));
    EXPECT_EQ(fieldUtf8(r.szMac), "0A:0B:0C:0D:0E:0F");
    EXPECT_EQ(r.wResult, 201);
}
