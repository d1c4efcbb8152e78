#pragma once
// The firmware window in one of its wait-only modes (the factory reset's wait, later the F/W
// check's): a title, a please-wait message and a creeping progress bar, with no buttons. Its
// timer moves the bar every 500 ms and looks at the background job's done event; once the
// event is set the bar shows 100 and the window closes itself. Enter and Esc do nothing, and
// the window refuses every close but its own.

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <functional>

#include "support/clock.h"

namespace lanrove::ui {

inline constexpr int kWaitTimerId = 200;
inline constexpr long kWaitTickMs = 500;
// How long one tick waits for the done event.
inline constexpr Millis kWaitDoneLook{10};
inline constexpr int kWaitMessageId = 1071;
inline constexpr int kWaitProgressId = 1006;

class WaitWindow final : public QDialog {
    Q_OBJECT
  public:
    // `waitDone(d)` waits up to the real duration `d` for the done event; true when it is set.
    WaitWindow(const QString& title, const QString& message, const Clock& clock,
               std::function<bool(Millis)> waitDone, QWidget* parent = nullptr);
    ~WaitWindow() override;

    QLabel* message() const { return m_pMessage; }
    QProgressBar* progressBar() const { return m_pProgress; }
    // Timer 200 while it runs, else 0.
    int timerId() const { return m_nTimer; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void onTick();

    const Clock& m_clock;
    std::function<bool(Millis)> m_waitDone;
    QLabel* m_pMessage;
    QProgressBar* m_pProgress;
    QTimer m_timer;
    int m_nTimer = 0;
    int m_nProgress = 0;
    bool m_bClosingByProgram = false;
};

}  // namespace lanrove::ui
