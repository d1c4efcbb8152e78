// The main window's Camera Image and Web Browser buttons: the overlap check, the table entry's
// defaults and viewer account, the login check, the image window's pictures until the camera
// stops, and the URL handed to the browser.
//
// The cameras are served in-process on loopback addresses. With LANROVE_LAB_CAMERAS set, the
// lab's simulator serves them instead on 192.168.0.x (port 80) with the same faults: the lab
// test runs this program on the lab's PC with that variable (see test_lab_image.cpp).
#include <QClipboard>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "cgi/sim_helpers.h"
#include "ui/image_window.h"
#include "ui_fixture.h"
#include "web_side.h"

namespace lanrove::ui::testing {
namespace {

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1))
        ++n;
    return n;
}

bool labMode() {
    return std::getenv("LANROVE_LAB_CAMERAS") != nullptr;
}

class ImageButtonTest : public UiFixture {
  protected:
    ~ImageButtonTest() override {
        if (web) web->stop();
    }

    // Camera number `n`: 192.168.0.n in the lab, 127.0.0.(100+n) on loopback.
    static std::string ipOf(int n) {
        return labMode() ? "192.168.0." + std::to_string(n) : "127.0.0." + std::to_string(100 + n);
    }

    // A simulated camera (loopback only; the lab's fleet file has the same ones). Port 0
    // picks a free one.
    int serve(int n, const std::vector<std::string>& faults, int port = 0) {
        if (labMode()) return 80;
        camsim::SimCamera c = ::lanrove::testing::simCamera(ipOf(n), 2, "Cam");
        if (port != 0) c.port = port;
        for (const std::string& f : faults) {
            const std::size_t eq = f.find('=');
            c.faults.insert(f.substr(0, eq));
            if (eq != std::string::npos) c.faultArgs[f.substr(0, eq)] = f.substr(eq + 1);
        }
        fleet.cameras.push_back(c);
        return c.port;
    }
    void startWeb() {
        if (labMode()) return;
        web = std::make_unique<camsim::WebSide>(fleet, simLog, clock);
        ASSERT_TRUE(web->start());
    }

    // A listed camera with its row; returns the row.
    int addCamera(const std::string& ip, const std::string& port, const char* title,
                  const char* ssl = "0") {
        const int index = core->store().m_nFindWrite;
        appendRecord(ip.c_str(), 2, 201, false);
        CameraEntry& e = core->store().m_CamTable[static_cast<std::size_t>(index)];
        setField(e.szPort, std::string_view(port));
        setField(e.szSsl, std::string_view(ssl));
        setField(e.szTitle, std::string_view(title));
        window->handleAddRow(index);
        window->handleMarkRows(index + 1);
        return core->list().rowCount() - 1;
    }
    CameraEntry& record(int index) {
        return core->store().m_CamTable[static_cast<std::size_t>(index)];
    }

    void select(int row) {
        window->listView()->clearSelection();
        window->listView()->selectRow(row);
    }

    // Presses a button; `onWindow` runs once the image window is up.
    void press(int id, std::function<void(CChangeSts&)> onWindow = {}) {
        QMetaObject::Connection c = QObject::connect(
            window.get(), &MainWindow::imageWindowOpened, window.get(), [&](CChangeSts* w) {
                ++windowsOpened;
                if (onWindow) onWindow(*w);
                // A fault must fail the test, not hang it.
                QTimer::singleShot(15000, w, [w] {
                    ADD_FAILURE() << "image window left open";
                    w->done(0);
                });
            });
        QTest::mouseClick(window->button(id), Qt::LeftButton);
        QObject::disconnect(c);
    }

    int windowsOpened = 0;
    TraceLog simLog;
    camsim::Fleet fleet;
    std::unique_ptr<camsim::WebSide> web;
};

