#include "cgi/camera_trust.h"

#include <cctype>
#include <vector>

#include "support/private_file.h"

namespace lanrove {

namespace {

constexpr const char* kPinFileName = "CameraPins.txt";
constexpr const char* kHeader =
    "# lanrove camera certificates: MAC, pinned SHA-256, offered "
    "SHA-256, flags, legacy TLS\n";
constexpr std::size_t kMaxPins = 100000;  // a hostile file stays bounded

std::string field(const std::string& text) {
    return text.empty() ? "-" : text;
}
std::string unfield(std::string_view text) {
    return text == "-" ? std::string() : std::string(text);
}

// A fingerprint as the file and the handshake write it: hex pairs joined by colons.
bool isFingerprint(std::string_view text) {
    if (text.empty() || (text.size() + 1) % 3 != 0) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool colon = i % 3 == 2;
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        if (colon ? ch != ':' : std::isxdigit(ch) == 0) return false;
    }
    return true;
}

}  // namespace

std::string FormatCameraPins(const std::map<std::string, CameraPin>& pins) {
    std::string out = kHeader;
    for (const auto& [mac, p] : pins) {
        out += mac + '\t' + field(p.fingerprint) + '\t' + field(p.offered) + '\t' +
               (p.bExpectNew ? "expect-new" : "-") + '\t' + field(p.legacyTls) + '\n';
    }
    return out;
}

std::map<std::string, CameraPin> ParseCameraPins(std::string_view text) {
    std::map<std::string, CameraPin> pins;
    std::size_t start = 0;
    while (start < text.size() && pins.size() < kMaxPins) {
        std::size_t eol = text.find('\n', start);
        if (eol == std::string_view::npos) eol = text.size();
        const std::string_view line = text.substr(start, eol - start);
        start = eol + 1;
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string_view> parts;
        std::size_t from = 0;
        while (parts.size() < 5) {
            const std::size_t tab = line.find('\t', from);
            parts.push_back(
                line.substr(from, tab == std::string_view::npos ? line.npos : tab - from));
            if (tab == std::string_view::npos) break;
            from = tab + 1;
        }
        if (parts.size() < 2) continue;
        CameraPin p;
        p.mac = CameraTrust::normalMac(parts[0]);
        const std::string fp = unfield(parts[1]);
        if (p.mac.empty() || (!fp.empty() && !isFingerprint(fp))) continue;
        p.fingerprint = fp;
        if (parts.size() > 2 && isFingerprint(unfield(parts[2]))) p.offered = unfield(parts[2]);
        p.bExpectNew = parts.size() > 3 && parts[3] == "expect-new";
        if (parts.size() > 4) p.legacyTls = unfield(parts[4]);
        // A pin without fingerprint only makes sense while a new one is expected.
        if (p.fingerprint.empty()) p.bExpectNew = true;
        pins[p.mac] = std::move(p);
    }
    return pins;
}

CameraTrust::CameraTrust(std::filesystem::path file) : m_file(std::move(file)) {}

std::filesystem::path CameraTrust::fileIn(const std::filesystem::path& folder) {
    return folder / kPinFileName;
}

std::string CameraTrust::normalMac(std::string_view text) {
    std::string hex;
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (std::isxdigit(c) != 0)
            hex += static_cast<char>(std::toupper(c));
        else if (ch != ':' && ch != '-')
            return {};
    }
    if (hex.size() != 12) return {};
    std::string mac;
    for (std::size_t i = 0; i < 12; i += 2) {
        if (i > 0) mac += ':';
        mac += hex.substr(i, 2);
    }
    return mac;
}

CameraTrust::Pins CameraTrust::loadLocked() const {
    if (m_file.empty()) return m_memory;
    std::string text;
    if (!readPrivateFile(m_file, text)) return {};
    return ParseCameraPins(text);
}

bool CameraTrust::saveLocked(const Pins& pins) {
    if (m_file.empty()) {
        m_memory = pins;
        return true;
    }
    // A data folder that does not exist yet (a fresh --home) is made, private: a pin that is
    // not stored would let any certificate in as a first use next time.
    const std::filesystem::path folder = m_file.parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::exists(folder, ec) &&
        std::filesystem::create_directories(folder, ec))
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    if (!replacePrivateFile(m_file, FormatCameraPins(pins))) {
        m_lastError = "cannot write " + m_file.string();
        return false;
    }
    m_lastError.clear();
    return true;
}

