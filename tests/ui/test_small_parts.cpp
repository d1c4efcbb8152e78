// The splash, the single-instance lock, the message layer, the sort rules and the options.
#include <fcntl.h>
#include <unistd.h>

#include <QCloseEvent>

#include "ui/instance_lock.h"
#include "ui/list_sort.h"
#include "ui/program.h"
#include "ui/splash_window.h"
#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

TEST(Splash, ClosesOnTheFirstTickAfterTheReadyEventAndNotBefore) {
    LangTable texts;
    texts.loadApplication(kLangIdEnglish, "/nonexistent/Language.ini");
    ManualResetEvent ready;
    ScaledClock clock(0.2);  // 20 ms ticks
    SplashWindow splash(texts, &ready, clock);
    splash.show();
    EXPECT_EQ(splash.subTitle(), QStringLiteral("Lanrove Setup utility"));
    QTest::qWait(80);
    EXPECT_TRUE(splash.isVisible());
    splash.close();  // nothing but the ready event ends it
    EXPECT_TRUE(splash.isVisible());
    QSignalSpy ended(&splash, &SplashWindow::ended);
    ready.set();
    EXPECT_TRUE(ended.wait(5000));
    EXPECT_FALSE(splash.isVisible());
}

TEST(Splash, WithoutAReadyEventClosesAtOnceAndJapaneseStillHasItsText) {
    LangTable texts;
    texts.loadApplication(kLangIdJapanese, "/nonexistent/Language.ini");
    ScaledClock clock(0.01);
    SplashWindow splash(texts, nullptr, clock);
    // Watched before it shows, so an end that comes at once is not missed; the wait is only a
    // bound for a loaded machine.
    QSignalSpy ended(&splash, &SplashWindow::ended);
    splash.show();
    EXPECT_FALSE(splash.subTitle().isEmpty());
    EXPECT_TRUE(ended.count() > 0 || ended.wait(5000));
}

TEST(InstanceLockTest, SecondHolderOfTheSameNameIsRefusedOtherNamesRun) {
    test::TempDir dir;
    InstanceLock first;
    ASSERT_EQ(first.acquire(dir.path(), "lanrove-setup"), InstanceLock::Result::Acquired);
    InstanceLock second;
    EXPECT_EQ(second.acquire(dir.path(), "lanrove-setup"), InstanceLock::Result::AlreadyRunning);
    EXPECT_FALSE(second.held());
    InstanceLock renamed;
    EXPECT_EQ(renamed.acquire(dir.path(), "lanrove-setup-copy"), InstanceLock::Result::Acquired);
    first.release();
    EXPECT_EQ(second.acquire(dir.path(), "lanrove-setup"), InstanceLock::Result::Acquired);
}

TEST(InstanceLockTest, SharedFolderGivesEveryUserTheirOwnLock) {
    test::TempDir dir;
    EXPECT_EQ(InstanceLock::lockFile(dir.path(), "lanrove-setup"),
              dir.path() / "lanrove-setup.lock");
    std::filesystem::permissions(dir.path(), std::filesystem::perms::sticky_bit,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(InstanceLock::lockFile(dir.path(), "lanrove-setup"),
              dir.path() / ("lanrove-setup-" + std::to_string(::getuid()) + ".lock"));
    InstanceLock lock;
    EXPECT_EQ(lock.acquire(dir.path(), "lanrove-setup"), InstanceLock::Result::Acquired);
    EXPECT_EQ(lock.path(), InstanceLock::lockFile(dir.path(), "lanrove-setup"));
}

TEST(InstanceLockTest, UnusableLockFilesLetTheProgramRun) {
    test::TempDir dir;
    InstanceLock lock;
    EXPECT_EQ(lock.acquire(dir.path() / "missing", "x"), InstanceLock::Result::Unavailable);
    // A planted symlink is never followed.
    std::filesystem::create_symlink(dir.path() / "target", dir.path() / "y.lock");
    EXPECT_EQ(lock.acquire(dir.path(), "y"), InstanceLock::Result::Unavailable);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "target"));
}

