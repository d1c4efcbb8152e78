// lanrove-onvif-driver: WS-Discovery and the ONVIF time request from the PC of a lab, with the
// program's own Probe builder, ProbeMatch parser and device-service client over a plain UDP
// socket. Prints one JSON object.
//
//   lanrove-onvif-driver probe [--type nvt|device|any] [--wait-ms MS] [--from ADDR]
//   lanrove-onvif-driver time --xaddr URL [--timeout-ms MS]
//
// Waits are protocol milliseconds, scaled by LANROVE_TIME_SCALE.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "discovery/onvif_probe.h"
#include "onvif/device_time.h"
#include "support/clock.h"

using namespace lanrove;
using nlohmann::json;

namespace {

int fail(const std::string& why) {
    std::fprintf(stderr, "onvif-driver: %s\n", why.c_str());
    return 2;
}

int probe(const std::string& type, long waitMs, const std::string& from) {
    const onvif::ProbeType t = type == "nvt"      ? onvif::ProbeType::NetworkVideoTransmitter
                               : type == "device" ? onvif::ProbeType::Device
                                                  : onvif::ProbeType::Any;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail("socket");
    const unsigned char ttl = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    if (!from.empty()) {
        in_addr iface{};
        if (inet_pton(AF_INET, from.c_str(), &iface) != 1) return fail("--from is no address");
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface);
    }
    const std::string id = onvif::newMessageId();
    const std::string message = onvif::buildProbe(t, id);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(3702);
    inet_pton(AF_INET, "239.255.255.250", &to.sin_addr);
    if (::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) < 0)
        return fail("sendto");

    json matches = json::array();
    int replies = 0, dropped = 0, unrelated = 0, bad = 0;
    std::vector<char> buffer(onvif::kMaxMessageBytes + 1);
    const Clock& clock = defaultClock();
    const auto deadline = std::chrono::steady_clock::now() + clock.scaled(Millis(waitMs));
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&sender), &length);
        if (n <= 0) continue;
        ++replies;
        const onvif::ParsedReply r = onvif::parseProbeMatches(
            std::string_view(buffer.data(), std::min<std::size_t>(buffer.size(), n)));
        if (r.status != onvif::ParseStatus::Ok) {
            ++bad;
            continue;
        }
        if (r.relatesTo != id) {
            ++unrelated;
            continue;
        }
        dropped += r.dropped;
        char source[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &sender.sin_addr, source, sizeof source);
        for (const onvif::ProbeMatch& m : r.matches)
            matches.push_back({{"endpoint", m.endpoint},
                               {"address", m.address},
                               {"port", m.port},
                               {"xaddrs", m.xaddrs},
                               {"maker", m.maker},
                               {"model", m.model},
                               {"name", m.name},
                               {"location", m.location},
                               {"source", source}});
    }
    ::close(fd);
    const json out = {{"replies", replies},
                      {"matches", matches},
                      {"dropped", dropped},
                      {"unrelated", unrelated},
                      {"bad", bad}};
    std::printf("%s\n", out.dump().c_str());
    return 0;
}

int deviceTime(const std::string& xaddr, long timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    const onvif::DeviceTime t = onvif::getSystemDateAndTime(xaddr, defaultClock(), timeoutMs);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    json out = {{"status", onvif::timeStatusName(t.status)},
                {"http", t.httpStatus},
                {"elapsed_ms", took},
                {"scaled_limit_ms", defaultClock().scaledMs(timeoutMs)}};
    if (t.status == onvif::TimeStatus::Ok) {
        out["utc"] = t.utcSeconds;
        out["offset_s"] = t.utcSeconds - now;
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return fail("usage: probe|time [options]");
    const std::string command = argv[1];
    std::string type = "any", from, xaddr;
    long waitMs = 3000, timeoutMs = onvif::kTimeRequestMs;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return fail(a + " needs a value");
        const std::string v = argv[++i];
        if (a == "--type")
            type = v;
        else if (a == "--wait-ms")
            waitMs = std::strtol(v.c_str(), nullptr, 10);
        else if (a == "--from")
            from = v;
        else if (a == "--xaddr")
            xaddr = v;
        else if (a == "--timeout-ms")
            timeoutMs = std::strtol(v.c_str(), nullptr, 10);
        else
            return fail("unknown option " + a);
    }
    if (command == "probe") return probe(type, waitMs, from);
    if (command == "time") return deviceTime(xaddr, timeoutMs);
    return fail("unknown command " + command);
}
