// The search over several adapters at once, on a fake LAN whose segments deliver replies only
// to the adapters plugged into them: one pass's time for all adapters, each camera listed once
// and owned by the first adapter in adapter order, a pass that cannot open its port does not
// hold up the others, and Cancel or the end of the core stops every pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "search_fixture.h"

using namespace lanrove;
using lanrove::testing::makeAdapter;
using lanrove::testing::SearchFixture;
using lanrove::testing::simCamera;

namespace {

class ParallelSearchTest : public SearchFixture {
  protected:
    // Three adapters, each on a segment of its own ("a", "b", "c").
    void threeSegments() {
        net.adapters = {makeAdapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0"),
                        makeAdapter("192.168.1.10", "255.255.255.0", "0.0.0.0", "eth1"),
                        makeAdapter("192.168.2.10", "255.255.255.0", "0.0.0.0", "eth2")};
        transport.air.setSegment("192.168.0.10", "a");
        transport.air.setSegment("192.168.1.10", "b");
        transport.air.setSegment("192.168.2.10", "c");
    }
    void addReplyOn(const std::string& segment, const camsim::SimCamera& c) {
        transport.segmentReplies[segment].push_back(camsim::encodeSearchReply(c, WireCodec()));
    }
    // The list as the main window would build it from the recorded reports, in their order.
    void replayRows() {
        std::vector<std::string> calls;
        {
            std::lock_guard lock(events.mutex);
            calls = events.calls;
        }
        for (const std::string& c : calls) {
            int a = 0;
            int b = 0;
            if (std::sscanf(c.c_str(), "replace %d %d", &a, &b) == 2)
                core->onReplaceRow(a, b);
            else if (std::sscanf(c.c_str(), "row %d", &a) == 1)
                core->onAddRow(a);
        }
    }
    bool receiversClosedWithin(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (transport.air.openReceivers() > 0) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
};

// Records replacements too.
struct ReplaceNoter final : SearchEvents {
    explicit ReplaceNoter(lanrove::testing::SearchRecorder& r) : inner(r) {}
    void searchNotFound() override { inner.searchNotFound(); }
    void setControlEnabled(int id, bool on) override { inner.setControlEnabled(id, on); }
    void setCloseEnabled(bool on) override { inner.setCloseEnabled(on); }
    void addRow(int index) override { inner.addRow(index); }
    void markRows(int count) override { inner.markRows(count); }
    void replaceRow(int row, int from) override {
        inner.note("replace " + std::to_string(row) + " " + std::to_string(from));
    }
    void searchPortError(const std::string& text) override { inner.searchPortError(text); }
    lanrove::testing::SearchRecorder& inner;
};

}  // namespace

TEST_F(ParallelSearchTest, AllAdaptersAreSearchedAtOnceAndEachCameraIsListedOnce) {
    threeSegments();
    addReplyOn("a", simCamera(1, "192.168.0.21"));
    addReplyOn("a", simCamera(2, "192.168.0.22"));
    addReplyOn("b", simCamera(3, "192.168.1.21"));
    addReplyOn("c", simCamera(4, "192.168.2.21"));
    addReplyOn("c", simCamera(5, "192.168.2.22"));
    make(0.05);  // requests 500 ms apart
    runToEnd();

    EXPECT_EQ(events.rows(), 5);
    EXPECT_EQ(core->store().m_nFindWrite, 5);
    // Every adapter had its socket open at the same time, and every adapter's first request
    // went out before any adapter's second: the passes overlap instead of following each other.
    EXPECT_EQ(transport.air.mostOpenAtOnce(), 3);
    const auto log = transport.requestLog();
    ASSERT_EQ(log.size(), 9u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(log[i].second, 1) << i;
    for (const char* ip : {"192.168.0.10", "192.168.1.10", "192.168.2.10"}) {
        std::vector<int> numbers;
        for (const auto& [from, n] : log)
            if (from == ip) numbers.push_back(n);
        EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3})) << ip;
    }
    EXPECT_EQ(core->adapterIndex(), 0);
    // The per-adapter end line of a pass, once per adapter.
    EXPECT_EQ(capture.count("Find Write:5 Read:5"), 3u);
    EXPECT_EQ(net.flushes.load(), 1);
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(std::count(events.calls.begin(), events.calls.end(), "notfound"), 0);
}

