// The desktop program's "Apply address plan...": the preview table of the six-row plan in
// lab/plans, the confirmation through the message layer, and nothing sent on Cancel or No.
// The cameras of the plan are NEW (no login test), so nothing here reaches a network.
#include <QAction>
#include <QTimer>

#include "ui/plan_dialog.h"
#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

class PlanDialogTest : public UiFixture {
  protected:
    void addCamera(const char* mac, const char* ip, bool factory, const char* title) {
        const int index = core->store().m_nFindWrite;
        appendRecord(ip, 2, 201, factory, "KT-100", mac);
        CameraEntry& e = core->store().m_CamTable[static_cast<std::size_t>(index)];
        const AdapterEntry& pc = core->adapters().front();
        setField(e.szMask, pc.mask());
        setField(e.szGateway, pc.gateway());
        setField(e.szTitle, std::string_view(title));
        window->handleAddRow(index);
        window->handleMarkRows(index + 1);
    }

    // The site of lab/plans/site-six-rows.csv.
    void addSite() {
        net.echoResult = kEchoTimedOut;  // no host answers the probe
        addCamera("00:1B:7C:00:09:01", "192.168.0.2", true, "");
        addCamera("00:1B:7C:00:09:02", "192.168.0.2", true, "");
        addCamera("00:1B:7C:00:09:03", "192.168.0.40", true, "Yard");
        addCamera("00:1B:7C:00:09:04", "192.168.0.50", true, "Dock");
        addCamera("00:1B:7C:00:09:05", "192.168.0.60", false, "Lobby");
        addCamera("00:1B:7C:00:09:06", "192.168.0.70", true, "Shed");
    }

    static QString plan() {
        return QString::fromStdString(std::string(LANROVE_SOURCE_DIR) +
                                      "/lab/plans/site-six-rows.csv");
    }

    // Runs the plan; `step` acts on the preview once it is up, `report` on the final report.
    std::vector<QString> apply(const QString& path, const std::function<void(PlanDialog&)>& step,
                               const std::function<void(PlanDialog&)>& report = {}) {
        std::vector<QString> opened;
        QMetaObject::Connection c = QObject::connect(
            window.get(), &MainWindow::settingDialogOpened, window.get(), [&](QDialog* d) {
                opened.push_back(d->objectName());
                if (auto* p = qobject_cast<PlanDialog*>(d); p != nullptr) {
                    const auto& act = opened.size() == 1 ? step : report;
                    if (act) QTimer::singleShot(0, p, [p, act] { act(*p); });
                }
                QTimer::singleShot(10000, d, [d] {
                    ADD_FAILURE() << "dialog left open: " << d->objectName().toStdString();
                    static_cast<SettingDialog*>(d)->abandon();
                });
            });
        window->applyPlanFile(path);
        QObject::disconnect(c);
        return opened;
    }
};

QString cell(const PlanDialog& d, int row, int column) {
    const QTableWidgetItem* item = d.table()->item(row, column);
    return item != nullptr ? item->text() : QString();
}

TEST_F(PlanDialogTest, ThePreviewShowsEveryRowAndCancelSendsNothing) {
    startWindow(false);
    addSite();
    std::vector<std::vector<QString>> rows;
    bool executeEnabled = false;
    const auto opened = apply(plan(), [&](PlanDialog& d) {
        for (int r = 0; r < d.table()->rowCount(); ++r) {
            std::vector<QString> row;
            for (int c = 0; c < PlanDialog::ColumnCount; ++c) row.push_back(cell(d, r, c));
            rows.push_back(row);
        }
        executeEnabled = d.executeButton()->isEnabled();
        QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
    });
    EXPECT_EQ(opened, std::vector<QString>{QStringLiteral("planPreview")});
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_TRUE(executeEnabled);
    const QString arrow = QStringLiteral(" \u2192 ");
    EXPECT_EQ(rows[0][PlanDialog::Line], QStringLiteral("2"));
    EXPECT_EQ(rows[0][PlanDialog::Mac], QStringLiteral("00:1B:7C:00:09:01"));
    EXPECT_EQ(rows[0][PlanDialog::Ip], QStringLiteral("192.168.0.2") + arrow + "192.168.0.31");
    EXPECT_EQ(rows[0][PlanDialog::Title], arrow + "Gate North");            // no title before
    EXPECT_EQ(rows[0][PlanDialog::Mask], QStringLiteral("255.255.255.0"));  // unchanged
    EXPECT_EQ(rows[0][PlanDialog::Result], QStringLiteral("ready"));
    EXPECT_EQ(rows[1][PlanDialog::Result], QStringLiteral("ready"));
    EXPECT_EQ(rows[2][PlanDialog::Title], QStringLiteral("Yard") + arrow + "Yard West");
    EXPECT_EQ(rows[3][PlanDialog::No], QStringLiteral("-"));
    EXPECT_EQ(rows[3][PlanDialog::Result], QStringLiteral("not found"));
    // A camera that was not found still shows what the plan has for it.
    EXPECT_EQ(rows[3][PlanDialog::Ip], QStringLiteral("192.168.0.34"));
    EXPECT_EQ(rows[3][PlanDialog::Title], QStringLiteral("Not here"));
    EXPECT_TRUE(rows[4][PlanDialog::Result].startsWith("refused: 192.168.0.60 is the address"))
        << rows[4][PlanDialog::Result].toStdString();
    // A refused row keeps its values: nothing will be sent to it.
    EXPECT_EQ(rows[5][PlanDialog::Mask], QStringLiteral("255.255.255.0"));
    EXPECT_EQ(rows[4][PlanDialog::Ip], QStringLiteral("192.168.0.50"));
    EXPECT_EQ(rows[5][PlanDialog::Result],
              QStringLiteral("refused: bad subnet mask 255.255.0.255"));

    // Nothing was sent: no run, every camera where it was.
    EXPECT_EQ(core->settingsRun(), nullptr);
    EXPECT_EQ(fieldUtf8(core->store().m_CamTable[0].szIp), "192.168.0.2");
    EXPECT_TRUE(window->closeAllowed());
    EXPECT_FALSE(window->settingBusy());
}

