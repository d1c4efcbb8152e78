#pragma once
// The firmware dialog. In its update mode the user presses Execute: a firmware check of every
// camera runs first, then the upload run, whose progress the dialog follows from the camera
// records until every camera has ended (or a Cancel has been honoured). In its two wait modes
// (the F/W check run, the factory-default reset) it shows a please-wait message with a creeping
// bar and closes itself once the job reports that it has finished. It cannot be closed from the
// title bar, and Enter and Esc do nothing.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/firmware_control.h"
#include "support/clock.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui {

// Timers: the creeping bar (and the done poll of the wait modes), the start of the check and
// then of the upload, and the progress of the upload.
inline constexpr int kFirmBarTimerId = 200;
inline constexpr long kFirmBarMs = 500;
inline constexpr int kFirmStartTimerId = 100;
inline constexpr long kFirmStartFirstMs = 1000;
inline constexpr long kFirmStartPollMs = 10000;
inline constexpr int kFirmProgressTimerId = 300;
inline constexpr long kFirmProgressMs = 1000;
// Pause between starting the upload run and following its progress.
inline constexpr long kFirmUploadSettleMs = 1000;
// How long one poll of a wait mode waits for the job's done signal.
inline constexpr Millis kFirmDonePoll{10};

enum FirmDialogControlId : int {
    kIdFirmProgress = 1006,
    kIdFirmExecute = 1068,
    kIdFirmCameraNo = 1069,
    kIdFirmMessage = 1071,
    kIdFirmCameraNoLabel = 1072,
    kIdFirmStatusLabel = 1073,
    kIdFirmCancelClose = 1074,
};

enum class FirmDialogMode : std::uint16_t { Update = 0, CheckWait = 1, ResetWait = 2 };

// Waits up to the given time for the job of a wait mode; true once it has finished.
using FirmDoneWait = std::function<bool(Millis)>;

// What the update mode drives, and where it has list rows refreshed.
struct FirmUpdateRun {
    FirmwareControl& control;
    FirmwareEvents& events;
    std::function<void(int recordIndex)> refreshRow;
    // Every row in the update's list mode, after the run has ended.
    std::function<void()> refreshAllRows;
    // Where a camera's update stands beside its status text ("sending 45%", "retry 1"); an
    // empty text once it has ended.
    std::function<void(int recordIndex, const QString& stage)> showStage = {};
};

// What a run did to the cameras it had to update.
struct FirmRunSummary {
    int completed = 0;
    int notVerified = 0;
    int failed = 0;
    int toDo = 0;
};

class CFirmUpload final : public SettingDialog {
    Q_OBJECT
  public:
    // The update mode.
    CFirmUpload(DialogServices services, const Clock& clock, FirmUpdateRun run,
                QWidget* parent = nullptr);
    // A wait mode (CheckWait or ResetWait).
    CFirmUpload(DialogServices services, const Clock& clock, FirmDialogMode waitMode,
                FirmDoneWait done, QWidget* parent = nullptr);
    ~CFirmUpload() override;

    FirmDialogMode mode() const { return m_mode; }
    QPushButton* executeButton() const { return m_pExecute; }
    QPushButton* cancelCloseButton() const { return m_pCancelClose; }
    QLabel* messageLabel() const { return m_pMessage; }
    QProgressBar* progressBar() const { return m_pProgress; }
    bool cancelRequested() const { return m_bCancelRequested; }
    bool updateStarted() const { return m_bUpdateStarted; }
    // The cameras of the run so far: finished ones by outcome, and how many it has to do.
    FirmRunSummary summary() const;
    // A camera's stage text from its progress ("" once it has ended).
    QString stageText(const FirmwareProgress& progress) const;
    // Whether the timer with that id (100, 200, 300) runs, and its real interval.
    bool timerRunning(int id) const;
    int timerInterval(int id) const;

    // The program is ending: an idle dialog closes, a running update is cancelled.
    void abandon() override;

  public slots:
    void onExecute();
    void onCancelClose();

  signals:
    // The upload run was started (or failed to start) after the check.
    void uploadStarted(long result);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    CFirmUpload(DialogServices services, const Clock& clock, FirmDialogMode mode, QWidget* parent);
    void buildControls();
    void onBarTick();
    void onStartTick();
    void onProgressTick();
    void stopTimers();
    void runTimer(QTimer& timer, long protocolMs);
    void closeWith(int result);
    // The run's outcome in a box before the window closes (and as an event line).
    void showSummary();

    const Clock& m_clock;
    FirmDialogMode m_mode;
    FirmwareControl* m_pControl = nullptr;
    FirmwareEvents* m_pEvents = nullptr;
    std::function<void(int)> m_fnRefreshRow;
    std::function<void()> m_fnRefreshAll;
    std::function<void(int, const QString&)> m_fnShowStage;
    FirmDoneWait m_fnDone;
    std::vector<int> m_tracked;  // records the upload run has to do, in table order

    QLabel* m_pCameraNoLabel = nullptr;
    QLabel* m_pCameraNo = nullptr;
    QLabel* m_pStatusLabel = nullptr;
    QLabel* m_pMessage = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QPushButton* m_pExecute = nullptr;
    QPushButton* m_pCancelClose = nullptr;

    QTimer m_barTimer;
    QTimer m_startTimer;
    QTimer m_progressTimer;
    QTimer m_settleTimer;
    int m_nProgress = 0;
    bool m_bCancelRequested = false;
    bool m_bUpdateStarted = false;
    bool m_bUploadRunning = false;
    bool m_bShown = false;
};

}  // namespace lanrove::ui
