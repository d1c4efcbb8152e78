// Saving the list as CSV from the main window: Ctrl+S and the list's context-menu entry, the
// bytes compared with what `lanrove-cli search --csv` prints for the same camera table, a
// cancelled dialog, and a folder that cannot be written.
#include <QMenu>

#include "app/list_export.h"
#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class ListExport : public UiFixture {
  protected:
    MainWindow& searchedWindow() {
        transport.replies.push_back(camsim::encodeSearchReply(
            simCamera(1, "192.168.0.2", true, "Gate, \"North\""), WireCodec()));
        transport.replies.push_back(
            camsim::encodeSearchReply(simCamera(2, "192.168.0.31", false, " Hall"), WireCodec()));
        MainWindow& w = startWindow(false);
        QTest::mouseClick(w.button(kIdSearch), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.model()->rowCount() == 2; }, 2000));
        w.setSaveFileChooser([this](QWidget*, const QString&, const QString& suggested) {
            suggestions.push_back(suggested);
            return answer;
        });
        return w;
    }

    QString answer;
    QStringList suggestions;
};

TEST_F(ListExport, CtrlSWritesTheListAsTheCliPrintsIt) {
    MainWindow& w = searchedWindow();
    // Sorted by title, so the file follows the display order, not the table's.
    w.sortByColumn(kColTitle);
    const auto file = dir.path() / "site.csv";
    answer = QString::fromStdString(file.string());
    // Shortcuts go to the active window only.
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(w.listView(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(suggestions.size(), 1);
    EXPECT_TRUE(suggestions[0].endsWith(QStringLiteral("cameras.csv")));

    const std::string saved = readAll(file);
    EXPECT_EQ(saved, listCsv(*core));
    const std::string expected =
        "\xEF\xBB\xBF"
        "No.,Status,Model name,MAC Address,IP Address,Port,SSL,Camera Title,Firmware Version\r\n"
        "2,OK,KT-100,00:1B:7C:00:02:02,192.168.0.31,80,OFF,\" Hall\",2.10\r\n"
        "1,NEW,KT-100,00:1B:7C:00:02:01,192.168.0.2,80,OFF,\"Gate, \"\"North\"\"\",2.10\r\n";
    EXPECT_EQ(saved, expected);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(ListExport, ContextMenuEntrySavesAndACancelWritesNothing) {
    MainWindow& w = searchedWindow();
    ASSERT_EQ(w.listView()->contextMenuPolicy(), Qt::ActionsContextMenu);
    ASSERT_TRUE(w.listView()->actions().contains(w.saveListAction()));
    EXPECT_EQ(w.saveListAction()->text(), QStringLiteral("Save List as CSV..."));

    // Cancelled: nothing is written.
    auto entries = [this] {
        return std::distance(std::filesystem::directory_iterator(dir.path()), {});
    };
    const auto before = entries();
    answer.clear();
    w.saveListAction()->trigger();
    EXPECT_EQ(suggestions.size(), 1);
    EXPECT_EQ(entries(), before);
    EXPECT_TRUE(boxes.boxes().empty());

    const auto file = dir.path() / "x.csv";
    std::ofstream(file) << "old";
    answer = QString::fromStdString(file.string());
    w.saveListAction()->trigger();
    EXPECT_EQ(readAll(file), listCsv(*core));
}

TEST_F(ListExport, UnwritableFolderShowsAnErrorAndKeepsTheOldFile) {
    MainWindow& w = searchedWindow();
    answer = QString::fromStdString((dir.path() / "missing" / "x.csv").string());
    EXPECT_FALSE(w.onSaveList());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, BoxIcon::Error);
    EXPECT_TRUE(boxes.boxes()[0].text.startsWith(QStringLiteral("The list could not be saved.")));
    EXPECT_NE(logText().find("List not saved: cannot create a file in"), std::string::npos);
    // No stray temporary file next to the target.
    for (const auto& f : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(f.path().filename().string().find(".csv."), std::string::npos) << f.path();
}

}  // namespace
}  // namespace lanrove::ui::testing
