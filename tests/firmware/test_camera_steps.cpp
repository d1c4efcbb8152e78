// The camera steps of a firmware update against simulated cameras on loopback addresses, with
// every protocol wait at a five-hundredth of its length (a 60000 ms poll takes 120 ms).
#include <gtest/gtest.h>

#include <chrono>

#include "cgi/sim_helpers.h"
#include "firmware/camera_steps.h"
#include "web_side.h"

using namespace lanrove;
using namespace lanrove::camsim;
using lanrove::testing::entryFor;
using lanrove::testing::simCamera;
using lanrove::testing::slurp;
using lanrove::testing::TempDir;

namespace {

using Seconds = std::chrono::duration<double>;

class CameraStepsTest : public ::testing::Test {
  protected:
    ScaledClock clock{0.002};
    TempDir dir;
    TraceLog log;
    WireCodec codec{"CP1252"};
    CCGI cgi{clock, log, codec};
    CFirmUpload upload{cgi, log, clock};
    CameraSteps steps{cgi, upload, log, clock};
    TraceLog simLog;
    Fleet fleet;
    std::unique_ptr<WebSide> web;
    CameraEntry table{};

    void SetUp() override { ASSERT_TRUE(log.create(dir.path)); }
    void TearDown() override {
        if (web) web->stop();
    }
    std::size_t addCamera(const std::string& ip, int proto = 2) {
        fleet.cameras.push_back(simCamera(ip, proto, "Steps"));
        return fleet.cameras.size() - 1;
    }
    void start() {
        web = std::make_unique<WebSide>(fleet, simLog, clock);
        ASSERT_TRUE(web->start());
    }
    // A slot for the camera, on an adapter of its subnet.
    void fill(CameraStepSlot& slot, std::size_t i, const char* no) {
        slot.ctx.copy = entryFor(fleet.cameras[i], no);
        table = slot.ctx.copy;
        slot.ctx.camera = &table;
        AdapterEntry::setText(slot.adapter.szIp, "127.0.0.1");
        AdapterEntry::setText(slot.adapter.szMask, "255.0.0.0");
    }
    std::size_t sent(const std::string& program) {
        std::size_t n = 0;
        for (const auto& r : web->requests()) n += r.program == program ? 1 : 0;
        return n;
    }
    std::string logText() { return slurp(log.currentFile()); }
    static Seconds since(std::chrono::steady_clock::time_point t0) {
        return std::chrono::steady_clock::now() - t0;
    }
};

}  // namespace

TEST_F(CameraStepsTest, RestartingCameraIsPolledUntilTheLimit) {
    const auto i = addCamera("127.0.0.67");
    fleet.cameras[i].restartMs = 3600000;
    start();
    CameraStepSlot slot;
    fill(slot, i, "3");
    EXPECT_EQ(steps.SessionCheckAndGet(slot, 60000), 0);
    EXPECT_EQ(steps.RebootCommand(slot), 0);  // offline from now on
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_NE(steps.SessionCheckAndGet(slot, 60000), 0);
    EXPECT_GE(since(t0).count(), 0.12);
    EXPECT_LT(since(t0).count(), 2.0);
    EXPECT_NE(logText().find("CamNo(3) SessionCheckAndGet Timeout("), std::string::npos);
    // A stop request ends a long wait at once.
    ManualResetEvent stop;
    stop.set();
    slot.stop = &stop;
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_NE(steps.SetRebootWait(slot), 0);
    EXPECT_LT(since(t1).count(), 0.3);
}

TEST_F(CameraStepsTest, RestartRefusedIsRetriedUntil180Seconds) {
    const auto i = addCamera("127.0.0.68");
    fleet.cameras[i].faults.insert("norestart");
    const auto j = addCamera("127.0.0.69");
    start();
    CameraStepSlot slot;
    fill(slot, i, "4");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_NE(steps.SetRebootWait(slot), 0);
    EXPECT_GE(since(t0).count(), 0.36);  // 180000 ms
    // Every 40000 ms: five tries within 180000 ms.
    EXPECT_GE(sent("cgi-bin/opecmd.cgi"), 4u);
    EXPECT_LE(sent("cgi-bin/opecmd.cgi"), 6u);
    EXPECT_NE(logText().find("CamNo(4) SetRebootWait Timeout("), std::string::npos);

    CameraStepSlot good;
    fill(good, j, "5");
    EXPECT_EQ(steps.SetRebootWait(good), 0);
    EXPECT_NE(logText().find("CamNo(5) SetRebootWait."), std::string::npos);
    // A camera outside the adapter's subnet is never contacted.
    web->clearRequests();
    AdapterEntry::setText(good.adapter.szIp, "10.0.0.1");
    AdapterEntry::setText(good.adapter.szMask, "255.255.255.0");
    EXPECT_NE(steps.SetSDHDDUnmount(good), 0);
    EXPECT_TRUE(web->requests().empty());
}

