#pragma once
// A doctor's probes with answers set by the test, and the adapters and camera records the
// doctor's tests build their sites from.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runs/site_doctor.h"
#include "support/text.h"

namespace lanrove::test {

class FakeProbes final : public DoctorProbes {
  public:
    std::map<std::string, std::uint32_t> echoes;  // default: no reply
    bool dgram = true, raw = true;
    int bindError = 0;
    std::map<std::string, TcpOutcome> tcp;  // default: open
    std::map<std::string, int> http;        // url -> status, default 200
    std::optional<ArpAnswers> arp;          // default: ARP cannot be asked
    std::vector<std::uint32_t> arpTargets;
    std::optional<ArpAnswers> arpAnswers(const AdapterEntry&,
                                         const std::vector<std::uint32_t>& targets) override {
        arpTargets.insert(arpTargets.end(), targets.begin(), targets.end());
        return arp;
    }
    std::uint32_t echo(const std::string& ip, long) override {
        std::lock_guard lock(m);
        const auto it = echoes.find(ip);
        return it == echoes.end() ? kEchoTimedOut : it->second;
    }
    bool icmpDatagramAllowed() override { return dgram; }
    bool icmpRawAllowed() override { return raw; }
    std::string pingGroupRange() override { return "1 0"; }
    int bindUdp(std::uint16_t) override { return bindError; }
    TcpOutcome connectTcp(const std::string& ip, int, long) override {
        std::lock_guard lock(m);
        const auto it = tcp.find(ip);
        return it == tcp.end() ? TcpOutcome::Open : it->second;
    }
    int httpStatus(const std::string&, const std::string& url, const std::string&,
                   const std::string&, long) override {
        std::lock_guard lock(m);
        asked.push_back(url);
        const auto it = http.find(url);
        return it == http.end() ? 200 : it->second;
    }
    std::optional<CameraPin> pinOf(const std::string& mac) override {
        std::lock_guard lock(m);
        const auto it = pins.find(mac);
        if (it == pins.end()) return std::nullopt;
        return it->second;
    }
    std::string spoofedAddresses(const std::string& mac) override {
        const auto it = spoofed.find(mac);
        return it == spoofed.end() ? std::string() : it->second;
    }
    std::map<std::string, CameraPin> pins;
    std::map<std::string, std::string> spoofed;
    std::vector<std::string> asked;
    std::mutex m;
};

AdapterEntry adapter(const char* ip, const char* mask, const char* gw, const char* name) {
    AdapterEntry a{};
    AdapterEntry::setText(a.szIp, ip);
    AdapterEntry::setText(a.szMask, mask);
    AdapterEntry::setText(a.szGateway, gw);
    AdapterEntry::setText(a.szIfName, name);
    return a;
}

void camera(CameraTable& t, int i, const char* mac, const char* ip, const char* gw = "0.0.0.0",
            const char* mask = "255.255.255.0", const char* port = "80", const char* ssl = "0") {
    CameraEntry& e = t[static_cast<std::size_t>(i)];
    setField(e.szNo, std::string_view(std::to_string(i + 1)));
    setField(e.szMac, std::string_view(mac));
    setField(e.szIp, std::string_view(ip));
    setField(e.szMask, std::string_view(mask));
    setField(e.szGateway, std::string_view(gw));
    setField(e.szPort, std::string_view(port));
    setField(e.szSsl, std::string_view(ssl));
}

void factoryCamera(CameraTable& t, int i, const char* mac, std::uint16_t protoVer = 2) {
    camera(t, i, mac, "192.168.0.2");
    CameraEntry& e = t[static_cast<std::size_t>(i)];
    e.wProtoVer = protoVer;
    e.bFactory = protoVer == 2 ? 1 : 0;
    e.dwResult = protoVer == 2 ? kResultAccepted : 0;
}

}  // namespace lanrove::test
