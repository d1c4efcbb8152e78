#include "cgi/cgi.h"

#include <algorithm>
#include <vector>

#include "discovery/ipv4_address.h"
#include "support/base64.h"

namespace lanrove {

namespace {

constexpr std::size_t kMaxTextReply = 1048576;  // status replies are small; stay bounded

// Splits "Name: value\r\nName: value\r\n" into header lines.
std::vector<std::string> headerLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t eol = text.find_first_of("\r\n", start);
        if (eol == std::string_view::npos) eol = text.size();
        if (eol > start) lines.emplace_back(text.substr(start, eol - start));
        start = eol + 1;
    }
    return lines;
}

}  // namespace

CCGI::CCGI(const Clock& clock, TraceLog& log, const WireCodec& codec)
    : m_clock(clock), m_log(log), m_codec(codec) {}

std::u16string CCGI::MakeBaseUrl(std::u16string_view ip, std::u16string_view port,
                                 std::u16string_view ssl) {
    try {
        std::u16string host(ip);
        if (!host.empty() && host.back() == u'/') host.pop_back();
        const bool https = ssl == u"1";
        const std::u16string_view own = https ? u"https://" : u"http://";
        const std::u16string_view other = https ? u"http://" : u"https://";
        if (host.find(other) != std::u16string::npos) return u"ERROR";
        const std::size_t at = host.find(own);
        std::u16string url;
        if (at == 0) {
            url = host;
        } else if (at != std::u16string::npos) {
            return u"ERROR";
        } else {
            url = std::u16string(own) + host;
        }
        url += u':';
        url += port;
        url += u'/';
        return url;
    } catch (...) {
        return u"ERROR";
    }
}

std::string CCGI::BaseUrl(const CameraEntry& entry) const {
    return m_codec.toWire(
        MakeBaseUrl(fieldView(entry.szIp), fieldView(entry.szPort), fieldView(entry.szSsl)));
}

std::string CCGI::Base64(std::string_view bytes) {
    return base64Encode(bytes);
}

std::string CCGI::BasicCredentials(std::u16string_view user, std::u16string_view password) const {
    std::u16string pair(user);
    pair += u':';
    pair += password;
    return "Basic " + Base64(m_codec.toWire(pair));
}

std::string CCGI::cameraNo(const CameraEntry& entry) const {
    return fieldUtf8(entry.szNo);
}

bool CCGI::CreateSession(CgiSessionSlot& slot, long timeoutMs, bool bClear) {
    try {
        slot.reset();
        // A fresh handle starts with no cached credentials or connections.
        if (bClear) m_log.trace(1, "CGI::ConnectInitSess Session Clear");
        slot = CgiSession::create(m_clock, timeoutMs);
        return slot != nullptr;
    } catch (...) {
        slot.reset();
        return false;
    }
}

bool CCGI::GuardRequest(std::u16string_view mac, CgiRequestSpec& spec) {
    if (m_pTrust == nullptr || mac.empty()) return true;
    const std::string macText = toUtf8(mac);
    if (m_pTrust->spoofed(macText)) {
        m_log.trace(1, "CGI: %s answered the search from two addresses; nothing sent",
                    macText.c_str());
        m_pTrust->refuseSpoofed(macText);
        return false;
    }
    CameraTrust* trust = m_pTrust;
    TraceLog* log = &m_log;
    spec.peerCheck = [trust, log, macText](const TlsPeer& peer) {
        const CameraTrust::Verdict v = trust->check(macText, peer);
        if (v == CameraTrust::Verdict::kFirstUse || v == CameraTrust::Verdict::kRenewed)
            log->trace(1, "CGI: %s certificate pinned SHA-256 %s", macText.c_str(),
                       peer.fingerprint.c_str());
        if (v == CameraTrust::Verdict::kChanged)
            log->trace(1, "CGI: %s certificate changed to SHA-256 %s; refused", macText.c_str(),
                       peer.fingerprint.c_str());
        return v != CameraTrust::Verdict::kChanged;
    };
    return true;
}

CgiRequestPtr CCGI::OpenSession(CgiSession* session, std::string_view url, std::u16string_view user,
                                std::u16string_view password, int& status,
                                std::u16string_view mac) {
    try {
        if (session == nullptr || !IsHttpUrl(url)) return nullptr;
        CgiRequestSpec spec;
        spec.url = std::string(url);
        if (!GuardRequest(mac, spec)) {
            status = 400;
            return nullptr;
        }
        spec.headers = {"Accept: */*", std::string("User-Agent: ") + kCgiAgentName,
                        "Authorization: " + BasicCredentials(user, password)};
        int error = 0;
        CgiRequestPtr request = CgiRequest::open(*session, spec, error);
        if (!request) return nullptr;
        int code = request->waitForHeaders() ? request->statusCode() : 400;
        if (code == 401 && wantsOtherAuthentication(*request)) {
            // A camera that does not take Basic credentials: once more, with the library
            // answering its challenge (the first request's handle is given back first).
            request.reset();
            spec.headers.pop_back();
            spec.bLibraryAuth = true;
            spec.user = m_codec.toWire(user);
            spec.password = m_codec.toWire(password);
            request = CgiRequest::open(*session, spec, error);
            if (!request) return nullptr;
            code = request->waitForHeaders() ? request->statusCode() : 400;
        }
        // A redirect that was not followed (no Location, or past the hop limit) is no answer.
        if (code >= 300 && code < 400) code = 400;
        if (code >= 400) {
            status = code;
            return nullptr;
        }
        status = 0;
        return request;
    } catch (...) {
        return nullptr;
    }
}

