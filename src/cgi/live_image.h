#pragma once
// The camera's live picture: liveimg.cgi answers with one JPEG, optionally followed by an
// information block after the JPEG end marker (FF D9). The block is looked for only in the
// last 64 bytes of the reply; bit 1 (value 2) of its byte 7 says the picture is 16:9.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "cgi/cgi.h"

namespace lanrove {

// Only this many bytes at the end of a reply are searched for the end marker.
inline constexpr std::size_t kImageTrailerWindow = 64;
// A reply that announces more than this is refused instead of allocated.
inline constexpr std::uint64_t kMaxLiveImageBytes = 32ULL * 1024 * 1024;
inline constexpr const char* kLiveImagePath = "liveimg.cgi";

struct ImageTrailer {
    std::size_t imageLength = 0;    // bytes of the JPEG (the whole reply without a trailer)
    std::size_t trailerLength = 0;  // bytes after the end marker, 0 without a trailer
    int nWide = 0;                  // the 16:9 flag: 0 or 1
};

// Splits a reply into picture and trailer. The last 64 bytes are searched backwards for FF D9;
// the first marker found that does not end the data starts the trailer. Replies under 64 bytes
// and replies that end with the marker have no trailer.
ImageTrailer FindImageTrailer(std::string_view data);

// The 16:9 flag of a trailer (bit 1 of byte 7); 0 when the trailer is shorter than 8 bytes.
int TrailerWideFlag(std::string_view trailer);

// Width and height from a JPEG's start-of-frame marker. Walks the marker segments from SOI
// without ever reading past `data`; false when the data is no JPEG or has no frame header
// before the scan.
bool JpegFrameSize(std::string_view data, int& width, int& height);

struct LiveImage {
    std::vector<char> bytes;  // the reply as received (picture and trailer)
    std::size_t imageLength = 0;
    int nWide = 0;
    int readError = 0;  // the transfer error when the body broke off, else 0
};

// GET liveimg.cgi with the viewer account in a new session (10000 ms) put into `slot`. The
// reply must be image/jpeg with a Content-Length; the body is read until that many bytes have
// come, and a body that ends short fails. 0 with `image` filled, or 400.
int GetLiveImage(CCGI& cgi, CgiSessionSlot& slot, const CameraEntry& entry, LiveImage& image);

}  // namespace lanrove
