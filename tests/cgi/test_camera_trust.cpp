// The certificate pins and spoof marks: the store on its own, and the camera client against
// simulated HTTPS cameras on loopback addresses, where nothing may reach a camera whose
// certificate changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "cgi/camera_trust.h"
#include "cgi/cgi.h"
#include "cgi/sim_helpers.h"
#include "support/private_file.h"
#include "web_side.h"

using namespace lanrove;
using namespace lanrove::camsim;
using lanrove::testing::entryFor;
using lanrove::testing::simCamera;
using lanrove::testing::slurp;
using lanrove::testing::TempDir;

namespace {

const std::string kMac = "00:1B:7C:00:0A:01";
const std::string kFpA = "AA:BB:CC:DD";
const std::string kFpB = "11:22:33:44";

TlsPeer peer(const std::string& fingerprint, const char* protocol = "TLSv1.3",
             const char* keyType = "EC", int bits = 256,
             const char* signature = "ecdsa-with-SHA256") {
    TlsPeer p;
    p.fingerprint = fingerprint;
    p.protocol = protocol;
    p.keyType = keyType;
    p.keyBits = bits;
    p.signature = signature;
    return p;
}

TEST(CameraTrust, FirstUsePinsThenOnlyThatCertificatePassesUntilAccepted) {
    TempDir dir;
    CameraTrust trust(CameraTrust::fileIn(dir.path));
    std::vector<std::string> told;
    trust.setRefusalSink([&](const std::string&, const std::string& m) { told.push_back(m); });

    EXPECT_EQ(trust.check("00-1b-7c-00-0a-01", peer(kFpA)), CameraTrust::Verdict::kFirstUse);
    EXPECT_EQ(trust.check(kMac, peer(kFpA)), CameraTrust::Verdict::kSame);
    EXPECT_EQ(trust.check(kMac, peer(kFpB)), CameraTrust::Verdict::kChanged);
    EXPECT_EQ(trust.check(kMac, peer(kFpB)), CameraTrust::Verdict::kChanged);
    // Told once, with both fingerprints and the way out.
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(kMac), std::string::npos);
    EXPECT_NE(told[0].find(kFpA), std::string::npos);
    EXPECT_NE(told[0].find(kFpB), std::string::npos);
    EXPECT_NE(told[0].find("lanrove-cli trust --mac " + kMac), std::string::npos);

    // Another process (a fresh store on the same file) sees the same state.
    CameraTrust other(CameraTrust::fileIn(dir.path));
    ASSERT_TRUE(other.pin(kMac));
    EXPECT_EQ(other.pin(kMac)->fingerprint, kFpA);
    EXPECT_EQ(other.pin(kMac)->offered, kFpB);
    ASSERT_TRUE(other.accept(kMac));
    EXPECT_EQ(trust.check(kMac, peer(kFpB)), CameraTrust::Verdict::kSame);
    EXPECT_EQ(trust.check(kMac, peer(kFpA)), CameraTrust::Verdict::kChanged);
}

TEST(CameraTrust, ExpectedNewCertificateIsPinnedOnceAndAcceptWithoutOfferWaitsForNext) {
    CameraTrust trust;  // memory only
    EXPECT_EQ(trust.check(kMac, peer(kFpA)), CameraTrust::Verdict::kFirstUse);
    ASSERT_TRUE(trust.expectNew(kMac));
    EXPECT_EQ(trust.check(kMac, peer(kFpB)), CameraTrust::Verdict::kRenewed);
    EXPECT_EQ(trust.check(kMac, peer(kFpA)), CameraTrust::Verdict::kChanged);
    // The reset's own requests still meet the old certificate: it passes and the expectation
    // stays for the certificate the camera makes when it restarts.
    ASSERT_TRUE(trust.expectNew(kMac));
    EXPECT_EQ(trust.check(kMac, peer(kFpB)), CameraTrust::Verdict::kSame);
    EXPECT_EQ(trust.check(kMac, peer(kFpB)), CameraTrust::Verdict::kSame);
    EXPECT_TRUE(trust.pin(kMac)->bExpectNew);
    EXPECT_EQ(trust.check(kMac, peer(kFpA)), CameraTrust::Verdict::kRenewed);
    EXPECT_FALSE(trust.pin(kMac)->bExpectNew);
    EXPECT_EQ(trust.check(kMac, peer(kFpB)), CameraTrust::Verdict::kChanged);

    const std::string other = "00:1B:7C:00:0A:02";
    ASSERT_TRUE(trust.accept(other));  // nothing offered yet: the next one is taken
    EXPECT_EQ(trust.check(other, peer(kFpA)), CameraTrust::Verdict::kRenewed);
    EXPECT_EQ(trust.check(other, peer(kFpA)), CameraTrust::Verdict::kSame);
    EXPECT_FALSE(trust.accept("not a mac"));
}

