#include "fleet_file.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "discovery/datagram_codec.h"
#include "discovery/ipv4_address.h"

namespace lanrove::camsim {

namespace {

using nlohmann::json;

// Generated blocks add up; a few of them must not exhaust memory.
constexpr std::size_t kMaxCameras = 100000;

struct FleetError {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) {
    throw FleetError{message};
}

std::string textOf(const json& v, const char* key) {
    if (!v.is_string()) fail(std::string("\"") + key + "\" must be a text");
    return v.get<std::string>();
}

int intOf(const json& v, const char* key) {
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    // A number beyond int must not wrap into a plausible one (4294967376 into port 80).
    const bool inRange = v.is_number_unsigned() ? v.get<std::uint64_t>() <= INT_MAX
                         : v.is_number_integer()
                             ? v.get<std::int64_t>() >= INT_MIN && v.get<std::int64_t>() <= INT_MAX
                             : false;
    if (!inRange) fail(std::string("\"") + key + "\" must be a whole number");
    return v.get<int>();
}

void checkAddress(const std::string& text, const char* key) {
    if (!ipv4::parse(text)) fail(std::string("\"") + key + "\" is not a dotted address: " + text);
}

// Names and places go into scopes and SOAP texts: short, printable.
constexpr std::size_t kMaxOnvifText = 64;

std::string onvifTextOf(const json& v, const char* key) {
    std::string text = textOf(v, key);
    if (text.size() > kMaxOnvifText)
        fail(std::string("\"") + key + "\" is longer than " + std::to_string(kMaxOnvifText));
    for (unsigned char ch : text)
        if (ch < 0x20 || ch == 0x7F) fail(std::string("\"") + key + "\" has a control character");
    return text;
}

// "urn:uuid:" and the 8-4-4-4-12 hexadecimal form.
bool isUuidUrn(const std::string& text) {
    static constexpr std::string_view kPrefix = "urn:uuid:";
    if (text.size() != kPrefix.size() + 36 || text.compare(0, kPrefix.size(), kPrefix) != 0)
        return false;
    for (std::size_t i = 0; i < 36; ++i) {
        const char ch = text[kPrefix.size() + i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? ch != '-' : std::isxdigit(static_cast<unsigned char>(ch)) == 0) return false;
    }
    return true;
}

std::string uuidOf(const json& v, const char* key) {
    const std::string text = textOf(v, key);
    if (!isUuidUrn(text)) fail(std::string("\"") + key + "\" must be urn:uuid:8-4-4-4-12");
    return text;
}

void applyOnvif(const json& j, SimOnvif& o) {
    if (!j.is_object()) fail("\"onvif\" must be an object");
    o.enabled = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
        const std::string& k = it.key();
        const json& v = it.value();
        if (k == "uuid") {
            o.uuid = uuidOf(v, "uuid");
        } else if (k == "manufacturer") {
            o.manufacturer = onvifTextOf(v, "manufacturer");
        } else if (k == "model") {
            o.model = onvifTextOf(v, "model");
        } else if (k == "name") {
            o.name = onvifTextOf(v, "name");
        } else if (k == "location") {
            o.location = onvifTextOf(v, "location");
        } else if (k == "xaddr_port") {
            o.xaddrPort = intOf(v, "xaddr_port");
            if (o.xaddrPort < 1 || o.xaddrPort > 65535) fail("\"xaddr_port\" must be 1..65535");
        } else if (k == "clock_offset_s") {
            o.clockOffsetS = intOf(v, "clock_offset_s");
        } else if (k == "service_silent") {
            o.serviceSilent = intOf(v, "service_silent") != 0;
        } else if (k == "only") {
            o.only = intOf(v, "only") != 0;
        } else {
            fail("unknown onvif field \"" + k + "\"");
        }
    }
}

void applyPrinter(const json& v, SimCamera& c) {
    if (v.is_boolean()) {
        c.wsdPrinter = v.get<bool>();
        return;
    }
    if (!v.is_object()) fail("\"wsd_printer\" must be true, false or an object");
    c.wsdPrinter = true;
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (it.key() != "uuid") fail("unknown wsd_printer field \"" + it.key() + "\"");
        c.wsdUuid = uuidOf(it.value(), "uuid");
    }
}

