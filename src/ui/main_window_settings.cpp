// The main window's Auto setting and Manual setting buttons: the range dialog or the login
// step and the manual setting dialog, then the settings run under its progress window. The
// window refuses to close from the button press until the run is over.
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QStringList>

#include "discovery/ipv4_address.h"
#include "runs/ip_setting_rules.h"
#include "ui/auto_setting_dialog.h"
#include "ui/list_sort.h"
#include "ui/login_dialog.h"
#include "ui/main_window.h"
#include "ui/manual_setting_dialog.h"
#include "ui/settings_progress_window.h"

namespace lanrove::ui {

namespace {
// The account the camera's factory state has; the run sends it unless the login step found
// another.
constexpr std::u16string_view kDefaultAccount = u"vorly";
}  // namespace

// Close refused and the stop request held back while a setting button's work is on; a stop
// asked for meanwhile follows once it is over.
class MainWindow::SettingScope {
  public:
    explicit SettingScope(MainWindow& w) : m_w(w), m_bCloseWas(w.m_bCloseEnabled) {
        m_w.m_bSettingBusy = true;
    }
    ~SettingScope() {
        m_w.m_bSettingBusy = false;
        m_w.m_bCloseEnabled = m_bCloseWas;
        if (m_w.m_bStopRequested)
            QMetaObject::invokeMethod(
                &m_w, [w = &m_w] { w->requestStop(); }, Qt::QueuedConnection);
    }
    SettingScope(const SettingScope&) = delete;
    SettingScope& operator=(const SettingScope&) = delete;

