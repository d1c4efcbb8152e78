// The doctor and the handover report in the desktop program: "Diagnose" and "Save report..." on
// the list's context menu, Ctrl+P for the report, and the summary dialog of the findings.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/site_report.h"
#include "report/pdf_writer.h"
#include "ui/main_window.h"

namespace lanrove::ui {

namespace {

// The wait cursor for the doctor's probes, which run on this thread for at most their
// time-outs (a few seconds; the probes of all cameras run in parallel).
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString findingText(const Finding& f) {
    const QString who = f.recordIndex < 0
                            ? QStringLiteral("PC")
                            : QStringLiteral("No.%1 %2 %3")
                                  .arg(f.recordIndex + 1)
                                  .arg(QString::fromStdString(f.mac), QString::fromStdString(f.ip));
    return QStringLiteral("[%1] %2 - %3\n  %4\n  %5\n")
        .arg(QString::fromLatin1(severityName(f.severity)), who, QString::fromStdString(f.code),
             QString::fromStdString(f.evidence), QString::fromStdString(f.fix));
}

}  // namespace

void MainWindow::buildDoctorMenu() {
    m_pList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_pList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QMenu menu(this);
        const QModelIndex at = m_pList->indexAt(pos);
        QAction* one = menu.addAction(tr("Diagnose"));
        one->setEnabled(at.isValid() && !m_bSettingBusy && !m_bResetBusy);
        QAction* all = menu.addAction(tr("Diagnose all..."));
        all->setEnabled(m_pModel->rowCount() > 0 && !m_bSettingBusy && !m_bResetBusy);
        QAction* save = menu.addAction(tr("Save report..."));
        save->setShortcut(QKeySequence(tr("Ctrl+P")));
        QAction* chosen = menu.exec(m_pList->viewport()->mapToGlobal(pos));
        if (chosen == one) diagnose(at.row());
        if (chosen == all) diagnose(-1);
        if (chosen == save) onSaveReport();
    });
    auto* shortcut = new QShortcut(QKeySequence(tr("Ctrl+P")), this);
    connect(shortcut, &QShortcut::activated, this, &MainWindow::onSaveReport);
}

DoctorResult MainWindow::runDoctorOn(int row) {
    std::vector<int> records = listRecordIndexes(m_core);
    if (row >= 0) {
        const int index = static_cast<std::size_t>(row) < records.size()
                              ? records[static_cast<std::size_t>(row)]
                              : -1;
        records.assign(1, index);
    }
    WaitCursor wait;
    SystemDoctorProbes probes(m_core.clock(), m_core.net(), m_core.cgi());
    return runDoctor(m_core.adapters(), m_core.store().m_CamTable, records, probes);
}

void MainWindow::diagnose(int row) {
    const DoctorResult result = runDoctorOn(row);
    QString body;
    for (const Finding& f : result.findings) body += findingText(f) + QLatin1Char('\n');
    if (result.findings.empty())
        body =
            tr("No findings: the PC and %n camera(s) look fine.", nullptr, result.camerasChecked);
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("doctorDialog"));
    dialog.setWindowTitle(row >= 0 ? tr("Diagnose") : tr("Diagnose all"));
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

void MainWindow::onSaveReport() {
    if (m_bSettingBusy || m_bResetBusy) return;
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save report"), QStringLiteral("site-report.html"),
                                     tr("Web page (*.html);;PDF document (*.pdf)"));
    if (path.isEmpty()) return;
    saveReport(path, false);
}

bool MainWindow::saveReport(const QString& path, bool snapshots) {
    const DoctorResult doctor = runDoctorOn(-1);
    WaitCursor wait;
    const SiteReportData data =
        collectSiteReport(m_core, doctor, listRecordIndexes(m_core), snapshots);
    const std::string file = path.toStdString();
    if (path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        std::vector<PdfPicture> pictures;
        for (std::size_t i = 0; i < data.rows.size(); ++i)
            if (!data.rows[i].snapshot.empty())
                pictures.push_back({snapshotResourceName(i), data.rows[i].snapshot});
        std::string error;
        return writeReportPdf(buildReportHtml(data, PictureRefs::Resources), pictures, file, error);
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const std::string html = buildReportHtml(data, PictureRefs::Inline);
    return out.write(html.data(), static_cast<qint64>(html.size())) ==
               static_cast<qint64>(html.size()) &&
           out.flush();
}

}  // namespace lanrove::ui
