// The settings file and Language.ini: parsed as either would be, read back through the
// profile-string rules with several buffer sizes, and loaded into the text table. Input: one
// byte of choices, then the file.

#include <fuzzer/FuzzedDataProvider.h>

#include <set>
#include <string>
#include <utility>

#include "app/lang_table.h"
#include "app/profile_file.h"
#include "fuzz_check.h"
#include "support/text.h"

using namespace lanrove;

namespace {

std::u16string upper(std::u16string s) {
    for (auto& c : s)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

bool isBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Section and key names that the file seems to hold (a rough look; the reader decides).
std::set<std::pair<std::u16string, std::u16string>> namesIn(std::u16string_view text) {
    std::set<std::pair<std::u16string, std::u16string>> names{{u"Firmupload", u"Instance"}};
    std::u16string section;
    std::size_t pos = 0;
    while (pos < text.size() && names.size() < 64) {
        std::size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string_view::npos) end = text.size();
        std::u16string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
        if (line.starts_with(u"[") && line.find(u']') != std::u16string_view::npos)
            section = line.substr(1, line.rfind(u']') - 1);
        else if (line.find(u'=') != std::u16string_view::npos)
            names.insert({section, std::u16string(line.substr(0, line.find(u'=')))});
    }
    return names;
}

void readBack(const ProfileFile& profile, const std::u16string& section,
              const std::u16string& key) {
    const std::optional<std::u16string> raw = profile.rawValue(section, key);
    FUZZ_CHECK(profile.rawValue(upper(section), upper(key)) == raw);
    std::u16string_view full = u"def";  // what an unlimited read gives
    if (raw) {
        FUZZ_CHECK(raw->find_first_of(u"\r\n") == std::u16string::npos);
        FUZZ_CHECK(raw->empty() || (!isBlank(raw->front()) && !isBlank(raw->back())));
        full = *raw;
        if (full.size() >= 2 && (full[0] == u'"' || full[0] == u'\'') && full.back() == full[0])
            full = full.substr(1, full.size() - 2);
    }
    for (const std::size_t buffer : {0, 1, 2, 7, 128, 512, 100000}) {
        const std::u16string value = profile.getString(section, key, u"def  ", buffer);
        FUZZ_CHECK(full.starts_with(value) && value.size() < std::max<std::size_t>(buffer, 1));
        // Cut to the buffer, less one unit rather than half of a surrogate pair.
        if (value.size() < full.size())
            FUZZ_CHECK(value.size() + 2 >= buffer &&
                       (value.empty() || value.back() < 0xD800 || value.back() > 0xDBFF));
    }
}

void textTable(const ProfileFile& profile, int column) {
    const DefaultList& defaults = mainDefaults(column);
    LangTable table;
    table.load(defaults, profile);
    const auto entries = table.entries();
    FUZZ_CHECK(entries.size() < LangTable::kCapacity);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LangEntry& e = entries[i];
        FUZZ_CHECK(e.section == defaults[i].section && e.key == defaults[i].key);
        FUZZ_CHECK(e.text.size() < LangTable::kTextBuffer);
        if (e.text == defaults[i].text) continue;  // only the texts that the file replaced
        const std::u16string shown = table.lookup(e.section, e.key);
        FUZZ_CHECK(shown.size() <= e.text.size());
        // A translated pattern never takes more numbers than it was given.
        const std::u16string filled = formatCounts(shown, {-1234567890123LL, 42});
        FUZZ_CHECK(filled.size() <= shown.size() + 40);  // two numbers of up to 20 characters
        if (shown.find(u'%') == std::u16string::npos) FUZZ_CHECK(filled == shown);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto choices = in.ConsumeIntegral<std::uint8_t>();
    static const char* const codePages[] = {"", "CP932", "CP936", "CP1252"};
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    const ProfileFile profile = ProfileFile::parse(bytes, codePages[choices & 3]);
    for (const auto& [section, key] : namesIn(fromUtf8(bytes))) readBack(profile, section, key);
    textTable(profile, (choices >> 2) % 3);
    return 0;
}
