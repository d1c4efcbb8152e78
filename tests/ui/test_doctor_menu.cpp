// The desktop program's doctor summary and "Save report...", against cameras served on
// loopback only: one healthy, one whose web port is closed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cgi/sim_helpers.h"
#include "ui/camera_table_model.h"
#include "ui_fixture.h"
#include "web_side.h"

namespace lanrove::ui::testing {
namespace {

class DoctorMenuTest : public UiFixture {
  protected:
    DoctorMenuTest() {
        // Every probe stays on loopback: the adapter is loopback's, without a gateway.
        net.adapters.clear();
        net.adapters.push_back(makeAdapter("127.0.0.1", "255.0.0.0", "0.0.0.0", "lo"));
    }
    ~DoctorMenuTest() override {
        if (web) web->stop();
    }
    int addCamera(const std::string& ip, const std::string& port, const char* mac) {
        const int index = core->store().m_nFindWrite;
        appendRecord(ip.c_str(), 2, 201, false, "KT-100", mac);
        CameraEntry& e = core->store().m_CamTable[static_cast<std::size_t>(index)];
        setField(e.szPort, std::string_view(port));
        setField(e.szMask, std::string_view("255.0.0.0"));
        window->handleAddRow(index);
        window->handleMarkRows(index + 1);
        return core->list().rowCount() - 1;
    }
    TraceLog simLog;
    camsim::Fleet fleet;
    std::unique_ptr<camsim::WebSide> web;
};

TEST_F(DoctorMenuTest, SummaryNamesTheClosedPortAndTheReportHasBothCameras) {
    camsim::SimCamera healthy = ::lanrove::testing::simCamera("127.0.0.121", 2, "Cam");
    healthy.admin = {"vorly", "vorly"};  // the cameras' default login
    fleet.cameras.push_back(healthy);
    web = std::make_unique<camsim::WebSide>(fleet, simLog, clock);
    ASSERT_TRUE(web->start());
    startWindow();
    const int port = fleet.cameras[0].port;
    addCamera("127.0.0.121", std::to_string(port), "00:1B:7C:00:07:01");
    // Nothing listens on 127.0.0.122 at that port: the connection is refused.
    addCamera("127.0.0.122", std::to_string(port), "00:1B:7C:00:07:02");

    QString shown;
    QObject::connect(window.get(), &MainWindow::doctorDialogOpened, window.get(), [&](QDialog* d) {
        shown = d->findChild<QPlainTextEdit*>(QStringLiteral("doctorFindings"))->toPlainText();
        QTimer::singleShot(0, d, &QDialog::reject);
    });
    window->diagnose(-1);
    EXPECT_TRUE(shown.contains(QStringLiteral("camera-http-closed"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("00:1B:7C:00:07:02"))) << shown.toStdString();
    EXPECT_FALSE(shown.contains(QStringLiteral("00:1B:7C:00:07:01"))) << shown.toStdString();

    shown.clear();
    window->diagnose(0);  // the healthy row alone
    EXPECT_FALSE(shown.contains(QStringLiteral("camera-"))) << shown.toStdString();

    // Once the F/W check has marked the camera in the core's table, the doctor says so.
    {
        std::lock_guard lock(core->store().m_csCamTable);
        core->store().m_CamTable[0].wFirmStatus = kFirmStatusUpdateReady;
    }
    shown.clear();
    window->diagnose(0);
    EXPECT_TRUE(shown.contains(QStringLiteral("camera-firmware-ready"))) << shown.toStdString();

    const std::string file = (dir.path() / "site.html").string();
    ASSERT_TRUE(window->saveReport(QString::fromStdString(file), false));
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string html = ss.str();
    EXPECT_NE(html.find("00:1B:7C:00:07:01"), std::string::npos);
    EXPECT_NE(html.find("camera-http-closed"), std::string::npos);
    EXPECT_FALSE(window->saveReport(
        QString::fromStdString((dir.path() / "no/such/x.html").string()), false));
}

// A camera the list shows OK but the doctor cannot reach carries a mark with the finding; the
// diagnosis of one camera names it; a new search clears the marks.
TEST_F(DoctorMenuTest, DiagnoseMarksTheUnreachableRowAndNamesTheCamera) {
    camsim::SimCamera healthy = ::lanrove::testing::simCamera("127.0.0.124", 2, "Cam");
    healthy.admin = {"vorly", "vorly"};
    fleet.cameras.push_back(healthy);
    web = std::make_unique<camsim::WebSide>(fleet, simLog, clock);
    ASSERT_TRUE(web->start());
    startWindow();
    const int port = fleet.cameras[0].port;
    const int good = addCamera("127.0.0.124", std::to_string(port), "00:1B:7C:00:07:04");
    const int closed = addCamera("127.0.0.125", std::to_string(port), "00:1B:7C:00:07:05");
    QString title;
    QObject::connect(window.get(), &MainWindow::doctorDialogOpened, window.get(), [&](QDialog* d) {
        title = d->windowTitle();
        QTimer::singleShot(0, d, &QDialog::reject);
    });
    window->diagnose(closed);
    EXPECT_TRUE(title.contains(QStringLiteral("00:1B:7C:00:07:05"))) << title.toStdString();
    EXPECT_TRUE(title.contains(QStringLiteral("127.0.0.125"))) << title.toStdString();
    CameraTableModel* model = window->model();
    const QModelIndex status = model->index(closed, kColStatus);
    EXPECT_TRUE(model->data(status, Qt::ToolTipRole).toString().contains("camera-http-closed"));
    EXPECT_FALSE(model->data(status, Qt::DecorationRole).isNull());
    EXPECT_TRUE(model->data(model->index(good, kColStatus), Qt::DecorationRole).isNull());
    window->diagnose(-1);
    EXPECT_FALSE(title.contains(QStringLiteral("00:1B:7C")));  // all cameras: none named
    EXPECT_FALSE(model->data(status, Qt::DecorationRole).isNull());
    model->clearFindingMarks();
    EXPECT_TRUE(model->data(status, Qt::DecorationRole).isNull());
}

// In a Japanese window the findings read in Japanese, in the summary and in the row's mark;
// the codes stay as they are.
TEST_F(DoctorMenuTest, FindingsReadInTheWindowsLanguage) {
    langId = kLangIdJapanese;
    startWindow();
    const int closed = addCamera("127.0.0.126", "1", "00:1B:7C:00:07:06");
    QString shown;
    QObject::connect(window.get(), &MainWindow::doctorDialogOpened, window.get(), [&](QDialog* d) {
        shown = d->findChild<QPlainTextEdit*>(QStringLiteral("doctorFindings"))->toPlainText();
        QTimer::singleShot(0, d, &QDialog::reject);
    });
    window->diagnose(closed);
    EXPECT_TRUE(shown.contains(QStringLiteral("camera-http-closed"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("127.0.0.126:1 への TCP 接続が拒否されました")))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("[エラー]"))) << shown.toStdString();
    EXPECT_FALSE(shown.contains(QStringLiteral("refused"))) << shown.toStdString();
    const QString mark = window->model()
                             ->data(window->model()->index(closed, kColStatus), Qt::ToolTipRole)
                             .toString();
    EXPECT_TRUE(mark.contains(QStringLiteral("への TCP 接続が拒否されました")))
        << mark.toStdString();
}

// Save report: the PDF filter with a name without extension writes NAME.pdf, the confirmation
// names the path, and the next dialog opens in that folder.
TEST_F(DoctorMenuTest, SaveReportWithThePdfFilterAddsTheExtensionAndConfirmsThePath) {
    camsim::SimCamera cam = ::lanrove::testing::simCamera("127.0.0.123", 2, "Cam");
    cam.admin = {"vorly", "vorly"};
    fleet.cameras.push_back(cam);
    web = std::make_unique<camsim::WebSide>(fleet, simLog, clock);
    ASSERT_TRUE(web->start());
    startWindow();
    EXPECT_EQ(window->lastFolder(), QDir::homePath());
    addCamera("127.0.0.123", std::to_string(fleet.cameras[0].port), "00:1B:7C:00:07:03");
    const std::filesystem::path folder = dir.path() / "reports";
    std::filesystem::create_directories(folder);
    QString offeredFolder, offeredFilter;
    window->setReportFileChooser([&](QWidget*, const QString&, const QString& suggested,
                                     const QString& filter, QString* selected) {
        offeredFolder = QFileInfo(suggested).absolutePath();
        offeredFilter = filter;
        *selected = QStringLiteral("PDF document (*.pdf)");
        return QString::fromStdString((folder / "handover").string());
    });
    std::vector<int> progress;
    QObject::connect(window.get(), &MainWindow::reportProgressOpened, window.get(),
                     [&](QWidget*) { progress.push_back(1); });
    boxes.queueAnswer(BoxAnswer::Ok);
    window->saveReportPicturesAction()->trigger();
    const std::filesystem::path pdf = folder / "handover.pdf";
    ASSERT_TRUE(std::filesystem::exists(pdf));
    EXPECT_FALSE(std::filesystem::exists(folder / "handover"));
    std::ifstream in(pdf, std::ios::binary);
    char head[5] = {};
    in.read(head, 4);
    EXPECT_EQ(std::string(head), "%PDF");
    EXPECT_TRUE(offeredFilter.contains(QStringLiteral("*.pdf")));
    EXPECT_EQ(progress.size(), 1u) << "the picture progress was shown";
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_TRUE(boxes.boxes().back().text.contains(QString::fromStdString(pdf.string())))
        << boxes.boxes().back().text.toStdString();
    // The next report dialog opens where the last one saved.
    window->setReportFileChooser(
        [&](QWidget*, const QString&, const QString& suggested, const QString&, QString*) {
            offeredFolder = QFileInfo(suggested).absolutePath();
            return QString();
        });
    window->saveReportAction()->trigger();
    EXPECT_EQ(offeredFolder, QString::fromStdString(folder.string()));
}

// A web port on loopback that takes connections and never answers.
class SilentPort {
  public:
    explicit SilentPort(const char* ip) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, ip, &a.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(m_fd, 8) == 0) {
            socklen_t len = sizeof a;
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
            m_port = ntohs(a.sin_port);
        }
    }
    ~SilentPort() { ::close(m_fd); }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    int port() const { return m_port; }

