#pragma once
// CCGI: the HTTP client through which the program talks to a camera's CGI programs. It keeps
// no state of its own: every operation takes the camera's record and a session slot that
// belongs to the caller, and returns a result code. The collaborators (clock for every wait,
// trace log, code page of the wire texts) are passed in once.
//
// Result codes: 0 success, 400 failure of any kind, 408 a transfer fault in SendCommand, and
// kCgiNoCameraNumber from GetSessionAndCommandSend. Nothing throws out of this class.

#include <cstdint>
#include <string>
#include <string_view>

#include "cgi/camera_trust.h"
#include "cgi/cgi_parse.h"
#include "cgi/cgi_session.h"
#include "discovery/camera_entry.h"
#include "support/clock.h"
#include "support/text.h"
#include "support/trace_log.h"

namespace lanrove {

inline constexpr int kCgiOk = 0;
inline constexpr int kCgiFailed = 400;
inline constexpr int kCgiException = 408;
// A record without camera number (the platform's invalid-pointer code, positive here so that
// "400 or more is a failure" holds for it too).
inline constexpr long kCgiNoCameraNumber = 0x80004003L;

// Session time-outs in protocol milliseconds.
inline constexpr long kCgiTimeoutMs = 10000;
inline constexpr long kCgiKeepAliveTimeoutMs = 30000;
inline constexpr long kCgiCommandTimeoutMs = 30000;
inline constexpr long kCgiRecordWriteTimeoutMs = 18000;
inline constexpr long kCgiRetryPauseMs = 5000;

// The fixed accounts of the cameras.
inline constexpr const char16_t* kViewerUser = u"pelma";
inline constexpr const char16_t* kViewerPassword = u"pelma";

// Outcome of reading a status reply body.
enum class TextReply {
    kText,       // text was read
    kNoText,     // wrong Content-Type or empty body: nothing to parse, not a failure
    kReadError,  // the transfer failed while reading
};

class CCGI {
  public:
    CCGI(const Clock& clock, TraceLog& log, const WireCodec& codec);

    // ---- Engine ----

    // Base URL "scheme://ip:port/" from the record's texts, or "ERROR" when the IP text
    // carries the scheme that the SSL text contradicts (or a scheme not at its start).
    static std::u16string MakeBaseUrl(std::u16string_view ip, std::u16string_view port,
                                      std::u16string_view ssl);
    // Base URL of a record in wire bytes.
    std::string BaseUrl(const CameraEntry& entry) const;
    static std::string Base64(std::string_view bytes);
    // "Basic <base64(user:password)>" with the credentials in the wire code page.
    std::string BasicCredentials(std::u16string_view user, std::u16string_view password) const;

    // Puts a new session with time-out `timeoutMs` into the slot, closing the old one first.
    // `bClear` starts it with an empty credential state (logged). False when none was made.
    bool CreateSession(CgiSessionSlot& slot, long timeoutMs, bool bClear);

    // GET `url` with the fixed headers and Basic credentials sent with the first request.
    // Redirects are followed (a few hops, credentials to the first host only). A 401 whose
    // challenge is not Basic gets one more request in which the HTTP library answers the
    // challenge itself. Returns the open request when the final reply is below 300 (status 0);
    // a reply of 400 or more stores its status and returns none; a failed exchange, or a
    // redirect that was not followed, stores 400.
    // With the camera's `mac` and a trust store set, nothing goes to a camera that the search
    // marked as spoofed, and an HTTPS camera's certificate must match its pin at handshake
    // time, before the credentials are sent.
    CgiRequestPtr OpenSession(CgiSession* session, std::string_view url, std::u16string_view user,
                              std::u16string_view password, int& status,
                              std::u16string_view mac = {});
    // POST opener: sends the headers (the caller's `extraHeaders` lines, Basic credentials,
    // Content-Length `bodyLength`) and returns the request ready for the body, which the
    // caller writes in pieces with CgiRequest::write and then reads the reply.
    CgiRequestPtr OpenPostSession(CgiSession* session, std::string_view url,
                                  std::u16string_view user, std::u16string_view password,
                                  std::string_view extraHeaders, std::uint64_t bodyLength,
                                  int& status, std::u16string_view mac = {});

    // Login check on cgi-bin/lang.cgi with the record's credentials in a new session
    // (time-out 10000 ms, cleared when asked). 0 or 400.
    int ConnectInitSess(const CameraEntry& entry, CgiSessionSlot& slot, bool bClear);
    // The same while waiting for a camera: time-out 30000 ms, never cleared.
    int ConnectInitSessKeepAlive(const CameraEntry& entry, CgiSessionSlot& slot);
    // Command GET of `path` whose reply must have a body; reuses the slot's session or makes
    // one with `timeoutMs`. 0 or 400.
    int ConnectInitSess(long timeoutMs, const CameraEntry& entry, CgiSessionSlot& slot,
                        std::string_view path, bool bClear);
    // GET of `path` on the slot's session. With `request` given the open request is handed
    // over (the caller reads and closes it). 0, 400 or 408.
    int SendCommand(const CameraEntry& entry, CgiSessionSlot& slot, std::string_view path,
                    CgiRequestPtr* request = nullptr);
    // Login check plus command, repeated with 5000 ms pauses until it succeeds or `timeoutMs`
    // has passed; always at least one attempt. Returns the last SendCommand code.
    long GetSessionAndCommandSend(const CameraEntry& entry, CgiSessionSlot& slot,
                                  std::string_view path, long timeoutMs, bool bClear);
    // Reads a whole text body when its Content-Type equals `expectedType` (case-insensitive,
    // whole text). `error` gets the transfer error of kReadError.
    TextReply ReadTextReply(CgiRequest& request, std::string_view expectedType, std::string& text,
                            int& error);
    // 1 when the camera's address lies outside the adapter's subnet (network and broadcast
    // addresses and the zero address count as inside; a camera address, adapter address or
    // mask that does not read as IPv4 counts as outside, so nothing is sent to it).
    static int IsOutsideHostSubnet(std::string_view adapterIp, std::string_view adapterMask,
                                   std::string_view cameraIp);

