// The settings run over a fake host network: IP-setting datagrams go to the simulator's
// camera logic in-process and its replies straight into the receive handling, so nothing
// leaves the machine; the version-1 net.cgi follow-up reaches the simulator's web side on
// loopback addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/event_queue.h"
#include "app/setup_core.h"
#include "camera_datagrams.h"
#include "cgi/sim_helpers.h"
#include "discovery/fake_lan.h"
#include "discovery/ipv4_address.h"
#include "discovery/log_capture.h"
#include "runs/settings_run.h"
#include "web_side.h"

using namespace lanrove;
using lanrove::testing::FakeHostNetwork;
using lanrove::testing::LogCapture;
using lanrove::testing::makeAdapter;

namespace {

std::vector<std::u16string> range(const char* prefix, int first, int last) {
    std::vector<std::u16string> out;
    for (int i = first; i <= last; ++i)
        out.push_back(fromUtf8(std::string(prefix) + std::to_string(i)));
    return out;
}

// Answers from a set of addresses in use; counts the probes running at once.
class FakeProbe final : public AddressProbe {
  public:
    std::set<std::u16string> taken;
    Millis delay{0};
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    std::atomic<int> calls{0};
    // While set, every probe waits for `release`.
    std::atomic<bool> hold{false};
    ManualResetEvent release;

    bool inUse(std::u16string_view address) override {
        const int now = ++running;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
        ++calls;
        if (hold) release.wait();
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        --running;
        return taken.count(std::u16string(address)) != 0;
    }
};

}  // namespace

// ------------------------------------------------------------------------ free-address search

TEST(FreeAddresses, FirstBatchSuffices) {
    FakeProbe probe;
    for (const auto& a : range("192.168.0.", 20, 24)) probe.taken.insert(a);
    TraceLog log;
    const FreeAddressResult r = findFreeAddresses(range("192.168.0.", 20, 40), 3, probe, log);
    EXPECT_EQ(r.addresses, range("192.168.0.", 25, 27));
    EXPECT_EQ(r.batches, 1);
    EXPECT_EQ(r.probes, 10);
    EXPECT_EQ(probe.calls.load(), 10);
}

TEST(FreeAddresses, ShortLastBatchNeverGivesAnAddressTwice) {
    // The first batch leaves .27 free in slot 7; the second batch fills only slots 0 to 2.
    FakeProbe probe;
    for (const auto& a : range("10.0.0.", 20, 29))
        if (a != u"10.0.0.27") probe.taken.insert(a);
    TraceLog log;
    const FreeAddressResult r = findFreeAddresses(range("10.0.0.", 20, 32), 10, probe, log);
    EXPECT_EQ(r.addresses, (std::vector<std::u16string>{u"10.0.0.27", u"10.0.0.30", u"10.0.0.31",
                                                        u"10.0.0.32"}));
    EXPECT_EQ(r.batches, 2);
    EXPECT_EQ(r.probes, 13);
}

TEST(FreeAddresses, FiftyOfTwoHundredFiftyWithTenAtOnce) {
    FakeProbe probe;
    probe.delay = Millis(20);
    std::vector<std::u16string> list;
    for (int i = 1; i <= 250; ++i)
        list.push_back(ipv4::toText16(ipv4::fromText(std::string_view("172.16.1.0")) +
                                      static_cast<std::uint32_t>(i)));
    std::vector<std::u16string> expected;
    int lastIndex = -1;
    for (int i = 0; i < 250; ++i) {
        if (i % 3 == 0 || (i >= 40 && i < 70)) {
            probe.taken.insert(list[static_cast<std::size_t>(i)]);
        } else if (expected.size() < 50) {
            expected.push_back(list[static_cast<std::size_t>(i)]);
            lastIndex = i;
        }
    }
    TraceLog log;
    const FreeAddressResult r = findFreeAddresses(list, 50, probe, log);
    EXPECT_EQ(r.addresses, expected);
    EXPECT_EQ(r.batches, lastIndex / kProbeSlots + 1);
    EXPECT_EQ(r.probes, r.batches * kProbeSlots);
    EXPECT_EQ(probe.peak.load(), kProbeSlots);
    EXPECT_EQ(std::set<std::u16string>(r.addresses.begin(), r.addresses.end()).size(), 50u);
}

