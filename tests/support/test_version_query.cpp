#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "support/version_query.h"

using namespace lanrove;
namespace fs = std::filesystem;

namespace {

struct TempFile {
    fs::path path =
        fs::temp_directory_path() / ("lanrove-version-" + std::to_string(::getpid()) + ".bin");
    explicit TempFile(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    ~TempFile() { fs::remove(path); }
};

const std::string kMark("\0LanroveVersionInfo\0FileVersion\0", 32);

void expectNumbers(const ModuleVersion& v, std::uint32_t a, std::uint32_t b, std::uint32_t c,
                   std::uint32_t d) {
    EXPECT_EQ(v.major, a);
    EXPECT_EQ(v.minor, b);
    EXPECT_EQ(v.build, c);
    EXPECT_EQ(v.revision, d);
}

}  // namespace

TEST(VersionText, CommaAndFullStopFormsAndFailures) {
    ModuleVersion v;
    ASSERT_TRUE(parseVersionText("1, 0, 6, 1", v));
    expectNumbers(v, 1, 0, 6, 1);
    EXPECT_EQ(v.display, u"Ver.1.0.6");
    EXPECT_EQ(v.fourNumbers(), "1.0.6.1");
    ASSERT_TRUE(parseVersionText("1.2.3.4", v));
    expectNumbers(v, 1, 2, 3, 4);
    // A full stop wins over a comma; reading ends at the first separator that does not fit.
    ASSERT_TRUE(parseVersionText("7.8,9", v));
    expectNumbers(v, 7, 8, 0, 0);
    EXPECT_EQ(v.display, u"Ver.7.8.0");

    EXPECT_FALSE(parseVersionText("1 0 6 1", v));  // neither full stop nor comma
    expectNumbers(v, 0, 0, 0, 0);
    EXPECT_TRUE(v.display.empty());
    EXPECT_FALSE(parseVersionText(", 1", v));
    EXPECT_FALSE(parseVersionText("-1.2", v));
    EXPECT_FALSE(parseVersionText("4294967296.1", v));  // too large for 32 bits
}

TEST(VersionQuery, ReadsTheTextAfterTheMarker) {
    {
        // An empty text after a first marker is passed over; the text ends at its zero byte.
        TempFile f("head" + kMark + std::string(1, '\0') + "junk" + kMark + "2, 5, 0, 9" +
                   std::string(1, '\0') + "tail");
        ModuleVersion v;
        ASSERT_TRUE(queryModuleVersion(f.path, v));
        expectNumbers(v, 2, 5, 0, 9);
    }
    // Marker or text split across the reader's 1 MiB chunks; an unterminated text at the end
    // of the file is taken as far as it goes, but never beyond 255 characters.
    for (const std::size_t before : {10u, 35u}) {
        TempFile f(std::string((1u << 20) - before, 'x') + kMark + "3.1.4.1");
        std::string text;
        ASSERT_TRUE(readEmbeddedVersionText(f.path, text));
        EXPECT_EQ(text, "3.1.4.1") << before;
    }
    TempFile f(kMark + "1." + std::string(400, '5'));
    std::string text;
    ASSERT_TRUE(readEmbeddedVersionText(f.path, text));
    EXPECT_EQ(text.size(), kMaxVersionText);
}

TEST(VersionQuery, FilesWithoutTheTextFail) {
    ModuleVersion v;
    {
        TempFile f("no version in here, 1, 2, 3, 4");
        EXPECT_FALSE(queryModuleVersion(f.path, v));
    }
    EXPECT_FALSE(queryModuleVersion("/nonexistent/lanrove", v));
    // This test program links the query but embeds no version: the reader must not mistake
    // its own copy of the marker for the embedded text.
    EXPECT_FALSE(queryModuleVersion(currentModulePath(), v));
}
