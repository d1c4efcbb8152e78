// The GetSystemDateAndTime reply parser, and the client against the simulator's device service
// on loopback addresses.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "cgi/sim_helpers.h"
#include "onvif/device_time.h"
#include "onvif_device.h"
#include "support/trace_log.h"
#include "web_side.h"

using namespace lanrove;
using namespace lanrove::onvif;

namespace {

std::string reply(const std::string& dateTime) {
    return R"(<?xml version="1.0"?><s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"
      xmlns:tds="http://www.onvif.org/ver10/device/wsdl" xmlns:tt="http://www.onvif.org/ver10/schema">
      <s:Body><tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime>
      <tt:DateTimeType>NTP</tt:DateTimeType><tt:UTCDateTime>)" +
           dateTime + R"(</tt:UTCDateTime></tds:SystemDateAndTime>
      </tds:GetSystemDateAndTimeResponse></s:Body></s:Envelope>)";
}

std::string utc(const char* y, const char* mo, const char* d, const char* h, const char* mi,
                const char* s) {
    return std::string("<tt:Time><tt:Hour>") + h + "</tt:Hour><tt:Minute>" + mi +
           "</tt:Minute><tt:Second>" + s + "</tt:Second></tt:Time><tt:Date><tt:Year>" + y +
           "</tt:Year><tt:Month>" + mo + "</tt:Month><tt:Day>" + d + "</tt:Day></tt:Date>";
}

}  // namespace

TEST(OnvifTimeParse, SecondsSince1970ForKnownDates) {
    EXPECT_EQ(utcSecondsOf(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(utcSecondsOf(2000, 3, 1, 0, 0, 0), 951868800);
    EXPECT_EQ(utcSecondsOf(2038, 1, 19, 3, 14, 8), 2147483648LL);  // past 32 bits
    EXPECT_EQ(utcSecondsOf(2024, 2, 29, 23, 59, 59), 1709251199);
}

TEST(OnvifTimeParse, ReadsTheUtcTimeWhateverThePrefixes) {
    const DeviceTime t = parseSystemDateAndTime(reply(utc("2026", "12", "9", "17", "5", "30")));
    ASSERT_EQ(t.status, TimeStatus::Ok);
    EXPECT_EQ(t.utcSeconds, utcSecondsOf(2026, 12, 9, 17, 5, 30));

    // Default namespaces, other prefixes, spaces around the numbers and the local time first.
    const std::string other = R"(<Envelope xmlns="http://www.w3.org/2003/05/soap-envelope">
      <Header/><Body><x:GetSystemDateAndTimeResponse xmlns:x="http://www.onvif.org/ver10/device/wsdl">
      <x:SystemDateAndTime><y:LocalDateTime xmlns:y="urn:y"><y:Time><y:Hour>1</y:Hour>
      </y:Time></y:LocalDateTime><y:UTCDateTime xmlns:y="http://www.onvif.org/ver10/schema">
      <y:Date><y:Year> 2024 </y:Year><y:Month>02</y:Month><y:Day>29</y:Day></y:Date>
      <y:Time><y:Hour>
        23</y:Hour><y:Minute>59</y:Minute><y:Second>60</y:Second></y:Time></y:UTCDateTime>
      </x:SystemDateAndTime></x:GetSystemDateAndTimeResponse></Body></Envelope>)";
    const DeviceTime o = parseSystemDateAndTime(other);
    ASSERT_EQ(o.status, TimeStatus::Ok);
    EXPECT_EQ(o.utcSeconds, utcSecondsOf(2024, 3, 1, 0, 0, 0));  // a leap second rolls over

    // What the simulator sends reads back to the same second.
    const auto now = std::chrono::system_clock::from_time_t(1765300000);
    const DeviceTime sim = parseSystemDateAndTime(camsim::systemDateAndTimeResponse(now));
    ASSERT_EQ(sim.status, TimeStatus::Ok);
    EXPECT_EQ(sim.utcSeconds, 1765300000);
}

TEST(OnvifTimeParse, FieldsOutOfRangeOrNotNumbersAreRefused) {
    const std::string bad[] = {
        utc("2026", "13", "1", "0", "0", "0"), utc("2026", "2", "29", "0", "0", "0"),
        utc("2100", "2", "29", "0", "0", "0"), utc("2026", "4", "31", "0", "0", "0"),
        utc("2026", "1", "0", "0", "0", "0"),  utc("2026", "1", "1", "24", "0", "0"),
        utc("2026", "1", "1", "0", "60", "0"), utc("2026", "1", "1", "0", "0", "61"),
        utc("2026", "1", "1", "-1", "0", "0"), utc("2026", "1", "1", "1a", "0", "0"),
        utc("", "1", "1", "0", "0", "0"),      utc("1969", "12", "31", "0", "0", "0"),
        utc("99999", "1", "1", "0", "0", "0"), utc("2026", "1", "1", "0 1", "0", "0"),
        utc("2026", "1", "1", "+1", "0", "0"), utc("2026", "1", "1", "0x1", "0", "0"),
    };
    for (const std::string& b : bad)
        EXPECT_EQ(parseSystemDateAndTime(reply(b)).status, TimeStatus::BadTime) << b;
    // A field missing.
    EXPECT_EQ(parseSystemDateAndTime(reply("<tt:Date><tt:Year>2026</tt:Year><tt:Month>1</tt:Month>"
                                           "<tt:Day>1</tt:Day></tt:Date>"))
                  .status,
              TimeStatus::BadTime);
}

TEST(OnvifTimeParse, MalformedFaultsAndOversizedReplies) {
    EXPECT_EQ(parseSystemDateAndTime("").status, TimeStatus::Malformed);
    EXPECT_EQ(parseSystemDateAndTime("HTTP/1.1 200 OK").status, TimeStatus::Malformed);
    const std::string whole = reply(utc("2026", "1", "1", "0", "0", "0"));
    EXPECT_EQ(parseSystemDateAndTime(whole.substr(0, whole.size() / 2)).status,
              TimeStatus::Malformed);
    EXPECT_EQ(parseSystemDateAndTime("<html><body>time</body></html>").status,
              TimeStatus::Malformed);
    EXPECT_EQ(parseSystemDateAndTime(
                  R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body>)"
                  R"(<GetSystemDateAndTimeResponse/></s:Body></s:Envelope>)")
                  .status,
              TimeStatus::NoTime);
    // An entity bomb is not expanded into anything.
    const DeviceTime bomb = parseSystemDateAndTime(
        R"(<?xml version="1.0"?><!DOCTYPE e [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;">]>)"
        R"(<e:Envelope xmlns:e="x"><e:Body>&b;&b;&b;</e:Body></e:Envelope>)");
    EXPECT_NE(bomb.status, TimeStatus::Ok);

    const DeviceTime f = parseSystemDateAndTime(
        R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"><env:Body><env:Fault>)"
        R"(<env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:NotAuthorized)"
        R"(</env:Value></env:Subcode></env:Code></env:Fault></env:Body></env:Envelope>)");
    EXPECT_EQ(f.status, TimeStatus::Fault);
    EXPECT_EQ(f.detail, "ter:NotAuthorized");

    std::string big = reply(utc("2026", "1", "1", "0", "0", "0"));
    big.insert(big.find("<s:Body>"), std::string(kMaxTimeReplyBytes, ' '));
    EXPECT_EQ(parseSystemDateAndTime(big).status, TimeStatus::Oversized);
}

