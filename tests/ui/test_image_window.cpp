// The live image window on its own (painting at 16:9 or stretched, the fetch off the GUI
// thread, one fetch at a time, the close after a failed fetch) and the main window's Camera
// Image and Web Browser buttons over simulated cameras. The cameras are served in-process on
// loopback addresses, or, when LANROVE_LAB_CAMERA names an address, by the lab's simulator
// (the lab test runs these cases on the lab's PC that way).
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "cgi/sim_helpers.h"
#include "ui/image_window.h"
#include "ui_fixture.h"
#include "web_image.h"
#include "web_side.h"

namespace lanrove::ui::testing {
namespace {

QColor groundColour() {
    return QColor::fromRgb(camsim::kImageGround);
}

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
           std::abs(a.blue() - b.blue()) < 24;
}

LiveImage replyImage(unsigned counter, bool bWide) {
    const std::string body = camsim::liveImageReply(counter, true, bWide);
    LiveImage image;
    image.bytes.assign(body.begin(), body.end());
    const ImageTrailer t = FindImageTrailer(body);
    image.imageLength = t.imageLength;
    image.nWide = t.nWide;
    return image;
}

class ImageWindowTest : public ::testing::Test {
  protected:
    ImageWindowTest() { texts.loadMain(kLangIdEnglish, "/nonexistent/Language.ini"); }

    std::unique_ptr<CChangeSts> makeWindow(CChangeSts::FetchFn fetch) {
        CameraEntry e{};
        e.clear();
        setField(e.szNo, std::string_view("1"));
        setField(e.szIp, std::string_view("192.168.0.50"));
        setField(e.szTitle, std::string_view("Gate"));
        return std::make_unique<CChangeSts>(CChangeSts::Services{texts, log, boxes, clock}, e,
                                            std::move(fetch));
    }

    // Waits (processing events) until `pred` holds or `ms` have passed.
    template <class Pred>
    bool waitUntil(Pred pred, int ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (!pred() && t.elapsed() < ms) QTest::qWait(5);
        return pred();
    }

    ScaledClock clock{0.1};
    test::TempDir dir;
    LangTable texts;
    TraceLog log;
    AnsweringMessageLayer boxes;
};

TEST_F(ImageWindowTest, TitleAndSize) {
    auto w = makeWindow({});
    EXPECT_EQ(w->windowTitle(), QStringLiteral("192.168.0.50 ( Gate ) "));
    EXPECT_TRUE(w->isModal());
    EXPECT_TRUE(w->picture().isNull());
}

TEST_F(ImageWindowTest, WidePictureIsLetterboxedAndOtherPicturesStretched) {
    for (bool bWide : {true, false}) {
        SCOPED_TRACE(bWide ? "16:9" : "4:3");
        auto w = makeWindow([bWide](const CameraEntry&, LiveImage& image) {
            image = replyImage(1, bWide);
            return kCgiOk;
        });
        QSignalSpy shown(w.get(), &CChangeSts::pictureShown);
        w->show();
        ASSERT_TRUE(shown.wait(5000));
        EXPECT_EQ(w->wideFlag(), bWide ? 1 : 0);
        const QImage shot = w->grab().toImage();
        const int width = shot.width();
        const int height = shot.height();
        const int band = (height - width * 9 / 16) / 2;
        ASSERT_GT(band, 4);
        // The left edge, away from the drawn digits: top, just inside the picture, middle.
        EXPECT_EQ(near(shot.pixelColor(3, 2), groundColour()), !bWide);
        EXPECT_EQ(near(shot.pixelColor(3, band - 3), groundColour()), !bWide);
        EXPECT_TRUE(near(shot.pixelColor(3, band + 3), groundColour()));
        EXPECT_TRUE(near(shot.pixelColor(3, height / 2), groundColour()));
        EXPECT_TRUE(near(shot.pixelColor(width - 3, height - band - 3), groundColour()));
        EXPECT_EQ(near(shot.pixelColor(width - 3, height - 2), groundColour()), !bWide);
        w->done(0);
    }
}

TEST_F(ImageWindowTest, UndecodablePictureLeavesTheWindowEmptyUntilTheNextGoodOne) {
    std::atomic<int> calls{0};
    auto w = makeWindow([&calls](const CameraEntry&, LiveImage& image) {
        if (++calls == 2) {
            image.bytes.assign(200, 'x');
            image.imageLength = 200;
            return kCgiOk;
        }
        image = replyImage(static_cast<unsigned>(calls.load()), false);
        return kCgiOk;
    });
    std::vector<bool> shownNull;
    QObject::connect(w.get(), &CChangeSts::pictureShown,
                     [&] { shownNull.push_back(w->picture().isNull()); });
    w->show();
    ASSERT_TRUE(waitUntil([&] { return shownNull.size() >= 3; }));
    w->done(0);
    EXPECT_FALSE(shownNull[0]);
    EXPECT_TRUE(shownNull[1]);
    EXPECT_FALSE(shownNull[2]);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(ImageWindowTest, OneFetchAtATimeAndTheNextAfterTheRefreshPause) {
    std::mutex m;
    std::vector<
        std::pair<std::chrono::steady_clock::time_point, std::chrono::steady_clock::time_point>>
        spans;
    std::atomic<int> running{0};
    std::atomic<int> overlap{0};
    auto w = makeWindow([&](const CameraEntry&, LiveImage& image) {
        if (++running > 1) ++overlap;
        const auto begin = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        image = replyImage(3, false);
        --running;
        std::lock_guard lock(m);
        spans.emplace_back(begin, std::chrono::steady_clock::now());
        return kCgiOk;
    });
    w->show();
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(m);
        return spans.size() >= 4;
    }));
    w->done(0);
    EXPECT_EQ(overlap.load(), 0);
    std::lock_guard lock(m);
    // 500 ms at the scale of 0.1: the next fetch starts 50 ms after the previous picture.
    for (std::size_t i = 1; i < spans.size(); ++i)
        EXPECT_GE(spans[i].first - spans[i - 1].second, std::chrono::milliseconds(45)) << i;
}

