#include "discovery/host_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "discovery/ipv4_address.h"
#include "support/text.h"

extern char** environ;

namespace lanrove {

namespace {

// Raw ICMP socket filter (linux/icmp.h clashes with net/if.h, so its two names are repeated).
constexpr int kIcmpFilterOption = 1;  // ICMP_FILTER at level SOL_RAW
struct IcmpFilter {
    std::uint32_t data;  // bit set = type blocked
};

constexpr std::uint8_t kIcmpEchoReply = 0;
constexpr std::uint8_t kIcmpEchoRequest = 8;
constexpr std::size_t kMaxTargetChars = 32;
constexpr long long kEchoCancelPollMs = 100;  // how soon a cancelled echo notices

std::uint16_t processEchoId() {
    static const std::uint16_t id = [] {
        std::random_device rd;
        return static_cast<std::uint16_t>((static_cast<unsigned>(getpid()) ^ rd()) & 0xFFFF);
    }();
    return id;
}

std::atomic<std::uint16_t>& echoSequence() {
    static std::atomic<std::uint16_t> sequence{static_cast<std::uint16_t>(std::random_device{}())};
    return sequence;
}

std::uint32_t statusForSendError(int error) {
    switch (error) {
        case ENETUNREACH:
        case ENETDOWN:
            return kEchoDestNetUnreachable;
        case EHOSTUNREACH:
        case EHOSTDOWN:
            return kEchoDestHostUnreachable;
        case EACCES:  // e.g. a broadcast target
        case EINVAL:
            return kEchoBadDestination;
        default:
            return kEchoGeneralFailure;
    }
}

class FdGuard {
  public:
    explicit FdGuard(int fd) : m_fd(fd) {}
    ~FdGuard() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

bool resolveTarget(const std::string& text, std::uint32_t& out) {
    if (auto a = ipv4::parse(text)) {
        out = *a;
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
    bool found = false;
    for (addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
            out = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
            found = true;
            break;
        }
    }
    freeaddrinfo(result);
    return found;
}

}  // namespace

// ---------------------------------------------------------------------------------- adapters

std::vector<InterfaceInfo> readInterfaces() {
    std::vector<InterfaceInfo> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    const auto slot = [&](const char* rawName, unsigned flags) -> InterfaceInfo& {
        std::string name(rawName);
        const std::size_t colon = name.find(':');
        if (colon != std::string::npos) name.resize(colon);
        for (auto& i : result)
            if (i.name == name) return i;
        InterfaceInfo info;
        info.name = name;
        info.flags = flags;
        result.push_back(std::move(info));
        return result.back();
    };
    for (ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_name == nullptr) continue;
        InterfaceInfo& info = slot(ifa->ifa_name, ifa->ifa_flags);
        if (ifa->ifa_addr == nullptr) continue;
        if (ifa->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
            if (ll->sll_halen == 6) std::memcpy(info.mac, ll->sll_addr, 6);
            info.flags = ifa->ifa_flags;
        } else if (ifa->ifa_addr->sa_family == AF_INET) {
            const auto* sin = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr);
            std::uint32_t mask = 0;
            if (ifa->ifa_netmask != nullptr)
                mask =
                    ntohl(reinterpret_cast<const sockaddr_in*>(ifa->ifa_netmask)->sin_addr.s_addr);
            info.addresses.push_back({ntohl(sin->sin_addr.s_addr), mask});
        }
    }
    freeifaddrs(list);
    return result;
}

std::map<std::string, std::uint32_t> parseDefaultGateways(std::string_view routeText) {
    constexpr unsigned long kRouteUp = 0x1;
    constexpr unsigned long kRouteGateway = 0x2;
    std::map<std::string, std::uint32_t> result;
    std::istringstream in{std::string(routeText)};
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {  // "Iface Destination Gateway Flags ..."
            header = false;
            if (line.rfind("Iface", 0) == 0) continue;
        }
        std::istringstream fields(line);
        std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
        if (!(fields >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask))
            continue;
        char* end = nullptr;
        const unsigned long d = std::strtoul(dest.c_str(), &end, 16);
        if (*end != 0) continue;
        const unsigned long g = std::strtoul(gateway.c_str(), &end, 16);
        if (*end != 0) continue;
        const unsigned long f = std::strtoul(flags.c_str(), &end, 16);
        if (*end != 0) continue;
        const unsigned long m = std::strtoul(mask.c_str(), &end, 16);
        if (*end != 0) continue;
        if (d != 0 || m != 0 || (f & kRouteUp) == 0 || (f & kRouteGateway) == 0) continue;
        // The kernel prints the network-order word as a native number.
        const std::uint32_t address = ntohl(static_cast<std::uint32_t>(g));
        result.emplace(iface, address);  // the first default route of an interface wins
    }
    return result;
}

