#include "ui/firmware_update_dialog.h"

#include <algorithm>
#include <string>

#include "ui/dialog_units.h"
#include "ui/progress_steps.h"

namespace lanrove::ui {

namespace {

constexpr const char16_t* kSection = u"FIRMUP_WINDOW";

// Upload statuses during which a camera counts as in progress.
bool uploadInProgress(std::uint16_t status) {
    switch (status) {
        case 4098:
        case 4100:
        case 4101:
        case 4104:
        case 4105:
        case 4106:
            return true;
        default:
            return false;
    }
}

// An update-ready camera that the upload run has not taken up yet (0) or has taken into a
// slot but not started (4097). The slots are not busy meanwhile: between two cameras a slot
// is free while the run queries the next camera.
bool uploadOutstanding(std::uint16_t status) {
    return status == 0 || status == 4097;
}

constexpr std::uint16_t kFirmUpdateReady = 4608;

// Statuses a camera's update ends in.
bool uploadFinished(std::uint16_t status) {
    switch (status) {
        case 4107:  // completed
        case 4108:  // sent, not verified
        case 4351:  // cancelled
        case 4352:  // skipped
        case 8192:  // check error
        case 8193:  // no file
        case 8194:  // failed
        case 8196:  // error
            return true;
        default:
            return false;
    }
}

}  // namespace

CFirmUpload::CFirmUpload(DialogServices services, const Clock& clock, FirmDialogMode mode,
                         QWidget* parent)
    : SettingDialog(services, parent), m_clock(clock), m_mode(mode) {
    setObjectName(QStringLiteral("firmUpload"));
    connect(&m_barTimer, &QTimer::timeout, this, &CFirmUpload::onBarTick);
    connect(&m_startTimer, &QTimer::timeout, this, &CFirmUpload::onStartTick);
    connect(&m_progressTimer, &QTimer::timeout, this, &CFirmUpload::onProgressTick);
    m_settleTimer.setSingleShot(true);
    connect(&m_settleTimer, &QTimer::timeout, this, [this] {
        runTimer(m_progressTimer, kFirmProgressMs);
        if (!m_bCancelRequested) m_pCancelClose->setEnabled(true);
    });
}

CFirmUpload::CFirmUpload(DialogServices services, const Clock& clock, FirmUpdateRun run,
                         QWidget* parent)
    : CFirmUpload(services, clock, FirmDialogMode::Update, parent) {
    m_pControl = &run.control;
    m_pEvents = &run.events;
    m_fnRefreshRow = std::move(run.refreshRow);
    m_fnRefreshAll = std::move(run.refreshAllRows);
    m_fnShowStage = std::move(run.showStage);
    buildControls();
}

CFirmUpload::CFirmUpload(DialogServices services, const Clock& clock, FirmDialogMode waitMode,
                         FirmDoneWait done, QWidget* parent)
    : CFirmUpload(services, clock,
                  waitMode == FirmDialogMode::Update ? FirmDialogMode::CheckWait : waitMode,
                  parent) {
    m_fnDone = std::move(done);
    buildControls();
}

CFirmUpload::~CFirmUpload() {
    stopTimers();
}

void CFirmUpload::buildControls() {
    const DialogUnits du(font());
    QSize size = du.size(185, 76);
    auto label = [this, &du](int id, int x, int y, int w, int h) {
        auto* l = new QLabel(this);
        l->setObjectName(QStringLiteral("control%1").arg(id));
        l->setGeometry(du.rect(x, y, w, h));
        addControl(id, l);
        return l;
    };
    m_pCameraNoLabel = label(kIdFirmCameraNoLabel, 11, 9, 40, 8);
    m_pCameraNo = label(kIdFirmCameraNo, 53, 9, 43, 8);
    m_pStatusLabel = label(kIdFirmStatusLabel, 11, 19, 40, 8);
    m_pMessage = label(kIdFirmMessage, 53, 19, 120, 19);
    m_pMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pMessage->setWordWrap(true);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("progress"));
    m_pProgress->setGeometry(du.rect(10, 41, 165, 12));
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    addControl(kIdFirmProgress, m_pProgress);
    auto button = [this, &du](int id, int x) {
        auto* b = new QPushButton(this);
        b->setObjectName(QStringLiteral("control%1").arg(id));
        b->setGeometry(du.rect(x, 57, 54, 11));
        b->setMinimumHeight(b->sizeHint().height());
        b->move(b->x(), du.y(57) - (b->height() - du.y(11)) / 2);
        b->setAutoDefault(false);
        addControl(id, b);
        return b;
    };
    m_pExecute = button(kIdFirmExecute, 34);
    m_pCancelClose = button(kIdFirmCancelClose, 101);
    connect(m_pExecute, &QPushButton::clicked, this, &CFirmUpload::onExecute);
    connect(m_pCancelClose, &QPushButton::clicked, this, &CFirmUpload::onCancelClose);

