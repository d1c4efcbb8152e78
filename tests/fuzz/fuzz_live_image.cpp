// A camera's live-picture reply: the search for the information block at its end and the frame
// size read from the JPEG's headers. Input: the reply body.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cgi/live_image.h"
#include "fuzz_check.h"

using namespace lanrove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);

    const ImageTrailer t = FindImageTrailer(body);
    FUZZ_CHECK(t.imageLength + t.trailerLength == size);
    FUZZ_CHECK(t.trailerLength < kImageTrailerWindow);
    FUZZ_CHECK(t.nWide == 0 || t.nWide == 1);
    if (t.trailerLength > 0) {
        FUZZ_CHECK(size >= kImageTrailerWindow);
        FUZZ_CHECK(body.substr(t.imageLength - 2, 2) == "\xFF\xD9");
    } else {
        FUZZ_CHECK(t.nWide == 0);
    }

    int width = -1;
    int height = -1;
    if (JpegFrameSize(body, width, height)) {
        FUZZ_CHECK(width > 0 && width <= 65535);
        FUZZ_CHECK(height > 0 && height <= 65535);
        FUZZ_CHECK(body.substr(0, 2) == "\xFF\xD8");
    }
    return 0;
}
