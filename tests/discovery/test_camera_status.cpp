#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "discovery/camera_status.h"
#include "support/text.h"

using namespace lanrove;
namespace fs = std::filesystem;

namespace {

CameraEntry camera(std::uint16_t version, const char* ip, std::uint32_t result = 0,
                   std::uint8_t factory = 0, const char* title = "Cam") {
    CameraEntry e;
    e.clear();
    e.wProtoVer = version;
    e.dwResult = result;
    e.bFactory = factory;
    setField(e.szIp, std::string_view(ip));
    setField(e.szTitle, std::string_view(title));
    return e;
}

// A store, classifier and list with the cameras appended and listed in order.
struct Fixture {
    std::unique_ptr<CameraStore> store = std::make_unique<CameraStore>();
    TraceLog off;
    CameraClassifier classifier{*store, off};
    CameraListModel list;

    explicit Fixture(std::initializer_list<CameraEntry> cameras) {
        for (const CameraEntry& c : cameras) {
            store->append(c);
            list.addRow(store->m_CamTable[static_cast<std::size_t>(store->m_nFindWrite - 1)]);
        }
    }
    CameraEntry& rec(int i) { return store->m_CamTable[static_cast<std::size_t>(i)]; }
    std::u16string_view status(int i) { return fieldView(rec(i).szStatus); }
    std::vector<int> counters() {
        return {store->m_nTotal, store->m_nNew, store->m_nOk, store->m_nAttention};
    }
};

}  // namespace

