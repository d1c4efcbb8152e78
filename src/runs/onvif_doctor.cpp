#include "runs/onvif_doctor.h"

#include <cctype>
#include <cstdlib>

#include "discovery/ipv4_address.h"
#include "onvif/device_time.h"
#include "support/text.h"

namespace lanrove {

namespace {

// "maker model", or the word for a device that named neither.
FindingArg deviceName(const OnvifDevice& d) {
    std::string name = d.match.maker;
    if (!d.match.model.empty()) name += (name.empty() ? "" : " ") + d.match.model;
    if (name.empty()) return wordArg("ONVIF_DEVICE");
    return name;
}

// The word for why the service did not answer ("timeout" -> WHY_TIMEOUT); a reason without
// a word of its own is shown as it is.
FindingArg whyArg(const std::string& why) {
    std::string key = "WHY_";
    for (char ch : why)
        key += ch == ' ' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return wordArg(std::move(key), why);
}

Finding deviceFinding(const OnvifDevice& d, const char* code, Severity severity) {
    Finding f;
    f.code = code;
    f.severity = severity;
    f.mac = d.mac;
    f.ip = onvifDeviceIp(d);
    return f;
}

}  // namespace

OnvifTimeQuery systemTimeQuery(const Clock& clock, TraceLog* trace) {
    return [&clock, trace](const OnvifDevice& d) -> OnvifTimeAnswer {
        std::string xaddr;
        for (const std::string& x : d.match.xaddrs)
            if (x.rfind("http", 0) == 0 && x.find('[') == std::string::npos) {
                xaddr = x;
                break;
            }
        if (xaddr.empty()) return {std::nullopt, "no http address"};
        const onvif::DeviceTime t =
            onvif::getSystemDateAndTime(xaddr, clock, onvif::kTimeRequestMs, trace);
        if (t.status != onvif::TimeStatus::Ok)
            return {std::nullopt, onvif::timeStatusName(t.status)};
        return {std::chrono::system_clock::time_point(std::chrono::seconds(t.utcSeconds)), {}};
    };
}

std::vector<OnvifDevice> devicesBesides(const std::vector<OnvifDevice>& all,
                                        const std::vector<std::string>& listedIps,
                                        std::vector<bool>& alsoOnvif) {
    alsoOnvif.assign(listedIps.size(), false);
    std::vector<OnvifDevice> out;
    for (const OnvifDevice& d : all) {
        const std::string ip = onvifDeviceIp(d);
        bool ours = false;
        for (std::size_t r = 0; r < listedIps.size(); ++r)
            if (!ip.empty() && listedIps[r] == ip) {
                alsoOnvif[r] = true;
                ours = true;
            }
        if (!ours) out.push_back(d);
    }
    return out;
}

std::vector<std::string> listedAddresses(const CameraListModel& list) {
    std::vector<std::string> ips;
    ips.reserve(static_cast<std::size_t>(list.rowCount()));
    for (int r = 0; r < list.rowCount(); ++r) ips.push_back(toUtf8(list.cell(r, kColIp)));
    return ips;
}

std::vector<Finding> diagnoseOnvif(
    const std::vector<OnvifDevice>& devices, const std::vector<AdapterEntry>& adapters,
    const OnvifTimeQuery& query,
    const std::function<std::chrono::system_clock::time_point()>& now) {
    std::vector<Finding> out;
    for (const OnvifDevice& d : devices) {
        const std::string ip = onvifDeviceIp(d);
        const std::uint32_t addr = ipv4::fromText(ip);
        bool inside = false;
        for (const AdapterEntry& a : adapters) {
            const std::uint32_t mask = ipv4::fromText(a.mask());
            if (mask != 0 && (ipv4::fromText(a.ip()) & mask) == (addr & mask)) inside = true;
        }
        if (!inside && !adapters.empty()) {
            const AdapterEntry& a = adapters.front();
            Finding f = deviceFinding(d, finding::kOutsideSubnet, Severity::Error);
            describeFinding(f,
                            {"ONVIF_OUTSIDE_SUBNET",
                             {deviceName(d), ip, std::string(a.ifName()), std::string(a.ip()),
                              std::to_string(ipv4::prefixLength(ipv4::fromText(a.mask())))}},
                            {"ONVIF_OUTSIDE_SUBNET_FIX", {}});
            out.push_back(f);
        }
        if (!query) continue;
        const OnvifTimeAnswer answer = query(d);
        if (!answer.utc) {
            Finding f = deviceFinding(d, finding::kOnvifServiceSilent, Severity::Warning);
            const std::string xaddr = d.match.xaddrs.empty() ? ip : d.match.xaddrs.front();
            FindingText evidence{"ONVIF_SERVICE_SILENT", {deviceName(d), ip, xaddr}};
            if (!answer.why.empty()) {
                evidence.key = "ONVIF_SERVICE_SILENT_WHY";
                evidence.args.push_back(whyArg(answer.why));
            }
            describeFinding(f, std::move(evidence), {"ONVIF_SERVICE_SILENT_FIX", {}});
            out.push_back(f);
            continue;
        }
        const auto offset =
            std::chrono::duration_cast<std::chrono::seconds>(*answer.utc - now()).count();
        if (std::llabs(offset) > kOnvifSkewLimitS) {
            Finding f = deviceFinding(d, finding::kOnvifClockSkew, Severity::Warning);
            describeFinding(f,
                            {offset > 0 ? "ONVIF_CLOCK_AHEAD" : "ONVIF_CLOCK_BEHIND",
                             {deviceName(d), ip, std::to_string(std::llabs(offset))}},
                            {"ONVIF_CLOCK_SKEW_FIX", {}});
            out.push_back(f);
        }
    }
    return out;
}

}  // namespace lanrove