std::vector<AdapterEntry> buildAdapterList(const std::vector<InterfaceInfo>& interfaces,
                                           const std::map<std::string, std::uint32_t>& gateways,
                                           std::vector<std::string>* withoutCarrier) {
    std::vector<AdapterEntry> result;
    for (const auto& i : interfaces) {
        if ((i.flags & IFF_LOOPBACK) != 0 || (i.flags & IFF_UP) == 0) continue;
        if (i.addresses.empty() || i.addresses.front().address == 0) continue;
        if ((i.flags & IFF_RUNNING) == 0) {
            if (withoutCarrier != nullptr) withoutCarrier->push_back(i.name);
            continue;
        }
        AdapterEntry e;
        e.clear();
        std::memcpy(e.mac, i.mac, 6);
        AdapterEntry::setText(e.szIp, ipv4::toText(i.addresses.front().address));
        AdapterEntry::setText(e.szMask, ipv4::toText(i.addresses.front().mask));
        const auto g = gateways.find(i.name);
        AdapterEntry::setText(e.szGateway, ipv4::toText(g == gateways.end() ? 0 : g->second));
        AdapterEntry::setText(e.szIfName, i.name);
        result.push_back(e);
    }
    return result;
}

int enumerateSystemAdapters(std::vector<AdapterEntry>& out,
                            std::vector<std::string>* withoutCarrier) {
    out.clear();
    std::ifstream route("/proc/net/route");
    std::stringstream text;
    if (route) text << route.rdbuf();
    out = buildAdapterList(readInterfaces(), parseDefaultGateways(text.str()), withoutCarrier);
    return static_cast<int>(out.size());
}

// ------------------------------------------------------------------------------ start-up check

std::string startupEchoTarget(const AdapterEntry& adapter) {
    if (ipv4::fromTextOrZero(adapter.gateway()) != 0) return std::string(adapter.gateway());
    const std::uint32_t network =
        ipv4::networkOf(ipv4::fromText(adapter.ip()), ipv4::fromText(adapter.mask()));
    return ipv4::toText(ipv4::incrementLastOctet(network));
}

const char* outcomeName(NetworkCheckOutcome outcome) {
    switch (outcome) {
        case NetworkCheckOutcome::Pass:
            return "pass";
        case NetworkCheckOutcome::NoAddress:
            return "no-address";
        case NetworkCheckOutcome::Firewall:
            return "firewall";
    }
    return "?";
}

NetworkCheckResult runStartupNetworkCheck(HostNetwork& net, std::vector<AdapterEntry>& adapters) {
    NetworkCheckResult r;
    r.adapterCount = net.enumerateAdapters(adapters);
    if (r.adapterCount <= 0 || adapters.empty()) {
        r.outcome = NetworkCheckOutcome::NoAddress;
        return r;
    }
    r.target = startupEchoTarget(adapters.front());
    r.echoResult = net.echo(fromUtf8(r.target), kStartupEchoTimeoutMs);
    r.outcome = (r.echoResult == kEchoSuccess || r.echoResult == kEchoTimedOut)
                    ? NetworkCheckOutcome::Pass
                    : NetworkCheckOutcome::Firewall;
    return r;
}

// ------------------------------------------------------------------------------------ echo

void buildEchoRequest(std::uint8_t (&out)[8], std::uint16_t id, std::uint16_t sequence) {
    out[0] = kIcmpEchoRequest;
    out[1] = 0;
    out[2] = out[3] = 0;
    out[4] = static_cast<std::uint8_t>(id >> 8);
    out[5] = static_cast<std::uint8_t>(id);
    out[6] = static_cast<std::uint8_t>(sequence >> 8);
    out[7] = static_cast<std::uint8_t>(sequence);
    std::uint32_t sum = 0;
    for (int i = 0; i < 8; i += 2) sum += static_cast<std::uint32_t>((out[i] << 8) | out[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    const auto check = static_cast<std::uint16_t>(~sum);
    out[2] = static_cast<std::uint8_t>(check >> 8);
    out[3] = static_cast<std::uint8_t>(check);
}

bool isEchoReplyFor(const std::uint8_t* data, std::size_t length, bool withIpHeader,
                    std::uint32_t sourceHostOrder, std::uint32_t targetHostOrder, std::uint16_t id,
                    std::uint16_t sequence, bool checkId) {
    if (data == nullptr || sourceHostOrder != targetHostOrder) return false;
    std::size_t offset = 0;
    if (withIpHeader) {
        if (length < 20 || (data[0] >> 4) != 4) return false;
        offset = static_cast<std::size_t>(data[0] & 0x0F) * 4;
        if (offset < 20 || data[9] != IPPROTO_ICMP) return false;
    }
    if (length < offset + 8) return false;
    const std::uint8_t* icmp = data + offset;
    if (icmp[0] != kIcmpEchoReply || icmp[1] != 0) return false;
    const auto gotId = static_cast<std::uint16_t>((icmp[4] << 8) | icmp[5]);
    const auto gotSeq = static_cast<std::uint16_t>((icmp[6] << 8) | icmp[7]);
    return gotSeq == sequence && (!checkId || gotId == id);
}

std::uint32_t icmpEcho(std::u16string_view target, long timeoutMs, const Clock& clock,
                       const std::atomic<bool>* cancel) {
    if (target.size() > kMaxTargetChars) target = target.substr(0, kMaxTargetChars);
    const std::string text = toUtf8(target);
    std::uint32_t destination = 0;
    if (text.empty() || !resolveTarget(text, destination)) return kEchoBadDestination;

    // An unprivileged ICMP datagram socket first; a raw socket where that is not allowed.
    bool raw = false;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = true;
    }
    if (fd < 0) return kEchoUnavailable;
    FdGuard guard(fd);

    const int ttl = 255;
    const int tos = 0;
    setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
    if (raw) {
        // Only echo replies wake this socket; other threads' replies are still seen and skipped.
        IcmpFilter filter{~(1u << kIcmpEchoReply)};
        setsockopt(fd, SOL_RAW, kIcmpFilterOption, &filter, sizeof filter);
    }

    const std::uint16_t id = processEchoId();
    const std::uint16_t sequence = echoSequence().fetch_add(1);
    std::uint8_t request[8];
    buildEchoRequest(request, id, sequence);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(destination);
    if (::sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) < 0)
        return statusForSendError(errno);

    const auto deadline = clock.now() + clock.scaled(Millis(timeoutMs));
    std::uint8_t buffer[1500];
    while (true) {
        const auto now = clock.now();
        if (now >= deadline || (cancel != nullptr && cancel->load())) return kEchoTimedOut;
        auto left = std::chrono::ceil<Millis>(deadline - now).count();
        if (cancel != nullptr) left = std::min<long long>(left, kEchoCancelPollMs);
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready <= 0) continue;  // time-out or signal: the loop head decides
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) continue;  // a pending ICMP error report: keep waiting for a real reply
        if (isEchoReplyFor(buffer, static_cast<std::size_t>(n), raw, ntohl(from.sin_addr.s_addr),
                           destination, id, sequence, raw))
            return kEchoSuccess;
    }
}

