// The main window's Auto setting and Manual setting buttons over a core with fake network
// parts: which dialogs a press opens and in what order, the login step by the camera's status
// and address, what the run is given, the trace lines, the close refused meanwhile, and the
// warning box after a run that could not listen or left a camera half set.
// Cameras that the login step must reach over HTTP are simulated on loopback addresses.
#include <QLabel>
#include <QTimer>
#include <atomic>
#include <cerrno>

#include "cgi/sim_helpers.h"
#include "ui/auto_setting_dialog.h"
#include "ui/login_dialog.h"
#include "ui/manual_setting_dialog.h"
#include "ui/settings_progress_window.h"
#include "ui_fixture.h"
#include "web_side.h"

namespace lanrove::ui::testing {
namespace {

class SettingButtonTest : public UiFixture {
  protected:
    using Step = std::function<void(QDialog&)>;

    ~SettingButtonTest() override {
        if (web) web->stop();
    }

    // Presses a button; each dialog the press opens goes to the next step once it is up. A
    // dialog without a step is left alone (the progress window ends with its run); a step that
    // leaves its dialog open is cut short after a while, so a fault fails instead of hanging.
    std::vector<QString> press(int id, std::vector<Step> steps) {
        std::vector<QString> opened;
        std::size_t next = 0;
        QMetaObject::Connection c = QObject::connect(
            window.get(), &MainWindow::settingDialogOpened, window.get(), [&](QDialog* d) {
                opened.push_back(d->objectName());
                if (next < steps.size()) {
                    Step s = steps[next++];
                    QTimer::singleShot(0, d, [s, d] { s(*d); });
                }
                QTimer::singleShot(10000, d, [d] {
                    ADD_FAILURE() << "dialog left open: " << d->objectName().toStdString();
                    static_cast<SettingDialog*>(d)->abandon();
                });
            });
        QTest::mouseClick(window->button(id), Qt::LeftButton);
        QObject::disconnect(c);
        return opened;
    }

    // A listed camera: the record as the receive thread would put it, its row, its status.
    void addCamera(const char* ip, bool factory, int port = 80) {
        const int index = core->store().m_nFindWrite;
        appendRecord(ip, 2, 201, factory);
        CameraEntry& e = record(index);
        setField(e.szPort, std::string_view(std::to_string(port)));
        // The camera's network settings as the PC's adapter has them.
        const AdapterEntry& pc = core->adapters().front();
        setField(e.szMask, pc.mask());
        setField(e.szGateway, pc.gateway());
        window->handleAddRow(index);
        window->handleMarkRows(index + 1);
    }

    // The web side of a camera on a loopback address with the given configuration account.
    int serveCamera(const std::string& ip, const char* user, const char* password) {
        fleet.cameras.push_back(::lanrove::testing::simCamera(ip, 2, "Gate"));
        fleet.cameras.back().admin = {user, password};
        web = std::make_unique<camsim::WebSide>(fleet, simLog, clock);
        EXPECT_TRUE(web->start());
        return fleet.cameras.back().port;
    }
    void setAccount(const char* user, const char* password) {
        std::lock_guard lock(fleet.mutex);
        fleet.cameras.back().admin = {user, password};
    }
    std::vector<std::string> loginUsers() const {
        std::vector<std::string> users;
        for (const auto& r : web->requests())
            if (r.program == "cgi-bin/lang.cgi") users.push_back(r.user);
        return users;
    }

    // Moves the PC onto a loopback subnet before start-up.
    void loopbackAdapter() {
        net.adapters.clear();
        net.adapters.push_back(makeAdapter("127.0.0.10", "255.0.0.0", "127.0.0.1", "lo"));
    }

    CameraEntry& record(int index) {
        return core->store().m_CamTable[static_cast<std::size_t>(index)];
    }