TEST(InstanceLockTest, StartUpStepWarnsASecondCopyAndNotesAnUnusableLockForTheLog) {
    test::TempDir dir;
    LangTable appTexts;
    appTexts.loadApplication(kLangIdEnglish, dir.path() / "Language.ini");
    AnsweringMessageLayer boxes;
    std::string note = "stale";

    InstanceLock first;
    EXPECT_TRUE(guardSingleInstance(first, dir.path(), "lanrove-setup", boxes, appTexts, note));
    EXPECT_TRUE(note.empty());
    EXPECT_TRUE(boxes.boxes().empty());

    InstanceLock second;
    EXPECT_FALSE(guardSingleInstance(second, dir.path(), "lanrove-setup", boxes, appTexts, note));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, BoxIcon::Warning);
    EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("LANROVE SETUP UTILITY"));

    // No lock file possible: the program runs, and the log gets a line about it.
    InstanceLock unguarded;
    EXPECT_TRUE(guardSingleInstance(unguarded, dir.path() / "missing", "lanrove-setup", boxes,
                                    appTexts, note));
    EXPECT_NE(note.find((dir.path() / "missing" / "lanrove-setup.lock").string()),
              std::string::npos)
        << note;
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST(InstanceLockTest, FolderFromTheRuntimeDirectory) {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", "/run/user/1234");
    EXPECT_EQ(InstanceLock::defaultFolder(), std::filesystem::path("/run/user/1234"));
    // Without one, a folder of this user's own in /tmp, never /tmp itself.
    const std::filesystem::path own = "/tmp/lanrove-setup-" + std::to_string(::getuid());
    qputenv("XDG_RUNTIME_DIR", "relative/dir");
    EXPECT_EQ(InstanceLock::defaultFolder(), own);
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceLock::defaultFolder(), own);
    EXPECT_TRUE(InstanceLock::isPrivateFolder(own));
    if (!saved.isNull()) qputenv("XDG_RUNTIME_DIR", saved);
}

