// The firmware file reader: wildcard rules, the state order, the listing, the whole-file read
// and its failures, and the two locks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/temp_dir.h"
#include "discovery/log_capture.h"
#include "firmware/search_file_ctrl.h"

using namespace lanrove;
using lanrove::test::TempDir;
using lanrove::testing::LogCapture;

namespace {

std::string folderOf(const TempDir& dir) {
    return (dir.path() / "").string();
}

}  // namespace

TEST(FirmwareFileNames, WildcardsFollowTheFolderRules) {
    // A run of "?" before the extension takes up to that many characters, and no more.
    EXPECT_TRUE(MatchFileName("RP2NET????????.BIN", "RP2NET20100415.BIN"));
    EXPECT_TRUE(MatchFileName("RP2NET????????.BIN", "RP2NET2010.BIN"));
    EXPECT_TRUE(MatchFileName("RP2NET????????.BIN", "RP2NET.BIN"));
    EXPECT_FALSE(MatchFileName("RP2NET????????.BIN", "RP2NETMAIN20100415.BIN"));
    EXPECT_FALSE(MatchFileName("RP2NET????????.BIN", "RP2NET201004151.BIN"));
    // Letters compare without regard to case, on both sides.
    EXPECT_TRUE(MatchFileName("RP2NET????????.BIN", "rp2net20100415.bin"));
    EXPECT_TRUE(MatchFileName("rp2netmain*.bin", "RP2NETMAIN20100415.BIN"));
    // "*" takes any run, also none; the rest must match to the end.
    EXPECT_TRUE(MatchFileName("RA2*.BIN", "RA2.BIN"));
    EXPECT_TRUE(MatchFileName("RA2*.BIN", "RA2.A.B.BIN"));
    EXPECT_FALSE(MatchFileName("RA2*.BIN", "RA20A1F3.BIN.bak"));
    EXPECT_FALSE(MatchFileName("RA2*.BIN", "XRA2.BIN"));
    // A "?" elsewhere takes exactly one character.
    EXPECT_TRUE(MatchFileName("A?C", "ABC"));
    EXPECT_FALSE(MatchFileName("A?C", "AC"));
    EXPECT_FALSE(MatchFileName("A?C", "ABBC"));
}

TEST(SearchFileCtrl, CallsInTheWrongOrderFailAndChangeNothing) {
    TempDir dir;
    dir.write("RA2100.BIN", "x");
    TraceLog log;
    CSearchFileCtrl ctrl(log);
    EXPECT_EQ(ctrl.State(), CSearchFileCtrl::kStateCreated);
    EXPECT_EQ(ctrl.SelectFile(dir.path() / "RA2100.BIN"), -1);
    EXPECT_EQ(ctrl.StartSearch("*.BIN"), -1);
    EXPECT_EQ(ctrl.NextFile(), -1);
    std::string name = "unchanged";
    EXPECT_EQ(ctrl.CurrentFileName(name), -1);
    EXPECT_EQ(name, "unchanged");

    std::uint8_t buffer[4] = {7, 7, 7, 7};
    std::uint32_t length = 99;
    EXPECT_EQ(ctrl.GetReadAllData(std::span<std::uint8_t>(buffer), length),
              CSearchFileCtrl::kReadNotSelected);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer[0], 7);

    // A folder that does not exist.
    EXPECT_EQ(ctrl.SetFolder(dir.path() / "missing" / ""), 0);
    EXPECT_EQ(ctrl.State(), CSearchFileCtrl::kStateFolderMissing);
    EXPECT_EQ(ctrl.StartSearch("*.BIN"), -1);
    EXPECT_EQ(ctrl.MatchCount(), 0);
}

TEST(SearchFileCtrl, FolderWithoutTrailingSeparatorMeansItsParent) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "KT-6500");
    TraceLog log;
    CSearchFileCtrl ctrl(log);
    ctrl.SetFolder(dir.path() / "KT-6500");
    EXPECT_EQ(ctrl.State(), CSearchFileCtrl::kStateFolderExists);
    EXPECT_EQ(ctrl.Folder(), dir.path() / "");
    ctrl.SetFolder(dir.path() / "KT-6500" / "");
    EXPECT_EQ(ctrl.Folder(), dir.path() / "KT-6500" / "");
}

