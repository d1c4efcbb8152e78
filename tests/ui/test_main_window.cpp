// The main window over a core with fake network parts: start-up in both editions and its
// failures, the posted search reports, counters, sorting, keys, closing and the status column.
#include <QHeaderView>
#include <QKeyEvent>
#include <thread>

#include "ui/dialog_units.h"
#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

using Widths = std::array<int, kListColumnCount>;

Widths columnWidths(const MainWindow& w) {
    Widths out{};
    for (int c = 0; c < kListColumnCount; ++c)
        out[static_cast<std::size_t>(c)] = w.listView()->columnWidth(c);
    return out;
}

TEST(ColumnWidths, EditionSetsScaledWithTheFontNeverBelowThePixelWidths) {
    EXPECT_EQ(columnWidthsFor(false, 1.5), kStandardColumnWidths);
    EXPECT_EQ(columnWidthsFor(true, 1.5), kMaintenanceColumnWidths);
    EXPECT_EQ(columnWidthsFor(true, 1.2), kMaintenanceColumnWidths);
    const Widths wide = columnWidthsFor(false, 1.8);
    EXPECT_EQ(wide[kColStatus], 96);  // 80 * 1.2
    EXPECT_EQ(wide[kColFirmVer], 420);
}

TEST_F(UiFixture, StandardEditionAfterStartUp) {
    MainWindow& w = startWindow(false);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.readyEvent().isSet());
    EXPECT_TRUE(enabled(kIdSearch));
    EXPECT_TRUE(w.button(kIdSearch)->hasFocus() || QApplication::focusWidget() == nullptr);
    for (int id : {kIdManualSetting, kIdCameraImage, kIdWebBrowser, kIdAutoSetting})
        EXPECT_FALSE(enabled(id)) << id;
    for (int id : {kIdFirmCheck, kIdFirmUpdate, kIdFactoryDefault}) EXPECT_FALSE(shown(id)) << id;
    for (int id : {kIdSearch, kIdAutoSetting, kIdManualSetting, kIdCameraImage, kIdWebBrowser})
        EXPECT_TRUE(shown(id)) << id;
    EXPECT_EQ(columnWidths(w), columnWidthsFor(false, DialogUnits(w.font()).perUnitX()));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("LANROVE SETUP UTILITY Ver.1.0.6"));
    EXPECT_EQ(w.button(kIdSearch)->text(), QStringLiteral("Search Cameras"));
    EXPECT_EQ(w.model()->headerData(kColIp, Qt::Horizontal).toString(),
              QStringLiteral("IP Address"));
    for (int id : {kIdCounterTotal, kIdCounterNew, kIdCounterOk, kIdCounterAttention})
        EXPECT_EQ(counter(id), QStringLiteral("0"));
    EXPECT_EQ(w.listView()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(w.listView()->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(w.listView()->showGrid());

    const std::string text = logText();
    EXPECT_NE(text.find("-- Lanrove Set utility Start("), std::string::npos);
    EXPECT_NE(text.find(") Ver.1.0.6.1 --"), std::string::npos);
    EXPECT_NE(text.find("Firm Upload Instance Set(10)"), std::string::npos);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(UiFixture, StartUpNotesReachTheLogOnceItExists) {
    makeCore(false);
    window = std::make_unique<MainWindow>(*core, boxes, appTexts);
    window->addStartupTrace("Instance lock file unusable (/x/lanrove-setup.lock)");
    QSignalSpy ready(window.get(), &MainWindow::ready);
    window->start();
    ASSERT_TRUE(ready.count() > 0 || ready.wait(5000));
    const std::string text = logText();
    const std::size_t note = text.find("[Lanrove] :Instance lock file unusable (/x/lanrove-setup");
    ASSERT_NE(note, std::string::npos) << text;
    EXPECT_LT(note, text.find("-- Lanrove Set utility Start("));
}

TEST_F(UiFixture, MaintenanceEditionAfterStartUpWithInstanceSetting) {
    // The settings file is named after the executable.
    std::ofstream(dir.path() / "lanrove-setup_FwTool.ini") << "[Firmupload]\r\nInstance=3\r\n";
    MainWindow& w = startWindow(true);
    EXPECT_TRUE(core->updateEdition());
    EXPECT_TRUE(shown(kIdFirmCheck));
    EXPECT_FALSE(enabled(kIdFirmCheck));
    EXPECT_TRUE(shown(kIdFirmUpdate));
    EXPECT_FALSE(enabled(kIdFirmUpdate));
    EXPECT_TRUE(shown(kIdFactoryDefault));
    EXPECT_TRUE(enabled(kIdFactoryDefault));
    EXPECT_TRUE(enabled(kIdSearch));
    EXPECT_EQ(columnWidths(w), columnWidthsFor(true, DialogUnits(w.font()).perUnitX()));
    EXPECT_NE(logText().find("Firm Upload Instance Set(3)"), std::string::npos);
}

TEST_F(UiFixture, NoAdapterEndsAfterTheAddressBox) {
    net.adapters.clear();
    MainWindow& w = startWindow(false, false);
    QSignalSpy finished(&w, &MainWindow::finished);
    ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), 1);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.readyEvent().isSet());  // the splash goes before the box
    const auto shownBoxes = boxes.boxes();
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(shownBoxes[0].title, QStringLiteral("LANROVE SETUP UTILITY"));
    EXPECT_EQ(shownBoxes[0].text,
              QString::fromStdU16String(core->text(u"ERROR_WINDOW", u"ERROR_IP")));
    const std::string text = logText();
    EXPECT_NE(text.find("warn\tuser\t"), std::string::npos);
    EXPECT_NE(text.find("IP address is not set to NIC"), std::string::npos);
    EXPECT_EQ(text.find("Lanrove Set utility Start("), std::string::npos);
    EXPECT_NE(text.find("-- Lanrove Set utility End("), std::string::npos);
}