  private:
    MainWindow& m_w;
    bool m_bCloseWas;
};

DialogServices MainWindow::dialogServices() {
    return {m_core.texts(), m_core.log(), m_messages};
}

const AdapterEntry* MainWindow::adapterInUse() {
    const int index = m_core.adapterIndex();
    if (index < 0 || index >= static_cast<int>(m_core.adapters().size())) return nullptr;
    return &m_core.adapters()[static_cast<std::size_t>(index)];
}

int MainWindow::openSettingDialog(SettingDialog& dialog) {
    m_pSettingDialog = &dialog;
    emit settingDialogOpened(&dialog);
    const int result = m_bStopRequested ? QDialog::Rejected : dialog.exec();
    m_pSettingDialog = nullptr;
    return result;
}

void MainWindow::runSettings(SettingsRun& run) {
    CoreRunSteps steps(run);
    CStsChangeMessage window(dialogServices(), steps, m_core.clock(), this);
    openSettingDialog(window);
    // Results the workers posted before they ended are applied before the button returns.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    // What the list cannot show: a run that could not start, cameras only half set.
    QStringList lines;
    if (const SettingsRunError error = run.error(); error.failed())
        lines << QString::fromStdString(error.text);
    for (const std::string& note : m_core.settingNotes()) lines << QString::fromStdString(note);
    if (!lines.isEmpty() && !m_bStopRequested)
        m_messages.show(this, BoxIcon::Warning, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
                        lines.join(QLatin1Char('\n')));
    emit settingFinished();
}

void MainWindow::onAutoSetting() {
    if (!m_bReady || m_bSettingBusy || m_pSearchWindow != nullptr || m_core.resetRunning()) return;
    const int wanted = m_core.countNewCameras();
    if (wanted == 0) return;
    const AdapterEntry* inUse = adapterInUse();
    if (inUse == nullptr) return;
    const AdapterEntry adapter = *inUse;
    SettingScope scope(*this);
    m_bCloseEnabled = false;
    m_core.store().m_bSearchEnd = 0;
    m_core.log().trace(1, "AutoSetting Set(%p)", static_cast<const void*>(this));

    CLanroveSet dialog(dialogServices(), adapter, this);
    if (openSettingDialog(dialog) != QDialog::Accepted) return;
    if (!confirmAutoSetting(dialog.candidates(), wanted, adapter)) return;
    SettingsRun& run = m_core.newSettingsRun(m_settingEvents);
    run.prepareAuto(dialog.candidates(), wanted, m_core.text(u"MAIN_WINDOW", u"MAIN_CAMERA_NEW"));
    m_settingEvents.resetCounts();
    runSettings(run);
    if (m_bStopRequested || run.error().failed()) return;
    // What the run did, also when the list scrolls away from it.
    const QString summary =
        text(u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_SUMMARY")
            .arg(m_settingEvents.acceptedCount())
            .arg(wanted)
            .arg(m_settingEvents.resultCount() - m_settingEvents.acceptedCount());
    m_core.log().event(summary.toStdString(), "info", "auto setting");
    m_messages.show(this, BoxIcon::Information, text(u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_TITLE"),
                    summary, BoxButtons::Ok);
}

bool MainWindow::confirmAutoSetting(const CandidateAddresses& candidates, int wanted,
                                    const AdapterEntry& adapter) {
    if (candidates.count() == 0) return false;
    // As the command line asks it: how many NEW cameras, which range, then the setting's own
    // question. Nothing has been sent yet; Enter answers No.
    const QString question =
        text(u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_CONFIRM")
            .arg(wanted)
            .arg(QString::fromStdU16String(candidates.front()),
                 QString::fromStdU16String(candidates.back()),
                 QString::fromUtf8(adapter.ifName().data(),
                                   static_cast<qsizetype>(adapter.ifName().size()))) +
        QStringLiteral("\n\n") + text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_MSG1") +
        QStringLiteral("\n\n") + text(u"CUSTOM_SETTING_WINDOW", u"ACCOUNT_IN_CLEAR");
    const BoxAnswer answer = m_messages.show(this, BoxIcon::Question,
                                             text(u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_TITLE"),
                                             question, BoxButtons::YesNoDefaultNo);
    if (answer == BoxAnswer::Yes) return true;
    m_core.log().trace(1, "AutoSetting Not Confirmed(%p)", static_cast<const void*>(this));
    return false;
}

int MainWindow::firstSelectedRow() const {
    int first = -1;
    for (const QModelIndex& index : m_pList->selectionModel()->selectedRows())
        if (first < 0 || index.row() < first) first = index.row();
    return first;
}

void MainWindow::onManualSetting() {
    if (!m_bReady || m_bSettingBusy || m_pSearchWindow != nullptr || m_core.resetRunning()) return;
    const int row = firstSelectedRow();
    if (row < 0) return;
    const std::int64_t number = numberOfText(m_core.list().cell(row, kColNo));
    if (number < 1 || number > static_cast<std::int64_t>(kCameraTableSize)) return;
    const AdapterEntry* inUse = adapterInUse();
    if (inUse == nullptr) return;
    const AdapterEntry adapter = *inUse;
    SettingScope scope(*this);
    m_bCloseEnabled = false;

    CameraEntry work = m_core.store().m_CamTable[static_cast<std::size_t>(number - 1)];
    if (fieldEmpty(work.szPort)) setField(work.szPort, std::u16string_view(u"80"));
    if (fieldEmpty(work.szSsl)) setField(work.szSsl, std::u16string_view(u"0"));
    setField(work.szUser, kDefaultAccount);
    setField(work.szPassword, kDefaultAccount);

    const std::u16string_view status = fieldView(work.szStatus);
    const bool statusOk = status == m_core.text(u"MAIN_WINDOW", u"MAIN_CAMERA_OK");
    const bool statusNew = status == m_core.text(u"MAIN_WINDOW", u"MAIN_CAMERA_NEW");
    const bool outside =
        CCGI::IsOutsideHostSubnet(adapter.ip(), adapter.mask(), fieldUtf8(work.szIp)) != 0;
    bool askLogin = false;
    bool prefilled = true;
    switch (manualLoginStep(statusOk, statusNew, outside)) {
        case LoginStep::Skip:
            break;
        case LoginStep::AskPrefilled:
            askLogin = true;
            break;
        case LoginStep::TestDefault: {
            const CameraEntry probe = work;
            const int result = loginTestTrusting(probe);
            if (m_bStopRequested) return;
            askLogin = result >= 400;
            prefilled = false;
            break;
        }
    }
    if (askLogin) {
        CLogIn login(
            dialogServices(), work, prefilled,
            [this](const CameraEntry& entry) { return m_core.loginTest(entry); }, this);
        // Which camera, and why its account is asked.
        const char16_t* why = outside      ? u"LOGIN_WHY_OUTSIDE"
                              : !prefilled ? u"LOGIN_WHY_REFUSED"
                                           : u"LOGIN_WHY_STATUS";
        login.setCameraAndReason(
            QStringLiteral("%1 %2 (%3)")
                .arg(fieldQString(work.szMac), fieldQString(work.szModel), fieldQString(work.szIp)),
            text(u"LOGIN_WINDOW", why));
        if (openSettingDialog(login) != QDialog::Accepted) return;
    }

    m_core.log().trace(1, "ManualSetting Set(%p)", static_cast<const void*>(this));
    const CameraEntry loginEntry = work;
    CSetCameraSts dialog(dialogServices(), work, adapter, this);
    if (openSettingDialog(dialog) != QDialog::Accepted) return;
    m_core.loginEntry() = loginEntry;
    m_core.store().m_bSearchEnd = 0;
    SettingsRun& run = m_core.newSettingsRun(m_settingEvents);
    run.prepareManual(loginEntry, work, statusOk);
    runSettings(run);
}

}  // namespace lanrove::ui
