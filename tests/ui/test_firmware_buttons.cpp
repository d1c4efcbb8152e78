// The main window's F/W Check and F/W Update buttons over fake firmware runs that work on the
// core's camera table: when they do nothing, the check's wait dialog and what its reports do to
// the list and the buttons, the update's confirmation (Enter answers No), and the buttons after
// the update dialog has closed.
#include <QMessageBox>
#include <QTimer>
#include <thread>

#include "fake_firmware_control.h"
#include "ui/firmware_update_dialog.h"
#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

class FirmButtonTest : public UiFixture {
  protected:
    MainWindow& startMaintenance(int cameras) {
        startWindow(true);
        control = std::make_unique<FakeFirmwareControl>(&core->store());
        for (int i = 0; i < cameras; ++i) {
            const std::string ip = "192.168.0." + std::to_string(20 + i);
            appendRecord(ip.c_str(), 2, 201, false);
            window->handleAddRow(i);
        }
        window->handleMarkRows(cameras);
        // As after a search.
        window->button(kIdFirmCheck)->setEnabled(true);
        return *window;
    }

    // Presses a button and hands the firmware dialog it opens to `step` once it is up.
    void press(int id, const std::function<void(CFirmUpload&)>& step) {
        QMetaObject::Connection c = QObject::connect(
            window.get(), &MainWindow::settingDialogOpened, window.get(), [&](QDialog* d) {
                auto* dialog = qobject_cast<CFirmUpload*>(d);
                ASSERT_NE(dialog, nullptr);
                ++dialogs;
                QTimer::singleShot(0, d, [step, dialog] { step(*dialog); });
                QTimer::singleShot(10000, d, [dialog] {
                    ADD_FAILURE() << "firmware dialog left open";
                    dialog->abandon();
                });
            });
        QTest::mouseClick(window->button(id), Qt::LeftButton);
        QObject::disconnect(c);
    }

    void setFirm(int index, std::uint16_t firmStatus, std::uint16_t uploadStatus) {
        control->setStatus(index, firmStatus, uploadStatus);
    }

    std::unique_ptr<FakeFirmwareControl> control;
    int dialogs = 0;
};

TEST_F(FirmButtonTest, CheckDoesNothingWithAnEmptyList) {
    startMaintenance(2);
    // The core runs the firmware runs itself.
    ASSERT_NE(window->firmwareControl(), nullptr);
    core->list().clear();
    window->useFirmwareControl(control.get());
    QTest::mouseClick(window->button(kIdFirmCheck), Qt::LeftButton);
    EXPECT_EQ(control->checkStarts, 0);
    EXPECT_EQ(logText().find("Firm File Check Set("), std::string::npos);
}

TEST_F(FirmButtonTest, CheckWaitsForTheRunAndShowsItsResultsInTheList) {
    startMaintenance(3);
    window->useFirmwareControl(control.get());
    std::thread run;
    bool closeDuringCheck = true;
    press(kIdFirmCheck, [&](CFirmUpload& d) {
        EXPECT_EQ(d.mode(), FirmDialogMode::CheckWait);
        EXPECT_EQ(control->checkStarts, 1);
        EXPECT_EQ(core->firmMode(), kFirmModeCheck);
        closeDuringCheck = window->close();
        // The run reports from its own thread.
        run = std::thread([this] {
            setFirm(0, 4608, 0);
            setFirm(1, 4610, 0);
            setFirm(2, 4609, 8192);
            for (int i = 0; i < 3; ++i)
                for (int repeat = 0; repeat < 50; ++repeat) control->events()->onFirmRowChanged(i);
            control->finishCheck(true);
        });
    });
    run.join();
    EXPECT_EQ(dialogs, 1);
    EXPECT_FALSE(closeDuringCheck);
    EXPECT_TRUE(window->closeAllowed());
    EXPECT_EQ(cellText(*window, 0, kColStatus), QStringLiteral("Update ready"));
    EXPECT_EQ(cellText(*window, 1, kColStatus), QStringLiteral("LATEST"));
    EXPECT_EQ(cellText(*window, 2, kColStatus), QStringLiteral("No firmware"));
    EXPECT_TRUE(enabled(kIdFirmUpdate));
    EXPECT_TRUE(enabled(kIdFirmCheck));
    EXPECT_NE(logText().find("Firm File Check Set("), std::string::npos);
}

TEST_F(FirmButtonTest, CheckWithNothingToInstallLeavesFirmUpdateOff) {
    startMaintenance(1);
    window->useFirmwareControl(control.get());
    window->button(kIdFirmUpdate)->setEnabled(true);
    press(kIdFirmCheck, [&](CFirmUpload&) { control->finishCheck(false); });
    EXPECT_FALSE(enabled(kIdFirmUpdate));

    // A check that cannot start opens no dialog that would wait for ever.
    control->checkStartSucceeds = false;
    press(kIdFirmCheck, [](CFirmUpload&) {});
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(control->checkStarts, 2);
    EXPECT_TRUE(window->closeAllowed());
    EXPECT_FALSE(window->settingBusy());
}

TEST_F(FirmButtonTest, AStopRequestDuringTheCheckClosesTheDialogThenTheProgram) {
    startMaintenance(1);
    window->useFirmwareControl(control.get());
    QSignalSpy finished(window.get(), &MainWindow::finished);
    press(kIdFirmCheck, [&](CFirmUpload&) { window->requestStop(); });
    EXPECT_EQ(dialogs, 1);
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 2000);
    EXPECT_EQ(finished.at(0).at(0).toInt(), 0);
}

