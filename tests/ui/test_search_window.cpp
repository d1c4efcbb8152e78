// The search window's timers and Cancel against a real search worker whose last step (the ARP
// cache flush) the fake network can hold, so that the window sees a worker that has not ended.
#include <QApplication>
#include <QTimer>

#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

class SearchWindowFixture : public UiFixture {
  protected:
    // Runs `body` once the search window is up, then presses Search (which returns when the
    // window has closed).
    void searchWith(std::function<void(SearchWindow&)> body) {
        MainWindow& w = *window;
        QMetaObject::Connection c = QObject::connect(
            &w, &MainWindow::searchWindowOpened, &w,
            [body](SearchWindow* sw) { QTimer::singleShot(0, sw, [body, sw] { body(*sw); }); });
        QSignalSpy finished(&w, &MainWindow::searchFinished);
        QTest::mouseClick(w.button(kIdSearch), Qt::LeftButton);
        EXPECT_EQ(finished.count(), 1);
        QObject::disconnect(c);
    }
    // A worker without adapters goes straight to its end.
    void noAdapters() { core->adapters().clear(); }
};

TEST_F(SearchWindowFixture, StaysOpenWhileTheWorkerRunsAndClosesAfterIt) {
    startWindow(false);
    noAdapters();
    net.holdFlush = true;
    int result = -1;
    bool texts = false;
    std::string midLog;
    searchWith([&](SearchWindow& sw) {
        texts = sw.windowTitle() == QStringLiteral("LANROVE SETUP UTILITY") &&
                sw.label()->text() == QStringLiteral("Searching...") &&
                sw.cancelButton()->text() == QStringLiteral("Cancel");
        EXPECT_EQ(sw.pollTimer(), kSearchPollTimerId);
        EXPECT_TRUE(net.flushEntered.waitFor(Millis(2000)));
        // The worker has reported its end but has not returned: the window stays.
        QTest::qWait(60);
        EXPECT_TRUE(sw.isVisible());
        midLog = logText();
        QObject::connect(&sw, &QDialog::finished, [&](int r) { result = r; });
        net.flushReleased.set();
    });
    EXPECT_TRUE(texts);
    EXPECT_EQ(result, 1);
    EXPECT_NE(midLog.find("CameraSearch(1) Thread Stop Error."), std::string::npos);
    EXPECT_EQ(core->store().m_bStop.load(), 1u);
    EXPECT_EQ(boxes.boxes().size(), 1u);  // nothing found
}

TEST_F(SearchWindowFixture, ProgressCreepsAndWrapsAfterAHundredSteps) {
    startWindow(false);
    noAdapters();
    net.holdFlush = true;
    std::vector<int> values;
    searchWith([&](SearchWindow& sw) {
        EXPECT_EQ(sw.progressBar()->minimum(), 0);
        EXPECT_EQ(sw.progressBar()->maximum(), 100);
        QObject::connect(sw.progressBar(), &QProgressBar::valueChanged,
                         [&](int v) { values.push_back(v); });
        // Up to 100 one step a tick, then back to 0. The held worker is let go whatever
        // happens, so that a slow machine fails the test instead of hanging it.
        const bool wrapped =
            QTest::qWaitFor([&] { return values.size() >= 2 && values.back() == 0; }, 30000);
        net.flushReleased.set();
        EXPECT_TRUE(wrapped);
    });
    // The bar starts at 0, so the first change is to 1.
    ASSERT_GE(values.size(), 101u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(values[static_cast<std::size_t>(i)], i + 1) << i;
    EXPECT_EQ(values[100], 0);
}

TEST_F(SearchWindowFixture, CancelStopsThePassAndClosesOnTheCancelTimer) {
    // Two adapters, no camera answers.
    net.adapters.push_back(makeAdapter("192.168.1.10", "255.255.255.0", "0.0.0.0", "lo"));
    startWindow(false);
    bool disabled = false;
    bool paused = false;
    bool waitCursor = false;
    int cancelTimer = 0;
    std::string midLog;
    int result = -1;
    searchWith([&](SearchWindow& sw) {
        net.holdFlush = true;  // the worker's end waits until the checks below are done
        // Inside the first pass. No early return: the held worker is let go at the end.
        EXPECT_TRUE(QTest::qWaitFor([&] { return transport.requests.load() >= 1; }, 2000));
        sw.onCancel();
        disabled = !sw.cancelButton()->isEnabled();
        paused = sw.pausedAfterCancel() && !sw.isEnabled();
        waitCursor = QApplication::overrideCursor() != nullptr;
        cancelTimer = sw.cancelTimer();
        EXPECT_EQ(core->store().m_bSearchEnd.load(), 1u);
        EXPECT_EQ(core->store().m_bStop.load(), 1u);
        EXPECT_TRUE(net.flushEntered.waitFor(Millis(3000)));
        // A cancel-timer tick with the worker still running only writes its line.
        QTest::qWait(120);
        EXPECT_TRUE(sw.isVisible());
        EXPECT_TRUE(sw.cancelTimer() == kSearchCancelTimerId);
        midLog = logText();
        QObject::connect(&sw, &QDialog::finished, [&](int r) { result = r; });
        net.flushReleased.set();
    });
    EXPECT_TRUE(disabled);
    EXPECT_TRUE(paused);
    EXPECT_TRUE(waitCursor);
    EXPECT_EQ(cancelTimer, kSearchCancelTimerId);
    EXPECT_EQ(result, 1);
    EXPECT_NE(midLog.find("CameraSearch(2) Thread Stop Error."), std::string::npos);
    EXPECT_EQ(midLog.find("CameraSearch(1) Thread Stop Error."), std::string::npos);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(window->closeAllowed());
    EXPECT_TRUE(enabled(kIdSearch));
    // Both adapters were searched at once, and the Cancel stopped both.
    ASSERT_NE(core->search(), nullptr);
    EXPECT_EQ(core->search()->currentAdapter(), 0);
    EXPECT_EQ(core->search()->passCount(), 2);
}

TEST_F(SearchWindowFixture, EnterAndEscapeDoNotCloseIt) {
    startWindow(false);
    noAdapters();
    net.holdFlush = true;
    bool stillOpen = false;
    searchWith([&](SearchWindow& sw) {
        for (QWidget* target :
             {static_cast<QWidget*>(&sw), static_cast<QWidget*>(sw.cancelButton())}) {
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        QTest::qWait(20);
        stillOpen = sw.isVisible() && sw.cancelButton()->isEnabled() && sw.cancelTimer() == 0;
        net.flushReleased.set();
    });
    EXPECT_TRUE(stillOpen);
}

TEST_F(SearchWindowFixture, CloseFromTheSystemEndsTheSearchAtOnce) {
    startWindow(false);
    bool closedAtOnce = false;
    bool mainRefusedClose = false;
    searchWith([&](SearchWindow& sw) {
        QTRY_VERIFY_WITH_TIMEOUT(transport.requests.load() >= 1, 2000);  // inside the pass
        sw.close();
        closedAtOnce = !sw.isVisible();
        mainRefusedClose = !window->closeAllowed();
    });
    EXPECT_TRUE(closedAtOnce);
    EXPECT_TRUE(mainRefusedClose);
    EXPECT_EQ(core->store().m_bSearchEnd.load(), 1u);
    // The worker ends by itself and its reports still arrive.
    QTRY_VERIFY_WITH_TIMEOUT(window->closeAllowed(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(enabled(kIdSearch), 3000);
}

}  // namespace
}  // namespace lanrove::ui::testing