bool CCGI::wantsOtherAuthentication(CgiRequest& request) {
    bool any = false;
    for (const std::string& value : request.headerValues("WWW-Authenticate"))
        for (const std::string& scheme : ChallengeSchemes(value)) {
            if (asciiEqualsNoCase(scheme, "Basic")) return false;
            any = true;
        }
    return any;
}

CgiRequestPtr CCGI::OpenPostSession(CgiSession* session, std::string_view url,
                                    std::u16string_view user, std::u16string_view password,
                                    std::string_view extraHeaders, std::uint64_t bodyLength,
                                    int& status, std::u16string_view mac) {
    try {
        const std::string urlText(url);
        m_log.trace(3, "OpenSession: sURL=%s UserID=%s\n", urlText.c_str(), toUtf8(user).c_str());
        if (session == nullptr || !IsHttpUrl(url)) return nullptr;
        CgiRequestSpec spec;
        spec.url = urlText;
        spec.bPost = true;
        spec.bodyLength = bodyLength;
        if (!GuardRequest(mac, spec)) {
            status = 400;
            return nullptr;
        }
        for (std::string& line : headerLines(extraHeaders)) {
            if (line.find(':') == std::string::npos) {
                m_log.trace(1, "AddRequestHeaders failed.[%s] getLastError()=%d", urlText.c_str(),
                            87);
                return nullptr;
            }
            spec.headers.push_back(std::move(line));
        }
        spec.headers.push_back("Authorization: " + BasicCredentials(user, password));
        int error = 0;
        CgiRequestPtr request = CgiRequest::open(*session, spec, error);
        if (!request) {
            m_log.trace(1, "OpenPostSession SendRequest failed.[%s]", urlText.c_str());
            return nullptr;
        }
        if (!request->waitForBodyRequest()) {
            if (request->error() != 0)
                m_log.trace(1, "OpenPostSession SendRequest Error dwError=%d dwErrContext=%d",
                            request->error(), 1);
            else
                m_log.trace(1, "OpenPostSession SendRequest failed.[%s]", urlText.c_str());
            // A camera that refused before taking the body tells why.
            const int code = request->finished() ? request->statusCode() : 0;
            if (code >= 400) status = code;
            return nullptr;
        }
        status = 0;
        return request;
    } catch (...) {
        return nullptr;
    }
}

CgiRequestPtr CCGI::openAsRecord(CgiSessionSlot& slot, const std::string& url,
                                 const CameraEntry& account, int& status) {
    return OpenSession(slot.get(), url, fieldView(account.szUser), fieldView(account.szPassword),
                       status, fieldView(account.szMac));
}

bool CCGI::answeredWithBody(CgiRequest& request) {
    const std::size_t available = request.dataAvailable();
    if (available == 0) return false;
    std::vector<char> scratch(available);
    return request.read(scratch.data(), scratch.size()) >= 0;
}

int CCGI::loginCheck(const CameraEntry& entry, CgiSessionSlot& slot, bool bKeepAlive, bool bClear) {
    try {
        const std::string base = BaseUrl(entry);
        const std::string no = cameraNo(entry);
        const std::string proxy = toUtf8(m_codec.fromWire(base));
        if (bKeepAlive)
            m_log.trace(1, "CamNo(%s)CCGI ConnectInitSess(1) strProxy(%s)", no.c_str(),
                        proxy.c_str());
        else
            m_log.trace(1, "CamNo(%s) CCGI ConnectInitSess(1) strProxy(%s)", no.c_str(),
                        proxy.c_str());
        CreateSession(slot, bKeepAlive ? kCgiKeepAliveTimeoutMs : kCgiTimeoutMs, bClear);
        int status = 400;
        return openAsRecord(slot, base + "cgi-bin/lang.cgi", entry, status) ? kCgiOk : kCgiFailed;
    } catch (...) {
        return kCgiFailed;
    }
}

int CCGI::ConnectInitSess(const CameraEntry& entry, CgiSessionSlot& slot, bool bClear) {
    return loginCheck(entry, slot, false, bClear);
}

int CCGI::ConnectInitSessKeepAlive(const CameraEntry& entry, CgiSessionSlot& slot) {
    return loginCheck(entry, slot, true, false);
}