CameraTrust::Verdict CameraTrust::check(std::string_view macText, const TlsPeer& peer) {
    const std::string mac = normalMac(macText);
    std::string pinned;
    Verdict verdict = Verdict::kSame;
    {
        std::lock_guard lock(m_mutex);
        Pins pins = loadLocked();
        CameraPin& p = pins[mac];
        p.mac = mac;
        const std::string legacy = peer.legacy() ? peer.describe() : std::string();
        bool dirty = p.legacyTls != legacy;
        // While a new certificate is expected, the old one still counts as the same: the
        // reset's or update's own requests must not use up the expectation.
        if (p.fingerprint.empty() || (p.bExpectNew && p.fingerprint != peer.fingerprint)) {
            verdict =
                p.fingerprint.empty() && !p.bExpectNew ? Verdict::kFirstUse : Verdict::kRenewed;
            p.fingerprint = peer.fingerprint;
            p.offered.clear();
            p.bExpectNew = false;
            dirty = true;
        } else if (p.fingerprint != peer.fingerprint) {
            verdict = Verdict::kChanged;
            pinned = p.fingerprint;
            dirty = dirty || p.offered != peer.fingerprint;
            p.offered = peer.fingerprint;
        } else if (!p.offered.empty()) {
            // The pinned certificate again: what was offered before is no longer on offer.
            p.offered.clear();
            dirty = true;
        }
        if (verdict != Verdict::kChanged) p.legacyTls = legacy;
        // The pin must stick: a camera whose pin could not be stored is still let in this
        // once, as a program without a writable data folder has to.
        if (dirty) saveLocked(pins);
    }
    if (verdict == Verdict::kChanged)
        tell(mac, "cert " + peer.fingerprint, changedMessage(mac, pinned, peer.fingerprint));
    return verdict;
}

std::optional<CameraPin> CameraTrust::pin(std::string_view macText) const {
    const std::string mac = normalMac(macText);
    std::lock_guard lock(m_mutex);
    const Pins pins = loadLocked();
    const auto it = pins.find(mac);
    if (it == pins.end()) return std::nullopt;
    return it->second;
}

bool CameraTrust::expectNew(std::string_view macText) {
    const std::string mac = normalMac(macText);
    if (mac.empty()) return false;
    std::lock_guard lock(m_mutex);
    Pins pins = loadLocked();
    CameraPin& p = pins[mac];
    p.mac = mac;
    p.bExpectNew = true;
    return saveLocked(pins);
}

bool CameraTrust::accept(std::string_view macText) {
    const std::string mac = normalMac(macText);
    if (mac.empty()) return false;
    std::lock_guard lock(m_mutex);
    Pins pins = loadLocked();
    CameraPin& p = pins[mac];
    p.mac = mac;
    if (!p.offered.empty()) {
        p.fingerprint = p.offered;
        p.offered.clear();
        p.bExpectNew = false;
    } else {
        p.bExpectNew = true;
    }
    m_told.clear();
    return saveLocked(pins);
}

void CameraTrust::markSpoofed(std::string_view macText, const std::string& addresses) {
    const std::string mac = normalMac(macText);
    if (mac.empty()) return;
    std::lock_guard lock(m_mutex);
    m_spoofed[mac] = addresses;
}

void CameraTrust::clearSpoofed(std::string_view macText) {
    const std::string mac = normalMac(macText);
    std::lock_guard lock(m_mutex);
    m_spoofed.erase(mac);
}

bool CameraTrust::spoofed(std::string_view macText) const {
    const std::string mac = normalMac(macText);
    std::lock_guard lock(m_mutex);
    return m_spoofed.count(mac) != 0;
}

std::string CameraTrust::spoofedAddresses(std::string_view macText) const {
    const std::string mac = normalMac(macText);
    std::lock_guard lock(m_mutex);
    const auto it = m_spoofed.find(mac);
    return it == m_spoofed.end() ? std::string() : it->second;
}

void CameraTrust::setRefusalSink(RefusalSink sink) {
    std::lock_guard lock(m_mutex);
    m_sink = std::move(sink);
}

void CameraTrust::refuseSpoofed(std::string_view macText) {
    const std::string mac = normalMac(macText);
    tell(mac, "spoofed", spoofedMessage(mac, spoofedAddresses(mac)));
}

void CameraTrust::tell(const std::string& mac, const std::string& key, const std::string& message) {
    RefusalSink sink;
    {
        std::lock_guard lock(m_mutex);
        if (!m_told.insert(mac + " " + key).second) return;
        sink = m_sink;
    }
    if (sink) sink(mac, message);
}

std::string CameraTrust::changedMessage(const std::string& mac, const std::string& pinned,
                                        const std::string& offered) {
    return "camera " + mac + " presented a different HTTPS certificate: pinned SHA-256 " + pinned +
           ", now " + offered +
           ". Nothing was sent to it. If the camera was reset or its certificate renewed, "
           "accept the new one with \"lanrove-cli trust --mac " +
           mac + "\".";
}

std::string CameraTrust::spoofedMessage(const std::string& mac, const std::string& addresses) {
    return "camera " + mac + " answered one search from two addresses (" + addresses +
           "): nothing is sent to it until a new search agrees.";
}

std::string CameraTrust::lastError() const {
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

}  // namespace lanrove
