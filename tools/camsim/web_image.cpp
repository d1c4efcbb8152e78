#include "web_image.h"

// jpeglib.h needs the size types declared before it.
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace lanrove::camsim {

namespace {

// A 16 x 16 baseline JPEG (JFIF, 4:2:0), small enough to embed and valid for any decoder.
const unsigned char kTinyJpeg[] = {
    0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01,
    0x00, 0x01, 0x00, 0x00, 0xff, 0xdb, 0x00, 0x43, 0x00, 0x0a, 0x07, 0x07, 0x08, 0x07, 0x06, 0x0a,
    0x08, 0x08, 0x08, 0x0b, 0x0a, 0x0a, 0x0b, 0x0e, 0x18, 0x10, 0x0e, 0x0d, 0x0d, 0x0e, 0x1d, 0x15,
    0x16, 0x11, 0x18, 0x23, 0x1f, 0x25, 0x24, 0x22, 0x1f, 0x22, 0x21, 0x26, 0x2b, 0x37, 0x2f, 0x26,
    0x29, 0x34, 0x29, 0x21, 0x22, 0x30, 0x41, 0x31, 0x34, 0x39, 0x3b, 0x3e, 0x3e, 0x3e, 0x25, 0x2e,
    0x44, 0x49, 0x43, 0x3c, 0x48, 0x37, 0x3d, 0x3e, 0x3b, 0xff, 0xdb, 0x00, 0x43, 0x01, 0x0a, 0x0b,
    0x0b, 0x0e, 0x0d, 0x0e, 0x1c, 0x10, 0x10, 0x1c, 0x3b, 0x28, 0x22, 0x28, 0x3b, 0x3b, 0x3b, 0x3b,
    0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b,
    0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b,
    0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0x3b, 0xff, 0xc0,
    0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10, 0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11,
    0x01, 0xff, 0xc4, 0x00, 0x16, 0x00, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x06, 0xff, 0xc4, 0x00, 0x16, 0x10, 0x00, 0x03,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x14,
    0x61, 0xff, 0xc4, 0x00, 0x15, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0xff, 0xc4, 0x00, 0x16, 0x11, 0x00, 0x03, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x15, 0x61,
    0xff, 0xda, 0x00, 0x0c, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3f, 0x00, 0x85, 0x28,
    0x12, 0x86, 0x81, 0x28, 0x12, 0x80, 0xe6, 0x96, 0xbe, 0x1f, 0xff, 0xd9};

// Digits 0-9 as 3 x 5 blocks, one row per three bits (top row first, left block high).
constexpr unsigned short kDigits[10] = {
    0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF,
};

constexpr int kBlock = 8;  // pixels per block

struct Rgb {
    unsigned char r, g, b;
};

Rgb rgbOf(unsigned colour) {
    return {static_cast<unsigned char>(colour >> 16), static_cast<unsigned char>(colour >> 8),
            static_cast<unsigned char>(colour)};
}

void paintCounter(std::vector<unsigned char>& pixels, int width, int height, unsigned counter) {
    const std::string digits = std::to_string(counter);
    const int textWidth = static_cast<int>(digits.size()) * 4 * kBlock - kBlock;
    const int left = (width - textWidth) / 2;
    const int top = (height - 5 * kBlock) / 2;
    const Rgb ink = rgbOf(kImageInk);
    for (std::size_t d = 0; d < digits.size(); ++d) {
        const unsigned short glyph = kDigits[digits[d] - '0'];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col) {
                if ((glyph >> (14 - row * 3 - col) & 1) == 0) continue;
                const int x0 = left + (static_cast<int>(d) * 4 + col) * kBlock;
                const int y0 = top + row * kBlock;
                for (int y = std::max(0, y0); y < std::min(height, y0 + kBlock); ++y)
                    for (int x = std::max(0, x0); x < std::min(width, x0 + kBlock); ++x) {
                        unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
                        p[0] = ink.r;
                        p[1] = ink.g;
                        p[2] = ink.b;
                    }
            }
    }
}

long faultNumber(const SimCamera& camera, const char* key, long fallback) {
    const auto it = camera.faultArgs.find(key);
    if (it == camera.faultArgs.end() || it->second.empty()) return fallback;
    char* end = nullptr;
    const long value = std::strtol(it->second.c_str(), &end, 10);
    return end != nullptr && *end == '\0' && value >= 0 ? value : fallback;
}

}  // namespace

std::string tinyJpeg() {
    return std::string(reinterpret_cast<const char*>(kTinyJpeg), sizeof(kTinyJpeg));
}

std::string counterJpeg(unsigned counter, int width, int height) {
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return {};
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    const Rgb ground = rgbOf(kImageGround);
    for (std::size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = ground.r;
        pixels[i + 1] = ground.g;
        pixels[i + 2] = ground.b;
    }
    paintCounter(pixels, width, height, counter);

    // With fixed settings and memory output the encoder cannot fail short of running out of
    // memory; the library's default would call exit(), an abort at least leaves a core.
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.error_exit = [](j_common_ptr) { std::abort(); };
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &pixels[static_cast<std::size_t>(info.next_scanline) * width * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string jpeg(reinterpret_cast<const char*>(out), outSize);
    jpeg_destroy_compress(&info);
    std::free(out);
    return jpeg;
}

std::string liveImageReply(unsigned counter, bool bTrailer, bool bWide) {
    std::string reply = counterJpeg(counter, kImageWidth, bWide ? kImageWideHeight : kImageHeight);
    if (reply.empty()) reply = tinyJpeg();
    if (!bTrailer) return reply;
    // The information block after the end marker: fixed-size camera information, of which
    // bit 1 of byte 7 says that the picture is 16:9.
    std::string trailer(kImageTrailerSize, '\0');
    trailer[0] = 'L';
    trailer[1] = 'R';
    trailer[2] = 1;  // block version
    trailer[3] = static_cast<char>(kImageTrailerSize);
    if (bWide) trailer[7] = 0x02;
    return reply + trailer;
}

ImageFraming imageFraming(const SimCamera& camera) {
    if (camera.has("imagenolength")) return ImageFraming::kNoLength;
    if (camera.has("imageshort")) return ImageFraming::kShort;
    return ImageFraming::kWhole;
}

bool imageStopped(const SimCamera& camera) {
    return camera.has("imagestop") &&
           camera.imageCount >= static_cast<unsigned long>(faultNumber(camera, "imagestop", 1));
}

}  // namespace lanrove::camsim
