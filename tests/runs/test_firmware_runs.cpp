// The F/W check run and the upload run over fake firmware folders and fake cameras: the
// dispatcher's rules (at most two transfers, one slot strictly serial, cancel while waiting),
// the component loop (a latest component is skipped), retries and the final statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "discovery/fake_lan.h"
#include "runs/change_journal.h"
#include "runs/firmware_check_run.h"
#include "runs/firmware_update_run.h"
#include "support/text.h"

using namespace lanrove;
using lanrove::testing::FakeHostNetwork;
using lanrove::testing::makeAdapter;

namespace {

// One component file of a model folder.
struct FakeComponent {
    int index;
    std::uint16_t kind;  // 3 NET main, 1 CAM main
    std::string name;
    std::uint32_t number;
    std::uint64_t size;
};

// A simulated camera: installed versions per kind, reachability, faults, what it was sent.
struct FakeCam {
    std::map<std::uint16_t, std::uint32_t> installed;
    bool answers = true;          // lang.cgi and the status requests
    bool neverComesBack = false;  // after the first upload
    bool keepsOldVersion = false;
    int refuseStatus = 0;            // answers the POST with this status, installs nothing
    bool installsOnRestart = false;  // the image takes only with a restart command
    std::vector<std::string> pending;
    bool uploaded = false;
    int contacts = 0;  // every request
    int posts = 0;
    int restarts = 0;
    std::vector<std::string> files;
};

class FakeSite {
  public:
    std::mutex mutex;
    std::map<std::string, FakeCam> cams;  // by IP text
    std::map<std::string, std::vector<FakeComponent>> models;
    std::atomic<int> activePosts{0};
    std::atomic<int> peakPosts{0};
    std::atomic<int> versionQueries{0};
    std::vector<std::string> postOrder;
    // While set, a post waits until it is cleared (or the abort event is set).
    std::atomic<bool> holdPosts{false};
    // While set, the restart before a retry waits until it is cleared or the worker's stop
    // event is set.
    std::atomic<bool> holdReboots{false};
    std::atomic<int> rebootsHeld{0};
    std::atomic<int> restores{0};        // restorations run
    std::atomic<int> restoresNotCut{0};  // ... with the waits left to their own limits

    FakeCam& cam(const CameraEntry& e) { return cams[fieldUtf8(e.szIp)]; }
    // A copy of a camera's state, taken under the lock while workers use it.
    FakeCam at(const std::string& ip) {
        std::lock_guard lock(mutex);
        return cams[ip];
    }
};

// The cameras' version texts: a main version and the package date.
std::string versionText(std::uint32_t day) {
    return "V1.00(" + std::to_string(day) + ")";
}

class FakeFiles final : public FirmwareFiles {
  public:
    explicit FakeFiles(FakeSite& site) : m_site(site) {}
    FirmFileChoice findNewest(const CameraEntry& camera, int fromIndex) override {
        std::lock_guard lock(m_site.mutex);
        FirmFileChoice c;
        const auto it = m_site.models.find(fieldUtf8(camera.szModel));
        if (it == m_site.models.end()) return c;
        for (const FakeComponent& f : it->second) {
            if (f.index < fromIndex) continue;
            c.found = true;
            c.index = f.index;
            c.row.wGeneration = 2;
            c.row.wIndex = static_cast<std::uint16_t>(f.index);
            c.row.wMethod = 2;
            c.row.dwVersionCheck = 1;
            c.row.wVersionFormat = 2;
            c.row.wKind = f.kind;
            c.row.modelKey = it->first;
            c.path = "/fw/" + it->first + "/" + f.name;
            c.highest = f.number;
            return c;
        }
        return c;
    }
    void ensureModelFolder(const FirmRow&) override {}
    std::uint64_t fileSize(const std::filesystem::path& path) override {
        std::lock_guard lock(m_site.mutex);
        for (const auto& [model, comps] : m_site.models)
            for (const FakeComponent& f : comps)
                if (path.filename() == f.name) return f.size;
        return 0;
    }
    FirmImage readAll(const std::filesystem::path& path, int& error) override {
        const std::uint64_t size = fileSize(path);
        if (size == 0) {
            error = 2;
            return nullptr;
        }
        return std::make_shared<const std::vector<std::uint8_t>>(size, 0x5a);
    }

