// The walk over a camera's components as the firmware runs make it (checkFirmwareFile over the
// firmware folders): a latest component moves on to the next one, the comparison switched off
// takes any usable file, and empty or unknown folders give no firmware with the method of the
// rows searched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "app/temp_dir.h"
#include "discovery/log_capture.h"
#include "firmware/version_check.h"
#include "runs/firmware_check_run.h"
#include "runs/firmware_folder_files.h"
#include "support/text.h"

using namespace lanrove;
using lanrove::test::TempDir;
using lanrove::testing::LogCapture;

namespace {

CameraEntry camera(std::uint16_t protoVer, std::string_view model) {
    CameraEntry e{};
    e.clear();
    setField(e.szNo, std::string_view("3"));
    setField(e.szModel, model);
    e.wProtoVer = protoVer;
    return e;
}

void put(const TempDir& home, const std::string& model, const std::string& name,
         std::string_view bytes = "firmware") {
    std::filesystem::create_directories(home.path() / model);
    std::ofstream(home.path() / model / name, std::ios::binary) << bytes;
}

}  // namespace

TEST(FirmFileCheck, NetLatestThenCamNewer) {
    TempDir home;
    LogCapture capture;
    FolderFirmwareFiles files(home.path(), capture.log());
    put(home, "KT-6500", "RP2NET20100301.BIN");
    put(home, "KT-6500", "RP2CAM20100415.BIN");
    CameraEntry cam = camera(2, "KT-6500");
    setField(cam.szNetMainVer, std::string_view("V1.05(20100301)"));
    setField(cam.szCamMainVer, std::string_view("V1.05(20100301)"));
    std::vector<std::uint16_t> asked;
    const auto compare = [&](const FirmFileChoice& c) {
        asked.push_back(c.row.wIndex);
        return CompareFirmwareVersion(cam, c.row, c.highest, capture.log());
    };
    const FirmComponentCheck check = checkFirmwareFile(files, cam, true, compare);
    EXPECT_EQ(check.status, 4608);
    EXPECT_EQ(check.method, 2);
    EXPECT_EQ(check.file.filename(), "RP2CAM20100415.BIN");
    EXPECT_EQ(asked, (std::vector<std::uint16_t>{0, 3}));

    // Both latest: the status of the last comparison stands.
    setField(cam.szCamMainVer, std::string_view("V1.06(20100415)"));
    asked.clear();
    const FirmComponentCheck latest = checkFirmwareFile(files, cam, true, compare);
    EXPECT_EQ(latest.status, 4610);
    EXPECT_EQ(asked, (std::vector<std::uint16_t>{0, 3}));
}

TEST(FirmFileCheck, ComparisonOffTakesAnyUsableFileWithoutAQuery) {
    TempDir home;
    TraceLog log;
    FolderFirmwareFiles files(home.path(), log);
    put(home, "KT-8600", "RW2NET20100415.BIN", "");  // empty: skipped
    put(home, "KT-8600", "RW2IO7.BIN");
    int calls = 0;
    const auto count = [&](const FirmFileChoice&) {
        ++calls;
        return 4610u;
    };
    const FirmComponentCheck off = checkFirmwareFile(files, camera(2, "KT-8600"), false, count);
    EXPECT_EQ(off.status, 4608);
    EXPECT_EQ(off.file.filename(), "RW2IO7.BIN");
    EXPECT_EQ(calls, 0);
    const FirmComponentCheck on = checkFirmwareFile(files, camera(2, "KT-8600"), true, count);
    EXPECT_EQ(on.status, 4610);
    EXPECT_EQ(calls, 1);
}

TEST(FirmFileCheck, EmptyFoldersGiveNoFirmwareWithTheMethodOfTheRowsSearched) {
    TempDir home;
    TraceLog log;
    FolderFirmwareFiles files(home.path(), log);
    const auto never = [](const FirmFileChoice&) { return 4608u; };
    // No files at all: no firmware, the multi-component method of the model, and the model's
    // folder is there for the user.
    FirmComponentCheck check = checkFirmwareFile(files, camera(2, "KT-7600P"), true, never);
    EXPECT_EQ(check.status, 4609);
    EXPECT_EQ(check.method, 2);
    EXPECT_TRUE(check.file.empty());
    EXPECT_TRUE(std::filesystem::is_directory(home.path() / "KT-7600P"));
    // A single-file model with an empty folder: method 1.
    check = checkFirmwareFile(files, camera(2, "KT-5200"), true, never);
    EXPECT_EQ(check.status, 4609);
    EXPECT_EQ(check.method, 1);

    // Files whose names carry no number are not usable.
    put(home, "KT-7600P", "RT2NETXYZ.BIN");
    check = checkFirmwareFile(files, camera(2, "KT-7600P"), true, never);
    EXPECT_EQ(check.status, 4609);
    EXPECT_EQ(check.method, 2);

    // A camera that cannot be queried stops the walk with no firmware.
    put(home, "KT-7600P", "RT2CAM20100415.BIN");
    put(home, "KT-7600P", "RT2CAMSUB20100415.BIN");
    int calls = 0;
    check = checkFirmwareFile(files, camera(2, "KT-7600P"), true, [&](const FirmFileChoice&) {
        ++calls;
        return 8196u;
    });
    EXPECT_EQ(check.status, 4609);
    EXPECT_EQ(calls, 1);

    // A camera without a usable version text is update ready.
    check = checkFirmwareFile(files, camera(2, "KT-7600P"), true,
                              [](const FirmFileChoice&) { return 8195u; });
    EXPECT_EQ(check.status, 4608);

    // A model not in the catalogue has no row: no firmware, no method.
    check = checkFirmwareFile(files, camera(2, "KT-0000"), true, never);
    EXPECT_EQ(check.status, 4609);
    EXPECT_EQ(check.method, 0);
}
