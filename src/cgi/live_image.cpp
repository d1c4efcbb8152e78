#include "cgi/live_image.h"

#include <charconv>

namespace lanrove {

namespace {

constexpr unsigned char kMarker = 0xFF;
constexpr unsigned char kEndOfImage = 0xD9;

unsigned char byteAt(std::string_view data, std::size_t i) {
    return static_cast<unsigned char>(data[i]);
}

// Start-of-frame markers carry the picture's size; C4 (Huffman tables), C8 (reserved) and
// CC (arithmetic conditioning) share the range but are no frame headers.
bool isFrameMarker(unsigned char m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

}  // namespace

int TrailerWideFlag(std::string_view trailer) {
    if (trailer.size() < 8) return 0;
    return (byteAt(trailer, 7) & 0x02) != 0 ? 1 : 0;
}

ImageTrailer FindImageTrailer(std::string_view data) {
    ImageTrailer t;
    t.imageLength = data.size();
    if (data.size() < kImageTrailerWindow) return t;
    for (std::size_t i = 0; i < kImageTrailerWindow; ++i) {
        // The two bytes that end i bytes before the end of the data.
        const std::size_t end = data.size() - i;
        if (end < 2) break;  // a reply of exactly 64 bytes has no pair that far back
        if (byteAt(data, end - 2) != kMarker || byteAt(data, end - 1) != kEndOfImage) continue;
        if (i == 0) break;  // the data ends with the marker: no trailer
        t.imageLength = end;
        t.trailerLength = i;
        t.nWide = TrailerWideFlag(data.substr(end));
        break;
    }
    return t;
}

bool JpegFrameSize(std::string_view data, int& width, int& height) {
    width = height = 0;
    if (data.size() < 4 || byteAt(data, 0) != kMarker || byteAt(data, 1) != 0xD8) return false;
    std::size_t pos = 2;
    while (pos + 4 <= data.size()) {
        if (byteAt(data, pos) != kMarker) return false;
        const unsigned char marker = byteAt(data, pos + 1);
        if (marker == kMarker) {  // fill byte before a marker
            ++pos;
            continue;
        }
        // Markers without a length field.
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (marker == kEndOfImage || marker == 0xDA) return false;  // no frame before the scan
        const std::size_t length =
            (std::size_t{byteAt(data, pos + 2)} << 8) | byteAt(data, pos + 3);
        if (length < 2 || pos + 2 + length > data.size()) return false;
        if (isFrameMarker(marker)) {
            // Length, precision (1), height (2), width (2).
            if (length < 7) return false;
            height = (byteAt(data, pos + 5) << 8) | byteAt(data, pos + 6);
            width = (byteAt(data, pos + 7) << 8) | byteAt(data, pos + 8);
            return width > 0 && height > 0;
        }
        pos += 2 + length;
    }
    return false;
}

int GetLiveImage(CCGI& cgi, CgiSessionSlot& slot, const CameraEntry& entry, LiveImage& image) {
    image = LiveImage{};
    try {
        const std::string url = cgi.BaseUrl(entry) + kLiveImagePath;
        if (!cgi.CreateSession(slot, kCgiTimeoutMs, false)) return kCgiFailed;
        int status = kCgiFailed;
        CgiRequestPtr request = cgi.OpenSession(slot.get(), url, kViewerUser, kViewerPassword,
                                                status, fieldView(entry.szMac));
        if (!request) return kCgiFailed;
        if (!asciiEqualsNoCase(request->header("Content-Type"), "image/jpeg")) return kCgiFailed;
        if (!request->hasHeader("Content-Length")) return kCgiFailed;
        const std::string lengthText = request->header("Content-Length");
        std::uint64_t length = 0;
        const auto [end, ec] =
            std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
        if (lengthText.empty() || ec != std::errc() || end != lengthText.data() + lengthText.size())
            return kCgiFailed;
        // A length no picture has would only exhaust memory.
        if (length > kMaxLiveImageBytes) return kCgiFailed;

        image.bytes.resize(static_cast<std::size_t>(length));
        std::size_t got = 0;
        // A read may return less than asked: go on until the announced length has come.
        while (got < image.bytes.size()) {
            const long n = request->read(image.bytes.data() + got, image.bytes.size() - got);
            if (n < 0) {
                image.readError = request->error();
                break;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        // Bytes that never came must not be shown as picture data.
        if (got < image.bytes.size()) {
            image.bytes.clear();
            return kCgiFailed;
        }
        const ImageTrailer trailer =
            FindImageTrailer(std::string_view(image.bytes.data(), image.bytes.size()));
        image.imageLength = trailer.imageLength;
        image.nWide = trailer.nWide;
        request->close();
        return kCgiOk;
    } catch (...) {
        image.bytes.clear();
        image.imageLength = 0;
        return kCgiFailed;
    }
}

}  // namespace lanrove
