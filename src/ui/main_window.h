#pragma once
// The main window: the camera list, the four counters and the command buttons over the core.
// It runs the start-up steps (with the splash up while they run), handles the reports the
// search worker posts, sorts the list on header clicks and refuses to close while a search
// runs. Enter and Esc do nothing here.

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/lang_table.h"
#include "app/setup_core.h"
#include "runs/ip_setting_rules.h"
#include "runs/site_doctor.h"
#include "support/clock.h"
#include "ui/camera_table_model.h"
#include "ui/gui_firmware_events.h"
#include "ui/gui_search_events.h"
#include "ui/gui_settings_events.h"
#include "ui/message_layer.h"
#include "ui/splash_window.h"

namespace lanrove::ui {

class CChangeSts;
class SearchWindow;
class SettingDialog;
class CFirmUpload;
struct DialogServices;

// Static texts and counters of the main window.
enum MainLabelId : int {
    kIdCounterTotal = 1052,
    kIdCounterNew = 1053,
    kIdCounterOk = 1054,
    kIdCounterAttention = 1055,
    kIdLabelTotal = 1056,
    kIdLabelNew = 1057,
    kIdLabelOk = 1058,
    kIdLabelAttention = 1059,
};

// Column widths in pixels per edition.
inline constexpr std::array<int, kListColumnCount> kMaintenanceColumnWidths{45, 100, 110, 120, 110,
                                                                            55, 45,  130, 350};
inline constexpr std::array<int, kListColumnCount> kStandardColumnWidths{45, 80, 120, 120, 110,
                                                                         60, 50, 130, 350};

// The widths are pixels at the classic dialog font (1.5 pixels per horizontal dialog unit);
// with a wider font they grow in the same proportion as the window, so that an address or a
// MAC still fits its column.
inline constexpr double kClassicPixelsPerUnit = 1.5;
std::array<int, kListColumnCount> columnWidthsFor(bool maintenance, double pixelsPerUnit);

class MainWindow final : public QWidget, public SearchReportHandler, public FirmwareReportHandler {
    Q_OBJECT
  public:
    MainWindow(SetupCore& core, MessageLayer& messages, const LangTable& appTexts,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // The initialisation: edition and settings, trace log, texts, then the host network check
    // off the GUI thread while the splash paints; ends with ready() or, after the error box,
    // startupFailed() and the program closing itself.
    void start();
    // A trace line from before the log existed (start-up steps that run ahead of the window);
    // written as soon as start() has created the log.
    void addStartupTrace(std::string line) { m_startupTraces.push_back(std::move(line)); }

    bool isReady() const { return m_bReady; }
    bool closeAllowed() const { return m_bCloseEnabled; }
    int exitCode() const { return m_nExitCode; }
    const ManualResetEvent& readyEvent() const { return m_ready; }
    // Real time the host network check took.
    qint64 networkCheckMs() const { return m_nNetworkCheckMs; }

    QPushButton* button(int controlId) const;
    QLabel* label(int id) const;
    QTableView* listView() const { return m_pList; }
    CameraTableModel* model() const { return m_pModel; }
    SplashWindow* splash() const { return m_pSplash.get(); }
    SearchEvents& searchEvents() { return m_events; }

    int sortColumn() const { return m_nSortColumn; }
    bool sortAscending() const { return m_bSortAscending; }

    // A header click: flips the one direction flag and sorts by `column`.
    void sortByColumn(int column);
    // Row refresh for the runs that change records: status text by list mode and edition.
    bool refreshRow(int row, const CameraEntry& entry);

    // The ending that the close control and the close request share: every worker stopped in
    // order, last trace line, finished(code).
    void finishProgram(int exitCode);
    // A stop asked from outside (signal): ends a running search, then closes.
    void requestStop();

    // The posted reports (SearchReportHandler), on the window's thread.
    void handleSearchNotFound() override;
    void handleSearchPortError(const QString& text) override;
    void handleControlEnabled(int controlId, bool enabled) override;
    void handleCloseEnabled(bool enabled) override;
    void handleAddRow(int recordIndex) override;
    void handleMarkRows(int rowCount) override;
    void handleReplaceRow(int rowRecord, int fromRecord) override;

    // True from an Auto setting, Manual setting, F/W Check or F/W Update press until its run
    // is over.
    bool settingBusy() const { return m_bSettingBusy; }
    // True from a Factory Default press until the wait window has closed.
    bool resetBusy() const { return m_bResetBusy; }

    // The firmware runs behind F/W Check and F/W Update: the core's unless another was given
    // (tests and tools); the buttons do nothing while there is none.
    FirmwareControl* firmwareControl() const;
    void useFirmwareControl(FirmwareControl* control) { m_pFirmControl = control; }
    FirmwareEvents& firmwareEvents() { return m_firmEvents; }
    // The firmware runs' reports (FirmwareReportHandler), on the window's thread.
    void handleFirmRowChanged(int recordIndex) override;
    void handleFirmCheckDone(bool anyUpdateReady) override;

    // Opens a URL in the desktop's browser (QDesktopServices::openUrl unless replaced, as
    // tests do); on a false result (no browser) the URL is shown in a box to copy.
    using UrlOpener = std::function<bool(const QUrl&)>;
    void setUrlOpener(UrlOpener opener) { m_fnOpenUrl = std::move(opener); }

    // Asks where to save the list (a file dialog unless replaced, as tests do): an empty
    // result means the user cancelled.
    using SaveFileChooser =
        std::function<QString(QWidget* parent, const QString& title, const QString& suggested)>;
    void setSaveFileChooser(SaveFileChooser chooser) { m_fnChooseSaveFile = std::move(chooser); }
    // Asks where to save the report and in which of the filter's formats (`selectedFilter` is
    // set to the chosen filter); a file dialog unless replaced.
    using ReportFileChooser =
        std::function<QString(QWidget* parent, const QString& title, const QString& suggested,
                              const QString& filter, QString* selectedFilter)>;
    void setReportFileChooser(ReportFileChooser chooser) {
        m_fnChooseReportFile = std::move(chooser);
    }
    // The folder that the file dialogs open in: the last one used, the home folder at first.
    QString lastFolder() const { return m_lastFolder; }
    // The list's context-menu entry, also reached by Ctrl+S.
    QAction* saveListAction() const { return m_pSaveList; }
    // The doctor's context-menu entries ("Save report..." also reached by Ctrl+P).
    QAction* diagnoseAction() const { return m_pDiagnose; }
    QAction* diagnoseAllAction() const { return m_pDiagnoseAll; }
    QAction* saveReportAction() const { return m_pSaveReport; }
    QAction* saveReportPicturesAction() const { return m_pSaveReportPictures; }
    // True while the doctor's worker runs (its wait window is up).
    bool doctorBusy() const { return m_bDoctorBusy; }

  public slots:
    void onSearch();
    void onAutoSetting();
    void onManualSetting();
    void onFirmCheck();
    void onFirmUpdate();
    void onFactoryDefault();
    void onCameraImage();
    void onWebBrowser();
    // Saves the list as CSV (main_window_export.cpp); false when cancelled or the write failed
    // (the error box shown).
    bool onSaveList();
    // "Apply address plan..." (list context menu, Ctrl+O): asks for the file, then
    // applyPlanFile().
    void onApplyPlan();
    // Reads and checks the plan, shows the preview, and after Execute and the confirmation sets
    // the accepted cameras one after another, searches again and shows the report.
    void applyPlanFile(const QString& path);
    // Ctrl+P and the context menu: asks for a file name and format, then saveReport(), then
    // confirms the saved file with its path and an Open button.
    void onSaveReport(bool snapshots = false);

  public:
    // The doctor over one list row (or every row with -1) on a worker, then its summary
    // dialog; the window keeps painting meanwhile.
    void diagnose(int row);
    // Writes the handover report (.pdf or .html); false when the file could not be written.
    bool saveReport(const QString& path, bool snapshots);

  signals:
    void ready();
    void startupFailed();
    void searchWindowOpened(lanrove::ui::SearchWindow* window);
    void searchFinished();
    // A dialog or progress window of the IP setting or the firmware buttons is about to run
    // modally.
    void settingDialogOpened(QDialog* dialog);
    // The settings run of a button press is over and its results are in the list.
    void settingFinished();
    // The dialog of F/W Check or F/W Update has closed and the buttons are set.
    void firmwareFinished();
    // The factory reset's wait window is about to run modally.
    void resetWindowOpened(lanrove::ui::CFirmUpload* window);
    // The wait window has closed (the new search follows).
    void resetFinished();
    // The live image window is about to run modally.
    void imageWindowOpened(lanrove::ui::CChangeSts* window);
    // The doctor's summary dialog is about to run modally.
    void doctorDialogOpened(QDialog* dialog);
    // The box with a URL that no browser could open is about to run modally.
    void urlBoxOpened(QDialog* dialog);
    // The picture progress of a report with live pictures is shown.
    void reportProgressOpened(QWidget* window);
    void finished(int exitCode);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void applyTexts();
    void setupColumns();
    void fitListToColumns();
    void continueStartup(StartupCheck check);
    void setCounters(const CounterTexts& texts);
    void updateSelectionButtons();
    void buildSaveListAction();
    QString text(std::u16string_view section, std::u16string_view key) const;

    // The IP setting buttons (main_window_settings.cpp).
    class SettingScope;
    DialogServices dialogServices();
    const AdapterEntry* adapterInUse();
    int firstSelectedRow() const;
    // Auto setting's question after the range dialog; true on Yes.
    bool confirmAutoSetting(const CandidateAddresses& candidates, int wanted,
                            const AdapterEntry& adapter);
    int openSettingDialog(SettingDialog& dialog);
    void runSettings(SettingsRun& run);
    // The plan action on the list and the window (main_window_plans.cpp).
    void installPlanActions();

    // The firmware buttons (main_window_firmware.cpp).
    class FirmwareScope;
    bool firmwareButtonAllowed() const;
    void refreshAllFirmRows();
    // The Factory Default button (main_window_reset.cpp): true when a new search is due.
    bool runFactoryReset();
    void stopFactoryReset();
    // The image and browser buttons (main_window_image.cpp): the selected row's table index,
    // or false when there is no selection or another listed camera has the same address (the
    // error box shown, and for the browser the event line written).
    bool selectedCameraWithoutOverlap(bool bBrowser, std::size_t& index);
    // The URL that no browser opened, with the reason, in a box with a copy button.
    void showUrlBox(const QUrl& url);
    // Other makers' ONVIF cameras after a search: rows after ours, ours that also speak ONVIF
    // marked in the Maker column.
  public:
    void showOnvifDevices(const std::vector<OnvifDevice>& devices);

  private:
    // Notes the folder of a chosen file for the next file dialog.
    void rememberFolder(const QString& file);
    // The login test off the GUI thread; when the camera's certificate changed, the question
    // whether to trust the new one, and on Yes the test once more.
    int loginTestTrusting(const CameraEntry& entry);
    // The doctor and the report (main_window_doctor.cpp).
    void buildDoctorMenu();
    // The texts of the entries added beside the classic windows (doctor, plan, list export).
    void applyAddedTexts();
    void updateDoctorActions();
    QString doctorText(const char16_t* key) const;
    // Runs the doctor on its worker under the wait window; false when it could not run.
    bool runDoctorOn(int row, DoctorResult& out);
    void doctorEnded();
    // Marks the rows the doctor found something on (`row` alone, or every row with -1).
    void markFindings(const DoctorResult& result, int row);
    void joinDoctor();
    // A close or stop that came during the doctor's run.
    void afterDoctor();

    SetupCore& m_core;
    MessageLayer& m_messages;
    const LangTable& m_appTexts;
    ManualResetEvent m_ready;
    std::unique_ptr<SplashWindow> m_pSplash;
    GuiSearchEvents m_events;

    std::map<int, QPushButton*> m_buttons;
    std::map<int, QLabel*> m_labels;
    QTableView* m_pList = nullptr;
    CameraTableModel* m_pModel = nullptr;
    SearchWindow* m_pSearchWindow = nullptr;
    GuiSettingsEvents m_settingEvents;
    SettingDialog* m_pSettingDialog = nullptr;
    bool m_bSettingBusy = false;
    GuiFirmwareEvents m_firmEvents;
    FirmwareControl* m_pFirmControl = nullptr;
    CFirmUpload* m_pWaitWindow = nullptr;
    bool m_bResetBusy = false;
    bool m_bImageBusy = false;  // from an image button press until its window has gone
    CChangeSts* m_pImageWindow = nullptr;
    UrlOpener m_fnOpenUrl;
    SaveFileChooser m_fnChooseSaveFile;
    ReportFileChooser m_fnChooseReportFile;
    QString m_lastFolder;
    QAction* m_pSaveList = nullptr;
    QAction* m_pDiagnose = nullptr;
    QAction* m_pDiagnoseAll = nullptr;
    QAction* m_pSaveReport = nullptr;
    QAction* m_pSaveReportPictures = nullptr;
    std::thread m_doctorThread;
    QDialog* m_pDoctorWait = nullptr;
    bool m_bDoctorBusy = false;
    bool m_bCloseAfterDoctor = false;

    std::vector<std::string> m_startupTraces;
    std::thread m_checkThread;
    QElapsedTimer m_checkTimer;
    qint64 m_nNetworkCheckMs = 0;

    int m_nSortColumn = -1;
    bool m_bSortAscending = false;  // the order of the last sort; a new column starts ascending
    bool m_bCloseEnabled = false;
    bool m_bStarted = false;
    bool m_bReady = false;
    bool m_bFinished = false;
    bool m_bStopRequested = false;
    int m_nExitCode = 0;
};

}  // namespace lanrove::ui
