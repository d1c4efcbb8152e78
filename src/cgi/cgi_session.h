#pragma once
// The HTTP layer under the camera client: a session owns one libcurl handle with the session's
// time-outs, and one request at a time runs on it. A request is driven step by step from the
// caller's own thread (no helper threads): the opener runs it until the reply's headers are in
// (GET) or until the server wants the body (POST), and the caller then reads the reply or
// writes the body in pieces. A GET, with any redirects and authentication round trips, must end
// within the session's time-out plus a connection allowance, however slowly data trickles in.
// A POST streams a body of any size, so its waits are bounded by the time-out measured as time
// without progress.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/clock.h"

namespace lanrove {

// Added to a GET's time-out for setting up the connection (protocol milliseconds).
inline constexpr long kCgiConnectAllowanceMs = 2000;
// The User-Agent of every request of a session.
inline constexpr const char* kCgiAgentName = "VidUrav";
// Redirect hops a GET follows.
inline constexpr long kCgiMaxRedirects = 3;

class CgiRequest;
using CgiRequestPtr = std::unique_ptr<CgiRequest>;

class CgiSession {
  public:
    // `timeoutMs` is the protocol time-out in milliseconds; the clock scales it. Returns null
    // when the HTTP library cannot give a handle.
    static std::unique_ptr<CgiSession> create(const Clock& clock, long timeoutMs);
    ~CgiSession();
    CgiSession(const CgiSession&) = delete;
    CgiSession& operator=(const CgiSession&) = delete;

    long timeoutMs() const;    // as created (protocol milliseconds)
    Millis waitLimit() const;  // the scaled time-out
    bool busy() const;         // a request is open on it

    struct Core;

  private:
    explicit CgiSession(std::shared_ptr<Core> core);
    friend class CgiRequest;
    std::shared_ptr<Core> m_core;
};

// The caller-owned session slot: empty means no session.
using CgiSessionSlot = std::unique_ptr<CgiSession>;

// True when `url` parses as an absolute http or https URL with a host.
bool IsHttpUrl(std::string_view url);

// What a TLS handshake showed of the camera.
struct TlsPeer {
    std::string fingerprint;  // SHA-256 of the DER certificate, "AB:CD:..." (upper case)
    std::string protocol;     // "TLSv1", "TLSv1.2", ...
    int keyBits = 0;          // of the certificate's public key
    std::string keyType;      // "RSA", "EC", ...
    std::string signature;    // the certificate's signature algorithm ("sha1WithRSAEncryption")
    // Older than TLS 1.2, an RSA key below 2048 bits or an MD5/SHA-1 signature: what this
    // family's old firmware offers and the system's default TLS settings refuse.
    bool legacy() const;
    // "TLSv1, RSA 1024 bits, sha1WithRSAEncryption"
    std::string describe() const;
};

// Asked during the handshake, before any request byte goes out; false ends the connection.
using TlsPeerCheck = std::function<bool(const TlsPeer&)>;

struct CgiRequestSpec {
    std::string url;                   // wire bytes, scheme http or https
    std::vector<std::string> headers;  // complete "Name: value" lines without line end
    bool bPost = false;
    std::uint64_t bodyLength = 0;  // announced Content-Length of a POST
    // With `bLibraryAuth` the HTTP library answers the server's authentication challenge
    // itself (any method it knows) with these credentials (wire bytes). A GET only.
    bool bLibraryAuth = false;
    std::string user;
    std::string password;
    // HTTPS: the camera's certificate is shown to this check at handshake time (none: any).
    TlsPeerCheck peerCheck;
};

class CgiRequest {
  public:
    // Error codes besides libcurl's own (CURLcode values are below 1000).
    static constexpr int kErrNoHandle = 1001;
    static constexpr int kErrSetup = 1002;
    static constexpr int kErrStalled = 1003;
    static constexpr int kErrStopped = 1004;   // the caller's stop check ended the exchange
    static constexpr int kErrDeadline = 1005;  // the POST's overall deadline passed
    // The handshake's certificate check refused the camera: nothing was sent.
    static constexpr int kErrPeerRefused = 1006;

    // Configures the session's handle for the request and starts it. While another request
    // is open on the session, the new one gets a handle of its own. Returns null when no
    // handle can be set up; `error` tells why.
    static CgiRequestPtr open(CgiSession& session, const CgiRequestSpec& spec, int& error);
    ~CgiRequest();
    CgiRequest(const CgiRequest&) = delete;
    CgiRequest& operator=(const CgiRequest&) = delete;

