#pragma once
// The text table: every user-visible text is looked up by (section, key). The built-in default
// lists carry each text in Japanese, English and Simplified Chinese; "Language.ini" beside the
// program may replace any of them.

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lanrove {

class ProfileFile;

struct LangEntry {
    std::u16string section;
    std::u16string key;
    std::u16string text;
};

// An ordered default list: (section, key, default text) triples ending with the end marker
// ("NULL", "NULL", "NULL").
using DefaultList = std::vector<LangEntry>;

inline constexpr std::u16string_view kEndMarker = u"NULL";

// The small list used before the main window exists (start-up warning, splash title), and the
// main list used by every window, both for one language column (see language.h). Built once
// per column and kept for the life of the process.
const DefaultList& applicationDefaults(int column);
const DefaultList& mainDefaults(int column);
// The texts of the menus and windows added beside the classic ones (address plan, list
// export, doctor, report), for one language column.
const DefaultList& addedDefaults(int column);

class LangTable {
  public:
    static constexpr std::size_t kCapacity = 200;    // entries, end marker included
    static constexpr std::size_t kTextBuffer = 512;  // override read buffer: 511 units survive

    // Fills the table from `list`, replacing whatever it held. Each text comes from
    // `languageIni` (section and key of the triple) when present there, else from the list.
    // `legacyCodePage` decodes a Language.ini saved in an ANSI code page (see ProfileFile).
    // Returns false when the list did not fit and was cut (the end marker is always stored).
    bool load(const DefaultList& list, const std::filesystem::path& languageIni,
              const std::string& legacyCodePage = {});
    bool load(const DefaultList& list, const ProfileFile& overrides);

    // Loads the application or main list for the language `langId` (a Windows identifier, see
    // langIdFromLocale), choosing the column and the legacy code page from it.
    bool loadApplication(unsigned langId, const std::filesystem::path& languageIni);
    bool loadMain(unsigned langId, const std::filesystem::path& languageIni);
    // Loads the added texts for `langId` beside whatever the table holds (Language.ini may
    // replace them too). lookup() turns to them when the loaded list has no such entry;
    // entries() and count() do not show them.
    void loadAdded(unsigned langId, const std::filesystem::path& languageIni);

    void clear();

    // The text of the first entry whose key and section equal the given ones exactly, with
    // every backslash-n pair turned into a line break; empty when there is none. The walk ends
    // at the end marker.
    std::u16string lookup(std::u16string_view section, std::u16string_view key) const;
    // Same, UTF-8 in and out.
    std::string text(const char* section, const char* key) const;

    // The stored entries in storage order, end marker excluded (texts as stored, before the
    // line-break expansion that lookup applies).
    std::span<const LangEntry> entries() const;
    std::size_t count() const { return entries().size(); }
    const std::filesystem::path& languageIniPath() const { return m_strIniPath; }

    // Backslash followed by "n" becomes a line break.
    static std::u16string expandLineBreaks(std::u16string_view text);

  private:
    std::filesystem::path m_strIniPath;
    std::vector<LangEntry> m_entries;  // end marker last, once loaded
    std::vector<LangEntry> m_added;    // no end marker
};

// Fills a translated text such as "Transferring firmware.\n%d/%dbyte" safely: each "%d", "%u",
// "%i", "%ld", "%lu" takes the next number, "%%" gives "%", and any other sequence (or one
// without a number left) stays literally, so a text edited in Language.ini can never make the
// program read arguments that were not passed.
std::u16string formatCounts(std::u16string_view pattern, std::initializer_list<long long> values);

}  // namespace lanrove
