#include "support/version_query.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <vector>

namespace lanrove {

namespace {

constexpr std::size_t kChunkSize = 1u << 20;

// The marker that precedes the FileVersion text, kept scrambled so that neither our code nor
// its debug information holds it in plain: a copy would otherwise be found in our executable.
constexpr unsigned char kMarkerKey = 0x5A;
constexpr std::size_t kMarkerSize = 32;

struct ScrambledMarker {
    unsigned char bytes[kMarkerSize];
    constexpr explicit ScrambledMarker(const char (&plain)[kMarkerSize + 1]) : bytes{} {
        for (std::size_t i = 0; i < kMarkerSize; ++i)
            bytes[i] = static_cast<unsigned char>(plain[i]) ^ kMarkerKey;
    }
};
constexpr ScrambledMarker kScrambled{"\0LanroveVersionInfo\0FileVersion\0"};

std::string marker() {
    // The key passes through a volatile so that the compiler cannot unscramble at build time.
    static volatile unsigned char key = kMarkerKey;
    std::string out(sizeof(kScrambled.bytes), '\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(kScrambled.bytes[i] ^ key);
    return out;
}

// A version text is printable: a control byte means the hit was not the embedded text.
bool plausibleText(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

// Like "%u" in a scan: skips blanks, then reads decimal digits. False when no digit follows or
// the number does not fit 32 bits (a scan would leave that undefined).
bool readNumber(std::string_view s, std::size_t& pos, std::uint32_t& value) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r' ||
                              s[pos] == '\v' || s[pos] == '\f'))
        ++pos;
    const std::size_t start = pos;
    std::uint64_t v = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        v = v * 10 + static_cast<std::uint64_t>(s[pos] - '0');
        if (v > std::numeric_limits<std::uint32_t>::max()) return false;
        ++pos;
    }
    if (pos == start) return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

std::u16string ascii16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

}  // namespace

std::string ModuleVersion::fourNumbers() const {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%u.%u.%u.%u", major, minor, build, revision);
    return buf;
}

std::filesystem::path currentModulePath() {
    return "/proc/self/exe";
}

bool parseVersionText(std::string_view text, ModuleVersion& out) {
    out = ModuleVersion{};
    char separator;
    if (text.find('.') != std::string_view::npos) {
        separator = '.';
    } else if (text.find(',') != std::string_view::npos) {
        separator = ',';
    } else {
        return false;
    }
    std::uint32_t numbers[4] = {0, 0, 0, 0};
    int converted = 0;
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != separator) break;
            ++pos;
        }
        if (!readNumber(text, pos, numbers[i])) {
            numbers[i] = 0;
            break;
        }
        ++converted;
    }
    if (converted == 0) return false;
    out.major = numbers[0];
    out.minor = numbers[1];
    out.build = numbers[2];
    out.revision = numbers[3];
    char buf[64];
    std::snprintf(buf, sizeof(buf), "Ver.%u.%u.%u", out.major, out.minor, out.build);
    out.display = ascii16(buf);
    return true;
}

bool readEmbeddedVersionText(const std::filesystem::path& module, std::string& text) {
    text.clear();
    std::ifstream in(module, std::ios::binary);
    if (!in) return false;
    const std::string mark = marker();

    // Scan in chunks; `buf` keeps the unscanned tail so that a marker or text split across two
    // chunks is still found.
    std::string buf;
    std::vector<char> chunk(kChunkSize);
    bool eof = false;
    while (!eof) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) eof = true;
        if (!in) eof = true;
        buf.append(chunk.data(), static_cast<std::size_t>(got > 0 ? got : 0));

        std::size_t from = 0;
        std::size_t keepFrom = std::string::npos;
        for (;;) {
            const std::size_t hit = buf.find(mark, from);
            if (hit == std::string::npos) break;
            const std::size_t start = hit + mark.size();
            const std::size_t avail = buf.size() - start;
            const std::size_t end = buf.find('\0', start);
            const bool terminated = end != std::string::npos && end - start <= kMaxVersionText;
            if (!terminated && avail < kMaxVersionText && !eof) {
                keepFrom = hit;  // the text may go on in the next chunk
                break;
            }
            const std::size_t len = terminated ? end - start : std::min(avail, kMaxVersionText);
            const std::string_view candidate(buf.data() + start, len);
            if (plausibleText(candidate)) {
                text.assign(candidate);
                return true;
            }
            from = hit + 1;
        }
        if (keepFrom == std::string::npos)
            keepFrom = buf.size() > mark.size() ? buf.size() - (mark.size() - 1) : 0;
        buf.erase(0, keepFrom);
    }
    return false;
}

bool queryModuleVersion(const std::filesystem::path& module, ModuleVersion& out) {
    out = ModuleVersion{};
    std::string text;
    if (!readEmbeddedVersionText(module, text)) return false;
    return parseVersionText(text, out);
}

}  // namespace lanrove
