// The address field and the three dialogs of the IP setting: what they open with, the checks
// of Execute with their focus, event lines and boxes, the confirmation, and the keys.
#include <QSignalSpy>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "discovery/ipv4_address.h"
#include "setting_dialog_fixture.h"
#include "ui/auto_setting_dialog.h"
#include "ui/ip_address_edit.h"
#include "ui/login_dialog.h"
#include "ui/manual_setting_dialog.h"

namespace lanrove::ui::testing {
namespace {

QString errorText(const char* key) {
    LangTable t;
    t.loadMain(kLangIdEnglish, "/nonexistent/Language.ini");
    return QString::fromStdString(t.text("ERROR_WINDOW", key));
}

// ---- Address field ----

TEST(IpAddressEditTest, TakesOnlyWhatCanGrowIntoAnAddress) {
    IpAddressEdit edit;
    QSignalSpy changed(&edit, &IpAddressEdit::addressChanged);
    QTest::keyClicks(&edit, "192.168.0.77");
    EXPECT_EQ(changed.count(), 12);  // one notification per typed character
    EXPECT_EQ(edit.address(), ipv4::fromText(std::string_view("192.168.0.77")));
    EXPECT_EQ(edit.addressText(), u"192.168.0.77");

    edit.clear();
    QTest::keyClicks(&edit, "1a9.2..56.300.4.5");  // letters, an empty field, 300, a fifth field
    EXPECT_EQ(edit.text(), QStringLiteral("19.2.56.30"));

    // Blank and unfinished addresses read as 0; the text stays as typed.
    edit.clear();
    EXPECT_EQ(edit.address(), 0u);
    EXPECT_EQ(edit.addressText(), u"");
    QTest::keyClicks(&edit, "10.0.0.");
    EXPECT_EQ(edit.address(), 0u);
    EXPECT_EQ(edit.addressText(), u"10.0.0.");

    edit.setAddress(0);
    EXPECT_TRUE(edit.text().isEmpty());
    edit.setAddress(0xC0A800FEu);
    EXPECT_EQ(edit.text(), QStringLiteral("192.168.0.254"));
}

// ---- Automatic setting range ----

class AutoDialogTest : public SettingDialogFixture {};

TEST_F(AutoDialogTest, OpensWithItsTextsAndTheStartAboveTheGateway) {
    CLanroveSet dlg(services(), adapter);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("AUTO SETTING"));
    EXPECT_EQ(dlg.executeButton()->text(), QStringLiteral("Execute"));
    EXPECT_EQ(dlg.cancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(kIdAutoFromCaption))->text(),
              QStringLiteral("from"));
    EXPECT_EQ(dlg.startEdit()->text(), QStringLiteral("192.168.0.2"));
    EXPECT_TRUE(dlg.endEdit()->text().isEmpty());
    EXPECT_EQ(dlg.control(kIdAutoStart), dlg.startEdit());

    // Without a gateway the start opens one above the network address.
    AdapterEntry noGateway = ::lanrove::testing::makeAdapter("192.168.0.10");
    CLanroveSet other(services(), noGateway);
    EXPECT_EQ(other.startEdit()->text(), QStringLiteral("192.168.0.1"));
}

TEST_F(AutoDialogTest, StartIsPulledIntoTheSubnetOnEveryChangeEndIsNot) {
    CLanroveSet dlg(services(), adapter);
    dlg.show();
    retype(dlg.startEdit(), "10.0.0.5");
    EXPECT_EQ(dlg.startEdit()->text(), QStringLiteral("192.168.0.1"));
    retype(dlg.startEdit(), "192.168.1.7");
    EXPECT_EQ(dlg.startEdit()->text(), QStringLiteral("192.168.0.254"));
    retype(dlg.startEdit(), "192.168.0.37");  // inside: kept as typed
    EXPECT_EQ(dlg.startEdit()->text(), QStringLiteral("192.168.0.37"));
    retype(dlg.endEdit(), "10.0.0.5");
    EXPECT_EQ(dlg.endEdit()->text(), QStringLiteral("10.0.0.5"));
}

