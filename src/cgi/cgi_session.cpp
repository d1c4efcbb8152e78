#include "cgi/cgi_session.h"

#include <curl/curl.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>

#include "support/text.h"

namespace lanrove {

namespace {

// Bytes not yet acknowledged by the peer in the send queue of socket `fd`, -1 when unknown.
long sendQueueBytes(int fd) {
    if (fd < 0) return -1;
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) != 0) return -1;
    return queued;
}

// Unread reply bytes beyond this pause the transfer until the caller reads.
constexpr std::size_t kMaxPending = std::size_t{16} * 1024 * 1024;
constexpr std::size_t kMaxHeaders = 256;

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::string hexColons(const unsigned char* data, unsigned length) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        if (i > 0) out += ':';
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

// The camera's certificate as the handshake shows it.
TlsPeer peerOf(X509* cert, const SSL* ssl) {
    TlsPeer peer;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (X509_digest(cert, EVP_sha256(), md, &length) == 1) peer.fingerprint = hexColons(md, length);
    if (ssl != nullptr) peer.protocol = SSL_get_version(ssl);
    if (EVP_PKEY* key = X509_get0_pubkey(cert)) {
        peer.keyBits = EVP_PKEY_get_bits(key);
        const int id = EVP_PKEY_get_base_id(key);
        peer.keyType = id == EVP_PKEY_RSA ? "RSA" : id == EVP_PKEY_EC ? "EC" : OBJ_nid2sn(id);
    }
    const int sig = X509_get_signature_nid(cert);
    if (sig != NID_undef) peer.signature = OBJ_nid2ln(sig);
    return peer;
}

}  // namespace

bool TlsPeer::legacy() const {
    const bool oldProtocol = protocol == "TLSv1" || protocol == "TLSv1.1" || protocol == "SSLv3";
    const bool weakKey = keyType == "RSA" && keyBits > 0 && keyBits < 2048;
    const bool weakSignature =
        signature.find("sha1") != std::string::npos || signature.find("md5") != std::string::npos ||
        signature.find("SHA1") != std::string::npos || signature.find("MD5") != std::string::npos;
    return oldProtocol || weakKey || weakSignature;
}

std::string TlsPeer::describe() const {
    return protocol + ", " + keyType + " " + std::to_string(keyBits) + " bits, " + signature;
}

struct CgiSession::Core {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    long timeoutMs = 0;
    Millis limit{1};    // the time-out
    Millis overall{1};  // a whole GET
    std::atomic<bool> busy{false};
    // The socket of the handle's newest connection (libcurl gives no socket while a transfer
    // runs), -1 when it is closed.
    int socket = -1;

    static int onSocketOpened(void* core, curl_socket_t fd, curlsocktype) {
        static_cast<Core*>(core)->socket = fd;
        return CURL_SOCKOPT_OK;
    }
    static int onSocketClosed(void* core, curl_socket_t fd) {
        Core* c = static_cast<Core*>(core);
        if (c->socket == fd) c->socket = -1;
        return ::close(fd);
    }

    ~Core() {
        if (easy != nullptr) curl_easy_cleanup(easy);
        if (multi != nullptr) curl_multi_cleanup(multi);
    }
};

CgiSession::CgiSession(std::shared_ptr<Core> core) : m_core(std::move(core)) {}
CgiSession::~CgiSession() = default;

std::unique_ptr<CgiSession> CgiSession::create(const Clock& clock, long timeoutMs) try {
    globalInit();
    auto core = std::make_shared<Core>();
    core->multi = curl_multi_init();
    core->easy = curl_easy_init();
    if (core->multi == nullptr || core->easy == nullptr) return nullptr;
    core->timeoutMs = timeoutMs;
    core->limit = std::max(Millis(1), clock.scaled(Millis(timeoutMs)));
    core->overall = std::max(Millis(1), clock.scaled(Millis(timeoutMs + kCgiConnectAllowanceMs)));
    return std::unique_ptr<CgiSession>(new CgiSession(std::move(core)));
} catch (...) {
    return nullptr;
}