TEST_F(CameraStepsTest, PrepareAndRestoreAWideRecordingCamera) {
    const auto i = addCamera("127.0.0.70");
    fleet.cameras[i].aspectRatio = 1;
    fleet.cameras[i].recStatus = 1;
    fleet.cameras[i].record = {{"rec_mode", "1"}, {"rec_quality", "high"}};
    const auto j = addCamera("127.0.0.71");
    start();
    CameraStepSlot slot;
    fill(slot, i, "6");
    slot.ctx.copy.wAspectRatio = 1;
    slot.ctx.copy.wFirmMethod = 2;
    steps.PrepareCamera(slot);
    EXPECT_TRUE(slot.bRecordSaved);
    EXPECT_EQ(slot.ctx.copy.wAspectRatio, 0);
    EXPECT_EQ(table.wAspectRatio, 1);
    {
        std::lock_guard lock(fleet.mutex);
        EXPECT_EQ(fleet.cameras[i].aspectRatio, 0);
        EXPECT_EQ(fleet.cameras[i].recStatus, 0) << "SD card and HDD unmounted";
        // The update resets a recording setting.
        fleet.cameras[i].record["rec_quality"] = "low";
    }
    EXPECT_NE(logText().find("CamNo(6) SD-CARD HDD Unmount Set."), std::string::npos);
    steps.RestoreCamera(slot);
    {
        std::lock_guard lock(fleet.mutex);
        EXPECT_EQ(fleet.cameras[i].aspectRatio, 1);
        EXPECT_EQ(fleet.cameras[i].record["rec_quality"], "high");
    }
    EXPECT_NE(logText().find("CamNo(6) RecordCgi Set."), std::string::npos);
    EXPECT_NE(logText().find("CamNo(6) FirmUpload Rec Setting End."), std::string::npos);

    // Aspect ratio 0: neither step sends anything.
    web->clearRequests();
    CameraStepSlot plain;
    fill(plain, j, "7");
    plain.ctx.copy.wFirmMethod = 2;
    steps.PrepareCamera(plain);
    steps.RestoreCamera(plain);
    EXPECT_TRUE(web->requests().empty());
}

TEST_F(CameraStepsTest, VersionTwoWaitOnSmallValuesAndOnAnErrorCode) {
    const auto i = addCamera("127.0.0.72");
    const auto j = addCamera("127.0.0.73");
    fleet.cameras[j].faults.insert("writefail");
    // Both cameras write an image for an hour: the result page keeps asking for 5.
    for (auto k : {i, j}) {
        SimFirmware& fw = fleet.cameras[k].firmware;
        fw.bBusy = true;
        fw.bInstall = true;
        fw.writeEnd = std::chrono::steady_clock::now() + std::chrono::hours(1);
        fw.announceEnd = fw.writeEnd;
    }
    start();
    CameraStepSlot slot;
    fill(slot, i, "8");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(steps.RebootWaitVer2(slot, 300000, 300000, 30), 0);
    EXPECT_GE(since(t0).count(), 0.6);           // U
    EXPECT_GE(sent("cgi-bin/firmup.cgi"), 10u);  // every 3000 ms
    EXPECT_NE(logText().find("CamNo(8) FirmupRebootWaitVer2 Timeout("), std::string::npos);

    CameraStepSlot failing;
    fill(failing, j, "9");
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(steps.RebootWaitVer2(failing, 300000, 300000, 30), kFirmErrorCode);
    EXPECT_LT(since(t1).count(), 0.3);
    EXPECT_NE(logText().find("CamNo(9) Firmup Error Code Status = E0201"), std::string::npos);
}
