// The pages that a camera shows during a firmware update (result page, restart announcement,
// error page) and the part header built around a firmware file's path. Input: one byte of
// choices, then the page or the path.

#include <string>

#include "cgi/firmware_upload.h"
#include "fuzz_check.h"
#include "web_firmware.h"

using namespace lanrove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        long wait = 12345;
        std::string code;
        const int page = FirmupPage::ParseFirmupReply(text, wait, &code);
        FUZZ_CHECK(page == 0 || page == -1 || page == -2);
        FUZZ_CHECK(page != -1 || text.empty());
        if (page == -2) FUZZ_CHECK(code.find_first_of("\r\n") == std::string::npos);
        long value = 12345;
        const int reboot = FirmupPage::ParseRebootReply(text, value);
        FUZZ_CHECK(reboot >= -1 && reboot <= 1);
        FUZZ_CHECK(reboot == 1 || value == 0);
        const std::size_t end = FirmupPage::LineEnd(text, data[0] % (text.size() + 1));
        FUZZ_CHECK(end == std::string_view::npos || text[end] == '\r' || text[end] == '\n');
    } else {
        // A path cannot add a header line or end the part header early, and the simulator's
        // length check agrees with the body.
        auto file = std::make_shared<std::vector<std::uint8_t>>(data[0]);
        const FirmupBody body = MakeFirmupBody("7da0307090501", text, file);
        const std::size_t open = body.head.find("filename=\"") + 10;
        const std::size_t close = body.head.find("\"\r\n", open);
        FUZZ_CHECK(close != std::string::npos);
        const std::string name = body.head.substr(open, close - open);
        FUZZ_CHECK(name.find_first_of("\"\r\n") == std::string::npos);
        FUZZ_CHECK(camsim::expectedUploadLength("7da0307090501", name, file->size()) ==
                   body.size());
        camsim::versionFromFileName(text);
    }
    return 0;
}