TEST_F(ImageWindowTest, FailedFetchShowsOneErrorAndClosesTheWindow) {
    std::atomic<int> calls{0};
    auto w = makeWindow([&calls](const CameraEntry&, LiveImage& image) {
        if (++calls > 1) return kCgiFailed;
        image = replyImage(1, false);
        return kCgiOk;
    });
    log.create(dir.path());
    const int result = w->exec();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(calls.load(), 2);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text.toStdU16String(), texts.lookup(u"ERROR_WINDOW", u"ERROR_CONNECT"));
    EXPECT_EQ(shown[0].title.toStdU16String(), texts.lookup(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"));
    log.close();
    std::string all;
    for (const auto& f : std::filesystem::directory_iterator(dir.path() / "IPLog")) {
        std::ifstream in(f.path());
        all += std::string(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_NE(all.find("Failed in the connection of the camera"), std::string::npos);
    EXPECT_NE(all.find("Gate"), std::string::npos);
}

TEST_F(ImageWindowTest, WindowKeepsProcessingEventsWhileACameraIsSlow) {
    // A real fetch from a camera that answers after 1.5 s.
    TraceLog simLog;
    camsim::Fleet fleet;
    fleet.cameras.push_back(::lanrove::testing::simCamera("127.0.0.81", 2, "Slow"));
    fleet.cameras.back().faults.insert("slow");
    fleet.cameras.back().faultArgs["slow"] = "1500";
    ScaledClock real{1.0};
    camsim::WebSide web(fleet, simLog, real);
    ASSERT_TRUE(web.start());
    const WireCodec codec("CP1252");
    CCGI cgi(real, log, codec);
    const CameraEntry entry = ::lanrove::testing::entryFor(fleet.cameras.back());

    CChangeSts w({texts, log, boxes, real}, entry, [&cgi](const CameraEntry& e, LiveImage& image) {
        CgiSessionSlot slot;
        return GetLiveImage(cgi, slot, e, image);
    });
    QSignalSpy shown(&w, &CChangeSts::pictureShown);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (w.fetching()) ++ticks;
    });
    ticker.start(20);
    w.show();
    ASSERT_TRUE(shown.wait(8000));
    // Events ran all through the wait (about 75 ticks of 20 ms in 1.5 s).
    EXPECT_GT(ticks, 30);
    EXPECT_FALSE(w.picture().isNull());
    w.done(0);
    web.stop();
}

TEST_F(ImageWindowTest, ClosingDuringAFetchWaitsForTheWorker) {
    std::atomic<bool> ended{false};
    auto w = makeWindow([&ended](const CameraEntry&, LiveImage& image) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        image = replyImage(1, false);
        ended = true;
        return kCgiOk;
    });
    w->show();
    ASSERT_TRUE(waitUntil([&] { return w->fetching(); }));
    w->done(0);
    EXPECT_TRUE(ended.load());
    EXPECT_FALSE(w->fetching());
    w.reset();
    EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace
}  // namespace lanrove::ui::testing
