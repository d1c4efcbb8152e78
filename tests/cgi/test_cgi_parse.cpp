// Reply parsing of the camera client: key lookup, status replies, recording settings.
#include <gtest/gtest.h>

#include "cgi/cgi_parse.h"

using namespace lanrove;

namespace {

const WireCodec kCodec("CP1252");

std::optional<std::string> find(std::string_view reply, std::string_view key) {
    return FindValueBytes(reply, key);
}

CameraEntry emptyEntry(std::uint16_t proto) {
    CameraEntry e{};
    e.clear();
    e.wProtoVer = proto;
    return e;
}

}  // namespace

TEST(FindValue, LineEndsAndOptionalClosingParenthesis) {
    EXPECT_EQ(find("title:(Camera 1)\r\n", "title"), "Camera 1");
    EXPECT_EQ(find("title:(Camera 1)\n", "title"), "Camera 1");
    EXPECT_EQ(find("title:(Camera 1)\r", "title"), "Camera 1");
    EXPECT_EQ(find("title:(Camera 1\r\n", "title"), "Camera 1");
    // Only one closing parenthesis is taken off; inner ones stay.
    EXPECT_EQ(find("title:(a (b))\r\n", "title"), "a (b)");
    EXPECT_EQ(find("title:()\r\n", "title"), "");
    // Without a line end after the value there is no match; without "(" neither.
    EXPECT_EQ(find("title:(Camera 1)", "title"), std::nullopt);
    EXPECT_EQ(find("title:Camera 1\r\n", "title"), std::nullopt);
    EXPECT_EQ(find("", "title"), std::nullopt);
    // The value ends at the first line end, never reaching into the next line.
    EXPECT_EQ(find("title:(one\r\ntwo)\r\n", "title"), "one");
}

TEST(FindValue, FirstOccurrenceAnywhereWins) {
    // Not anchored at a line start: "MAIN Ver" also matches inside "NET MAIN Ver".
    EXPECT_EQ(find("NET MAIN Ver:(2.00)\r\nMAIN Ver:(1.00)\r\n", "MAIN Ver"), "2.00");
    EXPECT_EQ(find("MAIN Ver:(1.00)\r\nNET MAIN Ver:(2.00)\r\n", "MAIN Ver"), "1.00");
    EXPECT_EQ(find("a:(1)\r\na:(2)\r\n", "a"), "1");
    // A key is matched literally, also with pattern characters in it.
    EXPECT_EQ(find("x.y:(1)\r\nx*y:(2)\r\n", "x*y"), "2");
    EXPECT_EQ(find("xzy:(1)\r\n", "x.y"), std::nullopt);
}

TEST(FindValue, WideTargetIsCutAndMissingKeyLeavesItAlone) {
    char16_t field[8];
    setField(field, std::u16string_view(u"keep"));
    EXPECT_FALSE(FindValue(kCodec, "other:(1)\r\n", "title", field));
    EXPECT_EQ(fieldView(field), u"keep");
    EXPECT_TRUE(FindValue(kCodec, "title:(0123456789)\r\n", "title", field));
    EXPECT_EQ(fieldView(field), u"0123456");
    // Wire bytes go through the code page.
    std::u16string value;
    EXPECT_TRUE(FindValue(kCodec, "title:(Caf\xE9)\r\n", "title", value));
    EXPECT_EQ(value, u"Caf\u00E9");
}

TEST(LeadingInt, Forms) {
    EXPECT_EQ(LeadingInt(u"12ab"), 12);
    EXPECT_EQ(LeadingInt(u"-7"), -7);
    EXPECT_EQ(LeadingInt(u"x1"), 0);
    EXPECT_EQ(LeadingInt(u" 5"), 0);
    EXPECT_EQ(LeadingIntLenient(u" +5"), 5);
    EXPECT_EQ(LeadingInt(u"99999999999999999999"), 2147483647);
    EXPECT_EQ(LeadingInt(u"-99999999999999999999"), -2147483647 - 1);
}

TEST(CodecStatus, RtspRtpAndAspectRatio) {
    CameraEntry e = emptyEntry(1);
    ParseCodecStatus(kCodec, "rtsp_rtp:(0)\r\naspect_ratio:(1)\r\n", e);
    EXPECT_EQ(e.nRtspRtp, 1);  // 0 reported still counts as answering
    EXPECT_EQ(e.wAspectRatio, 1);
    ParseCodecStatus(kCodec, "rtsp_rtp:(2)\r\n", e);
    EXPECT_EQ(e.nRtspRtp, 2);
    EXPECT_EQ(e.wAspectRatio, 0);
    ParseCodecStatus(kCodec, "aspect_ratio:(65537)\r\n", e);
    EXPECT_EQ(e.nRtspRtp, 0);
    EXPECT_EQ(e.wAspectRatio, 1);  // cut to 16 bits
}