TEST(FreeAddresses, EchoFailuresCountAsFree) {
    FakeHostNetwork net;
    EchoAddressProbe probe(net);
    net.echoResult = kEchoTimedOut;
    EXPECT_FALSE(probe.inUse(u"192.168.0.20"));
    net.echoResult = kEchoUnavailable;
    EXPECT_FALSE(probe.inUse(u"192.168.0.20"));
    net.echoResult = kEchoSuccess;
    EXPECT_TRUE(probe.inUse(u"192.168.0.20"));
}

// ---------------------------------------------------------------------------------- the run

namespace {

// IP-setting datagrams go to the simulator's camera logic; its replies come back through the
// receive handling as if they had arrived.
class SimTransport final : public DatagramTransport {
  public:
    SimTransport(camsim::Fleet& fleet) : m_responder(fleet, WireCodec("CP1252")), m_fleet(fleet) {}
    SetupCore* core = nullptr;
    std::atomic<int> settings{0};
    // Runs after each IP-setting datagram was answered.
    std::function<void()> afterSetting;
    // Nonzero: the replies' socket cannot be opened (another program holds the port).
    int receiverError = 0;

    std::unique_ptr<DatagramReceiver> makeReceiver(TraceLog& log) override {
        if (receiverError == 0) return DatagramTransport::makeReceiver(log);
        struct Refused final : DatagramReceiver {
            int error;
            explicit Refused(int e) : error(e) {}
            int open(const AdapterEntry&, Millis) override { return error; }
            long receive(std::uint8_t*, std::size_t) override { return -1; }
        };
        return std::make_unique<Refused>(receiverError);
    }

    int send(const AdapterEntry&, const dgram::Datagram& datagram) override {
        if (dgram::commandOf(datagram.data()) != dgram::kIpSetting || core == nullptr) return 0;
        ++settings;
        std::vector<camsim::Outgoing> out;
        std::vector<std::size_t> changed;
        m_responder.handle(datagram.data(), datagram.size(), out, changed);
        for (std::size_t i : changed)
            if (m_fleet.onNetworkChanged) m_fleet.onNetworkChanged(i);
        for (const auto& o : out) core->link().handleDatagram(o.bytes.data(), o.bytes.size());
        if (afterSetting) afterSetting();
        return 0;
    }

  private:
    camsim::DatagramResponder m_responder;
    camsim::Fleet& m_fleet;
};

struct QueuedEvents final : SettingsRunEvents {
    EventQueue& queue;
    SetupCore& core;
    std::atomic<int> results{0};
    QueuedEvents(EventQueue& q, SetupCore& c) : queue(q), core(c) {}
    void settingResult(const SettingResult& result) override {
        ++results;
        queue.post([this, result] { core.applySettingResult(result); });
    }
};

camsim::SimCamera simCam(std::uint8_t last, const std::string& ip, int proto, bool factory,
                         const std::string& title = "") {
    camsim::SimCamera c;
    c.protoVer = proto;
    const std::uint8_t mac[6] = {0x00, 0x1B, 0x7C, 0x00, 0x0A, last};
    std::copy(std::begin(mac), std::end(mac), std::begin(c.mac));
    c.ip = ip;
    c.model = "KT-5200";
    c.factory = factory;
    c.title = title;
    c.admin = {"vorly", "vorly"};
    return c;
}

class RunTest : public ::testing::Test {
  protected:
    void make(double scale, const char* adapterIp = "192.168.0.10") {
        clock = std::make_unique<ScaledClock>(scale);
        net.adapters = {makeAdapter(adapterIp, "255.255.255.0", "192.168.0.1")};
        ProgramPaths paths;
        paths.folder = std::filesystem::temp_directory_path();
        paths.exeBaseName = "lanrove-test";
        core = std::make_unique<SetupCore>(*clock, capture.log(), paths, 1033, &net, &transport);
        transport.core = core.get();
        core->loadTexts();
        net.enumerateAdapters(core->adapters());
        core->setAddressProbe(&probe);
        events = std::make_unique<QueuedEvents>(queue, *core);
    }
    // The cameras as a search would have listed them.
    void list() {
        std::lock_guard lock(fleet.mutex);
        for (const auto& c : fleet.cameras) {
            const dgram::Datagram d = camsim::encodeSearchReply(c, WireCodec("CP1252"));
            CameraEntry e{};
            dgram::decodeSearchReply(d.data(), d.size(), WireCodec("CP1252"), e);
            if (c.protoVer == 1) {
                setField(e.szTitle, std::string_view(c.title));
                setField(e.szPort, std::string_view(std::to_string(c.port)));
                setField(e.szSsl, std::string_view(c.ssl ? "1" : "0"));
            }
            int index = -1;
            ASSERT_TRUE(core->store().append(e, &index));
            core->onAddRow(index);
        }
        core->onMarkRows(core->list().rowCount());
    }
    CameraEntry& entry(int i) { return core->store().m_CamTable[static_cast<std::size_t>(i)]; }
    std::string status(int i) { return fieldUtf8(entry(i).szStatus); }
    std::string ip(int i) { return fieldUtf8(entry(i).szIp); }

