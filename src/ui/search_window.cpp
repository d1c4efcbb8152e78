#include "ui/search_window.h"

#include <QApplication>
#include <QCloseEvent>

#include "ui/dialog_units.h"
#include "ui/key_guard.h"
#include "ui/progress_steps.h"

namespace lanrove::ui {

SearchWindow::SearchWindow(SetupCore& core, SearchEvents& events, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      m_core(core),
      m_events(events) {
    setModal(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    new KeyGuard(this);
    QFont bigger = font();
    bigger.setPointSizeF(11);
    setFont(bigger);
    const DialogUnits du(bigger);
    setFixedSize(du.size(185, 65));

    // Without the close hint the title bar offers no Close: the search ends by itself or by
    // Cancel.
    setWindowTitle(QString::fromStdU16String(core.text(u"SEARCH_WINDOW", u"SEARCH_TITLE")));
    m_pLabel = new QLabel(this);
    m_pLabel->setGeometry(du.rect(10, 9, 165, 10));
    m_pLabel->setText(QString::fromStdU16String(core.text(u"SEARCH_WINDOW", u"SEARCH_SEARCHING")));
    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("progress"));
    m_pProgress->setGeometry(du.rect(10, 25, 165, 11));
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    m_pCancel = new QPushButton(this);
    m_pCancel->setObjectName(QStringLiteral("cancel"));
    m_pCancel->setGeometry(du.rect(65, 44, 54, 11));
    m_pCancel->setMinimumHeight(m_pCancel->sizeHint().height());
    m_pCancel->move(m_pCancel->x(), du.y(44) - (m_pCancel->height() - du.y(11)) / 2);
    m_pCancel->setText(QString::fromStdU16String(core.text(u"SEARCH_WINDOW", u"SEARCH_CANCEL")));
    m_pCancel->setAutoDefault(false);
    connect(m_pCancel, &QPushButton::clicked, this, &SearchWindow::onCancel);

    connect(&m_pollTimer, &QTimer::timeout, this, &SearchWindow::onPollTick);
    connect(&m_cancelTimer, &QTimer::timeout, this, &SearchWindow::onCancelTick);
}

SearchWindow::~SearchWindow() {
    stopTimers();
    setWaitCursor(false);
}

void SearchWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_bStarted) return;
    m_bStarted = true;
    m_nProgress = 0;
    m_nPollTimer = 0;
    m_nCancelTimer = 0;
    m_core.startSearch(m_events);
    m_pollTimer.start(static_cast<int>(m_core.clock().scaledMs(kSearchWindowPollMs)));
    m_nPollTimer = kSearchPollTimerId;
    emit searchStarted();
}

bool SearchWindow::workerStillRunning() const {
    return m_core.searchRunning() && !m_core.waitSearchEnd(Millis(10));
}

void SearchWindow::stopTimers() {
    m_pollTimer.stop();
    m_nPollTimer = 0;
    m_cancelTimer.stop();
    m_nCancelTimer = 0;
}

void SearchWindow::setWaitCursor(bool on) {
    setOverrideWaitCursor(m_bWaitCursor, on);
}

void SearchWindow::onPollTick() {
    if (m_core.searchEnded() && m_nCancelTimer != kSearchCancelTimerId) {
        if (workerStillRunning()) {
            m_core.log().traceText(1, "CameraSearch(1) Thread Stop Error.");
        } else {
            stopTimers();
            m_core.store().m_bStop = 1;
            m_bClosingByProgram = true;
            done(1);
            return;
        }
    }
    creepProgressBar(*m_pProgress, m_nProgress);
}

void SearchWindow::onCancelTick() {
    if (workerStillRunning()) {
        m_core.log().traceText(1, "CameraSearch(2) Thread Stop Error.");
        return;
    }
    stopTimers();
    setWaitCursor(false);
    m_bClosingByProgram = true;
    done(1);
}

void SearchWindow::onCancel() {
    m_core.cancelSearch();
    m_pCancel->setEnabled(false);
    if (m_nCancelTimer != kSearchCancelTimerId) {
        m_cancelTimer.start(static_cast<int>(m_core.clock().scaledMs(kSearchCancelPollMs)));
        m_nCancelTimer = kSearchCancelTimerId;
        setWaitCursor(true);
    }
    // The window takes no input for the pause after Cancel, but keeps painting.
    m_bPaused = true;
    setEnabled(false);
    QTimer::singleShot(static_cast<int>(m_core.clock().scaledMs(kSearchCancelPauseMs)), this,
                       [this] {
                           m_bPaused = false;
                           setEnabled(true);
                       });
}

void SearchWindow::closeEvent(QCloseEvent* event) {
    if (!m_bClosingByProgram) {
        // A close from the system: the search stops, the window goes at once and the worker
        // ends by itself; its reports still reach the main window.
        m_core.cancelSearch();
        stopTimers();
        setWaitCursor(false);
    }
    QDialog::closeEvent(event);
}

}  // namespace lanrove::ui
