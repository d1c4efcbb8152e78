// Address plans: the reader (separators, BOM, MAC notations, blank cells, quoting, refused
// files with their line numbers) and the row check (matching by MAC, the manual-setting rules,
// the plan-wide rules and the probe).
#include <gtest/gtest.h>

#include <set>

#include "discovery/fake_lan.h"
#include "discovery/log_capture.h"
#include "runs/address_plan.h"
#include "support/text.h"

using namespace lanrove;
using lanrove::testing::LogCapture;
using lanrove::testing::makeAdapter;

namespace {

AddressPlan read(const std::string& text) {
    AddressPlan plan;
    PlanError error;
    EXPECT_TRUE(readAddressPlan(text, plan, error)) << error.line << ": " << error.message;
    return plan;
}

PlanError refused(const std::string& text) {
    AddressPlan plan;
    PlanError error;
    EXPECT_FALSE(readAddressPlan(text, plan, error)) << text;
    return error;
}

}  // namespace

TEST(AddressPlanReader, SeparatorsBomQuotesAndBlankCells) {
    for (const std::string sep : {",", ";", "\t"}) {
        const AddressPlan p = read("\xEF\xBB\xBFmac" + sep + "ip" + sep + "title\r\n" +
                                   "00:1b:7c:00:01:02" + sep + "192.168.0.31" + sep +
                                   "Gate North\r\n" + "00-1B-7C-00-01-03" + sep + sep + "\r\n");
        ASSERT_EQ(p.rows.size(), 2u) << sep;
        EXPECT_EQ(p.rows[0].line, 2);
        EXPECT_EQ(p.rows[0].mac, "00:1B:7C:00:01:02");
        EXPECT_EQ(p.rows[0].ip.value_or(""), "192.168.0.31");
        EXPECT_EQ(p.rows[0].title.value_or(""), "Gate North");
        EXPECT_FALSE(p.rows[0].mask.has_value());  // no column: the camera's own
        EXPECT_FALSE(p.rows[1].ip.has_value());    // blank cell: the camera's own
        EXPECT_FALSE(p.rows[1].title.has_value());
    }
    // Quoted fields may hold the separator and quotes; comments and blank lines are skipped.
    const AddressPlan q = read(
        "# site plan\n\nMAC,Title,SSL\n\"001B7C000104\",\"Gate, \"\"N\"\"\",on\n\n"
        "001b.7c00.0105,,off\n");
    ASSERT_EQ(q.rows.size(), 2u);
    EXPECT_EQ(q.rows[0].line, 4);
    EXPECT_EQ(q.rows[0].mac, "00:1B:7C:00:01:04");
    EXPECT_EQ(q.rows[0].title.value_or(""), "Gate, \"N\"");
    EXPECT_EQ(q.rows[0].ssl.value_or(""), "1");
    EXPECT_EQ(q.rows[1].line, 6);
    EXPECT_EQ(q.rows[1].mac, "00:1B:7C:00:01:05");
    EXPECT_EQ(q.rows[1].ssl.value_or(""), "0");
    // A plan with only a header is valid and empty; a multibyte title counts characters.
    EXPECT_TRUE(read("mac,ip\n").rows.empty());
    EXPECT_EQ(read("mac,title\n001B7C000106,門カメラ北側\n").rows[0].title.value_or(""),
              "門カメラ北側");
}

TEST(AddressPlanReader, MacNotations) {
    for (const char* good : {"00:1B:7C:00:01:02", "00-1b-7c-00-01-02", "001b.7c00.0102",
                             "001B7C000102", " 00:1b:7C:00:01:02 "})
        EXPECT_EQ(normaliseMac(good).value_or("?"), "00:1B:7C:00:01:02") << good;
    for (const char* bad : {"00:1B:7C:00:01", "00:1B:7C:00:01:02:03", "00:1B-7C:00:01:02",
                            "0:1B:7C:00:01:002", "00:1B:7C:00:01:0G", "001B7C00010", ""})
        EXPECT_FALSE(normaliseMac(bad).has_value()) << bad;
}

