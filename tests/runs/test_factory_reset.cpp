// The factory reset thread: which cameras get the command in what order and with which
// account, when the settle wait runs, what a stop request ends, and the thread's end at
// shutdown. Most tests replace the HTTP send with a recorder; one sends to simulated cameras
// on loopback addresses.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "app/setup_core.h"
#include "cgi/sim_helpers.h"
#include "discovery/fake_lan.h"
#include "discovery/log_capture.h"
#include "runs/factory_reset.h"
#include "web_side.h"

namespace lanrove::testing {
namespace {

// The scaled clock, keeping every sleep it was asked for (in protocol milliseconds).
class SleepRecordingClock final : public Clock {
  public:
    explicit SleepRecordingClock(double scale) : m_inner(scale) {}
    std::chrono::steady_clock::time_point now() const override { return m_inner.now(); }
    Millis scaled(Millis d) const override { return m_inner.scaled(d); }
    void sleepFor(Millis d) const override {
        {
            std::lock_guard lock(m_mutex);
            m_sleeps.push_back(d.count());
        }
        m_inner.sleepFor(d);
    }
    int settleWaits() const {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (long ms : m_sleeps) n += ms == kResetSettleMs ? 1 : 0;
        return n;
    }

  private:
    ScaledClock m_inner;
    mutable std::mutex m_mutex;
    mutable std::vector<long> m_sleeps;
};

struct Sent {
    std::string no, ip, user, password, port, ssl;
    int num = -1;
};

class FactoryResetTest : public ::testing::Test {
  protected:
    FactoryResetTest() : cgi(clock, capture.log(), codec) {}

    // A listed camera as the search leaves it in the table.
    void list(const char* ip, const char* port = "80", const char* ssl = "0") {
        CameraEntry e{};
        e.clear();
        setField(e.szIp, std::string_view(ip));
        setField(e.szPort, std::string_view(port));
        setField(e.szSsl, std::string_view(ssl));
        setField(e.szUser, std::string_view("admin"));
        setField(e.szPassword, std::string_view("12345"));
        ASSERT_TRUE(store->append(e));
    }

    // A sender that records each copy and answers with `accept(no)` (0 accepted).
    ResetSender recorder(std::function<long(const std::string&)> answer) {
        return [this, answer](const CameraEntry& c, CgiSessionSlot&, int num) {
            Sent s{fieldUtf8(c.szNo),
                   fieldUtf8(c.szIp),
                   fieldUtf8(c.szUser),
                   fieldUtf8(c.szPassword),
                   fieldUtf8(c.szPort),
                   fieldUtf8(c.szSsl),
                   num};
            {
                std::lock_guard lock(mutex);
                sent.push_back(s);
            }
            return answer(s.no);
        };
    }
    std::vector<std::string> sentOrder() {
        std::lock_guard lock(mutex);
        std::vector<std::string> order;
        for (const Sent& s : sent) order.push_back(s.no);
        return order;
    }