TEST_F(FirmButtonTest, RowReportsReachTheCamerasOwnRowAfterASort) {
    startMaintenance(3);
    window->useFirmwareControl(control.get());
    core->setFirmMode(kFirmModeCheck);
    window->sortByColumn(kColNo);
    window->sortByColumn(kColNo);  // descending: record 0 is the last row
    ASSERT_EQ(cellText(*window, 2, kColNo), QStringLiteral("1"));
    setFirm(0, 4608, 0);
    window->firmwareEvents().onFirmRowChanged(0);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(*window, 2, kColStatus), QStringLiteral("Update ready"),
                              2000);
    EXPECT_NE(cellText(*window, 0, kColStatus), QStringLiteral("Update ready"));
}

TEST_F(FirmButtonTest, UpdateAsksFirstAndUnattendedAnswersNo) {
    startMaintenance(2);
    window->useFirmwareControl(control.get());
    window->button(kIdFirmUpdate)->setEnabled(true);
    QTest::mouseClick(window->button(kIdFirmUpdate), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("FIRMWARE UPDATE"));
    EXPECT_TRUE(boxes.boxes()[0].text.startsWith(
        QStringLiteral("F/W update is not available when the camera is recording")));
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(core->firmMode(), kFirmModeNormal);
    EXPECT_TRUE(enabled(kIdFirmUpdate));
    EXPECT_EQ(logText().find("Firm Upload Set("), std::string::npos);
}

TEST_F(FirmButtonTest, UpdateDialogClosedDisablesBothFirmwareButtons) {
    startMaintenance(2);
    window->useFirmwareControl(control.get());
    window->button(kIdFirmUpdate)->setEnabled(true);
    boxes.queueAnswer(BoxAnswer::Yes);
    bool closeDuringDialog = true;
    press(kIdFirmUpdate, [&](CFirmUpload& d) {
        EXPECT_EQ(d.mode(), FirmDialogMode::Update);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        closeDuringDialog = window->close();
        QTest::mouseClick(d.cancelCloseButton(), Qt::LeftButton);
    });
    EXPECT_EQ(dialogs, 1);
    EXPECT_FALSE(closeDuringDialog);
    EXPECT_EQ(control->checkStarts, 0);
    EXPECT_EQ(control->uploadStarts, 0);
    EXPECT_EQ(core->firmMode(), kFirmModeUpdate);
    EXPECT_FALSE(enabled(kIdFirmCheck));
    EXPECT_FALSE(enabled(kIdFirmUpdate));
    EXPECT_TRUE(window->closeAllowed());
    EXPECT_NE(logText().find("Firm Upload Set("), std::string::npos);
}

TEST_F(FirmButtonTest, FinishedUpdateShowsEveryRowInItsUploadStatus) {
    startMaintenance(3);
    window->useFirmwareControl(control.get());
    window->button(kIdFirmUpdate)->setEnabled(true);
    boxes.queueAnswer(BoxAnswer::Yes);
    setFirm(0, 4608, 4107);
    setFirm(1, 4610, 0);
    setFirm(2, 4608, 8194);
    press(kIdFirmUpdate, [&](CFirmUpload& d) {
        QTest::mouseClick(d.executeButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(control->checkStarts == 1, 2000);
        control->finishCheck(true);
    });
    EXPECT_EQ(control->uploadStarts, 1);
    EXPECT_EQ(cellText(*window, 0, kColStatus), QStringLiteral("Completed"));
    EXPECT_EQ(cellText(*window, 2, kColStatus), QStringLiteral("Failed"));
    EXPECT_FALSE(enabled(kIdFirmUpdate));
}

// During the update the list's rows show each camera's stage beside its status text, and the
// stages are gone once the dialog has closed.
TEST_F(FirmButtonTest, RowsShowTheStageBesideTheStatusDuringTheUpdate) {
    startMaintenance(2);
    window->useFirmwareControl(control.get());
    window->button(kIdFirmUpdate)->setEnabled(true);
    boxes.queueAnswer(BoxAnswer::Yes);
    setFirm(0, 4608, 4101);
    setFirm(1, 4608, 0);
    control->slotBusy = true;
    QString writing, waiting;
    press(kIdFirmUpdate, [&](CFirmUpload& d) {
        QTest::mouseClick(d.executeButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(control->checkStarts == 1, 2000);
        control->finishCheck(true);
        QTRY_VERIFY_WITH_TIMEOUT(
            window->model()->index(0, kColStatus).data().toString().contains("writing"), 3000);
        writing = window->model()->index(0, kColStatus).data().toString();
        waiting = window->model()->index(1, kColStatus).data().toString();
        setFirm(0, 4608, 4107);
        setFirm(1, 4608, 4107);
        control->slotBusy = false;
    });
    EXPECT_TRUE(writing.endsWith(QStringLiteral(" \u00b7 writing"))) << writing.toStdString();
    EXPECT_TRUE(waiting.endsWith(QStringLiteral(" \u00b7 waiting for its turn")))
        << waiting.toStdString();
    EXPECT_EQ(window->model()->index(0, kColStatus).data().toString(), QStringLiteral("Completed"));
}

TEST(FirmConfirmBox, EnterAnswersNo) {
    QtMessageLayer layer;
    bool defaultIsNo = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(layer.show(nullptr, BoxIcon::NoIcon, QStringLiteral("t"), QStringLiteral("q"),
                         BoxButtons::YesNoDefaultNo),
              BoxAnswer::No);
    EXPECT_TRUE(defaultIsNo);
}

}  // namespace
}  // namespace lanrove::ui::testing