TEST(AddressPlanReader, MalformedPlansNameTheLine) {
    EXPECT_EQ(refused("ip,title\n192.168.0.5,x\n").line, 1);  // no mac column
    EXPECT_EQ(refused("mac,adress\n001B7C000102,1.2.3.4\n").line, 1);
    EXPECT_EQ(refused("mac,ip,IP\n").line, 1);
    EXPECT_EQ(refused("mac,user\n001B7C000102,admin\n").line, 1);  // user without password
    EXPECT_EQ(refused("mac,ip\n001B7C000102,192.168.0.5\n001B7C00010Z,192.168.0.6\n").line, 3);
    EXPECT_EQ(refused("mac,ip\n001B7C000102,192.168.0.256\n").line, 2);
    EXPECT_EQ(refused("mac,ip\n001B7C000102,192.168.0\n").line, 2);
    EXPECT_EQ(refused("mac,gateway\n001B7C000102,0.0.0.1\n").line, 2);
    EXPECT_EQ(refused("mac,port\n001B7C000102,65536\n").line, 2);
    EXPECT_EQ(refused("mac,port\n001B7C000102,8a\n").line, 2);
    EXPECT_EQ(refused("mac,ssl\n001B7C000102,maybe\n").line, 2);
    EXPECT_EQ(refused("mac,title\n001B7C000102,Seventeen chars!!\n").line, 2);
    EXPECT_EQ(refused("mac,ip\n001B7C000102,1.2.3.4,extra\n").line, 2);
    EXPECT_EQ(refused("mac,ip\n\"001B7C000102,1.2.3.4\n").line, 2);
    EXPECT_EQ(refused("mac\n00:1B:7C:00:01:02\n001b7c000102\n").line, 3);  // same MAC twice
    EXPECT_EQ(refused("mac,ip\n,192.168.0.5\n").line, 2);                  // no MAC
    // Not text: a NUL byte, or bytes that are not UTF-8 (a Latin-1 export).
    EXPECT_EQ(refused(std::string("mac\n001B7C000102\n\x89PNG\0\0", 20)).line, 3);
    EXPECT_EQ(refused("mac,title\n001B7C000102,Caf\xE9\n").line, 2);
    EXPECT_EQ(refused("").line, 0);
}

namespace {

CameraEntry camera(const char* no, const char* mac, const char* ip, const char16_t* status) {
    CameraEntry e{};
    setField(e.szNo, std::string_view(no));
    setField(e.szMac, std::string_view(mac));
    setField(e.szIp, std::string_view(ip));
    setField(e.szMask, std::string_view("255.255.255.0"));
    setField(e.szGateway, std::string_view("192.168.0.1"));
    setField(e.szPort, std::string_view("80"));
    setField(e.szSsl, std::string_view("0"));
    setField(e.szTitle, std::string_view("cam"));
    setField(e.szStatus, std::u16string_view(status));
    e.wProtoVer = 2;
    return e;
}

class SetProbe final : public AddressProbe {
  public:
    std::set<std::u16string> taken;
    std::vector<std::u16string> asked;
    bool inUse(std::u16string_view a) override {
        asked.emplace_back(a);
        return taken.count(std::u16string(a)) != 0;
    }
};

struct PlanCheckFixture : ::testing::Test {
    LogCapture capture;
    std::vector<CameraEntry> table;
    SetProbe probe;
    int loginTests = 0;
    int loginResult = 0;
    PlanCheckContext context() {
        PlanCheckContext ctx;
        ctx.cameras = table.data();
        ctx.cameraCount = table.size();
        ctx.adapter = makeAdapter("192.168.0.10", "255.255.255.0", "192.168.0.1", "eth0");
        ctx.okText = u"OK";
        ctx.newText = u"NEW";
        ctx.loginTest = [this](const CameraEntry& e) {
            ++loginTests;
            return fieldUtf8(e.szUser) == "admin1" ? 0 : loginResult;
        };
        ctx.probe = &probe;
        return ctx;
    }
};

}  // namespace

TEST_F(PlanCheckFixture, TheSixRowPlanIsJudgedRowByRow) {
    table = {camera("1", "00:1B:7C:00:08:01", "192.168.0.2", u"NEW"),
             camera("2", "00:1B:7C:00:08:02", "192.168.0.2", u"NEW"),
             camera("3", "00:1B:7C:00:08:03", "192.168.0.40", u"OK"),
             camera("4", "00:1B:7C:00:08:04", "192.168.0.50", u"OK"),
             camera("5", "00:1B:7C:00:08:05", "192.168.0.60", u"OK")};
    const AddressPlan plan = read(
        "mac,ip,mask,title\n"
        "00:1B:7C:00:08:01,192.168.0.31,,Gate North\n"
        "00:1B:7C:00:08:02,192.168.0.32,,Gate South\n"
        "00:1B:7C:00:08:03,192.168.0.33,,Yard\n"
        "00:1B:7C:00:08:99,192.168.0.34,,Ghost\n"
        "00:1B:7C:00:08:04,192.168.0.60,,Steals\n"
        "00:1B:7C:00:08:05,192.168.0.35,255.255.0.255,Bad mask\n");
    const auto checks = checkAddressPlan(plan, context(), capture.log());
    ASSERT_EQ(checks.size(), 6u);
    EXPECT_EQ(checks[0].state, PlanRowState::Ready);
    EXPECT_EQ(fieldUtf8(checks[0].after.szIp), "192.168.0.31");
    EXPECT_EQ(fieldUtf8(checks[0].after.szTitle), "Gate North");
    EXPECT_EQ(fieldUtf8(checks[0].after.szMask), "255.255.255.0");  // blank: kept
    EXPECT_EQ(checks[1].state, PlanRowState::Ready);
    EXPECT_EQ(checks[2].state, PlanRowState::Ready);
    EXPECT_EQ(checks[3].state, PlanRowState::NotFound);
    EXPECT_EQ(checks[4].state, PlanRowState::Refused);
    EXPECT_EQ(checks[4].reason, plan_reason::kListed) << checks[4].message;
    EXPECT_EQ(checks[5].state, PlanRowState::Refused);
    EXPECT_EQ(checks[5].reason, plan_reason::kMask);
    // The two NEW cameras need no login; the OK ones were tested with the default account.
    EXPECT_EQ(loginTests, 3);
    EXPECT_EQ(probe.asked.size(), 3u);  // only the accepted rows' addresses
}