TEST_F(ImageButtonTest, WindowShowsChangingPicturesAndClosesWhenTheCameraStops) {
    const int port = serve(71, {"imagestop=3"});
    startWeb();
    startWindow();
    select(addCamera(ipOf(71), std::to_string(port), "Yard"));
    ASSERT_TRUE(enabled(kIdCameraImage));

    std::vector<QImage> pictures;
    std::vector<qint64> times;
    QElapsedTimer opened;
    QString title;
    press(kIdCameraImage, [&](CChangeSts& w) {
        opened.start();
        title = w.windowTitle();
        QObject::connect(&w, &CChangeSts::pictureShown, &w, [&, pw = &w] {
            pictures.push_back(pw->picture());
            times.push_back(opened.elapsed());
        });
    });
    EXPECT_EQ(windowsOpened, 1);
    EXPECT_EQ(title, QString::fromStdString(ipOf(71) + " ( Yard ) "));
    ASSERT_GE(pictures.size(), 2u);
    EXPECT_FALSE(pictures[0].isNull());
    EXPECT_NE(pictures[0], pictures[1]);
    EXPECT_LT(times[1], 2000);
    // One error box after the camera stopped, and the event line.
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text.toStdU16String(), core->text(u"ERROR_WINDOW", u"ERROR_CONNECT"));
    const std::string log = logText();
    EXPECT_NE(log.find("Failed in the connection of the camera"), std::string::npos) << log;
}

TEST_F(ImageButtonTest, EmptyPortUsesPort80AndTheDefaultsStayInTheTable) {
    if (!labMode() && ::lanrove::testing::freePort(ipOf(72)) == 0) GTEST_SKIP() << "no loopback";
    serve(72, {}, 80);
    startWeb();
    startWindow();
    const int row = addCamera(ipOf(72), "", "Porch", "");
    select(row);
    press(kIdCameraImage, [](CChangeSts& w) {
        QObject::connect(&w, &CChangeSts::pictureShown, &w, [pw = &w] { pw->done(0); });
    });
    EXPECT_EQ(windowsOpened, 1);
    EXPECT_TRUE(boxes.boxes().empty());
    const CameraEntry& e = record(row);
    EXPECT_EQ(fieldView(e.szPort), u"80");
    EXPECT_EQ(fieldView(e.szSsl), u"0");
    EXPECT_EQ(fieldView(e.szUser), u"pelma");
    EXPECT_EQ(fieldView(e.szPassword), u"pelma");
    if (web) {
        bool sawPicture = false;
        for (const auto& r : web->requests()) {
            EXPECT_EQ(r.user, "pelma") << r.program;
            sawPicture = sawPicture || (r.program == "liveimg.cgi" && r.status == 200);
        }
        EXPECT_TRUE(sawPicture);
    }
}

TEST_F(ImageButtonTest, SameAddressTwiceRefusesBothButtons) {
    startWindow();
    std::vector<QUrl> opened;
    window->setUrlOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    const int first = addCamera(ipOf(73), "80", "Left");
    addCamera(ipOf(73), "80", "Right");
    select(first);
    press(kIdCameraImage);
    press(kIdWebBrowser);
    EXPECT_EQ(windowsOpened, 0);
    EXPECT_TRUE(opened.empty());
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& b : shown) {
        EXPECT_EQ(b.text.toStdU16String(), core->text(u"ERROR_WINDOW", u"ERROR_IP_ADDRESS"));
        EXPECT_EQ(b.title.toStdU16String(), core->text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"));
    }
    // Only the browser writes the event line, naming the other camera.
    const std::string log = logText();
    EXPECT_EQ(countOf(log, "Overlapped IP addresses"), 1u) << log;
    EXPECT_NE(log.find("warn\tuser\t"), std::string::npos) << log;
    EXPECT_NE(log.find("Right"), std::string::npos) << log;
    // The table entry was not touched.
    EXPECT_EQ(fieldView(record(first).szUser), u"");
}

TEST_F(ImageButtonTest, CameraThatDoesNotAnswerOpensNoWindow) {
    startWindow();
    const int port = ::lanrove::testing::freePort(ipOf(74));  // nothing listens there
    select(addCamera(ipOf(74), std::to_string(port), "Gone"));
    press(kIdCameraImage);
    EXPECT_EQ(windowsOpened, 0);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text.toStdU16String(), core->text(u"ERROR_WINDOW", u"ERROR_CONNECT"));
    EXPECT_NE(logText().find("Failed in the connection of the camera"), std::string::npos);
}

TEST_F(ImageButtonTest, BrowserGetsTheCameraUrl) {
    startWindow();
    std::vector<QUrl> opened;
    window->setUrlOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    const int secure = addCamera("192.168.0.91", "8443", "Secure", "1");
    const int plain = addCamera("192.168.0.92", "80", "Plain");
    select(secure);
    press(kIdWebBrowser);
    select(plain);
    press(kIdWebBrowser);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].toString(), QStringLiteral("https://192.168.0.91:8443/"));
    EXPECT_EQ(opened[1].toString(), QStringLiteral("http://192.168.0.92:80/"));
    EXPECT_TRUE(boxes.boxes().empty());
    // Without a selection nothing happens.
    window->listView()->clearSelection();
    window->onWebBrowser();
    EXPECT_EQ(opened.size(), 2u);
}

