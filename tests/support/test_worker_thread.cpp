#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "support/worker_thread.h"

using namespace lanrove;

namespace {

struct Captured {
    std::filesystem::path dir;
    TraceLog log;
    Captured() {
        static int n = 0;
        dir = std::filesystem::temp_directory_path() /
              ("lanrove-wt-" + std::to_string(::getpid()) + "-" + std::to_string(++n));
        std::filesystem::create_directories(dir);
        log.create(dir);
    }
    ~Captured() {
        log.close();
        std::filesystem::remove_all(dir);
    }
    std::string text() {
        std::ifstream in(log.currentFile());
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

bool has(const std::string& text, const std::string& needle) {
    return text.find(needle) != std::string::npos;
}

// The stop procedure's waits are 300000 ms protocol time: 300 ms at this scale.
const ScaledClock kClock(0.001);

}  // namespace

TEST(WorkerThread, CooperativeThreadStopsInTheFirstWait) {
    Captured c;
    WorkerThread t;
    ManualResetEvent stop;
    t.start([&] { stop.wait(); });
    EXPECT_TRUE(t.running());
    EXPECT_EQ(stopWorkerThread(t, stop, mainWindowStopLines("m_hRecvThread"), c.log, kClock), 1);
    EXPECT_FALSE(t.hasHandle());
    const std::string text = c.text();
    EXPECT_TRUE(has(text, "LanroveSetupDlg Firmup Thread:m_hRecvThread Stop."));
    EXPECT_TRUE(has(text, "LanroveSetupDlg Firmup Thread:m_hRecvThread Handle Close."));
    EXPECT_FALSE(has(text, "RetryStop"));
}

TEST(WorkerThread, SlowThreadStopsInTheSecondWait) {
    Captured c;
    WorkerThread t;
    ManualResetEvent stop;
    t.start([&] {
        stop.wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(450));
    });
    EXPECT_EQ(stopWorkerThread(t, stop, mainWindowStopLines("X"), c.log, kClock), 1);
    const std::string text = c.text();
    EXPECT_TRUE(has(text, "LanroveSetupDlg Firmup Thread:X RetryStop."));
    EXPECT_FALSE(has(text, "Thread:X Stop."));
    EXPECT_TRUE(has(text, "Thread:X Handle Close."));
}

TEST(WorkerThread, StuckThreadIsGivenUp) {
    Captured c;
    WorkerThread t;
    ManualResetEvent stop;
    auto release = std::make_shared<ManualResetEvent>();
    t.start([release] { release->wait(); });  // ignores the stop event
    EXPECT_EQ(stopWorkerThread(t, stop, mainWindowStopLines("m_hFirmupThread"), c.log, kClock), 0);
    EXPECT_FALSE(t.hasHandle());
    EXPECT_TRUE(has(c.text(), "LanroveSetupDlg Firmup Thread:m_hFirmupThread TerminateThread."));
    EXPECT_TRUE(has(c.text(), "Thread:m_hFirmupThread Handle Close."));
    release->set();  // let the detached thread finish; it only holds its own state
}

TEST(WorkerThread, NoHandleOrAlreadyEnded) {
    Captured c;
    WorkerThread t;
    ManualResetEvent stop;
    EXPECT_EQ(stopWorkerThread(t, stop, mainWindowStopLines("A"), c.log, kClock), 0);

    t.start([] {});
    ASSERT_TRUE(t.waitEnd(std::chrono::seconds(5)));
    EXPECT_FALSE(t.running());
    EXPECT_EQ(stopWorkerThread(t, stop, mainWindowStopLines("B"), c.log, kClock), 1);
    EXPECT_FALSE(stop.isSet());  // an ended thread is not signalled
    EXPECT_TRUE(has(c.text(), "Thread:B Handle Close."));

    // A thread that closed its own handle leaves nothing to stop.
    t.start([&t] { t.closeHandleFromInside(); });
    ASSERT_TRUE(t.waitEnd(std::chrono::seconds(5)));
    EXPECT_EQ(stopWorkerThread(t, stop, mainWindowStopLines("C"), c.log, kClock), 0);
    EXPECT_FALSE(has(c.text(), "Thread:C"));
    EXPECT_FALSE(has(c.text(), "Thread:A"));
}

TEST(WorkerThread, RestartAfterSelfClose) {
    WorkerThread t;
    std::atomic<int> runs{0};
    for (int i = 0; i < 3; ++i) {
        t.start([&] {
            ++runs;
            t.closeHandleFromInside();
        });
        ASSERT_TRUE(t.waitEnd(std::chrono::seconds(5)));
    }
    EXPECT_EQ(runs.load(), 3);
}
