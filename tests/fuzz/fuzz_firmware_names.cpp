// Firmware file names and camera version texts: every catalogue row's number formats read a
// name or refuse it, and a version text parses or fails, never past its input.
// Input: two bytes choosing a catalogue row, then the text (a file name or a version text).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "firmware/firmware_catalogue.h"
#include "firmware/version_check.h"
#include "fuzz_check.h"
#include "support/text.h"

using namespace lanrove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const auto rows = FirmwareCatalogue();
    const FirmwareCatalogueRow& row = rows[((data[0] << 8) | data[1]) % rows.size()];
    const std::string_view name(reinterpret_cast<const char*>(data + 2), size - 2);

    const auto number = ScanFileNumber(row.numberFormat, name);
    const auto hex = ScanFileNumberHex(row.numberFormat, name);
    if (hex) FUZZ_CHECK(*hex <= 0xFFFFFu);  // at most five hexadecimal digits
    // The name the format makes for a number reads back as that number.
    if (number && row.numberFormat.find("%lu") != std::string::npos) {
        std::string made = row.numberFormat;
        made.replace(made.find("%lu"), 3, std::to_string(*number));
        const auto again = ScanFileNumber(row.numberFormat, made);
        FUZZ_CHECK(again.has_value());
    }

    const std::u16string text = fromUtf8(name);
    const ParsedVersion v = ParseVersionText(text);
    if (v.bOk) FUZZ_CHECK(text.find(u'(') != std::u16string::npos);
    // The same text as a camera's version fields and model: the catalogue look-up and the
    // list's version text stay within their fields.
    CameraEntry camera;
    setField(camera.szModel, std::u16string_view(text));
    for (std::uint16_t index = 0; index < 4; ++index) {
        const FirmwareCatalogueRow* found = FindCatalogueRow(row.wGeneration, index, text);
        if (found != nullptr) FUZZ_CHECK(found->wGeneration == row.wGeneration);
    }
    for (std::uint16_t kind = 0; kind <= 7; ++kind) (void)CameraVersionText(camera, kind);
    (void)SetFirmVersionText(camera, row);
    FUZZ_CHECK(fieldView(camera.szFirmVer).size() < 128);
    return 0;
}