TEST_F(PlanCheckFixture, PlanWideRulesAndTheProbe) {
    table = {camera("1", "00:1B:7C:00:08:01", "192.168.0.31", u"OK"),
             camera("2", "00:1B:7C:00:08:02", "192.168.0.32", u"OK"),
             camera("3", "00:1B:7C:00:08:03", "192.168.0.33", u"OK"),
             camera("4", "00:1B:7C:00:08:04", "192.168.0.34", u"OK")};
    probe.taken = {u"192.168.0.77"};
    const AddressPlan plan = read(
        "mac,ip\n"
        "00:1B:7C:00:08:01,192.168.0.32\n"  // swaps with row 2: allowed, no probe
        "00:1B:7C:00:08:02,192.168.0.31\n"
        "00:1B:7C:00:08:03,192.168.0.77\n"     // a host answers
        "00:1B:7C:00:08:04,192.168.0.255\n");  // broadcast address
    const auto checks = checkAddressPlan(plan, context(), capture.log());
    EXPECT_EQ(checks[0].state, PlanRowState::Ready);
    EXPECT_EQ(checks[1].state, PlanRowState::Ready);
    EXPECT_EQ(checks[2].reason, plan_reason::kInUse);
    EXPECT_EQ(checks[3].reason, plan_reason::kHostPart);
    EXPECT_EQ(probe.asked, std::vector<std::u16string>{u"192.168.0.77"});

    // A camera without a gateway and a plan that keeps it: the field is named.
    setField(table[3].szGateway, std::string_view("0.0.0.0"));
    const AddressPlan keep = read("mac,ip\n00:1B:7C:00:08:04,192.168.0.90\n");
    const auto k = checkAddressPlan(keep, context(), capture.log());
    EXPECT_EQ(k[0].reason, plan_reason::kIllegal);
    EXPECT_NE(k[0].message.find("gateway \"0.0.0.0\""), std::string::npos) << k[0].message;

    const AddressPlan twice = read(
        "mac,ip\n00:1B:7C:00:08:01,192.168.0.80\n"
        "00:1B:7C:00:08:02,192.168.0.80\n");
    const auto t = checkAddressPlan(twice, context(), capture.log());
    EXPECT_EQ(t[0].reason, plan_reason::kTwice);
    EXPECT_EQ(t[1].reason, plan_reason::kTwice);
}

TEST_F(PlanCheckFixture, LoginRulesTakeThePlansAccountOnlyWhenTheDefaultIsRefused) {
    table = {camera("1", "00:1B:7C:00:08:01", "192.168.0.31", u"OK"),
             camera("2", "00:1B:7C:00:08:02", "192.168.0.32", u"OK"),
             camera("3", "00:1B:7C:00:08:03", "10.0.0.5", u"OK")};
    loginResult = 401;
    const AddressPlan plan = read(
        "mac,title,user,password\n"
        "00:1B:7C:00:08:01,A,admin1,secret1\n"
        "00:1B:7C:00:08:02,B,,\n"
        "00:1B:7C:00:08:03,C,admin2,secret2\n");
    const auto checks = checkAddressPlan(plan, context(), capture.log());
    EXPECT_EQ(checks[0].state, PlanRowState::Ready);
    EXPECT_EQ(fieldUtf8(checks[0].after.szUser), "admin1");
    EXPECT_EQ(checks[1].reason, plan_reason::kNeedsLogin);
    // Outside the subnet: the given account is taken as it stands, untested.
    EXPECT_EQ(checks[2].state, PlanRowState::Ready);
    EXPECT_EQ(fieldUtf8(checks[2].login.szUser), "admin2");
    EXPECT_TRUE(checks[2].unreachableAfter);

    const AddressPlan wrong = read("mac,title,user,password\n00:1B:7C:00:08:01,A,admin9,secret9\n");
    EXPECT_EQ(checkAddressPlan(wrong, context(), capture.log())[0].reason,
              plan_reason::kLoginRefused);
}