    // ---- Commands ----

    // cgi-bin/net.cgi with the new title, SSL flag and port, sent to the new address on the
    // current port and scheme with the new credentials. Reply must be non-empty text/html.
    int SetNetCgi(CgiSessionSlot& slot, const CameraEntry& newEntry, const CameraEntry& curEntry);
    // codec_stream.cgi?status=1 with the viewer account: fills nRtspRtp and wAspectRatio.
    int GetCodecStreamCgi(long timeoutMs, CgiSessionSlot& slot, CameraEntry& entry);
    // cam_set.cgi?status=1 with the viewer account: fills the fields selected by wProtoVer.
    int ReqGetCamSetCgi(CgiSessionSlot& slot, CameraEntry& entry);
    // Form-(2) commands of the firmware update (record's credentials, no clearing).
    int SetCodecAspectCgi(CgiSessionSlot& slot, const CameraEntry& entry, std::uint16_t ratio);
    int SetRebootCommand(CgiSessionSlot& slot, const CameraEntry& entry);
    int SetSDHDDUnmountCommand(CgiSessionSlot& slot, const CameraEntry& entry);
    // record.cgi?status=1 through SendCommand; the open request goes to the caller, who reads
    // the reply and parses it with ParseRecordSettings.
    int ReqGetRecordCgi(CgiSessionSlot& slot, const CameraEntry& entry, CgiRequestPtr& request);
    // The write-back path "cgi-bin/record.cgi?status=1&k=v..." (logged), or empty when there
    // is nothing to restore.
    std::string MakeRecordWritePath(const CameraEntry& entry, const RecordSettings& saved,
                                    const RecordSettings& current, bool bCurrentRead);
    int SetRecordCgi(CgiSessionSlot& slot, const CameraEntry& entry, std::string_view path);
    // Factory default (opecmd.cgi?ope=36&num=N) with the retrying sender, 30000 ms.
    long SetFactoryDefaultCommand(CgiSessionSlot& slot, const CameraEntry& entry, int num);
    // discon3.cgi and the firmup.cgi result page: GET on the slot's session (made with
    // 30000 ms when missing); with `request` given the open request goes to the caller.
    int ReqGetDiscon3Cgi(CgiSessionSlot& slot, const CameraEntry& entry,
                         CgiRequestPtr* request = nullptr);
    int ReqGetFirmupCgi(CgiSessionSlot& slot, const CameraEntry& entry,
                        CgiRequestPtr* request = nullptr);

    // Paths of the commands (for callers that run their own retry loops).
    static std::string AspectRatioPath(std::uint16_t ratio);
    static std::string RebootPath(long long secondsSince1970);
    static std::string FactoryDefaultPath(int num);
    std::string NetCgiPath(const CameraEntry& newEntry) const;

    // The certificate pins and spoof marks that every camera request obeys (none: no checks).
    // The store outlives this object's requests.
    void SetTrust(CameraTrust* trust) { m_pTrust = trust; }
    CameraTrust* trust() const { return m_pTrust; }
    // False (and the refusal told) when nothing may go to the camera `mac`; otherwise sets the
    // handshake's certificate check of `spec`. For requests made outside this client.
    bool GuardRequest(std::u16string_view mac, CgiRequestSpec& spec);

    const WireCodec& codec() const { return m_codec; }
    const Clock& clock() const { return m_clock; }

  private:
    std::string cameraNo(const CameraEntry& entry) const;
    // GET `url` on the slot's session with the credentials of the record `account`.
    CgiRequestPtr openAsRecord(CgiSessionSlot& slot, const std::string& url,
                               const CameraEntry& account, int& status);
    // True when a 401 reply challenges, and none of its challenges is Basic.
    static bool wantsOtherAuthentication(CgiRequest& request);
    // Reads what the reply has buffered; true when there was a body and it read cleanly.
    static bool answeredWithBody(CgiRequest& request);
    // The login check on lang.cgi in a new session: 10000 ms (cleared when asked), or
    // 30000 ms while waiting for a camera.
    int loginCheck(const CameraEntry& entry, CgiSessionSlot& slot, bool bKeepAlive, bool bClear);
    int commandGet(CgiSessionSlot& slot, const CameraEntry& entry, std::string_view path,
                   CgiRequestPtr* request);
    TextReply statusRequest(long timeoutMs, CgiSessionSlot& slot, const CameraEntry& entry,
                            std::string_view path, std::string& text, int& result, int& readError);

    const Clock& m_clock;
    TraceLog& m_log;
    const WireCodec& m_codec;
    CameraTrust* m_pTrust = nullptr;
};

}  // namespace lanrove
