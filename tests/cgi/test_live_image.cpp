// The live picture: the trailer search at the end of a reply, the frame size of a JPEG, and
// GetLiveImage against simulated cameras on loopback (short reads, wrong type, no length, a
// body that breaks off).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "cgi/live_image.h"
#include "cgi/sim_helpers.h"
#include "web_image.h"
#include "web_side.h"

using namespace lanrove;

namespace {

std::string trailer(std::size_t size, bool bWide) {
    std::string t(size, '\x11');
    if (size > 7) t[7] = static_cast<char>(bWide ? 0x13 : 0x11 & ~0x02);
    return t;
}

// A picture-like body of `size` bytes that starts with SOI and ends with EOI.
std::string picture(std::size_t size) {
    std::string p(size, '\x55');
    p[0] = '\xFF';
    p[1] = '\xD8';
    p[size - 2] = '\xFF';
    p[size - 1] = '\xD9';
    return p;
}

TEST(ImageTrailer, WithoutTrailerTheWholeReplyIsThePicture) {
    // Data ending in the marker, and data with no marker in its last 64 bytes.
    const std::string ends = picture(500);
    ImageTrailer t = FindImageTrailer(ends);
    EXPECT_EQ(t.imageLength, 500u);
    EXPECT_EQ(t.trailerLength, 0u);
    EXPECT_EQ(t.nWide, 0);

    std::string noMarker = picture(500) + std::string(64, '\x01');
    t = FindImageTrailer(noMarker);
    EXPECT_EQ(t.imageLength, noMarker.size());
    EXPECT_EQ(t.nWide, 0);
}

TEST(ImageTrailer, TrailerWithAndWithoutTheWideBit) {
    for (bool bWide : {false, true}) {
        const std::string body = picture(400) + trailer(32, bWide);
        const ImageTrailer t = FindImageTrailer(body);
        EXPECT_EQ(t.imageLength, 400u);
        EXPECT_EQ(t.trailerLength, 32u);
        EXPECT_EQ(t.nWide, bWide ? 1 : 0);
    }
    // The longest trailer found is 63 bytes; a short one has no byte 7.
    EXPECT_EQ(FindImageTrailer(picture(400) + trailer(62, true)).trailerLength, 62u);
    const ImageTrailer shortOne = FindImageTrailer(picture(400) + trailer(5, true));
    EXPECT_EQ(shortOne.trailerLength, 5u);
    EXPECT_EQ(shortOne.nWide, 0);
}

TEST(ImageTrailer, SearchStartsAtTheEndAndStaysInTheLast64Bytes) {
    // FF D9 inside the picture data before the real end marker: the trailer starts after the
    // last marker.
    std::string body = picture(400);
    body[380] = '\xFF';
    body[381] = '\xD9';
    body += trailer(16, true);
    ImageTrailer t = FindImageTrailer(body);
    EXPECT_EQ(t.imageLength, 400u);
    EXPECT_EQ(t.nWide, 1);

    // A marker 64 or more bytes from the end is not seen.
    body = picture(400) + trailer(64, true);
    t = FindImageTrailer(body);
    EXPECT_EQ(t.imageLength, body.size());
    EXPECT_EQ(t.trailerLength, 0u);
    EXPECT_EQ(t.nWide, 0);
}

TEST(ImageTrailer, RepliesUnder64BytesAreNotSearched) {
    const std::string body = picture(20) + trailer(20, true);
    const ImageTrailer t = FindImageTrailer(body);
    EXPECT_EQ(t.imageLength, 40u);
    EXPECT_EQ(t.nWide, 0);
    EXPECT_EQ(FindImageTrailer(std::string_view()).imageLength, 0u);
    // Exactly 64 bytes are searched, and none before the first.
    EXPECT_EQ(FindImageTrailer(picture(32) + trailer(32, true)).imageLength, 32u);
    // The byte before the reply (FF) and its first byte (D9) make no marker.
    std::string buffer = "\xFF\xD9" + std::string(63, 'x');
    const ImageTrailer edge = FindImageTrailer(std::string_view(buffer).substr(1));
    EXPECT_EQ(edge.imageLength, 64u);
    EXPECT_EQ(edge.trailerLength, 0u);
}

TEST(JpegFrame, SizeFromTheFrameHeaderOfARealPicture) {
    int w = 0;
    int h = 0;
    const std::string jpeg = camsim::counterJpeg(42, 320, 180);
    ASSERT_TRUE(JpegFrameSize(jpeg, w, h));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 180);
    ASSERT_TRUE(JpegFrameSize(camsim::tinyJpeg(), w, h));
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 16);
}

TEST(JpegFrame, BrokenDataIsRefusedWithoutReadingPastIt) {
    int w = 0;
    int h = 0;
    const std::string jpeg = camsim::counterJpeg(7, 64, 48);
    EXPECT_FALSE(JpegFrameSize("", w, h));
    EXPECT_FALSE(JpegFrameSize("\xFF\xD8", w, h));
    EXPECT_FALSE(JpegFrameSize("GIF89a........", w, h));
    // Every cut before the frame header ends, and a segment length running past the end.
    const std::size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    for (std::size_t cut = 0; cut < sof + 9; ++cut)
        EXPECT_FALSE(JpegFrameSize(std::string_view(jpeg).substr(0, cut), w, h)) << cut;
    std::string bad = jpeg;
    bad[4] = '\x7F';  // APP0 length far past the end
    EXPECT_FALSE(JpegFrameSize(std::string_view(bad).substr(0, 200), w, h));
    // A scan before any frame header.
    EXPECT_FALSE(
        JpegFrameSize(std::string("\xFF\xD8\xFF\xDA\x00\x08", 6) + std::string(8, 0), w, h));
}