TEST_F(ParallelSearchTest, CameraHeardFirstOnALaterAdapterBelongsToTheFirstAdapter) {
    // The camera answers on both segments, but the first adapter hears it only from the second
    // request on: the row, first listed for the second adapter, goes to the first adapter, as a
    // search of one adapter after the other would have listed it.
    net.adapters = {makeAdapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0"),
                    makeAdapter("192.168.1.10", "255.255.255.0", "0.0.0.0", "eth1")};
    transport.air.setSegment("192.168.0.10", "a");
    transport.air.setSegment("192.168.1.10", "b");
    camsim::SimCamera onA = simCamera(1, "192.168.0.21");
    onA.title = "seen from eth0";
    camsim::SimCamera onB = simCamera(1, "192.168.0.21");
    onB.title = "seen from eth1";
    addReplyOn("a", onA);
    addReplyOn("b", onB);
    addReplyOn("b", simCamera(2, "192.168.1.22"));  // only on the second adapter
    transport.answers = [](const AdapterEntry& a, int number) {
        return a.ip() != "192.168.0.10" || number >= 2;
    };
    ReplaceNoter noter(events);
    make(0.05);
    core->startSearch(noter);
    ASSERT_TRUE(core->waitSearchEnd(std::chrono::seconds(20)));

    EXPECT_EQ(events.rows(), 2);
    // The first adapter found a camera: later runs use it.
    EXPECT_EQ(core->adapterIndex(), 0);
    EXPECT_EQ(core->link().adapter().ip(), "192.168.0.10");
    {
        std::lock_guard lock(events.mutex);
        const auto replaced =
            std::count_if(events.calls.begin(), events.calls.end(),
                          [](const std::string& c) { return c.rfind("replace 0 ", 0) == 0; });
        EXPECT_EQ(replaced, 1);
    }
    replayRows();
    const CameraListModel& list = core->list();
    ASSERT_EQ(list.rowCount(), 2);
    const int row = list.findRowByNumber(u"1");
    ASSERT_GE(row, 0);
    EXPECT_EQ(list.cell(row, kColTitle), u"seen from eth0");
    EXPECT_EQ(list.cell(row, kColNo), u"1");  // the number stays the row's
    EXPECT_EQ(capture.count("also on Adapter(eth0): listed for it."), 1u);
}

TEST_F(ParallelSearchTest, CameraOfTheFirstAdapterIsNotTakenByALaterOne) {
    // Both adapters on one segment: whichever hears a camera first, the rows stay as many as
    // the cameras and belong to the first adapter.
    net.adapters = {makeAdapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0"),
                    makeAdapter("192.168.0.11", "255.255.255.0", "0.0.0.0", "eth1")};
    for (int i = 1; i <= 4; ++i) addReply(simCamera(i, "192.168.0.30"));
    ReplaceNoter noter(events);
    make(0.05);
    core->startSearch(noter);
    ASSERT_TRUE(core->waitSearchEnd(std::chrono::seconds(20)));
    EXPECT_EQ(events.rows(), 4);
    EXPECT_EQ(core->store().m_nFindWrite, 8);  // each adapter's receive thread heard each one
    replayRows();
    EXPECT_EQ(core->list().rowCount(), 4);
    EXPECT_EQ(core->adapterIndex(), 0);
    // A row changes hands at most once (from the second adapter to the first).
    std::lock_guard lock(events.mutex);
    const auto replaced =
        std::count_if(events.calls.begin(), events.calls.end(),
                      [](const std::string& c) { return c.rfind("replace", 0) == 0; });
    EXPECT_LE(replaced, 4);
}