TEST_F(UiFixture, BlockedEchoEndsAfterTheFirewallBox) {
    net.echoResult = kEchoDestHostUnreachable;
    MainWindow& w = startWindow(false, false);
    QSignalSpy finished(&w, &MainWindow::finished);
    ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
    const auto shownBoxes = boxes.boxes();
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].text,
              QString::fromStdU16String(core->text(u"ERROR_WINDOW", u"ERROR_FIREWALL")));
    EXPECT_NE(logText().find("The personal firewall is valid"), std::string::npos);
}

TEST_F(UiFixture, EchoSocketRefusedToTheUserNamesTheSystemSetting) {
    net.echoResult = kEchoUnavailable;
    MainWindow& w = startWindow(false, false);
    QSignalSpy finished(&w, &MainWindow::finished);
    ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
    const auto shownBoxes = boxes.boxes();
    ASSERT_EQ(shownBoxes.size(), 1u);
    const QString firewall =
        QString::fromStdU16String(core->text(u"ERROR_WINDOW", u"ERROR_FIREWALL"));
    EXPECT_TRUE(shownBoxes[0].text.startsWith(firewall));
    EXPECT_TRUE(shownBoxes[0].text.contains(QStringLiteral("net.ipv4.ping_group_range")));
    EXPECT_NE(logText().find("ICMP echo socket not allowed for this user"), std::string::npos);
}

