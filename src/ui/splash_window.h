#pragma once
// The splash: a small borderless white window with the logo and the product name that covers
// the main window's initialisation. It polls the ready event and closes itself once the event
// is set; nothing else closes it.

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "app/lang_table.h"
#include "support/clock.h"

namespace lanrove::ui {

inline constexpr long kSplashPollMs = 100;

class SplashWindow final : public QWidget {
    Q_OBJECT
  public:
    // `ready` may be null: the splash then closes at its first tick.
    SplashWindow(const LangTable& appTexts, const ManualResetEvent* ready, const Clock& clock,
                 QWidget* parent = nullptr);

    QString subTitle() const { return m_pText->text(); }
    bool closedByReady() const { return m_bEnded; }

  signals:
    void ended();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void onTick();

    const ManualResetEvent* m_pReady;
    QTimer m_timer;
    QLabel* m_pText;
    QRect m_logoRect;
    bool m_bEnded = false;
};

}  // namespace lanrove::ui