TEST_F(ParallelSearchTest, AdapterWhosePortCannotOpenDoesNotHoldUpTheOthers) {
    threeSegments();
    addReplyOn("a", simCamera(1, "192.168.0.21"));
    addReplyOn("b", simCamera(2, "192.168.1.21"));
    addReplyOn("c", simCamera(3, "192.168.2.21"));
    transport.air.failOpenOn("192.168.1.10", EADDRINUSE);
    make(0.02);
    runToEnd();
    EXPECT_EQ(events.rows(), 2);
    for (const auto& [from, n] : transport.requestLog()) EXPECT_NE(from, "192.168.1.10") << n;
    EXPECT_EQ(capture.count("Search Recv Open Error(" + std::to_string(EADDRINUSE) +
                            ") Adapter(eth1): nothing sent."),
              1u);
    std::lock_guard lock(events.mutex);
    const auto said = std::count_if(events.calls.begin(), events.calls.end(), [](const auto& c) {
        return c.rfind("porterror The search cannot open port 10000 on eth1 ", 0) == 0;
    });
    EXPECT_EQ(said, 1);
    EXPECT_EQ(std::count(events.calls.begin(), events.calls.end(), "notfound"), 0);
}

TEST_F(ParallelSearchTest, AdaptersWithoutAddressAreSkippedBesideTheSearchedOnes) {
    net.adapters = {makeAdapter("0.0.0.0", "255.255.255.0", "0.0.0.0", "eth0"),
                    makeAdapter("192.168.1.10", "255.255.255.0", "0.0.0.0", "eth1")};
    addReply(simCamera(1, "192.168.1.21"));
    make(0.02);
    runToEnd();
    EXPECT_EQ(events.rows(), 1);
    EXPECT_EQ(capture.count("IP address is not set to NIC"), 1u);
    // The remembered adapter is the one that found the camera.
    EXPECT_EQ(core->adapterIndex(), 1);
    EXPECT_EQ(core->search()->passCount(), 1);
    EXPECT_EQ(core->search()->currentAdapter(), 1);
}

TEST_F(ParallelSearchTest, CancelStopsEveryPassAndTheirReceiveThreadsEnd) {
    threeSegments();
    addReplyOn("a", simCamera(1, "192.168.0.21"));
    addReplyOn("c", simCamera(2, "192.168.2.21"));
    make(1.0);  // real time: a pass would take 30 seconds
    const auto start = std::chrono::steady_clock::now();
    core->startSearch(events);
    for (int i = 0; i < 500 && transport.requests.load() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(transport.requests.load(), 3);
    core->cancelSearch();
    ASSERT_TRUE(core->waitSearchEnd(std::chrono::seconds(20)));
    // The worker's own pause (1 s) and the flush: far from a pass of 30 seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(transport.requests.load(), 3);  // no second request anywhere
    // Each receive thread sees its stop flag within one receive time-out (3 s).
    EXPECT_TRUE(receiversClosedWithin(std::chrono::seconds(20)));
    EXPECT_EQ(capture.count("RecvProc End."), 3u);
}

TEST_F(ParallelSearchTest, DestroyingTheCoreMidSearchEndsEveryPassFirst) {
    threeSegments();
    addReplyOn("b", simCamera(1, "192.168.1.21"));
    make(1.0);
    core->startSearch(events);
    for (int i = 0; i < 500 && transport.requests.load() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(transport.requests.load(), 3);
    core.reset();
    // Nothing of the search is left running over the freed core.
    EXPECT_EQ(transport.air.openReceivers(), 0);
    EXPECT_EQ(capture.count("RecvProc Start."), 3u);
    EXPECT_EQ(capture.count("RecvProc End.") + capture.count("RecvProc Stop!!!"), 3u);
}

TEST_F(ParallelSearchTest, ANewSearchEndsThePassesOfTheLastOne) {
    threeSegments();
    addReplyOn("a", simCamera(1, "192.168.0.21"));
    make(0.02);
    runToEnd();
    runToEnd();
    EXPECT_EQ(events.rows(), 2);  // one per search
    EXPECT_EQ(core->store().m_nFindWrite, 1);
    EXPECT_LE(transport.air.mostOpenAtOnce(), 3);  // the last search's sockets were closed
    EXPECT_EQ(capture.count("RecvProc Start."), 6u);
}
