#pragma once
// The program's own version, read at run time from the FileVersion text that the build embeds
// in every executable, so that the version is maintained in one place (CMake).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lanrove {

struct ModuleVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint32_t revision = 0;
    std::u16string display;  // "Ver.%u.%u.%u"; empty when the query failed

    // "%u.%u.%u.%u" of the four numbers (for the start line of the trace log and the CLI).
    std::string fourNumbers() const;
};

// Longest FileVersion text taken from the executable.
inline constexpr std::size_t kMaxVersionText = 255;

// The running program's executable file.
std::filesystem::path currentModulePath();

// Parses a FileVersion text into out's four numbers and display text. A text with a full stop
// reads as "1.2.3.4", else one with a comma as "1, 2, 3, 4" (blanks before each number are
// skipped); reading stops at the first number or separator that does not fit. Succeeds when at
// least one number was read; on failure out is all zero with an empty display text.
bool parseVersionText(std::string_view text, ModuleVersion& out);

// Finds the embedded FileVersion text in the file at `module` (at most kMaxVersionText
// characters). False when the file cannot be read or carries no (non-empty) version text.
bool readEmbeddedVersionText(const std::filesystem::path& module, std::string& text);

// Reads and parses the module's FileVersion text. Any failure leaves out all zero with an empty
// display text.
bool queryModuleVersion(const std::filesystem::path& module, ModuleVersion& out);

}  // namespace lanrove
