// The progress window of a settings run over scripted run steps: the probe at the start of an
// automatic run, the creeping bar, the close when the run is over, the Cancel path with its
// own timer, and the refusals while the run is on. Timers run at a hundredth of their length.
#include <QApplication>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include "setting_dialog_fixture.h"
#include "ui/settings_progress_window.h"

namespace lanrove::ui::testing {
namespace {

// Run steps that answer as the test tells them and count the calls.
class ScriptedSteps final : public SettingsRunSteps {
  public:
    explicit ScriptedSteps(bool automatic) : m_bAutomatic(automatic) {}
    bool automatic() const override { return m_bAutomatic; }
    void begin() override { ++begins; }
    void startProbe() override {
        ++probes;
        probeAfterBegin = begins == 1;
    }
    bool progressTick() override {
        ++progressTicks;
        return runOver;
    }
    void cancel() override { ++cancels; }
    bool cancelTick() override {
        ++cancelTicks;
        return workersEnded;
    }

    bool runOver = false;
    bool workersEnded = false;
    int begins = 0;
    int probes = 0;
    bool probeAfterBegin = false;
    int progressTicks = 0;
    int cancels = 0;
    int cancelTicks = 0;

  private:
    bool m_bAutomatic;
};

class ProgressWindowTest : public SettingDialogFixture {
  protected:
    ScaledClock clock{0.01};  // 10 ms ticks
};

TEST_F(ProgressWindowTest, AutomaticRunProbesOnceAndClosesOnTheTickThatEndsTheRun) {
    ScriptedSteps steps(true);
    CStsChangeMessage w(services(), steps, clock);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("LANROVE SETUP UTILITY"));
    EXPECT_EQ(w.messageLabel()->text(), QStringLiteral("Renewal process...\nPLEASE WAIT !"));
    EXPECT_EQ(w.cancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(steps.begins, 0);
    QSignalSpy finished(&w, &QDialog::finished);
    w.show();
    EXPECT_EQ(steps.begins, 1);
    EXPECT_TRUE(w.progressTimerActive());
    QTRY_VERIFY_WITH_TIMEOUT(steps.progressTicks >= 3, 2000);
    EXPECT_EQ(steps.probes, 1);
    EXPECT_TRUE(steps.probeAfterBegin);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.close());  // refused while the run is on
    EXPECT_TRUE(w.isVisible());
    steps.runOver = true;
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1, 2000);
    EXPECT_EQ(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.progressTimerActive());
    const int ticks = steps.progressTicks;
    QTest::qWait(40);
    EXPECT_EQ(steps.progressTicks, ticks);  // no tick after the close
    EXPECT_EQ(steps.probes, 1);
    EXPECT_EQ(steps.cancels, 0);
}

TEST_F(ProgressWindowTest, ManualRunNeverProbesAndTheBarWrapsAfterAHundredSteps) {
    ScriptedSteps steps(false);
    CStsChangeMessage w(services(), steps, clock);
    EXPECT_EQ(w.progressBar()->minimum(), 0);
    EXPECT_EQ(w.progressBar()->maximum(), 100);
    std::vector<int> values;
    QEventLoop loop;
    QObject::connect(w.progressBar(), &QProgressBar::valueChanged, [&](int v) {
        values.push_back(v);
        if (v == 0) loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    w.show();
    loop.exec();
    // 0 is where the bar starts, so the first change is to 1; after 100 one tick rests.
    ASSERT_GE(values.size(), 101u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(values[static_cast<std::size_t>(i)], i + 1) << i;
    EXPECT_EQ(values[100], 0);
    EXPECT_EQ(steps.probes, 0);
    steps.runOver = true;
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
}

TEST_F(ProgressWindowTest, CancelWaitsForTheWorkersOnItsOwnTimer) {
    ScriptedSteps steps(true);
    CStsChangeMessage w(services(), steps, clock);
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(steps.progressTicks >= 1, 2000);
    QTest::mouseClick(w.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(steps.cancels, 1);
    EXPECT_FALSE(w.cancelButton()->isEnabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(w.cancelTimer(), kStsCancelTimerId);
    // The run's end detection pauses while the cancel is on; the bar goes on creeping.
    const int ticksAtCancel = steps.progressTicks;
    const int barAtCancel = w.nextProgress();
    QTRY_VERIFY_WITH_TIMEOUT(steps.cancelTicks >= 3, 2000);
    EXPECT_EQ(steps.progressTicks, ticksAtCancel);
    EXPECT_GT(w.nextProgress(), barAtCancel);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.close());
    w.abandon();  // a stop request during the cancel does not cancel twice
    EXPECT_EQ(steps.cancels, 1);
    steps.workersEnded = true;
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
    EXPECT_EQ(w.result(), int(QDialog::Accepted));
    EXPECT_EQ(w.cancelTimer(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(steps.probes, 1);
}

TEST_F(ProgressWindowTest, EnterAndEscapeNeitherCloseNorCancel) {
    ScriptedSteps steps(false);
    CStsChangeMessage w(services(), steps, clock);
    w.show();
    w.cancelButton()->setFocus();
    for (QWidget* target : {static_cast<QWidget*>(&w), static_cast<QWidget*>(w.cancelButton())}) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QTest::qWait(30);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(steps.cancels, 0);
    EXPECT_TRUE(w.cancelButton()->isEnabled());
    // A stop request cancels the run like the button.
    w.abandon();
    EXPECT_EQ(steps.cancels, 1);
    steps.workersEnded = true;
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
}

}  // namespace
}  // namespace lanrove::ui::testing