TEST(CameraTrust, PinInAFolderNotMadeYetIsStoredAndTheFolderIsPrivate) {
    TempDir dir;
    const std::filesystem::path folder = dir.path / "fresh" / "home";
    CameraTrust trust(CameraTrust::fileIn(folder));
    EXPECT_EQ(trust.check(kMac, peer(kFpA)), CameraTrust::Verdict::kFirstUse);
    EXPECT_EQ(trust.lastError(), "");
    // Another run sees the pin: the next, different certificate is no first use.
    CameraTrust next(CameraTrust::fileIn(folder));
    EXPECT_EQ(next.check(kMac, peer(kFpB)), CameraTrust::Verdict::kChanged);
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(CameraTrust, LegacyHandshakeIsNotedAndClearedWhenTheCameraIsModern) {
    CameraTrust trust;
    EXPECT_FALSE(peer(kFpA).legacy());
    EXPECT_TRUE(peer(kFpA, "TLSv1", "RSA", 2048, "sha256WithRSAEncryption").legacy());
    EXPECT_TRUE(peer(kFpA, "TLSv1.2", "RSA", 1024, "sha256WithRSAEncryption").legacy());
    EXPECT_TRUE(peer(kFpA, "TLSv1.2", "RSA", 2048, "sha1WithRSAEncryption").legacy());
    trust.check(kMac, peer(kFpA, "TLSv1", "RSA", 1024, "sha1WithRSAEncryption"));
    EXPECT_EQ(trust.pin(kMac)->legacyTls, "TLSv1, RSA 1024 bits, sha1WithRSAEncryption");
    trust.check(kMac, peer(kFpA));
    EXPECT_EQ(trust.pin(kMac)->legacyTls, "");
}

TEST(CameraTrust, FileIsPrivateAndASymlinkAtItsPathIsReplacedNotFollowed) {
    TempDir dir;
    const auto file = CameraTrust::fileIn(dir.path);
    const auto victim = dir.path / "victim.txt";
    std::ofstream(victim) << "keep\n";
    std::filesystem::create_symlink(victim, file);
    CameraTrust trust(file);
    // A link is not read as the pin file ...
    EXPECT_EQ(trust.check(kMac, peer(kFpA)), CameraTrust::Verdict::kFirstUse);
    // ... and writing replaced the link instead of writing through it.
    EXPECT_EQ(slurp(victim), "keep\n");
    EXPECT_FALSE(std::filesystem::is_symlink(file));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(CameraTrust(file).pin(kMac)->fingerprint, kFpA);
    // No temporary file is left beside it.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) entries += e.exists();
    EXPECT_EQ(entries, 2);
}

TEST(CameraTrust, DamagedLinesAreSkippedAndMacTextsNormalised) {
    const auto pins = ParseCameraPins(
        "# comment\n"
        "00:1b:7c:00:0a:01\tAA:BB\t-\t-\t-\n"
        "garbage\n"
        "00:1B:7C:00:0A:02\tnot-hex\t-\t-\t-\n"
        "00:1B:7C:00:0A:03\tAA:B\n"
        "00:1B:7C:00:0A:04\t-\t-\t-\t-\n"
        "\t\t\t\t\t\t\n");
    ASSERT_EQ(pins.size(), 2u);
    EXPECT_EQ(pins.at("00:1B:7C:00:0A:01").fingerprint, "AA:BB");
    // A line without fingerprint waits for the next certificate.
    EXPECT_TRUE(pins.at("00:1B:7C:00:0A:04").bExpectNew);
    EXPECT_EQ(ParseCameraPins(FormatCameraPins(pins)).size(), 2u);
    EXPECT_EQ(CameraTrust::normalMac("001b7c000a01"), "00:1B:7C:00:0A:01");
    EXPECT_EQ(CameraTrust::normalMac("00:1B:7C:00:0A"), "");
    EXPECT_EQ(CameraTrust::normalMac("00:1B:7C:00:0A:0G"), "");
}

TEST(CameraTrust, SpoofMarkUntilCleared) {
    CameraTrust trust;
    std::vector<std::string> told;
    trust.setRefusalSink([&](const std::string&, const std::string& m) { told.push_back(m); });
    trust.markSpoofed(kMac, "192.168.0.10, 192.168.0.66");
    EXPECT_TRUE(trust.spoofed("00-1B-7C-00-0A-01"));
    trust.refuseSpoofed(kMac);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("192.168.0.66"), std::string::npos);
    trust.clearSpoofed(kMac);
    EXPECT_FALSE(trust.spoofed(kMac));
}

