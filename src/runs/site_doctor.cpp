#include "runs/site_doctor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string_view>
#include <thread>

#include "discovery/camera_status.h"
#include "discovery/ipv4_address.h"
#include "discovery/send_schedule.h"
#include "support/text.h"
#include "support/unique_fd.h"

namespace lanrove {

const char* severityName(Severity severity) {
    switch (severity) {
        case Severity::Info:
            return "info";
        case Severity::Warning:
            return "warning";
        case Severity::Error:
            return "error";
    }
    return "warning";
}

namespace {

// The word for an echo's result; empty for one without a word of its own.
const char* echoWord(std::uint32_t result) {
    switch (result) {
        case kEchoTimedOut:
            return "ECHO_TIMED_OUT";
        case kEchoDestNetUnreachable:
            return "ECHO_NET_UNREACHABLE";
        case kEchoDestHostUnreachable:
            return "ECHO_HOST_UNREACHABLE";
        default:
            return "";
    }
}

// The twelve hex digits of a MAC text, upper case, so that "00:80:45:..." and "00-80-45-..."
// compare equal.
std::string macKey(std::string_view text) {
    std::string key;
    for (char ch : text)
        if (std::isxdigit(static_cast<unsigned char>(ch)) != 0)
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return key;
}

bool hasCamera(const std::vector<std::uint32_t>& taken, std::uint32_t a) {
    return std::find(taken.begin(), taken.end(), a) != taken.end();
}

// Free addresses of an adapter's subnet for Manual setting: counted down from its top,
// skipping the adapter, its gateway and every found camera; each confirmed free by an echo
// that nobody answered. Echoes run ten at a time.
std::vector<std::string> freeAddressesIn(const AdapterEntry& adapter,
                                         const std::vector<std::uint32_t>& taken,
                                         std::size_t wanted, DoctorProbes& probes) {
    std::vector<std::string> found;
    const std::uint32_t ip = ipv4::fromText(adapter.ip());
    const std::uint32_t mask = ipv4::fromText(adapter.mask());
    const std::uint32_t gateway = ipv4::fromTextOrZero(adapter.gateway());
    if (ip == ipv4::kAllOnes || mask == ipv4::kAllOnes || mask == 0) return found;
    const std::uint32_t net = ipv4::networkOf(ip, mask);
    std::vector<std::uint32_t> candidates;
    // At most 254 candidates: enough for any site, bounded for a /8.
    for (std::uint32_t a = ipv4::broadcastOf(ip, mask) - 1; a > net && candidates.size() < 254; --a)
        if (a != ip && a != gateway && !hasCamera(taken, a)) candidates.push_back(a);
    constexpr std::size_t kBatch = 10;
    for (std::size_t start = 0; start < candidates.size() && found.size() < wanted;
         start += kBatch) {
        const std::size_t end = std::min(candidates.size(), start + kBatch);
        std::vector<std::uint32_t> answer(end - start, 1);
        std::vector<std::thread> batch;
        batch.reserve(end - start);
        for (std::size_t i = start; i < end; ++i)
            batch.emplace_back([&, i] {
                answer[i - start] =
                    probes.echo(ipv4::toText(candidates[i]), kDoctorFreeEchoTimeoutMs);
            });
        for (auto& t : batch) t.join();
        for (std::size_t i = start; i < end && found.size() < wanted; ++i)
            if (answer[i - start] == kEchoTimedOut) found.push_back(ipv4::toText(candidates[i]));
    }
    return found;
}

struct CameraView {
    int index = -1;
    std::string mac, ip, port, title;
    bool ssl = false;
    bool fresh = false;  // factory-fresh at the factory address
    std::uint32_t addr = ipv4::kAllOnes, mask = ipv4::kAllOnes, gateway = 0;
    std::uint16_t firmStatus = 0;
};

CameraView viewOf(const CameraTable& table, int index) {
    const CameraEntry& e = table[static_cast<std::size_t>(index)];
    CameraView v;
    v.index = index;
    v.mac = fieldUtf8(e.szMac);
    v.ip = fieldUtf8(e.szIp);
    v.port = fieldUtf8(e.szPort);
    v.ssl = fieldView(e.szSsl) == u"1";
    v.addr = ipv4::fromText(v.ip);
    v.mask = ipv4::fromText(fieldView(e.szMask));
    v.gateway = ipv4::fromTextOrZero(fieldUtf8(e.szGateway));
    v.firmStatus = e.wFirmStatus;
    v.fresh = isFactoryFresh(e);
    return v;
}

Finding cameraFinding(const CameraView& c, const char* code, Severity severity) {
    Finding f;
    f.code = code;
    f.severity = severity;
    f.recordIndex = c.index;
    f.mac = c.mac;
    f.ip = c.ip;
    return f;
}

std::string schemeOf(bool ssl) {
    return ssl ? "https" : "http";
}

Finding certificateChanged(const CameraView& c, DoctorProbes& probes) {
    Finding f = cameraFinding(c, finding::kCertificateChanged, Severity::Error);
    const std::optional<CameraPin> pin = probes.pinOf(c.mac);
    const std::string pinned = pin && !pin->fingerprint.empty() ? pin->fingerprint : "?";
    const std::string offered = pin && !pin->offered.empty() ? pin->offered : "?";
    describeFinding(f, {"CAMERA_CERTIFICATE_CHANGED", {pinned, offered}},
                    {"CAMERA_CERTIFICATE_CHANGED_FIX", {c.mac}});
    return f;
}

// The HTTP checks of one camera that lies in an adapter's subnet.
void checkHttp(const CameraView& c, DoctorProbes& probes, std::vector<Finding>& out) {
    int port = 0;
    try {
        port = std::stoi(c.port);
    } catch (...) {
        return;  // no port known: nothing to measure
    }
    if (port < 1 || port > 65535) return;
    const std::string where = c.ip + ":" + c.port;
    const TcpOutcome tcp = probes.connectTcp(c.ip, port, kDoctorConnectTimeoutMs);
    if (tcp == TcpOutcome::Refused) {
        Finding f = cameraFinding(c, finding::kHttpClosed, Severity::Error);
        describeFinding(f, {"CAMERA_HTTP_CLOSED", {where}}, {"CAMERA_HTTP_CLOSED_FIX", {}});
        out.push_back(f);
        return;
    }
    if (tcp != TcpOutcome::Open) {
        Finding f = cameraFinding(c, finding::kHttpSilent, Severity::Error);
        describeFinding(
            f,
            {tcp == TcpOutcome::Silent ? "CAMERA_HTTP_SILENT" : "CAMERA_HTTP_UNREACHABLE", {where}},
            {"CAMERA_HTTP_SILENT_FIX", {c.port}});
        out.push_back(f);
        return;
    }
    const std::string user = toUtf8(kDefaultCredential);
    const std::string path = "/cgi-bin/lang.cgi";
    int status = probes.httpStatus(c.mac, schemeOf(c.ssl) + "://" + where + path, user, user,
                                   kDoctorHttpTimeoutMs);
    bool answeredOther = false;
    // A refused certificate ends the checks: trying plain HTTP next would hand the login to
    // whoever holds the address.
    if (status == kHttpPinRefused) {
        out.push_back(certificateChanged(c, probes));
        return;
    }
    if (status == 0) {
        status = probes.httpStatus(c.mac, schemeOf(!c.ssl) + "://" + where + path, user, user,
                                   kDoctorHttpTimeoutMs);
        if (status == kHttpPinRefused) {
            out.push_back(certificateChanged(c, probes));
            return;
        }
        if (status == 0) {
            Finding f = cameraFinding(c, finding::kHttpSilent, Severity::Error);
            describeFinding(f, {"CAMERA_NO_HTTP", {c.port}}, {"CAMERA_NO_HTTP_FIX", {}});
            out.push_back(f);
            return;
        }
        answeredOther = true;
        Finding f = cameraFinding(c, finding::kSslMismatch, Severity::Error);
        const std::string key = c.ssl ? "CAMERA_SSL_ON_SERVES_HTTP" : "CAMERA_SSL_OFF_SERVES_HTTPS";
        describeFinding(f, {key, {c.port, std::to_string(status)}}, {key + "_FIX", {}});
        out.push_back(f);
    }
    const bool answeredHttps = answeredOther ? !c.ssl : c.ssl;
    if (answeredHttps) {
        const std::optional<CameraPin> pin = probes.pinOf(c.mac);
        if (pin && !pin->legacyTls.empty()) {
            Finding f = cameraFinding(c, finding::kLegacyTls, Severity::Info);
            describeFinding(f, {"CAMERA_LEGACY_TLS", {pin->legacyTls}},
                            {"CAMERA_LEGACY_TLS_FIX", {}});
            out.push_back(f);
        }
    }
    if (status == 401) {
        Finding f = cameraFinding(c, finding::kLoginRefused, Severity::Warning);
        describeFinding(f,
                        {"CAMERA_LOGIN_REFUSED",
                         {schemeOf(answeredOther ? !c.ssl : c.ssl) + "://" + where + path}},
                        {"CAMERA_LOGIN_REFUSED_FIX", {}});
        out.push_back(f);
    } else if (status >= 400) {
        Finding f = cameraFinding(c, finding::kHttpError, Severity::Warning);
        describeFinding(f, {"CAMERA_HTTP_ERROR", {std::to_string(status)}},
                        {"CAMERA_HTTP_ERROR_FIX", {}});
        out.push_back(f);
    }
}

// A host that is no camera holds the camera's address: the PC itself, or ARP answered by two
// or more hardware addresses of which one belongs to no camera found there. One answer alone
// is not taken as a clash, as a wireless bridge answers for the cameras behind it.
bool checkHostAddress(const CameraView& c, const std::vector<AdapterEntry>& adapters,
                      const std::vector<std::size_t>& same, const std::vector<CameraView>& cams,
                      const std::map<std::uint32_t, std::set<std::string>>& arp,
                      std::vector<Finding>& out) {
    for (const AdapterEntry& a : adapters) {
        if (ipv4::fromText(a.ip()) != c.addr || c.addr == ipv4::kAllOnes) continue;
        Finding f = cameraFinding(c, finding::kHostAddress, Severity::Error);
        describeFinding(f, {"CAMERA_HOST_ADDRESS_PC", {c.ip, std::string(a.ifName())}},
                        {"CAMERA_HOST_ADDRESS_PC_FIX", {std::string(a.ifName())}});
        out.push_back(f);
        return true;
    }
    const auto it = arp.find(c.addr);
    if (it == arp.end() || it->second.size() < 2) return false;
    std::set<std::string> cameraMacs;
    for (std::size_t k : same) cameraMacs.insert(macKey(cams[k].mac));
    std::string all, foreign;
    for (const std::string& mac : it->second) {
        all += (all.empty() ? "" : ", ") + mac;
        if (cameraMacs.count(macKey(mac)) == 0) foreign += (foreign.empty() ? "" : ", ") + mac;
    }
    if (foreign.empty()) return false;  // only cameras: the shared-address finding says it
    Finding f = cameraFinding(c, finding::kHostAddress, Severity::Error);
    describeFinding(
        f, {"CAMERA_HOST_ADDRESS_ARP", {c.ip, std::to_string(it->second.size()), all, foreign}},
        {"CAMERA_HOST_ADDRESS_ARP_FIX", {c.ip, foreign}});
    out.push_back(f);
    return true;
}

}  // namespace

void describeFinding(Finding& finding, FindingText evidence, FindingText fix) {
    finding.evidence = spellFindingText(evidence);
    finding.fix = spellFindingText(fix);
    finding.evidenceText = std::move(evidence);
    finding.fixText = std::move(fix);
}

std::string secondaryAddressCommand(std::uint32_t cameraIp, std::uint32_t cameraMask,
                                    const std::vector<std::uint32_t>& taken,
                                    const std::string& ifName) {
    const std::uint32_t net = ipv4::networkOf(cameraIp, cameraMask);
    std::uint32_t pick = 0;
    for (std::uint32_t a = ipv4::broadcastOf(cameraIp, cameraMask) - 1; a > net; --a) {
        if (!hasCamera(taken, a)) {
            pick = a;
            break;
        }
    }
    if (pick == 0) return {};
    return "ip addr add " + ipv4::toText(pick) + "/" +
           std::to_string(ipv4::prefixLength(cameraMask)) + " dev " + ifName;
}

DoctorResult runDoctor(const std::vector<AdapterEntry>& adapters, const CameraTable& table,
                       const std::vector<int>& records, DoctorProbes& probes, int threads) {
    DoctorResult result;
    std::vector<Finding>& out = result.findings;

    // ---- The PC ----
    if (adapters.empty()) {
        Finding f;
        f.code = finding::kPcNoAddress;
        f.severity = Severity::Error;
        describeFinding(f, {"PC_NO_ADDRESS", {}}, {"PC_NO_ADDRESS_FIX", {}});
        out.push_back(f);
    }
    const bool dgram = probes.icmpDatagramAllowed();
    const bool raw = dgram || probes.icmpRawAllowed();
    if (!dgram && !raw) {
        Finding f;
        f.code = finding::kPcIcmpBlocked;
        f.severity = Severity::Warning;
        const std::string range = probes.pingGroupRange();
        describeFinding(f, {"PC_ICMP_BLOCKED", {range.empty() ? wordArg("UNREADABLE") : range}},
                        {"PC_ICMP_BLOCKED_FIX", {}});
        out.push_back(f);
    }
    for (const AdapterEntry& a : adapters) {
        const std::uint32_t gw = ipv4::fromTextOrZero(a.gateway());
        if (gw == 0 || !raw) continue;  // nothing to ask, or no way to ask
        const std::uint32_t echo = probes.echo(std::string(a.gateway()), kDoctorEchoTimeoutMs);
        if (echo == kEchoSuccess || echo == kEchoUnavailable) continue;
        Finding f;
        f.code = finding::kPcGatewaySilent;
        f.severity = Severity::Warning;
        const std::string word = echoWord(echo);
        FindingText evidence{
            "PC_GATEWAY_FAILED",
            {std::string(a.gateway()), std::string(a.ifName()), std::to_string(echo)}};
        if (!word.empty()) {
            evidence.key = "PC_GATEWAY_SILENT";
            evidence.args.back() = wordArg(word);
        }
        describeFinding(f, std::move(evidence),
                        {"PC_GATEWAY_SILENT_FIX", {std::string(a.ifName())}});
        out.push_back(f);
    }
    if (const int err = probes.bindUdp(kSearchReplyPort); err != 0) {
        Finding f;
        f.code = finding::kPcPortBusy;
        f.severity = Severity::Error;
        describeFinding(f, {"PC_PORT_BUSY", {std::string(std::strerror(err))}},
                        {"PC_PORT_BUSY_FIX", {}});
        out.push_back(f);
    }
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        for (std::size_t j = i + 1; j < adapters.size(); ++j) {
            const std::uint32_t ipA = ipv4::fromText(adapters[i].ip());
            const std::uint32_t maskA = ipv4::fromText(adapters[i].mask());
            const std::uint32_t ipB = ipv4::fromText(adapters[j].ip());
            const std::uint32_t maskB = ipv4::fromText(adapters[j].mask());
            const std::uint32_t mask = std::min(maskA, maskB);  // the wider subnet
            if (ipv4::networkOf(ipA, mask) != ipv4::networkOf(ipB, mask)) continue;
            Finding f;
            f.code = finding::kPcSharedSubnet;
            f.severity = Severity::Warning;
            describeFinding(f,
                            {"PC_SHARED_SUBNET",
                             {std::string(adapters[i].ifName()), std::string(adapters[i].ip()),
                              std::string(adapters[j].ifName()), std::string(adapters[j].ip())}},
                            {"PC_SHARED_SUBNET_FIX", {}});
            out.push_back(f);
        }
    }

