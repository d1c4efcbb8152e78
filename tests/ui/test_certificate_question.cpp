// The question about a camera's changed certificate: asked only after a refusal for another
// certificate, No by default, Yes re-pins.
#include "discovery/log_capture.h"
#include "ui/certificate_question.h"
#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

const std::string kMac = "00:1B:7C:00:0D:01";

TlsPeer peerOf(const char* fingerprint) {
    TlsPeer p;
    p.fingerprint = fingerprint;
    return p;
}

TEST(CertificateQuestion, AskedOnlyAfterARefusalAndNoLeavesThePin) {
    CameraTrust trust;
    lanrove::testing::LogCapture capture;
    AnsweringMessageLayer boxes;  // answers No
    const CertificateQuestionTexts texts{QStringLiteral("T"), QStringLiteral("%1|%2|%3")};

    // Nothing pinned, or the pinned certificate shown: a failed login is not about trust.
    EXPECT_FALSE(askTrustNewCertificate(nullptr, boxes, trust, capture.log(), texts, kMac));
    trust.check(kMac, peerOf("AA:AA"));
    EXPECT_FALSE(askTrustNewCertificate(nullptr, boxes, trust, capture.log(), texts, kMac));
    EXPECT_TRUE(boxes.boxes().empty());

    trust.check(kMac, peerOf("BB:BB"));
    EXPECT_FALSE(askTrustNewCertificate(nullptr, boxes, trust, capture.log(), texts, kMac));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("00:1B:7C:00:0D:01|AA:AA|BB:BB"));
    EXPECT_EQ(trust.check(kMac, peerOf("BB:BB")), CameraTrust::Verdict::kChanged);
    EXPECT_EQ(capture.count("was not trusted"), 1u);

    // The camera showed its pinned certificate again: nothing is on offer any more.
    EXPECT_EQ(trust.check(kMac, peerOf("AA:AA")), CameraTrust::Verdict::kSame);
    EXPECT_FALSE(askTrustNewCertificate(nullptr, boxes, trust, capture.log(), texts, kMac));
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST(CertificateQuestion, YesPinsTheOfferedCertificate) {
    CameraTrust trust;
    lanrove::testing::LogCapture capture;
    AnsweringMessageLayer boxes;
    boxes.queueAnswer(BoxAnswer::Yes);
    const CertificateQuestionTexts texts{QStringLiteral("T"), QStringLiteral("%1 %2 %3")};
    trust.check(kMac, peerOf("AA:AA"));
    trust.check(kMac, peerOf("BB:BB"));
    EXPECT_TRUE(askTrustNewCertificate(nullptr, boxes, trust, capture.log(), texts, kMac));
    EXPECT_EQ(trust.check(kMac, peerOf("BB:BB")), CameraTrust::Verdict::kSame);
    EXPECT_EQ(trust.check(kMac, peerOf("AA:AA")), CameraTrust::Verdict::kChanged);
    EXPECT_EQ(capture.count("is trusted: SHA-256 BB:BB"), 1u);
}

}  // namespace
}  // namespace lanrove::ui::testing
