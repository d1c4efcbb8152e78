#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

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

TEST(WorkerThread, StuckThreadIsWaitedForAfterBothWaits) {
    // The thread ignores the stop event: after the two waits the terminate line is written,
    // and since the thread cannot be killed the procedure waits for it rather than leave it
    // running over objects its owner is about to free.
    Captured c;
    WorkerThread t;
    ManualResetEvent stop;
    ManualResetEvent release;
    std::atomic<bool> returned{false};
    t.start([&] {
        release.wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        returned = true;
    });
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(900));  // past both 300 ms waits
        release.set();
    });
    EXPECT_EQ(stopWorkerThread(t, stop, mainWindowStopLines("m_hFirmupThread"), c.log, kClock), 0);
    EXPECT_TRUE(returned.load());
    releaser.join();
    EXPECT_FALSE(t.hasHandle());
    EXPECT_TRUE(has(c.text(), "LanroveSetupDlg Firmup Thread:m_hFirmupThread TerminateThread."));
    EXPECT_TRUE(has(c.text(), "Thread:m_hFirmupThread Handle Close."));
}

TEST(WorkerThread, ClosingWaitsForAThreadThatClosedItsOwnHandle) {
    // A thread's last steps after closing its own handle (releasing a lock of its owner, say)
    // must be over before the owner goes on to destroy what they touch.
    std::atomic<bool> returned{false};
    {
        WorkerThread t;
        t.start([&] {
            t.closeHandleFromInside();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            returned = true;
        });
        for (int i = 0; i < 500 && t.hasHandle(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_FALSE(t.hasHandle());
        t.closeHandle();
        EXPECT_TRUE(returned.load());
        returned = false;
        t.start([&] {
            t.closeHandleFromInside();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            returned = true;
        });
        for (int i = 0; i < 500 && t.hasHandle(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }  // the destructor too
    EXPECT_TRUE(returned.load());
}

TEST(WorkerThread, StopProcedureWithAFunctionAsItsSignal) {
    Captured c;
    WorkerThread t;
    std::atomic<int> flag{0};
    std::atomic<int> signals{0};
    t.start([&] {
        while (flag.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_EQ(stopWorkerThread(
                  t,
                  [&] {
                      ++signals;
                      flag = 1;
                  },
                  mainWindowStopLines("m_pSearchThread"), c.log, kClock),
              1);
    EXPECT_EQ(signals.load(), 1);
    EXPECT_TRUE(has(c.text(), "LanroveSetupDlg Firmup Thread:m_pSearchThread Stop."));
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
