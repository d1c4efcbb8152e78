#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "discovery/send_schedule.h"
#include "fake_transport.h"
#include "log_capture.h"

using namespace lanrove;
using namespace lanrove::dgram;
using lanrove::testing::LogCapture;
using lanrove::testing::RecordingTransport;

namespace {

struct EndCounter : DiscoveryEvents {
    std::atomic<int> ended{0};
    std::atomic<int> last{0};
    std::atomic<std::chrono::steady_clock::time_point> endedAt{};
    void scheduleEnded(SendSchedule s) override {
        last = static_cast<int>(s);
        endedAt = std::chrono::steady_clock::now();
        ++ended;
    }
};

struct SendScheduleTest : ::testing::Test {
    LogCapture capture;
    CameraStore store;
    RecordingTransport transport;
    ScaledClock clock{0.002};  // 10 s becomes 20 ms, 3 s becomes 6 ms
    DatagramLink link{store, transport, capture.log(), clock};
    SendScheduler scheduler{link, store, capture.log(), clock};
    EndCounter events;

    SendScheduleTest() { scheduler.setEvents(&events); }

    void addRecord(std::size_t i, const char* mac, std::uint16_t version) {
        CameraEntry& r = store.m_SetTable[i];
        r.clear();
        setField(r.szNo, std::string_view(std::to_string(i + 1)));
        setField(r.szMac, std::string_view(mac));
        setField(r.szIp, std::string_view("192.168.0.50"));
        setField(r.szMask, std::string_view("255.255.255.0"));
        setField(r.szGateway, std::string_view("192.168.0.1"));
        setField(r.szTitle, std::string_view("CAM"));
        r.wProtoVer = version;
    }
    bool waitEnded(int n = 1) {
        for (int i = 0; i < 500 && events.ended.load() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return events.ended.load() >= n;
    }
};

}  // namespace

TEST_F(SendScheduleTest, SearchSendsThreeNumberedRequestsThenStops) {
    store.m_bStop = 0;
    scheduler.start(SendSchedule::Search);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(events.last.load(), 100);
    EXPECT_EQ(store.m_bStop.load(), 1u);
    EXPECT_EQ(store.m_bySendCount.load(), 4);
    const auto sent = transport.sent();
    ASSERT_EQ(sent.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(getU16(sent[i].datagram.data()), kSearchRequest);
        EXPECT_EQ(sent[i].datagram[33], i + 1);
    }
    // Cadence: each request one period after the previous one.
    const auto gap = std::chrono::duration_cast<Millis>(sent[2].at - sent[0].at);
    EXPECT_GE(gap.count(), 2 * 20 - 2);
    EXPECT_FALSE(scheduler.running());
}

TEST_F(SendScheduleTest, AutoSendsEveryRecordThreeTimesWithTheDefaultCredential) {
    addRecord(0, "00:80:45:00:00:01", 2);
    addRecord(1, "00:80:45:00:00:02", 1);
    addRecord(3, "00:80:45:00:00:04", 2);  // after the empty record 2: never sent
    scheduler.start(SendSchedule::Auto);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(store.m_bStop.load(), 1u);
    const auto sent = transport.sent();
    ASSERT_EQ(sent.size(), 6u);
    for (const auto& s : sent) {
        EXPECT_EQ(getU16(s.datagram.data()), kIpSetting);
        EXPECT_EQ(getU16(s.datagram.data() + 8), kArgIpSetting);
        EXPECT_NE(s.datagram[32 + 5], 0x04);
    }
    EXPECT_EQ(fieldUtf8(store.m_SetTable[0].szUser), "vorly");
    EXPECT_EQ(fieldUtf8(store.m_SetTable[1].szPassword), "vorly");
    EXPECT_TRUE(fieldEmpty(store.m_SetTable[3].szUser));
    // Version 2 record: credentials in the payload; version 1: 18 bytes only.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sent[0].datagram.data() + 32 + 20)),
              "dm9ybHk6dm9ybHk=");
    EXPECT_EQ(sent[1].datagram[32 + 20], 0);
}

TEST_F(SendScheduleTest, ManualSendsRecordZeroOrNothing) {
    scheduler.start(SendSchedule::Manual);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(transport.sent().size(), 0u);
    EXPECT_EQ(store.m_bStop.load(), 1u);

    addRecord(0, "00:80:45:00:00:09", 2);
    setField(store.m_SetTable[0].szUser, std::string_view("admin"));
    setField(store.m_SetTable[0].szPassword, std::string_view("12345"));
    store.m_bStop = 0;
    scheduler.start(SendSchedule::Manual);
    ASSERT_TRUE(waitEnded(2));
    const auto sent = transport.sent();
    ASSERT_EQ(sent.size(), 3u);
    // The credentials entered at the login step are kept.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sent[0].datagram.data() + 32 + 20)),
              base64Encode("admin:12345"));
}

TEST_F(SendScheduleTest, SendFailureWritesEventLineAndGoesOn) {
    transport.failWith(101);
    scheduler.start(SendSchedule::Search);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(transport.sent().size(), 3u);
    EXPECT_EQ(capture.count("Send ErrCode = 101"), 3u);
    EXPECT_EQ(capture.count("Camera Search"), 3u);
}

TEST_F(SendScheduleTest, StopKillsTheTimerWithoutSettingTheStopFlag) {
    ScaledClock slow(1.0);
    SendScheduler real(link, store, capture.log(), slow);
    store.m_bStop = 0;
    real.start(SendSchedule::Search);
    for (int i = 0; i < 200 && transport.sent().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    real.stop();
    EXPECT_EQ(transport.sent().size(), 1u);
    EXPECT_EQ(store.m_bStop.load(), 0u);
    EXPECT_FALSE(real.running());
}

TEST_F(SendScheduleTest, SearchRequestsKeepTheirPeriodNeitherFasterNorSlower) {
    // Requests at 0, 10 and 20 s and the stop flag at 30 s: each step one period after the
    // one before, with room only for scheduling delays.
    ScaledClock fiftyTimes(0.02);  // a period of 200 ms
    SendScheduler timed(link, store, capture.log(), fiftyTimes);
    timed.setEvents(&events);
    store.m_bStop = 0;
    const auto started = std::chrono::steady_clock::now();
    timed.start(SendSchedule::Search);
    ASSERT_TRUE(waitEnded());
    const auto sent = transport.sent();
    ASSERT_EQ(sent.size(), 3u);
    const auto ms = [](auto d) { return std::chrono::duration_cast<Millis>(d).count(); };
    EXPECT_LT(ms(sent[0].at - started), 50);  // the first request at once
    const std::chrono::steady_clock::time_point steps[] = {sent[0].at, sent[1].at, sent[2].at,
                                                           events.endedAt.load()};
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_GE(ms(steps[i] - steps[i - 1]), 198) << "step " << i;
        EXPECT_LE(ms(steps[i] - steps[i - 1]), 280) << "step " << i;
    }
}
