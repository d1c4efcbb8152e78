#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/trace_log.h"

using namespace lanrove;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() / ("lanrove-log-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// 2026-12-08 10:20:30.456 local time.
std::chrono::system_clock::time_point fixedTime(int day = 8) {
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = day;
    tm.tm_hour = 10;
    tm.tm_min = 20;
    tm.tm_sec = 30;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm)) +
           std::chrono::milliseconds(456);
}

}  // namespace

TEST(TraceLog, LineFormatsAndLevels) {
    TempDir dir;
    TraceLog log([] { return fixedTime(); });
    ASSERT_TRUE(log.create(dir.path));
    EXPECT_EQ(log.trace(-1, "Start(%d)", 7), TraceLog::kOk);
    log.trace(1, "one %s", "x");
    log.trace(2, "two");
    EXPECT_NE(log.trace(3, "three"), TraceLog::kOk);
    EXPECT_NE(log.trace(0, "zero"), TraceLog::kOk);
    log.event("Failed", "warn", "");
    log.trace(-2, "bye");
    const fs::path file = dir.path / "IPLog" / "LanroveSetupUtility-20261208-00log.txt";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(slurp(file),
              "-- TraceLog Start --\r\n2026/12/08 10:20:30.456[Lanrove] :Start(7)\r\n"
              "2026/12/08 10:20:30.456[Lanrove] :one x\r\n"
              "2026/12/08 10:20:30.456[Lanrove] :two\r\n"
              "warn\tuser\t2026/12/08\t10:20:30\t\tFailed\r\n"
              "2026/12/08 10:20:30.456[Lanrove] :bye\r\n-- TraceLog End --\r\n");
}

TEST(TraceLog, EventFieldsCannotForgeFieldsOrLines) {
    TempDir dir;
    TraceLog log([] { return fixedTime(); });
    ASSERT_TRUE(log.create(dir.path));
    // A camera's title in the subject and the message.
    log.event("title \"Gate\r\nerr\tuser\tforged\"", "warn", "Gate\x1b[8m\u202E");
    const fs::path file = dir.path / "IPLog" / "LanroveSetupUtility-20261208-00log.txt";
    EXPECT_EQ(slurp(file),
              "warn\tuser\t2026/12/08\t10:20:30\tGate\uFFFD[8m\uFFFD\t"
              "title \"Gate\uFFFD\uFFFDerr\uFFFDuser\uFFFDforged\"\r\n");
}

TEST(TraceLog, OffWhenFolderCannotBeMadeAndLongMessagesCut) {
    TempDir dir;
    std::ofstream(dir.path / "blocker") << "x";
    TraceLog off;
    EXPECT_FALSE(off.create(dir.path / "blocker"));
    EXPECT_EQ(off.trace(1, "ignored"), TraceLog::kErrOff);
    EXPECT_EQ(off.event("m", "err", "s"), TraceLog::kErrOff);

    TraceLog log([] { return fixedTime(); });
    ASSERT_TRUE(log.create(dir.path));
    const std::string huge(40000, 'a');
    log.trace(1, "%s", huge.c_str());
    const std::string text = slurp(log.currentFile());
    EXPECT_EQ(text.size(), std::string("2026/12/08 10:20:30.456[Lanrove] :").size() +
                               TraceLog::kFormatBuffer - 1 + 2);
}

TEST(TraceLog, RotatesWrapsAndPrunes) {
    TempDir dir;
    const fs::path logDir = dir.path / "IPLog";
    fs::create_directories(logDir);
    // Yesterday's files are kept until there are more than 100 in all.
    for (int i = 0; i < 99; ++i) {
        char name[64];
        std::snprintf(name, sizeof(name), "LanroveSetupUtility-20261107-%02dlog.txt", i);
        std::ofstream(logDir / name) << "old";
        fs::last_write_time(logDir / name,
                            fs::file_time_type::clock::now() - std::chrono::hours(200 - i));
    }
    TraceLog log([] { return fixedTime(); });
    ASSERT_TRUE(log.create(dir.path));
    EXPECT_EQ(log.currentFile().filename(), "LanroveSetupUtility-20261208-00log.txt");
    const std::string chunk(1000, 'x');
    for (int i = 0; i < 1100; ++i) log.trace(1, "%s", chunk.c_str());
    // Past 1 MiB the log moved on to index 01, and the 101st file pushed the oldest out.
    EXPECT_EQ(log.currentFile().filename(), "LanroveSetupUtility-20261208-01log.txt");
    EXPECT_FALSE(fs::exists(logDir / "LanroveSetupUtility-20261107-00log.txt"));
    EXPECT_TRUE(fs::exists(logDir / "LanroveSetupUtility-20261107-01log.txt"));
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(logDir)) ++count;
    EXPECT_EQ(count, 100u);
}

