// What the camera client puts on the wire, seen by a bare loopback server: the exact request
// headers, the POST body written in pieces, and bounded waits on a server that stops reading.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "cgi/cgi.h"
#include "cgi/sim_helpers.h"

using namespace lanrove;
using lanrove::testing::readAll;
using lanrove::testing::slurp;
using lanrove::testing::TempDir;

namespace {

std::uint64_t fnv1a(std::string_view bytes, std::uint64_t h = 1469598103934665603ULL) {
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

struct Captured {
    std::string head;  // request line and headers
    std::uint64_t bodyBytes = 0;
    std::uint64_t bodyHash = 1469598103934665603ULL;
};

// One connection at a time: reads the request (headers and Content-Length body) and answers
// with a small page, or, in hold mode, reads the headers and then neither reads nor answers.
class RawServer {
  public:
    // `reply`, when given, is sent verbatim instead of the small page.
    explicit RawServer(const std::string& ip, bool bHold = false, std::string reply = {})
        : m_ip(ip), m_bHold(bHold), m_strReply(std::move(reply)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
        const int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        if (m_bHold) {
            const int small = 4096;  // keep the buffers small so the client stalls soon
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        }
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        ::listen(m_fd, 8);
        socklen_t len = sizeof(addr);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { loop(); });
    }
    ~RawServer() {
        m_quit = true;
        m_thread.join();
        ::close(m_fd);
    }
    int port() const { return m_port; }
    std::string base() const { return "http://" + m_ip + ":" + std::to_string(m_port) + "/"; }
    std::vector<Captured> captured() {
        std::lock_guard lock(m_mutex);
        return m_captured;
    }

  private:
    bool waitReadable(int fd) {
        while (!m_quit) {
            pollfd p{fd, POLLIN, 0};
            const int r = ::poll(&p, 1, 20);
            if (r > 0) return true;
            if (r < 0) return false;
        }
        return false;
    }

    void loop() {
        while (!m_quit) {
            if (!waitReadable(m_fd)) break;
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            serve(c);
            ::close(c);
        }
    }

    void serve(int c) {
        Captured cap;
        std::string data;
        char buf[65536];
        std::size_t headEnd = std::string::npos;
        while (headEnd == std::string::npos) {
            if (!waitReadable(c)) return;
            const ssize_t n = ::recv(c, buf, sizeof(buf), 0);
            if (n <= 0) return;
            data.append(buf, static_cast<std::size_t>(n));
            headEnd = data.find("\r\n\r\n");
        }
        cap.head = data.substr(0, headEnd + 2);
        if (m_bHold) {
            {
                std::lock_guard lock(m_mutex);
                m_captured.push_back(cap);
            }
            while (!m_quit) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return;
        }
        std::uint64_t length = 0;
        const std::size_t cl = cap.head.find("Content-Length: ");
        if (cl != std::string::npos) length = std::stoull(cap.head.substr(cl + 16));
        std::string first = data.substr(headEnd + 4);
        cap.bodyBytes = first.size();
        cap.bodyHash = fnv1a(first);
        while (cap.bodyBytes < length) {
            if (!waitReadable(c)) return;
            const ssize_t n = ::recv(c, buf, sizeof(buf), 0);
            if (n <= 0) break;
            cap.bodyHash = fnv1a(std::string_view(buf, static_cast<std::size_t>(n)), cap.bodyHash);
            cap.bodyBytes += static_cast<std::uint64_t>(n);
        }
        const std::string page = "received " + std::to_string(cap.bodyBytes);
        const std::string reply =
            !m_strReply.empty()
                ? m_strReply
                : "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                      std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
        {
            std::lock_guard lock(m_mutex);
            m_captured.push_back(cap);
        }
        ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    }

    std::string m_ip;
    bool m_bHold;
    const std::string m_strReply;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_quit{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Captured> m_captured;
};

bool hasLine(const std::string& head, const std::string& line) {
    return head.find("\r\n" + line + "\r\n") != std::string::npos;
}

bool hasHeader(const std::string& head, const std::string& name) {
    return head.find("\r\n" + name + ":") != std::string::npos;
}

// Exchanges run their time-outs at a tenth; the test of a time-out itself at a hundredth.
class Wire : public ::testing::Test {
  protected:
    ScaledClock clock{0.1};
    ScaledClock fastClock{0.01};
    TempDir dir;
    TraceLog log;
    WireCodec codec{"CP1252"};
    CCGI cgi{clock, log, codec};
    CCGI fastCgi{fastClock, log, codec};
    void SetUp() override { ASSERT_TRUE(log.create(dir.path)); }
};

}  // namespace

TEST_F(Wire, GetCarriesTheFixedHeadersAndBasicCredentials) {
    RawServer server("127.0.0.51");
    CgiSessionSlot slot;
    ASSERT_TRUE(cgi.CreateSession(slot, kCgiTimeoutMs, false));
    const std::u16string user(63, u'u');
    const std::u16string password = std::u16string(62, u'p') + u"\u00E9";
    int status = -1;
    CgiRequestPtr r =
        cgi.OpenSession(slot.get(), server.base() + "cgi-bin/lang.cgi", user, password, status);
    ASSERT_TRUE(r);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readAll(*r), "received 0");
    r.reset();
    const auto caps = server.captured();
    ASSERT_EQ(caps.size(), 1u);
    const std::string& head = caps[0].head;
    EXPECT_EQ(head.rfind("GET /cgi-bin/lang.cgi HTTP/1.1\r\n", 0), 0u);
    EXPECT_TRUE(hasLine(head, "Accept: */*"));
    EXPECT_TRUE(hasLine(head, "User-Agent: VidUrav"));
    // Credentials of the longest length the record holds, non-ASCII as one code-page byte.
    const std::string pair = std::string(63, 'u') + ":" + std::string(62, 'p') + "\xE9";
    EXPECT_TRUE(hasLine(head, "Authorization: Basic " + CCGI::Base64(pair)));
}

