// The firmware dialog over fake firmware runs: the update mode from Execute through the check,
// the upload start and its progress to the close (completed or cancelled), and the two wait
// modes that close on their job's done signal. Timers run at a hundredth of their length
// unless a test measures the real cadence.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <map>
#include <thread>

#include "fake_firmware_control.h"
#include "setting_dialog_fixture.h"
#include "ui/firmware_update_dialog.h"

namespace lanrove::ui::testing {
namespace {

class RecordingEvents final : public FirmwareEvents {
  public:
    void onFirmRowChanged(int) override {}
    void onFirmCheckDone(bool) override {}
};

class FirmDialogTest : public SettingDialogFixture {
  protected:
    FirmUpdateRun run() {
        return {control, events, [this](int index) { refreshed.push_back(index); },
                [this] { ++allRefreshes; }};
    }

    // Presses Execute and waits until the upload was started after the check.
    void executeThroughCheck(CFirmUpload& w) {
        QTest::mouseClick(w.executeButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(control.checkStarts == 1, 2000);
        control.finishCheck(true);
        QTRY_VERIFY_WITH_TIMEOUT(control.uploadStarts == 1, 2000);
    }

    static void pressKeys(QWidget* target) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }

    ScaledClock clock{0.01};
    FakeFirmwareControl control;
    RecordingEvents events;
    std::vector<int> refreshed;
    int allRefreshes = 0;
};

TEST_F(FirmDialogTest, CloseBeforeExecuteEndsTheDialogWithoutStartingAnything) {
    control.addRecord(4608, 0);
    CFirmUpload w(services(), clock, run());
    EXPECT_EQ(w.mode(), FirmDialogMode::Update);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("FIRMWARE UPDATE"));
    EXPECT_EQ(w.executeButton()->text(), QStringLiteral("Execute"));
    EXPECT_EQ(w.cancelCloseButton()->text(), QStringLiteral("Close"));
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Firmware Update"));
    EXPECT_TRUE(w.control(kIdFirmCameraNo)->isHidden());
    EXPECT_TRUE(w.control(kIdFirmCameraNoLabel)->isHidden());
    EXPECT_FALSE(w.control(kIdFirmStatusLabel)->isHidden());
    w.show();
    QTest::qWait(50);
    // No timer runs until Execute; the title bar cannot close it.
    for (int id : {kFirmStartTimerId, kFirmBarTimerId, kFirmProgressTimerId})
        EXPECT_FALSE(w.timerRunning(id)) << id;
    EXPECT_FALSE(w.close());
    QTest::mouseClick(w.cancelCloseButton(), Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
    QTest::qWait(50);
    EXPECT_EQ(control.checkStarts, 0);
    EXPECT_EQ(control.uploadStarts, 0);
    EXPECT_EQ(control.stopRequests, 0);
    EXPECT_EQ(control.progressReads, 0);
}

TEST_F(FirmDialogTest, UpdateRunsCheckThenUploadAndClosesWhenEveryCameraHasEnded) {
    control.addRecord(4608, 0);
    control.addRecord(4610, 0);
    control.addRecord(4608, 0);
    CFirmUpload w(services(), clock, run());
    QSignalSpy finished(&w, &QDialog::finished);
    w.show();
    QTest::mouseClick(w.executeButton(), Qt::LeftButton);
    EXPECT_FALSE(w.executeButton()->isEnabled());
    EXPECT_FALSE(w.cancelCloseButton()->isEnabled());
    EXPECT_EQ(w.cancelCloseButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Update in progress."));
    EXPECT_TRUE(w.timerRunning(kFirmBarTimerId));
    EXPECT_EQ(w.timerInterval(kFirmStartTimerId), 10);  // 1000 ms at the test's scale

    // The check starts on the first tick; the start timer then polls at its long interval and
    // the upload waits while the check runs.
    QTRY_VERIFY_WITH_TIMEOUT(control.checkStarts == 1, 2000);
    EXPECT_TRUE(w.updateStarted());
    EXPECT_EQ(w.timerInterval(kFirmStartTimerId), 100);  // 10000 ms
    QTest::qWait(250);
    EXPECT_EQ(control.uploadStarts, 0);
    EXPECT_EQ(control.checkStarts, 1);
    EXPECT_FALSE(w.cancelCloseButton()->isEnabled());

    control.slotBusy = true;
    control.setStatus(0, 4608, 4100);
    control.setStatus(2, 4608, 4097);
    control.finishCheck(true);
    QTRY_VERIFY_WITH_TIMEOUT(control.uploadStarts == 1, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(w.timerRunning(kFirmProgressTimerId), 2000);
    EXPECT_FALSE(w.timerRunning(kFirmStartTimerId));
    EXPECT_TRUE(w.cancelCloseButton()->isEnabled());

    // Only update-ready cameras get their rows refreshed.
    QTRY_VERIFY_WITH_TIMEOUT(refreshed.size() >= 4u, 2000);
    for (int index : refreshed) EXPECT_NE(index, 1);

    // Enter and Esc during the update neither close nor cancel.
    w.cancelCloseButton()->setFocus();
    pressKeys(&w);
    pressKeys(w.cancelCloseButton());
    QTest::qWait(30);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(control.stopRequests, 0);

    control.setStatus(0, 4608, 4107);
    control.setStatus(2, 4608, 4100);
    QTest::qWait(50);
    EXPECT_TRUE(w.isVisible());
    control.setStatus(2, 4608, 8194);
    control.slotBusy = false;
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 2000);
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Updating completed."));
    EXPECT_EQ(w.progressBar()->value(), 100);
    EXPECT_EQ(allRefreshes, 1);
    EXPECT_TRUE(w.executeButton()->isEnabled());
    EXPECT_EQ(w.cancelCloseButton()->text(), QStringLiteral("Close"));
    for (int id : {kFirmStartTimerId, kFirmBarTimerId, kFirmProgressTimerId})
        EXPECT_FALSE(w.timerRunning(id)) << id;
    EXPECT_EQ(control.stopRequests, 0);
}

// Each camera's stage beside its status, the bar over cameras done of cameras to do, and a
// summary of the outcomes before the window closes.
TEST_F(FirmDialogTest, RowsShowTheirStageTheBarCountsCamerasAndASummaryEnds) {
    for (int i = 0; i < 4; ++i) control.addRecord(4608, 0);
    std::map<int, QString> stages;
    FirmUpdateRun r = run();
    r.showStage = [&stages](int index, const QString& stage) { stages[index] = stage; };
    CFirmUpload w(services(), clock, std::move(r));
    QSignalSpy finished(&w, &QDialog::finished);
    w.show();
    control.slotBusy = true;
    control.setStatus(0, 4608, 4100);
    control.setBytes(0, 50, 200);
    control.setStatus(2, 4608, 4104);
    control.setRetries(2, 1);
    control.setStatus(3, 4608, 4101);
    executeThroughCheck(w);
    QTRY_VERIFY_WITH_TIMEOUT(stages.size() == 4u, 2000);
    EXPECT_EQ(stages[0], QStringLiteral("sending 25%"));
    EXPECT_EQ(stages[1], QStringLiteral("waiting for its turn"));
    EXPECT_EQ(stages[2], QStringLiteral("restarting, retry 1"));
    EXPECT_EQ(stages[3], QStringLiteral("writing"));
    EXPECT_EQ(w.progressBar()->value(), 0);

    control.setStatus(0, 4608, 4107);
    QTRY_COMPARE_WITH_TIMEOUT(w.progressBar()->value(), 25, 2000);
    EXPECT_EQ(stages[0], QString());  // ended: the status text says it
    // A camera that is done may leave the update-ready state; it still counts.
    control.setStatus(0, 4610, 4107);
    control.setStatus(1, 4608, 4108);
    control.setStatus(2, 4608, 8194);
    QTRY_COMPARE_WITH_TIMEOUT(w.progressBar()->value(), 75, 2000);
    control.setStatus(3, 4608, 4107);
    control.slotBusy = false;
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 2000);
    const FirmRunSummary sum = w.summary();
    EXPECT_EQ(sum.toDo, 4);
    EXPECT_EQ(sum.completed, 2);
    EXPECT_EQ(sum.notVerified, 1);
    EXPECT_EQ(sum.failed, 1);
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_EQ(boxes.boxes().back().text,
              QStringLiteral("Firmware update of 4 camera(s): 2 completed, 1 failed, 1 sent but "
                             "not verified."));
    EXPECT_EQ(boxes.boxes().back().icon, BoxIcon::Warning);
}

TEST_F(FirmDialogTest, NoCameraReadyAfterTheCheckClosesOnTheFirstProgressTick) {
    control.addRecord(4610, 0);
    control.addRecord(4609, 8192);
    CFirmUpload w(services(), clock, run());
    QSignalSpy finished(&w, &QDialog::finished);
    w.show();
    executeThroughCheck(w);
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 2000);
    // One walk over the two records was enough.
    EXPECT_EQ(control.progressReads, 2);
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Updating completed."));
    EXPECT_TRUE(refreshed.empty());
    EXPECT_EQ(allRefreshes, 1);
}

TEST_F(FirmDialogTest, ACameraNotYetHandedToASlotKeepsTheDialogOpen) {
    // Between two cameras no slot is busy while the run queries the next one: the waiting
    // camera must not let the dialog call the update completed.
    control.addRecord(4608, 4107);
    control.addRecord(4608, 0);
    CFirmUpload w(services(), clock, run());
    w.show();
    executeThroughCheck(w);
    QTRY_VERIFY_WITH_TIMEOUT(w.timerRunning(kFirmProgressTimerId), 2000);
    QTest::qWait(100);  // ten progress ticks
    EXPECT_TRUE(w.isVisible());
    control.setStatus(1, 4608, 4097);
    QTest::qWait(50);
    EXPECT_TRUE(w.isVisible());
    control.setStatus(1, 4608, 4107);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Updating completed."));
}

TEST_F(FirmDialogTest, CancelStopsTheRunAndClosesWhenNothingIsBusy) {
    control.addRecord(4608, 0);
    control.addRecord(4608, 0);
    CFirmUpload w(services(), clock, run());
    QSignalSpy finished(&w, &QDialog::finished);
    w.show();
    control.slotBusy = true;
    executeThroughCheck(w);
    control.setStatus(0, 4608, 4100);
    control.setStatus(1, 4608, 4099);
    QTRY_VERIFY_WITH_TIMEOUT(w.cancelCloseButton()->isEnabled(), 2000);
    QTest::mouseClick(w.cancelCloseButton(), Qt::LeftButton);
    EXPECT_EQ(control.stopRequests, 1);
    EXPECT_TRUE(w.cancelRequested());
    EXPECT_FALSE(w.cancelCloseButton()->isEnabled());
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Cancel in progress."));
    // The transferring camera finishes its component first; the message stays.
    QTest::qWait(50);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Cancel in progress."));
    control.setStatus(1, 4608, 4351);
    QTest::qWait(30);
    EXPECT_TRUE(w.isVisible());  // a slot is still busy
    control.setStatus(0, 4608, 4351);
    control.slotBusy = false;
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 2000);
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Cancel in progress."));
    EXPECT_EQ(allRefreshes, 0);
    EXPECT_EQ(control.stopRequests, 1);
}

