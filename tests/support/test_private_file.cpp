// The program's own files: created private, never written or read through a symbolic link or
// into anything but a regular file, replaced whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/temp_dir.h"
#include "support/private_file.h"
#include "support/trace_log.h"

namespace lanrove {
namespace {

namespace fs = std::filesystem;

fs::perms modeOf(const fs::path& p) {
    return fs::symlink_status(p).permissions() & fs::perms::all;
}

std::string contentOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(PrivateFile, CreatedOwnerOnlyWhateverTheUmaskAllowsAndAppendedOrCut) {
    test::TempDir dir;
    const fs::path file = dir.path() / "journal.txt";
    ASSERT_TRUE(writePrivateFile(file, "first\n"));
    EXPECT_EQ(modeOf(file), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(contentOf(file), "first\n");

    std::FILE* f = fopenPrivateFile(file, PrivateWrite::Append);
    ASSERT_NE(f, nullptr);
    std::fputs("second\n", f);
    std::fclose(f);
    EXPECT_EQ(contentOf(file), "first\nsecond\n");
    const int fd = openPrivateFile(file, PrivateWrite::Truncate);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);  // a child process never inherits it
    EXPECT_TRUE(writeAll(fd, "third"));
    ::close(fd);
    EXPECT_EQ(contentOf(file), "third");

    // The mode given counts only at creation (a log may be group-readable).
    const fs::path log = dir.path() / "log.txt";
    ::close(openPrivateFile(log, PrivateWrite::Append, 0640));
    EXPECT_EQ(modeOf(log), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(PrivateFile, SymbolicLinkAtThePathIsNeitherWrittenThroughNorRead) {
    test::TempDir dir;
    const fs::path target = dir.path() / "passwd";
    std::ofstream(target) << "root:x:0:0\n";
    const fs::path link = dir.path() / "log.txt";
    fs::create_symlink(target, link);

    errno = 0;
    EXPECT_EQ(openPrivateFile(link, PrivateWrite::Append), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(fopenPrivateFile(link, PrivateWrite::Truncate), nullptr);
    EXPECT_FALSE(writePrivateFile(link, "owned"));
    std::string text = "stale";
    EXPECT_FALSE(readPrivateFile(link, text));
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(contentOf(target), "root:x:0:0\n");

    // A dangling link (to a file someone hopes the program creates) creates nothing.
    const fs::path dangling = dir.path() / "pins.txt";
    fs::create_symlink(dir.path() / "created-by-link", dangling);
    EXPECT_FALSE(writePrivateFile(dangling, "x"));
    EXPECT_FALSE(fs::exists(dir.path() / "created-by-link"));
}

TEST(PrivateFile, OnlyRegularFilesAndAFifoDoesNotHang) {
    test::TempDir dir;
    const fs::path fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Without a reader a plain open for writing would block forever.
    errno = 0;
    EXPECT_EQ(openPrivateFile(fifo, PrivateWrite::Append), -1);
    std::string text;
    EXPECT_FALSE(readPrivateFile(fifo, text));
    EXPECT_FALSE(readPrivateFile(dir.path(), text));
    EXPECT_EQ(openPrivateFile(dir.path(), PrivateWrite::Append), -1);
    EXPECT_FALSE(readPrivateFile(dir.path() / "missing", text));
}

TEST(PrivateFile, ReadStopsAtItsLimit) {
    test::TempDir dir;
    const fs::path file = dir.write("pins.txt", std::string(5000, 'a'));
    std::string text;
    EXPECT_TRUE(readPrivateFile(file, text, 5000));
    EXPECT_EQ(text.size(), 5000u);
    EXPECT_FALSE(readPrivateFile(file, text, 4999));
    EXPECT_TRUE(text.empty());
}

TEST(PrivateFile, ReplaceSwapsTheWholeFileAndReplacesALinkInsteadOfFollowingIt) {
    test::TempDir dir;
    const fs::path target = dir.path() / "elsewhere";
    std::ofstream(target) << "keep";
    const fs::path pins = dir.path() / "pins.txt";
    fs::create_symlink(target, pins);
    ASSERT_TRUE(replacePrivateFile(pins, "AA:BB sha256\n"));
    EXPECT_FALSE(fs::is_symlink(pins));
    EXPECT_EQ(contentOf(pins), "AA:BB sha256\n");
    EXPECT_EQ(contentOf(target), "keep");
    EXPECT_EQ(modeOf(pins), fs::perms::owner_read | fs::perms::owner_write);
    // No temporary file is left beside it.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2);
    // A folder that does not exist: a failure, not a crash or a stray file.
    EXPECT_FALSE(replacePrivateFile(dir.path() / "missing" / "pins.txt", "x"));
}

TEST(PrivateFile, TraceLogPassesOverALinkPlantedAtItsName) {
    test::TempDir dir;
    const fs::path target = dir.path() / "victim";
    std::ofstream(target) << "precious";
    fs::create_directory(dir.path() / "IPLog");
    const auto noon = std::chrono::system_clock::from_time_t(1765281600);  // 2025-12-09
    std::tm tm{};
    const std::time_t t = std::chrono::system_clock::to_time_t(noon);
    localtime_r(&t, &tm);
    char name[64];
    std::snprintf(name, sizeof name, "%s-%04d%02d%02d-00log.txt", TraceLog::kBaseName,
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    fs::create_symlink(target, dir.path() / "IPLog" / name);
    {
        TraceLog log([noon] { return noon; });
        ASSERT_TRUE(log.create(dir.path()));
        log.traceText(1, "a line that must not reach the victim");
        EXPECT_NE(log.currentFile().filename(), name);
        EXPECT_FALSE(fs::is_symlink(log.currentFile()));
        EXPECT_NE(contentOf(log.currentFile()).find("must not reach"), std::string::npos);
        EXPECT_EQ(modeOf(log.currentFile()),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    EXPECT_EQ(contentOf(target), "precious");
}

}  // namespace
}  // namespace lanrove
