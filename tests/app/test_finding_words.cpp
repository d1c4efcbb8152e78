// The doctor's findings in every language: each evidence and fix comes from the text table
// with its measured values, English stays what --json has always said, and an edited
// Language.ini pattern can neither pull values that are not there nor swallow ones that are.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "app/finding_words.h"
#include "app/language.h"
#include "runs/doctor_fakes.h"
#include "runs/onvif_doctor.h"
#include "temp_dir.h"

namespace lanrove {
namespace {

using test::adapter;
using test::camera;
using test::FakeProbes;

// A site that raises nearly every finding: the PC's and the cameras'.
std::vector<Finding> everyFinding() {
    auto table = std::make_unique<CameraTable>();
    FakeProbes p;
    test::faultyCameras(*table, p);
    camera(*table, 8, "ERR", "192.168.0.27");
    camera(*table, 9, "HOST", "192.168.0.10");
    camera(*table, 10, "NOHTTP", "192.168.0.28");
    test::factoryCamera(*table, 11, "F1");
    test::factoryCamera(*table, 12, "F2");
    camera(*table, 13, "SPOOF", "192.168.0.29");
    camera(*table, 14, "OLD", "192.168.0.31", "0.0.0.0", "255.255.255.0", "443", "1");
    camera(*table, 15, "PINNED", "192.168.0.32", "0.0.0.0", "255.255.255.0", "443", "1");
    p.spoofed["SPOOF"] = "192.168.0.29, 192.168.0.99";
    p.pins["OLD"].legacyTls = "TLSv1.0 with RSA key exchange";
    p.pins["PINNED"].fingerprint = "AA:BB";
    p.pins["PINNED"].offered = "CC:DD";
    p.http["https://192.168.0.32:443/cgi-bin/lang.cgi"] = kHttpPinRefused;
    p.bindError = EADDRINUSE;
    p.echoes["192.168.0.1"] = kEchoDestHostUnreachable;
    p.echoes["10.1.0.1"] = 11050;  // no word of its own: the number is shown
    p.http["http://192.168.0.27:80/cgi-bin/lang.cgi"] = 500;
    p.http["http://192.168.0.28:80/cgi-bin/lang.cgi"] = 0;
    p.http["https://192.168.0.28:80/cgi-bin/lang.cgi"] = 0;
    DoctorResult r = runDoctor({adapter("192.168.0.10", "255.255.255.0", "192.168.0.1", "eth0"),
                                adapter("10.1.0.5", "255.255.0.0", "10.1.0.1", "eth1"),
                                adapter("10.1.0.6", "255.255.255.0", "0.0.0.0", "eth2")},
                               *table, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, p);
    FakeProbes blocked;
    blocked.dgram = blocked.raw = false;
    for (Finding& f : runDoctor({}, *table, {}, blocked).findings) r.findings.push_back(f);

    const auto pc = std::chrono::system_clock::now();
    auto device = [](const std::string& ip, const std::string& maker) {
        OnvifDevice d;
        d.match.address = d.sourceIp = ip;
        d.match.maker = maker;
        d.match.xaddrs = {"http://" + ip + "/onvif/device_service"};
        return d;
    };
    const OnvifTimeQuery query = [pc](const OnvifDevice& d) -> OnvifTimeAnswer {
        if (d.match.address == "192.168.0.60") return {pc + std::chrono::hours(2), {}};
        if (d.match.address == "192.168.0.61") return {pc - std::chrono::minutes(1), {}};
        return {std::nullopt, "timeout"};
    };
    for (Finding& f : diagnoseOnvif({device("192.168.0.60", "Acme"), device("192.168.0.61", "Acme"),
                                     device("10.9.8.7", "")},
                                    {adapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0")},
                                    query, [pc] { return pc; }))
        r.findings.push_back(f);
    return r.findings;
}

LangTable tableFor(unsigned langId, const std::filesystem::path& ini = {}) {
    LangTable t;
    t.loadAdded(langId, ini);
    return t;
}

TEST(FindingWords, EveryFindingReadsInEveryLanguageWithItsValues) {
    const std::vector<Finding> all = everyFinding();
    std::set<std::string> seen;
    for (const Finding& f : all) seen.insert(f.evidenceText.key);
    // The site above reaches this many evidence patterns; a check that stops firing shows here.
    EXPECT_GE(seen.size(), 25u);

    const LangTable en = tableFor(kLangIdEnglish);
    const std::regex mark(R"(%[1-9])");
    // A mark or a key of the section left behind in a shown text.
    auto leftover = [&mark](const std::string& text) {
        if (std::regex_search(text, mark)) return true;
        for (const FindingTextRow& row : findingTextRows())
            if (std::string_view(row.key).find('_') != std::string_view::npos &&
                text.find(row.key) != std::string::npos)
                return true;
        return false;
    };
    const std::regex address(R"(\d+\.\d+\.\d+\.\d+(/\d+)?)");
    for (const unsigned lang : {kLangIdJapanese, kLangIdChineseSimplified}) {
        const LangTable t = tableFor(lang);
        for (const Finding& f : all) {
            SCOPED_TRACE(f.code + " " + f.evidenceText.key + " " + std::to_string(lang));
            // English is the text --json and the command line have always shown.
            EXPECT_EQ(findingEvidence(f, en), f.evidence);
            EXPECT_EQ(findingFix(f, en), f.fix);
            const std::string evidence = findingEvidence(f, t);
            const std::string fix = findingFix(f, t);
            EXPECT_NE(evidence, f.evidence);
            EXPECT_NE(fix, f.fix);
            EXPECT_FALSE(leftover(evidence)) << evidence;
            EXPECT_FALSE(leftover(fix)) << fix;
            // Every address the English evidence names is named in the translation too.
            for (auto it = std::sregex_iterator(f.evidence.begin(), f.evidence.end(), address);
                 it != std::sregex_iterator(); ++it)
                EXPECT_NE(evidence.find(it->str()), std::string::npos) << evidence;
        }
    }
}

TEST(FindingWords, WordsInsideTheValuesAreTranslatedToo) {
    const std::vector<Finding> all = everyFinding();
    const LangTable ja = tableFor(kLangIdJapanese);
    auto evidenceOf = [&](const std::string& key) {
        for (const Finding& f : all)
            if (f.evidenceText.key == key) return f;
        ADD_FAILURE() << "no finding with " << key;
        return Finding{};
    };
    const Finding gateway = evidenceOf("PC_GATEWAY_SILENT");
    EXPECT_NE(gateway.evidence.find("host unreachable (11003)"), std::string::npos);
    EXPECT_NE(findingEvidence(gateway, ja).find("ホストに到達できません (11003)"),
              std::string::npos);
    EXPECT_NE(evidenceOf("PC_GATEWAY_FAILED").evidence.find("failed (11050)"), std::string::npos);
    const Finding icmp = evidenceOf("PC_ICMP_BLOCKED");
    EXPECT_NE(icmp.evidence.find("\"1 0\""), std::string::npos);  // measured: shown as it is
    const Finding silent = evidenceOf("ONVIF_SERVICE_SILENT_WHY");
    EXPECT_NE(silent.evidence.find("ONVIF device at 10.9.8.7"), std::string::npos)
        << silent.evidence;
    const std::string jaSilent = findingEvidence(silent, ja);
    EXPECT_NE(jaSilent.find("ONVIF 機器"), std::string::npos) << jaSilent;
    EXPECT_NE(jaSilent.find("タイムアウト"), std::string::npos) << jaSilent;
    EXPECT_EQ(jaSilent.find("timeout"), std::string::npos) << jaSilent;
    EXPECT_NE(findingEvidence(evidenceOf("ONVIF_CLOCK_BEHIND"), ja).find("60 秒遅れて"),
              std::string::npos);
    // The line of the report: severity word, the code as it is, evidence and fix.
    const std::string line = findingLine(evidenceOf("CAMERA_HTTP_CLOSED"), ja);
    EXPECT_EQ(line.rfind(
                  "エラー: camera-http-closed: 192.168.0.22:80 への TCP 接続が拒否されました。", 0),
              0u)
        << line;
    EXPECT_EQ(findingLine(evidenceOf("CAMERA_HTTP_CLOSED"), tableFor(kLangIdEnglish)),
              "error: camera-http-closed: TCP connection to 192.168.0.22:80 refused. Open the "
              "camera's web port again (power-cycle it, or set the port it really serves with "
              "Manual setting).");
}

TEST(FindingWords, EditedPatternsTakeOnlyTheValuesGivenAndEachOnce) {
    test::TempDir dir;
    const auto ini = dir.write("Language.ini",
                               "[DOCTOR_FINDINGS]\n"
                               "CAMERA_SHARED_ADDRESS=%2 <- %1 %7 %x 100%\n"
                               "SEVERITY_ERROR=FEHLER\n");
    const LangTable t = tableFor(kLangIdEnglish, ini);
    Finding f;
    f.severity = Severity::Error;
    f.code = "camera-shared-address";
    // A value that looks like a mark stays a value.
    describeFinding(f, {"CAMERA_SHARED_ADDRESS", {"192.168.0.2", "%1 and %2"}},
                    {"CAMERA_SHARED_ADDRESS_FIX", {}});
    EXPECT_EQ(f.evidence, "192.168.0.2 is also used by %1 and %2");
    EXPECT_EQ(findingEvidence(f, t), "%1 and %2 <- 192.168.0.2 %7 %x 100%");
    EXPECT_EQ(findingSeverity(Severity::Error, t), "FEHLER");
    // A pattern the table does not know falls back to English, then to its key; a finding
    // made by hand keeps its own text.
    EXPECT_EQ(spellFindingText({"NO_SUCH_PATTERN", {"x"}}), "NO_SUCH_PATTERN");
    Finding plain;
    plain.evidence = "measured by hand";
    EXPECT_EQ(findingEvidence(plain, t), "measured by hand");
}

TEST(FindingWords, TheTextTableListsThemInEveryLanguage) {
    for (const int column : {kColumnJapanese, kColumnEnglish, kColumnChinese}) {
        std::size_t rows = 0;
        for (const LangEntry& e : addedDefaults(column))
            rows += e.section == u"DOCTOR_FINDINGS" ? 1 : 0;
        EXPECT_EQ(rows, findingTextRows().size());
    }
    // The whole added list still fits the table that "texts --added" prints.
    EXPECT_LE(addedDefaults(kColumnEnglish).size(), LangTable::kCapacity);
}

}  // namespace
}  // namespace lanrove
