// The firmware catalogue: its rows, the lookup, the model folders and the choice of the newest
// file with the decimal and the hexadecimal pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/temp_dir.h"
#include "firmware/firmware_catalogue.h"
#include "support/text.h"
#include "support/trace_log.h"

using namespace lanrove;
using lanrove::test::TempDir;

namespace {

CameraEntry camera(std::uint16_t protoVer, std::string_view model) {
    CameraEntry e{};
    e.clear();
    setField(e.szNo, std::string_view("1"));
    setField(e.szModel, model);
    e.wProtoVer = protoVer;
    return e;
}

// Files in the model folder of the program folder.
void put(const TempDir& home, const std::string& model, const std::string& name,
         std::string_view bytes = "firmware") {
    std::filesystem::create_directories(home.path() / model);
    std::ofstream(home.path() / model / name, std::ios::binary) << bytes;
}

}  // namespace

TEST(FirmwareCatalogue, RowsComeInTheirFixedOrder) {
    const auto rows = FirmwareCatalogue();
    ASSERT_EQ(rows.size(), kFirmwareCatalogueRows);

    // Families in order, with their row counts.
    std::vector<std::pair<std::string, int>> families;
    for (const auto& row : rows) {
        const std::string prefix = row.searchPattern.substr(0, 3);
        if (families.empty() || families.back().first != prefix) families.push_back({prefix, 0});
        ++families.back().second;
        EXPECT_EQ(row.numberFormat.substr(0, 3), prefix);
        EXPECT_EQ(row.modelKey, row.wGeneration == 1 ? "" : row.modelFolder);
    }
    const std::vector<std::pair<std::string, int>> expected = {
        {"RA2", 8},  {"RM2", 12}, {"RN2", 16}, {"RP2", 24},
        {"RS2", 18}, {"RT2", 18}, {"RU2", 32}, {"RW2", 24}};
    EXPECT_EQ(families, expected);

    // Generation 1: numbered 0 to 7 across the four models, BIN then HEX.
    for (std::uint16_t i = 0; i < 8; ++i) {
        EXPECT_EQ(rows[i].wGeneration, 1);
        EXPECT_EQ(rows[i].wIndex, i);
        EXPECT_EQ(rows[i].dwVersionCheck, 0u);
        EXPECT_EQ(rows[i].searchPattern, i % 2 == 0 ? "RA2*.BIN" : "RA2*.HEX");
    }
    EXPECT_EQ(rows[2].modelFolder, "KT-7190");
    EXPECT_EQ(rows[7].modelFolder, "KT-7190PC");
    EXPECT_EQ(rows[1].dwUploadTimeOut, 300000u);
    EXPECT_EQ(rows[1].dwRebootTime, 140000u);

    // Generation 2: each model's indexes start at 0 and rise by 1.
    std::map<std::string, std::uint16_t> nextIndex;
    for (const auto& row : rows) {
        if (row.wGeneration != 2) continue;
        EXPECT_EQ(row.wIndex, nextIndex[row.modelKey]++) << row.modelKey;
    }
    EXPECT_EQ(nextIndex.size(), 6u + 8 + 4 + 3 + 3 + 4 + 3);
    EXPECT_EQ(nextIndex["KT-8600PC"], 8);
    EXPECT_EQ(nextIndex["KT-5500"], 6);
    EXPECT_EQ(nextIndex["KW-6300PC"], 2);
}

