#pragma once
// A core over fake adapters for the search worker: replies reach the receive thread through a
// fake network, nothing leaves the machine, and every report of the worker is recorded.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/setup_core.h"
#include "camera_datagrams.h"
#include "discovery/fake_lan.h"
#include "discovery/log_capture.h"

namespace lanrove::testing {

struct SearchRecorder final : SearchEvents {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<int> marks;       // markRows counts, in order
    std::vector<int> pollsAtRow;  // the clock's poll count at each addRow
    std::function<void(int)> onAddRow;
    std::function<int()> polls;

    void note(std::string s) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(s));
    }
    void searchNotFound() override { note("notfound"); }
    void setControlEnabled(int id, bool on) override {
        note((on ? "enable " : "disable ") + std::to_string(id));
    }
    void setCloseEnabled(bool on) override { note(on ? "close on" : "close off"); }
    void addRow(int index) override {
        if (onAddRow) onAddRow(index);
        note("row " + std::to_string(index));
        std::lock_guard lock(mutex);
        if (polls) pollsAtRow.push_back(polls());
    }
    void markRows(int count) override {
        std::lock_guard lock(mutex);
        marks.push_back(count);
    }
    void searchPortError(const std::string& text) override { note("porterror " + text); }
    int rows() {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const auto& c : calls) n += c.rfind("row ", 0) == 0 ? 1 : 0;
        return n;
    }
};

// The scaled clock, counting the pass loop's 15 ms waits.
class CountingClock final : public Clock {
  public:
    explicit CountingClock(double scale) : m_inner(scale) {}
    std::chrono::steady_clock::time_point now() const override { return m_inner.now(); }
    Millis scaled(Millis d) const override { return m_inner.scaled(d); }
    void sleepFor(Millis d) const override {
        if (d == Millis(kSearchPollMs)) ++m_nPolls;
        m_inner.sleepFor(d);
    }
    int polls() const { return m_nPolls.load(); }

  private:
    ScaledClock m_inner;
    mutable std::atomic<int> m_nPolls{0};
};

inline camsim::SimCamera simCamera(int n, const char* ip, int proto = 2) {
    camsim::SimCamera c;
    c.protoVer = proto;
    const std::uint8_t mac[6] = {
        0x00, 0x1B, 0x7C, 0x00, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    std::copy(std::begin(mac), std::end(mac), std::begin(c.mac));
    c.ip = ip;
    c.model = "KT-5200";
    return c;
}

class SearchFixture : public ::testing::Test {
  public:
    ~SearchFixture() override {
        net.flushReleased.set();
        core.reset();
    }

  protected:
    void make(double scale) {
        clock = std::make_unique<CountingClock>(scale);
        ProgramPaths paths;
        paths.folder = std::filesystem::temp_directory_path();
        paths.exeBaseName = "lanrove-test";
        core = std::make_unique<SetupCore>(*clock, capture.log(), paths, 1033, &net, &transport);
        core->loadTexts();
        net.enumerateAdapters(core->adapters());
        events.polls = [this] { return clock->polls(); };
    }
    void addReply(const camsim::SimCamera& c) {
        transport.replies.push_back(camsim::encodeSearchReply(c, WireCodec()));
    }
    void runToEnd() {
        core->startSearch(events);
        ASSERT_TRUE(core->waitSearchEnd(std::chrono::seconds(20)));
    }
    // Holds the worker at its first row until `n` records are in the table, so that the
    // rest are waiting when it goes on.
    void holdFirstRowUntil(int n) {
        events.onAddRow = [this, n](int index) {
            if (index != 0) return;
            for (int i = 0; i < 5000; ++i) {
                {
                    std::lock_guard lock(core->store().m_csCamTable);
                    if (core->store().m_nFindWrite >= n) return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        };
    }

    LogCapture capture;
    FakeHostNetwork net;
    AnsweringTransport transport;
    SearchRecorder events;
    std::unique_ptr<CountingClock> clock;
    std::unique_ptr<SetupCore> core;
};

}  // namespace lanrove::testing
