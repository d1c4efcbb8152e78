#include <gtest/gtest.h>

#include "app/profile_file.h"
#include "app/temp_dir.h"

using namespace lanrove;

namespace {

std::u16string get(const ProfileFile& p, std::u16string_view section, std::u16string_view key,
                   std::u16string_view def = u"<def>") {
    return p.getString(section, key, def, ProfileFile::kTextBuffer);
}

}  // namespace

TEST(ProfileFile, NamesQuotesBlanksAndComments) {
    const ProfileFile p = ProfileFile::parse(
        "orphan=before any section\r\n"
        "[ FirmUpload ]\r\n"
        "  Instance  =   5   \r"
        "dq=\" padded \"\n"
        "sq='single'\n"
        "mixed=\"open'\n"
        "nested=\"\"x\"\"\n"
        "empty=\n"
        ";Hidden=comment\n"
        "  #Other=comment\n"
        "eq=a ; b=c\n"
        "eq=second\n"
        "no equals sign\n"
        "[firmupload]\n"
        "Added=merged\n");
    EXPECT_EQ(get(p, u"firmupload", u"INSTANCE"), u"5");
    EXPECT_EQ(get(p, u"FirmUpload", u"dq"), u" padded ");  // blanks inside quotes stay
    EXPECT_EQ(get(p, u"FirmUpload", u"sq"), u"single");
    EXPECT_EQ(get(p, u"FirmUpload", u"mixed"), u"\"open'");
    EXPECT_EQ(get(p, u"FirmUpload", u"nested"), u"\"x\"");  // one pair only
    EXPECT_EQ(get(p, u"FirmUpload", u"empty"), u"");        // present: not the default
    EXPECT_EQ(get(p, u"FirmUpload", u"eq"), u"a ; b=c");    // first wins, no inline comment
    EXPECT_EQ(get(p, u"FirmUpload", u"Added"), u"merged");  // repeated section merges
    EXPECT_EQ(get(p, u"FirmUpload", u"Hidden"), u"<def>");
    EXPECT_EQ(get(p, u"FirmUpload", u"Other"), u"<def>");
    EXPECT_EQ(get(p, u"", u"orphan"), u"<def>");
    EXPECT_EQ(get(p, u"Other", u"Instance"), u"<def>");
    EXPECT_EQ(get(p, u"x", u"y", u"'d'\u3000  "), u"'d'\u3000");  // default: trailing spaces go
}

TEST(ProfileFile, ReadsTheEncodingsThatEditorsWrite) {
    const std::u16string jp = u"\u30AB\u30E1\u30E9";
    const std::string jpUtf8 = "\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9";
    EXPECT_EQ(get(ProfileFile::parse("\xEF\xBB\xBF[S]\nK=" + jpUtf8), u"S", u"K"), jp);
    EXPECT_EQ(get(ProfileFile::parse("[S]\nK=" + jpUtf8), u"S", u"K"), jp);
    // UTF-16 with BOM, both byte orders; an odd trailing byte is dropped.
    const char le[] = "\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0\xAB\x30\xE1\x30\xE9\x30\x0A";
    EXPECT_EQ(get(ProfileFile::parse({le, sizeof le - 1}), u"S", u"K"), jp);
    const char be[] = "\xFE\xFF\0[\0S\0]\0\n\0K\0=\0y";
    EXPECT_EQ(get(ProfileFile::parse({be, sizeof be - 1}), u"S", u"K"), u"y");
    // Not UTF-8: the legacy code page when given, else replacement characters.
    const std::string sjis = "[S]\nK=\x83\x4A\x83\x81\x83\x89\n";
    EXPECT_EQ(get(ProfileFile::parse(sjis, "CP932"), u"S", u"K"), jp);
    EXPECT_EQ(get(ProfileFile::parse(sjis), u"S", u"K")[0], u'\uFFFD');
    EXPECT_EQ(get(ProfileFile::parse("[S]\nK=" + jpUtf8, "CP932"), u"S", u"K"), jp);
}

TEST(ProfileFile, ResultsAreCutToTheBufferLessOne) {
    const std::string v600(600, 'v');
    const ProfileFile p =
        ProfileFile::parse("[S]\nK=" + v600 + "\nQ=\"" + v600 + "\"\nP=" + std::string(126, 'a') +
                           "\xF0\x9F\x93\xB7\n");
    EXPECT_EQ(get(p, u"S", u"K").size(), 511u);
    EXPECT_EQ(get(p, u"S", u"Q"), std::u16string(511, u'v'));  // quotes go first, then the cut
    EXPECT_EQ(p.getString(u"S", u"K", u"", ProfileFile::kSettingsBuffer).size(), 127u);
    EXPECT_EQ(p.getString(u"S", u"K", u"", 0), u"");
    EXPECT_EQ(p.getString(u"S", u"none", u"abcdef", 4), u"abc");
    // A surrogate pair straddling the cut is dropped whole, never halved.
    EXPECT_EQ(p.getString(u"S", u"P", u"", 128), std::u16string(126, u'a'));
    EXPECT_EQ(p.getString(u"S", u"P", u"", 129).size(), 128u);
}

TEST(ProfileFile, MissingOrUnreadableFilesGiveDefaults) {
    test::TempDir dir;
    const auto ini = dir.write("a.ini", "[Firmupload]\r\nInstance=4\r\n");
    EXPECT_TRUE(ProfileFile::load(ini).fileRead());
    EXPECT_EQ(readProfileString(u"FIRMUPLOAD", u"instance", u"", 128, ini), u"4");
    EXPECT_FALSE(ProfileFile::load(dir.path() / "absent.ini").fileRead());
    // A folder where the file should be is an unreadable file, not a crash.
    EXPECT_EQ(readProfileString(u"S", u"K", u"dflt", 128, dir.path()), u"dflt");
}
