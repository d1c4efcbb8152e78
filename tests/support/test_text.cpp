#include <gtest/gtest.h>

#include "discovery/camera_entry.h"
#include "support/text.h"

using namespace lanrove;

TEST(Text, Utf8RoundTripAndBrokenInput) {
    const std::u16string s = u"CAM \u30AB\u30E1\u30E9 \U0001F4F7";
    EXPECT_EQ(fromUtf8(toUtf8(s)), s);
    // A cut multi-byte sequence at the end is replaced, never read past.
    EXPECT_EQ(fromUtf8(std::string("A\xE3\x82", 3)), u"A\uFFFD\uFFFD");
    EXPECT_EQ(fromUtf8("\xC0\xAF"), u"\uFFFD");  // overlong
}

TEST(Text, WireCodePages) {
    const WireCodec jp("CP932");
    const std::string sjis = jp.toWire(u"\u30AB\u30E1\u30E9");
    EXPECT_EQ(sjis, "\x83\x4A\x83\x81\x83\x89");
    EXPECT_EQ(jp.fromWire(sjis), u"\u30AB\u30E1\u30E9");
    const WireCodec west("CP1252");
    EXPECT_EQ(west.toWire(u"caf\u00E9 \u30AB"), "caf\xE9 ?");
    EXPECT_EQ(codePageForLangId(1041), "CP932");
    EXPECT_EQ(codePageForLangId(2052), "CP936");
    EXPECT_EQ(codePageForLangId(1028), "CP950");
    EXPECT_EQ(codePageForLangId(1033), "CP1252");
}

TEST(Text, FixedFieldsNeverOverflow) {
    CameraEntry e;
    e.clear();
    setField(e.szSsl, std::u16string_view(u"123456789"));
    EXPECT_EQ(fieldView(e.szSsl), u"1234");
    EXPECT_EQ(e.szSsl[4], 0);
    EXPECT_EQ(e.szTitle[0], 0);  // the neighbour is untouched
    setField(e.szIp, std::string_view("192.168.0.2"));
    EXPECT_EQ(fieldUtf8(e.szIp), "192.168.0.2");
}