TEST(FirmwareCatalogue, LookupAndTheKt6200Exception) {
    const auto* kt6200 = FindCatalogueRow(2, 1, u"KT-6200");
    const auto* kw6200 = FindCatalogueRow(2, 1, u"KW-6200");
    ASSERT_TRUE(kt6200 && kw6200);
    EXPECT_EQ(kt6200->dwRebootTime, 120000u);
    EXPECT_EQ(kw6200->dwRebootTime, 140000u);
    EXPECT_EQ(FindCatalogueRow(2, 0, u"KT-6200")->dwRebootTime, 300000u);
    EXPECT_EQ(kt6200->searchPattern, "RN2*.HEX");

    const auto* net = FindCatalogueRow(2, 0, u"KT-8400S");
    ASSERT_TRUE(net);
    EXPECT_EQ(net->searchPattern, "RU2NET????????.BIN");
    EXPECT_EQ(net->modelFolder, "KT-8400S");
    EXPECT_EQ(net->dwUploadTimeOut, 1200000u);
    const auto* io = FindCatalogueRow(2, 7, u"KT-8400S");
    ASSERT_TRUE(io);
    EXPECT_EQ(io->numberFormat, "RU2IO%lu.BIN");
    EXPECT_EQ(io->wKind, kKindIoMain);
    EXPECT_EQ(FindCatalogueRow(2, 8, u"KT-8400S"), nullptr);

    const auto* rp2 = FindCatalogueRow(2, 3, u"KW-6500PC");
    ASSERT_TRUE(rp2);
    EXPECT_EQ(rp2->searchPattern, "RP2CAM????????.BIN");
    EXPECT_EQ(rp2->wMethod, 2);
    EXPECT_EQ(rp2->wVersionFormat, 2);
    EXPECT_EQ(rp2->dwUploadTimeOut, 900000u);

    // Generation 1 matches only an empty model text; the comparison is exact.
    ASSERT_TRUE(FindCatalogueRow(1, 3, u""));
    EXPECT_EQ(FindCatalogueRow(1, 3, u"")->modelFolder, "KT-7190");
    EXPECT_EQ(FindCatalogueRow(1, 0, u"KT-7100"), nullptr);
    EXPECT_EQ(FindCatalogueRow(2, 0, u"kt-6500"), nullptr);
    EXPECT_EQ(FindCatalogueRow(2, 0, u"KT-6500 "), nullptr);
    EXPECT_EQ(FindCatalogueRow(2, 0, u"KT-9999"), nullptr);
    EXPECT_EQ(FindCatalogueRow(3, 0, u"KT-6500"), nullptr);
}

TEST(FirmwareCatalogue, ModelFoldersLieInTheProgramFolder) {
    EXPECT_EQ(ModelFolderPath("/opt/lanrove", "KT-6500").string(), "/opt/lanrove/KT-6500/");
    EXPECT_EQ(ModelFolderPath("/opt/lanrove/", "KT-6500").string(), "/opt/lanrove/KT-6500/");

    TempDir dir;
    const auto home = dir.path() / "deep" / "home";
    ASSERT_TRUE(EnsureModelFolder(home, *FindCatalogueRow(2, 0, u"KT-8400S")));
    EXPECT_TRUE(std::filesystem::is_directory(home / "KT-8400S"));
    // A generation-1 row has no model key: nothing is made.
    ASSERT_TRUE(EnsureModelFolder(home, *FindCatalogueRow(1, 0, u"")));
    EXPECT_FALSE(std::filesystem::exists(home / "KT-7100"));
    // An existing folder and its files stay.
    put(dir, "deep/home/KT-8400S", "RU2IO5.BIN");
    ASSERT_TRUE(EnsureModelFolder(home, *FindCatalogueRow(2, 0, u"KT-8400S")));
    EXPECT_TRUE(std::filesystem::exists(home / "KT-8400S" / "RU2IO5.BIN"));
}

TEST(FirmwareCatalogue, FileNumbersAreScannedInUpperCase) {
    EXPECT_EQ(ScanFileNumber("RP2NET%lu.BIN", "rp2net20100415.bin"), 20100415u);
    EXPECT_EQ(ScanFileNumber("RP2NETMAIN%lu.BIN", "RP2NETMAIN7X.BIN"), 7u);
    EXPECT_EQ(ScanFileNumber("RA2%lu.BIN", "RA20A1F3.BIN"), 0u);
    EXPECT_FALSE(ScanFileNumber("RA2%lu.BIN", "RA2A1F3.BIN"));
    // A sign or a number beyond 32 bits does not fit.
    EXPECT_FALSE(ScanFileNumber("RP2NET%lu.BIN", "RP2NET-1.BIN"));
    EXPECT_FALSE(ScanFileNumber("RP2NETMAIN%lu.BIN", "RP2NETMAIN4294967296.BIN"));
    EXPECT_EQ(ScanFileNumber("RP2NETMAIN%lu.BIN", "RP2NETMAIN4294967295.BIN"), 4294967295u);
    // The hexadecimal pass reads at most five digits after the prefix.
    EXPECT_EQ(ScanFileNumberHex("RA2%lu.BIN", "ra20a1f3.bin"), 41459u);
    EXPECT_EQ(ScanFileNumberHex("RA2%lu.BIN", "RA2ABCDEF.BIN"), 0xABCDEu);
    EXPECT_FALSE(ScanFileNumberHex("RA2%lu.BIN", "RA2XYZ.BIN"));
}