    // ---- The cameras ----
    std::vector<CameraView> cams;
    cams.reserve(records.size());
    for (int index : records)
        if (index >= 0 && index < static_cast<int>(kCameraTableSize) && table[index].inUse())
            cams.push_back(viewOf(table, index));
    result.camerasChecked = static_cast<int>(cams.size());
    std::vector<std::uint32_t> taken;
    std::map<std::uint32_t, std::vector<std::size_t>> byAddress;
    for (std::size_t i = 0; i < cams.size(); ++i) {
        taken.push_back(cams[i].addr);
        byAddress[cams[i].addr].push_back(i);
    }
    auto inSubnetOf = [&](const CameraView& c) -> const AdapterEntry* {
        for (const AdapterEntry& a : adapters)
            if (CCGI::IsOutsideHostSubnet(a.ip(), a.mask(), c.ip) == 0) return &a;
        return nullptr;
    };
    // Factory-fresh cameras sharing the factory address are the normal state before
    // commissioning: one finding for the group, Auto setting gives them addresses. Their
    // shared or foreign-subnet address is no fault of theirs.
    std::vector<std::size_t> freshGroup;
    for (std::size_t i = 0; i < cams.size(); ++i)
        if (cams[i].fresh) freshGroup.push_back(i);
    if (freshGroup.size() < 2) freshGroup.clear();
    auto inFreshGroup = [&](std::size_t i) {
        return std::find(freshGroup.begin(), freshGroup.end(), i) != freshGroup.end();
    };