namespace {

// ONVIF devices of the simulator on loopback addresses.
class OnvifTimeClient : public ::testing::Test {
  protected:
    ScaledClock clock{0.1};
    TraceLog simLog;
    camsim::Fleet fleet;
    std::unique_ptr<camsim::WebSide> web;

    void TearDown() override {
        if (web) web->stop();
    }
    std::string add(const std::string& ip, long offset, bool silent, bool only) {
        camsim::SimCamera c = lanrove::testing::simCamera(ip, 2, "Cam");
        c.onvif.enabled = true;
        c.onvif.only = only;
        c.onvif.uuid = "urn:uuid:00000000-0000-4000-8000-" +
                       std::to_string(100000000000 + fleet.cameras.size());
        c.onvif.xaddrPort = lanrove::testing::freePort(ip);
        c.onvif.clockOffsetS = offset;
        c.onvif.serviceSilent = silent;
        fleet.cameras.push_back(c);
        return "http://" + ip + ":" + std::to_string(c.onvif.xaddrPort) + "/onvif/device_service";
    }
    void start() {
        web = std::make_unique<camsim::WebSide>(fleet, simLog, clock);
        ASSERT_TRUE(web->start());
    }
};

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TEST_F(OnvifTimeClient, MeasuresEachDevicesClockOffset) {
    const std::string ours = add("127.0.77.1", 0, false, false);
    const std::string ahead = add("127.0.77.2", 7200, false, true);
    const std::string behind = add("127.0.77.3", -90, false, true);
    start();
    const struct {
        const std::string& url;
        long offset;
    } cases[] = {{ours, 0}, {ahead, 7200}, {behind, -90}};
    for (const auto& c : cases) {
        const std::int64_t before = nowSeconds();
        const DeviceTime t = getSystemDateAndTime(c.url, clock);
        const std::int64_t after = nowSeconds();
        ASSERT_EQ(t.status, TimeStatus::Ok) << c.url << " " << t.detail;
        EXPECT_EQ(t.httpStatus, 200);
        EXPECT_GE(t.utcSeconds, before + c.offset - 1) << c.url;
        EXPECT_LE(t.utcSeconds, after + c.offset + 1) << c.url;
    }
}

TEST_F(OnvifTimeClient, ASilentServiceTimesOutWithinTheLimit) {
    const std::string silent = add("127.0.77.4", 0, true, true);
    start();
    const auto start = std::chrono::steady_clock::now();
    const DeviceTime t = getSystemDateAndTime(silent, clock, 5000);  // 500 ms at this scale
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(t.status, TimeStatus::Timeout) << timeStatusName(t.status) << " " << t.detail;
    EXPECT_GE(took, std::chrono::milliseconds(400));
    EXPECT_LT(took, std::chrono::milliseconds(2500));  // five times the limit
    // The simulator took the request: the time-out is the service's silence, not a refusal.
    bool seen = false;
    for (const auto& r : web->requests()) seen = seen || r.event == "silent";
    EXPECT_TRUE(seen);
}

TEST_F(OnvifTimeClient, RefusalsFaultsAndBadAddressesAreErrors) {
    const std::string url = add("127.0.77.5", 0, false, true);
    start();
    const int cgiPort = fleet.cameras[0].port;
    // Another maker's device serves no CGI: nothing listens on the camera's port.
    EXPECT_EQ(getSystemDateAndTime(
                  "http://127.0.77.5:" + std::to_string(cgiPort) + "/onvif/device_service", clock)
                  .status,
              TimeStatus::Unreachable);
    // A path the device does not serve.
    const std::string wrongPath = url.substr(0, url.rfind('/')) + "/media_service";
    const DeviceTime wrong = getSystemDateAndTime(wrongPath, clock);
    EXPECT_EQ(wrong.status, TimeStatus::HttpError);
    EXPECT_EQ(wrong.httpStatus, 404);
    for (const char* bad : {"", "ftp://127.0.77.5/", "127.0.77.5:80", "http://a b/"})
        EXPECT_EQ(getSystemDateAndTime(bad, clock).status, TimeStatus::BadAddress) << bad;
}

TEST(OnvifDeviceService, AnswersTheTimeAndFaultsOtherwise) {
    camsim::SimOnvif device;
    device.enabled = true;
    device.clockOffsetS = 7200;
    const auto real = std::chrono::system_clock::from_time_t(1765300000);
    const camsim::SoapAnswer a =
        camsim::answerDeviceService(device, buildGetSystemDateAndTime(), real);
    EXPECT_EQ(a.status, 200);
    const DeviceTime t = parseSystemDateAndTime(a.body);
    ASSERT_EQ(t.status, TimeStatus::Ok);
    EXPECT_EQ(t.utcSeconds, 1765300000 + 7200);

    const camsim::SoapAnswer other = camsim::answerDeviceService(
        device,
        R"(<e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope"><e:Body>)"
        R"(<d:GetDeviceInformation xmlns:d="http://www.onvif.org/ver10/device/wsdl"/>)"
        R"(</e:Body></e:Envelope>)",
        real);
    EXPECT_EQ(other.status, 400);
    const DeviceTime f = parseSystemDateAndTime(other.body);
    EXPECT_EQ(f.status, TimeStatus::Fault);
    EXPECT_EQ(f.detail, "ter:ActionNotSupported");
    EXPECT_EQ(camsim::answerDeviceService(device, "<not xml", real).status, 400);
    EXPECT_EQ(camsim::answerDeviceService(device, "<a/>", real).status, 400);
}

