// The search worker over fake adapters: replies are handed to the receive handling directly,
// so nothing leaves the machine (version-1 cameras that would be asked over HTTP are left out;
// the lab tests cover them).
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "app/setup_core.h"
#include "camera_datagrams.h"
#include "discovery/fake_lan.h"
#include "support/trace_log.h"

using namespace lanrove;
using lanrove::testing::AnsweringTransport;
using lanrove::testing::FakeHostNetwork;
using lanrove::testing::makeAdapter;

namespace {

struct Recorder final : SearchEvents {
    std::mutex mutex;
    std::vector<std::string> calls;
    void note(std::string s) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(s));
    }
    void searchNotFound() override { note("notfound"); }
    void setControlEnabled(int id, bool on) override {
        note((on ? "enable " : "disable ") + std::to_string(id));
    }
    void setCloseEnabled(bool on) override { note(on ? "close on" : "close off"); }
    void addRow(int index) override { note("row " + std::to_string(index)); }
    void markRows(int) override {}
    int rows() {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const auto& c : calls) n += c.rfind("row ", 0) == 0 ? 1 : 0;
        return n;
    }
};

camsim::SimCamera camera(std::uint8_t last, const char* ip, int proto = 2) {
    camsim::SimCamera c;
    c.protoVer = proto;
    const std::uint8_t mac[6] = {0x00, 0x1B, 0x7C, 0x00, 0x09, last};
    std::copy(std::begin(mac), std::end(mac), std::begin(c.mac));
    c.ip = ip;
    c.model = "KT-5200";
    return c;
}

class SearchTest : public ::testing::Test {
  protected:
    void make(double scale) {
        clock = std::make_unique<ScaledClock>(scale);
        ProgramPaths paths;
        paths.folder = std::filesystem::temp_directory_path();
        paths.exeBaseName = "lanrove-test";
        core = std::make_unique<SetupCore>(*clock, log, paths, 1033, &net, &transport);
        transport.core = core.get();
        core->loadTexts();
        net.enumerateAdapters(core->adapters());
    }
    void addReply(const camsim::SimCamera& c) {
        transport.replies.push_back(camsim::encodeSearchReply(c, WireCodec()));
    }
    void runToEnd() {
        core->startSearch(events);
        ASSERT_TRUE(core->waitSearchEnd(std::chrono::seconds(20)));
    }

    TraceLog log;
    FakeHostNetwork net;
    AnsweringTransport transport;
    Recorder events;
    std::unique_ptr<ScaledClock> clock;
    std::unique_ptr<SetupCore> core;
};

}  // namespace

TEST_F(SearchTest, SecondAdapterOnTheSameSegmentListsEachCameraOnce) {
    net.adapters = {makeAdapter("192.168.0.10"), makeAdapter("192.168.0.11")};
    addReply(camera(1, "192.168.0.2"));
    addReply(camera(2, "192.168.0.20"));
    addReply(camera(3, "192.168.0.2", 1));  // factory address: never asked over HTTP
    make(0.01);
    runToEnd();
    EXPECT_EQ(events.rows(), 3);
    CameraStore& s = core->store();
    EXPECT_EQ(s.m_nFindWrite, 6);  // every reply of both passes was taken over...
    EXPECT_EQ(s.m_nFindRead, 6);
    EXPECT_EQ(core->adapterIndex(), 0);  // ...and the first adapter that found any is kept
    const CameraEntry& v1 = s.m_CamTable[2];
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

TEST_F(SearchTest, AdaptersWithoutAddressAreSkippedAndNothingFoundIsReported) {
    net.adapters = {makeAdapter("0.0.0.0")};
    addReply(camera(1, "192.168.0.20"));
    make(0.01);
    runToEnd();
    EXPECT_EQ(events.rows(), 0);
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(events.calls, (std::vector<std::string>{"notfound", "enable 1000", "close on",
                                                      "enable 1006", "enable 1007"}));
}

TEST_F(SearchTest, CancelRightAfterTheStartEndsTheSearchSoon) {
    net.adapters = {makeAdapter("192.168.0.10"), makeAdapter("192.168.0.11")};
    addReply(camera(1, "192.168.0.20"));
    make(1.0);  // real time: one pass would take 30 seconds
    const auto start = std::chrono::steady_clock::now();
    core->startSearch(events);
    core->cancelSearch();
    ASSERT_TRUE(core->waitSearchEnd(std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(core->store().m_bSearchEnd.load(), 1u);
}