    // Free addresses for the cameras outside every subnet, found once for all of them.
    std::size_t outside = 0;
    for (std::size_t i = 0; i < cams.size(); ++i)
        outside += inSubnetOf(cams[i]) == nullptr && !inFreshGroup(i) ? 1 : 0;
    std::vector<std::string> freeAddresses;
    if (outside > 0 && !adapters.empty() && raw)
        freeAddresses = freeAddressesIn(adapters.front(), taken, outside, probes);
    std::size_t nextFree = 0;

    // Who answers ARP for the cameras' addresses, asked once per adapter for all of them.
    std::map<std::uint32_t, std::set<std::string>> arp;  // address -> answering MAC keys
    for (const AdapterEntry& a : adapters) {
        std::vector<std::uint32_t> targets;
        for (const CameraView& c : cams)
            if (c.addr != ipv4::kAllOnes && c.addr != ipv4::fromText(a.ip()) && inSubnetOf(c) == &a)
                targets.push_back(c.addr);
        if (targets.empty()) continue;
        const std::optional<ArpAnswers> answers = probes.arpAnswers(a, targets);
        if (!answers) continue;
        for (const auto& [address, macs] : *answers)
            for (const HardwareAddress& mac : macs) arp[address].insert(hardwareText(mac));
    }

    std::vector<std::vector<Finding>> perCamera(cams.size());
    std::vector<std::size_t> httpChecks;
    for (std::size_t i = 0; i < cams.size(); ++i) {
        const CameraView& c = cams[i];
        std::vector<Finding>& mine = perCamera[i];
        const AdapterEntry* home = inSubnetOf(c);
        const bool fresh = inFreshGroup(i);
        if (!freshGroup.empty() && i == freshGroup.front()) {
            Finding f;
            f.code = finding::kFactoryFresh;
            f.severity = Severity::Info;
            f.ip = toUtf8(kFactoryAddress);
            describeFinding(f, {"CAMERAS_FACTORY_FRESH", {std::to_string(freshGroup.size()), f.ip}},
                            {"CAMERAS_FACTORY_FRESH_FIX", {}});
            for (std::size_t k : freshGroup) f.records.push_back(cams[k].index);
            mine.push_back(f);
        }
        if (home == nullptr && !adapters.empty() && !fresh) {
            const AdapterEntry& a = adapters.front();
            Finding f = cameraFinding(c, finding::kOutsideSubnet, Severity::Error);
            const std::string command =
                c.mask != ipv4::kAllOnes && c.addr != ipv4::kAllOnes
                    ? secondaryAddressCommand(c.addr, c.mask, taken, std::string(a.ifName()))
                    : std::string();
            FindingText fix{"CAMERA_OUTSIDE_SUBNET_FIX_MOVE", {}};
            if (!command.empty()) fix = {"CAMERA_OUTSIDE_SUBNET_FIX_RUN_OR_MOVE", {command}};
            if (nextFree < freeAddresses.size()) {
                fix.key += "_TO";
                fix.args.emplace_back(freeAddresses[nextFree++]);
            }
            describeFinding(f,
                            {"CAMERA_OUTSIDE_SUBNET",
                             {c.ip, std::string(a.ifName()), std::string(a.ip()),
                              std::to_string(ipv4::prefixLength(ipv4::fromText(a.mask())))}},
                            std::move(fix));
            mine.push_back(f);
        }
        const auto& same = byAddress[c.addr];
        std::string others;  // the cameras that clash with this one
        for (std::size_t k : same)
            if (k != i && !(fresh && inFreshGroup(k)))
                others += (others.empty() ? "" : ", ") + cams[k].mac;
        if (!others.empty()) {
            Finding f = cameraFinding(c, finding::kSharedAddress, Severity::Error);
            describeFinding(f, {"CAMERA_SHARED_ADDRESS", {c.ip, others}},
                            {"CAMERA_SHARED_ADDRESS_FIX", {}});
            mine.push_back(f);
        }
        if (c.gateway != 0 && c.mask != ipv4::kAllOnes && c.addr != ipv4::kAllOnes &&
            ipv4::networkOf(c.gateway, c.mask) != ipv4::networkOf(c.addr, c.mask)) {
            Finding f = cameraFinding(c, finding::kForeignGateway, Severity::Warning);
            const std::string subnet = ipv4::toText(ipv4::networkOf(c.addr, c.mask)) + "/" +
                                       std::to_string(ipv4::prefixLength(c.mask));
            describeFinding(f, {"CAMERA_FOREIGN_GATEWAY", {ipv4::toText(c.gateway), subnet}},
                            {"CAMERA_FOREIGN_GATEWAY_FIX", {subnet}});
            mine.push_back(f);
        }
        const bool hostClash = checkHostAddress(c, adapters, same, cams, arp, mine);
        const std::string spoofed = probes.spoofedAddresses(c.mac);
        if (!spoofed.empty()) {
            Finding f = cameraFinding(c, finding::kSpoofedReply, Severity::Error);
            describeFinding(f, {"CAMERA_SPOOFED_REPLY", {spoofed}},
                            {"CAMERA_SPOOFED_REPLY_FIX", {}});
            mine.push_back(f);
        }
        // A shared address would make the answer come from either holder: not measured. A
        // spoofed camera gets no login at all.
        if (home != nullptr && same.size() == 1 && !hostClash && spoofed.empty())
            httpChecks.push_back(i);
    }

