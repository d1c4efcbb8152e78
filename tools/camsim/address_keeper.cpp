#include "address_keeper.h"

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "discovery/ipv4_address.h"

namespace lanrove::camsim {

AddressKeeper::AddressKeeper(std::string ifName) : m_ifName(std::move(ifName)) {}

AddressKeeper::~AddressKeeper() {
    if (m_fd >= 0) ::close(m_fd);
}

bool AddressKeeper::open(std::string& error) {
    m_ifIndex = static_cast<int>(if_nametoindex(m_ifName.c_str()));
    if (m_ifIndex == 0) {
        error = "no interface " + m_ifName;
        return false;
    }
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_fd < 0) {
        error = std::string("netlink socket: ") + std::strerror(errno);
        return false;
    }
    timeval tv{2, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        error = std::string("netlink bind: ") + std::strerror(errno);
        return false;
    }
    std::ofstream("/proc/sys/net/ipv4/conf/" + m_ifName + "/promote_secondaries") << "1\n";
    return true;
}

int AddressKeeper::change(bool add, std::uint32_t address, int prefix) {
    struct Request {
        nlmsghdr header;
        ifaddrmsg message;
        char attributes[64];
    } req{};
    req.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    req.header.nlmsg_type = add ? RTM_NEWADDR : RTM_DELADDR;
    req.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | (add ? (NLM_F_CREATE | NLM_F_EXCL) : 0);
    req.header.nlmsg_seq = ++m_seq;
    req.message.ifa_family = AF_INET;
    req.message.ifa_prefixlen = static_cast<unsigned char>(prefix);
    req.message.ifa_scope = RT_SCOPE_UNIVERSE;
    req.message.ifa_index = static_cast<unsigned>(m_ifIndex);
    const std::uint32_t networkOrder = htonl(address);
    const std::uint32_t broadcast = htonl(ipv4::broadcastOf(address, ipv4::maskFromPrefix(prefix)));
    const auto attribute = [&](unsigned short type, std::uint32_t value) {
        auto* rta = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req) +
                                              NLMSG_ALIGN(req.header.nlmsg_len));
        rta->rta_type = type;
        rta->rta_len = RTA_LENGTH(sizeof value);
        std::memcpy(RTA_DATA(rta), &value, sizeof value);
        req.header.nlmsg_len = NLMSG_ALIGN(req.header.nlmsg_len) + RTA_ALIGN(rta->rta_len);
    };
    attribute(IFA_LOCAL, networkOrder);
    attribute(IFA_ADDRESS, networkOrder);
    if (add && prefix < 31) attribute(IFA_BROADCAST, broadcast);

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(m_fd, &req, req.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        m_lastError = std::string("netlink send: ") + std::strerror(errno);
        return -1;
    }
    std::vector<char> buffer(8192);
    while (true) {
        const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (n < 0) {
            m_lastError = std::string("netlink receive: ") + std::strerror(errno);
            return -1;
        }
        int len = static_cast<int>(n);
// The netlink macros compare the header's unsigned length with the int count; clang warns.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, len);
             h = NLMSG_NEXT(h, len)) {
#pragma GCC diagnostic pop
            if (h->nlmsg_seq != req.header.nlmsg_seq || h->nlmsg_type != NLMSG_ERROR) continue;
            const int error = -reinterpret_cast<nlmsgerr*>(NLMSG_DATA(h))->error;
            if (error == 0) return 1;
            if ((add && error == EEXIST) || (!add && error == EADDRNOTAVAIL)) return 0;
            m_lastError =
                (add ? "add " : "remove ") + ipv4::toText(address) + ": " + std::strerror(error);
            return -1;
        }
    }
}

bool AddressKeeper::sync(Fleet& fleet) {
    std::map<std::uint32_t, int> wanted;
    {
        std::lock_guard lock(fleet.mutex);
        for (const auto& c : fleet.cameras) {
            const std::uint32_t a = ipv4::fromTextOrZero(c.ip);
            if (a == 0 || a == ipv4::kAllOnes) continue;
            wanted.emplace(a, ipv4::prefixLength(ipv4::fromTextOrZero(c.mask)));
        }
        for (const auto& h : fleet.hosts) {
            const std::uint32_t a = ipv4::fromTextOrZero(h.ip);
            if (a == 0 || a == ipv4::kAllOnes) continue;
            wanted.emplace(a, ipv4::prefixLength(ipv4::fromTextOrZero(h.mask)));
        }
    }
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) return false;
    bool ok = true;
    // New addresses first, so that a move inside one subnet never leaves it without an address.
    for (const auto& [address, prefix] : wanted) {
        if (m_added.count(address) != 0) continue;
        const int r = change(true, address, prefix);
        if (r > 0) m_added.emplace(address, prefix);  // an address that was there stays foreign
        if (r < 0) ok = false;
    }
    for (auto it = m_added.begin(); it != m_added.end();) {
        if (wanted.count(it->first) != 0) {
            ++it;
            continue;
        }
        if (change(false, it->first, it->second) < 0) ok = false;
        it = m_added.erase(it);
    }
    return ok;
}

void AddressKeeper::removeAll() {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) return;
    for (const auto& [address, prefix] : m_added) change(false, address, prefix);
    m_added.clear();
}

std::string AddressKeeper::lastError() const {
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

std::size_t AddressKeeper::count() const {
    std::lock_guard lock(m_mutex);
    return m_added.size();
}

}  // namespace lanrove::camsim
