#include <gtest/gtest.h>

#include "app/profile_file.h"
#include "app/temp_dir.h"

using namespace lanrove;

namespace {

std::u16string get(const ProfileFile& p, std::u16string_view section, std::u16string_view key,
                   std::u16string_view def = u"<def>") {
    return p.getString(section, key, def, ProfileFile::kTextBuffer);
}

// UTF-16LE bytes of an ASCII text, with the byte-order mark.
std::string utf16le(std::string_view ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

}  // namespace

TEST(ProfileFile, NamesIgnoreCaseAndValuesLoseBlanksAndOnePairOfQuotes) {
    const ProfileFile p = ProfileFile::parse(
        "[FirmUpload]\n"
        "  Instance  =   5   \n"
        "dq=\"quoted text\"\n"
        "sq='single'\n"
        "inner= \" padded \" \n"
        "mixed=\"open'\n"
        "lone=\"\n"
        "empty_quotes=\"\"\n"
        "middle=a \"b\" c\n"
        "nested=\"\"x\"\"\n"
        "empty=\n"
        "eq=a=b=c\n");
    EXPECT_EQ(get(p, u"firmupload", u"INSTANCE"), u"5");
    EXPECT_EQ(get(p, u"FIRMUPLOAD", u"instance"), u"5");
    EXPECT_EQ(get(p, u"FirmUpload", u"dq"), u"quoted text");
    EXPECT_EQ(get(p, u"FirmUpload", u"sq"), u"single");
    EXPECT_EQ(get(p, u"FirmUpload", u"inner"), u" padded ");  // blanks inside quotes stay
    EXPECT_EQ(get(p, u"FirmUpload", u"mixed"), u"\"open'");
    EXPECT_EQ(get(p, u"FirmUpload", u"lone"), u"\"");
    EXPECT_EQ(get(p, u"FirmUpload", u"empty_quotes"), u"");
    EXPECT_EQ(get(p, u"FirmUpload", u"middle"), u"a \"b\" c");
    EXPECT_EQ(get(p, u"FirmUpload", u"nested"), u"\"x\"");  // only one pair goes
    EXPECT_EQ(get(p, u"FirmUpload", u"eq"), u"a=b=c");
    // A present but empty key is empty, not the default.
    EXPECT_EQ(get(p, u"FirmUpload", u"empty"), u"");
    EXPECT_EQ(get(p, u"FirmUpload", u"missing"), u"<def>");
    EXPECT_EQ(get(p, u"Other", u"Instance"), u"<def>");
    // The default loses its trailing spaces (not other blanks) and no quotes.
    EXPECT_EQ(get(p, u"x", u"y", u"'d' \u3000  "), u"'d' \u3000");
    EXPECT_EQ(p.rawValue(u"firmupload", u"DQ"), u"\"quoted text\"");
    EXPECT_FALSE(p.rawValue(u"firmupload", u"nope").has_value());
}

TEST(ProfileFile, CommentsLineEndsAndRepeatedNames) {
    const ProfileFile p = ProfileFile::parse(
        "orphan=before any section\r\n"
        "; a comment\r\n"
        "[ Texts ]\r\n"
        ";Key=from comment\r"
        "  # Other=from hash comment\r"
        "Key=first ; not a comment\r\n"
        "Key=second\n"
        "no equals sign here\n"
        "=no key\n"
        "[broken\n"
        "After=still in Texts\n"
        "[texts]\n"
        "Key=third\n"
        "Added=merged\n");
    EXPECT_EQ(get(p, u"Texts", u"Key"), u"first ; not a comment");
    EXPECT_EQ(get(p, u"Texts", u"Other"), u"<def>");
    EXPECT_EQ(get(p, u"Texts", u";Key"), u"<def>");
    EXPECT_EQ(get(p, u"Texts", u"After"), u"still in Texts");
    EXPECT_EQ(get(p, u"Texts", u"Added"), u"merged");
    EXPECT_EQ(get(p, u"", u"orphan"), u"<def>");
    EXPECT_EQ(get(p, u"Texts", u""), u"<def>");
}

TEST(ProfileFile, ReadsTheEncodingsThatEditorsWrite) {
    const std::u16string jp = u"\u30AB\u30E1\u30E9";  // katakana "camera"
    const std::string jpUtf8 = "\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9";

    const ProfileFile bom = ProfileFile::parse("\xEF\xBB\xBF[S]\nK=" + jpUtf8 + "\n");
    EXPECT_EQ(get(bom, u"S", u"K"), jp);  // the BOM does not spoil the first section name
    EXPECT_EQ(get(ProfileFile::parse("[S]\nK=" + jpUtf8), u"S", u"K"), jp);

    std::string le = utf16le("[S]\r\nK=x");
    le += "\xAB\x30\xE1\x30\xE9\x30";  // the three katakana, little-endian
    le += "\x0A";                      // an odd trailing byte is dropped
    EXPECT_EQ(get(ProfileFile::parse(le), u"S", u"K"), u"x" + jp);

    const char beBytes[] = "\xFE\xFF\0[\0S\0]\0\n\0K\0=\0y";
    const std::string be(beBytes, sizeof beBytes - 1);
    EXPECT_EQ(get(ProfileFile::parse(be), u"S", u"K"), u"y");

    // A file saved in the ANSI code page decodes with the legacy code page, else U+FFFD.
    const std::string sjis = "[S]\nK=\x83\x4A\x83\x81\x83\x89\n";
    EXPECT_EQ(get(ProfileFile::parse(sjis, "CP932"), u"S", u"K"), jp);
    EXPECT_EQ(get(ProfileFile::parse(sjis), u"S", u"K").find(u'\uFFFD'), 0u);
    // Valid UTF-8 is never taken for the legacy code page.
    EXPECT_EQ(get(ProfileFile::parse("[S]\nK=" + jpUtf8, "CP932"), u"S", u"K"), jp);
}

TEST(ProfileFile, ResultsAreCutToTheBufferLessOne) {
    const std::string longValue(600, 'v');
    const ProfileFile p =
        ProfileFile::parse("[S]\nK=" + longValue + "\nQ=\"" + longValue +
                           "\"\nP=" + std::string(126, 'a') + "\xF0\x9F\x93\xB7\n");
    EXPECT_EQ(p.getString(u"S", u"K", u"", ProfileFile::kTextBuffer).size(), 511u);
    EXPECT_EQ(p.getString(u"S", u"K", u"", ProfileFile::kSettingsBuffer).size(), 127u);
    EXPECT_EQ(p.getString(u"S", u"Q", u"", ProfileFile::kTextBuffer),
              std::u16string(511, u'v'));  // quotes go first, then the cut
    EXPECT_EQ(p.getString(u"S", u"K", u"", 1), u"");
    EXPECT_EQ(p.getString(u"S", u"K", u"", 0), u"");
    EXPECT_EQ(p.getString(u"S", u"none", u"abcdef", 4), u"abc");
    // A surrogate pair straddling the cut is dropped whole, never halved.
    EXPECT_EQ(p.getString(u"S", u"P", u"", ProfileFile::kSettingsBuffer),
              std::u16string(126, u'a'));
    EXPECT_EQ(p.getString(u"S", u"P", u"", 129).size(), 128u);
}

TEST(ProfileFile, FilesAreReadFromDiskOrGiveDefaults) {
    test::TempDir dir;
    const auto ini = dir.write("Lanrove.ini", utf16le("[Firmupload]\r\nInstance=4\r\n"));
    const ProfileFile p = ProfileFile::load(ini);
    EXPECT_TRUE(p.fileRead());
    EXPECT_EQ(get(p, u"FIRMUPLOAD", u"instance"), u"4");
    EXPECT_EQ(readProfileString(u"Firmupload", u"Instance", u"", 128, ini), u"4");

    const ProfileFile missing = ProfileFile::load(dir.path() / "absent.ini");
    EXPECT_FALSE(missing.fileRead());
    EXPECT_EQ(get(missing, u"Firmupload", u"Instance"), u"<def>");
    // A folder where the file should be behaves like a missing file.
    EXPECT_EQ(readProfileString(u"S", u"K", u"dflt", 128, dir.path()), u"dflt");
}