TEST(CameraClassifier, StatusFollowsVersionResultAndAddress) {
    const fs::path dir = fs::temp_directory_path() / ("lanrove-status-" + std::to_string(getpid()));
    fs::remove_all(dir);
    std::string text;
    {
        TraceLog log;
        ASSERT_TRUE(log.create(dir));
        auto store = std::make_unique<CameraStore>();
        CameraClassifier classifier(*store, log);
        const struct {
            CameraEntry cam;
            const char16_t* status;
        } cases[] = {
            {camera(1, "192.168.0.2"), u"NEW"},
            {camera(1, "192.168.0.20", 399), u"OK"},
            {camera(1, "192.168.0.2", 400, 0, "Door"), u"CAUTION"},
            {camera(2, "10.0.0.1", 201, 1), u"NEW"},
            {camera(2, "192.168.0.2", 201, 0), u"OK"},
            {camera(2, "10.0.0.3", 200, 1, "Yard"), u"CAUTION"},
        };
        for (auto c : cases) {
            classifier.classify(c.cam);
            EXPECT_EQ(fieldView(c.cam.szStatus), c.status) << fieldUtf8(c.cam.szIp);
        }
        EXPECT_EQ(store->m_nTotal, 6);
        EXPECT_EQ(store->m_nAttention, 2);
        std::ifstream in(log.currentFile(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        text = ss.str();
    }
    fs::remove_all(dir);
    EXPECT_NE(text.find("warn\tuser\t"), std::string::npos);
    EXPECT_NE(text.find("\tDoor\tFailed in the IP address setting in version 1\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\tYard\tFailed in the IP address setting in version 2\r\n"),
              std::string::npos);
}

// "Failed in the IP address setting" stands for a refused setting only: once per camera, never
// for a clash mark, however often a search re-marks the list.
TEST(CameraClassifier, SettingFailureLineOnlyForARefusalAndOnce) {
    const fs::path dir =
        fs::temp_directory_path() / ("lanrove-refusal-" + std::to_string(getpid()));
    fs::remove_all(dir);
    std::string text;
    {
        TraceLog log;
        ASSERT_TRUE(log.create(dir));
        Fixture f{camera(2, "10.0.0.7", 201, 0, "ClashA"), camera(1, "10.0.0.7", 0, 0, "ClashB"),
                  camera(2, "10.0.0.9", 200, 0, "Refused")};
        CameraClassifier classifier(*f.store, log);
        for (int pass = 0; pass < 3; ++pass) classifier.markOverlaps(f.list, 3);
        EXPECT_EQ(f.list.cell(0, kColStatus), u"CAUTION");
        EXPECT_EQ(f.list.cell(2, kColStatus), u"CAUTION");
        std::ifstream in(log.currentFile(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        text = ss.str();
    }
    fs::remove_all(dir);
    EXPECT_EQ(text.find("ClashA\tFailed"), std::string::npos) << text;
    EXPECT_EQ(text.find("ClashB\tFailed"), std::string::npos) << text;
    const std::string refused = "\tRefused\tFailed in the IP address setting in version 2";
    const std::size_t first = text.find(refused);
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(refused, first + 1), std::string::npos) << text;
}

TEST(CameraClassifier, ReclassifyingMovesBetweenCountersAndPublishesTheTexts) {
    auto store = std::make_unique<CameraStore>();
    TraceLog off;
    CounterTexts seen;
    int calls = 0;
    CameraClassifier classifier(*store, off, {}, [&](const CounterTexts& t) {
        seen = t;
        ++calls;
    });
    classifier.publishCounters();  // a search that found nothing shows zeros
    EXPECT_EQ(seen.total + seen.newCount + seen.ok + seen.attention, u"0000");

    CameraEntry e = camera(1, "192.168.0.2");
    classifier.classify(e);
    classifier.classify(e);
    setField(e.szIp, std::string_view("10.1.1.1"));
    classifier.classify(e);
    EXPECT_EQ(seen.total + seen.newCount + seen.ok + seen.attention, u"1010");

    // Unknown protocol versions are left alone: no status, no counting, no publishing.
    CameraEntry odd = camera(3, "10.1.1.2", 201);
    EXPECT_EQ(classifier.classify(odd), CameraStatus::Unchanged);
    EXPECT_TRUE(fieldEmpty(odd.szStatus));
    EXPECT_EQ(store->m_nTotal, 1);
    EXPECT_EQ(calls, 4);
}

TEST(CameraClassifier, OverlongStatusTextsAreCutAndStillRecognised) {
    auto store = std::make_unique<CameraStore>();
    TraceLog off;
    StatusTexts texts;
    texts.newText = std::u16string(62, u'N') + u"\U0001F4F7";  // pair would straddle the cut
    texts.okText = std::u16string(80, u'O');
    CameraClassifier classifier(*store, off, texts);
    EXPECT_EQ(classifier.statusTexts().newText, std::u16string(62, u'N'));

    CameraEntry e = camera(1, "10.0.0.9");
    classifier.classify(e);
    EXPECT_EQ(fieldView(e.szStatus), std::u16string(63, u'O'));
    setField(e.szIp, std::string_view("192.168.0.2"));
    classifier.classify(e);
    EXPECT_EQ(store->m_nOk, 0);  // the cut text was recognised and its counter decremented
    EXPECT_EQ(store->m_nNew, 1);
}

TEST(CameraClassifier, FactoryCamerasSharingTheDefaultAddressStayNew) {
    Fixture f{camera(2, "192.168.0.2", 201, 1), camera(2, "192.168.0.2", 201, 1),
              camera(1, "192.168.0.2")};
    f.classifier.markOverlaps(f.list, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(f.list.cell(i, kColStatus), u"NEW") << i;
    EXPECT_EQ(f.rec(0).dwResult, 201u);
    EXPECT_EQ(f.counters(), (std::vector<int>{3, 3, 0, 0}));
}

TEST(CameraClassifier, ClashingCamerasAreMarkedUntilOneMoves) {
    for (const std::uint16_t version : {1, 2}) {
        SCOPED_TRACE(version);
        const std::uint32_t result = version == 2 ? 201 : 0;
        Fixture f{camera(version, "10.0.0.7", result), camera(1, "10.0.0.8"),
                  camera(version, "10.0.0.7", result)};
        f.list.reorder({2, 1, 0});  // the user sorted: rows no longer follow the table
        f.classifier.markOverlaps(f.list, 3);
        f.classifier.markOverlaps(f.list, 3);  // marking again while the clash lasts
        EXPECT_EQ(f.rec(0).dwResult, kResultOverlap);
        EXPECT_EQ(f.rec(2).dwResult, kResultOverlap);
        EXPECT_EQ(f.list.cell(0, kColStatus), u"CAUTION");
        EXPECT_EQ(f.counters(), (std::vector<int>{3, 0, 1, 2}));

        // Camera 3 (row 0) gets another address; both return to OK with their own result.
        setField(f.rec(2).szIp, std::string_view("10.0.0.9"));
        f.list.refreshRow(0, f.rec(2));
        f.classifier.markOverlaps(f.list, 3);
        EXPECT_EQ(f.rec(0).dwResult, result);
        EXPECT_EQ(f.rec(2).dwResult, result);
        EXPECT_EQ(f.list.cell(2, kColStatus), u"OK");
        EXPECT_EQ(f.counters(), (std::vector<int>{3, 0, 3, 0}));
    }
}

TEST(CameraClassifier, MarkingStopsAtEmptyAddressesAndSkipsUnknownRows) {
    Fixture f{camera(1, "10.0.0.7"), camera(1, ""), camera(1, "10.0.0.7")};
    CameraEntry stray = camera(1, "10.0.0.5");
    setField(stray.szNo, std::string_view("99"));  // no such record
    f.list.addRow(stray);
    f.list.reorder({3, 0, 1, 2});
    f.classifier.markOverlaps(f.list, 50);  // more rows asked for than listed
    EXPECT_EQ(f.status(0), u"OK");          // its clash lies behind the empty address
    EXPECT_TRUE(fieldEmpty(f.rec(2).szStatus));
    EXPECT_EQ(f.counters(), (std::vector<int>{1, 0, 1, 0}));
}

TEST(CameraClassifier, SpoofedCamerasStayInAttentionThroughAClashAndItsEnd) {
    Fixture f{camera(2, "192.168.0.40", kResultSpoofed), camera(1, "192.168.0.41", kResultSpoofed),
              camera(2, "192.168.0.41", kResultAccepted)};
    f.classifier.markOverlaps(f.list, 3);
    EXPECT_EQ(f.status(0), u"CAUTION");
    EXPECT_EQ(f.status(1), u"CAUTION");
    EXPECT_EQ(f.counters(), (std::vector<int>{3, 0, 0, 3}));
    // The clash ends: the spoof mark comes back, not the result of a setting.
    setField(f.rec(2).szIp, std::string_view("192.168.0.42"));
    f.list.refreshRow(2, f.rec(2));
    f.classifier.markOverlaps(f.list, 3);
    EXPECT_EQ(f.rec(1).dwResult, kResultSpoofed);
    EXPECT_EQ(f.status(1), u"CAUTION");
    EXPECT_EQ(f.status(2), u"OK");
}
