#include "web_side.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <random>

#include "onvif_device.h"
#include "web_cgi.h"
#include "web_firmware.h"
#include "web_image.h"
#include "web_tls.h"

namespace lanrove::camsim {

namespace {

constexpr std::size_t kMaxRecords = 20000;
constexpr long kDefaultSlowMs = 60000;
constexpr std::size_t kWorkersPerListener = 4;
constexpr long kDefaultTrickleMs = 2000;
constexpr std::string_view kMovedPrefix = "moved/";

// Listeners that do not speak HTTP through the server library.
enum class RawMode { kNone, kDrop, kTrickle };
// Which certificate an HTTPS listener shows (web_tls.h).
enum class TlsKind { kBuiltIn, kFresh, kLegacy };

std::string randomNonce() {
    std::random_device rd;
    std::string nonce;
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) nonce += kHex[rd() & 0x0F];
    return nonce;
}

std::string schemeOf(const std::string& authorization) {
    return authorization.substr(0, authorization.find(' '));
}

// A whole-number fault argument, or `fallback` when absent or unreadable.
long numberArg(const SimCamera& cam, const std::string& key, long fallback) {
    const auto arg = cam.faultArgs.find(key);
    if (arg == cam.faultArgs.end()) return fallback;
    const std::string& text = arg->second;
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0)
        return fallback;
    return value;
}

// The reply body, framed as a live-picture fault may ask: without Content-Length (chunked),
// or announced whole and cut off after half.
void setBody(httplib::Response& res, std::string body, const std::string& type,
             ImageFraming framing) {
    if (framing == ImageFraming::kWhole) {
        res.set_content(body, type);
        return;
    }
    auto shared = std::make_shared<std::string>(std::move(body));
    if (framing == ImageFraming::kNoLength) {
        res.set_chunked_content_provider(
            type, [shared](std::size_t offset, httplib::DataSink& sink) {
                if (offset < shared->size())
                    sink.write(shared->data() + offset, shared->size() - offset);
                if (offset >= shared->size()) sink.done();
                return true;
            });
        return;
    }
    res.set_content_provider(shared->size(), type,
                             [shared](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 const std::size_t half = shared->size() / 2;
                                 if (offset >= half) return false;  // drops the connection
                                 return sink.write(shared->data() + offset, half - offset);
                             });
}

}  // namespace

struct WebSide::Shared {
    Shared(Fleet& f, TraceLog& l, const Clock& c, std::string codePage)
        : fleet(f), log(l), clock(c), codec(std::move(codePage)) {}

    Fleet& fleet;
    TraceLog& log;
    const Clock& clock;
    WireCodec codec;
    ManualResetEvent stopping;
    std::unique_ptr<TlsIdentity> tls;
    std::unique_ptr<TlsIdentity> freshTls;
    std::unique_ptr<TlsIdentity> legacyTls;
    const std::string nonce = randomNonce();  // of the Digest challenges
    std::atomic<int> pendingMoves{0};         // network changes whose reply has not gone out yet

    std::mutex recordMutex;
    std::vector<WebRequestRecord> records;

    std::mutex ownerMutex;
    WebSide* owner = nullptr;

    void record(WebRequestRecord r) {
        std::lock_guard lock(recordMutex);
        if (records.size() < kMaxRecords) records.push_back(std::move(r));
    }

    // Index of the camera that answers on ip:port: the first one in the fleet. Other makers'
    // devices serve no CGI.
    bool findCamera(const std::string& ip, int port, std::size_t& index) {
        for (std::size_t i = 0; i < fleet.cameras.size(); ++i)
            if (fleet.cameras[i].ip == ip && fleet.cameras[i].port == port &&
                !fleet.cameras[i].foreign()) {
                index = i;
                return true;
            }
        return false;
    }

    // The first ONVIF device whose device service is on ip:port.
    bool findOnvif(const std::string& ip, int port, std::size_t& index) {
        for (std::size_t i = 0; i < fleet.cameras.size(); ++i) {
            const SimCamera& c = fleet.cameras[i];
            if (c.onvif.enabled && c.ip == ip && c.onvif.xaddrPort == port) {
                index = i;
                return true;
            }
        }
        return false;
    }