    // Drives the run as the progress window's timers would, faster than once a second.
    // `cancelWhen` is asked on every step until it says yes, then the run is cancelled.
    bool drive(SettingsRun& run, std::chrono::seconds limit,
               const std::function<bool()>& cancelWhen = {}) {
        run.begin();
        if (run.mode() == RunMode::Auto) run.startProbe();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        bool over = false;
        while (!over && std::chrono::steady_clock::now() < deadline) {
            queue.drain(Millis(5));
            if (!run.cancelled() && cancelWhen && cancelWhen()) run.cancel();
            over = run.cancelled() ? run.cancelTick() : run.progressTick();
        }
        while (queue.drain(Millis(0)) > 0) {
        }
        return over;
    }
    SettingsRun& autoRun(std::vector<std::u16string> candidates) {
        SettingsRun& run = core->newSettingsRun(*events);
        run.prepareAuto(std::move(candidates), core->countNewCameras(), u"NEW");
        return run;
    }
    // The manual setting as its dialogs leave it: defaults, then the edits.
    SettingsRun& manualRun(int index, const std::function<void(CameraEntry&)>& edit) {
        CameraEntry work = entry(index);
        if (fieldEmpty(work.szPort)) setField(work.szPort, std::u16string_view(u"80"));
        if (fieldEmpty(work.szSsl)) setField(work.szSsl, std::u16string_view(u"0"));
        setField(work.szUser, std::u16string_view(kDefaultCredential));
        setField(work.szPassword, std::u16string_view(kDefaultCredential));
        CameraEntry edited = work;
        edit(edited);
        SettingsRun& run = core->newSettingsRun(*events);
        run.prepareManual(work, edited, fieldView(work.szStatus) == u"OK");
        return run;
    }

    LogCapture capture;
    FakeHostNetwork net;
    camsim::Fleet fleet;
    SimTransport transport{fleet};
    FakeProbe probe;
    EventQueue queue;
    std::unique_ptr<ScaledClock> clock;
    std::unique_ptr<SetupCore> core;
    std::unique_ptr<QueuedEvents> events;
};

}  // namespace

TEST_F(RunTest, AutoGivesTheFirstFreeAddressesInTableOrder) {
    fleet.cameras = {simCam(1, "192.168.0.2", 2, true), simCam(2, "192.168.0.30", 2, false, "Yard"),
                     simCam(3, "192.168.0.2", 1, false), simCam(4, "192.168.0.2", 2, true)};
    make(0.01);
    list();
    ASSERT_EQ(core->countNewCameras(), 3);
    for (const auto& a : range("192.168.0.", 20, 24)) probe.taken.insert(a);
    SettingsRun& run = autoRun(range("192.168.0.", 20, 40));
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(run.freeAddresses().batches, 1);
    EXPECT_EQ(run.settingRecords(), 3);
    EXPECT_EQ(ip(0), "192.168.0.25");
    EXPECT_EQ(ip(1), "192.168.0.30");
    EXPECT_EQ(ip(2), "192.168.0.26");
    EXPECT_EQ(ip(3), "192.168.0.27");
    for (int i : {0, 2, 3}) {
        EXPECT_EQ(status(i), "OK") << i;
        EXPECT_EQ(entry(i).dwResult, kResultAccepted);
        EXPECT_EQ(entry(i).bFactory, 0);
        EXPECT_EQ(fieldUtf8(entry(i).szGateway), "192.168.0.1");  // the adapter's
        EXPECT_EQ(fieldUtf8(entry(i).szMask), "255.255.255.0");
    }
    EXPECT_EQ(toUtf8(core->list().cell(2, kColIp)), "192.168.0.26");
    EXPECT_EQ(core->store().m_nNew, 0);
    EXPECT_EQ(core->store().m_nOk, 4);
    EXPECT_EQ(core->store().m_nTotal, 4);
    // Every camera answered: the run ended before the schedule's second round.
    EXPECT_LE(transport.settings.load(), 6);
    EXPECT_EQ(net.flushes.load(), 2);  // at the start and after the worker's loop
    EXPECT_FALSE(core->scheduler().running());
    std::lock_guard lock(fleet.mutex);
    EXPECT_EQ(fleet.cameras[2].ip, "192.168.0.26");
}

