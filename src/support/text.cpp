#include "support/text.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace lanrove {

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string fromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            bool ok = i + len <= n;
            for (std::size_t k = 1; ok && k < len; ++k) ok = (s[i + k] & 0xC0) == 0x80;
            if (ok) {
                cp = c & (0x7F >> len);
                for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
                const bool overlong = (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) ||
                                      (len == 4 && cp < 0x10000);
                if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
            } else {
                cp = 0xFFFD;
                len = 1;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string codePageForLangId(unsigned langId) {
    switch (langId) {
        case 1041:
            return "CP932";
        case 2052:
        case 4100:
            return "CP936";
        case 1028:
        case 3076:
        case 5124:
            return "CP950";
        default:
            return "CP1252";
    }
}

namespace {

// Runs iconv over the whole input; unconvertible input is replaced and skipped.
std::string convert(const char* to, const char* from, const char* data, std::size_t size,
                    std::size_t unit, const std::string& replacement) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    // iconv reports failure as the handle value -1.
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;  // NOLINT(performance-no-int-to-ptr)
    std::vector<char> buf(256);
    char* in = const_cast<char*>(data);
    std::size_t inLeft = size;
    while (inLeft > 0) {
        char* o = buf.data();
        std::size_t oLeft = buf.size();
        const std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        const int error = errno;  // before the append, which may allocate and change errno
        out.append(buf.data(), buf.size() - oLeft);
        if (r == static_cast<std::size_t>(-1)) {
            if (error == E2BIG) continue;
            // EILSEQ or EINVAL: skip one input unit and put the replacement instead.
            const std::size_t skip = inLeft < unit ? inLeft : unit;
            in += skip;
            inLeft -= skip;
            out += replacement;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* o = buf.data();
    std::size_t oLeft = buf.size();
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    out.append(buf.data(), buf.size() - oLeft);
    iconv_close(cd);
    return out;
}

}  // namespace

WireCodec::WireCodec(std::string codePage) : m_strCodePage(std::move(codePage)) {}

std::string WireCodec::toWire(std::u16string_view text) const {
    return convert(m_strCodePage.c_str(), "UTF-16LE", reinterpret_cast<const char*>(text.data()),
                   text.size() * sizeof(char16_t), sizeof(char16_t), "?");
}

std::u16string WireCodec::fromWire(std::string_view bytes) const {
    const std::string raw = convert("UTF-16LE", m_strCodePage.c_str(), bytes.data(), bytes.size(),
                                    1, std::string("\xFD\xFF", 2));
    std::u16string out(raw.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                       (static_cast<unsigned char>(raw[2 * i + 1]) << 8));
    }
    return out;
}

bool isUnsafeTextChar(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

std::u16string neutralisedText(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out)
        if (isUnsafeTextChar(c)) c = 0xFFFD;
    return out;
}

std::string neutralisedUtf8(std::string_view utf8) {
    return toUtf8(neutralisedText(fromUtf8(utf8)));
}

}  // namespace lanrove
