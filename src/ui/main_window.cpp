#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <set>

#include "runs/onvif_doctor.h"
#include "ui/dialog_units.h"
#include "ui/image_window.h"
#include "ui/key_guard.h"
#include "ui/logo_painter.h"
#include "ui/search_window.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui {

namespace {

struct ButtonPlace {
    int id;
    int x, y, w, h;
    const char16_t* key;
};

constexpr ButtonPlace kButtons[] = {
    {kIdSearch, 9, 8, 75, 18, u"MAIN_CAMERA_SEARCH"},
    {kIdFirmCheck, 366, 8, 76, 18, u"MAIN_FIRM_CHECK"},
    {kIdFirmUpdate, 447, 8, 76, 18, u"MAIN_FIRM_UPLOAD"},
    {kIdAutoSetting, 8, 240, 76, 18, u"MAIN_AUTO_SETTING"},
    {kIdFactoryDefault, 207, 240, 76, 18, u"MAIN_FACTORY_DEFAULT"},
    {kIdManualSetting, 287, 240, 76, 18, u"MAIN_CUSTOM_SETTING"},
    {kIdCameraImage, 367, 240, 76, 18, u"MAIN_IMAGE"},
    {kIdWebBrowser, 447, 240, 76, 18, u"MAIN_WEB_BROWSER"},
};

struct LabelPlace {
    int id;
    int x, y, w, h;
    const char16_t* key;  // null for a counter
};

constexpr LabelPlace kLabels[] = {
    {kIdLabelTotal, 95, 14, 39, 10, u"MAIN_CAMERA_TOTAL"},
    {kIdCounterTotal, 137, 14, 22, 10, nullptr},
    {kIdLabelNew, 163, 14, 38, 10, u"MAIN_CAMERA_NEW"},
    {kIdCounterNew, 206, 14, 22, 10, nullptr},
    {kIdLabelOk, 231, 14, 39, 10, u"MAIN_CAMERA_OK"},
    {kIdCounterOk, 275, 14, 22, 10, nullptr},
    {kIdLabelAttention, 301, 14, 34, 10, u"MAIN_CAMERA_ATTENTION"},
    {kIdCounterAttention, 343, 14, 21, 10, nullptr},
};

constexpr const char16_t* kColumnKeys[kListColumnCount] = {
    u"MAIN_CAMERA_NO",          u"MAIN_CAMERA_STATUS",     u"MAIN_CAMERA_MODEL",
    u"MAIN_CAMERA_MAC_ADDRESS", u"MAIN_CAMERA_IP_ADDRESS", u"MAIN_CAMERA_PORT",
    u"MAIN_CAMERA_SSL",         u"MAIN_CAMERA_TITLE",      u"MAIN_CAMERA_FIRMWARE_VERSION",
};

// The buttons a search disables, in the order the Search button names them.
constexpr int kSearchDisables[] = {kIdSearch,     kIdManualSetting, kIdCameraImage,
                                   kIdWebBrowser, kIdAutoSetting,   kIdFirmUpdate,
                                   kIdFirmCheck,  kIdFactoryDefault};

}  // namespace

std::array<int, kListColumnCount> columnWidthsFor(bool maintenance, double pixelsPerUnit) {
    const auto& base = maintenance ? kMaintenanceColumnWidths : kStandardColumnWidths;
    const double scale = std::max(1.0, pixelsPerUnit / kClassicPixelsPerUnit);
    std::array<int, kListColumnCount> out{};
    for (std::size_t c = 0; c < out.size(); ++c)
        out[c] = static_cast<int>(std::lround(base[c] * scale));
    return out;
}

