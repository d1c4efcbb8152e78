// The WS-Discovery pass beside the search, on loopback: a responder answers every Probe with
// a ProbeMatch, and the pass keeps one device per endpoint, leaves out what is no camera and
// what is too large, and ends on time or when stopped.
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

#include "runs/onvif_discovery.h"

namespace lanrove {
namespace {

std::string probeMatch(const std::string& uuid, const std::string& types, const std::string& ip) {
    return "<?xml version=\"1.0\"?><s:Envelope "
           "xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
           "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:pr=\"http://schemas.microsoft.com/windows/2006/08/wdp/print\">"
           "<s:Header><a:RelatesTo>urn:uuid:x</a:RelatesTo></s:Header><s:Body><d:ProbeMatches>"
           "<d:ProbeMatch><a:EndpointReference><a:Address>" +
           uuid + "</a:Address></a:EndpointReference><d:Types>" + types +
           "</d:Types><d:Scopes>onvif://www.onvif.org/hardware/X1 "
           "onvif://www.onvif.org/name/Gate onvif://www.onvif.org/mfr/Acme</d:Scopes>"
           "<d:XAddrs>http://" +
           ip +
           ":8080/onvif/device_service</d:XAddrs></d:ProbeMatch></d:ProbeMatches>"
           "</s:Body></s:Envelope>";
}

// Answers each datagram with the replies `reply` gives for it; counts the probes.
class Responder {
  public:
    explicit Responder(std::function<std::vector<std::string>()> reply)
        : m_reply(std::move(reply)) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { loop(); });
    }
    ~Responder() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    std::uint16_t port() const { return m_port; }
    int probes() const { return m_probes; }

  private:
    void loop() {
        std::string buf(70000, '\0');
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buf.data(), buf.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 0) continue;
            if (std::string_view(buf.data(), static_cast<std::size_t>(n)).find("Probe<") !=
                std::string_view::npos)
                ++m_probes;
            for (const std::string& r : m_reply())
                ::sendto(m_fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    std::function<std::vector<std::string>()> m_reply;
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_probes{0};
    std::thread m_thread;
};

std::vector<AdapterEntry> loopback() {
    AdapterEntry a{};
    AdapterEntry::setText(a.szIp, "127.0.0.1");
    AdapterEntry::setText(a.szMask, "255.0.0.0");
    AdapterEntry::setText(a.szIfName, "lo");
    return {a};
}

TEST(OnvifDiscovery, OneDevicePerEndpointOnlyCamerasNothingOversized) {
    Responder responder([] {
        return std::vector<std::string>{
            probeMatch("urn:uuid:cam-1", "dn:NetworkVideoTransmitter tds:Device", "127.0.0.51"),
            probeMatch("urn:uuid:printer", "pr:PrintDeviceType", "127.0.0.52"), "<not-xml",
            std::string(70000, 'x').substr(0, 65000),  // over the reply limit
        };
    });
    ScaledClock clock(0.01);  // the 31-second pass in about a third of a second
    TraceLog log;
    OnvifDiscovery pass(clock, log);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(pass.start(loopback(), "127.0.0.1", responder.port()));
    pass.wait();
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(secs, 5.0);
    EXPECT_FALSE(pass.running());
    // Three rounds of three Probes.
    EXPECT_EQ(responder.probes(), 9);
    const std::vector<OnvifDevice> found = pass.devices();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].match.endpoint, "urn:uuid:cam-1");
    EXPECT_EQ(found[0].match.maker, "Acme");
    EXPECT_EQ(found[0].match.model, "X1");
    EXPECT_EQ(found[0].match.address, "127.0.0.51");
    EXPECT_EQ(found[0].match.port, 8080);
    EXPECT_EQ(found[0].sourceIp, "127.0.0.1");
    EXPECT_EQ(found[0].adapter, "lo");
}

TEST(OnvifDiscovery, StopEndsThePassAtOnce) {
    Responder responder([] {
        return std::vector<std::string>{
            probeMatch("urn:uuid:cam-2", "dn:NetworkVideoTransmitter", "127.0.0.53")};
    });
    ScaledClock clock(1.0);  // a real 31-second pass: only stop() ends it in time
    TraceLog log;
    OnvifDiscovery pass(clock, log);
    ASSERT_TRUE(pass.start(loopback(), "127.0.0.1", responder.port()));
    const auto t0 = std::chrono::steady_clock::now();
    while (pass.devices().empty() &&
           std::chrono::steady_clock::now() - t0 < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(pass.devices().size(), 1u);
    const auto t1 = std::chrono::steady_clock::now();
    pass.stop();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count(), 2.5);
    EXPECT_FALSE(pass.running());
}

TEST(OnvifDiscovery, TakeMergesRepeatsAndRefusesAnnouncements) {
    ScaledClock clock;
    TraceLog log;
    OnvifDiscovery pass(clock, log);
    const std::string m = probeMatch("urn:uuid:a", "tds:Device", "10.0.0.9");
    EXPECT_EQ(pass.take(m, "10.0.0.9", "eth0"), 1);
    EXPECT_EQ(pass.take(m, "10.0.0.9", "eth1"), 0);  // the same device on another adapter
    EXPECT_EQ(pass.take("<s:Envelope/>", "10.0.0.8", "eth0"), 0);
    EXPECT_EQ(pass.devices().size(), 1u);
    EXPECT_EQ(pass.devices()[0].adapter, "eth0");
    // However many devices answer, the list stops at its bound.
    for (std::size_t i = 0; i < kMaxOnvifDevices + 5; ++i)
        pass.take(probeMatch("urn:uuid:n" + std::to_string(i), "dn:NetworkVideoTransmitter",
                             "10.1.0.1"),
                  "10.1.0.1", "eth0");
    EXPECT_EQ(pass.devices().size(), kMaxOnvifDevices);
}

}  // namespace
}  // namespace lanrove