    void serve(const std::string& ip, int port, const httplib::Request& req,
               httplib::Response& res);
    void serveUpload(const std::string& ip, int port, const httplib::Request& req,
                     httplib::Response& res, const httplib::ContentReader& reader);
    void serveOnvif(const std::string& ip, int port, const httplib::Request& req,
                    httplib::Response& res, const httplib::ContentReader& reader);
};

struct WebSide::Listener {
    std::string ip;
    int port = 0;
    bool bSsl = false;
    RawMode raw = RawMode::kNone;
    TlsKind tls = TlsKind::kBuiltIn;
    std::unique_ptr<httplib::Server> server;
    int rawFd = -1;
    std::atomic<bool> quit{false};
    std::thread thread;

    std::string name() const {
        return ip + ":" + std::to_string(port) +
               (raw == RawMode::kDrop             ? " drop"
                : raw == RawMode::kTrickle        ? " trickle"
                : bSsl && tls == TlsKind::kLegacy ? " https legacy"
                : bSsl                            ? " https"
                                                  : "");
    }

    // Asks the accept loop to end without waiting, so that a large fleet's listeners all wind
    // down at once instead of one after another.
    void requestStop() {
        quit.store(true);
        if (server) server->stop();
    }

    void stop() {
        requestStop();
        if (thread.joinable()) thread.join();
        if (rawFd >= 0) ::close(rawFd);
        rawFd = -1;
        server.reset();
    }
};

