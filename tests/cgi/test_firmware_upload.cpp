// The firmware upload request: body layout, pieces and counters against a simulated camera on
// loopback, the reply parsers with the camera's pages, and the simulator's checks of a body.
#include <gtest/gtest.h>

#include <thread>

#include "cgi/firmware_upload.h"
#include "cgi/sim_helpers.h"
#include "web_firmware.h"
#include "web_side.h"

using namespace lanrove;
using namespace lanrove::camsim;
using lanrove::testing::entryFor;
using lanrove::testing::simCamera;
using lanrove::testing::slurp;
using lanrove::testing::TempDir;

namespace {

std::tm fixedTime() {
    std::tm t{};
    t.tm_year = 2010 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 1;
    return t;
}

FirmwareBytes imageOf(std::size_t size) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(size);
    std::uint32_t x = 7;
    for (auto& b : *bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

class FirmwareUpload : public ::testing::Test {
  protected:
    ScaledClock clock{0.01};
    TempDir dir;
    TraceLog log;
    WireCodec codec{"CP1252"};
    CCGI cgi{clock, log, codec};
    CFirmUpload upload{cgi, log, clock, fixedTime};
    TraceLog simLog;
    Fleet fleet;
    std::unique_ptr<WebSide> web;

    void SetUp() override { ASSERT_TRUE(log.create(dir.path)); }
    void TearDown() override {
        if (web) web->stop();
    }
    std::size_t addCamera(const std::string& ip) {
        fleet.cameras.push_back(simCamera(ip, 2, "Fw"));
        return fleet.cameras.size() - 1;
    }
    void start() {
        web = std::make_unique<WebSide>(fleet, simLog, clock);
        ASSERT_TRUE(web->start());
    }
    std::string logText() { return slurp(log.currentFile()); }
};

}  // namespace

TEST(FirmupBodyLayout, BoundaryAndDelimitersFromTheLocalTime) {
    EXPECT_EQ(MakeBoundaryId(fixedTime()), "7da0307090501");
    EXPECT_EQ(FirmupContentTypeLine("7da0307090501"),
              "Content-Type: multipart/form-data; boundary=" + std::string(27, '-') +
                  "7da0307090501\r\n");
    auto file = std::make_shared<std::vector<std::uint8_t>>(std::vector<std::uint8_t>{'A', 0, 'B'});
    const FirmupBody body = MakeFirmupBody("7da0307090501", "/fw/KT-5200/RM20123.BIN", file);
    const std::string expected = std::string(29, '-') + "7da0307090501\r\n" +
                                 "Content-Disposition: form-data; name=\"firmware_file\"; "
                                 "filename=\"/fw/KT-5200/RM20123.BIN\"\r\n" +
                                 "Content-Type: application/octet-stream\r\n\r\n" +
                                 std::string("A\0B", 3) + "\r\n" + std::string(29, '-') +
                                 "7da0307090501--\r\n";
    EXPECT_EQ(body.flatten(), expected);
    EXPECT_EQ(body.size(), expected.size());
    EXPECT_EQ(expectedUploadLength("7da0307090501", "/fw/KT-5200/RM20123.BIN", 3), body.size());
    // Copies that straddle the pieces of the body.
    std::string middle(10, '\0');
    ASSERT_TRUE(
        body.copy(body.head.size() - 4, 10, reinterpret_cast<std::uint8_t*>(middle.data())));
    EXPECT_EQ(middle, expected.substr(body.head.size() - 4, 10));
    EXPECT_FALSE(body.copy(body.size() - 2, 3, reinterpret_cast<std::uint8_t*>(middle.data())));
    // A path cannot end the part header early.
    const FirmupBody odd = MakeFirmupBody("1", "a\"b\r\nX: y.BIN", file);
    EXPECT_NE(odd.head.find("filename=\"a%22b%0D%0AX: y.BIN\"\r\n"), std::string::npos);
}

TEST(FirmupPages, RefreshSetTimeoutAndErrorCode) {
    long wait = -5;
    const std::string meta =
        "<html><head>\r\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"x\">\r\n"
        "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"45; URL=/x\">\r\n</head>";
    EXPECT_EQ(FirmupPage::ParseFirmupReply(meta, wait, nullptr), 0);
    EXPECT_EQ(wait, 45);
    wait = 0;
    EXPECT_EQ(FirmupPage::ParseFirmupReply("<script>\nsetTimeout(\"go()\", 3000);\n</script>\n",
                                           wait, nullptr),
              0);
    EXPECT_EQ(wait, 3000);
    std::string code;
    EXPECT_EQ(FirmupPage::ParseFirmupReply(
                  "setTimeout(\"go()\", 3000);\r\n<p>code=E105 bad image</p>\r\n", wait, &code),
              -2);
    EXPECT_EQ(code, "E105 bad image");
    EXPECT_EQ(FirmupPage::ParseFirmupReply("", wait, nullptr), -1);
    // A code with no line end after it is no error page.
    EXPECT_FALSE(FirmupPage::FindErrorCode("code=E1", code));
    // The comma must be on the setTimeout line.
    wait = 7;
    EXPECT_EQ(FirmupPage::ParseFirmupReply("setTimeout(x)\r\n, 99\r\n", wait, nullptr), 0);
    EXPECT_EQ(wait, 7);

    long value = 9;
    EXPECT_EQ(FirmupPage::ParseRebootReply("<p>discon4</p>\r\n", value), -1);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(FirmupPage::ParseRebootReply("", value), 1);
    EXPECT_EQ(FirmupPage::ParseRebootReply("setTimeout(\"a\", 30000);\r\n", value), 1);
    EXPECT_EQ(value, 30000);
    EXPECT_EQ(FirmupPage::ParseRebootReply("setTimeout(\"a\")\r\n,5\r\n", value), -1);
    // Huge numbers saturate instead of overflowing.
    EXPECT_EQ(FirmupPage::ParseRebootReply("setTimeout(a, 99999999999999999999);\n", value), 1);
    EXPECT_EQ(value, 2147483647L);
    // LF-only lines; a later CR LF wins over an earlier bare LF, as the camera pages are read.
    EXPECT_EQ(FirmupPage::LineEnd("ab\ncd\r\n", 0), 5u);
    EXPECT_EQ(FirmupPage::LineEnd("ab\ncd\r", 0), 2u);
    EXPECT_EQ(FirmupPage::LineEnd("abcd\r\n", 0), 4u);
}

TEST(FirmupPages, FileNameVersions) {
    EXPECT_EQ(versionFromFileName("C:\\fw\\RA20A1F3.BIN"), "41459");
    EXPECT_EQ(versionFromFileName("/fw/RM20123.BIN"), "123");
    EXPECT_EQ(versionFromFileName("RM2.BIN"), "");
    EXPECT_EQ(versionFromFileName("RM2XYZ.BIN"), "");
}

TEST_F(FirmwareUpload, BodyGoesInPiecesOf8192AndArrivesWhole) {
    const auto i = addCamera("127.0.0.64");
    start();
    UploadContext ctx;
    ctx.copy = entryFor(fleet.cameras[i], "7");
    CameraEntry table = ctx.copy;
    ctx.camera = &table;
    // File and framing together 20000 bytes.
    const std::string path = "/fw/RM20123.BIN";
    const std::size_t framing = expectedUploadLength("7da0307090501", path, 0);
    const FirmwareBytes file = imageOf(20000 - framing);
    ASSERT_EQ(upload.BuildBody(ctx, file, file->size(), fromUtf8(path), u"RM20123.BIN"), 0);
    ASSERT_EQ(ctx.body.size(), 20000u);
    std::vector<std::uint32_t> seen;
    ctx.onPiece = [&](std::uint32_t sent) {
        seen.push_back(LoadSentBytes(table));
        (void)sent;
    };
    CgiRequestPtr request;
    ASSERT_EQ(upload.StartFirmupPost(ctx, request), 0);
    ASSERT_TRUE(request);
    EXPECT_EQ(upload.FirmSendProc(ctx, *request), 0);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{8192, 16384, 20000}));
    EXPECT_EQ(LoadTotalBytes(table), 20000u);
    EXPECT_EQ(LoadUploadStatus(table), kUploadSent);
    EXPECT_EQ(LoadUploadStatus(ctx.copy), kUploadSent);
    EXPECT_EQ(request->statusCode(), 200);
    std::size_t count = 0;
    ASSERT_EQ(upload.FirmupRecv(ctx, *request, count, kFirmRecvTimeoutMs), 0);
    EXPECT_GT(count, 0u);
    EXPECT_EQ(upload.ParseCheckError(ctx), 0);
    request.reset();
    {
        std::lock_guard lock(fleet.mutex);
        EXPECT_EQ(fleet.cameras[i].firmware.image, *file);
        EXPECT_EQ(fleet.cameras[i].firmware.fileName, path);
    }
    // While the camera writes the image its result page asks for a short refresh.
    long wait = 0;
    EXPECT_EQ(upload.GetFirmupCheckRecv(ctx, wait), 0);
    EXPECT_EQ(wait, 5);
    const std::string text = logText();
    EXPECT_NE(text.find("CamNo(7) SendEventProc Firm Upload File:RM20123.BIN(FileSize:"),
              std::string::npos);
    EXPECT_NE(text.find("CamNo(7) wchar to char End."), std::string::npos);
}

