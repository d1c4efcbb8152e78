// The CSV writer of the camera list: quoting, text in other scripts, and the replacing save.
#include <gtest/gtest.h>

#include <fstream>

#include "app/list_export.h"
#include "app/temp_dir.h"
#include "support/text.h"

namespace lanrove {
namespace {

TEST(ListCsv, FieldsAreQuotedOnlyWhereTheyMustBe) {
    EXPECT_EQ(csvField(u"192.168.0.2"), "192.168.0.2");
    EXPECT_EQ(csvField(u""), "");
    EXPECT_EQ(csvField(u"Gate, north"), "\"Gate, north\"");
    EXPECT_EQ(csvField(u"12\" dome"), "\"12\"\" dome\"");
    // A line break in a camera's title would only be a way to forge rows; it is replaced.
    EXPECT_EQ(csvField(u"two\r\nlines"), "two\uFFFD\uFFFDlines");
    EXPECT_EQ(csvField(u" padded "), "\" padded \"");
    EXPECT_EQ(csvField(u"玄関カメラ"), "玄関カメラ");
}

TEST(ListCsv, CellsASpreadsheetWouldRunOrThatDriveATerminalAreNeutralised) {
    EXPECT_EQ(csvField(u"=HYPERLINK(\"http://x\")"), "\"'=HYPERLINK(\"\"http://x\"\")\"");
    EXPECT_EQ(csvField(u"+1"), "'+1");
    EXPECT_EQ(csvField(u"-2+3"), "'-2+3");
    EXPECT_EQ(csvField(u"@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(csvField(u"\t=1"), "'\uFFFD=1");
    EXPECT_EQ(csvField(u"\r=1,2"), "\"'\uFFFD=1,2\"");
    // Only at the start: inside a cell those signs are ordinary text.
    EXPECT_EQ(csvField(u"Gate-1 = north"), "Gate-1 = north");
    EXPECT_EQ(csvField(u"a@b"), "a@b");
    // An escape sequence and a right-to-left override in a title.
    EXPECT_EQ(csvField(u"\x1b[2JGate"), "\uFFFD[2JGate");
    EXPECT_EQ(csvField(u"cam\u202Egpj.exe"), "cam\uFFFDgpj.exe");
}

TEST(ListCsv, WholeFileHasBomHeadingsAndRowsInDisplayOrder) {
    CameraListModel list;
    CameraEntry a;
    setField(a.szNo, std::string_view("1"));
    setField(a.szTitle, std::string_view("入口"));
    setField(a.szSsl, std::string_view("1"));
    CameraEntry b;
    setField(b.szNo, std::string_view("2"));
    list.addRow(a);
    list.addRow(b);
    ASSERT_TRUE(list.reorder({1, 0}));
    ListHeaders headers;
    for (std::size_t c = 0; c < headers.size(); ++c)
        headers[c] = u"H" + std::u16string(1, u'0' + c);
    headers[kColTitle] = u"カメラタイトル";
    const std::string csv = listCsv(list, headers);
    EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(csv.find("H0,H1,H2,H3,H4,H5,H6,カメラタイトル,H8\r\n2,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",ON,入口,"), std::string::npos) << csv;
    EXPECT_LT(csv.find("\r\n2,"), csv.find("\r\n1,"));
}

TEST(ListCsv, SaveReplacesTheFileWholeOrNotAtAll) {
    test::TempDir dir;
    std::string error;
    const auto file = dir.path() / "list.csv";
    ASSERT_TRUE(saveFileReplacing(file, "first", error)) << error;
    ASSERT_TRUE(saveFileReplacing(file, "second", error)) << error;
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "second");
    EXPECT_FALSE(saveFileReplacing(dir.path() / "missing" / "x.csv", "x", error));
    EXPECT_NE(error.find("cannot create a file in"), std::string::npos) << error;
    // A folder in the file's place: the temporary file is removed again.
    std::filesystem::create_directory(dir.path() / "taken.csv");
    EXPECT_FALSE(saveFileReplacing(dir.path() / "taken.csv", "x", error));
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 2);  // list.csv and taken.csv
}

}  // namespace
}  // namespace lanrove
