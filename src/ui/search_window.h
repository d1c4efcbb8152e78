#pragma once
// The search window: modal while the search worker runs, with a creeping progress bar and a
// Cancel button. It closes itself on the first poll tick after the worker has ended.

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/setup_core.h"
#include "discovery/search_events.h"

namespace lanrove::ui {

inline constexpr int kSearchPollTimerId = 200;
inline constexpr long kSearchWindowPollMs = 1000;
inline constexpr int kSearchCancelTimerId = 300;
inline constexpr long kSearchCancelPollMs = 5000;
inline constexpr long kSearchCancelPauseMs = 4000;
inline constexpr int kSearchProgressId = 1006;
inline constexpr int kSearchCancelId = 1007;

class SearchWindow final : public QDialog {
    Q_OBJECT
  public:
    SearchWindow(SetupCore& core, SearchEvents& events, QWidget* parent = nullptr);
    ~SearchWindow() override;

    QProgressBar* progressBar() const { return m_pProgress; }
    QPushButton* cancelButton() const { return m_pCancel; }
    QLabel* label() const { return m_pLabel; }
    int nextProgress() const { return m_nProgress; }
    int pollTimer() const { return m_nPollTimer; }
    int cancelTimer() const { return m_nCancelTimer; }
    bool pausedAfterCancel() const { return m_bPaused; }

  public slots:
    void onCancel();

  signals:
    // The worker was started (the window is showing).
    void searchStarted();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void onPollTick();
    void onCancelTick();
    void stopTimers();
    bool workerStillRunning() const;
    void setWaitCursor(bool on);

    SetupCore& m_core;
    SearchEvents& m_events;
    QLabel* m_pLabel;
    QProgressBar* m_pProgress;
    QPushButton* m_pCancel;
    QTimer m_pollTimer;
    QTimer m_cancelTimer;
    int m_nProgress = 0;
    int m_nPollTimer = 0;
    int m_nCancelTimer = 0;
    bool m_bStarted = false;
    bool m_bPaused = false;
    bool m_bWaitCursor = false;
    bool m_bClosingByProgram = false;
};

}  // namespace lanrove::ui