namespace {

// A server that answers every connection with a reply far beyond the client's bound.
class FloodServer {
  public:
    FloodServer() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.77.9", &a.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_fd, 4) != 0)
            return;
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~FloodServer() {
        m_bQuit = true;
        if (m_thread.joinable()) m_thread.join();
        ::close(m_fd);
    }
    int port = 0;

  private:
    void run() {
        while (!m_bQuit) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0) continue;
            // A client that stops reading without closing must not hold this thread (and the
            // test's end) in a send.
            const timeval limit{1, 0};
            ::setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            const std::string head =
                "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml\r\nContent-Length: "
                "1000000\r\n\r\n";
            ::send(c, head.data(), head.size(), MSG_NOSIGNAL);
            const std::string chunk(4096, '<');
            for (int i = 0; i < 244 && !m_bQuit; ++i)
                if (::send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
            ::close(c);
        }
    }
    int m_fd = -1;
    std::atomic<bool> m_bQuit{false};
    std::thread m_thread;
};

}  // namespace

TEST(OnvifTimeClientBounds, AReplyBeyondTheBoundIsCutOff) {
    FloodServer server;
    ASSERT_NE(server.port, 0);
    // The whole protocol limit: the reply's bound, reached in milliseconds, must end it first
    // however loaded the machine is.
    ScaledClock clock{1.0};
    const DeviceTime t = getSystemDateAndTime(
        "http://127.0.77.9:" + std::to_string(server.port) + "/onvif/device_service", clock);
    EXPECT_EQ(t.status, TimeStatus::Oversized);
}