TEST_F(AutoDialogTest, IllegalRangesKeepTheDialogOpenWithFocusAndMessage) {
    CLanroveSet dlg(services(), adapter);
    dlg.show();
    const QString illegal = errorText("ERROR_ID_PASSWORD");
    struct Case {
        const char* start;
        const char* end;
        QWidget* focus;
        QString box;
    } cases[] = {
        {"", "", dlg.startEdit(), illegal},                             // blank start
        {"192.168.0.", "", dlg.startEdit(), illegal},                   // unfinished start
        {"192.168.0.30", "192.168.0.20", dlg.endEdit(), illegal},       // end below start
        {"192.168.0.30", "192.168.1.20", dlg.endEdit(), illegal},       // end outside
        {"192.168.0.30", "192.168.0.", dlg.endEdit(), illegal},         // unfinished end
        {"192.168.0.0", "", dlg.startEdit(), errorText("ERROR_IP")},    // network address
        {"192.168.0.255", "", dlg.startEdit(), errorText("ERROR_IP")},  // broadcast address
    };
    for (const Case& c : cases) {
        boxes.clear();
        dlg.startEdit()->setText(QString::fromLatin1(c.start));
        dlg.endEdit()->setText(QString::fromLatin1(c.end));
        dlg.endEdit()->setFocus();
        if (c.focus == dlg.endEdit()) dlg.startEdit()->setFocus();
        QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
        EXPECT_TRUE(dlg.isVisible()) << c.start << " " << c.end;
        EXPECT_EQ(dlg.focusWidget(), c.focus) << c.start << " " << c.end;
        ASSERT_EQ(boxes.boxes().size(), 1u) << c.start << " " << c.end;
        EXPECT_EQ(boxes.boxes()[0].text, c.box) << c.start << " " << c.end;
        EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("Err"));
        EXPECT_EQ(boxes.boxes()[0].icon, BoxIcon::Warning);
        EXPECT_TRUE(dlg.candidates().empty());
    }
    EXPECT_TRUE(hasEventLine("The automatic setting is illegal", ""));
    EXPECT_TRUE(hasEventLine("The IP address setting is illegal", ""));
}

TEST_F(AutoDialogTest, ExecuteWithABlankEndListsTheRestOfTheSubnet) {
    CLanroveSet dlg(services(), adapter);
    dlg.show();
    retype(dlg.startEdit(), "192.168.0.20");
    QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    ASSERT_EQ(dlg.candidates().count(), 235u);
    EXPECT_EQ(dlg.candidates().front(), u"192.168.0.20");
    EXPECT_EQ(dlg.candidates().back(), u"192.168.0.254");
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(AutoDialogTest, KeysAndCloseRequestsDoNotEndItCancelDoes) {
    CLanroveSet dlg(services(), adapter);
    dlg.show();
    for (QWidget* target : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(dlg.startEdit()),
                            static_cast<QWidget*>(dlg.executeButton())}) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QTest::keyClick(target, Qt::Key_Return, Qt::AltModifier);
    }
    EXPECT_FALSE(dlg.close());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(boxes.boxes().empty());  // Enter did not press Execute
    QTest::mouseClick(dlg.cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

// ---- Login ----

class LoginDialogTest : public SettingDialogFixture {
  protected:
    LoginDialogTest() {
        work.clear();
        setField(work.szIp, std::string_view("192.168.0.50"));
        setField(work.szTitle, std::string_view("Gate North"));
        setField(work.szUser, std::string_view("vorly"));
        setField(work.szPassword, std::string_view("vorly"));
        setField(work.szPort, std::string_view("80"));
        setField(work.szSsl, std::string_view("0"));
    }
    // Accepts "admin" / "secret12" and counts the requests.
    LoginTest fakeLogin() {
        return [this](const CameraEntry& e) {
            std::lock_guard lock(mutex);
            ++requests;
            lastRequest = e;
            return fieldView(e.szUser) == u"admin" && fieldView(e.szPassword) == u"secret12" ? 200
                                                                                             : 401;
        };
    }
    std::mutex mutex;
    int requests = 0;
    CameraEntry lastRequest{};
    CameraEntry work{};
};

TEST_F(LoginDialogTest, PrefilledShowsTheAccountAndAcceptsWithoutARequest) {
    CLogIn dlg(services(), work, true, fakeLogin());
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("LOGIN"));
    EXPECT_EQ(dlg.userEdit()->text(), QStringLiteral("vorly"));
    EXPECT_EQ(dlg.passwordEdit()->text(), QStringLiteral("vorly"));
    EXPECT_EQ(dlg.passwordEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dlg.userEdit()->maxLength(), 32);
    EXPECT_EQ(dlg.passwordEdit()->maxLength(), 32);
    EXPECT_EQ(dlg.portEdit()->maxLength(), 5);
    EXPECT_EQ(dlg.portEdit()->text(), QStringLiteral("80"));
    EXPECT_TRUE(dlg.sslOff()->isChecked());
    QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(fieldView(work.szUser), u"vorly");
}