    // Runs the exchange until the status line and the headers have arrived. False when the
    // transfer failed or stalled first.
    bool waitForHeaders();
    // POST: runs until the server is ready for the body (or the exchange ended early).
    // True when the body can be written.
    bool waitForBodyRequest();
    // Writes one piece of the POST body and runs the transfer until the piece is taken.
    bool write(const void* data, std::size_t length);
    std::uint64_t bytesWritten() const { return m_nWritten; }

    // HTTP status of the final reply, 0 when no reply came. A GET's final reply is the one
    // after any redirects and authentication round trips that the library made.
    int statusCode();
    // Value of the first header of that name (case-insensitive), trimmed; empty if absent.
    std::string header(std::string_view name);
    bool hasHeader(std::string_view name);
    // Values of every header of that name, in order.
    std::vector<std::string> headerValues(std::string_view name);
    // Waits until some body bytes are buffered or the body has ended; returns the number of
    // bytes that a read can take at once now (0 at the end or after a failure).
    std::size_t dataAvailable();
    // Reads up to `max` bytes, waiting for the first one. Returns the count, 0 at the end of
    // the body, -1 when the transfer failed (see error()).
    long read(void* buffer, std::size_t max);

    bool finished() const { return m_bDone; }

    // POST only. The whole exchange (body and answer) ends at `deadline`, however slowly the
    // server keeps reading; without one only the no-progress limit applies.
    void setDeadline(std::chrono::steady_clock::time_point deadline);
    // POST only. While the server has not yet taken the whole body, a true `stop()` ends the
    // exchange (kErrStopped); once it has, the answer is waited for within the limits.
    void setStopCheck(std::function<bool()> stop);
    // The server has taken every byte of the body: all of it written and the connection's
    // send queue seen empty (or its answer has begun).
    bool bodyDelivered() const { return m_bDelivered; }
    // Last failure: a libcurl code, one of the kErr values above, or 0.
    int error() const { return m_nError; }
    // The last TLS handshake's camera (empty fingerprint: none took place on this request).
    const TlsPeer& peer() const { return m_peer; }
    bool peerRefused() const { return m_bPeerRefused; }
    // Ends the exchange; a connection with unread data is closed, not reused.
    void close();

    struct Callbacks;

  private:
    explicit CgiRequest(std::shared_ptr<CgiSession::Core> core);
    static CgiRequestPtr start(CgiSession& session, const CgiRequestSpec& spec, int& error);
    template <class Pred>
    bool pump(Pred pred);
    void fail(int error);
    void drainMessages();
    void resumeIfPossible();

    friend struct Callbacks;
    std::shared_ptr<CgiSession::Core> m_core;
    bool m_bAttached = false;
    bool m_bDone = false;
    int m_nError = 0;
    std::uint64_t m_nProgress = 0;
    // GET: the end of the whole exchange.
    std::chrono::steady_clock::time_point m_deadline;
    // Reply
    int m_nStatus = 0;
    // The headers of the current reply have ended. On a GET the library may still answer
    // that reply itself (redirect, authentication), so they count as final only when its body
    // starts or the exchange ends.
    bool m_bReplyHeadersEnded = false;
    // A status line counts only where a reply begins: first, or after the blank line that ended
    // the previous one (an interim, redirect or challenge reply).
    bool m_bAtReplyStart = true;
    bool m_bHeadersDone = false;
    std::vector<std::pair<std::string, std::string>> m_headers;
    std::string m_body;
    std::size_t m_nBodyPos = 0;
    bool m_bRecvPaused = false;
    // Request body
    bool m_bPost = false;
    bool m_bBodyRequested = false;
    bool m_bSendPaused = false;
    std::string m_upload;
    std::size_t m_nUploadPos = 0;
    std::uint64_t m_nWritten = 0;
    std::uint64_t m_nBodyLength = 0;
    // Bytes in the connection's send queue at the last look (-1: unknown); a change counts as
    // progress, since a slow reader drains it long after the last piece was handed over.
    long m_nSendQueue = -1;
    bool m_bDelivered = false;
    bool m_bHasDeadline = false;
    std::chrono::steady_clock::time_point m_postDeadline;
    std::function<bool()> m_stop;
    void* m_pHeaderList = nullptr;
    // TLS
    TlsPeerCheck m_peerCheck;
    TlsPeer m_peer;
    bool m_bPeerRefused = false;
};

}  // namespace lanrove