TEST(TraceLog, WrapsAfter99ToFirstFileBelowLimit) {
    TempDir dir;
    const fs::path logDir = dir.path / "IPLog";
    fs::create_directories(logDir);
    const std::string full(TraceLog::kMaxFileSize, 'f');
    for (int i = 1; i < 100; ++i) {
        char name[64];
        std::snprintf(name, sizeof(name), "LanroveSetupUtility-20261208-%02dlog.txt", i);
        std::ofstream(logDir / name) << full;
    }
    std::ofstream(logDir / "LanroveSetupUtility-20261208-00log.txt") << "small";
    fs::last_write_time(logDir / "LanroveSetupUtility-20261208-99log.txt",
                        fs::file_time_type::clock::now() + std::chrono::hours(1));
    TraceLog log([] { return fixedTime(); });
    ASSERT_TRUE(log.create(dir.path));
    EXPECT_EQ(log.currentFile().filename(), "LanroveSetupUtility-20261208-00log.txt");
}

TEST(TraceLog, ConcurrentWritersNeverInterleave) {
    TempDir dir;
    TraceLog log;
    ASSERT_TRUE(log.create(dir.path));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 500; ++i) log.trace(1, "thread %d line %d end", t, i);
        });
    for (auto& th : threads) th.join();
    std::istringstream in(slurp(log.currentFile()));
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ASSERT_GE(line.size(), 5u);
        EXPECT_EQ(line.substr(line.size() - 4), "end\r");
        ++lines;
    }
    EXPECT_EQ(lines, 2000);
}

TEST(TraceLog, AppendsToTheNewestFileOfTodayNotToTheFirstBelowTheLimit) {
    const auto name = [](int index) {
        char text[64];
        std::snprintf(text, sizeof(text), "LanroveSetupUtility-20261208-%02dlog.txt", index);
        return std::string(text);
    };
    const auto now = fs::file_time_type::clock::now();
    const std::string full(TraceLog::kMaxFileSize, 'f');

    // 00 and 01 are below the limit too, but 02 was written last: the log goes on in 02.
    {
        TempDir dir;
        const fs::path logDir = dir.path / "IPLog";
        fs::create_directories(logDir);
        for (int i = 0; i < 3; ++i) {
            std::ofstream(logDir / name(i)) << "file " << i << "\r\n";
            fs::last_write_time(logDir / name(i), now - std::chrono::minutes(30 - 10 * i));
        }
        TraceLog log([] { return fixedTime(); });
        ASSERT_TRUE(log.create(dir.path));
        EXPECT_EQ(log.currentFile().filename(), name(2));
        log.trace(1, "next");
        EXPECT_EQ(slurp(logDir / name(2)), "file 2\r\n2026/12/08 10:20:30.456[Lanrove] :next\r\n");
        EXPECT_EQ(slurp(logDir / name(0)), "file 0\r\n");
    }
    // The newest (04) is full and so is 05: the log moves on to a new 06, not back to 00.
    {
        TempDir dir;
        const fs::path logDir = dir.path / "IPLog";
        fs::create_directories(logDir);
        std::ofstream(logDir / name(0)) << "small";
        fs::last_write_time(logDir / name(0), now - std::chrono::hours(3));
        std::ofstream(logDir / name(5)) << full;
        fs::last_write_time(logDir / name(5), now - std::chrono::hours(2));
        std::ofstream(logDir / name(4)) << full;
        fs::last_write_time(logDir / name(4), now - std::chrono::hours(1));
        TraceLog log([] { return fixedTime(); });
        ASSERT_TRUE(log.create(dir.path));
        EXPECT_EQ(log.currentFile().filename(), name(6));
        log.trace(1, "next");
        EXPECT_EQ(slurp(logDir / name(0)), "small");
        EXPECT_EQ(fs::file_size(logDir / name(4)), TraceLog::kMaxFileSize);
    }
}

TEST(TraceLog, FileIsNotInheritedByChildProcesses) {
    // The ARP cache flush runs as a child process; the open log must close on exec.
    TempDir dir;
    TraceLog log;
    ASSERT_TRUE(log.create(dir.path));
    log.traceText(1, "line");
    const fs::path file = fs::canonical(log.currentFile());
    int found = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (ec || target != file) continue;
        const int fd = std::stoi(entry.path().filename().string());
        ++found;
        EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "fd " << fd;
    }
    EXPECT_EQ(found, 1);
    log.close();
}