    setWindowTitle(text(kSection, u"FIRMUP_TITLE"));
    m_pCameraNoLabel->setText(text(kSection, u"FIRMUP_CAMNO"));
    m_pStatusLabel->setText(text(kSection, u"FIRMUP_STS"));
    m_pExecute->setText(text(kSection, u"FIRMUP_EXECUTE"));
    m_pCancelClose->setText(text(kSection, u"FIRMUP_CLOSE"));
    m_pMessage->setText(text(kSection, u"FIRMUP_MSG01"));

    auto up = [](QWidget* w, int pixels) { w->move(w->x(), w->y() - pixels); };
    if (m_mode == FirmDialogMode::Update) {
        m_pCameraNoLabel->hide();
        m_pCameraNo->hide();
        m_pCameraNo->clear();
        size.rheight() -= du.y(12);
        for (QWidget* w : {static_cast<QWidget*>(m_pStatusLabel), static_cast<QWidget*>(m_pMessage),
                           static_cast<QWidget*>(m_pProgress)})
            up(w, du.y(15));
        up(m_pExecute, du.y(12));
        up(m_pCancelClose, du.y(12));
    } else {
        for (QWidget* w :
             {static_cast<QWidget*>(m_pCameraNoLabel), static_cast<QWidget*>(m_pCameraNo),
              static_cast<QWidget*>(m_pExecute), static_cast<QWidget*>(m_pCancelClose),
              static_cast<QWidget*>(m_pStatusLabel)})
            w->hide();
        const bool check = m_mode == FirmDialogMode::CheckWait;
        setWindowTitle(check ? text(u"FIRMCHECK_WINDOW", u"FIRMCHECK_TITLE")
                             : text(u"RESET_SETTING_WINDOW", u"RESET_TITLE"));
        m_pMessage->setText(check ? text(u"FIRMCHECK_WINDOW", u"SLEEP_MSG")
                                  : text(u"RESET_SETTING_WINDOW", u"SLEEP_MSG"));
        size.rheight() -= du.y(31);
        // The message moves to the bar's left edge and up into the space of the hidden row.
        m_pMessage->setGeometry(du.rect(10, 4, 165, 19));
        up(m_pProgress, du.y(15));
    }
    setFixedSize(size);
}

void CFirmUpload::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_bShown) return;
    m_bShown = true;
    // The wait modes run their bar and done poll from the start; the update waits for Execute.
    if (m_mode != FirmDialogMode::Update) runTimer(m_barTimer, kFirmBarMs);
}

void CFirmUpload::runTimer(QTimer& timer, long protocolMs) {
    timer.start(static_cast<int>(m_clock.scaledMs(protocolMs)));
}

bool CFirmUpload::timerRunning(int id) const {
    switch (id) {
        case kFirmBarTimerId:
            return m_barTimer.isActive();
        case kFirmStartTimerId:
            return m_startTimer.isActive();
        case kFirmProgressTimerId:
            return m_progressTimer.isActive();
        default:
            return false;
    }
}

int CFirmUpload::timerInterval(int id) const {
    switch (id) {
        case kFirmBarTimerId:
            return m_barTimer.interval();
        case kFirmStartTimerId:
            return m_startTimer.interval();
        case kFirmProgressTimerId:
            return m_progressTimer.interval();
        default:
            return 0;
    }
}

void CFirmUpload::stopTimers() {
    m_barTimer.stop();
    m_progressTimer.stop();
    m_startTimer.stop();
    m_settleTimer.stop();
}