TEST_F(LoginDialogTest, FieldRulesRefuseInOrderWithFocusAndNoRequest) {
    CLogIn dlg(services(), work, false, fakeLogin());
    dlg.show();
    EXPECT_TRUE(dlg.userEdit()->text().isEmpty());
    EXPECT_TRUE(dlg.passwordEdit()->text().isEmpty());
    struct Case {
        const char* user;
        const char* password;
        const char* port;
        QWidget* focus;
    } cases[] = {
        {"adm", "secret12", "80", dlg.userEdit()},     // 3 characters
        {"ad-min", "secret12", "80", dlg.userEdit()},  // hyphen
        {"ad min", "secret12", "80", dlg.userEdit()},  // blank
        {"admin", "pw", "80", dlg.passwordEdit()},      {"admin", "secret12", "", dlg.portEdit()},
        {"admin", "secret12", "65536", dlg.portEdit()},
    };
    for (const Case& c : cases) {
        boxes.clear();
        dlg.userEdit()->setText(c.user);
        dlg.passwordEdit()->setText(c.password);
        dlg.portEdit()->setText(c.port);
        dlg.cancelButton()->setFocus();
        QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
        EXPECT_TRUE(dlg.isVisible()) << c.user;
        EXPECT_EQ(dlg.focusWidget(), c.focus) << c.user << " " << c.password << " " << c.port;
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, errorText("ERROR_ID_PASSWORD"));
    }
    EXPECT_EQ(requests, 0);
    EXPECT_TRUE(hasEventLine("The log in setting is illegal", "Gate North"));
    EXPECT_EQ(fieldView(work.szUser), u"vorly");

    // A 33rd character cannot be typed; 32 letters and digits pass the rule.
    dlg.passwordEdit()->clear();
    QTest::keyClicks(dlg.passwordEdit(), QString(33, QLatin1Char('a')));
    EXPECT_EQ(dlg.passwordEdit()->text().size(), 32);
    // The port takes digits only.
    dlg.portEdit()->clear();
    QTest::keyClicks(dlg.portEdit(), "8a0");
    EXPECT_EQ(dlg.portEdit()->text(), QStringLiteral("80"));
}