  private:
    FakeSite& m_site;
};

class FakeCamera final : public FirmCamera {
  public:
    FakeCamera(FakeSite& site, const ManualResetEvent& abort) : m_site(site), m_abort(abort) {}
    void useAdapter(const AdapterEntry&) override {}
    void dropSession() override {}
    int connectInitSess(const CameraEntry& copy) override { return touch(copy) ? 0 : 400; }
    int getCodecStream(CameraEntry& copy, long) override { return touch(copy) ? 0 : 400; }
    int reqGetCamSet(CameraEntry& copy) override {
        std::lock_guard lock(m_site.mutex);
        FakeCam& c = m_site.cam(copy);
        ++c.contacts;
        if (!up(c)) return 400;
        ++m_site.versionQueries;
        setField(copy.szNetMainVer, std::string_view(versionText(c.installed[3])));
        setField(copy.szCamMainVer, std::string_view(versionText(c.installed[1])));
        return 0;
    }
    bool reachable(const CameraEntry& copy, long) override { return touch(copy); }
    int restartCommand(const CameraEntry& copy) override {
        std::lock_guard lock(m_site.mutex);
        FakeCam& c = m_site.cam(copy);
        ++c.contacts;
        ++c.restarts;
        installPending(c);
        return up(c) ? 0 : 400;
    }
    int setRebootWait(const CameraEntry& copy) override {
        if (m_site.holdReboots.load()) {
            ++m_site.rebootsHeld;
            while (m_site.holdReboots.load() && !m_abort.isSet())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (m_abort.isSet()) return 1;
        }
        return restartCommand(copy);
    }
    void prepare(CameraEntry&, FirmStatusSink&) override {}
    void restore(CameraEntry&, FirmStatusSink&) override {
        ++m_site.restores;
        if (m_bKeepGoing) ++m_site.restoresNotCut;
    }
    void keepGoing(bool on) override { m_bKeepGoing = on; }
    int rebootWait(CameraEntry& copy, const FirmRow&, int, FirmStatusSink& sink) override {
        sink.setUploadStatus(fwcode::kRestarting);
        return touch(copy) ? 0 : 1;
    }
    FirmPostResult post(CameraEntry& copy, const std::filesystem::path& file,
                        const FirmImage& image, FirmStatusSink& sink,
                        const FirmPostLimits& limits) override {
        lastLimits = limits.deadlineMs;
        {
            std::lock_guard lock(m_site.mutex);
            FakeCam& c = m_site.cam(copy);
            ++c.contacts;
            ++c.posts;
            c.files.push_back(file.filename().string());
            m_site.postOrder.push_back(fieldUtf8(copy.szIp));
        }
        const int now = ++m_site.activePosts;
        int seen = m_site.peakPosts.load();
        while (now > seen && !m_site.peakPosts.compare_exchange_weak(seen, now)) {
        }
        sink.setTotalBytes(static_cast<std::uint32_t>(image->size()));
        sink.setUploadStatus(fwcode::kSending);
        while (m_site.holdPosts.load() && !m_abort.isSet())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        sink.setSentBytes(static_cast<std::uint32_t>(image->size()));
        sink.setUploadStatus(fwcode::kSent);
        --m_site.activePosts;
        std::lock_guard lock(m_site.mutex);
        FakeCam& c = m_site.cam(copy);
        FirmPostResult r;
        r.outcome = FirmPostResult::Outcome::kSent;
        r.replyRead = true;
        r.httpStatus = 200;
        if (c.refuseStatus != 0) {
            r.httpStatus = c.refuseStatus;
            return r;
        }
        c.uploaded = true;
        c.pending.push_back(file.filename().string());
        // Installs: the file's number becomes the component's version.
        if (!c.installsOnRestart) installPending(c);
        return r;
    }
    static std::atomic<std::uint64_t> lastLimits;

