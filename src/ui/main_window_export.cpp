// Saving the main window's list as CSV: a context-menu entry on the list and Ctrl+S. The file
// holds the same bytes as `lanrove-cli search --csv` for the same list.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <filesystem>

#include "app/list_export.h"
#include "ui/main_window.h"

namespace lanrove::ui {

namespace {

// The entry's texts from the added texts of the language table.
struct ExportTexts {
    QString entry;
    QString fileKind;
    QString failed;
};

ExportTexts exportTexts(const SetupCore& core) {
    auto t = [&core](const char16_t* key) {
        return QString::fromStdU16String(core.text(u"LIST_EXPORT", key));
    };
    return {t(u"SAVE_LIST"), t(u"FILE_KIND"), t(u"SAVE_FAILED")};
}

QString defaultChooser(QWidget* parent, const QString& title, const QString& suggested,
                       const QString& filter) {
    return QFileDialog::getSaveFileName(parent, title, suggested, filter);
}

}  // namespace

void MainWindow::buildSaveListAction() {
    m_pSaveList = new QAction(this);
    m_pSaveList->setObjectName(QStringLiteral("saveListAction"));
    m_pSaveList->setText(exportTexts(m_core).entry);
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
    const ExportTexts t = exportTexts(m_core);
    const QString title = QString(t.entry).remove(QStringLiteral("..."));
    const QString suggested = QDir(m_lastFolder).filePath(QStringLiteral("cameras.csv"));
    const QString chosen = m_fnChooseSaveFile ? m_fnChooseSaveFile(this, title, suggested)
                                              : defaultChooser(this, title, suggested, t.fileKind);
    if (chosen.isEmpty()) return false;
    rememberFolder(chosen);
    std::string error;
    if (!saveFileReplacing(std::filesystem::path(chosen.toStdString()),
                           listCsv(m_core) + onvifCsvRows(m_pModel->onvifDevices()), error)) {
        m_core.log().traceText(1, "List not saved: " + error);
        m_messages.show(this, BoxIcon::Error, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
                        t.failed + QLatin1Char('\n') + QString::fromStdString(error),
                        BoxButtons::Ok);
        return false;
    }
    return true;
}

void MainWindow::rememberFolder(const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    if (!folder.isEmpty()) m_lastFolder = folder;
}

}  // namespace lanrove::ui