TEST_F(LoginDialogTest, RefusedLoginStaysOpenAcceptedOneUpdatesTheWorkCopy) {
    CLogIn dlg(services(), work, false, fakeLogin());
    dlg.show();
    QTest::keyClicks(dlg.userEdit(), "admin");
    QTest::keyClicks(dlg.passwordEdit(), "wrong1234");
    QTest::mouseClick(dlg.sslOn(), Qt::LeftButton);
    EXPECT_EQ(dlg.portEdit()->text(), QStringLiteral("443"));
    retype(dlg.portEdit(), "8443");  // SSL ON, then another port
    QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(hasEventLine("Failed in log in", "Gate North"));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, errorText("ERROR_ID_PASSWORD"));
    EXPECT_EQ(fieldView(work.szUser), u"vorly");  // unchanged after a refusal
    EXPECT_EQ(fieldView(work.szPort), u"80");
    EXPECT_EQ(dlg.userEdit()->text(), QStringLiteral("admin"));  // entries kept

    retype(dlg.passwordEdit(), "secret12");
    QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(requests, 2);
    // The request went with SSL to the typed port.
    EXPECT_EQ(fieldView(lastRequest.szSsl), u"1");
    EXPECT_EQ(fieldView(lastRequest.szPort), u"8443");
    EXPECT_EQ(fieldView(work.szUser), u"admin");
    EXPECT_EQ(fieldView(work.szPassword), u"secret12");
    EXPECT_EQ(fieldView(work.szPort), u"8443");
    EXPECT_EQ(fieldView(work.szSsl), u"1");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(LoginDialogTest, WindowPaintsDuringTheRequestAndAStopMeanwhileWins) {
    // A slow camera that accepts: the GUI thread keeps running timers while it answers.
    LoginTest slow = [](const CameraEntry&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return 200;
    };
    CLogIn dlg(services(), work, false, slow);
    dlg.show();
    dlg.userEdit()->setText("admin");
    dlg.passwordEdit()->setText("secret12");
    bool waitCursor = false;
    QTimer::singleShot(30, &dlg, [&] {
        waitCursor = QApplication::overrideCursor() != nullptr;
        dlg.abandon();  // the program is asked to stop
    });
    QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
    EXPECT_TRUE(waitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(fieldView(work.szUser), u"vorly");
}

TEST_F(LoginDialogTest, CancelLeavesTheWorkCopyAndSslOffGivesEighty) {
    setField(work.szSsl, std::string_view("1"));
    setField(work.szPort, std::string_view(""));
    CLogIn dlg(services(), work, true, fakeLogin());
    dlg.show();
    EXPECT_TRUE(dlg.sslOn()->isChecked());
    EXPECT_EQ(dlg.portEdit()->text(), QStringLiteral("80"));  // an empty port shows 80
    QTest::mouseClick(dlg.sslOff(), Qt::LeftButton);
    EXPECT_EQ(dlg.portEdit()->text(), QStringLiteral("80"));
    retype(dlg.userEdit(), "someone");
    QTest::keyClick(dlg.userEdit(), Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    QTest::mouseClick(dlg.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(fieldView(work.szUser), u"vorly");
    EXPECT_EQ(fieldView(work.szSsl), u"1");
    EXPECT_TRUE(fieldEmpty(work.szPort));
}

// ---- Manual setting ----

class ManualDialogTest : public SettingDialogFixture {
  protected:
    ManualDialogTest() {
        work.clear();
        setField(work.szNo, std::string_view("3"));
        setField(work.szModel, std::string_view("KT-100"));
        setField(work.szIp, std::string_view("192.168.0.50"));
        setField(work.szMask, std::string_view("255.255.255.0"));
        setField(work.szGateway, std::string_view("192.168.0.1"));
        setField(work.szPort, std::string_view("80"));
        setField(work.szSsl, std::string_view("0"));
        setField(work.szTitle, std::string_view("Gate North"));
    }
    void fill(CSetCameraSts& dlg, const char* ip, const char* mask, const char* gateway,
              const char* port) {
        dlg.ipEdit()->setText(ip);
        dlg.maskEdit()->setText(mask);
        dlg.gatewayEdit()->setText(gateway);
        dlg.portEdit()->setText(port);
        dlg.cancelButton()->setFocus();
    }
    CameraEntry work{};
};

TEST_F(ManualDialogTest, OpensWithTheWorkCopyAndItsLimits) {
    CSetCameraSts dlg(services(), work, adapter);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("MANUAL SETTING - KT-100"));
    EXPECT_EQ(qobject_cast<QLineEdit*>(dlg.control(kIdManualNo))->text(), QStringLiteral("3"));
    EXPECT_TRUE(qobject_cast<QLineEdit*>(dlg.control(kIdManualModel))->isReadOnly());
    EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(1024))->text(), QStringLiteral("Subnet Mask"));
    EXPECT_EQ(dlg.ipEdit()->text(), QStringLiteral("192.168.0.50"));
    EXPECT_EQ(dlg.maskEdit()->text(), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(dlg.gatewayEdit()->text(), QStringLiteral("192.168.0.1"));
    EXPECT_EQ(dlg.portEdit()->text(), QStringLiteral("80"));
    EXPECT_EQ(dlg.portEdit()->maxLength(), 5);
    EXPECT_EQ(dlg.titleEdit()->text(), QStringLiteral("Gate North"));
    EXPECT_EQ(dlg.titleEdit()->maxLength(), 16);
    EXPECT_TRUE(dlg.sslOff()->isChecked());
}

TEST_F(ManualDialogTest, TitleNamesTheCameraByMacAndModel) {
    setField(work.szMac, std::string_view("00:1B:7C:00:01:02"));
    CSetCameraSts dlg(services(), work, adapter);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("MANUAL SETTING - 00:1B:7C:00:01:02 KT-100"));
    work.clear();  // nothing known of the camera: the described title alone
    CSetCameraSts bare(services(), work, adapter);
    EXPECT_EQ(bare.windowTitle(), QStringLiteral("MANUAL SETTING"));
}

