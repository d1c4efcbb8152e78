// The limits of a firmware update that need no camera: the overall deadline of a transfer, the
// spacing and end of the restart commands to a failed camera, and the cap on a restart wait
// that a camera announces.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>

#include "firmware/camera_steps.h"
#include "runs/firmware_ports.h"
#include "runs/restart_throttle.h"

using namespace lanrove;

TEST(TransferDeadline, ImageAtTheSlowestRateplusTheRowsTimeOut) {
    // 64 KiB/s: one second per 64 KiB, rounded up to the millisecond.
    EXPECT_EQ(transferDeadlineMs(0, 600000), 600000u);
    EXPECT_EQ(transferDeadlineMs(65536, 600000), 601000u);
    EXPECT_EQ(transferDeadlineMs(1, 0), 1u);
    EXPECT_EQ(transferDeadlineMs(64ull * 1024 * 1024, 3600000), 3600000u + 1024000u);
    // A 512 MiB image does not overflow.
    EXPECT_EQ(transferDeadlineMs(512ull * 1024 * 1024, 0), 8192000u);
    // A camera reading 1 KiB/s misses it; one reading 64 KiB/s or faster never does.
    const std::uint64_t image = 512 * 1024;
    EXPECT_GT(image * 1000 / 1024, transferDeadlineMs(image, 180000));
    EXPECT_LE(image * 1000 / (64 * 1024), transferDeadlineMs(image, 0));
}

TEST(RestartThrottle, OneAttemptPerPeriodAndNoneAfterTheTotal) {
    using namespace std::chrono;
    RestartThrottle t(Millis(10000), Millis(60000));
    const auto t0 = steady_clock::time_point{} + hours(1);
    ASSERT_TRUE(t.due(t0));  // at once after the failure
    t.attempted(t0);
    EXPECT_FALSE(t.due(t0 + milliseconds(50)));  // not on the next dispatcher look
    EXPECT_FALSE(t.due(t0 + milliseconds(9999)));
    EXPECT_TRUE(t.due(t0 + milliseconds(10000)));
    // An attempt that took long counts from its end.
    t.attempted(t0 + seconds(15));
    EXPECT_FALSE(t.due(t0 + seconds(24)));
    EXPECT_TRUE(t.due(t0 + seconds(25)));
    // Looking every 50 ms for far longer than the total gives a bounded number of attempts.
    RestartThrottle u(Millis(10000), Millis(60000));
    int attempts = 0;
    for (auto now = t0; now < t0 + minutes(10); now += milliseconds(50)) {
        if (u.due(now)) {
            u.attempted(now);
            ++attempts;
        }
    }
    EXPECT_EQ(attempts, 6);
    EXPECT_EQ(u.attempts(), 6);
    EXPECT_TRUE(u.expired(t0 + seconds(60)));
    EXPECT_FALSE(u.due(t0 + seconds(61)));
    // Another camera starts afresh.
    u.reset();
    EXPECT_TRUE(u.due(t0 + minutes(20)));
    EXPECT_FALSE(u.expired(t0 + minutes(20)));
}

TEST(RebootPause, AnnouncedWaitIsLongerByHalfAndCappedAtTheUploadTimeOut) {
    // Shorter than the reboot time: the reboot time.
    EXPECT_EQ(RebootPauseMs(1000, 180000, 600000), 180000);
    EXPECT_EQ(RebootPauseMs(0, 180000, 600000), 180000);
    EXPECT_EQ(RebootPauseMs(-5, 180000, 600000), 180000);
    // Longer: half as long again.
    EXPECT_EQ(RebootPauseMs(200000, 180000, 600000), 300000);
    // Never beyond the row's upload time-out, however much the camera announces.
    EXPECT_EQ(RebootPauseMs(500000, 180000, 600000), 600000);
    EXPECT_EQ(RebootPauseMs(LONG_MAX, 180000, 600000), 600000);
}
