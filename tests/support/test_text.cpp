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
