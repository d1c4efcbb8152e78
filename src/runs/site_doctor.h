#pragma once
// The reachability doctor: after a search, checks the PC and every found camera and reports
// findings, each with a severity, the evidence that was measured and a one-sentence fix. Only
// measured facts make a finding; a check that cannot measure (no ICMP, shared address) is left
// out rather than guessed. All network access goes through DoctorProbes so that the rules can
// be tested without a network.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cgi/cgi.h"
#include "discovery/adapter_entry.h"
#include "discovery/arp_probe.h"
#include "discovery/camera_entry.h"
#include "discovery/host_network.h"
#include "runs/finding_texts.h"
#include "support/clock.h"

namespace lanrove {

enum class Severity { Info, Warning, Error };
const char* severityName(Severity severity);

// Stable finding codes (the --json interface names them).
namespace finding {
inline constexpr const char* kPcNoAddress = "pc-no-address";
inline constexpr const char* kPcGatewaySilent = "pc-gateway-silent";
inline constexpr const char* kPcIcmpBlocked = "pc-icmp-blocked";
inline constexpr const char* kPcPortBusy = "pc-port-busy";
inline constexpr const char* kPcSharedSubnet = "pc-shared-subnet";
inline constexpr const char* kOutsideSubnet = "camera-outside-subnet";
inline constexpr const char* kSharedAddress = "camera-shared-address";
inline constexpr const char* kHostAddress = "camera-host-address";
inline constexpr const char* kForeignGateway = "camera-foreign-gateway";
inline constexpr const char* kHttpClosed = "camera-http-closed";
inline constexpr const char* kHttpSilent = "camera-http-silent";
inline constexpr const char* kSslMismatch = "camera-ssl-mismatch";
inline constexpr const char* kLoginRefused = "camera-login-refused";
inline constexpr const char* kHttpError = "camera-http-error";
inline constexpr const char* kFirmwareReady = "camera-firmware-ready";
inline constexpr const char* kCertificateChanged = "camera-certificate-changed";
inline constexpr const char* kLegacyTls = "camera-legacy-tls";
inline constexpr const char* kSpoofedReply = "camera-spoofed-reply";
inline constexpr const char* kFactoryFresh = "cameras-factory-fresh";
}  // namespace finding

struct Finding {
    std::string code;
    Severity severity = Severity::Warning;
    int recordIndex = -1;  // camera-table index; -1 for a finding on the PC
    std::string mac;       // the camera's MAC text, empty for the PC
    std::string ip;        // the camera's address, empty for the PC
    std::string evidence;  // what was measured
    std::string fix;       // one sentence
    // A finding on a group of cameras (recordIndex -1): their camera-table indexes.
    std::vector<int> records;
    // The evidence and the fix as patterns of the text table, for the window and the report.
    FindingText evidenceText, fixText;
};

// Sets the finding's evidence and fix: their patterns, and their English texts from them.
void describeFinding(Finding& finding, FindingText evidence, FindingText fix);

// The firmware status value that means "an update is ready for this camera".
inline constexpr std::uint16_t kFirmStatusUpdateReady = 4608;
// The UDP port the search receives on.
inline constexpr std::uint16_t kSearchReplyPort = 10000;
// Protocol time-outs of the doctor's probes.
inline constexpr long kDoctorEchoTimeoutMs = 3000;
inline constexpr long kDoctorFreeEchoTimeoutMs = 1000;
inline constexpr long kDoctorConnectTimeoutMs = 3000;
inline constexpr long kDoctorHttpTimeoutMs = 10000;
// How long ARP replies are collected (scaled, never below the floor).
inline constexpr long kDoctorArpWindowMs = 600;
inline constexpr long kDoctorArpWindowFloorMs = 150;

enum class TcpOutcome { Open, Refused, Silent, Unreachable };

// DoctorProbes::httpStatus: the handshake showed a certificate other than the pinned one.
inline constexpr int kHttpPinRefused = -1;

class DoctorProbes {
  public:
    virtual ~DoctorProbes() = default;
    // One ICMP echo (result values of HostNetwork::echo).
    virtual std::uint32_t echo(const std::string& ip, long timeoutMs) = 0;
    virtual bool icmpDatagramAllowed() = 0;
    virtual bool icmpRawAllowed() = 0;
    // The text of net.ipv4.ping_group_range, empty when unreadable.
    virtual std::string pingGroupRange() = 0;
    // Binds a UDP socket to 0.0.0.0:port as the search does; 0 or the errno value.
    virtual int bindUdp(std::uint16_t port) = 0;
    virtual TcpOutcome connectTcp(const std::string& ip, int port, long timeoutMs) = 0;
    // HTTP status of a GET with Basic credentials to the camera `mac`; 0 when no HTTP reply
    // came at all (refused TLS handshake, a reply that is no HTTP, a reset or a time-out);
    // kHttpPinRefused when its certificate is not the pinned one (nothing was sent).
    virtual int httpStatus(const std::string& mac, const std::string& url, const std::string& user,
                           const std::string& password, long timeoutMs) = 0;
    // What is pinned of the camera's certificate; nullopt when nothing (or no pin store).
    virtual std::optional<CameraPin> pinOf(const std::string& /*mac*/) { return std::nullopt; }
    // The addresses the camera answered the last search from when they disagreed; empty when
    // they agreed.
    virtual std::string spoofedAddresses(const std::string& /*mac*/) { return {}; }
    // Every hardware address that answers ARP for each target on the adapter's segment;
    // nullopt when it cannot be asked (no packet socket).
    virtual std::optional<ArpAnswers> arpAnswers(const AdapterEntry& /*adapter*/,
                                                 const std::vector<std::uint32_t>& /*targets*/) {
        return std::nullopt;
    }
};

// Sockets, the host network's echo and the HTTP layer, with time-outs through the clock.
class SystemDoctorProbes final : public DoctorProbes {
  public:
    SystemDoctorProbes(const Clock& clock, HostNetwork& net, CCGI& cgi)
        : m_clock(clock), m_net(net), m_cgi(cgi) {}
    std::uint32_t echo(const std::string& ip, long timeoutMs) override;
    bool icmpDatagramAllowed() override;
    bool icmpRawAllowed() override;
    std::string pingGroupRange() override;
    int bindUdp(std::uint16_t port) override;
    TcpOutcome connectTcp(const std::string& ip, int port, long timeoutMs) override;
    int httpStatus(const std::string& mac, const std::string& url, const std::string& user,
                   const std::string& password, long timeoutMs) override;
    std::optional<CameraPin> pinOf(const std::string& mac) override;
    std::string spoofedAddresses(const std::string& mac) override;
    std::optional<ArpAnswers> arpAnswers(const AdapterEntry& adapter,
                                         const std::vector<std::uint32_t>& targets) override;

  private:
    const Clock& m_clock;
    HostNetwork& m_net;
    CCGI& m_cgi;
};

struct DoctorResult {
    std::vector<Finding> findings;  // PC first, then cameras in the order given
    int camerasChecked = 0;
};

// Runs every check. `records` are camera-table indexes in list order. Camera checks run on up
// to `threads` threads, all joined before the call returns.
DoctorResult runDoctor(const std::vector<AdapterEntry>& adapters, const CameraTable& table,
                       const std::vector<int>& records, DoctorProbes& probes, int threads = 16);

// The line that gives the PC a temporary secondary address in the camera's subnet: an address
// of that subnet that no found camera uses, counted down from its top.
std::string secondaryAddressCommand(std::uint32_t cameraIp, std::uint32_t cameraMask,
                                    const std::vector<std::uint32_t>& taken,
                                    const std::string& ifName);

}  // namespace lanrove
