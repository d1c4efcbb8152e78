// The doctor and the handover report in the desktop program: "Diagnose", "Diagnose all..." and
// "Save report..." on the list's context menu, Ctrl+P for the report, and the summary dialog of
// the findings. The doctor's probes run on a worker thread while a modal wait window keeps the
// program painting; the result comes back to this thread by a queued call.
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QUrl>
#include <QVBoxLayout>
#include <map>
#include <memory>
#include <system_error>

#include "app/finding_words.h"
#include "app/site_report.h"
#include "report/pdf_writer.h"
#include "runs/onvif_doctor.h"
#include "support/private_file.h"
#include "ui/main_window.h"

namespace lanrove::ui {

namespace {

// The wait window of a doctor run: modal, without a way to close it until the run is over, so
// that no other command starts meanwhile.
class DoctorWaitDialog final : public QDialog {
  public:
    DoctorWaitDialog(const QString& message, QWidget* parent) : QDialog(parent) {
        setObjectName(QStringLiteral("doctorWait"));
        setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(message, this));
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0);  // busy: the probes' progress is not counted
        layout->addWidget(bar);
    }
    void finishRun() {
        m_bDone = true;
        accept();
    }
    void reject() override {
        if (m_bDone) QDialog::reject();
    }

  private:
    bool m_bDone = false;
};

class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString findingText(const Finding& f, const LangTable& texts) {
    QString who = QStringLiteral("PC");
    if (f.recordIndex >= 0)
        who = QStringLiteral("No.%1 %2 %3")
                  .arg(f.recordIndex + 1)
                  .arg(QString::fromStdString(f.mac), QString::fromStdString(f.ip));
    else if (!f.records.empty())
        who = QString::fromStdString(f.ip);
    return QStringLiteral("[%1] %2 - %3\n  %4\n  %5\n")
        .arg(QString::fromStdString(findingSeverity(f.severity, texts)), who,
             QString::fromStdString(f.code), QString::fromStdString(findingEvidence(f, texts)),
             QString::fromStdString(findingFix(f, texts)));
}

}  // namespace

QString MainWindow::doctorText(const char16_t* key) const {
    return text(u"DOCTOR_WINDOW", key);
}

void MainWindow::buildDoctorMenu() {
    m_pDiagnose = new QAction(this);
    m_pDiagnose->setObjectName(QStringLiteral("diagnoseAction"));
    connect(m_pDiagnose, &QAction::triggered, this, [this] {
        const int row = firstSelectedRow();
        if (row >= 0) diagnose(row);
    });
    m_pDiagnoseAll = new QAction(this);
    m_pDiagnoseAll->setObjectName(QStringLiteral("diagnoseAllAction"));
    connect(m_pDiagnoseAll, &QAction::triggered, this, [this] { diagnose(-1); });
    m_pSaveReport = new QAction(this);
    m_pSaveReport->setObjectName(QStringLiteral("saveReportAction"));
    m_pSaveReport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m_pSaveReport->setShortcutContext(Qt::WindowShortcut);
    connect(m_pSaveReport, &QAction::triggered, this, [this] { onSaveReport(false); });
    m_pSaveReportPictures = new QAction(this);
    m_pSaveReportPictures->setObjectName(QStringLiteral("saveReportPicturesAction"));
    connect(m_pSaveReportPictures, &QAction::triggered, this, [this] { onSaveReport(true); });
    for (QAction* a : {m_pDiagnose, m_pDiagnoseAll, m_pSaveReport, m_pSaveReportPictures})
        m_pList->addAction(a);
    // The window carries the report too, so that Ctrl+P works wherever the focus is.
    addAction(m_pSaveReport);
    m_pList->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(m_pList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::updateDoctorActions);
    connect(m_pModel, &QAbstractItemModel::rowsInserted, this, &MainWindow::updateDoctorActions);
    connect(m_pModel, &QAbstractItemModel::rowsRemoved, this, &MainWindow::updateDoctorActions);
    connect(m_pModel, &QAbstractItemModel::modelReset, this, &MainWindow::updateDoctorActions);
    updateDoctorActions();
}