    TraceLog simLog;
    camsim::Fleet fleet;
    std::unique_ptr<camsim::WebSide> web;
};

const QString kAuto = QStringLiteral("autoSettingDialog");
const QString kLogin = QStringLiteral("loginDialog");
const QString kManual = QStringLiteral("manualSettingDialog");
const QString kProgress = QStringLiteral("settingsProgress");

TEST_F(SettingButtonTest, AutoSettingDoesNothingWithoutANewCamera) {
    startWindow(false);
    addCamera("192.168.0.20", false);
    EXPECT_TRUE(enabled(kIdAutoSetting));
    EXPECT_TRUE(press(kIdAutoSetting, {}).empty());
    EXPECT_EQ(logText().find("AutoSetting Set("), std::string::npos);
    EXPECT_EQ(core->settingsRun(), nullptr);
}

TEST_F(SettingButtonTest, AutoSettingAsksForTheRangeThenRunsUnderTheProgressWindow) {
    startWindow(false);
    addCamera("192.168.0.2", true);
    addCamera("192.168.0.30", false);
    QSignalSpy finished(window.get(), &MainWindow::settingFinished);
    bool closeRefused = false;
    QString start;
    boxes.queueAnswer(BoxAnswer::Yes);  // the question after the range
    const auto opened = press(kIdAutoSetting, {[&](QDialog& d) {
                                  auto& dlg = static_cast<CLanroveSet&>(d);
                                  start = dlg.startEdit()->text();
                                  closeRefused = !window->closeAllowed() && !window->close() &&
                                                 window->settingBusy();
                                  dlg.startEdit()->setText("192.168.0.20");
                                  QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
                              }});
    EXPECT_EQ(opened, (std::vector<QString>{kAuto, kProgress}));
    EXPECT_EQ(start, QStringLiteral("192.168.0.2"));
    EXPECT_TRUE(closeRefused);
    EXPECT_EQ(finished.count(), 1);
    ASSERT_NE(core->settingsRun(), nullptr);
    EXPECT_EQ(core->settingsRun()->mode(), RunMode::Auto);
    EXPECT_NE(logText().find("AutoSetting Set("), std::string::npos);
    EXPECT_TRUE(window->closeAllowed());
    EXPECT_FALSE(window->settingBusy());
}

TEST_F(SettingButtonTest, AutoSettingAsksHowManyNewCamerasAndWhichRangeAndSendsNothingOnNo) {
    startWindow(false);
    addCamera("192.168.0.2", true);
    addCamera("192.168.0.3", true);
    addCamera("192.168.0.30", false);
    boxes.clear();
    const int settingsBefore = transport.ipSettings.load();
    // The fixture's layer answers an unqueued question with No, as a person pressing Enter.
    const auto opened = press(kIdAutoSetting, {[&](QDialog& d) {
                                  auto& dlg = static_cast<CLanroveSet&>(d);
                                  dlg.startEdit()->setText("192.168.0.20");
                                  dlg.endEdit()->setText("192.168.0.40");
                                  QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
                              }});
    EXPECT_EQ(opened, (std::vector<QString>{kAuto}));
    const std::vector<BoxRecord> asked = boxes.boxes();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].icon, BoxIcon::Question);
    EXPECT_EQ(asked[0].title,
              QString::fromStdU16String(core->text(u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_TITLE")));
    EXPECT_TRUE(asked[0].text.startsWith(
        QStringLiteral("2 NEW camera(s) will get addresses from 192.168.0.20 to 192.168.0.40 on ")))
        << asked[0].text.toStdString();
    // The setting's own question and the account note stay as they are.
    EXPECT_TRUE(asked[0].text.contains(
        QString::fromStdU16String(core->text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_MSG1"))));
    EXPECT_TRUE(asked[0].text.contains(
        QString::fromStdU16String(core->text(u"CUSTOM_SETTING_WINDOW", u"ACCOUNT_IN_CLEAR"))));
    EXPECT_EQ(core->settingsRun(), nullptr);
    QTest::qWait(50);
    EXPECT_EQ(transport.ipSettings.load(), settingsBefore);
    EXPECT_NE(logText().find("AutoSetting Not Confirmed("), std::string::npos);
    EXPECT_TRUE(window->closeAllowed());
    EXPECT_FALSE(window->settingBusy());
}

TEST_F(SettingButtonTest, AutoSettingCancelledStartsNoRun) {
    startWindow(false);
    addCamera("192.168.0.2", true);
    const auto opened =
        press(kIdAutoSetting, {[](QDialog& d) {
                  QTest::mouseClick(static_cast<CLanroveSet&>(d).cancelButton(), Qt::LeftButton);
              }});
    EXPECT_EQ(opened, (std::vector<QString>{kAuto}));
    EXPECT_EQ(core->settingsRun(), nullptr);
    EXPECT_TRUE(window->closeAllowed());
}

TEST_F(SettingButtonTest, ManualSettingOfANewCameraSkipsTheLoginAndSendsTheDefaults) {
    startWindow(false);
    addCamera("192.168.0.20", false);
    addCamera("192.168.0.2", true);
    setField(record(1).szPort, std::string_view(""));  // a camera that did not say
    // The first selected row in list order is the one set, whatever order it was picked in.
    window->sortByColumn(kColIp);  // the NEW camera (.2) comes first
    window->listView()->selectRow(1);
    window->listView()->selectionModel()->select(
        window->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QString port;
    bool stillOpenAfterNo = false;
    const auto opened = press(kIdManualSetting, {[&](QDialog& d) {
                                  auto& dlg = static_cast<CSetCameraSts&>(d);
                                  port = dlg.portEdit()->text();
                                  boxes.queueAnswer(BoxAnswer::No);
                                  QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
                                  stillOpenAfterNo = dlg.isVisible();
                                  dlg.ipEdit()->setText("192.168.0.44");
                                  boxes.queueAnswer(BoxAnswer::Yes);
                                  QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
                              }});
    EXPECT_EQ(opened, (std::vector<QString>{kManual, kProgress}));
    EXPECT_EQ(port, QStringLiteral("80"));
    EXPECT_TRUE(stillOpenAfterNo);
    ASSERT_NE(core->settingsRun(), nullptr);
    EXPECT_EQ(core->settingsRun()->mode(), RunMode::Manual);
    // The account that reaches the camera now: the defaults, with the port filled in.
    const CameraEntry& login = core->loginEntry();
    EXPECT_EQ(fieldView(login.szNo), u"2");
    EXPECT_EQ(fieldView(login.szUser), u"vorly");
    EXPECT_EQ(fieldView(login.szPassword), u"vorly");
    EXPECT_EQ(fieldView(login.szPort), u"80");
    EXPECT_EQ(fieldView(login.szIp), u"192.168.0.2");
    EXPECT_NE(logText().find("ManualSetting Set("), std::string::npos);
    EXPECT_TRUE(window->closeAllowed());
}

TEST_F(SettingButtonTest, ManualSettingNeedsASelectedRow) {
    startWindow(false);
    addCamera("192.168.0.2", true);
    EXPECT_TRUE(press(kIdManualSetting, {}).empty());
    window->onManualSetting();  // also when called with the button disabled
    EXPECT_EQ(core->settingsRun(), nullptr);
}

TEST_F(SettingButtonTest, CameraOutsideTheSubnetGetsThePrefilledLoginWithoutARequest) {
    startWindow(false);
    addCamera("127.0.0.77", false);  // outside 192.168.0.0/24; loopback if anything were sent
    window->listView()->selectRow(0);
    QString user, reason, title;
    auto opened =
        press(kIdManualSetting,
              {[&](QDialog& d) {
                   auto& dlg = static_cast<CLogIn&>(d);
                   user = dlg.userEdit()->text();
                   reason = dlg.findChild<QLabel*>(QStringLiteral("loginReason"))->text();
                   title = dlg.windowTitle();
                   QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
               },
               [](QDialog& d) {
                   QTest::mouseClick(static_cast<CSetCameraSts&>(d).cancelButton(), Qt::LeftButton);
               }});
    EXPECT_EQ(opened, (std::vector<QString>{kLogin, kManual}));
    EXPECT_EQ(user, QStringLiteral("vorly"));
    // The dialog says which camera it is for and why it asks.
    EXPECT_TRUE(reason.contains(QStringLiteral("127.0.0.77"))) << reason.toStdString();
    EXPECT_TRUE(reason.contains(QStringLiteral("outside this PC's subnet")))
        << reason.toStdString();
    EXPECT_TRUE(title.contains(QStringLiteral("127.0.0.77"))) << title.toStdString();
    EXPECT_NE(logText().find("ManualSetting Set("), std::string::npos);
    EXPECT_EQ(core->settingsRun(), nullptr);

    // Cancel in the login step ends the whole setting.
    opened = press(kIdManualSetting, {[](QDialog& d) {
                       QTest::mouseClick(static_cast<CLogIn&>(d).cancelButton(), Qt::LeftButton);
                   }});
    EXPECT_EQ(opened, (std::vector<QString>{kLogin}));
    EXPECT_EQ(core->settingsRun(), nullptr);
}

TEST_F(SettingButtonTest, CameraWithStatusOkIsTriedWithTheDefaultAccountFirst) {
    loopbackAdapter();
    startWindow(false);
    const int port = serveCamera("127.0.0.60", "vorly", "vorly");
    addCamera("127.0.0.60", false, port);
    window->listView()->selectRow(0);

    // The default account works: no login dialog.
    auto opened =
        press(kIdManualSetting, {[](QDialog& d) {
                  QTest::mouseClick(static_cast<CSetCameraSts&>(d).cancelButton(), Qt::LeftButton);
              }});
    EXPECT_EQ(opened, (std::vector<QString>{kManual}));
    EXPECT_EQ(loginUsers(), (std::vector<std::string>{"vorly"}));

    // Refused: the login dialog opens empty and proves what is typed over HTTP.
    setAccount("admin", "secret12");
    web->clearRequests();
    QString userAtOpen = QStringLiteral("?");
    QString refusedReason;
    opened = press(
        kIdManualSetting,
        {[&](QDialog& d) {
             auto& dlg = static_cast<CLogIn&>(d);
             userAtOpen = dlg.userEdit()->text();
             refusedReason = dlg.findChild<QLabel*>(QStringLiteral("loginReason"))->text();
             dlg.userEdit()->setText("admin");
             dlg.passwordEdit()->setText("secret12");
             QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
         },
         [&](QDialog& d) {
             boxes.queueAnswer(BoxAnswer::Yes);
             QTest::mouseClick(static_cast<CSetCameraSts&>(d).executeButton(), Qt::LeftButton);
         }});
    EXPECT_EQ(opened, (std::vector<QString>{kLogin, kManual, kProgress}));
    EXPECT_TRUE(userAtOpen.isEmpty());
    EXPECT_TRUE(refusedReason.contains(QStringLiteral("refused the default account")))
        << refusedReason.toStdString();
    EXPECT_EQ(loginUsers(), (std::vector<std::string>{"vorly", "admin"}));
    EXPECT_EQ(fieldView(core->loginEntry().szUser), u"admin");
    EXPECT_EQ(fieldView(core->loginEntry().szPassword), u"secret12");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(SettingButtonTest, HeldReceivePortShowsTheErrorAndSendsNothing) {
    startWindow(false);
    addCamera("192.168.0.2", true);
    window->listView()->selectRow(0);
    transport.air.openError = EADDRINUSE;  // another program has port 10000
    QSignalSpy finished(window.get(), &MainWindow::settingFinished);
    boxes.clear();
    const auto opened = press(kIdManualSetting, {[&](QDialog& d) {
                                  auto& dlg = static_cast<CSetCameraSts&>(d);
                                  dlg.ipEdit()->setText("192.168.0.45");
                                  boxes.queueAnswer(BoxAnswer::Yes);
                                  QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
                              }});
    EXPECT_EQ(opened, (std::vector<QString>{kManual, kProgress}));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(transport.ipSettings.load(), 0);
    bool warned = false;
    for (const BoxRecord& box : boxes.boxes())
        warned = warned || (box.icon == BoxIcon::Warning &&
                            box.text.contains(QStringLiteral("cannot open port 10000")) &&
                            box.text.contains(QStringLiteral("nothing was sent")));
    EXPECT_TRUE(warned);
    EXPECT_NE(logText().find("Setting receive port open error = " + std::to_string(EADDRINUSE)),
              std::string::npos);
    // The list still shows the camera where it was.
    EXPECT_EQ(cellText(*window, 0, kColIp), QStringLiteral("192.168.0.2"));
    EXPECT_TRUE(window->closeAllowed());
}

TEST_F(SettingButtonTest, VersionOneCameraThatRefusesNetCgiIsListedAtItsNewAddressWithANote) {
    loopbackAdapter();
    startWindow(false);
    const int port = serveCamera("127.0.0.62", "vorly", "vorly");
    std::string mac;
    {
        std::lock_guard lock(fleet.mutex);
        camsim::SimCamera& cam = fleet.cameras.back();
        cam.protoVer = 1;
        cam.faults.insert("netrefuse");
        const std::uint8_t bytes[6] = {0x00, 0x1B, 0x7C, 0x00, 0x04, 0x01};
        std::copy(std::begin(bytes), std::end(bytes), std::begin(cam.mac));
        mac = dgram::macTextUpper(cam.mac);
    }
    appendRecord("127.0.0.62", 1, 201, false, "KT-100", mac.c_str());
    setField(record(0).szPort, std::string_view(std::to_string(port)));
    setField(record(0).szMask, std::string_view("255.0.0.0"));
    setField(record(0).szGateway, std::string_view("127.0.0.1"));
    setField(record(0).szTitle, std::string_view("Gate"));
    window->handleAddRow(0);
    window->handleMarkRows(1);
    // The camera takes the datagram: it moves, and answers 201 from its new address.
    std::atomic<int> sent{0};
    transport.onIpSetting = [&](const dgram::Datagram&) {
        if (++sent != 1) return;
        camsim::SimCamera moved;
        {
            std::lock_guard lock(fleet.mutex);
            fleet.cameras.back().ip = "127.0.0.63";
            moved = fleet.cameras.back();
        }
        if (fleet.onNetworkChanged) fleet.onNetworkChanged(0);
        const dgram::Datagram reply = camsim::encodeSetReply(moved, kResultAccepted);
        core->link().handleDatagram(reply.data(), reply.size());
    };
    window->listView()->selectRow(0);
    boxes.clear();
    const auto opened = press(kIdManualSetting, {[&](QDialog& d) {
                                  auto& dlg = static_cast<CSetCameraSts&>(d);
                                  dlg.ipEdit()->setText("127.0.0.63");
                                  boxes.queueAnswer(BoxAnswer::Yes);
                                  QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
                              }});
    transport.onIpSetting = nullptr;
    EXPECT_EQ(opened, (std::vector<QString>{kManual, kProgress}));
    EXPECT_EQ(cellText(*window, 0, kColIp), QStringLiteral("127.0.0.63"));
    EXPECT_EQ(cellText(*window, 0, kColStatus), QStringLiteral("CAUTION"));
    EXPECT_EQ(fieldUtf8(record(0).szTitle), "Gate");
    bool noted = false;
    for (const BoxRecord& box : boxes.boxes())
        noted = noted || (box.icon == BoxIcon::Warning &&
                          box.text.contains(QString::fromStdString(mac + " (127.0.0.63): ") +
                                            QLatin1String(kAddressOnlyText)));
    EXPECT_TRUE(noted);
    bool refused = false;
    for (const auto& r : web->requests())
        refused = refused || (r.program == "cgi-bin/net.cgi" && r.status == 403);
    EXPECT_TRUE(refused);
    EXPECT_NE(logText().find(kAddressOnlyText), std::string::npos);
}

TEST_F(SettingButtonTest, StopRequestDuringADialogEndsTheSettingThenTheProgram) {
    startWindow(false);
    addCamera("192.168.0.2", true);
    QSignalSpy finishedProgram(window.get(), &MainWindow::finished);
    window->listView()->selectRow(0);
    const auto opened = press(kIdManualSetting, {[&](QDialog&) { window->requestStop(); }});
    EXPECT_EQ(opened, (std::vector<QString>{kManual}));
    EXPECT_EQ(core->settingsRun(), nullptr);
    EXPECT_TRUE(finishedProgram.count() == 1 || finishedProgram.wait(3000));
}

}  // namespace
}  // namespace lanrove::ui::testing