  private:
    void installPending(FakeCam& c) {
        for (const std::string& name : c.pending)
            for (const auto& [model, comps] : m_site.models)
                for (const FakeComponent& f : comps)
                    if (name == f.name && !c.keepsOldVersion) c.installed[f.kind] = f.number;
        c.pending.clear();
    }
    static bool up(const FakeCam& c) { return c.answers && !(c.neverComesBack && c.uploaded); }
    bool touch(const CameraEntry& copy) {
        std::lock_guard lock(m_site.mutex);
        FakeCam& c = m_site.cam(copy);
        ++c.contacts;
        return up(c);
    }
    FakeSite& m_site;
    const ManualResetEvent& m_abort;
    bool m_bKeepGoing = false;
};

std::atomic<std::uint64_t> FakeCamera::lastLimits{0};

class RecordingEvents final : public FirmwareRunEvents {
  public:
    std::atomic<int> rows{0};
    std::atomic<int> checkDone{0};
    std::atomic<bool> any{false};
    void firmRowChanged(int) override { ++rows; }
    void firmCheckDone(bool a) override {
        any = a;
        ++checkDone;
    }
};

class FirmwareRuns : public ::testing::Test {
  protected:
    FirmwareRuns()
        : clock(0.001),
          files(site),
          env{store,
              files,
              [this](const ManualResetEvent& abort) {
                  return std::make_unique<FakeCamera>(site, abort);
              },
              net,
              log,
              clock,
              [this] { return settings; }},
          adapter(makeAdapter("10.1.0.1")) {
        site.models["KT-6500"] = {{0, 3, "RP2NET20100415.BIN", 20100415, 3000},
                                  {3, 1, "RP2CAM20100501.BIN", 20100501, 5000}};
    }

    // A camera in the table with installed NET and CAM versions.
    int addCamera(const std::string& ip, std::uint32_t net, std::uint32_t cam,
                  std::uint16_t firmStatus = 0) {
        CameraEntry e{};
        e.clear();
        setField(e.szIp, std::string_view(ip));
        setField(e.szModel, std::string_view("KT-6500"));
        setField(e.szPort, std::string_view("80"));
        e.wProtoVer = 2;
        e.wFirmStatus = firmStatus;
        int index = -1;
        store.append(e, &index);
        std::lock_guard lock(site.mutex);
        site.cams[ip].installed[3] = net;
        site.cams[ip].installed[1] = cam;
        return index;
    }

    CameraEntry record(int i) { return FirmTable(store).snapshot(i); }