MainWindow::MainWindow(SetupCore& core, MessageLayer& messages, const LangTable& appTexts,
                       QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      m_core(core),
      m_messages(messages),
      m_appTexts(appTexts),
      m_events(this, *this),
      m_settingEvents(this, core),
      m_firmEvents(this, *this),
      m_lastFolder(QDir::homePath()) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowIcon(programIcon());
    // The splash goes up at once and paints while the initialisation runs.
    m_pSplash = std::make_unique<SplashWindow>(m_appTexts, &m_ready, m_core.clock());
    m_pSplash->show();
    buildControls();
    new KeyGuard(this);
    m_core.classifier().setCounterHook([this](const CounterTexts& texts) {
        if (QThread::currentThread() == thread()) {
            setCounters(texts);
        } else {
            QMetaObject::invokeMethod(
                this, [this, texts] { setCounters(texts); }, Qt::QueuedConnection);
        }
    });
}

MainWindow::~MainWindow() {
    if (m_checkThread.joinable()) m_checkThread.join();
    if (m_doctorThread.joinable()) m_doctorThread.join();
    m_core.classifier().setCounterHook({});
    if (m_bStarted && !m_bFinished) {
        m_bFinished = true;
        m_core.shutdown(this);
    }
    delete m_pModel;
    m_pModel = nullptr;
}

QString MainWindow::text(std::u16string_view section, std::u16string_view key) const {
    return QString::fromStdU16String(m_core.text(section, key));
}

void MainWindow::buildControls() {
    const DialogUnits du(font());
    setFixedSize(du.size(531, 267));
    for (const ButtonPlace& b : kButtons) {
        auto* button = new QPushButton(this);
        button->setObjectName(QStringLiteral("button%1").arg(b.id));
        button->setGeometry(du.rect(b.x, b.y, b.w, b.h));
        button->setAutoDefault(false);
        m_buttons[b.id] = button;
    }
    for (const LabelPlace& l : kLabels) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("label%1").arg(l.id));
        label->setGeometry(du.rect(l.x, l.y, l.w, l.h));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        if (l.key == nullptr) label->setText(QStringLiteral("0"));
        m_labels[l.id] = label;
    }

    m_pList = new QTableView(this);
    m_pList->setObjectName(QStringLiteral("cameraList"));
    m_pList->setGeometry(du.rect(9, 31, 514, 201));
    m_pModel = new CameraTableModel(m_core.list());
    m_pList->setModel(m_pModel);
    buildDoctorMenu();
    m_pList->verticalHeader()->hide();
    m_pList->verticalHeader()->setDefaultSectionSize(m_pList->fontMetrics().height() + 6);
    m_pList->horizontalHeader()->setStretchLastSection(false);
    m_pList->horizontalHeader()->setHighlightSections(false);
    m_pList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pList->horizontalHeader()->setSectionsClickable(true);
    m_pList->horizontalHeader()->setSortIndicatorShown(false);
    m_pList->setWordWrap(false);
    m_pList->setShowGrid(true);
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pList->setTabKeyNavigation(false);
    installPlanActions();
    // The selection stays visible when the list loses the focus.
    QPalette pal = m_pList->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    m_pList->setPalette(pal);

    connect(m_pList->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &MainWindow::sortByColumn);
    connect(m_pList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::updateSelectionButtons);
    connect(m_pModel, &QAbstractItemModel::rowsInserted, this,
            [this] { m_buttons[kIdAutoSetting]->setEnabled(true); });
    connect(m_buttons[kIdSearch], &QPushButton::clicked, this, &MainWindow::onSearch);
    connect(m_buttons[kIdAutoSetting], &QPushButton::clicked, this, &MainWindow::onAutoSetting);
    connect(m_buttons[kIdManualSetting], &QPushButton::clicked, this, &MainWindow::onManualSetting);
    connect(m_buttons[kIdFirmCheck], &QPushButton::clicked, this, &MainWindow::onFirmCheck);
    connect(m_buttons[kIdFirmUpdate], &QPushButton::clicked, this, &MainWindow::onFirmUpdate);
    connect(m_buttons[kIdFactoryDefault], &QPushButton::clicked, this,
            &MainWindow::onFactoryDefault);
    connect(m_buttons[kIdCameraImage], &QPushButton::clicked, this, &MainWindow::onCameraImage);
    connect(m_buttons[kIdWebBrowser], &QPushButton::clicked, this, &MainWindow::onWebBrowser);
    buildSaveListAction();
}