class TrustedCameras : public ::testing::Test {
  protected:
    ScaledClock clock{0.1};
    TempDir dir;
    TraceLog log;
    WireCodec codec{"CP1252"};
    CCGI cgi{clock, log, codec};
    TraceLog simLog;
    Fleet fleet;
    std::unique_ptr<WebSide> web;
    std::unique_ptr<CameraTrust> trust;
    std::vector<std::string> told;
    std::vector<std::string> macs;

    void SetUp() override {
        trust = std::make_unique<CameraTrust>(CameraTrust::fileIn(dir.path));
        trust->setRefusalSink(
            [this](const std::string&, const std::string& m) { told.push_back(m); });
        cgi.SetTrust(trust.get());
    }
    void TearDown() override {
        if (web) web->stop();
    }
    std::size_t add(const std::string& ip, const std::string& mac) {
        fleet.cameras.push_back(simCamera(ip, 2, "Gate"));
        fleet.cameras.back().ssl = true;
        macs.push_back(mac);
        return fleet.cameras.size() - 1;
    }
    CameraEntry entryOf(std::size_t i) {
        std::lock_guard lock(fleet.mutex);
        CameraEntry e = entryFor(fleet.cameras[i]);
        setField(e.szMac, std::string_view(macs[i]));
        return e;
    }
    void start() {
        web = std::make_unique<WebSide>(fleet, simLog, clock);
        ASSERT_TRUE(web->start());
    }
};

TEST_F(TrustedCameras, ChangedCertificateIsRefusedBeforeAnyRequestAndAcceptedAfterTrust) {
    const auto i = add("127.0.0.71", kMac);
    start();
    CgiSessionSlot slot;
    ASSERT_EQ(cgi.ConnectInitSess(entryOf(i), slot, true), kCgiOk);
    const auto pinned = trust->pin(kMac);
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->fingerprint.size(), 95u);  // 32 hex pairs
    EXPECT_EQ(web->requests().size(), 1u);

    // Another certificate was pinned for this camera before (an impostor now, or a reset).
    std::map<std::string, CameraPin> pins;
    CameraPin old = *pinned;
    old.fingerprint = std::string(95, '0');
    for (std::size_t k = 2; k < 95; k += 3) old.fingerprint[k] = ':';
    pins[kMac] = old;
    ASSERT_TRUE(replacePrivateFile(trust->file(), FormatCameraPins(pins)));
    web->clearRequests();
    EXPECT_EQ(cgi.ConnectInitSess(entryOf(i), slot, true), kCgiFailed);
    CameraEntry viewer = entryOf(i);
    EXPECT_EQ(cgi.ReqGetCamSetCgi(slot, viewer), kCgiFailed);
    EXPECT_TRUE(web->requests().empty()) << web->requests()[0].program;
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(pinned->fingerprint), std::string::npos) << told[0];
    EXPECT_EQ(trust->pin(kMac)->offered, pinned->fingerprint);

    ASSERT_TRUE(trust->accept(kMac));
    EXPECT_EQ(cgi.ConnectInitSess(entryOf(i), slot, true), kCgiOk);
    EXPECT_EQ(web->requests().size(), 1u);
}

TEST_F(TrustedCameras, LegacyTlsCameraLogsInAndIsNoted) {
    const auto i = add("127.0.0.72", "00:1B:7C:00:0A:02");
    fleet.cameras[i].faults.insert("legacytls");
    start();
    CgiSessionSlot slot;
    ASSERT_EQ(cgi.ConnectInitSess(entryOf(i), slot, true), kCgiOk);
    const auto pin = trust->pin("00:1B:7C:00:0A:02");
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->legacyTls, "TLSv1, RSA 1024 bits, sha1WithRSAEncryption");
}

TEST_F(TrustedCameras, NothingGoesToASpoofedCamera) {
    const auto i = add("127.0.0.73", "00:1B:7C:00:0A:03");
    fleet.cameras[i].ssl = false;
    start();
    trust->markSpoofed("00:1B:7C:00:0A:03", "127.0.0.73, 127.0.0.99");
    CgiSessionSlot slot;
    EXPECT_EQ(cgi.ConnectInitSess(entryOf(i), slot, true), kCgiFailed);
    EXPECT_TRUE(web->requests().empty());
    ASSERT_EQ(told.size(), 1u);
    trust->clearSpoofed("00:1B:7C:00:0A:03");
    EXPECT_EQ(cgi.ConnectInitSess(entryOf(i), slot, true), kCgiOk);
}

}  // namespace