// A device without its own endpoint reference gets one made from its MAC address.
std::string uuidFromMac(const std::uint8_t* mac) {
    std::string hex = dgram::macTextUpper(mac);
    hex.erase(std::remove(hex.begin(), hex.end(), ':'), hex.end());
    for (char& ch : hex) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return "urn:uuid:4c52e000-0000-4000-8000-" + hex;
}

void applyFields(const json& j, SimCamera& c) {
    if (!j.is_object()) fail("a camera must be an object");
    for (auto it = j.begin(); it != j.end(); ++it) {
        const std::string& k = it.key();
        const json& v = it.value();
        if (k == "model") {
            c.model = textOf(v, "model");
        } else if (k == "proto") {
            c.protoVer = intOf(v, "proto");
            if (c.protoVer != 1 && c.protoVer != 2) fail("\"proto\" must be 1 or 2");
        } else if (k == "mac") {
            dgram::MacBytes mac{};
            if (!dgram::parseMacText(std::string_view(textOf(v, "mac")), mac))
                fail("\"mac\" is not a MAC address: " + v.dump());
            std::memcpy(c.mac, mac.data(), 6);
        } else if (k == "ip") {
            c.ip = textOf(v, "ip");
            checkAddress(c.ip, "ip");
        } else if (k == "mask") {
            c.mask = textOf(v, "mask");
            checkAddress(c.mask, "mask");
        } else if (k == "gateway") {
            c.gateway = textOf(v, "gateway");
            checkAddress(c.gateway, "gateway");
        } else if (k == "port") {
            c.port = intOf(v, "port");
            if (c.port < 1 || c.port > 65535) fail("\"port\" must be 1..65535");
        } else if (k == "ssl") {
            c.ssl = intOf(v, "ssl") != 0;
        } else if (k == "title") {
            c.title = textOf(v, "title");
        } else if (k == "firmware") {
            c.firmVer = textOf(v, "firmware");
        } else if (k == "factory") {
            c.factory = intOf(v, "factory") != 0;
        } else if (k == "netOption") {
            c.netOption = static_cast<std::uint8_t>(intOf(v, "netOption"));
        } else if (k == "rtspRtp") {
            c.rtspRtp = intOf(v, "rtspRtp");
        } else if (k == "aspectRatio") {
            c.aspectRatio = intOf(v, "aspectRatio");
        } else if (k == "restartTime" || k == "writeTime" || k == "announceTime") {
            const int ms = intOf(v, k.c_str());
            if (ms < 0) fail("\"" + k + "\" must not be negative");
            (k == "restartTime" ? c.restartMs : k == "writeTime" ? c.writeMs : c.announceMs) = ms;
        } else if (k == "recStatus") {
            c.recStatus = intOf(v, "recStatus");
        } else if (k == "versions" || k == "record") {
            if (!v.is_object()) fail("\"" + k + "\" must be an object");
            auto& target = k == "versions" ? c.versions : c.record;
            for (auto e = v.begin(); e != v.end(); ++e)
                target[e.key()] = textOf(e.value(), k.c_str());
        } else if (k == "accounts") {
            if (!v.is_object()) fail("\"accounts\" must be an object");
            for (auto e = v.begin(); e != v.end(); ++e) {
                SimAccount* a = e.key() == "admin"     ? &c.admin
                                : e.key() == "viewer"  ? &c.viewer
                                : e.key() == "service" ? &c.service
                                                       : nullptr;
                if (a == nullptr) fail("unknown account \"" + e.key() + "\"");
                if (!e.value().is_object()) fail("an account must be an object");
                if (e.value().contains("user")) a->user = textOf(e.value()["user"], "user");
                if (e.value().contains("password"))
                    a->password = textOf(e.value()["password"], "password");
            }
        } else if (k == "auth") {
            const std::string scheme = textOf(v, "auth");
            if (scheme != "basic" && scheme != "digest")
                fail("\"auth\" must be \"basic\" or \"digest\"");
            c.digestAuth = scheme == "digest";
        } else if (k == "faults") {
            if (!v.is_array()) fail("\"faults\" must be a list");
            for (const auto& f : v) {
                const std::string text = textOf(f, "faults");
                const std::size_t eq = text.find('=');
                const std::string name = text.substr(0, eq);
                if (name.empty()) fail("empty fault name");
                c.faults.insert(name);
                if (eq != std::string::npos) c.faultArgs[name] = text.substr(eq + 1);
            }
        } else if (k == "onvif") {
            applyOnvif(v, c.onvif);
        } else if (k == "wsd_printer") {
            applyPrinter(v, c);
        } else {
            fail("unknown camera field \"" + k + "\"");
        }
    }
}