void MainWindow::applyTexts() {
    QString title = text(u"MAIN_WINDOW", u"MAIN_TITLE");
    const std::u16string& version = m_core.version().display;
    if (!version.empty()) title += QLatin1Char(' ') + QString::fromStdU16String(version);
    setWindowTitle(title);
    for (const ButtonPlace& b : kButtons) m_buttons[b.id]->setText(text(u"MAIN_WINDOW", b.key));
    for (const LabelPlace& l : kLabels)
        if (l.key != nullptr) m_labels[l.id]->setText(text(u"MAIN_WINDOW", l.key));
    applyAddedTexts();
}

void MainWindow::setupColumns() {
    QStringList headers;
    for (const char16_t* key : kColumnKeys) headers << text(u"MAIN_WINDOW", key);
    m_pModel->setHeaderTexts(headers);
    m_pModel->setMakerHeader(text(u"MAIN_LIST", u"MAKER"));
    const auto widths = columnWidthsFor(m_core.updateEdition(), DialogUnits(font()).perUnitX());
    for (int c = 0; c < kListColumnCount; ++c)
        m_pList->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
    const int maker = std::max(
        m_pList->fontMetrics().horizontalAdvance(
            m_pModel->headerData(CameraTableModel::kMakerColumn, Qt::Horizontal).toString()) +
            24,
        widths[0] * 2);
    m_pList->setColumnWidth(CameraTableModel::kMakerColumn, maker);
    fitListToColumns();
}

void MainWindow::fitListToColumns() {
    // The window opens wide enough to show every column (as far as the screen allows): the
    // list grows by what its columns need, the buttons on the right move with its edge.
    int needed =
        2 * m_pList->frameWidth() + m_pList->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2;
    for (int c = 0; c < m_pModel->columnCount(); ++c) needed += m_pList->columnWidth(c);
    int delta = needed - m_pList->width();
    if (const QScreen* s = screen(); s != nullptr)
        delta = std::min(delta, s->availableGeometry().width() - 40 - width());
    if (delta <= 0) return;
    const int edge = DialogUnits(font()).rect(200, 0, 1, 1).x();
    for (const auto& [id, button] : m_buttons)
        if (button->x() > edge) button->move(button->x() + delta, button->y());
    m_pList->resize(m_pList->width() + delta, m_pList->height());
    setFixedSize(width() + delta, height());
}

void MainWindow::start() {
    if (m_bStarted) return;
    m_bStarted = true;
    QCoreApplication::processEvents();  // the splash paints before the first slow step
    m_core.readEditionAndSettings();
    m_core.createLog();
    for (const std::string& line : m_startupTraces) m_core.log().traceText(1, line);
    m_startupTraces.clear();
    m_core.loadTexts();
    applyTexts();
    QCoreApplication::processEvents();
    // The check may wait seconds for an echo reply: it runs off the GUI thread so that the
    // splash keeps painting, and start-up goes on when its result is posted back.
    m_checkTimer.start();
    m_checkThread = std::thread([this] {
        const StartupCheck check = m_core.checkNetwork();
        QMetaObject::invokeMethod(
            this, [this, check] { continueStartup(check); }, Qt::QueuedConnection);
    });
}

