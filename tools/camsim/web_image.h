#pragma once
// The pictures that the simulated cameras serve on liveimg.cgi: a real JPEG with the number of
// the picture drawn into it in blocks, so that every fetch gives a different picture.
//
// Faults of liveimg.cgi (SimCamera::faults): "notrailer" serves the JPEG without its
// information block; "imagetype" answers with Content-Type text/plain; "imagenolength" sends
// the body without a Content-Length (chunked); "imageshort" announces the whole length and
// closes the connection after half the body; "imagestop=N" serves N pictures and then the
// camera stops answering: every later request of any program waits without a reply.

#include <cstddef>
#include <string>

#include "fleet.h"

namespace lanrove::camsim {

inline constexpr std::size_t kImageTrailerSize = 32;
inline constexpr int kImageWidth = 320;
inline constexpr int kImageHeight = 240;      // 4:3 cameras
inline constexpr int kImageWideHeight = 180;  // 16:9 cameras (aspectRatio 1)
// The picture's ground and the colour of the drawn digits.
inline constexpr unsigned kImageGround = 0x2050A0;
inline constexpr unsigned kImageInk = 0xF0F0F0;

// A small valid JPEG, ending with the FF D9 marker.
std::string tinyJpeg();
// A baseline JPEG of width x height: the ground colour with `counter` drawn in the middle.
// Empty when the encoder fails.
std::string counterJpeg(unsigned counter, int width, int height);
// The liveimg.cgi body: picture number `counter`, optionally followed by the information block
// whose byte 7 carries the 16:9 bit (value 2).
std::string liveImageReply(unsigned counter, bool bTrailer, bool bWide);

// How the web side frames a liveimg.cgi body.
enum class ImageFraming { kWhole, kNoLength, kShort };
ImageFraming imageFraming(const SimCamera& camera);
// True once a camera with "imagestop=N" has served its N pictures.
bool imageStopped(const SimCamera& camera);

}  // namespace lanrove::camsim
