#pragma once
// The doctor's finding texts: each evidence and fix is a pattern of the text table's
// "DOCTOR_FINDINGS" section with the measured values as %1, %2, ... A finding carries the
// pattern's key and its values, so that the window and the report can show it in their
// language, while the English text (the --json and command-line interface) is filled in at once.

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lanrove {

inline constexpr const char* kFindingTextSection = "DOCTOR_FINDINGS";

// A value of a pattern: measured text shown as it is, or, with `word` set, a word of the
// section ("unreadable", "timeout") that is translated like the pattern; `text` stands in
// when the section has no such word.
struct FindingArg {
    FindingArg(std::string value) : text(std::move(value)) {}
    FindingArg(const char* value) : text(value) {}
    std::string text;
    std::string word;
};

// The key of a pattern and its values.
struct FindingText {
    std::string key;
    std::vector<FindingArg> args;
};

// A word of the section; its English row (or `english`) is the stand-in.
FindingArg wordArg(std::string key, std::string english = {});

// One row of the section in Japanese, English and Chinese.
struct FindingTextRow {
    const char* key;
    const char* text[3];
};
std::span<const FindingTextRow> findingTextRows();

// Looks up a key of the section; empty when it has none.
using FindingLookup = std::function<std::string(std::string_view key)>;

// The pattern filled from `lookup`, falling back to the English row, then to the key itself.
// Each %1..%9 takes its value once, in one pass, so a value that holds "%2" stays as it is; a
// mark without a value, and every other %, stays literally.
std::string spellFindingText(const FindingText& text, const FindingLookup& lookup = {});

}  // namespace lanrove
