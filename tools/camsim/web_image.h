#pragma once
// The picture that the simulated cameras serve on liveimg.cgi.

#include <cstddef>
#include <string>

namespace lanrove::camsim {

inline constexpr std::size_t kImageTrailerSize = 32;

// A small valid JPEG, ending with the FF D9 marker.
std::string tinyJpeg();
// The liveimg.cgi body: the JPEG, optionally followed by the information block whose byte 7
// carries the 16:9 bit (value 2).
std::string liveImageReply(bool bTrailer, bool bWide);

}  // namespace lanrove::camsim