TEST_F(ManualDialogTest, ChecksRunInOrderWithTheirFocusEventLinesAndBoxes) {
    CSetCameraSts dlg(services(), work, adapter);
    dlg.show();
    const QString illegal = errorText("ERROR_ID_PASSWORD");
    struct Case {
        const char* ip;
        const char* mask;
        const char* gateway;
        const char* port;
        QWidget* focus;
        QString box;
    } cases[] = {
        {"", "255.255.0.255", "", "8a", dlg.ipEdit(), illegal},  // syntax first, address first
        {"192.168.0.60", "", "", "8a", dlg.maskEdit(), illegal},
        {"192.168.0.60", "255.255.255.0", "", "80", dlg.gatewayEdit(), illegal},  // blank gateway
        {"192.168.0.60", "255.255.255.0", "192.168.0.1", "8a", dlg.portEdit(), illegal},
        {"192.168.0.60", "255.255.255.0", "192.168.0.1", "65536", dlg.portEdit(), illegal},
        // Host part before the mask; the adapter's mask decides.
        {"192.168.0.0", "255.255.0.255", "192.168.0.1", "80", dlg.ipEdit(), errorText("ERROR_IP")},
        {"192.168.0.60", "255.255.0.255", "192.168.0.1", "80", dlg.maskEdit(),
         errorText("ERROR_SUBNET_MASK")},
    };
    for (const Case& c : cases) {
        boxes.clear();
        fill(dlg, c.ip, c.mask, c.gateway, c.port);
        QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
        EXPECT_TRUE(dlg.isVisible()) << c.ip;
        EXPECT_EQ(dlg.focusWidget(), c.focus) << c.ip << " " << c.mask << " " << c.port;
        ASSERT_EQ(boxes.boxes().size(), 1u) << c.ip;
        EXPECT_EQ(boxes.boxes()[0].text, c.box) << c.ip << " " << c.mask << " " << c.port;
        EXPECT_EQ(boxes.boxes()[0].icon, BoxIcon::Warning);
    }
    EXPECT_TRUE(hasEventLine("The manual setting is illegal", "Gate North"));
    EXPECT_TRUE(hasEventLine("The IP address setting is illegal", "Gate North"));
    EXPECT_TRUE(hasEventLine("The subnetmask setting is illegal", "Gate North"));
    EXPECT_EQ(fieldView(work.szIp), u"192.168.0.50");
}