void WebSide::Shared::serve(const std::string& ip, int port, const httplib::Request& req,
                            httplib::Response& res) {
    WebRequestRecord rec;
    rec.method = req.method;
    rec.program = req.path.size() > 1 && req.path[0] == '/' ? req.path.substr(1) : req.path;
    const std::size_t q = req.target.find('?');
    if (q != std::string::npos) rec.query = req.target.substr(q + 1);
    rec.bAuthorization = req.has_header("Authorization");
    const std::string authorization = req.get_header_value("Authorization");
    rec.authScheme = schemeOf(authorization);
    rec.userAgent = req.get_header_value("User-Agent");
    rec.accept = req.get_header_value("Accept");

    std::size_t index = 0;
    bool bSlow = false;
    bool bStopped = false;
    long slowMs = kDefaultSlowMs;
    bool bRedirect = false;
    std::string redirectTo;
    {
        std::lock_guard lock(fleet.mutex);
        if (!findCamera(ip, port, index)) {
            res.status = 404;
            res.set_content("<html><body>404 Not Found</body></html>\r\n", "text/html");
            rec.status = 404;
            record(std::move(rec));
            return;
        }
        SimCamera& cam = fleet.cameras[index];
        if (firmwareOffline(cam, clock)) {
            // Restarting: the connection closes without an answer.
            dropConnection(req);
            rec.camera = index;
            rec.event = "offline";
            record(std::move(rec));
            return;
        }
        bSlow = cam.has("slow");
        slowMs = numberArg(cam, "slow", kDefaultSlowMs);
        bStopped = imageStopped(cam);
        bRedirect = cam.has("redirect");
        const auto arg = cam.faultArgs.find("redirect");
        redirectTo = arg == cam.faultArgs.end() || arg->second.empty() ? "/moved/" : arg->second;
    }
    rec.camera = index;
    if (rec.program == "camsim/requests") {
        // The lab's view of what reached this camera: one line per request, oldest first.
        std::string text;
        {
            std::lock_guard lock(recordMutex);
            for (const WebRequestRecord& r : records)
                if (r.camera == index)
                    text += r.method + " " + r.program + " auth=" + (r.bAuthorization ? "1" : "0") +
                            " status=" + std::to_string(r.status) + "\n";
        }
        res.status = 200;
        res.set_content(text, "text/plain");
        return;
    }
    if (bStopped) {
        // A camera that stopped answering: the client gives up first.
        stopping.waitFor(clock.scaled(Millis(kDefaultSlowMs)));
        res.status = 503;
        rec.status = 503;
        rec.event = "stopped";
        record(std::move(rec));
        return;
    }
    if (bSlow && stopping.waitFor(clock.scaled(Millis(slowMs)))) {
        res.status = 503;
        rec.status = 503;
        record(std::move(rec));
        return;
    }

    std::string program = rec.program;
    if (bRedirect && program.rfind(kMovedPrefix, 0) != 0) {
        res.status = 302;
        if (redirectTo == "loop")
            res.set_header("Location", req.target);
        else if (redirectTo != "none")
            res.set_header("Location",
                           redirectTo + program + (rec.query.empty() ? "" : "?" + rec.query));
        res.set_content("<html><body>302 Found</body></html>\r\n", "text/html");
        rec.status = 302;
        rec.event = "redirect";
        record(std::move(rec));
        return;
    }
    if (bRedirect) program.erase(0, kMovedPrefix.size());

    CgiAnswer answer;
    ImageFraming framing = ImageFraming::kWhole;
    std::function<void(std::size_t)> hook;
    bool bDigest = false;
    {
        std::lock_guard lock(fleet.mutex);
        if (index >= fleet.cameras.size()) return;
        SimCamera& cam = fleet.cameras[index];
        bDigest = cam.digestAuth;
        const WebRole given = bDigest ? authenticateDigest(cam, authorization, req.method,
                                                           req.target, nonce, codec, rec.user)
                                      : authenticate(cam, authorization, codec, rec.user);
        if (cam.has("http500")) {
            answer.status = 500;
            answer.body = "<html><body>500 Internal Server Error</body></html>\r\n";
        } else {
            CgiCall call;
            call.program = program;
            for (const auto& [key, value] : req.params) call.params.emplace(key, value);
            const WebRole role = cam.has("http401") ? WebRole::kNone : given;
            if (role == WebRole::kNone || !firmwarePage(cam, clock, call, answer))
                answer = runCgi(cam, call, role, codec);
            if (answer.event == "reboot") firmwareRestart(cam, clock);
            if (answer.status == 200) {
                if (cam.has("wrongtype")) answer.contentType = "application/octet-stream";
                if (cam.has("emptybody")) answer.body.clear();
                if (program == "liveimg.cgi") framing = imageFraming(cam);
            }
        }
        if (answer.bNetworkChanged) hook = fleet.onNetworkChanged;
    }
    // settle() waits for a move announced here, also before its reply has been written.
    if (hook) pendingMoves.fetch_add(1);
    if (answer.status == 401)
        res.set_header("WWW-Authenticate",
                       bDigest ? digestChallenge(nonce) : "Basic realm=\"camera\"");
    res.status = answer.status;
    rec.status = answer.status;
    rec.event = answer.event;
    log.trace(1, "camsim web: camera %zu %s %s -> %d %s", index, rec.method.c_str(),
              rec.program.c_str(), rec.status, rec.event.c_str());
    record(std::move(rec));
    if (!hook) {
        setBody(res, std::move(answer.body), answer.contentType, framing);
        return;
    }
    // The camera moves only once this reply has gone out (the releaser runs after the write,
    // also after a failed one): the address keeper takes the old address off the interface at
    // once, which would cut off a reply still being sent from it. Called without the fleet's
    // lock; the rebind itself runs on the web side's thread.
    auto body = std::make_shared<std::string>(std::move(answer.body));
    res.set_content_provider(
        body->size(), answer.contentType,
        [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return sink.write(body->data() + offset, length);
        },
        [this, hook, index](bool) {
            hook(index);
            pendingMoves.fetch_sub(1);
        });
}

void WebSide::Shared::serveUpload(const std::string& ip, int port, const httplib::Request& req,
                                  httplib::Response& res, const httplib::ContentReader& reader) {
    WebRequestRecord rec;
    rec.method = req.method;
    rec.program = req.path.size() > 1 && req.path[0] == '/' ? req.path.substr(1) : req.path;
    const std::string authorization = req.get_header_value("Authorization");
    rec.bAuthorization = req.has_header("Authorization");
    rec.authScheme = schemeOf(authorization);
    rec.userAgent = req.get_header_value("User-Agent");
    rec.accept = req.get_header_value("Accept");
    std::size_t index = 0;
    WebRole role = WebRole::kNone;
    {
        std::lock_guard lock(fleet.mutex);
        if (!findCamera(ip, port, index)) {
            res.status = 404;
            rec.status = 404;
            record(std::move(rec));
            return;
        }
        rec.camera = index;
        SimCamera& cam = fleet.cameras[index];
        if (rec.program != "cgi-bin/firmup.cgi") {
            res.status = 404;
            rec.status = 404;
            record(std::move(rec));
            return;
        }
        if (firmwareOffline(cam, clock)) {
            dropConnection(req);
            rec.event = "offline";
            record(std::move(rec));
            return;
        }
        role = cam.digestAuth ? authenticateDigest(cam, authorization, req.method, req.target,
                                                   nonce, codec, rec.user)
                              : authenticate(cam, authorization, codec, rec.user);
        if (cam.has("http401")) role = WebRole::kNone;
    }
    if (role != WebRole::kAdmin && role != WebRole::kService) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"camera\"");
        res.set_content("<html><body>401 Unauthorized</body></html>\r\n", "text/html");
        rec.status = 401;
        record(std::move(rec));
        return;
    }
    serveFirmwareUpload(fleet, index, clock, req, res, reader, rec.event, rec.status);
    log.trace(1, "camsim web: camera %zu POST %s -> %d %s", index, rec.program.c_str(), rec.status,
              rec.event.c_str());
    record(std::move(rec));
}