    bool waitFor(const std::function<bool()>& pred, int ms = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (pred()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return pred();
    }

    // Runs an update until every camera is through.
    void runUpdate(FirmwareUpdateRun& run, int instance) {
        ASSERT_EQ(run.start(instance, adapter), 0);
        ASSERT_TRUE(waitFor([&] {
            // Every slot has found no further camera.
            for (int s = 0; s < run.slotCount(); ++s)
                if (run.slotState(s) != fwcode::kSlotNoCamera) return false;
            return true;
        }));
    }

    ScaledClock clock;
    CameraStore store;
    FakeSite site;
    FakeFiles files;
    FakeHostNetwork net;
    TraceLog log;
    FirmRunSettings settings;
    FirmRunEnv env;
    AdapterEntry adapter;
    RecordingEvents events;
};

}  // namespace

// ----------------------------------------------------------------------------- check run

TEST_F(FirmwareRuns, CheckMarksUpdateReadyLatestAndNoFirmware) {
    const int ready = addCamera("10.1.0.11", 20100415, 20100301);  // CAM older
    const int latest = addCamera("10.1.0.12", 20100415, 20100501);
    const int other = addCamera("10.1.0.13", 1, 1);
    {
        CameraEntry e = record(other);
        setField(e.szModel, std::string_view("KT-UNKNOWN"));
        FirmTable(store).update(other, [&](CameraEntry& r) { r = e; });
    }
    const int unreachable = addCamera("10.1.0.14", 1, 1);
    site.cams["10.1.0.14"].answers = false;
    const int outside = addCamera("10.9.0.15", 1, 1);

    FirmwareCheckRun run(env, events);
    ASSERT_TRUE(run.start(kFirmRunCheck, adapter));
    ASSERT_TRUE(run.waitDone(std::chrono::seconds(10)));
    EXPECT_EQ(events.checkDone.load(), 1);
    EXPECT_TRUE(events.any.load());
    EXPECT_FALSE(run.running());

    EXPECT_EQ(record(ready).wFirmStatus, fwcode::kUpdateReady);
    EXPECT_EQ(record(latest).wFirmStatus, fwcode::kLatest);
    EXPECT_EQ(record(other).wFirmStatus, fwcode::kNoFirmware);
    EXPECT_EQ(record(unreachable).wFirmStatus, fwcode::kNoFirmware);
    EXPECT_EQ(record(unreachable).wUploadStatus, fwcode::kCheckError);
    EXPECT_EQ(record(outside).wFirmStatus, fwcode::kNoFirmware);
    EXPECT_EQ(site.at("10.9.0.15").contacts, 0);  // outside the subnet: never contacted
    EXPECT_EQ(record(ready).wFirmMethod, 2);
    // The NET component was latest; the CAM file decided.
    const auto outcomes = run.outcomes();
    EXPECT_EQ(outcomes[static_cast<std::size_t>(ready)].file.filename(), "RP2CAM20100501.BIN");
    EXPECT_EQ(net.flushes.load(), 1);
}

TEST_F(FirmwareRuns, CheckWithVersionCompareOffAsksNoVersion) {
    settings.versionCompare = false;
    const int a = addCamera("10.1.0.11", 20100415, 20100501);  // all latest
    FirmwareCheckRun run(env, events);
    EXPECT_TRUE(run.camFirmCheck(kFirmRunCheck, adapter));
    EXPECT_EQ(record(a).wFirmStatus, fwcode::kUpdateReady);
    EXPECT_EQ(site.versionQueries.load(), 1);  // only the one after the codec read
}

TEST_F(FirmwareRuns, CheckInUploadModeSkipsCamerasThatFailedTheirCheck) {
    const int a = addCamera("10.1.0.11", 1, 1, fwcode::kNoFirmware);
    FirmTable(store).setUploadStatus(a, fwcode::kCheckError);
    FirmwareCheckRun run(env, events);
    EXPECT_FALSE(run.camFirmCheck(kFirmRunUpload, adapter));
    EXPECT_EQ(site.at("10.1.0.11").contacts, 0);
    EXPECT_EQ(record(a).wUploadStatus, fwcode::kCheckError);
}

// ---------------------------------------------------------------------------- upload run

TEST_F(FirmwareRuns, OneSlotUpdatesStrictlyOneAfterAnother) {
    const int a = addCamera("10.1.0.11", 1, 1, fwcode::kUpdateReady);
    const int b = addCamera("10.1.0.12", 1, 1, fwcode::kUpdateReady);
    const int c = addCamera("10.1.0.13", 1, 1, fwcode::kUpdateReady);
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 1);
    EXPECT_EQ(site.peakPosts.load(), 1);
    EXPECT_EQ(run.peakTransfers(), 1);
    // Each camera's two components before the next camera's.
    const std::vector<std::string> order{"10.1.0.11", "10.1.0.11", "10.1.0.12",
                                         "10.1.0.12", "10.1.0.13", "10.1.0.13"};
    EXPECT_EQ(site.postOrder, order);
    for (int i : {a, b, c}) {
        EXPECT_EQ(record(i).wUploadStatus, fwcode::kDone);
        EXPECT_EQ(fieldUtf8(record(i).szFirmVer), "CM Ver V1.00 CS Ver  NM Ver V1.00 NS Ver  ");
    }
    run.requestStop();
}

