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

// Cameras 0 to 7, one fault each, and the probe answers that show them: web port refused
// (CLOSED), silent (SILENT), SSL announced but plain HTTP served (MISMATCH), default login
// refused with an update ready (LOGIN), a gateway outside its subnet (GW), two on 192.168.0.2
// (DUP1, DUP2) and one outside the PC's subnet (FAR).
inline void faultyCameras(CameraTable& t, FakeProbes& p) {
    camera(t, 0, "CLOSED", "192.168.0.22");
    camera(t, 1, "SILENT", "192.168.0.23");
    camera(t, 2, "MISMATCH", "192.168.0.24", "0.0.0.0", "255.255.255.0", "443", "1");
    camera(t, 3, "LOGIN", "192.168.0.25");
    camera(t, 4, "GW", "192.168.0.26", "10.0.0.1");
    camera(t, 5, "DUP1", "192.168.0.2");
    camera(t, 6, "DUP2", "192.168.0.2");
    camera(t, 7, "FAR", "10.20.30.40", "0.0.0.0", "255.255.0.0");
    t.rows[3].wFirmStatus = kFirmStatusUpdateReady;
    p.tcp["192.168.0.22"] = TcpOutcome::Refused;
    p.tcp["192.168.0.23"] = TcpOutcome::Silent;
    p.http["https://192.168.0.24:443/cgi-bin/lang.cgi"] = 0;
    p.http["http://192.168.0.25:80/cgi-bin/lang.cgi"] = 401;
}

}  // namespace lanrove::test