void CFirmUpload::closeWith(int result) {
    stopTimers();
    finish(result);
}

void CFirmUpload::onExecute() {
    if (m_mode != FirmDialogMode::Update || !m_pExecute->isEnabled()) return;
    m_bCancelRequested = false;
    m_pExecute->setEnabled(false);
    m_pCancelClose->setText(text(kSection, u"FIRMUP_CANCEL"));
    stopTimers();
    m_pCancelClose->setEnabled(false);
    m_bUploadRunning = false;
    runTimer(m_barTimer, kFirmBarMs);
    m_bUpdateStarted = false;
    runTimer(m_startTimer, kFirmStartFirstMs);
    m_pMessage->setText(text(kSection, u"FIRMUP_MSG04"));
}

void CFirmUpload::onCancelClose() {
    if (m_pExecute->isEnabled() || m_mode != FirmDialogMode::Update) {
        closeWith(QDialog::Rejected);
        return;
    }
    m_pCancelClose->setEnabled(false);
    m_pMessage->setText(text(kSection, u"FIRMUP_CANCELMSG"));
    m_pControl->requestUploadStop();
    m_bCancelRequested = true;
}

void CFirmUpload::abandon() {
    if (m_mode != FirmDialogMode::Update || m_pExecute->isEnabled()) {
        closeWith(QDialog::Rejected);
        return;
    }
    if (!m_bUploadRunning) {
        // Still in the check before the upload: nothing to cancel yet.
        m_bCancelRequested = true;
        closeWith(QDialog::Rejected);
        return;
    }
    // The upload goes as by Cancel; the dialog closes when no camera is in progress.
    if (!m_bCancelRequested) {
        m_pCancelClose->setEnabled(true);
        onCancelClose();
    }
}

void CFirmUpload::onBarTick() {
    creepProgressBar(*m_pProgress, m_nProgress);
    if (m_mode == FirmDialogMode::Update || !m_fnDone) return;
    if (m_fnDone(kFirmDonePoll)) {
        m_pProgress->setValue(100);
        closeWith(QDialog::Accepted);
    }
}

void CFirmUpload::onStartTick() {
    if (!m_bUpdateStarted) {
        runTimer(m_startTimer, kFirmStartPollMs);
        if (!m_pControl->startFirmCheck(*m_pEvents))
            m_services.log.trace(1, "FirmUpload Firm Check Start Error.");
        m_bUpdateStarted = true;
        return;
    }
    if (m_pControl->firmCheckRunning()) return;
    m_startTimer.stop();
    const long result = m_pControl->startUpload(*m_pEvents);
    emit uploadStarted(result);
    if (result != 0) {
        // Nothing was started: say so and let the user close, rather than follow a run that
        // does not exist and call it completed.
        m_barTimer.stop();
        m_pProgress->setValue(0);
        QString message = text(kSection, u"FIRMUP_ERRMSG");
        message.replace(QLatin1String("%d"), QString::number(result));
        m_pMessage->setText(message);
        m_services.log.event("Firmware upload could not be started", "err", std::to_string(result));
        m_pExecute->setEnabled(true);
        m_pCancelClose->setText(text(kSection, u"FIRMUP_CLOSE"));
        m_pCancelClose->setEnabled(true);
        return;
    }
    m_bUploadRunning = true;
    // From here the bar counts cameras done of cameras to do instead of creeping.
    m_barTimer.stop();
    m_nProgress = 0;
    m_pProgress->setValue(0);
    m_tracked.clear();
    m_settleTimer.start(static_cast<int>(m_clock.scaledMs(kFirmUploadSettleMs)));
}