int CCGI::ConnectInitSess(long timeoutMs, const CameraEntry& entry, CgiSessionSlot& slot,
                          std::string_view path, bool bClear) {
    try {
        const std::string base = BaseUrl(entry);
        m_log.trace(1, "CCGI ConnectInitSess(2) strProxy(%s)",
                    toUtf8(m_codec.fromWire(base)).c_str());
        if (!slot) {
            m_log.trace(1, "ConnectInitSess m_pInetSess = NULL");
            CreateSession(slot, timeoutMs, bClear);
        }
        int status = 400;
        CgiRequestPtr request = openAsRecord(slot, base + std::string(path), entry, status);
        if (!request) {
            m_log.trace(1, "CCGI ConnectInitSess Error(%d).", status);
            return kCgiFailed;
        }
        // The command counts only when the camera answered with a body.
        return answeredWithBody(*request) ? kCgiOk : kCgiFailed;
    } catch (...) {
        return kCgiFailed;
    }
}

int CCGI::SendCommand(const CameraEntry& entry, CgiSessionSlot& slot, std::string_view path,
                      CgiRequestPtr* request) {
    if (!slot) return kCgiFailed;
    try {
        int status = 400;
        CgiRequestPtr open = openAsRecord(slot, BaseUrl(entry) + std::string(path), entry, status);
        if (!open) return kCgiFailed;
        if (request != nullptr) *request = std::move(open);
        return kCgiOk;
    } catch (...) {
        return kCgiException;
    }
}

long CCGI::GetSessionAndCommandSend(const CameraEntry& entryIn, CgiSessionSlot& slot,
                                    std::string_view path, long timeoutMs, bool bClear) {
    try {
        const CameraEntry entry = entryIn;
        if (fieldEmpty(entry.szNo)) return kCgiNoCameraNumber;
        const std::string no = cameraNo(entry);
        const std::string pathText(path);
        const auto start = m_clock.now();
        const Millis limit = m_clock.scaled(Millis(timeoutMs));
        long result = kCgiFailed;
        for (;;) {
            m_log.trace(1, "CamNo(%s) GetSessionAndCommandSend(CGI:%s) Send.", no.c_str(),
                        pathText.c_str());
            slot.reset();
            ConnectInitSess(entry, slot, bClear);  // leaves a fresh session in the slot
            result = SendCommand(entry, slot, path);
            const bool ok = result == kCgiOk;
            if (!ok) m_clock.sleepFor(Millis(kCgiRetryPauseMs));
            const auto elapsed = std::chrono::duration_cast<Millis>(m_clock.now() - start);
            if (elapsed >= limit) {
                m_log.trace(1, "CamNo(%s) GetSessionAndSetCommand Timeout(%.1lf)", no.c_str(),
                            static_cast<double>(elapsed.count()));
                break;
            }
            if (ok) break;
        }
        return result;
    } catch (...) {
        return kCgiFailed;
    }
}

TextReply CCGI::ReadTextReply(CgiRequest& request, std::string_view expectedType, std::string& text,
                              int& error) {
    text.clear();
    error = 0;
    try {
        if (!request.hasHeader("Content-Type") ||
            !asciiEqualsNoCase(request.header("Content-Type"), expectedType))
            return TextReply::kNoText;
        const std::size_t available = request.dataAvailable();
        if (available == 0) return TextReply::kNoText;
        const std::size_t chunk = std::min(available, kMaxTextReply);
        std::vector<char> buffer(chunk);
        while (text.size() < kMaxTextReply) {
            const long got =
                request.read(buffer.data(), std::min(chunk, kMaxTextReply - text.size()));
            if (got < 0) {
                error = request.error();
                text.clear();
                return TextReply::kReadError;
            }
            if (got == 0) break;
            text.append(buffer.data(), static_cast<std::size_t>(got));
        }
        return text.empty() ? TextReply::kNoText : TextReply::kText;
    } catch (...) {
        text.clear();
        error = -1;
        return TextReply::kReadError;
    }
}

int CCGI::IsOutsideHostSubnet(std::string_view adapterIp, std::string_view adapterMask,
                              std::string_view cameraIp) {
    // An address that does not read as IPv4 cannot be shown to be inside.
    const std::optional<std::uint32_t> camera = ipv4::parse(cameraIp);
    if (!camera) return 1;
    if (*camera == 0) return 0;
    const std::optional<std::uint32_t> ip = ipv4::parse(adapterIp);
    const std::optional<std::uint32_t> mask = ipv4::parse(adapterMask);
    if (!ip || !mask) return 1;
    const std::uint32_t network = ipv4::networkOf(*ip, *mask);
    const std::uint32_t broadcast = ipv4::broadcastOf(*ip, *mask);
    return *camera > broadcast || *camera < network ? 1 : 0;
}

}  // namespace lanrove
