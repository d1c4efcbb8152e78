// A factory reset whose thread cannot be started ends at once with its error: done, not
// running, the event line written, nothing sent.
#include <gtest/gtest.h>

#include <memory>

#include "discovery/log_capture.h"
#include "runs/factory_reset.h"
#include "support/worker_thread.h"

namespace lanrove::testing {

TEST(FactoryResetStart, AThreadThatCannotStartEndsTheRunWithAnError) {
    ScaledClock clock(0.001);
    LogCapture capture;
    WireCodec codec;
    auto store = std::make_unique<CameraStore>();
    CCGI cgi(clock, capture.log(), codec);
    FactoryReset reset(FactoryResetContext{*store, cgi, capture.log(), clock});
    CameraEntry e{};
    e.clear();
    setField(e.szIp, std::string_view("192.168.0.2"));
    ASSERT_TRUE(store->append(e));
    int sent = 0;
    reset.setSender([&sent](const CameraEntry&, CgiSessionSlot&, int) {
        ++sent;
        return kCgiOk;
    });

    WorkerThread::failNextStartsForTest(1);
    const long result = reset.start(nullptr);
    EXPECT_NE(result, 0);
    EXPECT_TRUE(reset.done());
    EXPECT_FALSE(reset.running());
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(capture.count("Reset thread start error"), 1u);
    EXPECT_NE(factoryResetStartText(result).find("no camera was reset"), std::string::npos);

    // The next start works again.
    EXPECT_EQ(reset.start(nullptr), 0);
    EXPECT_TRUE(reset.waitDone(Millis(10000)));
    EXPECT_EQ(sent, 1);
}

}  // namespace lanrove::testing