// -------------------------------------------------------------------------------- ARP flush

namespace {

constexpr Millis kChildPoll{10};
constexpr Millis kChildReapAfterKill{1000};

// True when the child has ended (and is reaped) within `limit`.
bool reapWithin(pid_t pid, Millis limit, int* exitStatus = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid && exitStatus != nullptr)
            *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done == pid || (done < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kChildPoll);
    }
}

}  // namespace

std::string firstExecutable(const std::vector<std::string>& candidates) {
    for (const std::string& c : candidates)
        if (::access(c.c_str(), X_OK) == 0) return c;
    return candidates.empty() ? std::string() : candidates.front();
}

std::string ipCommandPath() {
    return firstExecutable({"/usr/sbin/ip", "/sbin/ip"});
}

int runFlushCommand(const std::vector<std::string>& argv, TraceLog& log, Millis timeout) {
    int error = EINVAL;
    pid_t pid = -1;
    if (!argv.empty()) {
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    if (error != 0) {
        // The system error code as an HRESULT of the Win32 facility.
        const auto hresult =
            static_cast<std::int32_t>(0x80070000u | (static_cast<unsigned>(error) & 0xFFFFu));
        log.trace(1, "SetCmdNetshExc Error(%d)", hresult);
        return -1;
    }
    // The search worker waits for this child, and shutdown for the worker: bound it.
    int status = 0;
    if (reapWithin(pid, timeout, &status)) {
        // A non-zero status is typically an ordinary user, whom the system does not let flush
        // the neighbour table: noted, and the run goes on with the cached entries.
        if (status != 0)
            log.trace(1, "ARP cache not flushed: %s exited with %d (needs CAP_NET_ADMIN)",
                      argv[0].c_str(), status);
        return 0;
    }
    ::kill(pid, SIGKILL);
    log.trace(1, "SetCmdNetshExc Timeout(%ld ms) Killed", static_cast<long>(timeout.count()));
    reapWithin(pid, kChildReapAfterKill);  // so that no zombie is left
    return -1;
}

// --------------------------------------------------------------------------- system binding

SystemHostNetwork::SystemHostNetwork(const Clock& clock, TraceLog& log)
    : m_clock(clock), m_log(log) {}

int SystemHostNetwork::enumerateAdapters(std::vector<AdapterEntry>& out) {
    std::vector<std::string> withoutCarrier;
    const int n = enumerateSystemAdapters(out, &withoutCarrier);
    for (const std::string& name : withoutCarrier)
        m_log.trace(1, "Adapter(%s) has no carrier: skipped.", name.c_str());
    return n;
}

std::uint32_t SystemHostNetwork::echo(std::u16string_view target, long timeoutMs) {
    return icmpEcho(target, timeoutMs, m_clock);
}

std::uint32_t SystemHostNetwork::echoUntil(std::u16string_view target, long timeoutMs,
                                           const std::atomic<bool>& cancel) {
    return icmpEcho(target, timeoutMs, m_clock, &cancel);
}

int SystemHostNetwork::flushArpCache() {
    return runFlushCommand(m_flushCommand, m_log);
}

}  // namespace lanrove