TEST(InstanceLockTest, NoLockInAFolderOthersMayWriteOrThroughALink) {
    test::TempDir dir;
    namespace fs = std::filesystem;
    fs::create_directory(dir.path() / "shared");
    fs::permissions(dir.path() / "shared", fs::perms::all | fs::perms::sticky_bit);
    InstanceLock lock;
    // A world-writable folder (as /tmp): another user could have taken the name first.
    EXPECT_EQ(lock.acquire(dir.path() / "shared", "lanrove-setup"),
              InstanceLock::Result::Unavailable);
    EXPECT_TRUE(fs::is_empty(dir.path() / "shared"));
    fs::permissions(dir.path() / "shared", fs::perms::owner_all | fs::perms::group_write);
    EXPECT_EQ(lock.acquire(dir.path() / "shared", "lanrove-setup"),
              InstanceLock::Result::Unavailable);
    // A link to a folder is not the user's folder, even when it points at a private one.
    fs::create_directory_symlink(dir.path(), dir.path() / "link");
    EXPECT_FALSE(InstanceLock::isPrivateFolder(dir.path() / "link"));
    EXPECT_EQ(lock.acquire(dir.path() / "link", "lanrove-setup"),
              InstanceLock::Result::Unavailable);
    EXPECT_TRUE(InstanceLock::isPrivateFolder(dir.path()));
    EXPECT_EQ(lock.acquire(dir.path(), "lanrove-setup"), InstanceLock::Result::Acquired);
    EXPECT_EQ(fs::status(lock.path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(MessageLayerTest, AnswersInAdvanceAndRecordsEachBoxOnOneLine) {
    test::TempDir dir;
    const std::string file = (dir.path() / "boxes.txt").string();
    AnsweringMessageLayer layer(file);
    layer.queueAnswer(BoxAnswer::Yes);
    EXPECT_EQ(layer.show(nullptr, BoxIcon::Question, "T", "Go on?", BoxButtons::YesNo),
              BoxAnswer::Yes);
    EXPECT_EQ(layer.show(nullptr, BoxIcon::Question, "T", "Again?", BoxButtons::YesNo),
              BoxAnswer::No);
    EXPECT_EQ(layer.show(nullptr, BoxIcon::Error, "Err\tor", "one\ntwo\\", BoxButtons::Ok),
              BoxAnswer::Ok);
    ASSERT_EQ(layer.boxes().size(), 3u);
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "question\tT\tGo on?");
    EXPECT_EQ(lines[2], "error\tErr or\tone\\ntwo\\\\");
}

TEST(SortRules, NumbersFollowTheSixtyFourBitReading) {
    EXPECT_EQ(numberOfText(u"10"), 10);
    EXPECT_EQ(numberOfText(u"  42abc"), 42);
    EXPECT_EQ(numberOfText(u"-7"), -7);
    EXPECT_EQ(numberOfText(u""), 0);
    EXPECT_EQ(numberOfText(u"x1"), 0);
    EXPECT_EQ(numberOfText(u"9223372036854775807"), INT64_MAX);
    EXPECT_EQ(numberOfText(u"99999999999999999999"), INT64_MAX);
    EXPECT_EQ(numberOfText(u"-9223372036854775808"), INT64_MIN);
    EXPECT_LT(compareCells(kColNo, u"9", u"10"), 0);
    EXPECT_EQ(compareCells(kColNo, u"007", u"7"), 0);
}

TEST(SortRules, AddressesCompareUnsignedAndTextExactly) {
    EXPECT_LT(compareCells(kColIp, u"192.168.0.9", u"192.168.0.10"), 0);
    // Above 127.x the signed reading would put these first.
    EXPECT_GT(compareCells(kColIp, u"200.0.0.1", u"10.0.0.1"), 0);
    // A text that is no address reads as 255.255.255.255.
    EXPECT_EQ(compareCells(kColIp, u"", u"255.255.255.255"), 0);
    EXPECT_GT(compareCells(kColIp, u"bad", u"254.0.0.1"), 0);
    EXPECT_LT(compareCells(kColModel, u"KT-100", u"kt-100"), 0);
    EXPECT_LT(compareCells(kColTitle, u"Z", u"a"), 0);
    EXPECT_EQ(compareCells(kColTitle, u"same", u"same"), 0);
}

TEST(SortRules, EqualKeysKeepTheirOrder) {
    CameraListModel list;
    for (const char* ip : {"10.0.0.2", "10.0.0.1", "10.0.0.2", "10.0.0.1"}) {
        CameraEntry e{};
        setField(e.szIp, std::string_view(ip));
        setField(e.szNo, std::string_view(std::to_string(list.rowCount() + 1)));
        list.addRow(e);
    }
    EXPECT_EQ(sortOrder(list, kColIp, true), (std::vector<int>{1, 3, 0, 2}));
    EXPECT_EQ(sortOrder(list, kColIp, false), (std::vector<int>{0, 2, 1, 3}));
    EXPECT_EQ(sortOrder(list, 42, true), (std::vector<int>{0, 1, 2, 3}));
}

TEST(ProgramOptionsTest, KnownOptionsAndErrors) {
    std::string error;
    auto o = parseProgramOptions({"--home", "/srv/lr", "--auto-search", "--answer-boxes", "b.txt"},
                                 error);
    ASSERT_TRUE(o.has_value());
    EXPECT_EQ(o->home, "/srv/lr");
    EXPECT_TRUE(o->autoSearch);
    EXPECT_EQ(o->answerBoxes, "b.txt");
    EXPECT_FALSE(parseProgramOptions({"--home"}, error).has_value());
    EXPECT_EQ(error, "--home needs a value");
    EXPECT_FALSE(parseProgramOptions({"--bogus"}, error).has_value());
    EXPECT_EQ(error, "unknown option --bogus");
}

TEST(ProgramOptionsTest, DemonstrationRunsAreOffUnlessAskedAndNeverAnswerYes) {
    std::string error;
    const auto plain = parseProgramOptions({"--auto-search"}, error);
    ASSERT_TRUE(plain.has_value());
    EXPECT_FALSE(plain->autoFirmware);
    EXPECT_TRUE(plain->autoPlan.empty());

    const auto o = parseProgramOptions(
        {"--auto-firmware-update", "--auto-plan", "plans/site.csv", "--answer-boxes", "b.txt"},
        error);
    ASSERT_TRUE(o.has_value());
    EXPECT_TRUE(o->autoFirmware);
    EXPECT_EQ(o->autoPlan, "plans/site.csv");
    // The firmware run's own question stays No without --yes.
    EXPECT_FALSE(o->answerYes);

    EXPECT_FALSE(parseProgramOptions({"--auto-plan"}, error).has_value());
    EXPECT_EQ(error, "--auto-plan needs a value");
    EXPECT_NE(std::string(programUsage()).find("--auto-firmware-update TEST:"), std::string::npos);
    EXPECT_NE(std::string(programUsage()).find("--auto-plan FILE     TEST:"), std::string::npos);
}

TEST(MessageLayerTest, UnqueuedQuestionsGetTheNegativeAnswerUnlessToldOtherwise) {
    AnsweringMessageLayer careful;
    EXPECT_EQ(careful.show(nullptr, BoxIcon::Question, "T", "Reset all?", BoxButtons::YesNo),
              BoxAnswer::No);
    EXPECT_EQ(careful.show(nullptr, BoxIcon::Warning, "T", "Stop recording?", BoxButtons::OkCancel),
              BoxAnswer::Cancel);
    EXPECT_EQ(careful.show(nullptr, BoxIcon::Error, "T", "Failed", BoxButtons::Ok), BoxAnswer::Ok);
    EXPECT_EQ(careful.boxes().size(), 3u);

    AnsweringMessageLayer agreeing("", QuestionAnswer::Positive);
    EXPECT_EQ(agreeing.show(nullptr, BoxIcon::Question, "T", "Reset all?", BoxButtons::YesNo),
              BoxAnswer::Yes);
    EXPECT_EQ(
        agreeing.show(nullptr, BoxIcon::Warning, "T", "Stop recording?", BoxButtons::OkCancel),
        BoxAnswer::Ok);
}

TEST(ProgramOptionsTest, OnlyTheYesOptionAnswersQuestionsWithYes) {
    test::TempDir dir;
    const std::string file = (dir.path() / "boxes.txt").string();
    std::string error;

    // Neither option nor variable: the boxes go to the user.
    const auto plain = parseProgramOptions({}, error);
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(makeScriptedMessageLayer(*plain, nullptr), nullptr);

    // The variable alone, or --answer-boxes: answered and recorded, questions No.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"--answer-boxes", file}}) {
        const auto o = parseProgramOptions(args, error);
        ASSERT_TRUE(o.has_value());
        const auto layer = makeScriptedMessageLayer(*o, args.empty() ? file.c_str() : nullptr);
        ASSERT_NE(layer, nullptr);
        EXPECT_EQ(layer->show(nullptr, BoxIcon::Question, "T", "Q", BoxButtons::YesNo),
                  BoxAnswer::No);
        EXPECT_EQ(layer->show(nullptr, BoxIcon::Warning, "T", "Q", BoxButtons::OkCancel),
                  BoxAnswer::Cancel);
        EXPECT_EQ(layer->show(nullptr, BoxIcon::Information, "T", "I", BoxButtons::Ok),
                  BoxAnswer::Ok);
    }
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_EQ(lines.size(), 6u);

    // --yes on the command line, with the variable or alone.
    const auto yes = parseProgramOptions({"--yes"}, error);
    ASSERT_TRUE(yes.has_value());
    EXPECT_TRUE(yes->answerYes);
    for (const char* env : {file.c_str(), static_cast<const char*>(nullptr)}) {
        const auto layer = makeScriptedMessageLayer(*yes, env);
        ASSERT_NE(layer, nullptr);
        EXPECT_EQ(layer->show(nullptr, BoxIcon::Question, "T", "Q", BoxButtons::YesNo),
                  BoxAnswer::Yes);
        EXPECT_EQ(layer->show(nullptr, BoxIcon::Warning, "T", "Q", BoxButtons::OkCancel),
                  BoxAnswer::Ok);
    }
}

TEST(ProgramOptionsTest, ProcessAgeIsPlausible) {
    const long long age = processAgeMs();
    EXPECT_GE(age, 0);
    EXPECT_LT(age, 24LL * 3600 * 1000);
}

}  // namespace
}  // namespace lanrove::ui::testing