void WebSide::Shared::serveOnvif(const std::string& ip, int port, const httplib::Request& req,
                                 httplib::Response& res, const httplib::ContentReader& reader) {
    WebRequestRecord rec;
    rec.method = req.method;
    rec.program = req.path.substr(1);
    rec.userAgent = req.get_header_value("User-Agent");
    rec.accept = req.get_header_value("Accept");
    std::size_t index = 0;
    SimOnvif device;
    {
        std::lock_guard lock(fleet.mutex);
        if (!findOnvif(ip, port, index)) {
            res.status = 404;
            rec.status = 404;
            record(std::move(rec));
            return;
        }
        device = fleet.cameras[index].onvif;
    }
    rec.camera = index;
    std::string body;
    bool bTooLong = false;
    reader([&](const char* data, std::size_t n) {
        if (body.size() + n > kMaxSoapRequestBytes) {
            bTooLong = true;
            return false;
        }
        body.append(data, n);
        return true;
    });
    if (device.serviceSilent) {
        // Takes the request and never answers: the client's time-out ends it, or the
        // simulator's stop.
        rec.event = "silent";
        record(std::move(rec));
        stopping.waitFor(clock.scaled(Millis(kDefaultSlowMs)));
        dropConnection(req);
        return;
    }
    const SoapAnswer answer =
        bTooLong ? SoapAnswer{413, "", "too large"}
                 : answerDeviceService(device, body, std::chrono::system_clock::now());
    res.status = answer.status;
    if (!answer.body.empty()) res.set_content(answer.body, kSoapContentType);
    rec.status = answer.status;
    rec.event = answer.event;
    log.trace(1, "camsim web: device %zu POST %s -> %d %s", index, rec.program.c_str(), rec.status,
              rec.event.c_str());
    record(std::move(rec));
}

WebSide::WebSide(Fleet& fleet, TraceLog& log, const Clock& clock, std::string codePage,
                 bool bHookFleet)
    : m_fleet(fleet),
      m_log(log),
      m_bHookFleet(bHookFleet),
      m_shared(std::make_shared<Shared>(fleet, log, clock, std::move(codePage))) {}

WebSide::~WebSide() {
    stop();
}

bool WebSide::start() {
    if (m_bStarted) return true;
    if (!m_shared->tls) m_shared->tls = TlsIdentity::builtIn();
    if (!m_shared->freshTls) m_shared->freshTls = TlsIdentity::generate("lanrove-camsim");
    if (!m_shared->legacyTls) m_shared->legacyTls = TlsIdentity::generateLegacy("lanrove-camsim");
    if (!m_shared->tls || !m_shared->freshTls || !m_shared->legacyTls) {
        m_log.trace(1, "camsim web: cannot make the HTTPS certificate");
        return false;
    }
    m_shared->stopping.reset();
    {
        std::lock_guard lock(m_shared->ownerMutex);
        m_shared->owner = this;
    }
    if (m_bHookFleet) {
        std::weak_ptr<Shared> weak = m_shared;
        std::lock_guard lock(m_fleet.mutex);
        auto previous = m_fleet.onNetworkChanged;
        m_fleet.onNetworkChanged = [weak, previous](std::size_t index) {
            if (previous) previous(index);
            if (auto shared = weak.lock()) {
                std::lock_guard g(shared->ownerMutex);
                if (shared->owner != nullptr) shared->owner->follow(index);
            }
        };
        m_bHookFleet = false;  // once per object, also across restarts
    }
    reconcile();
    {
        std::lock_guard lock(m_rebindMutex);
        m_bRebindQuit = false;
        m_bRebindDirty = false;
    }
    m_rebindThread = std::thread([this] { rebindLoop(); });
    m_bStarted = true;
    std::lock_guard lock(m_listenMutex);
    return !m_listeners.empty();
}

