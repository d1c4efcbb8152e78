#pragma once
// The progress window of a settings run: modal while the run's workers work, with a creeping
// progress bar and a Cancel button. Its timers drive the run: once at the start the probe
// (automatic mode), every second the progress step that ends the window when the run is over,
// and after Cancel every second the cancel step until both workers have ended. It cannot be
// closed otherwise while the run is on.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "runs/settings_run.h"
#include "support/clock.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui {

inline constexpr int kStsProgressTimerId = 200;
inline constexpr long kStsProgressMs = 1000;
inline constexpr int kStsCancelTimerId = 300;
inline constexpr long kStsCancelMs = 1000;
inline constexpr int kStsProbeTimerId = 400;
inline constexpr int kStsProgressId = 1006;
inline constexpr int kStsCancelId = 1039;
inline constexpr int kStsMessageId = 1053;

// The steps of one run as the window calls them (SettingsRun has the same ones).
class SettingsRunSteps {
  public:
    virtual ~SettingsRunSteps() = default;
    virtual bool automatic() const = 0;
    virtual void begin() = 0;
    virtual void startProbe() = 0;
    virtual bool progressTick() = 0;
    virtual void cancel() = 0;
    virtual bool cancelTick() = 0;
};

// The steps of a core run.
class CoreRunSteps final : public SettingsRunSteps {
  public:
    explicit CoreRunSteps(SettingsRun& run) : m_run(run) {}
    bool automatic() const override { return m_run.mode() == RunMode::Auto; }
    void begin() override { m_run.begin(); }
    void startProbe() override { m_run.startProbe(); }
    bool progressTick() override { return m_run.progressTick(); }
    void cancel() override { m_run.cancel(); }
    bool cancelTick() override { return m_run.cancelTick(); }

  private:
    SettingsRun& m_run;
};

class CStsChangeMessage final : public SettingDialog {
    Q_OBJECT
  public:
    CStsChangeMessage(DialogServices services, SettingsRunSteps& steps, const Clock& clock,
                      QWidget* parent = nullptr);
    ~CStsChangeMessage() override;

    QProgressBar* progressBar() const { return m_pProgress; }
    QPushButton* cancelButton() const { return m_pCancel; }
    QLabel* messageLabel() const { return m_pMessage; }
    // The bar position the next progress tick shows.
    int nextProgress() const { return m_nProgress; }
    // kStsCancelTimerId while the cancel timer runs, else 0.
    int cancelTimer() const { return m_nCancelTimer; }
    bool progressTimerActive() const { return m_progressTimer.isActive(); }

    // Cancels the run (once); the window closes when both workers have ended.
    void abandon() override;

  public slots:
    void onCancel();

  signals:
    // The run was begun (the window is showing).
    void runStarted();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void onProgressTick();
    void onCancelTick();
    void setWaitCursor(bool on);

    SettingsRunSteps& m_steps;
    const Clock& m_clock;
    QLabel* m_pMessage;
    QProgressBar* m_pProgress;
    QPushButton* m_pCancel;
    QTimer m_progressTimer;
    QTimer m_cancelTimer;
    QTimer m_probeTimer;
    int m_nProgress = 0;
    int m_nCancelTimer = 0;
    bool m_bStarted = false;
    bool m_bWaitCursor = false;
};

}  // namespace lanrove::ui
