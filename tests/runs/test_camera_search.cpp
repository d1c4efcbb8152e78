// The search worker over fake adapters: replies reach the receive thread through a fake
// network, so nothing leaves the machine (version-1 cameras that would be asked over HTTP are
// left out; the lab tests cover them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "search_fixture.h"

using namespace lanrove;
using lanrove::testing::makeAdapter;
using lanrove::testing::SearchFixture;
using lanrove::testing::simCamera;

namespace {

class SearchTest : public SearchFixture {};

std::vector<int> oneTo(int n) {
    std::vector<int> v;
    for (int i = 1; i <= n; ++i) v.push_back(i);
    return v;
}

}  // namespace

TEST_F(SearchTest, SecondAdapterOnTheSameSegmentListsEachCameraOnce) {
    net.adapters = {makeAdapter("192.168.0.10"), makeAdapter("192.168.0.11")};
    addReply(simCamera(1, "192.168.0.2"));
    addReply(simCamera(2, "192.168.0.20"));
    addReply(simCamera(3, "192.168.0.2", 1));  // factory address: never asked over HTTP
    make(0.01);
    runToEnd();
    EXPECT_EQ(events.rows(), 3);
    CameraStore& s = core->store();
    EXPECT_EQ(s.m_nFindWrite, 6);  // every reply of both passes was taken over...
    EXPECT_EQ(s.m_nFindRead, 6);
    EXPECT_EQ(core->adapterIndex(), 0);  // ...and the first adapter that found any is kept
    // Both passes run at once, so the table's order mixes their records: find it by MAC.
    const int v1Index = s.findByMac(u"00:1B:7C:00:00:03", s.m_nFindWrite);
    ASSERT_GE(v1Index, 0);
    const CameraEntry& v1 = s.m_CamTable[static_cast<std::size_t>(v1Index)];
    EXPECT_EQ(v1.wProtoVer, 1);
    EXPECT_TRUE(fieldEmpty(v1.szPort));
    EXPECT_EQ(v1.nRtspRtp, 0);
    EXPECT_EQ(net.flushes.load(), 1);
    // The end of the search: no "not found", then the buttons in order.
    std::lock_guard lock(events.mutex);
    const std::vector<std::string> tail(events.calls.end() - 4, events.calls.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"enable 1000", "close on", "enable 1006", "enable 1007"}));
}

TEST_F(SearchTest, DuplicateDirectlyAfterItsOriginalOnTheSecondAdapterIsSkipped) {
    // The second pass's first record is the one camera of the first pass, at the very next
    // index: the look-back must include the record just before it.
    net.adapters = {makeAdapter("192.168.0.10"), makeAdapter("192.168.0.11")};
    addReply(simCamera(1, "192.168.0.20"));
    make(0.01);
    runToEnd();
    EXPECT_EQ(events.rows(), 1);
    EXPECT_EQ(core->store().m_nFindWrite, 2);
    EXPECT_EQ(core->store().m_nFindRead, 2);
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(std::count(events.calls.begin(), events.calls.end(), "row 0"), 1);
    EXPECT_EQ(std::count(events.calls.begin(), events.calls.end(), "row 1"), 0);
}

TEST_F(SearchTest, AdaptersWithoutAddressAreSkippedAndNothingFoundIsReported) {
    net.adapters = {makeAdapter("0.0.0.0")};
    addReply(simCamera(1, "192.168.0.20"));
    make(0.01);
    runToEnd();
    EXPECT_EQ(events.rows(), 0);
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(events.calls, (std::vector<std::string>{"notfound", "enable 1000", "close on",
                                                      "enable 1006", "enable 1007"}));
}