TEST_F(FirmDialogTest, AnUploadThatCannotStartIsReportedAndNotCalledCompleted) {
    control.addRecord(4608, 0);
    control.uploadResult = static_cast<long>(0x80070008);
    CFirmUpload w(services(), clock, run());
    w.show();
    executeThroughCheck(w);
    QTest::qWait(50);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.messageLabel()->text().startsWith(
        QStringLiteral("An error has occurred during firmware updating. STS=")));
    EXPECT_FALSE(w.timerRunning(kFirmProgressTimerId));
    EXPECT_EQ(allRefreshes, 0);
    EXPECT_TRUE(w.cancelCloseButton()->isEnabled());
    EXPECT_EQ(w.cancelCloseButton()->text(), QStringLiteral("Close"));
    QTest::mouseClick(w.cancelCloseButton(), Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(control.stopRequests, 0);
    EXPECT_TRUE(hasEventLine("Firmware upload could not be started",
                             std::to_string(static_cast<long>(0x80070008))));
}

TEST_F(FirmDialogTest, AbandonDuringTheUploadCancelsLikeTheButton) {
    control.addRecord(4608, 0);
    control.slotBusy = true;
    CFirmUpload w(services(), clock, run());
    w.show();
    executeThroughCheck(w);
    control.setStatus(0, 4608, 4100);
    QTRY_VERIFY_WITH_TIMEOUT(w.timerRunning(kFirmProgressTimerId), 2000);
    w.abandon();
    w.abandon();
    EXPECT_EQ(control.stopRequests, 1);
    EXPECT_TRUE(w.isVisible());
    control.setStatus(0, 4608, 4351);
    control.slotBusy = false;
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
}

