#include "cgi/cgi_parse.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace lanrove {

std::optional<std::string> FindValueBytes(std::string_view reply, std::string_view key) {
    std::string opener(key);
    opener += ":(";
    const std::size_t pos = reply.find(opener);
    if (pos == std::string_view::npos) return std::nullopt;
    const std::size_t start = pos + opener.size();
    // The shortest value that a line end follows: the first CR or LF after the opener.
    const std::size_t eol = reply.find_first_of("\r\n", start);
    if (eol == std::string_view::npos) return std::nullopt;
    std::size_t end = eol;
    if (end > start && reply[end - 1] == ')') --end;
    return std::string(reply.substr(start, end - start));
}

bool FindValue(const WireCodec& codec, std::string_view reply, std::string_view key,
               std::u16string& value) {
    std::optional<std::string> raw = FindValueBytes(reply, key);
    if (!raw) return false;
    value = codec.fromWire(*raw);
    return true;
}

namespace {

int leadingInt(std::u16string_view text, bool lenient) {
    std::size_t i = 0;
    if (lenient)
        while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || (lenient && text[i] == u'+'))) {
        negative = text[i] == u'-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

}  // namespace

int LeadingInt(std::u16string_view text) {
    return leadingInt(text, false);
}
int LeadingIntLenient(std::u16string_view text) {
    return leadingInt(text, true);
}

void ParseCodecStatus(const WireCodec& codec, std::string_view reply, CameraEntry& entry) {
    std::u16string value;
    FindValue(codec, reply, "rtsp_rtp", value);
    if (value.empty())
        entry.nRtspRtp = 0;
    else if (value == u"0")
        entry.nRtspRtp = 1;  // a camera that reports 0 still answers the commands
    else
        entry.nRtspRtp = LeadingInt(value);
    value.clear();
    FindValue(codec, reply, "aspect_ratio", value);
    entry.wAspectRatio = value.empty() ? 0 : static_cast<std::uint16_t>(LeadingInt(value));
}

void ParseCamSetStatus(const WireCodec& codec, std::string_view reply, CameraEntry& entry) {
    if (entry.wProtoVer == 1) {
        FindValue(codec, reply, "title", entry.szTitle);
        return;
    }
    if (entry.wProtoVer != 2) return;
    FindValue(codec, reply, "CAM MAIN Ver", entry.szCamMainVer);
    if (fieldEmpty(entry.szCamMainVer)) FindValue(codec, reply, "MAIN Ver", entry.szCamMainVer);
    FindValue(codec, reply, "CAM SUB  Ver", entry.szCamSubVer);
    if (fieldEmpty(entry.szCamSubVer)) FindValue(codec, reply, "SUB  Ver", entry.szCamSubVer);
    if (fieldEmpty(entry.szCamSubVer)) FindValue(codec, reply, "SUB Ver", entry.szCamSubVer);
    FindValue(codec, reply, "NET MAIN Ver", entry.szNetMainVer);
    FindValue(codec, reply, "NET SUB  Ver", entry.szNetSubVer);
    FindValue(codec, reply, "MEC MAIN Ver", entry.szMecMainVer);
    FindValue(codec, reply, "I/O MAIN Ver", entry.szIoMainVer);
    std::u16string value;
    FindValue(codec, reply, "rec_status_new", value);
    if (value.empty()) FindValue(codec, reply, "rec_status", value);
    if (!value.empty()) entry.wRecStatus = static_cast<std::uint16_t>(LeadingIntLenient(value));
}

void RecordSettings::clear() {
    std::memset(entries.data(), 0, sizeof(RecordSetting) * entries.size());
}

std::size_t RecordSettings::count() const {
    std::size_t n = 0;
    for (const auto& e : entries)
        if (e.szKey[0] != 0) ++n;
    return n;
}

bool ParseRecordSettings(const WireCodec& codec, std::string_view reply, RecordSettings& table) {
    if (reply.find(':') == std::string_view::npos) return false;
    table.clear();
    std::size_t taken = 0;
    std::size_t start = 0;
    while (start < reply.size() && taken < kRecordSettingCount) {
        // A line counts only when a line end (CR, LF or CR LF) follows it.
        const std::size_t eol = reply.find_first_of("\r\n", start);
        if (eol == std::string_view::npos) break;
        const std::string_view line = reply.substr(start, eol - start);
        start = eol + 1;
        if (reply[eol] == '\r' && start < reply.size() && reply[start] == '\n') ++start;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, colon);
        if (key.size() >= kRecordTextWidth || key.find('\0') != std::string_view::npos) continue;
        std::memcpy(table.entries[taken].szKey, key.data(), key.size());
        ++taken;
    }
    for (std::size_t i = 0; i < taken; ++i) {
        RecordSetting& e = table.entries[i];
        FindValue(codec, reply, std::string_view(e.szKey), e.szValue);
    }
    return true;
}

std::string BuildRecordWriteParams(const WireCodec& codec, const RecordSettings& saved,
                                   const RecordSettings& current, bool bCurrentRead) {
    std::string out;
    for (std::size_t i = 0; i < kRecordSettingCount; ++i) {
        const RecordSetting& s = saved.entries[i];
        if (s.szKey[0] == 0) continue;
        if (bCurrentRead && fieldView(s.szValue) == fieldView(current.entries[i].szValue)) continue;
        out += '&';
        out += PercentEncode(std::string_view(s.szKey, strnlen(s.szKey, kRecordTextWidth)));
        out += '=';
        out += PercentEncode(codec.toWire(fieldView(s.szValue)));
    }
    return out;
}

std::string PercentEncode(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::vector<std::string> ChallengeSchemes(std::string_view value) {
    std::vector<std::string> schemes;
    // Split at the commas outside quoted strings.
    std::vector<std::string_view> items;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= value.size(); ++i) {
        if (i < value.size() && quoted && value[i] == '\\') {
            ++i;
        } else if (i < value.size() && value[i] == '"') {
            quoted = !quoted;
        } else if (i == value.size() || (value[i] == ',' && !quoted)) {
            items.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    for (std::string_view item : items) {
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        // An item starts a challenge when its first word is a bare token; "name=value" items
        // (also written "name = value") are parameters of the challenge before them.
        const std::size_t end = std::min(item.find_first_of(" \t"), item.size());
        const std::string_view word = item.substr(0, end);
        const std::size_t next = item.find_first_not_of(" \t", end);
        const bool parameter = next != std::string_view::npos && item[next] == '=';
        if (!word.empty() && !parameter && word.find_first_of("=\"") == std::string_view::npos)
            schemes.emplace_back(word);
    }
    return schemes;
}

}  // namespace lanrove