TEST_F(RunTest, AutoTakesEveryReplyOfALargeSiteBeforeTheScheduleEnds) {
    for (std::uint8_t i = 1; i <= 40; ++i)
        fleet.cameras.push_back(simCam(i, "192.168.0.2", 2, true));
    make(0.01);
    list();
    SettingsRun& run = autoRun(range("192.168.0.", 20, 100));
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(core->countNewCameras(), 0);
    EXPECT_EQ(core->store().m_nOk, 40);
    std::set<std::string> ips;
    for (int i = 0; i < 40; ++i) ips.insert(ip(i));
    EXPECT_EQ(ips.size(), 40u);
}

TEST_F(RunTest, AutoWithFewerFreeAddressesSetsOnlyTheFirstNewCameras) {
    fleet.cameras = {simCam(1, "192.168.0.2", 2, true), simCam(2, "192.168.0.2", 2, true),
                     simCam(3, "192.168.0.2", 2, true)};
    make(0.01);
    list();
    for (const auto& a : range("192.168.0.", 20, 30))
        if (a != u"192.168.0.23" && a != u"192.168.0.29") probe.taken.insert(a);
    SettingsRun& run = autoRun(range("192.168.0.", 20, 30));
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(run.freeAddresses().batches, 2);
    EXPECT_EQ(ip(0), "192.168.0.23");
    EXPECT_EQ(ip(1), "192.168.0.29");
    EXPECT_EQ(ip(2), "192.168.0.2");
    EXPECT_EQ(status(2), "NEW");
    EXPECT_EQ(core->countNewCameras(), 1);
}

TEST_F(RunTest, AutoWithNoFreeAddressSendsNothing) {
    fleet.cameras = {simCam(1, "192.168.0.2", 2, true)};
    make(0.01);
    list();
    for (const auto& a : range("192.168.0.", 20, 22)) probe.taken.insert(a);
    SettingsRun& run = autoRun(range("192.168.0.", 20, 22));
    ASSERT_TRUE(drive(run, std::chrono::seconds(10)));
    EXPECT_EQ(transport.settings.load(), 0);
    EXPECT_EQ(status(0), "NEW");
    EXPECT_EQ(capture.count("SettingThread No Free Address."), 1u);
}

TEST_F(RunTest, AutoIgnoresAReplyOtherThanAccepted) {
    fleet.cameras = {simCam(1, "192.168.0.2", 2, true), simCam(2, "192.168.0.2", 2, true)};
    fleet.cameras[1].faults.insert("result");
    fleet.cameras[1].faultArgs["result"] = "200";
    make(0.01);
    list();
    SettingsRun& run = autoRun(range("192.168.0.", 20, 40));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(status(0), "OK");
    EXPECT_EQ(ip(0), "192.168.0.20");
    // Dropped: no row touched, the camera stays as it was; the schedule ends the run.
    EXPECT_EQ(status(1), "NEW");
    EXPECT_EQ(ip(1), "192.168.0.2");
    EXPECT_EQ(entry(1).dwResult, kResultAccepted);  // from its search reply
    EXPECT_EQ(capture.count("Result(200) dropped."), 1u);
    EXPECT_EQ(transport.settings.load(), 6);  // two records, three rounds
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

TEST_F(RunTest, StrangersSecondRepliesAndLateRepliesTouchNoRow) {
    fleet.cameras = {simCam(1, "192.168.0.2", 2, true), simCam(2, "192.168.0.2", 2, true)};
    fleet.cameras[1].faults.insert("silent");
    make(0.01);
    list();
    int sent = 0;
    transport.afterSetting = [&] {
        if (++sent != 1) return;
        // Behind the first camera's reply: one from a MAC not being set, and a repeat.
        SetReplyEntry stranger{};
        setField(stranger.szMac, std::u16string_view(u"00:1B:7C:FF:FF:FF"));
        stranger.wResult = kResultAccepted;
        core->store().appendReply(stranger);
        SetReplyEntry again{};
        setField(again.szMac, std::u16string_view(u"00:1B:7C:00:0A:01"));
        again.wResult = kResultAccepted;
        core->store().appendReply(again);
    };
    SettingsRun& run = autoRun(range("192.168.0.", 20, 40));
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(events->results.load(), 1);
    EXPECT_EQ(status(0), "OK");
    EXPECT_EQ(status(1), "NEW");
    EXPECT_EQ(capture.count("Mac(00:1B:7C:FF:FF:FF) not in the settings table: ignored."), 1u);
    EXPECT_EQ(capture.count("Mac(00:1B:7C:00:0A:01) answered before: ignored."), 1u);
}

TEST_F(RunTest, ManualVersionTwoReplyReplacesTheRecord) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard")};
    fleet.cameras[0].faults.insert("twice");
    make(0.01);
    list();
    ASSERT_EQ(status(0), "OK");
    int sent = 0;
    transport.afterSetting = [&] {
        if (++sent != 1) return;
        SetReplyEntry late{};
        setField(late.szMac, std::u16string_view(u"00:1B:7C:00:0A:09"));
        late.wResult = kResultAccepted;
        core->store().appendReply(late);
    };
    SettingsRun& run = manualRun(0, [](CameraEntry& e) {
        setField(e.szIp, std::u16string_view(u"192.168.0.31"));
        setField(e.szTitle, std::u16string_view(u"Yard west"));
    });
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(ip(0), "192.168.0.31");
    EXPECT_EQ(fieldUtf8(entry(0).szTitle), "Yard west");
    EXPECT_EQ(status(0), "OK");
    EXPECT_EQ(toUtf8(core->list().cell(0, kColIp)), "192.168.0.31");
    EXPECT_EQ(transport.settings.load(), 1);  // the first reply ended the run
    EXPECT_EQ(capture.count("Mac(00:1B:7C:00:0A:09) after the end: ignored."), 1u);
    std::lock_guard lock(fleet.mutex);
    EXPECT_EQ(fleet.cameras[0].ip, "192.168.0.31");
    EXPECT_EQ(fleet.cameras[0].title, "Yard west");
}