// With no browser on the PC, the camera's address is shown to copy, with the reason, and the
// event log says so.
TEST_F(ImageButtonTest, BrowserMissingShowsTheUrlToCopy) {
    startWindow();
    window->setUrlOpener([](const QUrl&) { return false; });
    QString shown, reason;
    QObject::connect(window.get(), &MainWindow::urlBoxOpened, window.get(), [&](QDialog* d) {
        auto* edit = d->findChild<QLineEdit*>(QStringLiteral("urlText"));
        ASSERT_NE(edit, nullptr);
        shown = edit->text();
        for (auto* label : d->findChildren<QLabel*>()) reason += label->text();
        auto* copy = d->findChild<QPushButton*>(QStringLiteral("urlCopy"));
        ASSERT_NE(copy, nullptr);
        copy->click();
        QTimer::singleShot(0, d, &QDialog::reject);
    });
    select(addCamera("192.168.0.93", "8080", "Yard"));
    press(kIdWebBrowser);
    EXPECT_EQ(shown, QStringLiteral("http://192.168.0.93:8080/"));
    EXPECT_TRUE(reason.contains(QStringLiteral("No web browser"))) << reason.toStdString();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shown);
    EXPECT_NE(logText().find("No web browser could be opened"), std::string::npos);
}

}  // namespace
}  // namespace lanrove::ui::testing

namespace lanrove::ui::testing {
namespace {

OnvifDevice onvifDevice(const std::string& ip, const std::string& maker) {
    OnvifDevice d;
    d.match.endpoint = "urn:uuid:" + ip;
    d.match.maker = maker;
    d.match.model = "X1";
    d.match.name = "Gate";
    d.match.address = ip;
    d.match.port = 8080;
    d.match.scheme = "http";
    d.match.xaddrs = {"http://" + ip + ":8080/onvif/device_service"};
    d.sourceIp = ip;
    return d;
}

// Other makers' cameras in the list: after ours, status ONVIF, their maker in the Maker column;
// only the browser (at their service's host) and the doctor are on for them. One of ours that
// also answered as an ONVIF device is not listed twice.
TEST_F(ImageButtonTest, OnvifRowsShowTheirMakerAndOnlyTheBrowserIsOn) {
    startWindow();
    std::vector<QUrl> opened;
    window->setUrlOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    const int ours = addCamera("192.168.0.94", "80", "Dock");
    window->showOnvifDevices(
        {onvifDevice("192.168.0.95", "Acme"), onvifDevice("192.168.0.94", "")});
    CameraTableModel* model = window->model();
    ASSERT_EQ(model->rowCount(), 2);
    const int other = 1;
    EXPECT_EQ(model->headerData(CameraTableModel::kMakerColumn, Qt::Horizontal).toString(),
              QStringLiteral("Maker"));
    EXPECT_EQ(model->index(other, kColStatus).data().toString(), QStringLiteral("ONVIF"));
    EXPECT_EQ(model->index(other, CameraTableModel::kMakerColumn).data().toString(),
              QStringLiteral("Acme"));
    EXPECT_EQ(model->index(other, kColIp).data().toString(), QStringLiteral("192.168.0.95"));
    EXPECT_EQ(model->index(ours, CameraTableModel::kMakerColumn).data().toString(),
              QStringLiteral("Lanrove (ONVIF)"));

    select(other);
    EXPECT_FALSE(enabled(kIdManualSetting));
    EXPECT_FALSE(enabled(kIdCameraImage));
    EXPECT_TRUE(enabled(kIdWebBrowser));
    press(kIdWebBrowser);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), QStringLiteral("http://192.168.0.95:8080/"));
    // Sorting moves our rows only; the other maker's row stays after them.
    window->sortByColumn(kColIp);
    EXPECT_EQ(model->index(1, kColStatus).data().toString(), QStringLiteral("ONVIF"));

    select(ours);
    EXPECT_TRUE(enabled(kIdManualSetting));
    EXPECT_TRUE(enabled(kIdCameraImage));
    window->showOnvifDevices({});
    EXPECT_EQ(model->rowCount(), 1);
}

}  // namespace
}  // namespace lanrove::ui::testing