void MainWindow::applyAddedTexts() {
    m_pDiagnose->setText(doctorText(u"DIAGNOSE"));
    m_pDiagnoseAll->setText(doctorText(u"DIAGNOSE_ALL"));
    m_pSaveReport->setText(doctorText(u"SAVE_REPORT"));
    m_pSaveReportPictures->setText(doctorText(u"SAVE_REPORT_PICTURES"));
    m_pSaveList->setText(text(u"LIST_EXPORT", u"SAVE_LIST"));
    if (auto* plan = findChild<QAction*>(QStringLiteral("applyPlanAction")))
        plan->setText(text(u"PLAN_WINDOW", u"PLAN_MENU"));
}

void MainWindow::updateDoctorActions() {
    if (m_pDiagnose == nullptr) return;
    const bool idle = !m_bDoctorBusy && !m_bSettingBusy && !m_bResetBusy;
    m_pDiagnose->setEnabled(idle && firstSelectedRow() >= 0);
    m_pDiagnoseAll->setEnabled(idle && m_pModel->rowCount() > 0);
    m_pSaveReport->setEnabled(!m_bDoctorBusy);
    m_pSaveReportPictures->setEnabled(!m_bDoctorBusy);
}

bool MainWindow::runDoctorOn(int row, DoctorResult& out) {
    if (m_bDoctorBusy || m_bFinished || m_bSettingBusy || m_bResetBusy) return false;
    std::vector<int> records = listRecordIndexes(m_core);
    // Other makers' cameras: all of them with every row, the one alone for its row.
    const OnvifDevice* one = m_pModel->onvifDevice(row);
    std::vector<OnvifDevice> onvif;
    if (row < 0)
        onvif = m_pModel->onvifDevices();
    else if (one != nullptr)
        onvif.push_back(*one);
    const bool onvifRow = one != nullptr;
    if (onvifRow) {
        records.clear();
    } else if (row >= 0) {
        const int index = static_cast<std::size_t>(row) < records.size()
                              ? records[static_cast<std::size_t>(row)]
                              : -1;
        records.assign(1, index);
    }
    // The worker reads copies: the list and the runs may change the table meanwhile.
    auto table = std::make_shared<CameraTable>();
    {
        std::lock_guard lock(m_core.store().m_csCamTable);
        *table = m_core.store().m_CamTable;
    }
    auto result = std::make_shared<DoctorResult>();
    DoctorWaitDialog wait(doctorText(u"RUNNING"), this);
    wait.setWindowTitle(doctorText(row >= 0 ? u"DIAGNOSE" : u"DIAGNOSE_ALL_TITLE"));
    m_bDoctorBusy = true;
    updateDoctorActions();
    try {
        m_doctorThread = std::thread(
            [this, adapters = m_core.adapters(), table, records, result, onvif, onvifRow] {
                SystemDoctorProbes probes(m_core.clock(), m_core.net(), m_core.cgi());
                if (!onvifRow) *result = runDoctor(adapters, *table, records, probes);
                for (Finding& f :
                     diagnoseOnvif(onvif, adapters, systemTimeQuery(m_core.clock(), &m_core.log())))
                    result->findings.push_back(std::move(f));
                // Dropped by Qt if the window has gone; the window joins this thread first anyway.
                QMetaObject::invokeMethod(
                    this, [this] { doctorEnded(); }, Qt::QueuedConnection);
            });
    } catch (const std::system_error& e) {
        m_core.log().traceText(1, std::string("Doctor not started: ") + e.what());
        m_bDoctorBusy = false;
        updateDoctorActions();
        return false;
    }
    m_pDoctorWait = &wait;
    {
        WaitCursor cursor;
        wait.exec();
    }
    m_pDoctorWait = nullptr;
    out = std::move(*result);
    return true;
}

void MainWindow::doctorEnded() {
    joinDoctor();
    if (m_pDoctorWait != nullptr) static_cast<DoctorWaitDialog*>(m_pDoctorWait)->finishRun();
}