TEST_F(FirmwareUpload, RefusedEmptyAndShortImages) {
    const auto i = addCamera("127.0.0.65");
    fleet.cameras[i].faults.insert("firmrefuse");
    start();
    UploadContext ctx;
    ctx.copy = entryFor(fleet.cameras[i], "8");
    CgiRequestPtr request;
    EXPECT_EQ(upload.StartFirmupPost(ctx, request), kFirmEmptyBody);
    const FirmwareBytes file = imageOf(50000);
    // The reader listed another size than it read: no body.
    EXPECT_EQ(upload.BuildBody(ctx, file, 50001, u"/fw/RM20001.BIN", u"RM20001.BIN"),
              kFirmReadFailed);
    EXPECT_NE(logText().find("CamNo(8) Read Firm Failt File Size(50001) = 50000"),
              std::string::npos);
    EXPECT_TRUE(ctx.body.empty());
    ASSERT_EQ(upload.BuildBody(ctx, file, 50000, u"/fw/RM20001.BIN", u"RM20001.BIN"), 0);
    ASSERT_EQ(upload.StartFirmupPost(ctx, request), 0);
    ASSERT_EQ(upload.FirmSendProc(ctx, *request), 0);
    std::size_t count = 0;
    ASSERT_EQ(upload.FirmupRecv(ctx, *request, count, kFirmRecvTimeoutMs), 0);
    EXPECT_EQ(upload.ParseCheckError(ctx), kFirmErrorCode);
    EXPECT_NE(logText().find("CamNo(8) Firmup Error Code Status = E0103"), std::string::npos);
    std::lock_guard lock(fleet.mutex);
    EXPECT_EQ(fleet.cameras[i].firmware.uploads, 0);
}

