// The Factory Default button of the maintenance edition: the question (Enter answers No and
// nothing is sent), the reset under the wait window that stays up for the settle time and
// cannot be closed, and the new search afterwards. The command itself is recorded instead of
// sent; the thread and its order are the run's own tests.
#include <QMessageBox>
#include <QTimer>
#include <mutex>

#include "ui/firmware_update_dialog.h"
#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

class FactoryDefaultTest : public UiFixture {
  protected:
    // A maintenance window whose boxes are answered by `messages`.
    MainWindow& startWith(MessageLayer& messages) {
        makeCore(true);
        window = std::make_unique<MainWindow>(*core, messages, appTexts);
        QSignalSpy ready(window.get(), &MainWindow::ready);
        window->start();
        EXPECT_TRUE(ready.count() > 0 || ready.wait(5000));
        core->factoryReset().setSender([this](const CameraEntry& c, CgiSessionSlot&, int) {
            std::lock_guard lock(mutex);
            sent.push_back(fieldUtf8(c.szIp));
            return long{kCgiOk};
        });
        return *window;
    }

    // A listed camera, as the search leaves it.
    void addCamera(const char* ip, bool factory) {
        const int index = core->store().m_nFindWrite;
        appendRecord(ip, 2, 201, factory);
        window->handleAddRow(index);
        window->handleMarkRows(index + 1);
    }

    std::vector<std::string> sentTo() {
        std::lock_guard lock(mutex);
        return sent;
    }

    std::mutex mutex;
    std::vector<std::string> sent;
};

TEST_F(FactoryDefaultTest, EnterAtTheQuestionAnswersNoAndNothingIsSent) {
    QtMessageLayer realBoxes;
    MainWindow& w = startWith(realBoxes);
    addCamera("192.168.0.2", true);
    QSignalSpy waitOpened(&w, &MainWindow::resetWindowOpened);

    QString title;
    QString question;
    bool noIsDefault = false;
    bool busyDuringQuestion = false;
    int attempts = 0;
    std::function<void()> answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (++attempts < 500) QTimer::singleShot(10, &w, answer);
            return;
        }
        title = box->windowTitle();
        question = box->text();
        noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
        busyDuringQuestion = w.resetBusy() && !w.close();
        QTest::keyClick(box, Qt::Key_Return);
    };
    QTimer::singleShot(0, &w, answer);
    QTest::mouseClick(w.button(kIdFactoryDefault), Qt::LeftButton);

    EXPECT_EQ(title, QStringLiteral("LANROVE SETUP UTILITY"));
    EXPECT_TRUE(question.startsWith(QStringLiteral("CAUTION ! \nALL THE CAMERAS IN THE LIST")))
        << question.toStdString();
    EXPECT_TRUE(noIsDefault);
    EXPECT_TRUE(busyDuringQuestion);
    EXPECT_EQ(waitOpened.count(), 0);
    EXPECT_TRUE(sentTo().empty());
    EXPECT_FALSE(core->resetRunning());
    EXPECT_EQ(logText().find("AllResetSetting Set("), std::string::npos);
    EXPECT_FALSE(w.resetBusy());
    EXPECT_TRUE(w.closeAllowed());
}

TEST_F(FactoryDefaultTest, EmptyListOrStandardEditionAsksNothing) {
    MainWindow& w = startWith(boxes);
    boxes.queueAnswer(BoxAnswer::Yes);
    w.onFactoryDefault();  // no rows
    EXPECT_TRUE(boxes.boxes().empty());

    window.reset();
    core.reset();
    MainWindow& standard = startWindow(false);
    EXPECT_FALSE(shown(kIdFactoryDefault));
    appendRecord("192.168.0.2", 2, 201, true);
    standard.handleAddRow(0);
    standard.onFactoryDefault();  // hidden button: nothing, also when called
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(sentTo().empty());
}

TEST_F(FactoryDefaultTest, YesResetsUnderTheWaitWindowForTheSettleTimeThenSearches) {
    transport.replies.push_back(
        camsim::encodeSearchReply(simCamera(1, "192.168.0.2", true, ""), WireCodec()));
    MainWindow& w = startWith(boxes);
    addCamera("192.168.0.50", false);
    addCamera("192.168.0.2", true);
    boxes.queueAnswer(BoxAnswer::Yes);

    QSignalSpy searched(&w, &MainWindow::searchFinished);
    QString waitTitle;
    QString waitText;
    bool closeRefused = false;
    bool keysIgnored = false;
    QElapsedTimer shown;
    qint64 shownMs = -1;
    QObject::connect(&w, &MainWindow::resetWindowOpened, &w, [&](CFirmUpload* ww) {
        shown.start();
        QTimer::singleShot(0, ww, [&, ww] {
            waitTitle = ww->windowTitle();
            waitText = ww->messageLabel()->text();
            closeRefused = !w.close() && !ww->close() && ww->isVisible();
            QTest::keyClick(ww, Qt::Key_Escape);
            QTest::keyClick(ww, Qt::Key_Return);
            keysIgnored = ww->isVisible();
        });
    });
    QObject::connect(&w, &MainWindow::resetFinished, &w, [&] { shownMs = shown.elapsed(); });
    QTest::mouseClick(w.button(kIdFactoryDefault), Qt::LeftButton);

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, BoxIcon::NoIcon);
    EXPECT_EQ(waitTitle, QStringLiteral("Factory Default"));
    EXPECT_EQ(waitText, QStringLiteral("In progress...\nPlease wait."));
    EXPECT_TRUE(closeRefused);
    EXPECT_TRUE(keysIgnored);
    // The factory-address camera first; the settle wait (60000 ms at this clock's scale) kept
    // the window up.
    EXPECT_EQ(sentTo(), (std::vector<std::string>{"192.168.0.2", "192.168.0.50"}));
    EXPECT_GE(shownMs, core->clock().scaledMs(kResetSettleMs) - 20);
    EXPECT_NE(logText().find("AllResetSetting Set("), std::string::npos);
    // The new search ran and lists the cameras as they answer now.
    EXPECT_EQ(searched.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(w.model()->rowCount(), 1, 2000);
    EXPECT_EQ(cellText(w, 0, kColStatus), QStringLiteral("NEW"));
    EXPECT_FALSE(w.resetBusy());
    EXPECT_TRUE(w.closeAllowed());
}

}  // namespace
}  // namespace lanrove::ui::testing