    std::vector<std::vector<Finding>> httpFindings(cams.size());
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t k = next++; k < httpChecks.size(); k = next++)
            checkHttp(cams[httpChecks[k]], probes, httpFindings[httpChecks[k]]);
    };
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)), httpChecks.size());
    std::vector<std::thread> pool;
    pool.reserve(n);
    for (std::size_t t = 0; t < n; ++t) pool.emplace_back(worker);
    for (auto& t : pool) t.join();

    for (std::size_t i = 0; i < cams.size(); ++i) {
        out.insert(out.end(), perCamera[i].begin(), perCamera[i].end());
        out.insert(out.end(), httpFindings[i].begin(), httpFindings[i].end());
        if (cams[i].firmStatus == kFirmStatusUpdateReady) {
            Finding f = cameraFinding(cams[i], finding::kFirmwareReady, Severity::Info);
            describeFinding(f, {"CAMERA_FIRMWARE_READY", {}}, {"CAMERA_FIRMWARE_READY_FIX", {}});
            out.push_back(f);
        }
    }
    return result;
}

// ---- System probes ----

std::optional<ArpAnswers> SystemDoctorProbes::arpAnswers(
    const AdapterEntry& adapter, const std::vector<std::uint32_t>& targets) {
    HardwareAddress own{};
    std::copy(std::begin(adapter.mac), std::end(adapter.mac), own.begin());
    const long window =
        std::max<long>(kDoctorArpWindowFloorMs, m_clock.scaledMs(kDoctorArpWindowMs));
    return askArp(std::string(adapter.ifName()), own, ipv4::fromText(adapter.ip()), targets,
                  std::chrono::milliseconds(window));
}