TEST_F(RunTest, ManualVersionTwoRefusedCredentialsKeepTheOldSettings) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard")};
    fleet.cameras[0].admin = {"owner", "secret9"};
    make(0.01);
    list();
    SettingsRun& run = manualRun(
        0, [](CameraEntry& e) { setField(e.szIp, std::u16string_view(u"192.168.0.31")); });
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(ip(0), "192.168.0.30");
    EXPECT_EQ(status(0), "CAUTION");
    EXPECT_EQ(entry(0).dwResult, camsim::kResultBadCredentials);
    EXPECT_EQ(core->store().m_nAttention, 1);
    EXPECT_EQ(core->store().m_nOk, 0);
    EXPECT_GE(capture.count("Failed in the IP address setting in version 2"), 1u);
}

TEST_F(RunTest, ManualWithoutReplyEndsWithTheScheduleAndMarksCaution) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard")};
    fleet.cameras[0].faults.insert("silent");
    make(0.02);
    list();
    SettingsRun& run = manualRun(
        0, [](CameraEntry& e) { setField(e.szIp, std::u16string_view(u"192.168.0.31")); });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    const auto took = std::chrono::steady_clock::now() - start;
    // Three sends 3000 ms apart, the fourth tick at 9000 ms, then at most one 500 ms poll.
    EXPECT_GE(took, std::chrono::milliseconds(180));
    EXPECT_LT(took, std::chrono::milliseconds(600));
    EXPECT_EQ(transport.settings.load(), 3);
    EXPECT_EQ(status(0), "CAUTION");
    EXPECT_EQ(entry(0).dwResult, kResultRefused);
    EXPECT_EQ(ip(0), "192.168.0.30");
    EXPECT_EQ(toUtf8(core->list().cell(0, kColStatus)), "CAUTION");
}