bool IsHttpUrl(std::string_view url) {
    globalInit();
    CURLU* h = curl_url();
    if (h == nullptr) return false;
    bool ok = false;
    const std::string text(url);
    if (curl_url_set(h, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        if (curl_url_get(h, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(h, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
            const std::string_view s(scheme);
            ok = (s == "http" || s == "https") && host[0] != 0;
        }
        curl_free(scheme);
        curl_free(host);
    }
    curl_url_cleanup(h);
    return ok;
}

long CgiSession::timeoutMs() const {
    return m_core->timeoutMs;
}
Millis CgiSession::waitLimit() const {
    return m_core->limit;
}
bool CgiSession::busy() const {
    return m_core->busy.load();
}

// libcurl calls these on the caller's thread from inside curl_multi_perform.
struct CgiRequest::Callbacks {
    // No exception may unwind through libcurl: a failed allocation ends the transfer.
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
        try {
            return header(data, size, count, user);
        } catch (...) {
            return 0;
        }
    }
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        try {
            return body(data, size, count, user);
        } catch (...) {
            return 0;
        }
    }

    static std::size_t header(char* data, std::size_t size, std::size_t count, void* user) {
        auto* r = static_cast<CgiRequest*>(user);
        const std::size_t len = size * count;
        ++r->m_nProgress;
        const std::string_view line = trim(std::string_view(data, len));
        if (r->m_bAtReplyStart && line.substr(0, 5) == "HTTP/") {
            // A new reply (also after an interim 1xx one, a redirect or a challenge).
            r->m_bAtReplyStart = false;
            r->m_headers.clear();
            r->m_bReplyHeadersEnded = false;
            r->m_bHeadersDone = false;
            r->m_nStatus = 0;
            const std::size_t sp = line.find(' ');
            if (sp != std::string_view::npos) {
                int code = 0;
                std::size_t i = sp + 1;
                for (int digits = 0; i < line.size() && digits < 3 &&
                                     std::isdigit(static_cast<unsigned char>(line[i]));
                     ++i, ++digits)
                    code = code * 10 + (line[i] - '0');
                r->m_nStatus = code;
            }
        } else if (line.empty()) {
            r->m_bAtReplyStart = true;
            if (r->m_nStatus >= 200) {
                r->m_bReplyHeadersEnded = true;
                // A POST is never answered by the library itself.
                if (r->m_bPost) r->m_bHeadersDone = true;
            }
        } else if (r->m_headers.size() < kMaxHeaders) {
            const std::size_t colon = line.find(':');
            if (colon != std::string_view::npos)
                r->m_headers.emplace_back(std::string(trim(line.substr(0, colon))),
                                          std::string(trim(line.substr(colon + 1))));
        }
        return len;
    }

    static std::size_t body(char* data, std::size_t size, std::size_t count, void* user) {
        auto* r = static_cast<CgiRequest*>(user);
        const std::size_t len = size * count;
        // The library passes no body of a reply that it answers itself (redirect,
        // authentication challenge): a body means these are the final headers.
        if (r->m_bReplyHeadersEnded) r->m_bHeadersDone = true;
        if (r->m_body.size() - r->m_nBodyPos >= kMaxPending) {
            r->m_bRecvPaused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (r->m_nBodyPos > 0 && r->m_nBodyPos == r->m_body.size()) {
            r->m_body.clear();
            r->m_nBodyPos = 0;
        } else if (r->m_nBodyPos > (1u << 20) && r->m_nBodyPos * 2 > r->m_body.size()) {
            r->m_body.erase(0, r->m_nBodyPos);
            r->m_nBodyPos = 0;
        }
        r->m_body.append(data, len);
        ++r->m_nProgress;
        return len;
    }

    // OpenSSL's certificate check of each handshake: the camera's certificate goes to the
    // request's check before the request itself is sent. The chain is not verified (cameras
    // sign their own), so only the check decides.
    static int onVerify(X509_STORE_CTX* store, void* user) {
        try {
            auto* r = static_cast<CgiRequest*>(user);
            X509* cert = X509_STORE_CTX_get0_cert(store);
            if (cert == nullptr) return 0;
            const auto* ssl = static_cast<const SSL*>(
                X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
            r->m_peer = peerOf(cert, ssl);
            if (r->m_peerCheck && !r->m_peerCheck(r->m_peer)) {
                r->m_bPeerRefused = true;
                X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
                return 0;
            }
            return 1;
        } catch (...) {
            return 0;
        }
    }
    static CURLcode onSslContext(CURL* /*easy*/, void* context, void* user) {
        auto* ctx = static_cast<SSL_CTX*>(context);
        // Verify mode "peer" so that a refusal ends the handshake; the callback replaces the
        // chain verification.
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(ctx, &Callbacks::onVerify, user);
        // The oldest cameras offer TLS 1.0 with 1024-bit RSA and SHA-1 certificates; the
        // pinned certificate is what protects these connections.
        SSL_CTX_set_security_level(ctx, 0);
        return CURLE_OK;
    }

    static std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* user) {
        auto* r = static_cast<CgiRequest*>(user);
        r->m_bBodyRequested = true;
        const std::size_t avail = r->m_upload.size() - r->m_nUploadPos;
        if (avail == 0) {
            r->m_bSendPaused = true;
            return CURL_READFUNC_PAUSE;
        }
        const std::size_t n = std::min(avail, size * count);
        std::memcpy(buffer, r->m_upload.data() + r->m_nUploadPos, n);
        r->m_nUploadPos += n;
        r->m_nWritten += n;
        if (r->m_nUploadPos == r->m_upload.size()) {
            r->m_upload.clear();
            r->m_nUploadPos = 0;
        }
        ++r->m_nProgress;
        return n;
    }
};

CgiRequest::CgiRequest(std::shared_ptr<CgiSession::Core> core) : m_core(std::move(core)) {}

CgiRequest::~CgiRequest() {
    close();
}

CgiRequestPtr CgiRequest::open(CgiSession& session, const CgiRequestSpec& spec, int& error) {
    try {
        return start(session, spec, error);
    } catch (...) {
        error = kErrSetup;
        return nullptr;
    }
}

CgiRequestPtr CgiRequest::start(CgiSession& session, const CgiRequestSpec& spec, int& error) {
    std::shared_ptr<CgiSession::Core> core = session.m_core;
    if (core->busy.exchange(true)) {
        // The session's handle carries a request that its holder has not closed yet: this
        // one runs on a handle of its own with the same time-outs, as a second connection.
        auto own = std::make_shared<CgiSession::Core>();
        own->multi = curl_multi_init();
        own->easy = curl_easy_init();
        if (own->multi == nullptr || own->easy == nullptr) {
            error = kErrNoHandle;
            return nullptr;
        }
        own->timeoutMs = core->timeoutMs;
        own->limit = core->limit;
        own->overall = core->overall;
        own->busy.store(true);
        core = std::move(own);
    }
    // From here the request object owns the busy mark and gives it back when it closes.
    CgiRequestPtr req;
    try {
        req.reset(new CgiRequest(core));
    } catch (...) {
        core->busy.store(false);
        throw;
    }
    CURL* e = core->easy;
    curl_easy_reset(e);  // keeps the live connections of the handle
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(e, option, value) == CURLE_OK;
    };
    const long limitMs = static_cast<long>(core->limit.count());
    const long overallMs = static_cast<long>(core->overall.count());
    set(CURLOPT_SOCKOPTFUNCTION, &CgiSession::Core::onSocketOpened);
    set(CURLOPT_SOCKOPTDATA, static_cast<void*>(core.get()));
    set(CURLOPT_CLOSESOCKETFUNCTION, &CgiSession::Core::onSocketClosed);
    set(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(core.get()));
    set(CURLOPT_URL, spec.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROXY, "");  // direct access, whatever the environment says
    set(CURLOPT_NOPROXY, "*");
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_USERAGENT, kCgiAgentName);
    set(CURLOPT_CONNECTTIMEOUT_MS, limitMs);
    if (spec.bPost) {
        set(CURLOPT_FOLLOWLOCATION, 0L);
    } else {
        // A few redirect hops, over HTTP(S) only. Credentials go to the first host only: the
        // library keeps both its own and our Authorization header from any other host, port
        // or scheme.
        set(CURLOPT_FOLLOWLOCATION, 1L);
        set(CURLOPT_MAXREDIRS, kCgiMaxRedirects);
        set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        set(CURLOPT_UNRESTRICTED_AUTH, 0L);
        // The whole exchange, not only the time between two pieces of data.
        set(CURLOPT_TIMEOUT_MS, overallMs);
        req->m_deadline = std::chrono::steady_clock::now() + core->overall;
        if (spec.bLibraryAuth) {
            set(CURLOPT_HTTPAUTH, CURLAUTH_ANY);
            set(CURLOPT_USERNAME, spec.user.c_str());
            set(CURLOPT_PASSWORD, spec.password.c_str());
        }
    }
    // Cameras present self-signed certificates: the TLS callbacks check them against the pin.
    set(CURLOPT_SSL_VERIFYPEER, 0L);
    set(CURLOPT_SSL_VERIFYHOST, 0L);
    set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_0));
    set(CURLOPT_SSL_CIPHER_LIST, "DEFAULT:@SECLEVEL=0");
    req->m_peerCheck = spec.peerCheck;
    set(CURLOPT_SSL_CTX_FUNCTION, &Callbacks::onSslContext);
    set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(req.get()));
    set(CURLOPT_HEADERFUNCTION, &Callbacks::onHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(req.get()));
    set(CURLOPT_WRITEFUNCTION, &Callbacks::onBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(req.get()));

    curl_slist* list = nullptr;
    auto add = [&](const std::string& line) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (next == nullptr)
            ok = false;
        else
            list = next;
    };
    for (const auto& h : spec.headers) add(h);
    if (spec.bPost) {
        // No "Expect: 100-continue" round trip, and no headers the caller did not ask for
        // (the library would add an Accept and a form Content-Type).
        add("Expect:");
        auto given = [&spec](std::string_view name) {
            for (const auto& h : spec.headers)
                if (h.size() >= name.size() &&
                    asciiEqualsNoCase(std::string_view(h).substr(0, name.size()), name))
                    return true;
            return false;
        };
        if (!given("Accept:")) add("Accept:");
        if (!given("Content-Type:")) add("Content-Type:");
        req->m_bPost = true;
        req->m_nBodyLength = spec.bodyLength;
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(spec.bodyLength));
        set(CURLOPT_READFUNCTION, &Callbacks::onRead);
        set(CURLOPT_READDATA, static_cast<void*>(req.get()));
    } else {
        set(CURLOPT_HTTPGET, 1L);
    }
    req->m_pHeaderList = list;
    set(CURLOPT_HTTPHEADER, list);
    if (!ok) {
        error = kErrSetup;
        return nullptr;
    }
    if (curl_multi_add_handle(core->multi, e) != CURLM_OK) {
        error = kErrSetup;
        return nullptr;
    }
    req->m_bAttached = true;
    error = 0;
    return req;
}

