#pragma once
// Text inside the program is UTF-16; the trace log and the terminal take UTF-8; texts on the
// wire (datagrams, CGI requests and replies) are 8-bit in the PC's ANSI code page.

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace lanrove {

std::string toUtf8(std::u16string_view text);
// Invalid UTF-8 sequences become U+FFFD; never reads past the input.
std::u16string fromUtf8(std::string_view text);

// Text from a camera (title, model, versions), made harmless to print: control characters
// (C0 with tab and line ends, DEL, C1), the bidirectional embeddings, overrides and isolates
// (U+202A-202E, U+2066-2069) and the line and paragraph separators become U+FFFD. A title can
// then neither drive a terminal nor reorder, or break, the line it is printed on.
bool isUnsafeTextChar(char16_t c);
std::u16string neutralisedText(std::u16string_view text);
// The same for UTF-8 text; invalid sequences become U+FFFD too.
std::string neutralisedUtf8(std::string_view utf8);

// Case-insensitive comparison of 8-bit texts that folds only ASCII letters, whatever the
// process locale says (header names, content types, locale names).
inline bool asciiEqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// The ANSI code page for wire texts, chosen like Windows from the UI language identifier:
// CP932 Japanese, CP936 Simplified Chinese, CP950 Traditional Chinese, CP1252 otherwise.
std::string codePageForLangId(unsigned langId);

// Converts between UTF-16 and one 8-bit code page through iconv. Characters that the code
// page cannot hold become '?'; invalid input bytes become U+FFFD. Thread-safe: each call opens
// its own conversion state.
class WireCodec {
  public:
    explicit WireCodec(std::string codePage = "CP1252");
    const std::string& codePage() const { return m_strCodePage; }
    std::string toWire(std::u16string_view text) const;
    std::u16string fromWire(std::string_view bytes) const;

  private:
    std::string m_strCodePage;
};

// Fixed-width UTF-16 text fields of the camera records: the width counts the terminator, so a
// field of width N holds at most N-1 characters. Setting always terminates and zero-fills.
template <std::size_t N>
inline void setField(char16_t (&field)[N], std::u16string_view value) {
    const std::size_t n = value.size() < N - 1 ? value.size() : N - 1;
    std::memset(field, 0, sizeof(field));
    if (n > 0) std::memcpy(field, value.data(), n * sizeof(char16_t));
}

template <std::size_t N>
inline void setField(char16_t (&field)[N], std::string_view utf8) {
    setField(field, std::u16string_view(fromUtf8(utf8)));
}

template <std::size_t N>
inline std::u16string_view fieldView(const char16_t (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != 0) ++n;
    return {field, n};
}

template <std::size_t N>
inline std::string fieldUtf8(const char16_t (&field)[N]) {
    return toUtf8(fieldView(field));
}

template <std::size_t N>
inline bool fieldEmpty(const char16_t (&field)[N]) {
    return field[0] == 0;
}

}  // namespace lanrove