TEST_F(FirmwareUpload, SimulatorRefusesAWrongFraming) {
    const auto i = addCamera("127.0.0.66");
    start();
    UploadContext ctx;
    ctx.copy = entryFor(fleet.cameras[i], "9");
    const FirmwareBytes file = imageOf(1000);
    ASSERT_EQ(upload.BuildBody(ctx, file, 1000, u"/fw/RM20001.BIN", u"RM20001.BIN"), 0);
    // The header names another boundary than the body's delimiters carry.
    ctx.body.boundary = "7da0307090502";
    CgiRequestPtr request;
    ASSERT_EQ(upload.StartFirmupPost(ctx, request), 0);
    upload.FirmSendProc(ctx, *request);
    EXPECT_EQ(request->statusCode(), 400);
    std::lock_guard lock(fleet.mutex);
    EXPECT_EQ(fleet.cameras[i].firmware.uploads, 0);
}

TEST_F(FirmwareUpload, SilentCameraRestartsAndComesBackWithTheFilesVersionOrItsOld) {
    const auto silent = addCamera("127.0.0.74");
    const auto old = addCamera("127.0.0.75");
    for (auto k : {silent, old}) {
        SimCamera& c = fleet.cameras[k];
        c.firmVer = "100";
        c.writeMs = 0;
        c.announceMs = 0;
        c.restartMs = 20000;  // 200 ms here
    }
    fleet.cameras[silent].faults.insert("firmsilent");
    fleet.cameras[old].faults.insert("oldversion");
    start();
    const FirmwareBytes file = imageOf(30000);
    for (auto k : {silent, old}) {
        UploadContext ctx;
        ctx.copy = entryFor(fleet.cameras[k], "2");
        ASSERT_EQ(upload.BuildBody(ctx, file, file->size(), u"/fw/RM20123.BIN", u"RM20123.BIN"), 0);
        CgiRequestPtr request;
        ASSERT_EQ(upload.StartFirmupPost(ctx, request), 0);
        ASSERT_EQ(upload.FirmSendProc(ctx, *request), 0);
        std::size_t count = 0;
        const int recv = upload.FirmupRecv(ctx, *request, count, kFirmRecvTimeoutMs);
        // The silent camera restarts instead of answering: no reply, which is no failure.
        EXPECT_EQ(recv, k == silent ? kFirmNoReply : 0) << k;
        request.reset();
        // Offline while it restarts, then back.
        ctx.session.reset();
        EXPECT_EQ(cgi.ConnectInitSessKeepAlive(ctx.copy, ctx.session), kCgiFailed) << k;
        bool back = false;
        for (int i = 0; i < 100 && !back; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ctx.session.reset();
            back = cgi.ConnectInitSessKeepAlive(ctx.copy, ctx.session) == kCgiOk;
        }
        EXPECT_TRUE(back) << k;
    }
    std::lock_guard lock(fleet.mutex);
    EXPECT_EQ(fleet.cameras[silent].firmVer, "123");
    EXPECT_EQ(fleet.cameras[silent].versions["CAM MAIN Ver"], "123");
    EXPECT_EQ(fleet.cameras[old].firmVer, "100");
    EXPECT_EQ(fleet.cameras[old].firmware.uploads, 1);
}