void CgiRequest::close() {
    if (m_core == nullptr) return;
    if (m_bAttached) curl_multi_remove_handle(m_core->multi, m_core->easy);
    m_bAttached = false;
    if (m_pHeaderList != nullptr) {
        // The handle still points at the list until its next reset; clear that first.
        curl_easy_setopt(m_core->easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
        curl_slist_free_all(static_cast<curl_slist*>(m_pHeaderList));
        m_pHeaderList = nullptr;
    }
    if (!m_bDone) {
        m_bDone = true;
        if (m_nError == 0 && !m_bHeadersDone) m_nError = CURLE_ABORTED_BY_CALLBACK;
    }
    m_core->busy.store(false);
    m_core.reset();
}

void CgiRequest::fail(int error) {
    if (!m_bDone) {
        m_bDone = true;
        m_nError = error;
    }
    if (m_bAttached && m_core != nullptr) {
        curl_multi_remove_handle(m_core->multi, m_core->easy);
        m_bAttached = false;
    }
}

void CgiRequest::drainMessages() {
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_core->multi, &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_core->easy && !m_bDone) {
            m_bDone = true;
            m_nError = msg->data.result == CURLE_OK ? 0 : static_cast<int>(msg->data.result);
            if (m_bPeerRefused) m_nError = kErrPeerRefused;
            // A reply without body: its headers are the final ones when the exchange ended
            // well (a redirect cut off by the hop limit, for one, ends with an error).
            if (m_nError == 0 && m_bReplyHeadersEnded) m_bHeadersDone = true;
        }
    }
}