TEST_F(PlanCheckFixture, ACameraAlreadyAsPlannedIsUnchangedAndAskedNothing) {
    table = {camera("1", "00:1B:7C:00:08:01", "192.168.0.31", u"OK"),
             camera("2", "00:1B:7C:00:08:02", "192.168.0.32", u"OK"),
             camera("3", "00:1B:7C:00:08:03", "192.168.0.33", u"OK")};
    setField(table[2].szSsl, std::string_view("1"));
    setField(table[2].szPort, std::string_view("8443"));
    loginResult = 401;  // a login test would refuse the row
    const AddressPlan plan = read(
        "mac,ip,mask,gateway,port,ssl,title,user,password\n"
        // Leading zeros and a port written with one: the same values.
        "00:1B:7C:00:08:01,192.168.000.031,255.255.255.0,192.168.0.1,080,off,cam,admin9,"
        "secret9\n"
        // SSL already on: the unnamed port stays.
        "00:1B:7C:00:08:03,,,,,on,cam,,\n");
    const auto checks = checkAddressPlan(plan, context(), capture.log());
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_EQ(checks[0].state, PlanRowState::Unchanged) << checks[0].message;
    EXPECT_TRUE(checks[0].reason.empty());
    EXPECT_EQ(checks[1].state, PlanRowState::Unchanged) << checks[1].message;
    EXPECT_EQ(fieldUtf8(checks[1].after.szPort), "8443");
    EXPECT_EQ(loginTests, 0);
    EXPECT_TRUE(probe.asked.empty());

    // An unchanged camera keeps its address: another row may not take it.
    loginResult = 0;
    const AddressPlan take =
        read("mac,ip\n00:1B:7C:00:08:01,192.168.0.31\n00:1B:7C:00:08:02,192.168.0.31\n");
    const auto t = checkAddressPlan(take, context(), capture.log());
    EXPECT_EQ(t[0].state, PlanRowState::Unchanged);
    EXPECT_EQ(t[1].reason, plan_reason::kListed);

    // One differing value is enough to send, and only that value is named.
    const AddressPlan retitle = read("mac,ip,title\n00:1B:7C:00:08:01,192.168.0.31,Gate\n");
    const auto r = checkAddressPlan(retitle, context(), capture.log());
    EXPECT_EQ(r[0].state, PlanRowState::Ready);
    EXPECT_EQ(plannedChanges(r[0].before, r[0].after), std::vector<std::string>{"title"});
    // Turning SSL on moves an unnamed port to 443.
    const AddressPlan sslOn = read("mac,ssl\n00:1B:7C:00:08:02,on\n");
    const auto s = checkAddressPlan(sslOn, context(), capture.log());
    EXPECT_EQ(fieldUtf8(s[0].after.szPort), "443");
    EXPECT_EQ(plannedChanges(s[0].before, s[0].after), (std::vector<std::string>{"port", "ssl"}));
}

TEST(AddressPlanJudge, TheNextSearchDecidesBetweenSetAndCaution) {
    PlanRowCheck c;
    setField(c.after.szIp, std::string_view("192.168.0.31"));
    CameraEntry seen{};
    setField(seen.szIp, std::string_view("192.168.0.31"));
    PlanRowCheck ok = c;
    judgePlanRow(ok, true, &seen);
    EXPECT_EQ(ok.state, PlanRowState::Set);
    PlanRowCheck failed = c;
    judgePlanRow(failed, false, &seen);
    EXPECT_EQ(failed.reason, plan_reason::kNotSet);
    PlanRowCheck moved = c;
    setField(seen.szIp, std::string_view("192.168.0.2"));
    judgePlanRow(moved, true, &seen);
    EXPECT_EQ(moved.reason, plan_reason::kNotSeen);
    PlanRowCheck gone = c;
    judgePlanRow(gone, true, nullptr);
    EXPECT_EQ(gone.state, PlanRowState::Caution);
    PlanRowCheck refusedRow = c;
    refusedRow.state = PlanRowState::Refused;
    judgePlanRow(refusedRow, true, &seen);
    EXPECT_EQ(refusedRow.state, PlanRowState::Refused);
}