TEST_F(SearchTest, PassThatCannotOpenTheReplyPortSendsNothingAndSaysWhy) {
    net.adapters = {makeAdapter("192.168.0.10")};
    addReply(simCamera(1, "192.168.0.20"));
    transport.air.openError = EADDRINUSE;  // another program holds port 10000
    make(0.01);
    runToEnd();
    EXPECT_EQ(transport.requests.load(), 0);
    EXPECT_EQ(events.rows(), 0);
    EXPECT_EQ(capture.count("Search receive port open error = " + std::to_string(EADDRINUSE)), 1u);
    std::lock_guard lock(events.mutex);
    const auto said = std::find_if(events.calls.begin(), events.calls.end(), [](const auto& c) {
        return c.rfind("porterror The search cannot open port 10000", 0) == 0;
    });
    ASSERT_NE(said, events.calls.end());
    ASSERT_NE(std::next(said), events.calls.end());
    EXPECT_EQ(*std::next(said), "notfound");  // told why before the general box
}

TEST_F(SearchTest, CancelRightAfterTheStartEndsTheSearchSoon) {
    net.adapters = {makeAdapter("192.168.0.10"), makeAdapter("192.168.0.11")};
    addReply(simCamera(1, "192.168.0.20"));
    make(1.0);  // real time: one pass would take 30 seconds
    const auto start = std::chrono::steady_clock::now();
    core->startSearch(events);
    core->cancelSearch();
    ASSERT_TRUE(core->waitSearchEnd(std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(core->store().m_bSearchEnd.load(), 1u);
}

TEST_F(SearchTest, RepliesToTheFirstRequestAreListedBeforeTheSecondIsSent) {
    // The receive socket takes a while to open; a camera answers within a millisecond of
    // request 1. Its reply must not be lost in between.
    net.adapters = {makeAdapter("192.168.0.10")};
    addReply(simCamera(1, "192.168.0.20"));
    transport.air.openDelayMs = 50;
    std::atomic<int> rowsAtRequest2{-1};
    transport.onRequest = [&](int number) {
        if (number == 2) rowsAtRequest2 = events.rows();
    };
    make(0.02);  // requests 200 ms apart
    runToEnd();
    EXPECT_EQ(rowsAtRequest2.load(), 1);
    EXPECT_EQ(transport.air.lost(), 0);
    EXPECT_EQ(transport.acknowledgements.load(), 1);
}

TEST_F(SearchTest, LaterSendsUseTheRememberedAdapterNotTheLastPassOne) {
    net.adapters = {makeAdapter("192.168.10.10"), makeAdapter("192.168.20.10")};
    transport.answerOnlyOn = "192.168.10.10";
    addReply(simCamera(1, "192.168.10.20"));
    make(0.01);
    runToEnd();
    ASSERT_EQ(events.rows(), 1);
    EXPECT_EQ(core->adapterIndex(), 0);
    EXPECT_EQ(core->link().adapter().ip(), "192.168.10.10");
    // A settings run's command goes out on that adapter.
    dgram::Payload payload{};
    core->link().sendDatagram(dgram::kIpSetting, payload.data(), 18, dgram::kArgIpSetting);
    EXPECT_EQ(transport.lastAdapterIp(), "192.168.10.10");
}

TEST_F(SearchTest, StartLeavesAnEndingReceiveThreadEnding) {
    // A receive thread of an earlier pass is still inside its receive time-out when the
    // next search starts: it must see the stop flag and end by itself, not be revived.
    net.adapters = {};
    make(0.1);  // receive time-out 300 ms
    ASSERT_EQ(core->link().startRecvThread(), 0);
    core->store().m_bStop = 1;  // the end of that pass
    core->startSearch(events);
    EXPECT_EQ(core->store().m_bStop.load(), 1u);
    ASSERT_TRUE(core->waitSearchEnd(std::chrono::seconds(10)));
    for (int i = 0; i < 300 && core->link().recvThreadRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(core->link().recvThreadRunning());
    EXPECT_EQ(capture.count("RecvProc End."), 1u);
    EXPECT_EQ(capture.count("RecvProc Stop!!!"), 0u);
}

// ---- Overlap marking cadence: each of the first 25 rows, then every 250th; while no new
// record comes, once for the current count up to 100 rows; once more when the pass ends.

TEST_F(SearchTest, MarkingAfterEachOfTheFirst25RowsThenOnPauseAndAtTheEnd) {
    net.adapters = {makeAdapter("192.168.0.10")};
    for (int i = 1; i <= 30; ++i) addReply(simCamera(i, "192.168.0.20"));
    make(0.02);
    holdFirstRowUntil(30);
    runToEnd();
    ASSERT_EQ(events.rows(), 30);
    std::vector<int> expected = oneTo(25);
    expected.push_back(30);  // the pause after the burst
    expected.push_back(30);  // the end of the pass
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(events.marks, expected);
}

TEST_F(SearchTest, PauseRightAfterAMarkedRowMarksOnceMore) {
    // The pause branch remembers only its own posts: the rows marked one by one are marked
    // again when the flow pauses.
    net.adapters = {makeAdapter("192.168.0.10")};
    for (int i = 1; i <= 3; ++i) addReply(simCamera(i, "192.168.0.20"));
    make(0.02);
    holdFirstRowUntil(3);
    runToEnd();
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(events.marks, (std::vector<int>{1, 2, 3, 3, 3}));
}

TEST_F(SearchTest, Every250thRowIsMarkedAndNoPauseMarkingAbove100Rows) {
    net.adapters = {makeAdapter("192.168.0.10")};
    for (int i = 1; i <= 260; ++i) addReply(simCamera(i, "192.168.0.20"));
    make(0.05);  // a 1.5 s pass leaves room for 260 turns of the loop
    holdFirstRowUntil(260);
    runToEnd();
    ASSERT_EQ(events.rows(), 260);
    std::vector<int> expected = oneTo(25);
    expected.push_back(250);
    expected.push_back(260);  // only the end of the pass
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(events.marks, expected);
}

TEST_F(SearchTest, EachTurnOfThePassLoopWaitsAlsoWhileRecordsAreWaiting) {
    net.adapters = {makeAdapter("192.168.0.10")};
    for (int i = 1; i <= 10; ++i) addReply(simCamera(i, "192.168.0.20"));
    make(0.02);
    holdFirstRowUntil(10);
    runToEnd();
    std::lock_guard lock(events.mutex);
    ASSERT_EQ(events.pollsAtRow.size(), 10u);
    for (std::size_t i = 1; i < events.pollsAtRow.size(); ++i)
        EXPECT_GT(events.pollsAtRow[i], events.pollsAtRow[i - 1]) << "row " << i;
}

TEST_F(SearchTest, MacAnsweringFromTwoAddressesIsMarkedUntilANewSearchAgrees) {
    net.adapters = {makeAdapter("192.168.0.10")};
    addReply(simCamera(1, "192.168.0.20"));
    addReply(simCamera(1, "192.168.0.66"));  // a second device with the same MAC
    addReply(simCamera(2, "192.168.0.21"));
    addReply(simCamera(2, "192.168.0.21"));  // a plain repeat
    make(0.01);
    runToEnd();
    const std::string spoofedMac = "00:1B:7C:00:00:01";
    EXPECT_EQ(core->trust().spoofedAddresses(spoofedMac), "192.168.0.20, 192.168.0.66");
    EXPECT_FALSE(core->trust().spoofed("00:1B:7C:00:00:02"));
    CameraStore& s = core->store();
    ASSERT_EQ(s.m_nFindRead, 2);
    EXPECT_EQ(s.m_CamTable[0].dwResult, kResultSpoofed);
    EXPECT_NE(s.m_CamTable[1].dwResult, kResultSpoofed);
    {
        std::lock_guard lock(events.mutex);
        ASSERT_FALSE(events.marks.empty());
        EXPECT_EQ(events.marks.back(), 2);  // classified again after the mark
    }
    // No credentials while marked.
    CgiSessionSlot slot;
    CameraEntry target = s.m_CamTable[0];
    EXPECT_EQ(core->cgi().ConnectInitSess(target, slot, true), kCgiFailed);
    EXPECT_EQ(capture.count("nothing is sent to it until a new search agrees"), 2u);

    transport.replies.erase(transport.replies.begin() + 1);
    runToEnd();
    EXPECT_FALSE(core->trust().spoofed(spoofedMac));
    EXPECT_NE(s.m_CamTable[0].dwResult, kResultSpoofed);
}