void MainWindow::joinDoctor() {
    if (m_doctorThread.joinable()) m_doctorThread.join();
    m_bDoctorBusy = false;
    updateDoctorActions();
}

void MainWindow::afterDoctor() {
    // A close or a stop asked while the doctor ran comes now that it is over.
    if (m_bStopRequested) {
        requestStop();
    } else if (m_bCloseAfterDoctor) {
        m_bCloseAfterDoctor = false;
        close();
    }
}

void MainWindow::markFindings(const DoctorResult& result, int row) {
    // What the doctor found on each camera it checked; a camera it checked and found well
    // loses an earlier mark.
    std::map<std::string, QString> marks;
    const CameraTable& table = m_core.store().m_CamTable;
    auto add = [&](int record, const Finding& f) {
        if (record < 0 || static_cast<std::size_t>(record) >= kCameraTableSize) return;
        QString& text = marks[fieldUtf8(table[static_cast<std::size_t>(record)].szMac)];
        if (!text.isEmpty()) text += QLatin1Char('\n');
        text += QStringLiteral("%1: %2: %3")
                    .arg(QString::fromStdString(findingSeverity(f.severity, m_core.texts())),
                         QString::fromStdString(f.code),
                         QString::fromStdString(findingEvidence(f, m_core.texts())));
    };
    for (const Finding& f : result.findings) {
        if (f.severity == Severity::Info) continue;
        add(f.recordIndex, f);
        for (int r : f.records) add(r, f);
    }
    CameraListModel& list = m_core.list();
    if (row < 0) m_pModel->clearFindingMarks();
    for (int r = 0; r < list.rowCount(); ++r) {
        if (row >= 0 && r != row) continue;
        const std::string mac = toUtf8(list.cell(r, kColMac));
        const auto it = marks.find(mac);
        m_pModel->setFindingMark(mac, it == marks.end() ? QString() : it->second);
    }
}

void MainWindow::diagnose(int row) {
    DoctorResult result;
    if (!runDoctorOn(row, result)) return;
    if (m_bStopRequested || m_bCloseAfterDoctor) {
        afterDoctor();
        return;
    }
    markFindings(result, row);
    QString body;
    for (const Finding& f : result.findings)
        body += findingText(f, m_core.texts()) + QLatin1Char('\n');
    if (result.findings.empty()) body = doctorText(u"NO_FINDINGS").arg(result.camerasChecked);
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("doctorDialog"));
    QString title = doctorText(row >= 0 ? u"DIAGNOSE" : u"DIAGNOSE_ALL_TITLE");
    if (const OnvifDevice* d = m_pModel->onvifDevice(row)) {
        title +=
            QStringLiteral(" \u2014 ONVIF %1 %2 %3")
                .arg(QString::fromStdString(d->match.maker), QString::fromStdString(d->match.model),
                     QString::fromStdString(onvifDeviceIp(*d)));
    } else if (row >= 0 && row < m_core.list().rowCount()) {
        // One camera's diagnosis names it, so that it cannot be read as another's.
        CameraListModel& list = m_core.list();
        title += QStringLiteral(" \u2014 No.%1 %2 %3 %4")
                     .arg(QString::fromStdU16String(list.cell(row, kColNo)),
                          QString::fromStdU16String(list.cell(row, kColMac)),
                          QString::fromStdU16String(list.cell(row, kColIp)),
                          QString::fromStdU16String(list.cell(row, kColModel)));
    }
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new QPlainTextEdit(body, &dialog);
    view->setObjectName(QStringLiteral("doctorFindings"));
    view->setReadOnly(true);
    view->setMinimumSize(560, 300);
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    emit doctorDialogOpened(&dialog);
    dialog.exec();
}

namespace {

bool isPdfName(const QString& path) {
    return path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive);
}