template <class Pred>
bool CgiRequest::pump(Pred pred) {
    if (pred()) return true;
    if (!m_bAttached || m_bDone || m_core == nullptr) return false;
    CgiSession::Core& core = *m_core;
    auto last = std::chrono::steady_clock::now();
    std::uint64_t seen = m_nProgress;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(core.multi, &running) != CURLM_OK) {
            fail(kErrSetup);
            return pred();
        }
        drainMessages();
        if (pred()) return true;
        if (m_bDone) return false;
        const auto now = std::chrono::steady_clock::now();
        long long left = 0;
        if (m_bPost) {
            // The time since the last piece of data, counting the server's reading of what
            // the connection still holds.
            const long queued = sendQueueBytes(core.socket);
            if (queued != m_nSendQueue) {
                m_nSendQueue = queued;
                ++m_nProgress;
            }
            const bool allWritten = m_nWritten >= m_nBodyLength && m_nUploadPos >= m_upload.size();
            if (m_bHeadersDone || m_bReplyHeadersEnded || (allWritten && queued == 0))
                m_bDelivered = true;
            if (m_nProgress != seen) {
                seen = m_nProgress;
                last = now;
            }
            if (!m_bDelivered && m_stop && m_stop()) {
                fail(kErrStopped);
                return pred();
            }
            if (m_bHasDeadline && now >= m_postDeadline) {
                fail(kErrDeadline);
                return pred();
            }
            const auto idle = std::chrono::duration_cast<Millis>(now - last);
            if (idle >= core.limit) {
                fail(kErrStalled);
                return pred();
            }
            left = (core.limit - idle).count();
            if (m_bHasDeadline)
                left = std::min<long long>(
                    left, std::chrono::duration_cast<Millis>(m_postDeadline - now).count() + 1);
        } else {
            // The whole exchange: the library's own limit, kept here too.
            if (now >= m_deadline) {
                fail(CURLE_OPERATION_TIMEDOUT);
                return pred();
            }
            left = std::chrono::duration_cast<Millis>(m_deadline - now).count() + 1;
        }
        const int waitMs = static_cast<int>(std::clamp<long long>(left, 1, 50));
        curl_multi_poll(core.multi, nullptr, 0, waitMs, nullptr);
    }
}