std::uint32_t SystemDoctorProbes::echo(const std::string& ip, long timeoutMs) {
    return m_net.echo(fromUtf8(ip), timeoutMs);
}

bool SystemDoctorProbes::icmpDatagramAllowed() {
    const UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    return fd.get() >= 0;
}

bool SystemDoctorProbes::icmpRawAllowed() {
    const UniqueFd fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    return fd.get() >= 0;
}

std::string SystemDoctorProbes::pingGroupRange() {
    std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
    std::string text;
    std::getline(in, text);
    for (char& ch : text)
        if (ch == '\t') ch = ' ';
    return text;
}

int SystemDoctorProbes::bindUdp(std::uint16_t port) {
    const UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return errno;
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return errno;
    return 0;
}

TcpOutcome SystemDoctorProbes::connectTcp(const std::string& ip, int port, long timeoutMs) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) return TcpOutcome::Unreachable;
    const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return TcpOutcome::Unreachable;
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return TcpOutcome::Open;
    if (errno == ECONNREFUSED) return TcpOutcome::Refused;
    if (errno != EINPROGRESS) return TcpOutcome::Unreachable;
    pollfd p{fd.get(), POLLOUT, 0};
    const int wait = static_cast<int>(std::max<long>(1, m_clock.scaledMs(timeoutMs)));
    int r = 0;
    do {
        r = ::poll(&p, 1, wait);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return TcpOutcome::Silent;
    int err = 0;
    socklen_t len = sizeof err;
    if (r < 0 || ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return TcpOutcome::Unreachable;
    if (err == 0) return TcpOutcome::Open;
    if (err == ECONNREFUSED) return TcpOutcome::Refused;
    return err == ETIMEDOUT ? TcpOutcome::Silent : TcpOutcome::Unreachable;
}

int SystemDoctorProbes::httpStatus(const std::string& mac, const std::string& url,
                                   const std::string& user, const std::string& password,
                                   long timeoutMs) {
    auto session = CgiSession::create(m_clock, timeoutMs);
    if (!session) return 0;
    CgiRequestSpec get;
    get.url = url;
    // The same pin check as every camera request: the login goes out only after it.
    if (!m_cgi.GuardRequest(fromUtf8(mac), get)) return kHttpPinRefused;
    get.headers.push_back("Authorization: " +
                          m_cgi.BasicCredentials(fromUtf8(user), fromUtf8(password)));
    int error = 0;
    CgiRequestPtr request = CgiRequest::open(*session, get, error);
    if (!request) return 0;
    const int status = request->waitForHeaders() ? request->statusCode() : 0;
    const bool refused = request->peerRefused();
    request->close();
    return refused ? kHttpPinRefused : status;
}

std::optional<CameraPin> SystemDoctorProbes::pinOf(const std::string& mac) {
    CameraTrust* trust = m_cgi.trust();
    return trust != nullptr ? trust->pin(mac) : std::nullopt;
}

std::string SystemDoctorProbes::spoofedAddresses(const std::string& mac) {
    CameraTrust* trust = m_cgi.trust();
    return trust != nullptr ? trust->spoofedAddresses(mac) : std::string();
}

}  // namespace lanrove