TEST_F(PlanDialogTest, ExecuteAsksThroughTheMessageLayerAndNoKeepsThePreview) {
    startWindow(false);
    addSite();
    boxes.clear();
    boxes.queueAnswer(BoxAnswer::No);
    bool stillOpen = false;
    apply(plan(), [&](PlanDialog& d) {
        QTest::mouseClick(d.executeButton(), Qt::LeftButton);
        stillOpen = d.isVisible();
        QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(stillOpen);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    // Its own title; the question, how many rows, what changes on each, the account note.
    EXPECT_EQ(shown[0].title, QStringLiteral("Apply the address plan"));
    const QString text = shown[0].text;
    EXPECT_TRUE(text.startsWith(
        QString::fromStdU16String(core->text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_MSG1") +
                                  u"\n\n3 of 6 rows will be set.\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(
        "00:1B:7C:00:09:01: IP Address: 192.168.0.2 \u2192 192.168.0.31, Camera Title: - \u2192 "
        "Gate North")))
        << text.toStdString();
    EXPECT_TRUE(
        text.contains(QStringLiteral("00:1B:7C:00:09:03: IP Address: 192.168.0.40 "
                                     "\u2192 192.168.0.33, Camera Title: Yard \u2192 "
                                     "Yard West")))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("00:1B:7C:00:09:06"))) << "refused: not listed";
    EXPECT_TRUE(text.endsWith(
        QString::fromStdU16String(core->text(u"CUSTOM_SETTING_WINDOW", u"ACCOUNT_IN_CLEAR"))));
    EXPECT_EQ(core->settingsRun(), nullptr);
}

TEST_F(PlanDialogTest, ExecuteAndYesSetTheAcceptedCamerasOneAfterAnotherThenReport) {
    startWindow(false);
    addSite();
    boxes.queueAnswer(BoxAnswer::Yes);
    std::vector<QString> results;
    const auto opened = apply(
        plan(), [](PlanDialog& d) { QTest::mouseClick(d.executeButton(), Qt::LeftButton); },
        [&](PlanDialog& d) {
            for (int r = 0; r < d.table()->rowCount(); ++r)
                results.push_back(cell(d, r, PlanDialog::Result));
            QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
        });
    // The simulated cameras here never answer an IP setting: three manual runs end with their
    // send schedules, and the report says CAUTION for them.
    const QString progress = QStringLiteral("settingsProgress");
    EXPECT_EQ(opened, (std::vector<QString>{QStringLiteral("planPreview"), progress, progress,
                                            progress, QStringLiteral("planReport")}));
    ASSERT_EQ(results.size(), 6u);
    for (int r : {0, 1, 2})
        EXPECT_EQ(results[static_cast<std::size_t>(r)],
                  QStringLiteral("CAUTION: the camera did not confirm the setting"));
    EXPECT_EQ(results[3], QStringLiteral("not found"));
    EXPECT_TRUE(results[4].startsWith("refused: "));
    EXPECT_TRUE(results[5].startsWith("refused: "));
    EXPECT_NE(logText().find("Plan Line(3) ManualSetting Set("), std::string::npos);
    EXPECT_TRUE(window->closeAllowed());
}

TEST_F(PlanDialogTest, AMalformedPlanShowsItsLineAndOpensNoPreview) {
    startWindow(false);
    addSite();
    boxes.clear();
    const std::filesystem::path bad = dir.path() / "bad.csv";
    std::ofstream(bad)
        << "mac;ip\n00:1B:7C:00:09:01;192.168.0.31\n00:1B:7C:00:09:02;192.168.0.300\n";
    const auto opened = apply(QString::fromStdString(bad.string()), [](PlanDialog&) {});
    EXPECT_TRUE(opened.empty());
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.contains("line 3: bad IP address")) << shown[0].text.toStdString();
    EXPECT_EQ(core->settingsRun(), nullptr);
}

TEST_F(PlanDialogTest, TheListOffersThePlanActionWithCtrlO) {
    startWindow(false);
    auto* action = window->findChild<QAction*>(QStringLiteral("applyPlanAction"));
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_TRUE(window->listView()->actions().contains(action));
    EXPECT_EQ(window->listView()->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(action->text(), QStringLiteral("Apply address plan..."));
}

}  // namespace
}  // namespace lanrove::ui::testing
