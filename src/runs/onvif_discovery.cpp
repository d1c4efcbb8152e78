#include "runs/onvif_discovery.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace lanrove {

namespace {

constexpr int kPollSliceMs = 100;
constexpr std::uint16_t kDiscardPort = 9;  // how often a waiting pass looks at its stop flag

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string onvifDeviceIp(const OnvifDevice& d) {
    return d.match.address.empty() ? d.sourceIp : d.match.address;
}

std::vector<std::string> onvifRowTexts(const OnvifDevice& d) {
    const onvif::ProbeMatch& m = d.match;
    std::string model = m.maker;
    if (!m.model.empty()) model += (model.empty() ? "" : " ") + m.model;
    std::string title = m.name;
    if (!m.location.empty()) title += (title.empty() ? "" : " / ") + m.location;
    return {"",
            "ONVIF",
            model,
            d.mac,
            onvifDeviceIp(d),
            m.port == 0 ? std::string() : std::to_string(m.port),
            m.scheme == "https" ? "1" : "0",
            title,
            ""};
}

std::string neighbourMac(const std::string& ip) {
    if (ip.empty()) return {};
    std::ifstream in("/proc/net/arp");
    std::string line;
    std::getline(in, line);  // the header
    for (int lines = 0; lines < 4096 && std::getline(in, line); ++lines) {
        std::istringstream fields(line);
        std::string address, type, flags, hw;
        if (!(fields >> address >> type >> flags >> hw)) continue;
        if (address != ip) continue;
        // Flags 0x0: an incomplete entry whose hardware address is all zeros.
        if (flags == "0x0" || hw == "00:00:00:00:00:00" || hw.size() != 17) return {};
        return upper(hw);
    }
    return {};
}

OnvifDiscovery::OnvifDiscovery(const Clock& clock, TraceLog& log) : m_clock(clock), m_log(log) {}

OnvifDiscovery::~OnvifDiscovery() {
    stop();
}

bool OnvifDiscovery::start(const std::vector<AdapterEntry>& adapters, std::string target,
                           std::uint16_t port) {
    stop();
    std::vector<Socket> sockets;
    for (const AdapterEntry& a : adapters) {
        in_addr local{};
        if (a.ip().empty() || ::inet_pton(AF_INET, std::string(a.ip()).c_str(), &local) != 1)
            continue;
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            m_log.trace(1, "WS-Discovery socket for %s: %s", std::string(a.ifName()).c_str(),
                        std::strerror(errno));
            continue;
        }
        sockaddr_in bindTo{};
        bindTo.sin_family = AF_INET;
        bindTo.sin_addr = local;
        const unsigned char ttl = 1;  // WS-Discovery stays on the segment
        const unsigned char loop = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&bindTo), sizeof bindTo) != 0 ||
            ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) != 0) {
            m_log.trace(1, "WS-Discovery socket on %s (%s): %s", std::string(a.ifName()).c_str(),
                        std::string(a.ip()).c_str(), std::strerror(errno));
            ::close(fd);
            continue;
        }
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
        // Joined on this adapter, so that the group's traffic on it is ours to see.
        ip_mreqn join{};
        ::inet_pton(AF_INET, kWsDiscoveryGroup, &join.imr_multiaddr);
        join.imr_address = local;
        join.imr_ifindex = static_cast<int>(::if_nametoindex(std::string(a.ifName()).c_str()));
        if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            m_log.trace(2, "WS-Discovery group not joined on %s: %s",
                        std::string(a.ifName()).c_str(), std::strerror(errno));
        sockets.push_back({fd, std::string(a.ifName())});
    }
    if (sockets.empty()) {
        m_log.traceText(1, "WS-Discovery: no adapter to probe from.");
        return false;
    }
    m_stop = false;
    m_running = true;
    m_thread = std::thread([this, sockets = std::move(sockets), target = std::move(target),
                            port]() mutable { run(std::move(sockets), target, port); });
    return true;
}

void OnvifDiscovery::stop() {
    m_stop = true;
    wait();
}

void OnvifDiscovery::wait() {
    if (m_thread.joinable()) m_thread.join();
}

std::vector<OnvifDevice> OnvifDiscovery::devices() const {
    std::lock_guard lock(m_mutex);
    return m_devices;
}