TEST(FirmwareCatalogue, NewestFileOfTheFirstComponentWithFiles) {
    TempDir home;
    TraceLog log;
    std::mutex lock;
    const CameraEntry kt6500 = camera(2, "KT-6500");
    put(home, "KT-6500", "RP2NET20100301.BIN");
    put(home, "KT-6500", "RP2NET20100415.BIN");
    put(home, "KT-6500", "rp2netmain20100420.bin");

    std::uint16_t index = 0;
    auto r = FindNewestFile(kt6500, index, home.path(), &lock, log);
    EXPECT_EQ(index, 0);
    ASSERT_TRUE(r.hasFile());
    EXPECT_EQ(r.dwNumber, 20100415u);
    EXPECT_EQ(r.path, home.path() / "KT-6500" / "RP2NET20100415.BIN");
    EXPECT_EQ(r.pRow, FindCatalogueRow(kt6500, 0));

    // From index 1 the MAIN file, by its name as listed.
    index = 1;
    r = FindNewestFile(kt6500, index, home.path(), &lock, log);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(r.dwNumber, 20100420u);
    EXPECT_EQ(r.path, home.path() / "KT-6500" / "rp2netmain20100420.bin");

    // Index 2 has no files: the search goes on to the end of the model's rows.
    index = 2;
    r = FindNewestFile(kt6500, index, home.path(), &lock, log);
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(r.dwNumber, 0u);
    ASSERT_TRUE(r.pRow);
    EXPECT_EQ(r.pRow->wIndex, 5);  // the last row looked up

    put(home, "KT-6500", "RP2CAMSUB20100301.BIN");
    index = 2;
    r = FindNewestFile(kt6500, index, home.path(), &lock, log);
    EXPECT_EQ(index, 5);
    EXPECT_EQ(r.dwNumber, 20100301u);

    index = 6;
    EXPECT_TRUE(FindNewestFile(kt6500, index, home.path(), &lock, log).atEnd());
}

TEST(FirmwareCatalogue, TiesKeepTheFileListedFirst) {
    TempDir home;
    TraceLog log;
    put(home, "KT-5200", "RM2105.BIN");
    put(home, "KT-5200", "RM2105A.BIN");
    put(home, "KT-5200", "RM2099.BIN");
    std::uint16_t index = 0;
    const auto r = FindNewestFile(camera(2, "KT-5200"), index, home.path(), nullptr, log);
    EXPECT_EQ(r.dwNumber, 105u);
    EXPECT_EQ(r.path.filename(), "RM2105.BIN");
}

TEST(FirmwareCatalogue, HexadecimalPassWhenNoDecimalNumber) {
    TempDir home;
    TraceLog log;
    // A generation-1 camera walks the four folders; the first with files is KT-7190's.
    put(home, "KT-7190", "RA20A1F3.BIN");
    std::uint16_t index = 0;
    const auto r = FindNewestFile(camera(1, ""), index, home.path(), nullptr, log);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(r.dwNumber, 41459u);
    EXPECT_EQ(r.path, home.path() / "KT-7190" / "RA20A1F3.BIN");
    // A generation-1 camera that reports a model has no rows.
    index = 0;
    EXPECT_EQ(FindNewestFile(camera(1, "KT-7190"), index, home.path(), nullptr, log).pRow, nullptr);
}

TEST(FirmwareCatalogue, MatchingFilesWithoutANumberNameNoFile) {
    TempDir home;
    TraceLog log;
    put(home, "KT-8400S", "RU2NETXYZ.BIN");
    put(home, "KT-8400S", "RU2CAM20100415.BIN");
    std::uint16_t index = 0;
    auto r = FindNewestFile(camera(2, "KT-8400S"), index, home.path(), nullptr, log);
    EXPECT_EQ(index, 0);  // the search stops here ...
    EXPECT_FALSE(r.atEnd());
    EXPECT_FALSE(r.hasFile());  // ... but there is no usable file
    EXPECT_EQ(r.path, home.path() / "KT-8400S" / "");
    index = 1;
    r = FindNewestFile(camera(2, "KT-8400S"), index, home.path(), nullptr, log);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(r.dwNumber, 20100415u);
    EXPECT_EQ(r.pRow->searchPattern, "RU2CAM????????.BIN");
}

TEST(FirmwareCatalogue, UnknownModelHasNoFirmwareWhateverTheFoldersHold) {
    TempDir home;
    TraceLog log;
    put(home, "KT-9999", "RP2NET20100415.BIN");
    put(home, "KT-6500", "RP2NET20100415.BIN");
    std::uint16_t index = 0;
    const auto r = FindNewestFile(camera(2, "KT-9999"), index, home.path(), nullptr, log);
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(r.pRow, nullptr);
}
