#include "app/profile_file.h"

#include <cstdio>

#include "support/text.h"

namespace lanrove {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string_view trim(std::u16string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Names are compared without regard to case; they are ASCII in every file we read.
std::u16string fold(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
}

std::u16string decodeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    // An odd trailing byte cannot form a unit and is dropped.
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        out.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
    }
    return out;
}

std::u16string decode(std::string_view bytes, const std::string& legacyCodePage) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return fromUtf8(bytes.substr(3));
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
        return decodeUtf16(bytes.substr(2), false);
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
        return decodeUtf16(bytes.substr(2), true);
    std::u16string text = fromUtf8(bytes);
    // Valid UTF-8 survives the round trip unchanged; anything else came from an ANSI editor.
    if (!legacyCodePage.empty() && toUtf8(text) != bytes)
        return WireCodec(legacyCodePage).fromWire(bytes);
    return text;
}

}  // namespace

ProfileFile ProfileFile::load(const std::filesystem::path& path,
                              const std::string& legacyCodePage) {
    // C stdio rather than streams: reading a folder or a vanished file must give an error
    // code, never an exception.
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return {};
    std::string bytes;
    char chunk[8192];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return {};
    ProfileFile profile = parse(bytes, legacyCodePage);
    profile.m_bFileRead = true;
    return profile;
}

ProfileFile ProfileFile::parse(std::string_view bytes, const std::string& legacyCodePage) {
    ProfileFile profile;
    const std::u16string text = decode(bytes, legacyCodePage);
    Keys* current = nullptr;  // lines before the first section header belong to none
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string::npos) end = text.size();
        const std::u16string_view line = trim(std::u16string_view(text).substr(pos, end - pos));
        pos = end + 1;

        if (line.empty() || line.front() == u';' || line.front() == u'#') continue;
        if (line.front() == u'[') {
            const std::size_t close = line.rfind(u']');
            if (close == std::u16string_view::npos) continue;  // broken header: ignored
            // A repeated section adds its keys to the first one.
            current = &profile.m_sections[fold(trim(line.substr(1, close - 1)))];
            continue;
        }
        const std::size_t eq = line.find(u'=');
        if (current == nullptr || eq == std::u16string_view::npos) continue;
        const std::u16string_view key = trim(line.substr(0, eq));
        if (key.empty()) continue;
        // The first occurrence of a key wins, as with the Windows reader.
        current->emplace(fold(key), std::u16string(trim(line.substr(eq + 1))));
    }
    return profile;
}

std::optional<std::u16string> ProfileFile::rawValue(std::u16string_view section,
                                                    std::u16string_view key) const {
    const auto s = m_sections.find(fold(section));
    if (s == m_sections.end()) return std::nullopt;
    const auto k = s->second.find(fold(key));
    if (k == s->second.end()) return std::nullopt;
    return k->second;
}

std::u16string ProfileFile::getString(std::u16string_view section, std::u16string_view key,
                                      std::u16string_view def, std::size_t bufferSize) const {
    if (bufferSize == 0) return {};
    const std::size_t max = bufferSize - 1;
    if (const auto raw = rawValue(section, key)) {
        std::u16string_view v = *raw;
        if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return cutText(v, max);
    }
    while (!def.empty() && def.back() == u' ') def.remove_suffix(1);
    return cutText(def, max);
}

std::u16string readProfileString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view def, std::size_t bufferSize,
                                 const std::filesystem::path& path) {
    return ProfileFile::load(path).getString(section, key, def, bufferSize);
}

std::u16string cutText(std::u16string_view text, std::size_t maxUnits) {
    if (text.size() <= maxUnits) return std::u16string(text);
    std::size_t n = maxUnits;
    // Never keep a high surrogate whose partner was cut away.
    if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    return std::u16string(text.substr(0, n));
}

}  // namespace lanrove