QString CFirmUpload::stageText(const FirmwareProgress& p) const {
    auto t = [this](const char16_t* key) { return text(kSection, key); };
    QString stage;
    switch (p.uploadStatus) {
        case 0:
        case 4097:
        case 4099:
            stage = t(u"STAGE_WAITING");
            break;
        case 4098:
            stage = t(u"STAGE_PREPARING");
            break;
        case 4100: {
            const int percent = p.totalBytes == 0
                                    ? 0
                                    : static_cast<int>(std::min<std::uint64_t>(
                                          100, std::uint64_t{p.sentBytes} * 100 / p.totalBytes));
            stage = t(u"STAGE_SENDING").replace(QStringLiteral("%1"), QString::number(percent));
            break;
        }
        case 4101:
            stage = t(u"STAGE_WRITING");
            break;
        case 4104:
            stage = t(u"STAGE_RESTARTING");
            break;
        case 4105:
        case 4106:
            stage = t(u"STAGE_BACK");
            break;
        default:
            return {};
    }
    if (p.retries > 0)
        stage += QStringLiteral(", ") +
                 t(u"STAGE_RETRY").replace(QStringLiteral("%1"), QString::number(p.retries));
    return stage;
}

FirmRunSummary CFirmUpload::summary() const {
    FirmRunSummary s;
    if (m_pControl == nullptr) return s;
    s.toDo = static_cast<int>(m_tracked.size());
    for (int i : m_tracked) {
        const std::uint16_t status = m_pControl->firmProgress(i).uploadStatus;
        if (status == 4107)
            ++s.completed;
        else if (status == 4108)
            ++s.notVerified;
        else if (uploadFinished(status))
            ++s.failed;
    }
    return s;
}

void CFirmUpload::onProgressTick() {
    int inProgress = 0;
    int outstanding = 0;
    int done = 0;
    QString message;
    const int count = std::min(m_pControl->firmRecordCount(), static_cast<int>(kCameraTableSize));
    for (int i = 0; i < count; ++i) {
        const FirmwareProgress p = m_pControl->firmProgress(i);
        const bool tracked = std::find(m_tracked.begin(), m_tracked.end(), i) != m_tracked.end();
        if (p.firmStatus != kFirmUpdateReady && !tracked) continue;
        if (!tracked) m_tracked.push_back(i);
        if (uploadInProgress(p.uploadStatus)) {
            ++inProgress;
            message = text(kSection, u"FIRMUP_MSG04");
        } else if (uploadOutstanding(p.uploadStatus)) {
            ++outstanding;
        } else if (uploadFinished(p.uploadStatus)) {
            ++done;
        }
        if (m_fnRefreshRow) m_fnRefreshRow(i);
        if (m_fnShowStage) m_fnShowStage(i, stageText(p));
    }
    // Cameras done of cameras to do.
    const int toDo = static_cast<int>(m_tracked.size());
    m_nProgress = toDo == 0 ? 0 : done * 100 / toDo;
    const bool busy = m_pControl->anySlotBusy();
    if (!m_bCancelRequested && inProgress == 0 && outstanding == 0 && !busy) {
        stopTimers();
        m_nProgress = 100;
        m_pProgress->setValue(m_nProgress);
        if (m_fnRefreshAll) m_fnRefreshAll();
        m_pMessage->setText(text(kSection, u"FIRMUP_MSG06"));
        m_pExecute->setEnabled(true);
        m_pCancelClose->setText(text(kSection, u"FIRMUP_CLOSE"));
        m_bUploadRunning = false;
        showSummary();
        closeWith(QDialog::Accepted);
        return;
    }
    if (m_nProgress <= 100) m_pProgress->setValue(m_nProgress);
    if (!m_bCancelRequested && !message.isEmpty()) m_pMessage->setText(message);
    if (m_bCancelRequested && inProgress == 0 && !busy) {
        m_bUploadRunning = false;
        showSummary();
        closeWith(QDialog::Rejected);
    }
}

void CFirmUpload::showSummary() {
    const FirmRunSummary s = summary();
    if (s.toDo == 0) return;
    const QString line = text(kSection, u"FIRMUP_SUMMARY")
                             .replace(QStringLiteral("%1"), QString::number(s.completed))
                             .replace(QStringLiteral("%2"), QString::number(s.failed))
                             .replace(QStringLiteral("%3"), QString::number(s.notVerified))
                             .replace(QStringLiteral("%4"), QString::number(s.toDo));
    m_services.log.event(line.toStdString(), s.failed > 0 ? "warn" : "info", "firmware");
    m_services.messages.show(this, s.failed > 0 ? BoxIcon::Warning : BoxIcon::Information,
                             text(kSection, u"FIRMUP_TITLE"), line, BoxButtons::Ok);
}

}  // namespace lanrove::ui
