#include "ui/settings_progress_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/progress_steps.h"

namespace lanrove::ui {

namespace {
constexpr const char16_t* kSection = u"SETTING_WINDOW";
}

CStsChangeMessage::CStsChangeMessage(DialogServices services, SettingsRunSteps& steps,
                                     const Clock& clock, QWidget* parent)
    : SettingDialog(services, parent), m_steps(steps), m_clock(clock) {
    setObjectName(QStringLiteral("settingsProgress"));
    setWindowTitle(text(kSection, u"SETTING_TITLE"));
    m_pMessage = new QLabel(text(kSection, u"SETTING_MESSAGE"), this);
    m_pMessage->setAlignment(Qt::AlignCenter);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("progress"));
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    m_pProgress->setMinimumWidth(m_pProgress->fontMetrics().averageCharWidth() * 40);
    m_pCancel = new QPushButton(text(kSection, u"SETTING_CANCEL"), this);
    m_pCancel->setObjectName(QStringLiteral("cancel"));
    m_pCancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pCancel);
    buttons->addStretch();
    auto* column = new QVBoxLayout(this);
    column->addWidget(m_pMessage);
    column->addWidget(m_pProgress);
    column->addLayout(buttons);
    addControl(kStsMessageId, m_pMessage);
    addControl(kStsProgressId, m_pProgress);
    addControl(kStsCancelId, m_pCancel);

    m_probeTimer.setSingleShot(true);
    connect(&m_probeTimer, &QTimer::timeout, this, [this] { m_steps.startProbe(); });
    connect(&m_progressTimer, &QTimer::timeout, this, &CStsChangeMessage::onProgressTick);
    connect(&m_cancelTimer, &QTimer::timeout, this, &CStsChangeMessage::onCancelTick);
    connect(m_pCancel, &QPushButton::clicked, this, &CStsChangeMessage::onCancel);
}

CStsChangeMessage::~CStsChangeMessage() {
    m_probeTimer.stop();
    m_progressTimer.stop();
    m_cancelTimer.stop();
    setWaitCursor(false);
}

void CStsChangeMessage::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_bStarted) return;
    m_bStarted = true;
    m_nProgress = 0;
    m_nCancelTimer = 0;
    m_steps.begin();
    // Automatic mode: the probe starts from the event loop at once, so the window paints
    // first.
    if (m_steps.automatic()) m_probeTimer.start(0);
    m_progressTimer.start(static_cast<int>(m_clock.scaledMs(kStsProgressMs)));
    emit runStarted();
}

void CStsChangeMessage::setWaitCursor(bool on) {
    setOverrideWaitCursor(m_bWaitCursor, on);
}

void CStsChangeMessage::onProgressTick() {
    if (m_nCancelTimer != kStsCancelTimerId && m_steps.progressTick()) {
        m_progressTimer.stop();
        finish(QDialog::Accepted);
        return;
    }
    creepProgressBar(*m_pProgress, m_nProgress);
}

void CStsChangeMessage::onCancel() {
    m_steps.cancel();
    m_cancelTimer.stop();
    m_pCancel->setEnabled(false);
    setWaitCursor(true);
    m_cancelTimer.start(static_cast<int>(m_clock.scaledMs(kStsCancelMs)));
    m_nCancelTimer = kStsCancelTimerId;
}

void CStsChangeMessage::abandon() {
    if (m_nCancelTimer != kStsCancelTimerId) onCancel();
}

void CStsChangeMessage::onCancelTick() {
    if (!m_steps.cancelTick()) return;
    setWaitCursor(false);
    m_cancelTimer.stop();
    m_nCancelTimer = 0;
    m_progressTimer.stop();
    finish(QDialog::Accepted);
}

}  // namespace lanrove::ui
