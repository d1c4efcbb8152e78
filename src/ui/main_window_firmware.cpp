// The main window's F/W Check and F/W Update buttons: the check run under the firmware dialog
// in its check mode, and, after the confirmation, the firmware dialog in its update mode. The
// window refuses to close from the press until the dialog has closed; rows changed by the runs
// are refreshed on the window's thread.
#include <QCoreApplication>
#include <algorithm>

#include "ui/firmware_update_dialog.h"
#include "ui/main_window.h"
#include "ui/progress_steps.h"

namespace lanrove::ui {

// Close refused and the stop request held back while a firmware button's dialog is up; a stop
// asked for meanwhile follows once it has closed.
class MainWindow::FirmwareScope {
  public:
    explicit FirmwareScope(MainWindow& w) : m_w(w), m_bCloseWas(w.m_bCloseEnabled) {
        m_w.m_bSettingBusy = true;
    }
    ~FirmwareScope() {
        m_w.m_bSettingBusy = false;
        m_w.m_bCloseEnabled = m_bCloseWas;
        if (m_w.m_bStopRequested)
            QMetaObject::invokeMethod(
                &m_w, [w = &m_w] { w->requestStop(); }, Qt::QueuedConnection);
    }
    FirmwareScope(const FirmwareScope&) = delete;
    FirmwareScope& operator=(const FirmwareScope&) = delete;

  private:
    MainWindow& m_w;
    bool m_bCloseWas;
};

FirmwareControl* MainWindow::firmwareControl() const {
    return m_pFirmControl != nullptr ? m_pFirmControl : m_core.firmwareControl();
}

bool MainWindow::firmwareButtonAllowed() const {
    return m_bReady && m_core.updateEdition() && !m_bSettingBusy && m_pSearchWindow == nullptr &&
           !m_core.resetRunning() && firmwareControl() != nullptr;
}

void MainWindow::onFirmCheck() {
    if (!firmwareButtonAllowed() || m_core.list().rowCount() == 0) return;
    FirmwareControl* control = firmwareControl();
    FirmwareScope scope(*this);
    m_bCloseEnabled = false;
    m_core.setFirmMode(kFirmModeCheck);
    m_core.log().trace(1, "Firm File Check Set(%p)", static_cast<const void*>(this));
    if (!control->startFirmCheck(m_firmEvents)) {
        // Nothing would ever end the wait: no dialog.
        m_core.log().trace(1, "Firm File Check Thread Start Error.");
        return;
    }
    CFirmUpload dialog(
        dialogServices(), m_core.clock(), FirmDialogMode::CheckWait,
        [control](Millis d) { return control->waitFirmCheckDone(d); }, this);
    openSettingDialog(dialog);
    // Reports the run posted before it ended reach the list before the button returns.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    emit firmwareFinished();
}

void MainWindow::onFirmUpdate() {
    if (!firmwareButtonAllowed()) return;
    FirmwareControl* control = firmwareControl();
    const BoxAnswer answer =
        m_messages.show(this, BoxIcon::NoIcon, text(u"FIRMUP_WINDOW", u"FIRMUP_TITLE"),
                        text(u"FIRMUP_WINDOW", u"FIRMUP_WARNINGMSG"), BoxButtons::YesNoDefaultNo);
    if (answer != BoxAnswer::Yes) return;
    FirmwareScope scope(*this);
    m_core.log().trace(1, "Firm Upload Set(%p)", static_cast<const void*>(this));
    m_core.setFirmMode(kFirmModeUpdate);
    bool waitCursor = false;
    setOverrideWaitCursor(waitCursor, true);
    FirmUpdateRun run{*control, m_firmEvents, [this](int index) { handleFirmRowChanged(index); },
                      [this] {
                          refreshAllFirmRows();
                          m_pModel->clearStages();
                      },
                      [this, control](int index, const QString& stage) {
                          const CameraEntry record = control->firmRecord(index);
                          m_pModel->setStage(fieldUtf8(record.szMac), stage);
                          // The status column grows to show the stage beside the status.
                          const int row = m_core.list().findRowByNumber(fieldView(record.szNo));
                          if (stage.isEmpty() || row < 0) return;
                          const int wanted =
                              m_pList->fontMetrics().horizontalAdvance(
                                  m_pModel->index(row, kColStatus).data().toString()) +
                              16;
                          if (wanted > m_pList->columnWidth(kColStatus))
                              m_pList->setColumnWidth(kColStatus, wanted);
                      }};
    CFirmUpload dialog(dialogServices(), m_core.clock(), std::move(run), this);
    setOverrideWaitCursor(waitCursor, false);
    openSettingDialog(dialog);
    m_pModel->clearStages();  // also after a cancelled run
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    m_buttons[kIdFirmCheck]->setEnabled(false);
    m_buttons[kIdFirmUpdate]->setEnabled(false);
    emit firmwareFinished();
}

void MainWindow::handleFirmRowChanged(int recordIndex) {
    const FirmwareControl* control = firmwareControl();
    if (control == nullptr || recordIndex < 0 || recordIndex >= static_cast<int>(kCameraTableSize))
        return;
    const CameraEntry record = control->firmRecord(recordIndex);
    if (fieldEmpty(record.szNo)) return;
    // The row that shows this camera: after a sort it is not the record's index.
    const int row = m_core.list().findRowByNumber(fieldView(record.szNo));
    if (row >= 0) m_core.list().refreshRow(row, record);
}

void MainWindow::handleFirmCheckDone(bool anyUpdateReady) {
    // A check before an update leaves F/W Update off: the update disables it anyway.
    m_buttons[kIdFirmUpdate]->setEnabled(anyUpdateReady && m_core.firmMode() == kFirmModeCheck);
}

void MainWindow::refreshAllFirmRows() {
    const FirmwareControl* control = firmwareControl();
    if (control == nullptr) return;
    m_core.setFirmMode(kFirmModeUpdate);
    const int count = std::min(control->firmRecordCount(), static_cast<int>(kCameraTableSize));
    for (int i = 0; i < count; ++i) handleFirmRowChanged(i);
    m_core.onMarkRows(m_core.list().rowCount());
}

}  // namespace lanrove::ui
