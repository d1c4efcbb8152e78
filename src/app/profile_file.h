#pragma once
// Reader of INI ("profile") files with the behaviour that the settings file and "Language.ini"
// were written against on Windows: section and key names match without regard to case, values
// lose their surrounding blanks and one pair of surrounding quotes, a missing file, section or
// key gives the caller's default, and every result is cut to the caller's buffer less one.
//
// A file is parsed once into a map and then looked up; nothing is ever written.

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace lanrove {

class ProfileFile {
  public:
    // Buffer sizes (in UTF-16 units, terminator included) of the two kinds of read.
    static constexpr std::size_t kSettingsBuffer = 128;
    static constexpr std::size_t kTextBuffer = 512;

    ProfileFile() = default;

    // Reads and parses `path`. A missing or unreadable file gives an empty profile (every read
    // then yields its default). Files may be UTF-8 with or without BOM, or UTF-16 with BOM.
    // `legacyCodePage` (an iconv name such as "CP932") decodes a file without BOM that is not
    // valid UTF-8, as written by older editors in the PC's ANSI code page; empty means UTF-8
    // with invalid bytes replaced.
    static ProfileFile load(const std::filesystem::path& path,
                            const std::string& legacyCodePage = {});
    // Parses file content already in memory (same rules as load).
    static ProfileFile parse(std::string_view bytes, const std::string& legacyCodePage = {});

    // True when load found and read the file.
    bool fileRead() const { return m_bFileRead; }

    // The value of `key` in `section` as the profile-string reader returns it: blanks and one
    // pair of matching surrounding quotes removed, else `def` without trailing spaces; cut to
    // `bufferSize - 1` units (0 units for a buffer size of 0).
    std::u16string getString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view def, std::size_t bufferSize) const;

    // The trimmed value exactly as stored (quotes kept, not cut), or nothing when absent.
    std::optional<std::u16string> rawValue(std::u16string_view section,
                                           std::u16string_view key) const;

  private:
    using Keys = std::map<std::u16string, std::u16string>;  // folded key -> trimmed value
    std::map<std::u16string, Keys> m_sections;              // folded section -> keys
    bool m_bFileRead = false;
};

// One read from one file: opens and parses `path` for this single value. For several values
// from the same file, load a ProfileFile once instead.
std::u16string readProfileString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view def, std::size_t bufferSize,
                                 const std::filesystem::path& path);

// Cuts `text` to at most `maxUnits` UTF-16 units without leaving half of a surrogate pair.
std::u16string cutText(std::u16string_view text, std::size_t maxUnits);

}  // namespace lanrove