TEST(SearchFileCtrl, OneMatchStaysSelectedAtTheEndOfTheListing) {
    TempDir dir;
    dir.write("RP2NET20100415.BIN", "abc");
    dir.write("OTHER.TXT", "zz");
    TraceLog log;
    CSearchFileCtrl ctrl(log);
    ctrl.SetFolder(folderOf(dir));
    ASSERT_EQ(ctrl.StartSearch("RP2NET????????.BIN"), 0);
    EXPECT_EQ(ctrl.MatchCount(), 1);
    EXPECT_EQ(ctrl.State(), CSearchFileCtrl::kStateFileSelected);
    EXPECT_EQ(ctrl.FileSize(), 3u);
    EXPECT_EQ(ctrl.NextFile(), -1);
    std::string name;
    ASSERT_EQ(ctrl.CurrentFileName(name), 0);
    EXPECT_EQ(name, "RP2NET20100415.BIN");
    EXPECT_EQ(ctrl.NextFile(), -1);  // the listing is closed
}

TEST(SearchFileCtrl, ListingHoldsOnlyRegularFilesInAStableOrder) {
    TempDir dir;
    dir.write("ra2300.bin", "333");
    dir.write("RA2100.BIN", "1");
    dir.write("RA2200.BIN", "22");
    std::filesystem::create_directories(dir.path() / "RA2999.BIN");     // a folder is no file
    ASSERT_EQ(::mkfifo((dir.path() / "RA2998.BIN").c_str(), 0600), 0);  // nor is a pipe
    TraceLog log;
    CSearchFileCtrl ctrl(log);
    ctrl.SetFolder(folderOf(dir));
    ASSERT_EQ(ctrl.StartSearch("RA2*.BIN"), 0);
    EXPECT_EQ(ctrl.MatchCount(), 3);
    std::vector<std::string> names;
    std::string name;
    do {
        ASSERT_EQ(ctrl.CurrentFileName(name), 0);
        names.push_back(name);
    } while (ctrl.NextFile() == 0);
    EXPECT_EQ(names, (std::vector<std::string>{"RA2100.BIN", "RA2200.BIN", "ra2300.bin"}));
    // The last entry stays selected after the end of the listing.
    EXPECT_EQ(ctrl.SelectedPath(), dir.path() / "ra2300.bin");
    EXPECT_EQ(ctrl.FileSize(), 3u);

    // A search without matches leaves no earlier file selected.
    ASSERT_EQ(ctrl.StartSearch("NONE*.BIN"), 0);
    EXPECT_EQ(ctrl.MatchCount(), 0);
    EXPECT_EQ(ctrl.CurrentFileName(name), -1);
    std::uint32_t length = 0;
    FirmwareImage image;
    EXPECT_EQ(ctrl.GetReadAllData(image, length), CSearchFileCtrl::kReadNotSelected);
}

TEST(SearchFileCtrl, ReadsTheWholeFileIntoOneSharedCopy) {
    TempDir dir;
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    dir.write("rp2cam20100415.bin", bytes);
    LogCapture capture;
    CSearchFileCtrl ctrl(capture.log());
    std::mutex shared;
    ctrl.SetSharedLock(&shared);
    ctrl.SetFolder(folderOf(dir));
    // Selected by the upper-case name, read by the name as listed.
    ctrl.SelectFile(dir.path() / "RP2CAM20100415.BIN");
    ASSERT_EQ(ctrl.State(), CSearchFileCtrl::kStateFileSelected);
    EXPECT_EQ(ctrl.SelectedPath(), dir.path() / "rp2cam20100415.bin");

    FirmwareImage image;
    std::uint32_t length = 0;
    ASSERT_EQ(ctrl.GetReadAllData(image, length), CSearchFileCtrl::kReadOk);
    ASSERT_TRUE(image);
    EXPECT_EQ(length, bytes.size());
    EXPECT_EQ(std::string(image->begin(), image->end()), bytes);
    EXPECT_EQ(capture.count("GetReadAllData Start."), 1u);
    EXPECT_EQ(capture.count("GetReadAllData File Read End Size (300000/300000)"), 1u);
    EXPECT_EQ(capture.count("not EnterCriticalSection"), 0u);

    // The caller's buffer form: a buffer too small is refused, never overrun.
    std::vector<std::uint8_t> small(bytes.size() - 1, 0xEE);
    EXPECT_EQ(ctrl.GetReadAllData(std::span<std::uint8_t>(small), length),
              CSearchFileCtrl::kReadTooLarge);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(small[0], 0xEE);
    std::vector<std::uint8_t> exact(bytes.size());
    ASSERT_EQ(ctrl.GetReadAllData(std::span<std::uint8_t>(exact), length), 0);
    EXPECT_EQ(std::string(exact.begin(), exact.end()), bytes);
}

