#include "app/lang_table.h"

#include "app/language.h"
#include "app/profile_file.h"
#include "support/text.h"

namespace lanrove {

bool LangTable::load(const DefaultList& list, const std::filesystem::path& languageIni,
                     const std::string& legacyCodePage) {
    const bool fits = load(list, ProfileFile::load(languageIni, legacyCodePage));
    m_strIniPath = languageIni;
    return fits;
}

bool LangTable::load(const DefaultList& list, const ProfileFile& overrides) {
    m_entries.clear();
    m_strIniPath.clear();
    m_entries.reserve(kCapacity);
    bool fits = true;
    for (const LangEntry& row : list) {
        if (row.section == kEndMarker) break;
        if (m_entries.size() == kCapacity - 1) {  // keep the last slot for the end marker
            fits = false;
            break;
        }
        m_entries.push_back({row.section, row.key,
                             overrides.getString(row.section, row.key, row.text, kTextBuffer)});
    }
    m_entries.push_back(
        {std::u16string(kEndMarker), std::u16string(kEndMarker), std::u16string(kEndMarker)});
    return fits;
}

bool LangTable::loadApplication(unsigned langId, const std::filesystem::path& languageIni) {
    return load(applicationDefaults(languageColumn(langId)), languageIni,
                codePageForLangId(langId));
}

bool LangTable::loadMain(unsigned langId, const std::filesystem::path& languageIni) {
    return load(mainDefaults(languageColumn(langId)), languageIni, codePageForLangId(langId));
}

void LangTable::loadAdded(unsigned langId, const std::filesystem::path& languageIni) {
    const ProfileFile overrides = ProfileFile::load(languageIni, codePageForLangId(langId));
    m_added.clear();
    for (const LangEntry& row : addedDefaults(languageColumn(langId))) {
        if (row.section == kEndMarker) break;
        m_added.push_back({row.section, row.key,
                           overrides.getString(row.section, row.key, row.text, kTextBuffer)});
    }
}

void LangTable::clear() {
    m_entries.clear();
    m_added.clear();
    m_strIniPath.clear();
}

std::u16string LangTable::lookup(std::u16string_view section, std::u16string_view key) const {
    for (const LangEntry& e : m_entries) {
        if (e.key == kEndMarker) break;
        if (e.key == key && e.section == section) return expandLineBreaks(e.text);
    }
    for (const LangEntry& e : m_added)
        if (e.key == key && e.section == section) return expandLineBreaks(e.text);
    return {};
}

std::string LangTable::text(const char* section, const char* key) const {
    if (section == nullptr || key == nullptr) return {};
    return toUtf8(lookup(fromUtf8(section), fromUtf8(key)));
}

std::span<const LangEntry> LangTable::entries() const {
    std::size_t n = 0;
    while (n < m_entries.size() && m_entries[n].key != kEndMarker) ++n;
    return {m_entries.data(), n};
}

std::u16string LangTable::expandLineBreaks(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == u'n') {
            out.push_back(u'\n');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::u16string formatCounts(std::u16string_view pattern, std::initializer_list<long long> values) {
    std::u16string out;
    auto next = values.begin();
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] != u'%') {
            out.push_back(pattern[i++]);
            continue;
        }
        const std::u16string_view rest = pattern.substr(i);
        if (rest.starts_with(u"%%")) {
            out.push_back(u'%');
            i += 2;
            continue;
        }
        std::size_t len = 0;
        for (const std::u16string_view conv : {u"%ld", u"%lu", u"%d", u"%u", u"%i"}) {
            if (rest.starts_with(conv)) {
                len = conv.size();
                break;
            }
        }
        if (len == 0 || next == values.end()) {
            out.push_back(pattern[i++]);  // left as written
            continue;
        }
        out += fromUtf8(std::to_string(*next++));
        i += len;
    }
    return out;
}

}  // namespace lanrove