void CgiRequest::setDeadline(std::chrono::steady_clock::time_point deadline) {
    m_postDeadline = deadline;
    m_bHasDeadline = true;
}

void CgiRequest::setStopCheck(std::function<bool()> stop) {
    m_stop = std::move(stop);
}

bool CgiRequest::waitForHeaders() {
    return pump([this] { return m_bHeadersDone; });
}

bool CgiRequest::waitForBodyRequest() {
    if (!m_bPost) return false;
    pump([this] { return m_bBodyRequested || m_bHeadersDone; });
    return m_bBodyRequested && !m_bDone;
}

bool CgiRequest::write(const void* data, std::size_t length) {
    if (!m_bPost || !m_bAttached || m_bDone) return false;
    if (length == 0) return true;
    try {
        m_upload.append(static_cast<const char*>(data), length);
    } catch (...) {
        return false;
    }
    if (m_bSendPaused) {
        m_bSendPaused = false;
        curl_easy_pause(m_core->easy, m_bRecvPaused ? CURLPAUSE_RECV : CURLPAUSE_CONT);
    }
    return pump([this] { return m_nUploadPos >= m_upload.size(); });
}

int CgiRequest::statusCode() {
    return waitForHeaders() ? m_nStatus : 0;
}

std::string CgiRequest::header(std::string_view name) {
    waitForHeaders();
    try {
        for (const auto& [key, value] : m_headers)
            if (asciiEqualsNoCase(key, name)) return value;
    } catch (...) {
    }
    return {};
}

std::vector<std::string> CgiRequest::headerValues(std::string_view name) {
    waitForHeaders();
    std::vector<std::string> values;
    for (const auto& [key, value] : m_headers)
        if (asciiEqualsNoCase(key, name)) values.push_back(value);
    return values;
}

bool CgiRequest::hasHeader(std::string_view name) {
    waitForHeaders();
    for (const auto& kv : m_headers)
        if (asciiEqualsNoCase(kv.first, name)) return true;
    return false;
}

void CgiRequest::resumeIfPossible() {
    if (m_bRecvPaused && m_bAttached && !m_bDone && m_body.size() - m_nBodyPos < kMaxPending / 2) {
        m_bRecvPaused = false;
        curl_easy_pause(m_core->easy, m_bSendPaused ? CURLPAUSE_SEND : CURLPAUSE_CONT);
    }
}

std::size_t CgiRequest::dataAvailable() {
    pump([this] { return m_body.size() > m_nBodyPos || m_bDone; });
    return m_body.size() - m_nBodyPos;
}

long CgiRequest::read(void* buffer, std::size_t max) {
    if (max == 0) return 0;
    pump([this] { return m_body.size() > m_nBodyPos || m_bDone; });
    const std::size_t n = std::min(m_body.size() - m_nBodyPos, max);
    if (n > 0) {
        std::memcpy(buffer, m_body.data() + m_nBodyPos, n);
        m_nBodyPos += n;
        resumeIfPossible();
        return static_cast<long>(n);
    }
    return m_bDone && m_nError == 0 ? 0 : -1;
}

}  // namespace lanrove