TEST(SearchFileCtrl, VanishedEmptyAndOversizedFilesGiveErrorsAndTraceLines) {
    TempDir dir;
    const auto file = dir.write("RA2100.BIN", "firmware");
    LogCapture capture;
    CSearchFileCtrl ctrl(capture.log());
    ctrl.SetFolder(folderOf(dir));
    ctrl.SelectFile(file);
    ASSERT_EQ(ctrl.State(), CSearchFileCtrl::kStateFileSelected);

    ctrl.SetReadLimit(4);
    FirmwareImage image;
    std::uint32_t length = 0;
    EXPECT_EQ(ctrl.GetReadAllData(image, length), CSearchFileCtrl::kReadTooLarge);
    EXPECT_FALSE(image);
    EXPECT_EQ(capture.count("GetReadAllData File Too Large (8/4)"), 1u);
    ctrl.SetReadLimit(CSearchFileCtrl::kDefaultReadLimit);

    // Emptied after selection: the size at reading counts.
    dir.write("RA2100.BIN", "");
    EXPECT_EQ(ctrl.GetReadAllData(image, length), CSearchFileCtrl::kReadEmpty);
    EXPECT_EQ(capture.count("GetReadAllData File Size Zero("), 1u);

    // Replaced by a folder, then gone.
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_EQ(ctrl.GetReadAllData(image, length), CSearchFileCtrl::kReadVanished);
    std::filesystem::remove(file);
    EXPECT_EQ(ctrl.GetReadAllData(image, length), CSearchFileCtrl::kReadVanished);
    EXPECT_EQ(capture.count("GetReadAllData File Not Found("), 2u);
    EXPECT_FALSE(image);
    EXPECT_EQ(length, 0u);

    // Selected while empty: never opened.
    dir.write("RA2200.BIN", "");
    ctrl.SelectFile(dir.path() / "RA2200.BIN");
    const std::size_t opens = capture.count("GetReadAllData File Open.");
    EXPECT_EQ(ctrl.GetReadAllData(image, length), CSearchFileCtrl::kReadEmpty);
    EXPECT_EQ(capture.count("GetReadAllData File Open."), opens);
    // A name that is not there, in any case.
    ctrl.SelectFile(dir.path() / "RA2300.BIN");
    EXPECT_EQ(ctrl.State(), CSearchFileCtrl::kStateFileMissing);
}

TEST(SearchFileCtrl, WithoutASharedLockEveryTwoLockStepSaysSo) {
    TempDir dir;
    dir.write("RA2100.BIN", "x");
    LogCapture capture;
    CSearchFileCtrl ctrl(capture.log());
    ctrl.SetFolder(folderOf(dir));
    ASSERT_EQ(ctrl.StartSearch("RA2*.BIN"), 0);
    std::string name;
    ASSERT_EQ(ctrl.CurrentFileName(name), 0);
    EXPECT_EQ(ctrl.NextFile(), -1);
    FirmwareImage image;
    std::uint32_t length = 0;
    ASSERT_EQ(ctrl.GetReadAllData(image, length), 0);
    EXPECT_EQ(capture.count("not EnterCriticalSection "), 4u);
    EXPECT_EQ(capture.count("not LeaveCriticalSection "), 4u);
}

TEST(SearchFileCtrl, SharedLockSerialisesInstances) {
    TempDir dir;
    dir.write("RA2100.BIN", "x");
    TraceLog log;
    std::mutex shared;
    CSearchFileCtrl ctrl(log);
    ctrl.SetSharedLock(&shared);
    ctrl.SetFolder(folderOf(dir));
    std::atomic<bool> done{false};
    std::unique_lock<std::mutex> held(shared);
    std::thread worker([&] {
        ctrl.StartSearch("RA2*.BIN");
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done.load());
    held.unlock();
    worker.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(ctrl.MatchCount(), 1);
}
