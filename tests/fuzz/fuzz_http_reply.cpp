// Camera replies as they arrive over HTTP: a server thread answers each request with the input
// (status line, headers and body as bytes) and closes, and the program's HTTP layer reads the
// status, the headers and the text body the way the status requests do, then parses it.
// Everything runs on the loopback interface of a network namespace of the target's own, so
// nothing the input says (a redirect, say) can reach another host.

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "cgi/cgi.h"
#include "fuzz_check.h"

using namespace lanrove;

namespace {

// Shared with the server thread, which runs until the process ends: never destroyed.
struct Next {
    std::mutex mutex;
    std::string reply;  // what the server sends next
};
Next& g_next = *new Next;
std::uint16_t g_port = 0;

void serve(int listener) {
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        const timeval tv{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            request.append(buf, static_cast<std::size_t>(n));
        }
        std::string reply;
        {
            std::lock_guard lock(g_next.mutex);
            reply = g_next.reply;
        }
        (void)::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}

// A network namespace with only a loopback interface, for this thread and the ones it starts.
bool privateLoopback() {
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 &&
                    (ifr.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
    if (fd >= 0) ::close(fd);
    return up;
}

// Header values lose their blanks around and the line end (a bare CR inside a line is kept).
bool trimmed(std::string_view s) {
    return s.empty() || (s.front() != ' ' && s.front() != '\t' &&
                         std::string_view(" \t\r\n").find(s.back()) == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!privateLoopback()) {
        std::fprintf(stderr,
                     "fuzz_http_reply: needs a network namespace of its own (run as root)\n");
        std::exit(1);
    }
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("fuzz_http_reply: server socket");
        std::exit(1);
    }
    g_port = ntohs(addr.sin_port);
    std::thread(serve, listener).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const WireCodec codec;
    static const ScaledClock clock;
    static TraceLog log;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    {
        std::lock_guard lock(g_next.mutex);
        g_next.reply.assign(input);
    }
    CCGI cgi(clock, log, codec);
    CgiSessionSlot slot;
    FUZZ_CHECK(cgi.CreateSession(slot, 2000, false));
    CgiRequestSpec spec;
    spec.url = "http://127.0.0.1:" + std::to_string(g_port) + "/cgi-bin/cam_set.cgi?status=1";
    spec.headers = {"Accept: */*", "Authorization: " + cgi.BasicCredentials(u"pelma", u"pelma")};
    int error = 0;
    CgiRequestPtr request = CgiRequest::open(*slot, spec, error);
    FUZZ_CHECK(request != nullptr);

    const int status = request->statusCode();
    FUZZ_CHECK(status >= 0 && status <= 999);
    // A reply that the HTTP library took has the status of its first line, unless that one
    // was an interim 1xx reply.
    if (status > 0 && input.size() > 13 && input.starts_with("HTTP/1.1 ") && input[9] >= '2' &&
        input[9] <= '5' && input[12] == ' ')
        FUZZ_CHECK(std::to_string(status) == input.substr(9, 3));
    for (const char* name : {"Content-Type", "content-length", "WWW-Authenticate", "Location"}) {
        const std::string value = request->header(name);
        FUZZ_CHECK(trimmed(value) && value.size() <= size);
        if (!value.empty()) FUZZ_CHECK(request->hasHeader(name));
    }
    std::string text;
    int readError = 0;
    const TextReply reply = cgi.ReadTextReply(*request, "text/plain", text, readError);
    FUZZ_CHECK(text.size() <= size);
    if (reply == TextReply::kText) {
        FUZZ_CHECK(asciiEqualsNoCase(request->header("Content-Type"), "text/plain"));
        CameraEntry entry;
        entry.clear();
        entry.wProtoVer = 2;
        ParseCamSetStatus(codec, text, entry);
        ParseCodecStatus(codec, text, entry);
    }
    request->close();
    return 0;
}