TEST_F(RunTest, CancelBeforeAnyReplyEndsAtOnceWithCaution) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard")};
    fleet.cameras[0].faults.insert("silent");
    make(1.0);  // real time: the schedule alone would take nine seconds
    list();
    SettingsRun& run = manualRun(
        0, [](CameraEntry& e) { setField(e.szIp, std::u16string_view(u"192.168.0.31")); });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(
        drive(run, std::chrono::seconds(20), [&] { return transport.settings.load() > 0; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(run.cancelled());
    EXPECT_EQ(status(0), "CAUTION");
    EXPECT_EQ(entry(0).dwResult, kResultRefused);
    EXPECT_FALSE(core->scheduler().running());
}

TEST_F(RunTest, CancelBeforeTheReceiveThreadRestartIsOverridden) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard")};
    fleet.cameras[0].faults.insert("silent");
    make(0.2);
    list();
    // A receive thread still running makes the restart wait for it (one receive time-out).
    core->link().startRecvThread();
    std::this_thread::sleep_for(Millis(50));  // inside its receive wait by now
    SettingsRun& run = manualRun(
        0, [](CameraEntry& e) { setField(e.szIp, std::u16string_view(u"192.168.0.31")); });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(drive(run, std::chrono::seconds(30), [&] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(100);
    }));
    ASSERT_EQ(capture.count("SettingThread Cancel overridden by the receive thread restart."), 1u);
    // The run went on and ended with its schedule: three sends, then the 400 mark.
    EXPECT_EQ(transport.settings.load(), 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));
    EXPECT_EQ(status(0), "CAUTION");
    EXPECT_GE(capture.count("StsChange(2) AutoSet Thread Stop Error."), 1u);
}

TEST_F(RunTest, CancelWhileProbingWaitsForTheProbesAndSendsNothing) {
    fleet.cameras = {simCam(1, "192.168.0.2", 2, true)};
    make(0.01);
    list();
    probe.hold = true;
    SettingsRun& run = autoRun(range("192.168.0.", 20, 40));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        probe.release.set();
    });
    ASSERT_TRUE(drive(run, std::chrono::seconds(20), [&] { return probe.calls.load() > 0; }));
    releaser.join();
    EXPECT_FALSE(run.settingRunning());
    EXPECT_EQ(transport.settings.load(), 0);
    EXPECT_EQ(status(0), "NEW");
    EXPECT_GE(capture.count("StsChange(2) Ping Thread Stop Error."), 1u);
}

TEST_F(RunTest, DestroyingARunningRunEndsItsWorkers) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard")};
    fleet.cameras[0].faults.insert("silent");
    make(1.0);
    list();
    SettingsRun& run = manualRun(
        0, [](CameraEntry& e) { setField(e.szIp, std::u16string_view(u"192.168.0.31")); });
    run.begin();
    while (transport.settings.load() == 0) std::this_thread::sleep_for(Millis(5));
    const auto start = std::chrono::steady_clock::now();
    core.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// ------------------------------------------------------- version 1: the wait and net.cgi

namespace {

class VersionOneTest : public RunTest {
  protected:
    void SetUp() override {
        camsim::SimCamera c = simCam(1, "127.0.1.20", 1, false, "Loading bay");
        c.port = lanrove::testing::freePort("127.0.1.20");
        fleet.cameras = {c};
        web = std::make_unique<camsim::WebSide>(fleet, webLog, webClock);
        make(0.01, "127.0.1.10");
        ASSERT_TRUE(web->start());
        list();
    }
    void TearDown() override { web->stop(); }
    std::vector<camsim::WebRequestRecord> netRequests() {
        std::vector<camsim::WebRequestRecord> out;
        for (auto& r : web->requests())
            if (r.program == "cgi-bin/net.cgi") out.push_back(r);
        return out;
    }

    ScaledClock webClock{0.01};
    TraceLog webLog;
    std::unique_ptr<camsim::WebSide> web;
};

}  // namespace

TEST_F(VersionOneTest, DatagramThenNetCgiAtTheNewAddressAfterTheWait) {
    ASSERT_EQ(status(0), "OK");
    SettingsRun& run = manualRun(0, [](CameraEntry& e) {
        setField(e.szIp, std::u16string_view(u"127.0.1.21"));
        setField(e.szTitle, std::u16string_view(u"Bay 2"));
    });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    // 10000 ms before the command and 20000 ms after it, scaled.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    const auto requests = netRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_EQ(requests[0].user, "vorly");
    EXPECT_EQ(status(0), "OK");
    EXPECT_EQ(ip(0), "127.0.1.21");
    EXPECT_EQ(fieldUtf8(entry(0).szTitle), "Bay 2");
    EXPECT_EQ(entry(0).dwResult, kResultAccepted);
    std::lock_guard lock(fleet.mutex);
    EXPECT_EQ(fleet.cameras[0].ip, "127.0.1.21");
    EXPECT_EQ(fleet.cameras[0].title, "Bay 2");
}