void MainWindow::continueStartup(StartupCheck check) {
    m_nNetworkCheckMs = m_checkTimer.elapsed();
    if (m_checkThread.joinable()) m_checkThread.join();
    if (check != StartupCheck::Pass) {
        m_ready.set();
        const QString message = QString::fromStdU16String(m_core.startupErrorText(check));
        m_messages.show(nullptr, BoxIcon::Error, text(u"ERROR_WINDOW", u"ERROR_TITLE"), message);
        emit startupFailed();
        // The program ends as if its window had been closed.
        QMetaObject::invokeMethod(
            this, [this] { finishProgram(1); }, Qt::QueuedConnection);
        return;
    }
    setupColumns();
    for (int id : {kIdManualSetting, kIdCameraImage, kIdWebBrowser, kIdAutoSetting, kIdFirmCheck})
        m_buttons[id]->setEnabled(false);
    const bool maintenance = m_core.updateEdition();
    m_buttons[kIdFirmCheck]->setVisible(maintenance);
    m_buttons[kIdFirmUpdate]->setVisible(maintenance);
    m_buttons[kIdFirmUpdate]->setEnabled(false);
    m_buttons[kIdFactoryDefault]->setVisible(m_core.showReset());
    setAttribute(Qt::WA_InputMethodEnabled, false);
    m_core.writeStartLines(this);
    m_bCloseEnabled = true;
    m_bReady = true;
    m_ready.set();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    // The offscreen platform (tests, scripted runs) has no stacking order to change.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        raise();
        activateWindow();
    }
    m_buttons[kIdSearch]->setFocus();
    emit ready();
    if (m_bStopRequested) requestStop();
}

QPushButton* MainWindow::button(int controlId) const {
    const auto it = m_buttons.find(controlId);
    return it == m_buttons.end() ? nullptr : it->second;
}

QLabel* MainWindow::label(int id) const {
    const auto it = m_labels.find(id);
    return it == m_labels.end() ? nullptr : it->second;
}

void MainWindow::setCounters(const CounterTexts& t) {
    m_labels[kIdCounterTotal]->setText(QString::fromStdU16String(t.total));
    m_labels[kIdCounterNew]->setText(QString::fromStdU16String(t.newCount));
    m_labels[kIdCounterOk]->setText(QString::fromStdU16String(t.ok));
    m_labels[kIdCounterAttention]->setText(QString::fromStdU16String(t.attention));
}

void MainWindow::updateSelectionButtons() {
    const bool any = m_pList->selectionModel()->hasSelection();
    // Another maker's camera: only its web pages (and the doctor) are ours to open.
    const bool onvif = any && m_pModel->onvifDevice(firstSelectedRow()) != nullptr;
    m_buttons[kIdManualSetting]->setEnabled(any && !onvif);
    m_buttons[kIdCameraImage]->setEnabled(any && !onvif);
    m_buttons[kIdWebBrowser]->setEnabled(any);
}

void MainWindow::showOnvifDevices(const std::vector<OnvifDevice>& devices) {
    std::vector<bool> alsoOnvif;
    m_pModel->setOnvifDevices(devicesBesides(devices, listedAddresses(m_core.list()), alsoOnvif));
    std::set<std::string> ours;
    for (std::size_t r = 0; r < alsoOnvif.size(); ++r)
        if (alsoOnvif[r]) ours.insert(toUtf8(m_core.list().cell(static_cast<int>(r), kColMac)));
    m_pModel->setAlsoOnvif(std::move(ours));
}