TEST_F(Wire, StatusLineInsideTheHeadersStartsNoNewReply) {
    // A header line that looks like a status line must not turn a refusal into a pass.
    RawServer server("127.0.0.53", false,
                     "HTTP/1.1 401 Unauthorized\r\nHTTP/1.1 200 OK: x\r\n"
                     "WWW-Authenticate: Basic realm=\"cam\"\r\nContent-Length: 0\r\n"
                     "Connection: close\r\n\r\n");
    CgiSessionSlot slot;
    ASSERT_TRUE(cgi.CreateSession(slot, kCgiTimeoutMs, false));
    int status = -1;
    CgiRequestPtr r =
        cgi.OpenSession(slot.get(), server.base() + "cgi-bin/lang.cgi", u"user", u"pass", status);
    EXPECT_GE(status, 400);
}

TEST_F(Wire, PostBodyWrittenInPiecesArrivesWhole) {
    RawServer server("127.0.0.52");
    CgiSessionSlot slot;
    ASSERT_TRUE(cgi.CreateSession(slot, kCgiCommandTimeoutMs, false));
    // About 3 MB of varied bytes.
    std::string body(3 * 1024 * 1024 + 1234, '\0');
    std::uint32_t x = 12345;
    for (char& c : body) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    const std::string contentType =
        "Content-Type: multipart/form-data; boundary=---------------------------7da0307090501\r\n";
    int status = -1;
    CgiRequestPtr r = cgi.OpenPostSession(slot.get(), server.base() + "cgi-bin/firmup.cgi",
                                          u"admin", u"12345", contentType, body.size(), status);
    ASSERT_TRUE(r);
    EXPECT_EQ(status, 0);
    for (std::size_t sent = 0; sent < body.size(); sent += 8192) {
        const std::size_t n = std::min<std::size_t>(8192, body.size() - sent);
        ASSERT_TRUE(r->write(body.data() + sent, n)) << "at " << sent;
        EXPECT_EQ(r->bytesWritten(), sent + n);
    }
    EXPECT_EQ(r->statusCode(), 200);
    EXPECT_EQ(readAll(*r), "received " + std::to_string(body.size()));
    r.reset();
    const auto caps = server.captured();
    ASSERT_EQ(caps.size(), 1u);
    EXPECT_EQ(caps[0].bodyBytes, body.size());
    EXPECT_EQ(caps[0].bodyHash, fnv1a(body));
    const std::string& head = caps[0].head;
    EXPECT_EQ(head.rfind("POST /cgi-bin/firmup.cgi HTTP/1.1\r\n", 0), 0u);
    EXPECT_TRUE(hasLine(head,
                        "Content-Type: multipart/form-data; "
                        "boundary=---------------------------7da0307090501"));
    EXPECT_TRUE(hasLine(head, "Content-Length: " + std::to_string(body.size())));
    EXPECT_TRUE(hasLine(head, "Authorization: Basic " + CCGI::Base64("admin:12345")));
    EXPECT_FALSE(hasHeader(head, "Accept"));
    EXPECT_TRUE(hasLine(head, "User-Agent: VidUrav"));  // the session's agent name
    EXPECT_FALSE(hasHeader(head, "Expect"));
}

