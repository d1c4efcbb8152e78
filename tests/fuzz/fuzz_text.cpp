// Base64 and the text conversions: UTF-8 to and from UTF-16, and the wire code pages. Input:
// one byte that picks the code page, then the text.

#include <string>

#include "fuzz_check.h"
#include "support/base64.h"
#include "support/text.h"

using namespace lanrove;

namespace {

void base64(std::string_view bytes) {
    const std::string encoded = base64Encode(bytes);
    FUZZ_CHECK(encoded.size() == (bytes.size() + 2) / 3 * 4);
    std::string decoded = "x";
    FUZZ_CHECK(base64Decode(encoded, decoded) && decoded == bytes);
    // Any text that decodes is the encoding of what it decodes to, but for the unused bits of
    // its last character before the padding.
    if (!base64Decode(bytes, decoded)) {
        FUZZ_CHECK(decoded.empty());
        return;
    }
    const std::string again = base64Encode(decoded);
    FUZZ_CHECK(again.size() == bytes.size());
    std::size_t differ = 0;
    for (std::size_t i = 0; i < again.size(); ++i) differ += again[i] != bytes[i] ? 1 : 0;
    FUZZ_CHECK(differ <= 1);
}

void utf8(std::string_view bytes) {
    const std::u16string wide = fromUtf8(bytes);
    FUZZ_CHECK(wide.size() <= bytes.size());
    const std::string narrow = toUtf8(wide);
    FUZZ_CHECK(fromUtf8(narrow) == wide);
    // The same bytes read as UTF-16 units, lone surrogates included.
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    const std::string fromUnits = toUtf8(units);
    FUZZ_CHECK(fromUnits.size() <= 3 * units.size());
    FUZZ_CHECK(toUtf8(fromUtf8(fromUnits)) == fromUnits);
}

void wire(const WireCodec& codec, std::string_view bytes) {
    std::u16string wide = codec.fromWire(bytes);
    FUZZ_CHECK(wide.size() <= bytes.size());
    const std::string back = codec.toWire(wide);
    FUZZ_CHECK(back.size() <= 2 * wide.size());
    // Unreadable bytes came in as U+FFFD and went out as '?'; everything else survives.
    for (auto& c : wide)
        if (c == u'\uFFFD') c = u'?';
    FUZZ_CHECK(codec.fromWire(back) == wide);
    FUZZ_CHECK(codec.toWire(codec.fromWire(back)) == back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const WireCodec codecs[] = {WireCodec("CP1252"), WireCodec("CP932"), WireCodec("CP936"),
                                       WireCodec("CP950")};
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    base64(bytes);
    utf8(bytes);
    wire(codecs[data[0] % 4], bytes);
    return 0;
}
