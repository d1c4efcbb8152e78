#include "camera_datagrams.h"

#include <cstdlib>
#include <cstring>

#include "discovery/ipv4_address.h"

namespace lanrove::camsim {

using namespace lanrove::dgram;

namespace {

constexpr std::size_t kMaxReplyText = 127;  // bytes of each text in a search reply

std::string wireText(const WireCodec& codec, const std::string& utf8) {
    std::string bytes = codec.toWire(fromUtf8(utf8));
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    if (bytes.size() > kMaxReplyText) bytes.resize(kMaxReplyText);
    return bytes;
}

void header(Datagram& d, std::uint16_t code, const SimCamera& c) {
    d.fill(0);
    putU16(d.data(), code);
    std::memcpy(d.data() + kOffMac, c.mac, 6);
    putU16(d.data() + kOffVersion, static_cast<std::uint16_t>(c.protoVer));
}

std::uint16_t resultOverride(const SimCamera& c, std::uint16_t normal) {
    if (!c.has("result")) return normal;
    const auto it = c.faultArgs.find("result");
    if (it == c.faultArgs.end()) return normal;
    try {
        return static_cast<std::uint16_t>(std::stoi(it->second));
    } catch (...) {
        return normal;
    }
}

// "ipreplydelay=MS": the camera takes the setting at once but answers MS protocol
// milliseconds later (default 1000). A bad value counts as no delay.
long replyDelayMs(const SimCamera& c) {
    if (!c.has("ipreplydelay")) return 0;
    const auto it = c.faultArgs.find("ipreplydelay");
    if (it == c.faultArgs.end() || it->second.empty()) return 1000;
    char* end = nullptr;
    const long ms = std::strtol(it->second.c_str(), &end, 10);
    return end != nullptr && *end == '\0' && ms > 0 ? ms : 0;
}

}  // namespace

Datagram encodeSearchReply(const SimCamera& c, const WireCodec& codec) {
    Datagram d;
    header(d, kSearchReply, c);
    putAddress(d.data() + 32, ipv4::fromTextOrZero(c.ip));
    putAddress(d.data() + 36, ipv4::fromTextOrZero(c.mask));
    putAddress(d.data() + 40, ipv4::fromTextOrZero(c.gateway));
    if (c.protoVer != 2) return d;
    // Result of the camera's last IP setting: 201 (accepted) unless a test asks otherwise.
    std::uint16_t searchResult = 201;
    if (const auto it = c.faultArgs.find("searchresult"); it != c.faultArgs.end())
        searchResult = static_cast<std::uint16_t>(std::strtoul(it->second.c_str(), nullptr, 10));
    putU16(d.data() + 46, searchResult);
    d[48] = c.factory ? 1 : 0;
    d[49] = c.netOption;
    d[50] = c.ssl ? 1 : 0;
    putU16(d.data() + 51, static_cast<std::uint16_t>(c.port));
    std::size_t pos = 53;
    for (const std::string* text : {&c.firmVer, &c.title, &c.model}) {
        const std::string bytes = wireText(codec, *text);
        putU16(d.data() + pos, static_cast<std::uint16_t>(bytes.size() + 1));
        pos += 2;
        std::memcpy(d.data() + pos, bytes.data(), bytes.size());
        pos += bytes.size() + 1;  // 59 + 3 * 128 stays below 512
    }
    return d;
}

Datagram encodeSetReply(const SimCamera& c, std::uint16_t result) {
    Datagram d;
    header(d, kIpSettingReply, c);
    putU16(d.data() + kPayloadOffset, result);
    return d;
}

bool decodeIpSettingCommand(const std::uint8_t* datagram, std::size_t length, int version,
                            IpSettingCommand& out) {
    out = IpSettingCommand{};
    if (datagram == nullptr || length != kSize || commandOf(datagram) != kIpSetting) return false;
    const std::uint8_t* p = datagram + kPayloadOffset;
    std::memcpy(out.mac.data(), p, 6);
    out.ip = getAddress(p + 6);
    out.mask = getAddress(p + 10);
    out.gateway = getAddress(p + 14);
    if (version != 2) return true;
    out.hasCredentials = true;
    std::size_t n = 0;
    while (n < kCredentialField && p[20 + n] != 0) ++n;
    out.credentialsDecoded =
        base64Decode(std::string_view(reinterpret_cast<const char*>(p + 20), n), out.credentials);
    out.netOption = p[110];
    out.ssl = p[111] != 0;
    out.port = getU16(p + 112);
    const std::size_t titleLength = getU16(p + 114);
    const std::size_t avail = kMaxPayload - kIpSettingTitleOffset;
    const std::size_t limit = titleLength < avail ? titleLength : avail;
    std::size_t t = 0;
    while (t < limit && p[kIpSettingTitleOffset + t] != 0) ++t;
    out.title.assign(reinterpret_cast<const char*>(p + kIpSettingTitleOffset), t);
    return true;
}

DatagramResponder::DatagramResponder(Fleet& fleet, WireCodec codec, Logger logger)
    : m_fleet(fleet), m_codec(std::move(codec)), m_logger(std::move(logger)) {}

std::map<std::string, int> DatagramResponder::acknowledgements() const {
    std::lock_guard lock(m_ackMutex);
    return m_acks;
}

void DatagramResponder::handle(const std::uint8_t* data, std::size_t length,
                               std::vector<Outgoing>& out, std::vector<std::size_t>& changed) {
    if (data == nullptr || length != kSize) return;  // cameras ignore malformed datagrams too
    const std::uint16_t code = commandOf(data);
    if (code == kSearchRequest) {
        onSearch(data, out);
    } else if (code == kIpSetting) {
        onIpSetting(data, length, out, changed);
    } else if (code == kSearchAck) {
        const std::string mac = macTextUpper(data + kPayloadOffset);
        {
            std::lock_guard lock(m_ackMutex);
            ++m_acks[mac];
        }
        log("ack " + mac + " from " + macTextUpper(data + kOffMac));
    }
}

void DatagramResponder::onSearch(const std::uint8_t* data, std::vector<Outgoing>& out) {
    log("search-request n=" + std::to_string(data[33]) + " from " + macTextUpper(data + kOffMac));
    std::lock_guard lock(m_fleet.mutex);
    for (std::size_t i = 0; i < m_fleet.cameras.size(); ++i) {
        const SimCamera& c = m_fleet.cameras[i];
        if (c.has("silent") || c.foreign()) continue;
        const std::uint32_t source = ipv4::fromTextOrZero(c.ip);
        Datagram reply = encodeSearchReply(c, m_codec);
        const auto push = [&](const std::uint8_t* bytes, std::size_t n) {
            out.push_back({std::vector<std::uint8_t>(bytes, bytes + n), source, i, true});
        };
        for (const char* junk : {"junk511", "junk513"}) {
            if (!c.has(junk)) continue;
            // A reply-looking datagram of the wrong size, with a title that gives it away.
            SimCamera marked = c;
            marked.title = "JUNK";
            const Datagram j = encodeSearchReply(marked, m_codec);
            std::vector<std::uint8_t> bytes(j.begin(), j.end());
            bytes.resize(std::strcmp(junk, "junk511") == 0 ? 511 : 513, 0xA5);
            out.push_back({std::move(bytes), source, i, true});
        }
        if (c.has("unknowncmd")) {
            putU16(reply.data(), kUnknownCommand);
            push(reply.data(), reply.size());
            continue;
        }
        push(reply.data(), reply.size());
        if (c.has("twice")) push(reply.data(), reply.size());
        if (c.has("spoof")) {
            // A second device answering for this MAC: its own address in the reply, sent from
            // that address where the namespace has it (else from any of its addresses).
            SimCamera impostor = c;
            const auto arg = c.faultArgs.find("spoof");
            if (arg != c.faultArgs.end() && !arg->second.empty()) impostor.ip = arg->second;
            const Datagram second = encodeSearchReply(impostor, m_codec);
            out.push_back({std::vector<std::uint8_t>(second.begin(), second.end()),
                           impostor.ip == c.ip ? 0 : ipv4::fromTextOrZero(impostor.ip), i, true});
        }
    }
}

void DatagramResponder::onIpSetting(const std::uint8_t* data, std::size_t length,
                                    std::vector<Outgoing>& out, std::vector<std::size_t>& changed) {
    std::unique_lock lock(m_fleet.mutex);
    const std::uint8_t* target = data + kPayloadOffset;
    for (std::size_t i = 0; i < m_fleet.cameras.size(); ++i) {
        SimCamera& c = m_fleet.cameras[i];
        if (c.foreign() || std::memcmp(c.mac, target, 6) != 0) continue;
        const std::string mac = macTextUpper(c.mac);
        if (c.has("silent") || c.has("noset")) {
            log("ipset " + mac + " ignored (" + (c.has("silent") ? "silent" : "noset") + ")");
            return;
        }
        IpSettingCommand cmd;
        decodeIpSettingCommand(data, length, c.protoVer, cmd);
        std::uint16_t result = kResultAccepted;
        if (cmd.hasCredentials && (c.has("badcreds") || !cmd.credentialsDecoded ||
                                   cmd.credentials != c.admin.user + ":" + c.admin.password)) {
            result = kResultBadCredentials;
        } else if (cmd.ip == 0 || cmd.ip == ipv4::kAllOnes) {
            result = kResultBadSetting;
        }
        result = resultOverride(c, result);
        if (result == kResultAccepted) {
            c.ip = ipv4::toText(cmd.ip);
            c.mask = ipv4::toText(cmd.mask);
            c.gateway = ipv4::toText(cmd.gateway);
            if (cmd.hasCredentials) {
                c.netOption = cmd.netOption;
                c.ssl = cmd.ssl;
                if (cmd.port > 0) c.port = cmd.port;
                c.title = toUtf8(m_codec.fromWire(cmd.title));
            }
            c.factory = false;
            changed.push_back(i);
        }
        log("ipset " + mac + " result=" + std::to_string(result) + " ip=" + c.ip +
            " mask=" + c.mask + " gateway=" + c.gateway);
        const Datagram reply = encodeSetReply(c, result);
        const std::uint32_t source = ipv4::fromTextOrZero(c.ip);
        const long delayMs = replyDelayMs(c);
        out.push_back(
            {std::vector<std::uint8_t>(reply.begin(), reply.end()), source, i, false, delayMs});
        if (c.has("twice"))
            out.push_back(
                {std::vector<std::uint8_t>(reply.begin(), reply.end()), source, i, false, delayMs});
        return;  // MAC addresses are unique in a fleet
    }
}

}  // namespace lanrove::camsim