TEST_F(Wire, PostWithoutContentTypeSendsNone) {
    RawServer server("127.0.0.56");
    CgiSessionSlot slot;
    ASSERT_TRUE(cgi.CreateSession(slot, kCgiCommandTimeoutMs, false));
    const std::string body = "a=1&b=2";
    int status = -1;
    CgiRequestPtr r = cgi.OpenPostSession(slot.get(), server.base() + "cgi-bin/firmup.cgi",
                                          u"admin", u"12345", "", body.size(), status);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->write(body.data(), body.size()));
    EXPECT_EQ(r->statusCode(), 200);
    r.reset();
    const auto caps = server.captured();
    ASSERT_EQ(caps.size(), 1u);
    const std::string& head = caps[0].head;
    EXPECT_FALSE(hasHeader(head, "Content-Type")) << head;
    EXPECT_TRUE(hasLine(head, "User-Agent: VidUrav")) << head;
    EXPECT_TRUE(hasLine(head, "Content-Length: 7"));
    EXPECT_EQ(caps[0].bodyBytes, body.size());
}

TEST_F(Wire, PostToAServerThatStopsReadingIsBounded) {
    RawServer server("127.0.0.53", true);
    CgiSessionSlot slot;
    ASSERT_TRUE(fastCgi.CreateSession(slot, kCgiTimeoutMs, false));  // 100 ms here
    const std::string chunk(8192, 'x');
    const std::uint64_t length = 64ull * 1024 * 1024;
    int status = -1;
    CgiRequestPtr r = fastCgi.OpenPostSession(slot.get(), server.base() + "cgi-bin/firmup.cgi",
                                              u"admin", u"12345", "", length, status);
    ASSERT_TRUE(r);
    const auto t0 = std::chrono::steady_clock::now();
    bool failed = false;
    for (std::uint64_t sent = 0; sent < length && !failed; sent += chunk.size())
        failed = !r->write(chunk.data(), chunk.size());
    EXPECT_TRUE(failed);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_LT(r->bytesWritten(), length);
    EXPECT_EQ(r->statusCode(), 0);
}

TEST_F(Wire, OpenersFailCleanlyWithoutAServer) {
    // A port that nobody listens on: the connection is refused at once.
    const int port = lanrove::testing::freePort("127.0.0.54");
    const std::string url = "http://127.0.0.54:" + std::to_string(port) + "/cgi-bin/firmup.cgi";
    CgiSessionSlot slot;
    ASSERT_TRUE(cgi.CreateSession(slot, kCgiTimeoutMs, false));
    int status = 0;
    EXPECT_FALSE(cgi.OpenPostSession(slot.get(), url, u"a", u"b", "", 10, status));
    EXPECT_NE(slurp(log.currentFile()).find("OpenPostSession SendRequest Error dwError="),
              std::string::npos);
    status = 0;
    EXPECT_FALSE(cgi.OpenSession(slot.get(), url, u"a", u"b", status));
    EXPECT_EQ(status, 400);
    EXPECT_FALSE(cgi.OpenSession(nullptr, url, u"a", u"b", status));
    // A header line without a name is refused before anything is sent.
    EXPECT_FALSE(cgi.OpenPostSession(slot.get(), url, u"a", u"b", "garbage\r\n", 10, status));
    EXPECT_NE(slurp(log.currentFile()).find("AddRequestHeaders failed.["), std::string::npos);
}

TEST_F(Wire, RequestsThatOverlapOnASessionEachGetAConnection) {
    RawServer server("127.0.0.55");
    CgiSessionSlot slot;
    ASSERT_TRUE(cgi.CreateSession(slot, kCgiTimeoutMs, false));
    int status = 0;
    CgiRequestPtr first = cgi.OpenSession(slot.get(), server.base() + "a", u"u", u"p", status);
    ASSERT_TRUE(first);
    EXPECT_TRUE(slot->busy());
    CgiRequestPtr second = cgi.OpenSession(slot.get(), server.base() + "b", u"u", u"p", status);
    ASSERT_TRUE(second);
    EXPECT_EQ(readAll(*second), "received 0");
    second.reset();
    EXPECT_TRUE(slot->busy());  // still the first one's
    EXPECT_EQ(readAll(*first), "received 0");
    first.reset();
    EXPECT_FALSE(slot->busy());
    CgiRequestPtr third = cgi.OpenSession(slot.get(), server.base() + "c", u"u", u"p", status);
    ASSERT_TRUE(third);
    // A request may outlive its session; its own reference keeps the handle alive.
    slot.reset();
    EXPECT_EQ(readAll(*third), "received 0");
    EXPECT_EQ(server.captured().size(), 3u);
}