TEST(CamSetStatus, VersionOneTitle) {
    CameraEntry e = emptyEntry(1);
    ParseCamSetStatus(kCodec, "model:(X)\r\ntitle:(Gate North)\r\n", e);
    EXPECT_EQ(fieldView(e.szTitle), u"Gate North");
    EXPECT_TRUE(fieldEmpty(e.szCamMainVer));
    // A title longer than the field is cut to 63 characters.
    ParseCamSetStatus(kCodec, "title:(" + std::string(100, 'T') + ")\r\n", e);
    EXPECT_EQ(fieldView(e.szTitle), std::u16string(63, u'T'));
}

TEST(CamSetStatus, VersionTwoVersionsAndFallbacks) {
    CameraEntry e = emptyEntry(2);
    ParseCamSetStatus(kCodec,
                      "CAM MAIN Ver:(1.10)\r\nCAM SUB  Ver:(1.11)\r\nNET MAIN Ver:(2.10)\r\n"
                      "NET SUB  Ver:(2.11)\r\nMEC MAIN Ver:(3.10)\r\nI/O MAIN Ver:(4.10)\r\n"
                      "rec_status_new:(2)\r\nrec_status:(5)\r\n",
                      e);
    EXPECT_EQ(fieldView(e.szCamMainVer), u"1.10");
    EXPECT_EQ(fieldView(e.szCamSubVer), u"1.11");
    EXPECT_EQ(fieldView(e.szNetMainVer), u"2.10");
    EXPECT_EQ(fieldView(e.szNetSubVer), u"2.11");
    EXPECT_EQ(fieldView(e.szMecMainVer), u"3.10");
    EXPECT_EQ(fieldView(e.szIoMainVer), u"4.10");
    EXPECT_EQ(e.wRecStatus, 2);

    // Only "MAIN Ver" and "SUB Ver" (one blank): the fallbacks fill the camera versions.
    CameraEntry f = emptyEntry(2);
    ParseCamSetStatus(kCodec, "MAIN Ver:(1.0)\r\nNET MAIN Ver:(2.0)\r\nSUB Ver:(1.1)\r\n", f);
    EXPECT_EQ(fieldView(f.szCamMainVer), u"1.0");
    EXPECT_EQ(fieldView(f.szNetMainVer), u"2.0");
    EXPECT_EQ(fieldView(f.szCamSubVer), u"1.1");
    // Without "CAM SUB  Ver" the two-blank "SUB  Ver" comes before the one-blank form, even
    // when the one-blank line is earlier in the reply.
    CameraEntry s = emptyEntry(2);
    ParseCamSetStatus(kCodec, "SUB Ver:(9.9)\r\nSUB  Ver:(1.2)\r\nNET SUB  Ver:(2.2)\r\n", s);
    EXPECT_EQ(fieldView(s.szCamSubVer), u"1.2");
    EXPECT_EQ(fieldView(s.szNetSubVer), u"2.2");
    // The network line first: the fallback takes its value, since the first match wins.
    CameraEntry g = emptyEntry(2);
    ParseCamSetStatus(kCodec, "NET MAIN Ver:(2.0)\r\nMAIN Ver:(1.0)\r\n", g);
    EXPECT_EQ(fieldView(g.szCamMainVer), u"2.0");
}

TEST(CamSetStatus, RecordingStatusFallbackAndAbsentKeys) {
    CameraEntry e = emptyEntry(2);
    e.wRecStatus = 9;
    setField(e.szNetMainVer, std::u16string_view(u"old"));
    ParseCamSetStatus(kCodec, "rec_status_new:()\r\nrec_status:(3)\r\n", e);
    EXPECT_EQ(e.wRecStatus, 3);
    EXPECT_EQ(fieldView(e.szNetMainVer), u"old");  // absent key keeps the field
    ParseCamSetStatus(kCodec, "nothing here\r\n", e);
    EXPECT_EQ(e.wRecStatus, 3);
    // An unknown protocol version parses nothing.
    CameraEntry h = emptyEntry(3);
    ParseCamSetStatus(kCodec, "title:(x)\r\nCAM MAIN Ver:(1)\r\n", h);
    EXPECT_TRUE(fieldEmpty(h.szTitle));
    EXPECT_TRUE(fieldEmpty(h.szCamMainVer));
}