SimCamera defaultCamera() {
    SimCamera c;
    c.admin = {"vorly", "vorly"};
    c.viewer = {"pelma", "pelma"};
    c.service = {"kelvo", "730162"};
    return c;
}

std::string replaceAll(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t p = text.find(what); p != std::string::npos;
         p = text.find(what, p + with.size()))
        text.replace(p, what.size(), with);
    return text;
}

void parseHosts(const json& list, const std::string& mask, std::vector<SimHost>& hosts) {
    if (!list.is_array()) fail("\"hosts\" must be a list");
    for (const auto& h : list) {
        const std::string text = textOf(h, "hosts");
        const std::size_t dash = text.find('-');
        const auto first = ipv4::parse(text.substr(0, dash));
        const auto last = dash == std::string::npos ? first : ipv4::parse(text.substr(dash + 1));
        if (!first || !last || *last < *first || *last - *first > 65535)
            fail("\"hosts\" takes addresses or ranges A-B: " + text);
        for (std::uint32_t a = *first;; ++a) {
            hosts.push_back({ipv4::toText(a), mask});
            if (a == *last) break;
        }
    }
}

void parseFleet(const json& root, std::vector<SimCamera>& out, std::vector<SimHost>* hosts) {
    if (!root.is_object()) fail("the fleet must be an object");
    for (auto it = root.begin(); it != root.end(); ++it)
        if (it.key() != "defaults" && it.key() != "cameras" && it.key() != "generate" &&
            it.key() != "hosts")
            fail("unknown fleet field \"" + it.key() + "\"");
    SimCamera base = defaultCamera();
    if (root.contains("defaults")) applyFields(root["defaults"], base);
    if (root.contains("hosts")) {
        std::vector<SimHost> parsed;
        parseHosts(root["hosts"], base.mask, parsed);
        if (hosts != nullptr) *hosts = std::move(parsed);
    }
    std::vector<SimCamera> cameras;
    std::vector<bool> hasMac;
    std::vector<bool> hasIp;
    if (root.contains("cameras")) {
        if (!root["cameras"].is_array()) fail("\"cameras\" must be a list");
        for (const auto& j : root["cameras"]) {
            SimCamera c = base;
            applyFields(j, c);
            cameras.push_back(c);
            hasMac.push_back(j.contains("mac"));
            hasIp.push_back(j.contains("ip"));
        }
    }
    if (root.contains("generate")) {
        if (!root["generate"].is_array()) fail("\"generate\" must be a list");
        for (const auto& g : root["generate"]) {
            if (!g.is_object() || !g.contains("count") || !g.contains("macStart") ||
                !g.contains("ipStart"))
                fail("a generate block needs \"count\", \"macStart\" and \"ipStart\"");
            const int count = intOf(g["count"], "count");
            if (count < 0 || static_cast<std::size_t>(count) > kMaxCameras)
                fail("\"count\" out of range");
            if (cameras.size() + static_cast<std::size_t>(count) > kMaxCameras)
                fail("more than " + std::to_string(kMaxCameras) + " cameras in the fleet");
            dgram::MacBytes mac{};
            if (!dgram::parseMacText(std::string_view(textOf(g["macStart"], "macStart")), mac))
                fail("\"macStart\" is not a MAC address");
            const auto ip = ipv4::parse(textOf(g["ipStart"], "ipStart"));
            if (!ip) fail("\"ipStart\" is not a dotted address");
            const int step = g.contains("ipStep") ? intOf(g["ipStep"], "ipStep") : 1;
            const std::string titleFormat =
                g.contains("titleFormat") ? textOf(g["titleFormat"], "titleFormat") : "";
            std::uint64_t macValue = 0;
            for (std::uint8_t b : mac) macValue = (macValue << 8) | b;
            for (int n = 0; n < count; ++n) {
                SimCamera c = base;
                if (g.contains("camera")) applyFields(g["camera"], c);
                const std::uint64_t m = macValue + static_cast<std::uint64_t>(n);
                for (int b = 0; b < 6; ++b)
                    c.mac[b] = static_cast<std::uint8_t>(m >> (8 * (5 - b)));
                c.ip = ipv4::toText(*ip + static_cast<std::uint32_t>(step) *
                                              static_cast<std::uint32_t>(n));
                if (!titleFormat.empty())
                    c.title = replaceAll(titleFormat, "{n}", std::to_string(n + 1));
                cameras.push_back(c);
                hasMac.push_back(true);
                hasIp.push_back(true);
            }
        }
    }
    std::set<std::string> macs;
    std::set<std::string> uuids;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        SimCamera& c = cameras[i];
        if (c.onvif.enabled && c.wsdPrinter)
            fail("camera " + std::to_string(i + 1) + " cannot be an ONVIF device and a printer");
        if (hasMac[i]) {
            std::string& uuid = c.onvif.enabled ? c.onvif.uuid : c.wsdUuid;
            if ((c.onvif.enabled || c.wsdPrinter) && uuid.empty()) uuid = uuidFromMac(c.mac);
            if (!uuid.empty() && !uuids.insert(uuid).second)
                fail("endpoint " + uuid + " is used twice");
        }
        if (!hasMac[i]) fail("camera " + std::to_string(i + 1) + " has no \"mac\"");
        if (!hasIp[i] && cameras[i].ip.empty())
            fail("camera " + std::to_string(i + 1) + " has no \"ip\"");
        const std::string mac = dgram::macTextUpper(cameras[i].mac);
        if (!macs.insert(mac).second) fail("MAC address " + mac + " is used twice");
    }
    out = std::move(cameras);
}

}  // namespace

bool parseFleetJson(std::string_view text, std::vector<SimCamera>& out, std::string& error) {
    std::vector<SimHost> hosts;
    return parseFleetJson(text, out, hosts, error);
}

bool parseFleetJson(std::string_view text, std::vector<SimCamera>& out, std::vector<SimHost>& hosts,
                    std::string& error) {
    try {
        const json root = json::parse(text.begin(), text.end());
        parseFleet(root, out, &hosts);
        return true;
    } catch (const FleetError& e) {
        error = e.message;
    } catch (const std::exception& e) {
        error = e.what();
    }
    return false;
}

bool loadFleetFile(const std::string& path, Fleet& fleet, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::vector<SimCamera> cameras;
    std::vector<SimHost> hosts;
    if (!parseFleetJson(ss.str(), cameras, hosts, error)) {
        error = path + ": " + error;
        return false;
    }
    std::lock_guard lock(fleet.mutex);
    fleet.cameras = std::move(cameras);
    fleet.hosts = std::move(hosts);
    return true;
}

}  // namespace lanrove::camsim
