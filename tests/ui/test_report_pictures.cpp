// Report pictures are made thumbnails as they arrive: a site's full-size pictures are never
// all held at once.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <string>

#include "report/pdf_writer.h"

namespace lanrove {
namespace {

std::string jpegOf(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    // Noise-like content, so that the full picture really is large as a JPEG.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x ^ y) % 256));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

TEST(ReportPictures, LargePictureBecomesAThumbnailOfTheSameShape) {
    const std::string full = jpegOf(1920, 1080);
    const std::string thumb = shrinkPicture(full);
    ASSERT_FALSE(thumb.empty());
    QImage read;
    ASSERT_TRUE(read.loadFromData(reinterpret_cast<const uchar*>(thumb.data()),
                                  static_cast<int>(thumb.size()), "JPEG"));
    EXPECT_EQ(read.width(), 320);
    EXPECT_EQ(read.height(), 180);
    EXPECT_LT(thumb.size() * 10, full.size());
}

TEST(ReportPictures, SmallPictureKeepsItsSizeAndUnreadableBytesGiveNone) {
    const std::string small = shrinkPicture(jpegOf(160, 120));
    QImage read;
    ASSERT_TRUE(read.loadFromData(reinterpret_cast<const uchar*>(small.data()),
                                  static_cast<int>(small.size()), "JPEG"));
    EXPECT_EQ(read.width(), 160);
    EXPECT_TRUE(shrinkPicture("").empty());
    EXPECT_TRUE(shrinkPicture("\xFF\xD8 not a picture \xFF\xD9").empty());
}

}  // namespace
}  // namespace lanrove