class LiveImageFetch : public ::testing::Test {
  protected:
    ~LiveImageFetch() override {
        if (web) web->stop();
    }
    camsim::SimCamera& add(const std::string& ip) {
        fleet.cameras.push_back(lanrove::testing::simCamera(ip, 2, "Pic"));
        return fleet.cameras.back();
    }
    void start() {
        web = std::make_unique<camsim::WebSide>(fleet, simLog, clock);
        ASSERT_TRUE(web->start());
    }
    int fetch(std::size_t i, LiveImage& image) {
        CgiSessionSlot slot;
        return GetLiveImage(cgi, slot, lanrove::testing::entryFor(fleet.cameras[i]), image);
    }

    ScaledClock clock{0.02};
    TraceLog log;
    TraceLog simLog;
    WireCodec codec{"CP1252"};
    CCGI cgi{clock, log, codec};
    camsim::Fleet fleet;
    std::unique_ptr<camsim::WebSide> web;
};

TEST_F(LiveImageFetch, PicturesChangeAndCarryTheWideFlag) {
    add("127.0.0.61").aspectRatio = 1;
    add("127.0.0.62").faults.insert("notrailer");
    start();
    LiveImage first;
    LiveImage second;
    ASSERT_EQ(fetch(0, first), kCgiOk);
    ASSERT_EQ(fetch(0, second), kCgiOk);
    EXPECT_EQ(first.nWide, 1);
    EXPECT_EQ(first.bytes.size() - first.imageLength, camsim::kImageTrailerSize);
    EXPECT_NE(std::string(first.bytes.data(), first.imageLength),
              std::string(second.bytes.data(), second.imageLength));
    int w = 0;
    int h = 0;
    ASSERT_TRUE(JpegFrameSize(std::string_view(first.bytes.data(), first.imageLength), w, h));
    EXPECT_EQ(w, camsim::kImageWidth);
    EXPECT_EQ(h, camsim::kImageWideHeight);

    LiveImage plain;
    ASSERT_EQ(fetch(1, plain), kCgiOk);
    EXPECT_EQ(plain.nWide, 0);
    EXPECT_EQ(plain.imageLength, plain.bytes.size());
    ASSERT_TRUE(JpegFrameSize(std::string_view(plain.bytes.data(), plain.imageLength), w, h));
    EXPECT_EQ(h, camsim::kImageHeight);
}

TEST_F(LiveImageFetch, BadRepliesFail) {
    add("127.0.0.63").faults.insert("imagetype");
    add("127.0.0.64").faults.insert("imagenolength");
    add("127.0.0.65").faults.insert("imageshort");
    add("127.0.0.66").faults.insert("http500");
    start();
    for (std::size_t i = 0; i < 4; ++i) {
        LiveImage image;
        EXPECT_EQ(fetch(i, image), kCgiFailed) << i;
        EXPECT_TRUE(image.bytes.empty()) << i;
    }
}

TEST_F(LiveImageFetch, StoppedCameraFailsWithinTheTimeOut) {
    camsim::SimCamera& c = add("127.0.0.67");
    c.faults.insert("imagestop");
    c.faultArgs["imagestop"] = "1";
    start();
    LiveImage image;
    ASSERT_EQ(fetch(0, image), kCgiOk);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch(0, image), kCgiFailed);
    // 10000 ms plus the connection allowance, scaled by 0.02: well under two seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
}

// A camera whose body comes in two pieces a while apart: the first read returns only the
// first piece, and the fetch goes on reading until the announced length is in.
TEST(LiveImageShortRead, BodyInTwoPiecesArrivesWhole) {
    const std::string ip = "127.0.0.69";
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    const std::string body = camsim::liveImageReply(5, true, true);
    std::thread server([fd, &body] {
        const int c = ::accept(fd, nullptr, nullptr);
        if (c < 0) return;
        std::string request;
        char buf[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            request.append(buf, static_cast<std::size_t>(n));
        }
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
        const std::string first = head + body.substr(0, 100);
        [[maybe_unused]] ssize_t sent = ::send(c, first.data(), first.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sent = ::send(c, body.data() + 100, body.size() - 100, MSG_NOSIGNAL);
        ::close(c);
    });
    ScaledClock clock{1.0};
    TraceLog log;
    WireCodec codec{"CP1252"};
    CCGI cgi{clock, log, codec};
    camsim::SimCamera cam = lanrove::testing::simCamera(ip, 2, "Pieces");
    cam.port = ntohs(addr.sin_port);
    CgiSessionSlot slot;
    LiveImage image;
    EXPECT_EQ(GetLiveImage(cgi, slot, lanrove::testing::entryFor(cam), image), kCgiOk);
    server.join();
    ::close(fd);
    EXPECT_EQ(std::string(image.bytes.data(), image.bytes.size()), body);
    EXPECT_EQ(image.imageLength, body.size() - camsim::kImageTrailerSize);
    EXPECT_EQ(image.nWide, 1);
}

}  // namespace