// The worker's reports, sent from another thread as the search worker sends them.
TEST_F(UiFixture, PostedReportsAddRowsAndCountersAddUp) {
    MainWindow& w = startWindow(false);
    appendRecord("192.168.0.2", 2, 201, true);    // NEW
    appendRecord("192.168.0.20", 2, 201, false);  // OK
    appendRecord("192.168.0.21", 2, 400, false);  // attention: failed setting
    std::thread worker([&] {
        SearchEvents& events = w.searchEvents();
        for (int i = 0; i < 3; ++i) {
            events.addRow(i);
            events.markRows(i + 1);
        }
        events.setControlEnabled(kIdFirmCheck, true);
    });
    worker.join();
    // Nothing happens on the worker's thread: the reports wait for the window's thread.
    EXPECT_EQ(w.model()->rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(w.model()->rowCount(), 3, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(counter(kIdCounterTotal), QStringLiteral("3"), 2000);
    EXPECT_EQ(counter(kIdCounterNew), QStringLiteral("1"));
    EXPECT_EQ(counter(kIdCounterOk), QStringLiteral("1"));
    EXPECT_EQ(counter(kIdCounterAttention), QStringLiteral("1"));
    EXPECT_EQ(cellText(w, 0, kColStatus), QStringLiteral("NEW"));
    EXPECT_EQ(cellText(w, 2, kColStatus), QStringLiteral("CAUTION"));
    EXPECT_EQ(cellText(w, 1, kColSsl), QStringLiteral("OFF"));
    EXPECT_TRUE(enabled(kIdAutoSetting));  // a row was inserted
    EXPECT_TRUE(enabled(kIdFirmCheck));
    // Out-of-range record indexes add nothing.
    w.handleAddRow(-1);
    w.handleAddRow(5000);
    EXPECT_EQ(w.model()->rowCount(), 3);
}

TEST_F(UiFixture, SearchWithCannedRepliesFillsTheListAndEnablesTheButtons) {
    transport.replies.push_back(
        camsim::encodeSearchReply(simCamera(1, "192.168.0.2", true, "Gate"), WireCodec()));
    transport.replies.push_back(
        camsim::encodeSearchReply(simCamera(2, "192.168.0.31", false, "Hall"), WireCodec()));
    auto clash = simCamera(3, "192.168.0.31", false, "Shop");  // same address as Hall
    transport.replies.push_back(camsim::encodeSearchReply(clash, WireCodec()));
    MainWindow& w = startWindow(true);

    QSignalSpy opened(&w, &MainWindow::searchWindowOpened);
    bool closeWhileSearching = true;
    bool buttonsOffWhileSearching = false;
    QObject::connect(&w, &MainWindow::searchWindowOpened, &w, [&] {
        closeWhileSearching = w.close();
        buttonsOffWhileSearching = !enabled(kIdSearch) && !enabled(kIdFirmCheck) &&
                                   !enabled(kIdFactoryDefault) && !enabled(kIdFirmUpdate);
    });
    QTest::mouseClick(w.button(kIdSearch), Qt::LeftButton);  // returns when the window closed
    EXPECT_EQ(opened.count(), 1);
    EXPECT_FALSE(closeWhileSearching);
    EXPECT_TRUE(buttonsOffWhileSearching);
    EXPECT_TRUE(w.isVisible());

    QTRY_COMPARE_WITH_TIMEOUT(w.model()->rowCount(), 3, 2000);
    EXPECT_EQ(counter(kIdCounterTotal), QStringLiteral("3"));
    EXPECT_EQ(counter(kIdCounterNew), QStringLiteral("1"));
    EXPECT_EQ(counter(kIdCounterOk), QStringLiteral("0"));
    EXPECT_EQ(counter(kIdCounterAttention), QStringLiteral("2"));
    EXPECT_EQ(cellText(w, 1, kColTitle), QStringLiteral("Hall"));
    EXPECT_EQ(cellText(w, 1, kColMac), QStringLiteral("00:1B:7C:00:02:02"));
    EXPECT_GT(transport.acknowledgements.load(), 0);
    for (int id : {kIdSearch, kIdFirmCheck, kIdFactoryDefault, kIdAutoSetting})
        EXPECT_TRUE(enabled(id)) << id;
    for (int id : {kIdManualSetting, kIdCameraImage, kIdWebBrowser, kIdFirmUpdate})
        EXPECT_FALSE(enabled(id)) << id;
    EXPECT_TRUE(w.closeAllowed());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_NE(logText().find("Cam Search Set("), std::string::npos);

    // A second search starts from an empty list and zero counters.
    transport.replies.resize(1);
    QTest::mouseClick(w.button(kIdSearch), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.model()->rowCount(), 1, 2000);
    EXPECT_EQ(counter(kIdCounterTotal), QStringLiteral("1"));
    EXPECT_EQ(counter(kIdCounterAttention), QStringLiteral("0"));
}

TEST_F(UiFixture, SearchWithoutCamerasShowsTheNotFoundBox) {
    MainWindow& w = startWindow(false);
    QTest::mouseClick(w.button(kIdSearch), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(boxes.boxes().size()), 1, 2000);
    const BoxRecord box = boxes.boxes()[0];
    EXPECT_EQ(box.icon, BoxIcon::Warning);
    EXPECT_EQ(box.title,
              QString::fromStdU16String(core->text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR")));
    EXPECT_EQ(box.text, QString::fromStdU16String(core->text(u"ERROR_WINDOW", u"ERROR_SEARCH")));
    EXPECT_EQ(w.model()->rowCount(), 0);
    EXPECT_TRUE(enabled(kIdSearch));
    EXPECT_TRUE(w.closeAllowed());
    EXPECT_NE(logText().find("Could not find a camera"), std::string::npos);
}

TEST_F(UiFixture, NotFoundBoxSkippedWhenItsTextIsEmpty) {
    std::ofstream(dir.path() / "Language.ini") << "[ERROR_WINDOW]\r\nERROR_SEARCH=\r\n";
    MainWindow& w = startWindow(false);
    w.handleSearchNotFound();
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(UiFixture, SelectionDrivesTheRowButtons) {
    MainWindow& w = startWindow(false);
    appendRecord("192.168.0.20", 2, 201, false);
    appendRecord("192.168.0.21", 2, 201, false);
    w.handleAddRow(0);
    w.handleAddRow(1);
    QTableView* list = w.listView();
    const QRect rowRect = list->visualRect(w.model()->index(1, kColModel));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowRect.center());
    for (int id : {kIdManualSetting, kIdCameraImage, kIdWebBrowser}) EXPECT_TRUE(enabled(id)) << id;
    // Ctrl-click adds the other row: several rows may be selected.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualRect(w.model()->index(0, kColModel)).center());
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 2);
    // A click below the last row clears the selection.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(rowRect.center().x(), list->viewport()->height() - 3));
    for (int id : {kIdManualSetting, kIdCameraImage, kIdWebBrowser})
        EXPECT_FALSE(enabled(id)) << id;
}

class SortFixture : public UiFixture {
  protected:
    void fill() {
        startWindow(false);
        appendRecord("192.168.0.9", 2, 201, false, "kt-200", "00:00:00:00:00:01");
        appendRecord("192.168.0.10", 2, 201, false, "KT-300", "00:00:00:00:00:02");
        appendRecord("10.0.0.200", 2, 201, false, "KT-100", "00:00:00:00:00:03");
        for (int i = 0; i < 12; ++i) {
            if (i >= 3) appendRecord("172.16.0.1", 2, 201, false, "Z", nullptr);
            window->handleAddRow(i);
        }
    }
    QStringList column(int c) const {
        QStringList out;
        for (int r = 0; r < window->model()->rowCount(); ++r) out << cellText(*window, r, c);
        return out;
    }
};

TEST_F(SortFixture, NumbersAddressesAndTextSortByTheirOwnRules) {
    fill();
    MainWindow& w = *window;
    EXPECT_EQ(w.sortColumn(), -1);
    w.listView()->horizontalHeader()->sectionClicked(kColNo);  // as a header click
    EXPECT_TRUE(w.sortAscending());
    QStringList numbers = column(kColNo);
    EXPECT_EQ(numbers.mid(8, 3), (QStringList{"9", "10", "11"}));  // not "10" before "9"

    w.sortByColumn(kColNo);
    EXPECT_FALSE(w.sortAscending());
    EXPECT_EQ(column(kColNo).first(), QStringLiteral("12"));

    w.sortByColumn(kColIp);  // a column's first click sorts ascending
    EXPECT_TRUE(w.sortAscending());
    EXPECT_EQ(w.listView()->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    const QStringList ips = column(kColIp);
    EXPECT_EQ(ips.first(), QStringLiteral("10.0.0.200"));
    EXPECT_EQ(ips.indexOf("192.168.0.9") + 1, ips.indexOf("192.168.0.10"));
    EXPECT_EQ(ips.last(), QStringLiteral("192.168.0.10"));

    w.sortByColumn(kColModel);  // ascending again: a new column
    EXPECT_TRUE(w.sortAscending());
    w.sortByColumn(kColModel);  // the second click on it: descending, case-sensitive text
    EXPECT_FALSE(w.sortAscending());
    const QStringList models = column(kColModel);
    EXPECT_EQ(models.first(), QStringLiteral("kt-200"));  // 'k' > 'Z' > 'K'
    EXPECT_EQ(models.at(1), QStringLiteral("Z"));
    EXPECT_EQ(models.last(), QStringLiteral("KT-100"));
    EXPECT_EQ(w.sortColumn(), kColModel);
}

TEST_F(SortFixture, SelectionFollowsItsRowWhenSorted) {
    fill();
    MainWindow& w = *window;
    w.listView()->selectRow(2);  // No. 3, the 10.0.0.200 camera
    w.sortByColumn(kColIp);
    const auto selected = w.listView()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(cellText(w, selected[0].row(), kColIp), QStringLiteral("10.0.0.200"));
    EXPECT_EQ(selected[0].row(), 0);
}

TEST_F(UiFixture, EnterAndEscapeDoNothing) {
    MainWindow& w = startWindow(false);
    QSignalSpy opened(&w, &MainWindow::searchWindowOpened);
    w.button(kIdSearch)->setFocus();
    for (QWidget* target : {static_cast<QWidget*>(w.button(kIdSearch)), static_cast<QWidget*>(&w),
                            static_cast<QWidget*>(w.listView())}) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QTest::qWait(20);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(opened.count(), 0);  // Enter on the focused Search button did not press it
    // Space still presses the focused button.
    QSignalSpy finishedSearch(&w, &MainWindow::searchFinished);
    QTest::keyClick(w.button(kIdSearch), Qt::Key_Space);
    EXPECT_TRUE(finishedSearch.count() > 0 || finishedSearch.wait(3000));
    EXPECT_EQ(opened.count(), 1);
}

TEST_F(UiFixture, CloseRunsTheShutdownOnce) {
    MainWindow& w = startWindow(false);
    QSignalSpy finished(&w, &MainWindow::finished);
    EXPECT_TRUE(w.close());
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), 0);
    w.finishProgram(0);
    EXPECT_EQ(finished.count(), 1);
    const std::string text = logText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n') > 0, true);
    const auto first = text.find("-- Lanrove Set utility End(");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("-- Lanrove Set utility End(", first + 1), std::string::npos);
}

TEST_F(UiFixture, StatusColumnFollowsTheListModeInTheMaintenanceEdition) {
    MainWindow& w = startWindow(true);
    appendRecord("192.168.0.20", 2, 201, false);
    w.handleAddRow(0);
    w.handleMarkRows(1);
    CameraEntry e = core->store().m_CamTable[0];
    auto status = [&] { return cellText(w, 0, kColStatus); };
    ASSERT_EQ(status(), QStringLiteral("OK"));

    core->setFirmMode(kFirmModeCheck);
    const std::pair<std::uint16_t, const char*> checks[] = {{0x1200, "Update ready"},
                                                            {0x1202, "LATEST"},
                                                            {0x1201, "No firmware"},
                                                            {0x9999, "No firmware"}};
    for (const auto& [code, expected] : checks) {
        e.wFirmStatus = code;
        ASSERT_TRUE(w.refreshRow(0, e));
        EXPECT_EQ(status(), QString::fromUtf8(expected)) << code;
    }
    e.wFirmStatus = 0;  // empty choice: the column keeps its text
    w.refreshRow(0, e);
    EXPECT_EQ(status(), QStringLiteral("No firmware"));

    core->setFirmMode(kFirmModeUpdate);
    const std::pair<std::uint16_t, const char*> uploads[] = {{0x1002, "In progress..."},
                                                             {0x100A, "In progress..."},
                                                             {0x100B, "Completed"},
                                                             {0x10FF, "Cancel"},
                                                             {0x2002, "Failed"},
                                                             {0x2004, "Error"},
                                                             {0x100C, "Sent, not verified"}};
    for (const auto& [code, expected] : uploads) {
        e.wUploadStatus = code;
        w.refreshRow(0, e);
        EXPECT_EQ(status(), QString::fromUtf8(expected)) << code;
    }
    e.wUploadStatus = 0x2000;
    e.wFirmStatus = 0x1201;
    w.refreshRow(0, e);
    EXPECT_EQ(status(), QStringLiteral("No firmware"));
    e.wFirmStatus = 0x1200;
    w.refreshRow(0, e);
    EXPECT_EQ(status(), QStringLiteral("Error"));
    // 0x1003 and 0x1001 keep what the row showed before.
    for (std::uint16_t keep : {0x1003, 0x1001}) {
        e.wUploadStatus = keep;
        w.refreshRow(0, e);
        EXPECT_EQ(status(), QStringLiteral("Error")) << keep;
    }
    EXPECT_FALSE(w.refreshRow(1000, e));  // beyond the table: ignored
}

TEST_F(UiFixture, StandardEditionShowsTheRecordStatusInEveryMode) {
    MainWindow& w = startWindow(false);
    appendRecord("192.168.0.2", 2, 201, true);
    w.handleAddRow(0);
    w.handleMarkRows(1);
    CameraEntry e = core->store().m_CamTable[0];
    core->setFirmMode(kFirmModeUpdate);
    e.wUploadStatus = 0x100B;
    w.refreshRow(0, e);
    EXPECT_EQ(cellText(w, 0, kColStatus), QStringLiteral("NEW"));
}

}  // namespace
}  // namespace lanrove::ui::testing