TEST_F(ManualDialogTest, ConfirmationWarnsWhenTheCameraLeavesTheSubnetNoKeepsItOpen) {
    CSetCameraSts dlg(services(), work, adapter);
    dlg.show();
    struct Case {
        const char* ip;
        const char* mask;
        const char* gateway;
        const char* port;
        const char* key;
        const char* changes;
    } cases[] = {
        {"192.168.0.60", "255.255.255.255", "192.168.0.1", "65535", "CUSTOM_SETTING_MSG1",
         "IP Address: 192.168.0.50 \u2192 192.168.0.60\n"
         "Subnet Mask: 255.255.255.0 \u2192 255.255.255.255\n"
         "Port Number: 80 \u2192 65535"},
        {"192.168.0.60", "255.255.255.0", "10.1.1.1", "0", "CUSTOM_SETTING_MSG2",
         "IP Address: 192.168.0.50 \u2192 192.168.0.60\n"
         "Gateway: 192.168.0.1 \u2192 10.1.1.1\nPort Number: 80 \u2192 0"},
        {"10.1.1.60", "255.255.255.0", "192.168.0.1", "80", "CUSTOM_SETTING_MSG2",
         "IP Address: 192.168.0.50 \u2192 10.1.1.60"},
    };
    for (const Case& c : cases) {
        boxes.clear();
        boxes.queueAnswer(BoxAnswer::No);
        fill(dlg, c.ip, c.mask, c.gateway, c.port);
        QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
        EXPECT_TRUE(dlg.isVisible()) << c.ip;
        ASSERT_EQ(boxes.boxes().size(), 1u) << c.ip;
        const BoxRecord box = boxes.boxes()[0];
        EXPECT_EQ(box.icon, BoxIcon::NoIcon);
        EXPECT_EQ(box.title, QStringLiteral("MANUAL SETTING"));
        // The question, what changes (old -> new), then the note that the account travels
        // unencrypted.
        EXPECT_EQ(box.text, QString::fromStdString(
                                texts.text("CUSTOM_SETTING_WINDOW", c.key) + "\n\n" + c.changes +
                                "\n\n" + texts.text("CUSTOM_SETTING_WINDOW", "ACCOUNT_IN_CLEAR")))
            << c.ip << " " << c.gateway;
        EXPECT_TRUE(box.text.contains(QStringLiteral("unencrypted"))) << c.ip;
    }
    EXPECT_EQ(fieldView(work.szIp), u"192.168.0.50");  // No changes nothing
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(ManualDialogTest, YesWritesEveryFieldIntoTheWorkCopy) {
    CSetCameraSts dlg(services(), work, adapter);
    dlg.show();
    retype(dlg.ipEdit(), "192.168.0.61");
    retype(dlg.maskEdit(), "255.255.0.0");
    retype(dlg.gatewayEdit(), "192.168.0.254");
    QTest::mouseClick(dlg.sslOn(), Qt::LeftButton);
    EXPECT_EQ(dlg.portEdit()->text(), QStringLiteral("443"));
    retype(dlg.portEdit(), "8443");
    retype(dlg.titleEdit(), "A title that is far too long");
    EXPECT_EQ(dlg.titleEdit()->text(), QStringLiteral("A title that is "));
    boxes.queueAnswer(BoxAnswer::Yes);
    QTest::mouseClick(dlg.executeButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(fieldView(work.szIp), u"192.168.0.61");
    EXPECT_EQ(fieldView(work.szMask), u"255.255.0.0");
    EXPECT_EQ(fieldView(work.szGateway), u"192.168.0.254");
    EXPECT_EQ(fieldView(work.szPort), u"8443");
    EXPECT_EQ(fieldView(work.szSsl), u"1");
    EXPECT_EQ(fieldView(work.szTitle), u"A title that is ");
}

TEST_F(ManualDialogTest, KeysDoNotEndItCancelLeavesTheWorkCopy) {
    CSetCameraSts dlg(services(), work, adapter);
    dlg.show();
    retype(dlg.ipEdit(), "192.168.0.77");
    for (QWidget* target : {static_cast<QWidget*>(&dlg), static_cast<QWidget*>(dlg.ipEdit())}) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
    }
    EXPECT_FALSE(dlg.close());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(boxes.boxes().empty());
    QTest::mouseClick(dlg.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(fieldView(work.szIp), u"192.168.0.50");
}

}  // namespace
}  // namespace lanrove::ui::testing