TEST_F(FirmwareRuns, NoSlotLooksIdleWhileACameraIsStillToCome) {
    // One slot and three cameras: between one camera's end and the next one's start, the run
    // must not look finished (the window would report the update completed).
    for (const char* ip : {"10.1.0.11", "10.1.0.12", "10.1.0.13"})
        addCamera(ip, 1, 20100501, fwcode::kUpdateReady);
    FirmwareUpdateRun run(env, events);
    ASSERT_EQ(run.start(1, adapter), 0);
    int looks = 0;
    for (;;) {
        if (!run.anySlotBusy()) {
            // Idle only when every camera has ended.
            bool allEnded = true;
            for (int i = 0; i < 3; ++i)
                if (record(i).wUploadStatus != fwcode::kDone) allEnded = false;
            if (allEnded) break;
            // The very start: the dispatcher has not yet run.
            if (run.slotState(0) != fwcode::kSlotFree || looks > 0) {
                ADD_FAILURE() << "idle while cameras are left, slot " << run.slotState(0);
                break;
            }
        } else {
            ++looks;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_GT(looks, 0);
}

TEST_F(FirmwareRuns, TenSlotsThreeCamerasTwoTransferTheThirdWaits) {
    addCamera("10.1.0.11", 1, 20100501, fwcode::kUpdateReady);
    addCamera("10.1.0.12", 1, 20100501, fwcode::kUpdateReady);
    const int third = addCamera("10.1.0.13", 1, 20100501, fwcode::kUpdateReady);
    site.holdPosts = true;
    FirmwareUpdateRun run(env, events);
    ASSERT_EQ(run.start(10, adapter), 0);
    ASSERT_TRUE(waitFor([&] { return site.activePosts.load() == 2; }));
    // The third worker is held at the permission step and has sent nothing.
    ASSERT_TRUE(waitFor([&] {
        int waiting = 0;
        for (int s = 0; s < run.slotCount(); ++s)
            if (run.slotState(s) == fwcode::kWaitingPermission) ++waiting;
        return waiting == 1;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(site.activePosts.load(), 2);
    EXPECT_EQ(site.at("10.1.0.13").posts + site.at("10.1.0.12").posts + site.at("10.1.0.11").posts,
              2);
    EXPECT_EQ(run.slotState(3), fwcode::kSlotNoCamera);
    site.holdPosts = false;
    ASSERT_TRUE(waitFor([&] { return !run.anySlotBusy() && run.slotState(2) != 4096; }));
    EXPECT_EQ(site.peakPosts.load(), 2);
    EXPECT_LE(run.peakTransfers(), 2);
    EXPECT_EQ(record(third).wUploadStatus, fwcode::kDone);
}

TEST_F(FirmwareRuns, LatestNetComponentIsNotUploaded) {
    const int a = addCamera("10.1.0.11", 20100415, 20100301, fwcode::kUpdateReady);
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 10);
    EXPECT_EQ(site.at("10.1.0.11").files, std::vector<std::string>{"RP2CAM20100501.BIN"});
    EXPECT_EQ(record(a).wUploadStatus, fwcode::kDone);
    EXPECT_EQ(record(a).dwSentBytes, record(a).dwTotalBytes);
}

TEST_F(FirmwareRuns, CancelWhileWaitingEndsWithoutContactingTheCamera) {
    for (const char* ip : {"10.1.0.11", "10.1.0.12", "10.1.0.13"})
        addCamera(ip, 1, 20100501, fwcode::kUpdateReady);
    site.holdPosts = true;
    FirmwareUpdateRun run(env, events);
    ASSERT_EQ(run.start(10, adapter), 0);
    int waitingSlot = -1;
    ASSERT_TRUE(waitFor([&] {
        if (site.activePosts.load() != 2) return false;
        for (int s = 0; s < 3; ++s)
            if (run.slotState(s) == fwcode::kWaitingPermission) waitingSlot = s;
        return waitingSlot >= 0;
    }));
    const int waiting = run.slotRecord(waitingSlot);
    const std::string ip = fieldUtf8(record(waiting).szIp);
    const int contactsBefore = site.at(ip).contacts;
    run.requestStop();
    ASSERT_TRUE(waitFor([&] { return record(waiting).wUploadStatus == fwcode::kCancelled; }));
    site.holdPosts = false;
    ASSERT_TRUE(waitFor([&] { return !run.anySlotBusy(); }));
    EXPECT_EQ(site.at(ip).contacts, contactsBefore);
    EXPECT_EQ(site.at(ip).posts, 0);
    // The transferring ones finish their component and stop at the next cancel check.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(record(i).wUploadStatus, fwcode::kCancelled);
        if (i != waiting) {
            EXPECT_EQ(site.at(fieldUtf8(record(i).szIp)).posts, 1);
        }
    }
}

TEST_F(FirmwareRuns, CameraThatNeverComesBackFailsAndGetsRestartCommands) {
    settings.retryCount = 2;
    const int a = addCamera("10.1.0.11", 1, 20100501, fwcode::kUpdateReady);
    site.cams["10.1.0.11"].neverComesBack = true;
    FirmwareUpdateRun run(env, events);
    ASSERT_EQ(run.start(1, adapter), 0);
    ASSERT_TRUE(waitFor([&] { return record(a).wUploadStatus == fwcode::kFailed; }));
    // The dispatcher keeps sending the restart command while the slot waits for one to pass.
    ASSERT_TRUE(waitFor([&] { return site.at("10.1.0.11").restarts >= 3; }));
    EXPECT_EQ(run.slotState(0), fwcode::kSlotNeedsRestart);
    EXPECT_EQ(site.at("10.1.0.11").posts, 1);  // the retry's reboot wait failed first
    run.requestStop();
    ASSERT_TRUE(waitFor([&] { return !run.dispatcherRunning(); }));
}

TEST_F(FirmwareRuns, OldVersionAfterRestartIsRetriedUpToTheRetryCount) {
    settings.retryCount = 2;
    const int a = addCamera("10.1.0.11", 20100415, 1, fwcode::kUpdateReady);
    site.cams["10.1.0.11"].keepsOldVersion = true;
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 1);
    EXPECT_EQ(site.at("10.1.0.11").posts, 3);  // the first attempt and two retries
    EXPECT_EQ(run.retries(a), 2);
    EXPECT_EQ(record(a).wUploadStatus, fwcode::kFailed);
    // The camera answers, so the dispatcher's restart command passes and frees the slot.
    EXPECT_EQ(run.slotState(0), fwcode::kSlotNoCamera);
    EXPECT_GE(site.at("10.1.0.11").restarts, 1);
}

TEST_F(FirmwareRuns, ShutdownDuringTransfersEndsEveryWorker) {
    addCamera("10.1.0.11", 1, 20100501, fwcode::kUpdateReady);
    addCamera("10.1.0.12", 1, 20100501, fwcode::kUpdateReady);
    addCamera("10.1.0.13", 1, 20100501, fwcode::kUpdateReady);
    site.holdPosts = true;
    auto run = std::make_unique<FirmwareUpdateRun>(env, events);
    ASSERT_EQ(run->start(10, adapter), 0);
    ASSERT_TRUE(waitFor([&] { return site.activePosts.load() == 2; }));
    const auto t0 = std::chrono::steady_clock::now();
    run.reset();  // joins the dispatcher and every worker
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(site.activePosts.load(), 0);
}

// --------------------------------------------------------------- outcomes under faults

TEST_F(FirmwareRuns, RefusedUploadFailsWithTheStatusAndNeverGoesOnAsSuccess) {
    settings.retryCount = 1;
    const int a = addCamera("10.1.0.11", 1, 20100501, fwcode::kUpdateReady);
    site.cams["10.1.0.11"].refuseStatus = 403;
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 1);
    EXPECT_EQ(record(a).wUploadStatus, fwcode::kFailed);
    EXPECT_EQ(site.at("10.1.0.11").posts, 2);  // the first try and one retry
    const FirmwareUpdateRun::Answer answer = run.answer(a);
    EXPECT_EQ(answer.httpStatus, 403);
    EXPECT_TRUE(answer.refused);
    EXPECT_EQ(site.at("10.1.0.11").installed[3], 1u);
}

TEST_F(FirmwareRuns, ImageThatTookOnlyWithTheRestartCommandEndsCompleted) {
    // The camera keeps its old version until the retry's restart: the retry's check finds
    // the new version and the component is done, without a second upload.
    const int a = addCamera("10.1.0.11", 1, 20100501, fwcode::kUpdateReady);
    site.cams["10.1.0.11"].installsOnRestart = true;
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 1);
    EXPECT_EQ(record(a).wUploadStatus, fwcode::kDone);
    EXPECT_EQ(site.at("10.1.0.11").posts, 1);
    EXPECT_EQ(run.retries(a), 1);
    EXPECT_EQ(fieldUtf8(record(a).szFirmVer), "CM Ver V1.00 CS Ver  NM Ver V1.00 NS Ver  ");
}

