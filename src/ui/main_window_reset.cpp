// The main window's Factory Default button (maintenance edition): the question, whose default
// answer is No, then the reset thread under the wait window, then a new search so that the
// list shows the cameras in their new state. The window refuses to close meanwhile.
#include <QApplication>
#include <QTimer>

#include "ui/firmware_update_dialog.h"
#include "ui/main_window.h"

namespace lanrove::ui {

void MainWindow::onFactoryDefault() {
    if (!m_bReady || m_bSettingBusy || m_bResetBusy || m_pSearchWindow != nullptr) return;
    if (!m_core.showReset() || m_core.list().rowCount() == 0) return;
    const bool closeWas = m_bCloseEnabled;
    m_bResetBusy = true;
    m_bCloseEnabled = false;
    const bool searchDue = runFactoryReset();
    m_bResetBusy = false;
    m_bCloseEnabled = closeWas;
    if (m_bStopRequested) {
        // After this press has returned, as the other buttons' work does.
        QTimer::singleShot(0, this, &MainWindow::requestStop);
        return;
    }
    // As a press of Search: a disabled button would not take it either.
    if (searchDue) m_buttons[kIdSearch]->click();
}

bool MainWindow::runFactoryReset() {
    const BoxAnswer answer =
        m_messages.show(this, BoxIcon::NoIcon, text(u"MAIN_WINDOW", u"MAIN_TITLE"),
                        text(u"RESET_SETTING_WINDOW", u"WARNING_MSG"), BoxButtons::YesNoDefaultNo);
    if (answer != BoxAnswer::Yes || m_bStopRequested) return false;

    // A thread that could not be started ends the run at once, with its error (the reset's
    // event line is written); no wait window, no new search.
    const long started = m_core.startFactoryReset(this, nullptr);
    if (started != 0) {
        m_messages.show(this, BoxIcon::Warning, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
                        QString::fromStdString(factoryResetStartText(started)));
        return false;
    }
    FactoryReset& reset = m_core.factoryReset();
    CFirmUpload window(
        dialogServices(), m_core.clock(), FirmDialogMode::ResetWait,
        [&reset](Millis d) { return reset.waitDone(d); }, this);
    m_pWaitWindow = &window;
    emit resetWindowOpened(&window);
    window.exec();
    m_pWaitWindow = nullptr;
    emit resetFinished();
    return !m_bStopRequested;
}

void MainWindow::stopFactoryReset() {
    if (m_pWaitWindow != nullptr) {
        m_core.factoryReset().requestStop();
        return;
    }
    // The question is up: closing it answers No.
    QWidget* box = QApplication::activeModalWidget();
    if (box != nullptr && box != this) box->close();
}

}  // namespace lanrove::ui