TEST_F(VersionOneTest, RefusedNetCgiListsTheCameraAtItsNewAddressWithoutTitlePortSsl) {
    {
        std::lock_guard lock(fleet.mutex);
        fleet.cameras[0].faults.insert("http401");
    }
    const std::string port = fieldUtf8(entry(0).szPort);
    SettingsRun& run = manualRun(0, [](CameraEntry& e) {
        setField(e.szIp, std::u16string_view(u"127.0.1.22"));
        setField(e.szMask, std::u16string_view(u"255.255.0.0"));
        setField(e.szTitle, std::u16string_view(u"Bay 3"));
        setField(e.szPort, std::u16string_view(u"8080"));
    });
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(netRequests().size(), 1u);
    EXPECT_EQ(status(0), "CAUTION");
    EXPECT_GE(entry(0).dwResult, kResultRefused);
    // The datagram moved it: the list shows where it is, with what it still has.
    EXPECT_EQ(ip(0), "127.0.1.22");
    EXPECT_EQ(fieldUtf8(entry(0).szMask), "255.255.0.0");
    EXPECT_EQ(fieldUtf8(entry(0).szTitle), "Loading bay");
    EXPECT_EQ(fieldUtf8(entry(0).szPort), port);
    EXPECT_EQ(toUtf8(core->list().cell(0, kColIp)), "127.0.1.22");
    EXPECT_GE(capture.count("Failed in the IP address setting in version 1"), 1u);
    EXPECT_EQ(capture.count(kAddressOnlyText), 1u);
    ASSERT_EQ(core->settingNotes().size(), 1u);
    EXPECT_NE(core->settingNotes()[0].find("127.0.1.22"), std::string::npos);
    std::lock_guard lock(fleet.mutex);
    EXPECT_EQ(fleet.cameras[0].ip, "127.0.1.22");
}

TEST_F(VersionOneTest, NoNetCgiWhenTheNewAddressLeavesTheSubnet) {
    const std::string port = fieldUtf8(entry(0).szPort);
    SettingsRun& run = manualRun(0, [](CameraEntry& e) {
        setField(e.szIp, std::u16string_view(u"127.0.2.20"));
        setField(e.szGateway, std::u16string_view(u"127.0.2.1"));
        setField(e.szTitle, std::u16string_view(u"Never sent"));
        setField(e.szPort, std::u16string_view(u"8081"));
    });
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_TRUE(netRequests().empty());
    EXPECT_EQ(ip(0), "127.0.2.20");
    EXPECT_EQ(fieldUtf8(entry(0).szGateway), "127.0.2.1");
    EXPECT_EQ(status(0), "OK");
    // Only the datagram's fields reached the camera: title and port stay as they were.
    EXPECT_EQ(fieldUtf8(entry(0).szTitle), "Loading bay");
    EXPECT_EQ(fieldUtf8(entry(0).szPort), port);
    EXPECT_TRUE(core->settingNotes().empty());
}

TEST_F(VersionOneTest, AcceptedReplyTakenAfterCancelListsTheNewAddressWithoutNetCgi) {
    SettingsRun* current = nullptr;
    int sent = 0;
    {
        std::lock_guard lock(fleet.mutex);
        fleet.cameras[0].faults.insert("noset");
    }
    transport.afterSetting = [&] {
        if (++sent != 1) return;
        // The camera moves and its reply waits in the queue while Cancel is pressed.
        {
            std::lock_guard lock(fleet.mutex);
            fleet.cameras[0].ip = "127.0.1.23";
        }
        current->cancel();
        SetReplyEntry reply{};
        setField(reply.szMac, std::u16string_view(u"00:1B:7C:00:0A:01"));
        reply.wResult = kResultAccepted;
        core->store().appendReply(reply);
    };
    SettingsRun& run = manualRun(0, [](CameraEntry& e) {
        setField(e.szIp, std::u16string_view(u"127.0.1.23"));
        setField(e.szTitle, std::u16string_view(u"Bay 4"));
    });
    current = &run;
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_TRUE(run.cancelled());
    EXPECT_TRUE(netRequests().empty());
    EXPECT_EQ(ip(0), "127.0.1.23");
    EXPECT_EQ(status(0), "CAUTION");
    EXPECT_EQ(fieldUtf8(entry(0).szTitle), "Loading bay");
    EXPECT_EQ(core->settingNotes().size(), 1u);
}

// ------------------------------------------------------- replies at the end, runs that fail

