// Saving the main window's list as CSV: a context-menu entry on the list and Ctrl+S. The file
// holds the same bytes as `lanrove-cli search --csv` for the same list.
#include <QDir>
#include <QFileDialog>
#include <QKeySequence>
#include <filesystem>

#include "app/language.h"
#include "app/list_export.h"
#include "ui/main_window.h"

namespace lanrove::ui {

namespace {

// The entry's texts per language column (Japanese, English, Chinese): the language lists of
// older installations have no row for it.
struct ExportTexts {
    const char* entry;
    const char* fileKind;
    const char* failed;
};

constexpr ExportTexts kExportTexts[3] = {
    {"一覧をCSVで保存...", "CSVファイル (*.csv)", "一覧を保存できませんでした。"},
    {"Save List as CSV...", "CSV files (*.csv)", "The list could not be saved."},
    {"将列表保存为CSV...", "CSV文件 (*.csv)", "无法保存列表。"},
};

const ExportTexts& exportTexts(unsigned langId) {
    return kExportTexts[languageColumn(langId)];
}

QString defaultChooser(QWidget* parent, const QString& title, const QString& suggested,
                       const QString& filter) {
    return QFileDialog::getSaveFileName(parent, title, suggested, filter);
}

}  // namespace

void MainWindow::buildSaveListAction() {
    m_pSaveList = new QAction(this);
    m_pSaveList->setObjectName(QStringLiteral("saveListAction"));
    m_pSaveList->setText(QString::fromUtf8(exportTexts(m_core.langId()).entry));
    m_pSaveList->setShortcut(QKeySequence::Save);
    m_pSaveList->setShortcutContext(Qt::WindowShortcut);
    m_pList->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_pList->addAction(m_pSaveList);
    // The window carries it too, so that Ctrl+S works wherever the focus is.
    addAction(m_pSaveList);
    connect(m_pSaveList, &QAction::triggered, this, [this] { onSaveList(); });
}

bool MainWindow::onSaveList() {
    // Buttons' runs hold their own windows; the list is saved between them.
    if (!m_bReady || m_bFinished || m_bSettingBusy || m_bResetBusy || m_bImageBusy ||
        m_pSearchWindow != nullptr)
        return false;
    const ExportTexts& t = exportTexts(m_core.langId());
    const QString title = QString::fromUtf8(t.entry).remove(QStringLiteral("..."));
    const QString suggested = QDir::home().filePath(QStringLiteral("cameras.csv"));
    const QString chosen =
        m_fnChooseSaveFile ? m_fnChooseSaveFile(this, title, suggested)
                           : defaultChooser(this, title, suggested, QString::fromUtf8(t.fileKind));
    if (chosen.isEmpty()) return false;
    std::string error;
    if (!saveFileReplacing(std::filesystem::path(chosen.toStdString()), listCsv(m_core), error)) {
        m_core.log().traceText(1, "List not saved: " + error);
        m_messages.show(
            this, BoxIcon::Error, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
            QString::fromUtf8(t.failed) + QLatin1Char('\n') + QString::fromStdString(error),
            BoxButtons::Ok);
        return false;
    }
    return true;
}

}  // namespace lanrove::ui