TEST(RecordSettings, LinesKeysAndValues) {
    RecordSettings t;
    ASSERT_TRUE(
        ParseRecordSettings(kCodec, "rec_mode:(1)\r\nsd_sw:(on)\nno colon here\r\nlast:(x)", t));
    EXPECT_EQ(t.count(), 2u);  // the last line has no line end and gives no key
    EXPECT_STREQ(t.entries[0].szKey, "rec_mode");
    EXPECT_EQ(fieldView(t.entries[0].szValue), u"1");
    EXPECT_STREQ(t.entries[1].szKey, "sd_sw");
    EXPECT_EQ(fieldView(t.entries[1].szValue), u"on");
}

TEST(RecordSettings, NoColonFailsAndKeepsTable) {
    RecordSettings t;
    ASSERT_TRUE(ParseRecordSettings(kCodec, "a:(1)\r\n", t));
    EXPECT_FALSE(ParseRecordSettings(kCodec, "<html>busy</html>\r\n", t));
    EXPECT_STREQ(t.entries[0].szKey, "a");
    EXPECT_FALSE(ParseRecordSettings(kCodec, "", t));
}

TEST(RecordSettings, CarriageReturnOnlyLinesKeepWholeKeys) {
    RecordSettings t;
    ASSERT_TRUE(ParseRecordSettings(kCodec, "k1:(v1)\rk2:(v2)\r", t));
    EXPECT_STREQ(t.entries[0].szKey, "k1");
    EXPECT_STREQ(t.entries[1].szKey, "k2");
    EXPECT_EQ(fieldView(t.entries[1].szValue), u"v2");
}

TEST(RecordSettings, TooLongKeysSkippedValuesCutAndFiftyAtMost) {
    std::string reply = std::string(50, 'K') + ":(x)\r\n" + std::string(49, 'k') + ":(" +
                        std::string(80, 'v') + ")\r\n";
    RecordSettings t;
    ASSERT_TRUE(ParseRecordSettings(kCodec, reply, t));
    EXPECT_EQ(t.count(), 1u);
    EXPECT_EQ(std::string(t.entries[0].szKey), std::string(49, 'k'));
    EXPECT_EQ(fieldView(t.entries[0].szValue), std::u16string(49, u'v'));

    std::string many;
    for (int i = 0; i < 60; ++i)
        many += "key" + std::to_string(i) + ":(" + std::to_string(i) + ")\r\n";
    ASSERT_TRUE(ParseRecordSettings(kCodec, many, t));
    EXPECT_EQ(t.count(), kRecordSettingCount);
    EXPECT_STREQ(t.entries[49].szKey, "key49");
    EXPECT_EQ(fieldView(t.entries[49].szValue), u"49");
}

TEST(RecordSettings, WriteBackSendsChangedOrAllEncoded) {
    RecordSettings saved;
    RecordSettings now;
    ASSERT_TRUE(ParseRecordSettings(kCodec, "a:(1)\r\nb:(x y&z)\r\nc:(3)\r\n", saved));
    ASSERT_TRUE(ParseRecordSettings(kCodec, "a:(1)\r\nb:(other)\r\nc:(4)\r\n", now));
    EXPECT_EQ(BuildRecordWriteParams(kCodec, saved, now, true), "&b=x%20y%26z&c=3");
    EXPECT_EQ(BuildRecordWriteParams(kCodec, saved, now, false), "&a=1&b=x%20y%26z&c=3");
    EXPECT_EQ(BuildRecordWriteParams(kCodec, saved, saved, true), "");
}

TEST(PercentEncode, RequestLineBreakersAreEncoded) {
    EXPECT_EQ(PercentEncode("Cam_1-a.b~"), "Cam_1-a.b~");
    EXPECT_EQ(PercentEncode("a b&c#d%e+f"), "a%20b%26c%23d%25e%2Bf");
    EXPECT_EQ(PercentEncode("\xE9\r\n"), "%E9%0D%0A");
}

TEST(ChallengeSchemes, SeveralChallengesAndQuotedCommas) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ChallengeSchemes(R"(Basic realm="camera")"), V{"Basic"});
    EXPECT_EQ(ChallengeSchemes(R"(Digest realm="a, Basic b", qop="auth,auth-int", nonce="x")"),
              V{"Digest"});
    EXPECT_EQ(ChallengeSchemes(R"(Digest realm="r", nonce="n", Basic realm="r")"),
              (V{"Digest", "Basic"}));
    EXPECT_EQ(ChallengeSchemes("Negotiate abc==, NTLM"), (V{"Negotiate", "NTLM"}));
    EXPECT_EQ(ChallengeSchemes(R"(Digest realm = "r" , nonce= "n")"), V{"Digest"});
    EXPECT_EQ(ChallengeSchemes(R"(Digest realm="a \", Basic", nonce="n")"), V{"Digest"});
    EXPECT_TRUE(ChallengeSchemes("").empty());
}