void MainWindow::sortByColumn(int column) {
    if (column < 0 || column >= kListColumnCount) return;
    // A column's first click sorts ascending; clicks on the same column flip the order.
    m_bSortAscending = column == m_nSortColumn ? !m_bSortAscending : true;
    m_nSortColumn = column;
    m_pModel->sortRows(column, m_bSortAscending);
    m_pList->horizontalHeader()->setSortIndicatorShown(true);
    m_pList->horizontalHeader()->setSortIndicator(
        column, m_bSortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

bool MainWindow::refreshRow(int row, const CameraEntry& entry) {
    return m_core.list().refreshRow(row, entry);
}

void MainWindow::onSearch() {
    if (m_pSearchWindow != nullptr || !m_bReady) return;
    for (int id : kSearchDisables) m_buttons[id]->setEnabled(false);
    m_bCloseEnabled = false;
    m_pModel->clearOnvifDevices();
    m_core.prepareSearch(this);
    m_pModel->clearFindingMarks();  // the doctor's marks were for the cameras found before
    setCounters({u"0", u"0", u"0", u"0"});
    // Other makers' ONVIF cameras are probed for during the same time.
    OnvifDiscovery onvif(m_core.clock(), m_core.log());
    if (m_core.onvifProbing()) onvif.start(m_core.adapters());

    SearchWindow window(m_core, m_events, this);
    m_pSearchWindow = &window;
    connect(&window, &SearchWindow::searchStarted, this,
            [this, &window] { emit searchWindowOpened(&window); });
    window.exec();
    m_pSearchWindow = nullptr;
    onvif.stop();
    showOnvifDevices(onvif.devices());
    emit searchFinished();
    if (m_bStopRequested) requestStop();
}

void MainWindow::handleSearchNotFound() {
    const QString message = text(u"ERROR_WINDOW", u"ERROR_SEARCH");
    if (message.isEmpty()) return;
    m_messages.show(this, BoxIcon::Warning, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"), message);
}

void MainWindow::handleSearchPortError(const QString& message) {
    // The event line was written by the search itself.
    m_messages.show(this, BoxIcon::Warning, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"), message);
}

void MainWindow::handleControlEnabled(int controlId, bool enabled) {
    if (QPushButton* b = button(controlId)) b->setEnabled(enabled);
}

void MainWindow::handleCloseEnabled(bool enabled) {
    m_bCloseEnabled = enabled;
}

void MainWindow::handleAddRow(int recordIndex) {
    m_core.onAddRow(recordIndex);
}

void MainWindow::handleReplaceRow(int rowRecord, int fromRecord) {
    m_core.onReplaceRow(rowRecord, fromRecord);
}

void MainWindow::handleMarkRows(int rowCount) {
    m_core.onMarkRows(rowCount);
}

void MainWindow::finishProgram(int exitCode) {
    if (m_bFinished) return;
    m_bFinished = true;
    m_nExitCode = exitCode;
    if (m_checkThread.joinable()) m_checkThread.join();
    if (m_doctorThread.joinable()) m_doctorThread.join();
    m_core.shutdown(this);
    hide();
    emit finished(exitCode);
}

void MainWindow::requestStop() {
    m_bStopRequested = true;
    if (!m_bReady) {
        // Still starting: the stop follows once the start-up check has answered (or the
        // failure path ends the program anyway).
        return;
    }
    if (m_pSearchWindow != nullptr) {
        // The search window closes as on a close from the system; onSearch calls us again.
        m_pSearchWindow->close();
        return;
    }
    if (m_bImageBusy) {
        // The image window closes; the button's work calls us again when it is over.
        if (m_pImageWindow != nullptr) m_pImageWindow->close();
        return;
    }
    if (m_bSettingBusy) {
        // The open setting dialog goes as by Cancel (a run is cancelled); the button's work
        // calls us again when it is over.
        if (m_pSettingDialog != nullptr) m_pSettingDialog->abandon();
        return;
    }
    if (m_bResetBusy) {
        // The question goes as by No; a running reset ends its passes. The button's work calls
        // us again when it is over.
        stopFactoryReset();
        return;
    }
    // The doctor's probes end within their time-outs; the doctor calls us again then.
    if (m_bDoctorBusy) return;
    if (m_core.searchRunning()) m_core.cancelSearch();
    finishProgram(0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_bDoctorBusy) {
        // The window closes once the doctor's bounded probes are over.
        m_bCloseAfterDoctor = true;
        event->ignore();
        return;
    }
    // Closing is refused while a search runs (the worker allows it again when it ends).
    if (!m_bCloseEnabled || m_pSearchWindow != nullptr || m_bSettingBusy || m_bResetBusy ||
        m_bImageBusy || !m_bReady) {
        event->ignore();
        return;
    }
    finishProgram(0);
    event->accept();
}

}  // namespace lanrove::ui