    SleepRecordingClock clock{0.001};
    LogCapture capture;
    WireCodec codec;
    std::unique_ptr<CameraStore> store = std::make_unique<CameraStore>();
    CCGI cgi;
    FactoryReset reset{FactoryResetContext{*store, cgi, capture.log(), clock}};
    std::mutex mutex;
    std::vector<Sent> sent;
};

TEST_F(FactoryResetTest, FactoryAddressCamerasFirstThenTheRestEachInListOrder) {
    list("192.168.0.50");
    list("192.168.0.2");
    list("192.168.0.2", "", "");  // a camera that did not tell its port and SSL use
    list("192.168.0.60", "", "");
    // A record past the end of the list is never looked at.
    CameraEntry stray{};
    stray.clear();
    setField(stray.szNo, std::string_view("9"));
    setField(stray.szIp, std::string_view("192.168.0.2"));
    store->m_CamTable[5] = stray;

    reset.setSender(recorder([](const std::string&) { return kCgiOk; }));
    reset.run();

    EXPECT_EQ(sentOrder(), (std::vector<std::string>{"2", "3", "1", "4"}));
    for (const Sent& s : sent) {
        EXPECT_EQ(s.user, "kelvo") << s.no;
        EXPECT_EQ(s.password, "730162") << s.no;
        EXPECT_EQ(s.num, 0);
    }
    EXPECT_EQ(sent[1].port, "80");  // defaults for the empty fields
    EXPECT_EQ(sent[1].ssl, "0");
    EXPECT_EQ(sent[3].port, "80");
    // The table keeps its own credentials.
    EXPECT_EQ(fieldUtf8(store->m_CamTable[1].szUser), "admin");
    EXPECT_EQ(fieldUtf8(store->m_CamTable[2].szPort), "");

    const std::vector<ResetOutcome> outcomes = reset.outcomes();
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_EQ(outcomes[0].recordIndex, 1);
    EXPECT_EQ(outcomes[0].pass, 1);
    EXPECT_EQ(outcomes[2].recordIndex, 0);
    EXPECT_EQ(outcomes[2].pass, 2);
    EXPECT_TRUE(reset.done());
    EXPECT_FALSE(reset.running());
}

TEST_F(FactoryResetTest, OnlyTheCamerasThatTookTheCommandExpectANewCertificate) {
    CameraTrust trust;
    cgi.SetTrust(&trust);
    const char* macs[] = {"00:1B:7C:00:0B:01", "00:1B:7C:00:0B:02", "00:1B:7C:00:0B:03"};
    TlsPeer old;
    old.fingerprint = "AA:AA";
    TlsPeer renewed;
    renewed.fingerprint = "BB:BB";
    for (int i = 0; i < 3; ++i) {
        list(("192.168.0." + std::to_string(50 + i)).c_str());
        setField(store->m_CamTable[static_cast<std::size_t>(i)].szMac, std::string_view(macs[i]));
        ASSERT_EQ(trust.check(macs[i], old), CameraTrust::Verdict::kFirstUse);
    }
    // The first is not chosen, the second refuses, the third takes the command.
    reset.setOnly({fromUtf8(macs[1]), fromUtf8(macs[2])});
    reset.setSender(
        recorder([](const std::string& no) { return no == "2" ? kCgiFailed : kCgiOk; }));
    reset.run();
    EXPECT_EQ(sentOrder(), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(trust.check(macs[0], renewed), CameraTrust::Verdict::kChanged);
    EXPECT_EQ(trust.check(macs[1], renewed), CameraTrust::Verdict::kChanged);
    EXPECT_EQ(trust.check(macs[2], renewed), CameraTrust::Verdict::kRenewed);
    cgi.SetTrust(nullptr);
}

TEST_F(FactoryResetTest, SettleWaitOnlyWhenACameraAccepted) {
    list("192.168.0.2");
    list("192.168.0.50");
    reset.setSender(recorder([](const std::string&) { return kCgiFailed; }));
    reset.run();
    EXPECT_EQ(sentOrder().size(), 2u);
    EXPECT_FALSE(reset.anyAccepted());
    EXPECT_FALSE(reset.settleWaited());
    EXPECT_EQ(clock.settleWaits(), 0);

    // One of two accepting is enough; the wait comes once, after the last command.
    reset.setSender(recorder([](const std::string& no) { return no == "2" ? kCgiOk : 408L; }));
    reset.run();
    EXPECT_TRUE(reset.anyAccepted());
    EXPECT_TRUE(reset.settleWaited());
    EXPECT_EQ(clock.settleWaits(), 1);
}

TEST_F(FactoryResetTest, StopEndsThePassesButASettleWaitDueStillRuns) {
    list("192.168.0.2");
    list("192.168.0.2");
    list("192.168.0.50");
    // The stop comes while the first camera's command is on the way.
    reset.setSender(recorder([this](const std::string&) {
        reset.requestStop();
        return kCgiOk;
    }));
    reset.run();
    EXPECT_EQ(sentOrder(), (std::vector<std::string>{"1"}));
    EXPECT_TRUE(reset.settleWaited());
    EXPECT_EQ(clock.settleWaits(), 1);
    EXPECT_TRUE(reset.done());
}

TEST_F(FactoryResetTest, ThreadRunsToDoneAndShutdownStopsAThreadStillSending) {
    list("192.168.0.2");
    reset.setSender(recorder([](const std::string&) { return kCgiOk; }));
    ASSERT_EQ(reset.start(nullptr), 0);
    ASSERT_TRUE(reset.waitDone(std::chrono::seconds(10)));
    EXPECT_FALSE(reset.running());
    EXPECT_EQ(sentOrder().size(), 1u);

    // A second start begins afresh; the stop procedure ends it after the camera in progress.
    list("192.168.0.50");
    list("192.168.0.60");
    std::atomic<bool> inSend{false};
    ManualResetEvent release;
    reset.setSender(recorder([&](const std::string&) {
        inSend = true;
        release.waitFor(std::chrono::seconds(10));
        return kCgiFailed;
    }));
    {
        std::lock_guard lock(mutex);
        sent.clear();
    }
    ASSERT_EQ(reset.start(nullptr), 0);
    EXPECT_TRUE(reset.running());
    EXPECT_FALSE(reset.done());
    while (!inSend) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.set();
    });
    // (The start above may have stopped the first thread too, if it was still returning.)
    const std::size_t stopLines =
        capture.count("LanroveSetupDlg Firmup Thread:m_hResetThread Stop.");
    EXPECT_EQ(reset.stop(), 1);
    releaser.join();
    EXPECT_TRUE(reset.done());
    EXPECT_FALSE(reset.running());
    // The factory camera went first; the stop ends the second pass at its first wait, so 2
    // and 3 are never sent.
    EXPECT_EQ(sentOrder(), (std::vector<std::string>{"1"}));
    EXPECT_FALSE(reset.settleWaited());
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_hResetThread Stop."), stopLines + 1);
}

// The real command over HTTP to simulated cameras: the service account opens the accepting
// camera; the camera whose logins fail is retried within the send time-out and ignored.
TEST(FactoryResetOverHttp, ServiceAccountAcceptedAndARefusingCameraIgnored) {
    TraceLog simLog;
    camsim::Fleet fleet;
    fleet.cameras.push_back(simCamera("127.0.0.61", 2, "Accepts"));
    fleet.cameras.push_back(simCamera("127.0.0.62", 2, "Refuses"));
    fleet.cameras.back().faults.insert("http401");
    ScaledClock fast(0.001);
    camsim::WebSide web(fleet, simLog, fast);
    ASSERT_TRUE(web.start());

    FakeHostNetwork net;
    AnsweringTransport transport;
    LogCapture capture;
    ProgramPaths paths;
    paths.folder = std::filesystem::temp_directory_path();
    paths.exeBaseName = "lanrove-test_fwtool";
    {
        SetupCore core(fast, capture.log(), paths, 1033, &net, &transport);
        {
            // The simulator's threads write the cameras under the fleet's lock.
            std::lock_guard lock(fleet.mutex);
            for (const auto& c : fleet.cameras) {
                CameraEntry e = entryFor(c);
                ASSERT_TRUE(core.store().append(e));
            }
        }
        EXPECT_EQ(core.startFactoryReset(&core, nullptr), 0);
        EXPECT_TRUE(core.resetRunning());
        ASSERT_TRUE(core.factoryReset().waitDone(std::chrono::seconds(20)));
        EXPECT_FALSE(core.resetRunning());
        const auto outcomes = core.factoryReset().outcomes();
        ASSERT_EQ(outcomes.size(), 2u);
        EXPECT_TRUE(outcomes[0].accepted());
        EXPECT_FALSE(outcomes[1].accepted());
        EXPECT_TRUE(core.factoryReset().settleWaited());
        net.flushReleased.set();
    }
    web.stop();

    int resets = 0;
    int refusedTries = 0;
    for (const auto& r : web.requests()) {
        if (r.program != "cgi-bin/opecmd.cgi" && r.program != "cgi-bin/lang.cgi") continue;
        EXPECT_EQ(r.user, "kelvo") << r.program;
        if (r.event == "factory-default") ++resets;
        if (r.camera == 1) ++refusedTries;
    }
    EXPECT_EQ(resets, 1);
    EXPECT_GE(refusedTries, 2);  // retried within the time-out
    const std::string trace = capture.text();
    EXPECT_NE(trace.find("AllResetSetting Set("), std::string::npos);
    EXPECT_NE(trace.find("GetSessionAndCommandSend(CGI:cgi-bin/opecmd.cgi?ope=36&num=0) Send."),
              std::string::npos);
}

}  // namespace
}  // namespace lanrove::testing
