#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "discovery/camera_entry.h"
#include "support/text.h"

using namespace lanrove;

namespace {
// An allocation may change errno. When this is set, every allocation on this thread does, so
// that a conversion that reads iconv's errno after growing its output goes wrong visibly.
thread_local bool t_allocationSetsErrno = false;
}  // namespace

// The replacements below pair malloc with free, which GCC cannot tell from a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    if (t_allocationSetsErrno) errno = EILSEQ;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

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

TEST(Text, LongTextsConvertWholeWhenAllocationChangesErrno) {
    // More than one 256-byte round of output: iconv stops with E2BIG and the output grows.
    std::u16string text;
    for (int i = 0; i < 120; ++i) text += u"\u30AB\u30E1\u30E9 ";
    const WireCodec jp("CP932");
    t_allocationSetsErrno = true;
    const std::string wire = jp.toWire(text);
    const std::u16string back = jp.fromWire(wire);
    t_allocationSetsErrno = false;
    EXPECT_EQ(wire.size(), 120u * 7u);
    EXPECT_EQ(back, text);
}

TEST(Text, NeutralisedTextKeepsPrintableTextAndReplacesWhatDrivesATerminal) {
    const std::u16string kept = u"Gate 入口 Tür café [1] ~";
    EXPECT_EQ(neutralisedText(kept), kept);
    // C0 (escape, bell, tab, line ends), DEL and C1 (CSI 0x9B), one replacement each.
    EXPECT_EQ(neutralisedText(u"\x1b[31mred\a\t\r\n\x7f\x9b"
                              u"2J\0x"),
              u"\uFFFD[31mred\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD2J");
    const std::u16string nul(u"a\0b", 3);
    EXPECT_EQ(neutralisedText(nul), u"a\uFFFDb");
    // Every bidirectional embedding, override and isolate, and the separators; the marks
    // beside them (U+200E, U+2065, U+206A) stay.
    for (char16_t c : {u'\u202A', u'\u202B', u'\u202C', u'\u202D', u'\u202E', u'\u2066', u'\u2067',
                       u'\u2068', u'\u2069', u'\u2028', u'\u2029'})
        EXPECT_EQ(neutralisedText(std::u16string(1, c)), u"\uFFFD") << static_cast<int>(c);
    for (char16_t c : {u'\u200E', u'\u2065', u'\u206A', u'\u202F', u'\u00A0'})
        EXPECT_FALSE(isUnsafeTextChar(c)) << static_cast<int>(c);
}

TEST(Text, NeutralisedUtf8AlsoReplacesBrokenSequences) {
    EXPECT_EQ(neutralisedUtf8("cam\xE2\x80\xAEgpj.exe"), "cam\xEF\xBF\xBDgpj.exe");
    EXPECT_EQ(neutralisedUtf8("\x1b]0;title\x07"), "\xEF\xBF\xBD]0;title\xEF\xBF\xBD");
    // A lone C1 byte (a CSI to an 8-bit terminal) is no valid UTF-8: replaced too.
    EXPECT_EQ(neutralisedUtf8("a\x9b"
                              "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(neutralisedUtf8("\xC2\x9B"), "\xEF\xBF\xBD");
    EXPECT_EQ(neutralisedUtf8("入口"), "入口");
}