// The format follows the name's extension; a name without one gets the chosen filter's.
QString withReportExtension(const QString& path, const QString& filter) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf") || suffix == QLatin1String("html") ||
        suffix == QLatin1String("htm"))
        return path;
    return path + (filter.contains(QStringLiteral("*.pdf")) ? QStringLiteral(".pdf")
                                                            : QStringLiteral(".html"));
}

}  // namespace

void MainWindow::onSaveReport(bool snapshots) {
    if (!m_bReady || m_bFinished || m_bSettingBusy || m_bResetBusy || m_bDoctorBusy) return;
    const QString title = doctorText(u"SAVE_REPORT_TITLE");
    const QString filter = doctorText(u"REPORT_FILTER");
    const QString suggested = QDir(m_lastFolder).filePath(QStringLiteral("site-report"));
    QString chosenFilter;
    const QString chosen =
        m_fnChooseReportFile
            ? m_fnChooseReportFile(this, title, suggested, filter, &chosenFilter)
            : QFileDialog::getSaveFileName(this, title, suggested, filter, &chosenFilter);
    if (chosen.isEmpty()) return;
    const QString path = withReportExtension(chosen, chosenFilter);
    rememberFolder(path);
    if (!saveReport(path, snapshots)) {
        if (m_bFinished || m_bStopRequested) return;
        m_core.log().event("The report could not be saved", "err", path.toStdString());
        m_messages.show(this, BoxIcon::Error, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
                        doctorText(u"REPORT_FAILED") + QLatin1Char('\n') + path, BoxButtons::Ok);
        return;
    }
    const BoxAnswer answer =
        m_messages.show(this, BoxIcon::Information, title,
                        doctorText(u"REPORT_SAVED") + QLatin1Char('\n') + path, BoxButtons::OkOpen);
    if (answer != BoxAnswer::Open) return;
    const QUrl url = QUrl::fromLocalFile(path);
    const bool opened = m_fnOpenUrl ? m_fnOpenUrl(url) : QDesktopServices::openUrl(url);
    if (!opened) showUrlBox(url);
}

bool MainWindow::saveReport(const QString& path, bool snapshots) {
    DoctorResult doctor;
    if (!runDoctorOn(-1, doctor)) return false;
    if (m_bStopRequested || m_bCloseAfterDoctor) {
        afterDoctor();
        return false;
    }
    markFindings(doctor, -1);
    WaitCursor wait;
    // Pictures come one camera after another: the count shows, Cancel leaves the rest out.
    std::unique_ptr<QProgressDialog> progress;
    if (snapshots) {
        progress = std::make_unique<QProgressDialog>(this);
        progress->setObjectName(QStringLiteral("reportProgress"));
        progress->setWindowTitle(doctorText(u"SAVE_REPORT_TITLE"));
        progress->setCancelButtonText(text(u"FIRMUP_WINDOW", u"UPSTS_CANCEL"));
        progress->setMinimumDuration(0);
        progress->setWindowModality(Qt::WindowModal);
    }
    const QString pattern = doctorText(u"REPORT_PICTURES");
    const SiteReportData data = collectSiteReport(
        m_core, doctor, listRecordIndexes(m_core), snapshots,
        [&progress] {
            if (progress == nullptr) return false;
            QCoreApplication::processEvents();
            return progress->wasCanceled();
        },
        shrinkPicture,
        [&](int done, int total) {
            if (progress == nullptr) return;
            if (done == 0) emit reportProgressOpened(progress.get());
            progress->setMaximum(total);
            progress->setValue(done);
            progress->setLabelText(QString(pattern)
                                       .replace(QStringLiteral("%1"), QString::number(done))
                                       .replace(QStringLiteral("%2"), QString::number(total)));
            QCoreApplication::processEvents();
        },
        m_pModel->onvifDevices());
    progress.reset();
    const std::string file = path.toStdString();
    if (isPdfName(path)) {
        std::string error;
        if (writeReportPdf(data, file, error)) return true;
        m_core.log().traceText(1, "Report not written: " + error);
        return false;
    }
    return writePrivateFile(file, buildReportHtml(data, PictureRefs::Inline));
}

}  // namespace lanrove::ui
