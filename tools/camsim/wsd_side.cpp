#include "wsd_side.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "discovery/ipv4_address.h"
#include "source_send.h"
#include "wsd_responder.h"

namespace lanrove::camsim {

WsdSide::WsdSide(Fleet& fleet, SimLog& log, std::string interface)
    : m_fleet(fleet), m_log(log), m_interface(std::move(interface)) {}

WsdSide::~WsdSide() {
    stop();
}

bool WsdSide::start(std::string& error) {
    const auto failWith = [&](const std::string& what) {
        error = what + ": " + std::strerror(errno);
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
        return false;
    };
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return failWith("socket");
    const int one = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    unsigned ifIndex = 0;
    if (!m_interface.empty()) {
        ifIndex = if_nametoindex(m_interface.c_str());
        if (ifIndex == 0) return failWith("interface " + m_interface);
        if (setsockopt(m_fd, SOL_SOCKET, SO_BINDTODEVICE, m_interface.c_str(),
                       static_cast<socklen_t>(m_interface.size() + 1)) != 0)
            return failWith("bind to " + m_interface);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kWsdPort);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return failWith("bind port 3702");
    ip_mreqn group{};
    inet_pton(AF_INET, kWsdGroup, &group.imr_multiaddr);
    group.imr_ifindex = static_cast<int>(ifIndex);
    if (setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0)
        return failWith(std::string("join ") + kWsdGroup);
    m_bStop = false;
    m_receiver = std::thread([this] { receiveLoop(); });
    return true;
}

void WsdSide::stop() {
    m_bStop = true;
    if (m_receiver.joinable()) m_receiver.join();
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

void WsdSide::receiveLoop() {
    // One byte more than a probe may have, so that a longer one shows as truncated.
    std::vector<char> buffer(kMaxProbeBytes + 1);
    while (!m_bStop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n <= 0) continue;
        char fromText[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, fromText, sizeof fromText);
        const std::string sender =
            std::string(fromText) + ":" + std::to_string(ntohs(from.sin_port));
        if (static_cast<std::size_t>(n) > kMaxProbeBytes) {
            m_log.line("wsd ignored from " + sender + ": oversized");
            continue;
        }
        const WsdProbeResult r =
            answerProbe(m_fleet, std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        if (!r.bProbe) {
            m_log.line("wsd ignored from " + sender + ": " + r.why);
            continue;
        }
        m_log.line("wsd-probe " + r.messageId + " from " + sender +
                   " matches=" + std::to_string(r.replies.size()));
        for (const WsdReply& reply : r.replies) send(reply.xml, reply.source, &from, fromLength);
    }
}

void WsdSide::send(const std::string& xml, std::uint32_t source, const void* to,
                   unsigned toLength) {
    // Each device answers from its own address.
    const int err = sendFromSource(m_fd, xml.data(), xml.size(), static_cast<const sockaddr*>(to),
                                   toLength, source);
    if (err != 0) m_log.line(std::string("wsd send failed: ") + std::strerror(err));
}

}  // namespace lanrove::camsim