void WebSide::stop() {
    {
        std::lock_guard lock(m_shared->ownerMutex);
        m_shared->owner = nullptr;
    }
    m_shared->stopping.set();
    {
        std::lock_guard lock(m_rebindMutex);
        m_bRebindQuit = true;
    }
    m_rebindCv.notify_all();
    if (m_rebindThread.joinable()) m_rebindThread.join();
    std::lock_guard lock(m_listenMutex);
    for (auto& l : m_listeners) l->requestStop();
    for (auto& l : m_listeners) l->stop();
    m_listeners.clear();
    m_bStarted = false;
}

void WebSide::follow(std::size_t /*index*/) {
    // Every listener is checked against the whole fleet: a camera that leaves a shared
    // address must leave the others served.
    {
        std::lock_guard lock(m_rebindMutex);
        m_bRebindDirty = true;
    }
    m_rebindCv.notify_all();
}

bool WebSide::settle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_shared->pendingMoves.load() > 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::unique_lock lock(m_rebindMutex);
    return m_rebindCv.wait_until(
        lock, deadline, [this] { return m_bRebindQuit || (!m_bRebindDirty && !m_bRebindBusy); });
}

void WebSide::rebindLoop() {
    std::unique_lock lock(m_rebindMutex);
    for (;;) {
        m_rebindCv.wait(lock, [this] { return m_bRebindQuit || m_bRebindDirty; });
        if (m_bRebindQuit) break;
        m_bRebindDirty = false;
        m_bRebindBusy = true;
        lock.unlock();
        reconcile();
        lock.lock();
        m_bRebindBusy = false;
        m_rebindCv.notify_all();
    }
}