  private:
    int m_fd = -1;
    int m_port = 0;
};

TEST_F(DoctorMenuTest, WindowKeepsPaintingWhileASilentCameraIsDiagnosed) {
    const SilentPort silent("127.0.0.131");
    ASSERT_GT(silent.port(), 0);
    startWindow();
    addCamera("127.0.0.131", std::to_string(silent.port()), "00:1B:7C:00:07:31");

    // The entries live on the list's context menu; Diagnose needs a selected row.
    EXPECT_EQ(window->listView()->contextMenuPolicy(), Qt::ActionsContextMenu);
    const QList<QAction*> actions = window->listView()->actions();
    for (QAction* a :
         {window->diagnoseAction(), window->diagnoseAllAction(), window->saveReportAction()})
        EXPECT_TRUE(actions.contains(a));
    EXPECT_FALSE(window->diagnoseAction()->isEnabled());
    EXPECT_TRUE(window->diagnoseAllAction()->isEnabled());
    window->listView()->selectRow(0);
    EXPECT_TRUE(window->diagnoseAction()->isEnabled());

    int ticks = 0;
    bool entriesOffWhileBusy = true;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, window.get(), [&] {
        if (!window->doctorBusy()) return;
        ++ticks;
        entriesOffWhileBusy = entriesOffWhileBusy && !window->diagnoseAction()->isEnabled() &&
                              !window->diagnoseAllAction()->isEnabled() &&
                              !window->saveReportAction()->isEnabled();
    });
    timer.start(5);
    QString shown;
    QObject::connect(window.get(), &MainWindow::doctorDialogOpened, window.get(), [&](QDialog* d) {
        shown = d->findChild<QPlainTextEdit*>(QStringLiteral("doctorFindings"))->toPlainText();
        QTimer::singleShot(0, d, &QDialog::reject);
    });
    window->diagnoseAction()->trigger();
    timer.stop();
    // The HTTP waits (scaled) took a while: the window's timers fired meanwhile.
    EXPECT_GE(ticks, 5);
    EXPECT_TRUE(entriesOffWhileBusy);
    EXPECT_FALSE(window->doctorBusy());
    EXPECT_TRUE(window->diagnoseAllAction()->isEnabled());
    EXPECT_TRUE(shown.contains(QStringLiteral("camera-http-silent"))) << shown.toStdString();
}

}  // namespace
}  // namespace lanrove::ui::testing