TEST_F(RunTest, AcceptedReplyWaitingAtCancelIsTakenNotDropped) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard")};
    fleet.cameras[0].faults.insert("noset");
    make(0.01);
    list();
    SettingsRun* current = nullptr;
    int sent = 0;
    transport.afterSetting = [&] {
        if (++sent != 1) return;
        // Cancel first, then the reply: it reaches the queue after the stop flag was set.
        current->cancel();
        SetReplyEntry reply{};
        setField(reply.szMac, std::u16string_view(u"00:1B:7C:00:0A:01"));
        reply.wResult = kResultAccepted;
        core->store().appendReply(reply);
    };
    SettingsRun& run = manualRun(
        0, [](CameraEntry& e) { setField(e.szIp, std::u16string_view(u"192.168.0.31")); });
    current = &run;
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_TRUE(run.cancelled());
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(ip(0), "192.168.0.31");
    EXPECT_EQ(status(0), "OK");
    EXPECT_EQ(entry(0).dwResult, kResultAccepted);
    EXPECT_EQ(capture.count("SettingThread No Reply"), 0u);
}

TEST_F(RunTest, AutoRepliesWaitingAtTheScheduleEndAreTaken) {
    fleet.cameras = {simCam(1, "192.168.0.2", 2, true), simCam(2, "192.168.0.2", 2, true)};
    fleet.cameras[1].faults.insert("noset");
    make(0.01);
    list();
    int sent = 0;
    transport.afterSetting = [&] {
        // The second camera's reply arrives with the stop flag of the last tick.
        if (++sent != 3) return;
        core->store().m_bStop = 1;
        SetReplyEntry reply{};
        setField(reply.szMac, std::u16string_view(u"00:1B:7C:00:0A:02"));
        reply.wResult = kResultAccepted;
        core->store().appendReply(reply);
    };
    SettingsRun& run = autoRun(range("192.168.0.", 20, 40));
    ASSERT_TRUE(drive(run, std::chrono::seconds(20)));
    EXPECT_EQ(status(0), "OK");
    EXPECT_EQ(status(1), "OK");
    EXPECT_EQ(ip(1), "192.168.0.21");
}

TEST_F(RunTest, ReceivePortHeldEndsTheRunWithAnErrorAndSendsNothing) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard"),
                     simCam(2, "192.168.0.2", 2, true)};
    make(0.01);
    list();
    transport.receiverError = EADDRINUSE;
    SettingsRun& manual = manualRun(
        0, [](CameraEntry& e) { setField(e.szIp, std::u16string_view(u"192.168.0.31")); });
    ASSERT_TRUE(drive(manual, std::chrono::seconds(10)));
    EXPECT_EQ(transport.settings.load(), 0);
    EXPECT_TRUE(manual.error().failed());
    EXPECT_EQ(manual.error().code, EADDRINUSE);
    EXPECT_NE(manual.error().text.find("10000"), std::string::npos);
    // Nothing was sent: the camera is neither moved nor marked.
    EXPECT_EQ(ip(0), "192.168.0.30");
    EXPECT_EQ(status(0), "OK");
    EXPECT_EQ(capture.count("Setting receive port open error"), 1u);

    SettingsRun& automatic = autoRun(range("192.168.0.", 20, 40));
    ASSERT_TRUE(drive(automatic, std::chrono::seconds(10)));
    EXPECT_EQ(transport.settings.load(), 0);
    EXPECT_TRUE(automatic.error().failed());
    EXPECT_EQ(status(1), "NEW");
}

TEST_F(RunTest, AThreadThatCannotStartEndsTheRunWithAnError) {
    fleet.cameras = {simCam(1, "192.168.0.30", 2, false, "Yard"),
                     simCam(2, "192.168.0.2", 2, true)};
    make(0.01);
    list();
    // The settings worker of a manual run.
    SettingsRun& manual = manualRun(
        0, [](CameraEntry& e) { setField(e.szIp, std::u16string_view(u"192.168.0.31")); });
    WorkerThread::failNextStartsForTest(1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(drive(manual, std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(manual.error().failed());
    EXPECT_EQ(transport.settings.load(), 0);
    EXPECT_EQ(status(0), "OK");
    // The probe worker of an automatic run.
    SettingsRun& automatic = autoRun(range("192.168.0.", 20, 40));
    WorkerThread::failNextStartsForTest(1);
    ASSERT_TRUE(drive(automatic, std::chrono::seconds(10)));
    EXPECT_TRUE(automatic.error().failed());
    EXPECT_EQ(probe.calls.load(), 0);
    EXPECT_EQ(transport.settings.load(), 0);
    EXPECT_EQ(status(1), "NEW");
    EXPECT_EQ(capture.count("Setting thread start error"), 2u);
}