int OnvifDiscovery::take(std::string_view datagram, const std::string& sourceIp,
                         const std::string& adapter) {
    const onvif::ParsedReply reply = onvif::parseProbeMatches(datagram);
    if (reply.status != onvif::ParseStatus::Ok) {
        // Hello and Bye announcements, other tools' Probes and broken replies alike.
        m_log.trace(2, "WS-Discovery datagram from %s (%zu bytes) not taken: %s", sourceIp.c_str(),
                    datagram.size(), onvif::statusName(reply.status));
        return 0;
    }
    if (reply.dropped > 0)
        m_log.trace(2, "WS-Discovery: %d match(es) from %s without an ONVIF type left out",
                    reply.dropped, sourceIp.c_str());
    int added = 0;
    std::lock_guard lock(m_mutex);
    for (const onvif::ProbeMatch& m : reply.matches) {
        const auto same = std::find_if(m_devices.begin(), m_devices.end(), [&m](const auto& d) {
            return d.match.endpoint == m.endpoint;
        });
        if (same != m_devices.end()) {
            // The same device answering another probe or round: fill what the first lacked.
            if (same->match.address.empty() && !m.address.empty()) same->match = m;
            continue;
        }
        if (m_devices.size() >= kMaxOnvifDevices) {
            m_log.trace(1, "WS-Discovery: more than %zu devices, %s left out", kMaxOnvifDevices,
                        m.endpoint.c_str());
            continue;
        }
        OnvifDevice d;
        d.match = m;
        d.sourceIp = sourceIp;
        d.adapter = adapter;
        d.mac = neighbourMac(m.address.empty() ? sourceIp : m.address);
        m_devices.push_back(std::move(d));
        ++added;
    }
    return added;
}

void OnvifDiscovery::sendRound(const std::vector<Socket>& sockets, const std::string& target,
                               std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, target.c_str(), &to.sin_addr) != 1) return;
    for (onvif::ProbeType type : {onvif::ProbeType::NetworkVideoTransmitter,
                                  onvif::ProbeType::Device, onvif::ProbeType::Any}) {
        const std::string probe = onvif::buildProbe(type, onvif::newMessageId());
        for (const Socket& s : sockets)
            if (::sendto(s.fd, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to) < 0)
                m_log.trace(1, "WS-Discovery Probe on %s not sent: %s", s.adapter.c_str(),
                            std::strerror(errno));
    }
}

void OnvifDiscovery::nudgeNeighbours(int fd, std::set<std::string>& nudged) {
    // A device's reply may come without the kernel learning its hardware address (its ARP
    // request names another of its addresses): one byte to its discard port makes the kernel
    // ask, and the table knows the address by the end of the pass.
    std::vector<std::string> ips;
    {
        std::lock_guard lock(m_mutex);
        for (const OnvifDevice& d : m_devices)
            if (d.mac.empty()) ips.push_back(onvifDeviceIp(d));
    }
    for (const std::string& ip : ips) {
        if (nudged.size() >= kMaxOnvifDevices || !nudged.insert(ip).second) continue;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kDiscardPort);
        if (::inet_pton(AF_INET, ip.c_str(), &to.sin_addr) != 1) continue;
        const char payload = 0;
        ::sendto(fd, &payload, 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
}

void OnvifDiscovery::run(std::vector<Socket> sockets, std::string target, std::uint16_t port) {
    const auto begin = m_clock.now();
    const auto end = begin + m_clock.scaled(Millis(kOnvifPassMs));
    int round = 0;
    std::vector<pollfd> fds;
    for (const Socket& s : sockets) fds.push_back({s.fd, POLLIN, 0});
    std::string buffer(onvif::kMaxMessageBytes + 1, '\0');
    std::set<std::string> nudged;
    while (!m_stop) {
        const auto now = m_clock.now();
        if (now >= end) break;
        if (round < kOnvifRounds &&
            now >= begin + m_clock.scaled(Millis(kOnvifRoundMs * static_cast<long>(round)))) {
            sendRound(sockets, target, port);
            ++round;
        }
        auto until = end;
        if (round < kOnvifRounds)
            until = std::min(until, begin + m_clock.scaled(Millis(kOnvifRoundMs * round)));
        const long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - m_clock.now()).count();
        const int wait = static_cast<int>(std::clamp<long>(left, 0, kPollSliceMs));
        if (::poll(fds.data(), fds.size(), wait) <= 0) continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            // A few datagrams per socket and turn, so that one chatty device cannot starve
            // the schedule or the other adapters.
            for (int n = 0; n < 64; ++n) {
                sockaddr_in from{};
                socklen_t fromLen = sizeof from;
                const ssize_t got = ::recvfrom(fds[i].fd, buffer.data(), buffer.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &fromLen);
                if (got < 0) break;
                char text[INET_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
                if (static_cast<std::size_t>(got) > onvif::kMaxMessageBytes) {
                    m_log.trace(1, "WS-Discovery datagram from %s over %zu bytes dropped", text,
                                onvif::kMaxMessageBytes);
                    continue;
                }
                if (take(std::string_view(buffer.data(), static_cast<std::size_t>(got)), text,
                         sockets[i].adapter) > 0)
                    nudgeNeighbours(sockets[i].fd, nudged);
            }
        }
    }
    for (const Socket& s : sockets) ::close(s.fd);
    // The kernel may have learnt a device's hardware address after its reply came.
    {
        std::lock_guard lock(m_mutex);
        for (OnvifDevice& d : m_devices)
            if (d.mac.empty())
                d.mac = neighbourMac(d.match.address.empty() ? d.sourceIp : d.match.address);
    }
    m_running = false;
}

}  // namespace lanrove