TEST_F(FirmwareRuns, NothingToCompareEndsSentNotVerified) {
    settings.versionCompare = false;
    const int a = addCamera("10.1.0.11", 1, 1, fwcode::kUpdateReady);
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 1);
    EXPECT_EQ(record(a).wUploadStatus, fwcode::kSentUnverified);
    // The deadline of the NET image: 3000 bytes at the slowest rate plus the row's time-out.
    EXPECT_GT(FakeCamera::lastLimits.load(), 0u);
}

TEST_F(FirmwareRuns, CancelDuringTheRetrysRestartEndsTheCameraAndStartsNoTransfer) {
    settings.retryCount = 3;
    const int a = addCamera("10.1.0.11", 1, 20100501, fwcode::kUpdateReady);
    site.cams["10.1.0.11"].keepsOldVersion = true;
    site.holdReboots = true;
    FirmwareUpdateRun run(env, events);
    ASSERT_EQ(run.start(1, adapter), 0);
    ASSERT_TRUE(waitFor([&] { return site.rebootsHeld.load() == 1; }));
    run.requestStop();
    ASSERT_TRUE(waitFor([&] { return record(a).wUploadStatus == fwcode::kCancelled; }, 5000));
    site.holdReboots = false;
    ASSERT_TRUE(waitFor([&] { return !run.anySlotBusy(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(site.at("10.1.0.11").posts, 1);
    EXPECT_EQ(record(a).wUploadStatus, fwcode::kCancelled);
}

TEST_F(FirmwareRuns, RestartCommandsToAFailedCameraAreSpacedAndEnd) {
    settings.retryCount = 1;
    const int a = addCamera("10.1.0.11", 1, 20100501, fwcode::kUpdateReady);
    site.cams["10.1.0.11"].neverComesBack = true;
    FirmwareUpdateRun run(env, events);
    ASSERT_EQ(run.start(1, adapter), 0);
    ASSERT_TRUE(waitFor([&] { return record(a).wUploadStatus == fwcode::kFailed; }));
    const int before = site.at("10.1.0.11").restarts;
    // Every 10 s for 180 s (at 1/1000): at most 19 attempts, and then the run ends by itself.
    ASSERT_TRUE(waitFor([&] { return !run.dispatcherRunning(); }, 20000));
    const int attempts = site.at("10.1.0.11").restarts - before;
    EXPECT_GE(attempts, 1);
    EXPECT_LE(attempts, 19);
    EXPECT_EQ(run.slotState(0), fwcode::kSlotNoCamera);
}

TEST_F(FirmwareRuns, EveryCameraInWorkIsRestoredAlsoAtShutdownAndOnCancel) {
    for (const char* ip : {"10.1.0.11", "10.1.0.12", "10.1.0.13"})
        addCamera(ip, 1, 20100501, fwcode::kUpdateReady);
    site.holdPosts = true;
    auto run = std::make_unique<FirmwareUpdateRun>(env, events);
    ASSERT_EQ(run->start(10, adapter), 0);
    ASSERT_TRUE(waitFor([&] { return site.activePosts.load() == 2; }));
    run.reset();  // shutdown: the two transferring and the one waiting end
    EXPECT_EQ(site.restores.load(), 3);
    EXPECT_EQ(site.restoresNotCut.load(), 3);

    // Cancel while the retry's restart waits: restored as well.
    site.restores = 0;
    site.restoresNotCut = 0;
    site.holdPosts = false;
    const int a = addCamera("10.1.0.21", 1, 20100501, fwcode::kUpdateReady);
    for (int i = 0; i < 3; ++i) FirmTable(store).setFirmStatus(i, fwcode::kLatest);
    site.cams["10.1.0.21"].keepsOldVersion = true;
    site.holdReboots = true;
    FirmwareUpdateRun again(env, events);
    ASSERT_EQ(again.start(1, adapter), 0);
    ASSERT_TRUE(waitFor([&] { return site.rebootsHeld.load() >= 1; }));
    again.requestStop();
    ASSERT_TRUE(waitFor([&] { return record(a).wUploadStatus == fwcode::kCancelled; }, 5000));
    EXPECT_EQ(site.restores.load(), 1);
    EXPECT_EQ(site.restoresNotCut.load(), 1);
}

// ------------------------------------------------------------------- the changes journal

namespace {
// Points the process's journal at a fresh file for one test, and away from it afterwards.
class JournalFile {
  public:
    JournalFile()
        : m_path(std::filesystem::temp_directory_path() /
                 ("lanrove-fw-journal-" + std::to_string(::getpid()) + ".jsonl")) {
        std::filesystem::remove(m_path);
        changeJournal().open(m_path);
    }
    ~JournalFile() {
        changeJournal().open({});
        std::filesystem::remove(m_path);
    }
    std::vector<ChangeRecord> records() const { return ChangeJournal::read(m_path); }

  private:
    std::filesystem::path m_path;
};
}  // namespace

TEST_F(FirmwareRuns, JournalHasEachComponentsVersionBeforeAndAfterWithItsDate) {
    JournalFile journal;
    addCamera("10.1.0.11", 20100101, 20100301, fwcode::kUpdateReady);
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 1);
    const std::vector<ChangeRecord> lines = journal.records();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].kind, "firmware");
    EXPECT_EQ(lines[0].before, "CAM MAIN V1.00(20100301), NET MAIN V1.00(20100101)");
    EXPECT_EQ(lines[0].after, "CAM MAIN V1.00(20100501), NET MAIN V1.00(20100415)");
    EXPECT_EQ(lines[0].result, "accepted");
}

TEST_F(FirmwareRuns, JournalSaysNotReadWhereTheCameraShowedNoVersion) {
    JournalFile journal;
    settings.retryCount = 1;
    addCamera("10.1.0.11", 20100101, 20100501, fwcode::kUpdateReady);  // NET only to do
    site.cams["10.1.0.11"].neverComesBack = true;
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 1);
    const std::vector<ChangeRecord> lines = journal.records();
    ASSERT_EQ(lines.size(), 1u);
    // Read before, never again after the transfer: the old versions are no evidence.
    EXPECT_EQ(lines[0].before, "CAM MAIN V1.00(20100501), NET MAIN V1.00(20100101)");
    EXPECT_EQ(lines[0].after, "CAM MAIN not read, NET MAIN not read; tried RP2NET20100415.BIN");
    EXPECT_EQ(lines[0].result.rfind("failed", 0), 0u) << lines[0].result;
}

TEST_F(FirmwareRuns, JournalWithoutAVersionReadAfterTheTransferIsNeverBlank) {
    JournalFile journal;
    settings.versionCompare = false;
    addCamera("10.1.0.11", 1, 1, fwcode::kUpdateReady);
    FirmwareUpdateRun run(env, events);
    runUpdate(run, 1);
    const std::vector<ChangeRecord> lines = journal.records();
    ASSERT_EQ(lines.size(), 1u);
    // What the camera showed before its turn, and nothing read after the transfers.
    EXPECT_EQ(lines[0].before, "CAM MAIN V1.00(1), NET MAIN V1.00(1)");
    EXPECT_EQ(lines[0].after,
              "CAM MAIN not read, NET MAIN not read; sent RP2NET20100415.BIN, RP2CAM20100501.BIN");
    EXPECT_EQ(lines[0].result, "sent, not verified");
}
