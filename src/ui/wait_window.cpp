#include "ui/wait_window.h"

#include <QCloseEvent>

#include "ui/dialog_units.h"
#include "ui/key_guard.h"
#include "ui/progress_steps.h"

namespace lanrove::ui {

WaitWindow::WaitWindow(const QString& title, const QString& message, const Clock& clock,
                       std::function<bool(Millis)> waitDone, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      m_clock(clock),
      m_waitDone(std::move(waitDone)) {
    setObjectName(QStringLiteral("waitWindow"));
    setModal(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    new KeyGuard(this);
    const DialogUnits du(font());
    // The update mode's 185 x 76 units, less the button row and the camera-number line that
    // the wait modes hide.
    setFixedSize(du.size(185, 51));
    setWindowTitle(title);
    m_pMessage = new QLabel(this);
    m_pMessage->setObjectName(QStringLiteral("label%1").arg(kWaitMessageId));
    m_pMessage->setGeometry(du.rect(10, 6, 165, 19));
    m_pMessage->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pMessage->setText(message);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("progress"));
    m_pProgress->setGeometry(du.rect(10, 29, 165, 12));
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    connect(&m_timer, &QTimer::timeout, this, &WaitWindow::onTick);
}

WaitWindow::~WaitWindow() {
    m_timer.stop();
}

void WaitWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_nTimer != 0 || m_bClosingByProgram) return;
    m_nProgress = 0;
    m_timer.start(static_cast<int>(m_clock.scaledMs(kWaitTickMs)));
    m_nTimer = kWaitTimerId;
}

void WaitWindow::onTick() {
    creepProgressBar(*m_pProgress, m_nProgress);
    if (!m_waitDone(kWaitDoneLook)) return;
    m_pProgress->setValue(100);
    m_timer.stop();
    m_nTimer = 0;
    m_bClosingByProgram = true;
    done(QDialog::Accepted);
}

void WaitWindow::closeEvent(QCloseEvent* event) {
    // The window goes when the job is done, never earlier.
    if (!m_bClosingByProgram) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace lanrove::ui