TEST_F(FirmDialogTest, CheckModeClosesWithinAboutHalfASecondOfTheDoneSignal) {
    ScaledClock realTime{1.0};
    ManualResetEvent done;
    CFirmUpload w(services(), realTime, FirmDialogMode::CheckWait,
                  [&done](Millis d) { return done.waitFor(d); });
    EXPECT_EQ(w.mode(), FirmDialogMode::CheckWait);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("F/W Update"));
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("In progress...\nPlease wait."));
    for (int id : {kIdFirmExecute, kIdFirmCancelClose, kIdFirmCameraNo, kIdFirmCameraNoLabel,
                   kIdFirmStatusLabel})
        EXPECT_TRUE(w.control(id)->isHidden()) << id;
    QSignalSpy finished(&w, &QDialog::finished);
    w.show();
    EXPECT_EQ(w.timerInterval(kFirmBarTimerId), 500);
    pressKeys(&w);
    EXPECT_FALSE(w.close());
    QTest::qWait(600);
    EXPECT_TRUE(w.isVisible());
    QElapsedTimer sinceDone;
    std::thread job([&] {
        done.set();
        sinceDone.start();
    });
    job.join();
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 3000);
    EXPECT_LT(sinceDone.elapsed(), 800);  // one 500 ms tick and some slack for a busy machine
    EXPECT_EQ(w.progressBar()->value(), 100);
    EXPECT_FALSE(w.timerRunning(kFirmBarTimerId));
}

TEST_F(FirmDialogTest, ResetModeWaitsOnAnyDoneCheck) {
    std::atomic<bool> resetOver{false};
    int polls = 0;
    CFirmUpload w(services(), clock, FirmDialogMode::ResetWait, [&](Millis) {
        ++polls;
        return resetOver.load();
    });
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Factory Default"));
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("In progress...\nPlease wait."));
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(polls >= 5, 2000);
    EXPECT_TRUE(w.isVisible());
    resetOver = true;
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
    const int after = polls;
    QTest::qWait(30);
    EXPECT_EQ(polls, after);
}

}  // namespace
}  // namespace lanrove::ui::testing