namespace {

// Reads the request head of a raw connection for a moment (it may be cut short) and records
// what it can tell: method, program, query and credentials.
WebRequestRecord readRawRequest(int c, const WebSide::Listener& l) {
    std::string head;
    char buf[2048];
    for (int i = 0; i < 4 && head.find("\r\n\r\n") == std::string::npos && head.size() < 8192;
         ++i) {
        pollfd cp{c, POLLIN, 0};
        if (::poll(&cp, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(c, buf, sizeof(buf), 0);
        if (n <= 0) break;
        head.append(buf, static_cast<std::size_t>(n));
    }
    WebRequestRecord rec;
    const std::size_t sp1 = head.find(' ');
    const std::size_t sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
    if (!l.bSsl && sp2 != std::string::npos) {
        rec.method = head.substr(0, sp1);
        std::string target = head.substr(sp1 + 1, sp2 - sp1 - 1);
        const std::size_t q = target.find('?');
        if (q != std::string::npos) {
            rec.query = target.substr(q + 1);
            target.resize(q);
        }
        rec.program = !target.empty() && target[0] == '/' ? target.substr(1) : target;
        const std::size_t auth = head.find("\r\nAuthorization: ");
        rec.bAuthorization = auth != std::string::npos;
        if (rec.bAuthorization) {
            const std::size_t start = auth + 17;
            rec.authScheme = head.substr(start, head.find_first_of(" \r", start) - start);
        }
    }
    return rec;
}

// Sends the status line and then an endless header one byte at a time, `interval` apart,
// until the client closes the connection or the listener stops.
void trickle(int c, const WebSide::Listener& l, Millis interval) {
    const std::string status = "HTTP/1.1 200 OK\r\n";
    if (::send(c, status.data(), status.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(status.size()))
        return;
    const std::string filler = "X:\r\n";
    for (std::size_t sent = 0; !l.quit.load(); ++sent) {
        const auto due = std::chrono::steady_clock::now() + interval;
        while (!l.quit.load()) {
            const auto left =
                std::chrono::duration_cast<Millis>(due - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{c, POLLIN | POLLRDHUP, 0};
            if (::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 20))) > 0) {
                char sink[512];
                if ((p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0 ||
                    ::recv(c, sink, sizeof(sink), MSG_DONTWAIT) <= 0)
                    return;  // the client has given up
            }
        }
        if (::send(c, &filler[sent % filler.size()], 1, MSG_NOSIGNAL) != 1) return;
    }
}

// A listener that takes one connection at a time without the server library: "drop" closes
// it without a word, "trickle" answers byte by byte.
void rawLoop(WebSide::Listener& l, const std::shared_ptr<WebSide::Shared>& shared) {
    while (!l.quit.load()) {
        pollfd p{l.rawFd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int c = ::accept4(l.rawFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        WebRequestRecord rec = readRawRequest(c, l);
        long trickleMs = kDefaultTrickleMs;
        {
            std::lock_guard lock(shared->fleet.mutex);
            if (shared->findCamera(l.ip, l.port, rec.camera))
                trickleMs =
                    numberArg(shared->fleet.cameras[rec.camera], "trickle", kDefaultTrickleMs);
        }
        rec.status = 0;
        rec.event = l.raw == RawMode::kTrickle ? "trickle" : "dropped";
        shared->record(std::move(rec));
        if (l.raw == RawMode::kTrickle) trickle(c, l, shared->clock.scaled(Millis(trickleMs)));
        ::close(c);
    }
}

bool startRawListener(WebSide::Listener& l, const std::shared_ptr<WebSide::Shared>& shared) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(l.port));
    if (inet_pton(AF_INET, l.ip.c_str(), &addr.sin_addr) != 1) return false;
    l.rawFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (l.rawFd < 0) return false;
    const int one = 1;
    ::setsockopt(l.rawFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    // Each trickled byte leaves at once, not held back for the previous one's ACK.
    ::setsockopt(l.rawFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (::bind(l.rawFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(l.rawFd, 16) != 0) {
        ::close(l.rawFd);
        l.rawFd = -1;
        return false;
    }
    l.thread = std::thread([&l, shared] { rawLoop(l, shared); });
    return true;
}

bool startHttpListener(WebSide::Listener& l, const std::shared_ptr<WebSide::Shared>& shared) {
    if (l.bSsl) {
        const TlsIdentity& id = l.tls == TlsKind::kLegacy  ? *shared->legacyTls
                                : l.tls == TlsKind::kFresh ? *shared->freshTls
                                                           : *shared->tls;
        std::unique_ptr<httplib::SSLServer> ssl;
        if (l.tls == TlsKind::kLegacy) {
            // What the oldest firmware speaks, and nothing newer. The security level goes
            // down before the 1024-bit key is loaded, which the default level refuses.
            X509* cert = id.certificate();
            EVP_PKEY* key = id.key();
            ssl = std::make_unique<httplib::SSLServer>([cert, key](SSL_CTX& ctx) {
                SSL_CTX_set_security_level(&ctx, 0);
                return SSL_CTX_set_min_proto_version(&ctx, TLS1_VERSION) == 1 &&
                       SSL_CTX_set_max_proto_version(&ctx, TLS1_VERSION) == 1 &&
                       SSL_CTX_set_cipher_list(&ctx, "DEFAULT:@SECLEVEL=0") == 1 &&
                       SSL_CTX_use_certificate(&ctx, cert) == 1 &&
                       SSL_CTX_use_PrivateKey(&ctx, key) == 1;
            });
        } else {
            ssl = std::make_unique<httplib::SSLServer>(id.certificate(), id.key());
        }
        l.server = std::move(ssl);
    } else
        l.server = std::make_unique<httplib::Server>();
    if (!l.server->is_valid()) return false;
    l.server->new_task_queue = [] { return new httplib::ThreadPool(kWorkersPerListener); };
    // Without it the TLS handshake's second small write waits for the client's delayed ACK
    // (40 ms on Linux), which alone eats most of a test's scaled time-out.
    l.server->set_tcp_nodelay(true);
    l.server->set_keep_alive_timeout(1);
    l.server->set_read_timeout(5, 0);
    l.server->set_write_timeout(5, 0);
    const std::string ip = l.ip;
    const int port = l.port;
    std::weak_ptr<WebSide::Shared> weak = shared;
    l.server->Get(".*", [weak, ip, port](const httplib::Request& req, httplib::Response& res) {
        if (auto s = weak.lock()) s->serve(ip, port, req, res);
    });
    l.server->Post(".*", [weak, ip, port](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& reader) {
        auto s = weak.lock();
        if (!s) return;
        if (req.path == "/onvif/device_service")
            s->serveOnvif(ip, port, req, res, reader);
        else
            s->serveUpload(ip, port, req, res, reader);
    });
    if (!l.server->bind_to_port(l.ip, l.port)) return false;
    httplib::Server* server = l.server.get();
    l.thread = std::thread([server] { server->listen_after_bind(); });
    // stop() only acts on a running server: wait until the accept loop has begun.
    for (int i = 0; i < 400 && !server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

}  // namespace

void WebSide::reconcile() {
    struct Want {
        std::string ip;
        int port;
        bool bSsl;
        RawMode raw;
        TlsKind tls;
    };
    std::vector<Want> wants;
    {
        std::lock_guard lock(m_fleet.mutex);
        const auto want = [&wants](const Want& w) {
            for (const Want& have : wants)
                if (have.ip == w.ip && have.port == w.port) return;
            wants.push_back(w);
        };
        for (const SimCamera& cam : m_fleet.cameras) {
            if (cam.ip.empty()) continue;
            // An ONVIF device service of its own port is plain HTTP; on the CGI's port the
            // camera's listener serves it.
            const bool bOwnOnvifPort =
                cam.onvif.enabled && (cam.foreign() || cam.onvif.xaddrPort != cam.port);
            if (cam.foreign() || cam.port <= 0 || cam.port > 65535 || cam.has("closedport")) {
                // nothing listens for CGI: connections are refused
                if (bOwnOnvifPort)
                    want({cam.ip, cam.onvif.xaddrPort, false, RawMode::kNone, TlsKind::kBuiltIn});
                continue;
            }
            bool seen = false;
            for (const Want& w : wants) seen = seen || (w.ip == cam.ip && w.port == cam.port);
            const RawMode raw = cam.has("drop")      ? RawMode::kDrop
                                : cam.has("trickle") ? RawMode::kTrickle
                                                     : RawMode::kNone;
            const bool ssl = cam.has("sslmismatch") ? !cam.ssl : cam.ssl;
            const TlsKind tls = cam.has("legacytls") ? TlsKind::kLegacy
                                : cam.has("newcert") ? TlsKind::kFresh
                                                     : TlsKind::kBuiltIn;
            if (!seen) wants.push_back({cam.ip, cam.port, ssl, raw, tls});
            if (bOwnOnvifPort)
                want({cam.ip, cam.onvif.xaddrPort, false, RawMode::kNone, TlsKind::kBuiltIn});
        }
    }
    std::lock_guard lock(m_listenMutex);
    for (auto it = m_listeners.begin(); it != m_listeners.end();) {
        Listener& l = **it;
        bool keep = false;
        for (const Want& w : wants)
            keep = keep || (w.ip == l.ip && w.port == l.port && w.bSsl == l.bSsl &&
                            w.raw == l.raw && w.tls == l.tls);
        if (keep) {
            ++it;
            continue;
        }
        m_log.trace(1, "camsim web: stop serving %s", l.name().c_str());
        l.stop();
        it = m_listeners.erase(it);
    }
    for (const Want& w : wants) {
        bool have = false;
        for (const auto& l : m_listeners) have = have || (l->ip == w.ip && l->port == w.port);
        if (have) continue;
        auto l = std::make_unique<Listener>();
        l->ip = w.ip;
        l->port = w.port;
        l->bSsl = w.bSsl;
        l->raw = w.raw;
        l->tls = w.tls;
        const bool ok = w.raw != RawMode::kNone ? startRawListener(*l, m_shared)
                                                : startHttpListener(*l, m_shared);
        if (!ok) {
            // An address that is not on this host (a camera moved away): nothing to serve.
            m_log.trace(1, "camsim web: cannot serve %s", l->name().c_str());
            l->stop();
            continue;
        }
        m_log.trace(1, "camsim web: serving %s", l->name().c_str());
        m_listeners.push_back(std::move(l));
    }
}

std::vector<std::string> WebSide::endpoints() const {
    std::lock_guard lock(m_listenMutex);
    std::vector<std::string> out;
    for (const auto& l : m_listeners) out.push_back(l->name());
    return out;
}

std::vector<WebRequestRecord> WebSide::requests() const {
    std::lock_guard lock(m_shared->recordMutex);
    return m_shared->records;
}

void WebSide::clearRequests() {
    std::lock_guard lock(m_shared->recordMutex);
    m_shared->records.clear();
}

}  // namespace lanrove::camsim
