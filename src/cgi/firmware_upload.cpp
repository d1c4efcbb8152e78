#include "cgi/firmware_upload.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>

namespace lanrove {

namespace {

constexpr std::string_view kFirmupPath = "cgi-bin/firmup.cgi";
constexpr std::string_view kBodyHyphens = "-----------------------------";  // 29
constexpr std::string_view kHeaderHyphens = "---------------------------";  // 27
constexpr std::string_view kPartType = "Content-Type: application/octet-stream\r\n\r\n";

std::tm systemLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::uint32_t clamp32(std::uint64_t value) {
    return value > std::numeric_limits<std::uint32_t>::max()
               ? std::numeric_limits<std::uint32_t>::max()
               : static_cast<std::uint32_t>(value);
}

// A decimal number as scanf's "%d" reads it: blanks, an optional sign, digits. Saturates
// instead of overflowing. False when no digit follows.
bool scanNumber(std::string_view text, std::size_t pos, long& value) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) return false;
    long long n = 0;
    for (; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++pos)
        n = std::min<long long>(n * 10 + (text[pos] - '0'), static_cast<long long>(INT_MAX) + 1);
    if (negative) n = -n;
    value = static_cast<long>(std::clamp<long long>(n, INT_MIN, INT_MAX));
    return true;
}

// The end of the line at `from`, or the end of the text when the line has no end.
std::size_t lineEndOrSize(std::string_view text, std::size_t from) {
    const std::size_t end = FirmupPage::LineEnd(text, from);
    return end == std::string_view::npos ? text.size() : end;
}

// The path as the part header carries it: quotes and line ends would end the header early.
std::string headerSafePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '"')
            out += "%22";
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string MakeBoundaryId(const std::tm& local) {
    char text[64];
    std::snprintf(text, sizeof(text), "%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned>(local.tm_year + 1900),
                  static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday),
                  static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                  static_cast<unsigned>(local.tm_sec));
    return text;
}

std::uint64_t FirmupBody::size() const {
    const std::uint64_t fileSize = file ? file->size() : 0;
    return head.size() + fileSize + tail.size();
}

bool FirmupBody::copy(std::uint64_t offset, std::size_t length, std::uint8_t* out) const {
    if (offset > size() || length > size() - offset) return false;
    const std::uint64_t fileSize = file ? file->size() : 0;
    while (length > 0) {
        std::size_t n = 0;
        if (offset < head.size()) {
            n = std::min<std::size_t>(length, head.size() - offset);
            std::memcpy(out, head.data() + offset, n);
        } else if (offset < head.size() + fileSize) {
            const std::uint64_t at = offset - head.size();
            n = static_cast<std::size_t>(std::min<std::uint64_t>(length, fileSize - at));
            std::memcpy(out, file->data() + at, n);
        } else {
            const std::uint64_t at = offset - head.size() - fileSize;
            n = std::min<std::size_t>(length, tail.size() - at);
            std::memcpy(out, tail.data() + at, n);
        }
        out += n;
        offset += n;
        length -= n;
    }
    return true;
}

std::string FirmupBody::flatten() const {
    std::string all(static_cast<std::size_t>(size()), '\0');
    copy(0, all.size(), reinterpret_cast<std::uint8_t*>(all.data()));
    return all;
}

FirmupBody MakeFirmupBody(const std::string& boundary, std::string_view pathWire,
                          FirmwareBytes file) {
    FirmupBody body;
    body.boundary = boundary;
    body.head = std::string(kBodyHyphens) + boundary + "\r\n" +
                "Content-Disposition: form-data; name=\"firmware_file\"; filename=\"" +
                headerSafePath(pathWire) + "\"\r\n" + std::string(kPartType);
    body.file = std::move(file);
    body.tail = "\r\n" + std::string(kBodyHyphens) + boundary + "--\r\n";
    return body;
}

std::string FirmupContentTypeLine(const std::string& boundary) {
    return "Content-Type: multipart/form-data; boundary=" + std::string(kHeaderHyphens) + boundary +
           "\r\n";
}

// The dialog's timer reads these while the upload thread writes them.
std::uint32_t LoadSentBytes(const CameraEntry& entry) {
    return std::atomic_ref<const std::uint32_t>(entry.dwSentBytes).load(std::memory_order_relaxed);
}
std::uint32_t LoadTotalBytes(const CameraEntry& entry) {
    return std::atomic_ref<const std::uint32_t>(entry.dwTotalBytes).load(std::memory_order_relaxed);
}
std::uint16_t LoadUploadStatus(const CameraEntry& entry) {
    return std::atomic_ref<const std::uint16_t>(entry.wUploadStatus)
        .load(std::memory_order_relaxed);
}
void StoreSentBytes(CameraEntry& entry, std::uint32_t value) {
    std::atomic_ref<std::uint32_t>(entry.dwSentBytes).store(value, std::memory_order_relaxed);
}
void StoreTotalBytes(CameraEntry& entry, std::uint32_t value) {
    std::atomic_ref<std::uint32_t>(entry.dwTotalBytes).store(value, std::memory_order_relaxed);
}
void StoreUploadStatus(CameraEntry& entry, std::uint16_t value) {
    std::atomic_ref<std::uint16_t>(entry.wUploadStatus).store(value, std::memory_order_relaxed);
}

UploadContext::UploadContext() : recv(kFirmRecvBufferSize) {}

void UploadContext::setStatus(std::uint16_t status) {
    StoreUploadStatus(copy, status);
    if (camera != nullptr) StoreUploadStatus(*camera, status);
}

void UploadContext::setSent(std::uint32_t sent) {
    StoreSentBytes(copy, sent);
    if (camera != nullptr) StoreSentBytes(*camera, sent);
}

void UploadContext::setTotal(std::uint32_t total) {
    StoreTotalBytes(copy, total);
    if (camera != nullptr) StoreTotalBytes(*camera, total);
}

// ---- Page texts ----

std::size_t FirmupPage::LineEnd(std::string_view text, std::size_t from) {
    const std::size_t cr = text.find('\r', from);
    const std::size_t lf = text.find('\n', from);
    if (cr == std::string_view::npos) return lf;
    if (lf != std::string_view::npos && cr > lf && !(cr + 1 < text.size() && text[cr + 1] == '\n'))
        return lf;
    return cr;
}

bool FirmupPage::FindErrorCode(std::string_view text, std::string& code) {
    const std::size_t at = text.find("code=");
    if (at == std::string_view::npos) return false;
    const std::size_t start = at + 5;
    const std::size_t end = LineEnd(text, start);
    if (end == std::string_view::npos) return false;
    const std::size_t close = text.find("</", start);
    const std::size_t stop = close != std::string_view::npos && close < end ? close : end;
    code = std::string(text.substr(start, stop - start));
    return true;
}

int FirmupPage::ParseFirmupReply(std::string_view text, long& wait, std::string* errorCode) {
    if (text.empty()) return kFirmNoReply;
    constexpr std::string_view kMeta = "META HTTP-EQUIV";
    const std::size_t meta = text.find(kMeta);
    const std::size_t refresh =
        meta == std::string_view::npos ? std::string_view::npos : text.find("Refresh", meta);
    if (meta != std::string_view::npos && refresh != std::string_view::npos) {
        for (std::size_t m = meta; m != std::string_view::npos;) {
            const std::size_t end = lineEndOrSize(text, m);
            if (refresh >= m && refresh < end) {
                const std::size_t content = text.find("CONTENT", m);
                const std::size_t quote =
                    content == std::string_view::npos ? content : text.find('"', content);
                if (quote != std::string_view::npos && quote < end) {
                    long value = 0;
                    if (scanNumber(text, quote + 1, value)) wait = value;
                    return 0;
                }
            }
            m = end >= text.size() ? std::string_view::npos : text.find(kMeta, end);
        }
        return 0;
    }
    const std::size_t timer = text.find("setTimeout");
    if (timer != std::string_view::npos) {
        const std::size_t comma = text.find(',', timer);
        if (comma != std::string_view::npos && comma < lineEndOrSize(text, timer)) {
            long value = 0;
            if (scanNumber(text, comma + 1, value)) wait = value;
        }
    }
    std::string code;
    if (!FindErrorCode(text, code)) return 0;
    if (errorCode != nullptr) *errorCode = code;
    return kFirmErrorCode;
}

int FirmupPage::ParseRebootReply(std::string_view text, long& value) {
    value = 0;
    const std::size_t timer = text.find("setTimeout");
    if (timer != std::string_view::npos) {
        const std::size_t comma = text.find(',', timer);
        if (comma == std::string_view::npos || comma >= lineEndOrSize(text, timer)) return -1;
        return scanNumber(text, comma + 1, value) ? 1 : 0;
    }
    return text.find("discon4") != std::string_view::npos ? -1 : 1;
}

// ---- The request ----

CFirmUpload::CFirmUpload(CCGI& cgi, TraceLog& log, const Clock& clock, LocalTime localTime)
    : m_cgi(cgi),
      m_log(log),
      m_clock(clock),
      m_localTime(localTime ? std::move(localTime) : LocalTime(systemLocalTime)) {}

std::string CFirmUpload::cameraNo(const UploadContext& ctx) const {
    return fieldUtf8(ctx.copy.szNo);
}

int CFirmUpload::BuildBody(UploadContext& ctx, const FirmwareBytes& file, std::uint64_t fileSize,
                           std::u16string_view fullPath, std::u16string_view fileName) {
    try {
        const std::string no = cameraNo(ctx);
        m_log.trace(1, "CamNo(%s) SendEventProc Firm Upload File:%s(FileSize:%ld).", no.c_str(),
                    toUtf8(fileName).c_str(), static_cast<long>(fileSize));
        const std::string boundary = MakeBoundaryId(m_localTime());
        m_log.trace(1, "CamNo(%s) wchar to char start.", no.c_str());
        // The path in wire bytes, cut to whole characters within the limit.
        std::u16string path(fullPath);
        std::string pathWire = m_cgi.codec().toWire(path);
        while (pathWire.size() >= kFirmPathMaxBytes && !path.empty()) {
            path.pop_back();
            pathWire = m_cgi.codec().toWire(path);
        }
        ctx.body = FirmupBody{};
        const std::uint64_t got = file ? file->size() : 0;
        if (!file || got != fileSize) {
            m_log.trace(1, "CamNo(%s) Read Firm Failt File Size(%lu) = %lu, Ret = %d", no.c_str(),
                        static_cast<unsigned long>(fileSize), static_cast<unsigned long>(got),
                        file ? 0 : -1);
            return kFirmReadFailed;
        }
        ctx.body = MakeFirmupBody(boundary, pathWire, file);
        m_log.trace(1, "CamNo(%s) wchar to char End.", no.c_str());
        return kCgiOk;
    } catch (...) {
        ctx.body = FirmupBody{};
        return kFirmReadFailed;
    }
}

int CFirmUpload::StartFirmupPost(UploadContext& ctx, CgiRequestPtr& request) {
    request.reset();
    try {
        const std::uint64_t length = ctx.body.size();
        if (length == 0) return kFirmEmptyBody;
        const std::string base = m_cgi.BaseUrl(ctx.copy);
        if (!ctx.session) m_cgi.CreateSession(ctx.session, kCgiCommandTimeoutMs, false);
        int status = 400;
        request = m_cgi.OpenPostSession(ctx.session.get(), base + std::string(kFirmupPath),
                                        fieldView(ctx.copy.szUser), fieldView(ctx.copy.szPassword),
                                        FirmupContentTypeLine(ctx.body.boundary), length, status,
                                        fieldView(ctx.copy.szMac));
        return request ? kCgiOk : kCgiFailed;
    } catch (...) {
        request.reset();
        return kCgiFailed;
    }
}

int CFirmUpload::FirmSend(UploadContext& ctx, const std::uint8_t* data, std::size_t length,
                          CgiRequest& request) {
    if (length == 0) return kFirmEmptyBody;
    if (!request.write(data, length)) {
        m_log.trace(1, "CamNo(%s) Firmup FirmSend Error(%d).", cameraNo(ctx).c_str(),
                    request.error());
        return kCgiException;
    }
    m_log.trace(3, "Firm %d byte Send OK.", static_cast<int>(length));
    return kCgiOk;
}

int CFirmUpload::FirmSendProc(UploadContext& ctx, CgiRequest& request) {
    const std::uint64_t length = ctx.body.size();
    if (length == 0) return kFirmEmptyBody;
    ctx.setTotal(clamp32(length));
    ctx.setStatus(kUploadSending);
    std::array<std::uint8_t, kFirmSendChunk> piece{};
    std::uint64_t sent = 0;
    while (sent < length) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kFirmSendChunk, length - sent));
        const int result = ctx.body.copy(sent, n, piece.data())
                               ? FirmSend(ctx, piece.data(), n, request)
                               : kCgiException;
        sent += n;
        ctx.setSent(clamp32(sent));
        if (ctx.onPiece) ctx.onPiece(clamp32(sent));
        if (result != kCgiOk) {
            m_log.trace(1, "CamNo(%s) FirmSendProc FirmSend == %d.", cameraNo(ctx).c_str(), result);
            return result;
        }
    }
    m_clock.sleepFor(Millis(kFirmSentPauseMs));
    ctx.setStatus(kUploadSent);
    return kCgiOk;
}

int CFirmUpload::FirmupRecv(UploadContext& ctx, CgiRequest& request, std::size_t& count,
                            long timeoutMs) {
    std::lock_guard lock(ctx.recvLock);
    try {
        if (ctx.recv.size() < kFirmRecvBufferSize) ctx.recv.assign(kFirmRecvBufferSize, '\0');
        const auto start = m_clock.now();
        const Millis limit = m_clock.scaled(Millis(timeoutMs));
        std::size_t total = 0;
        ctx.recvCount = 0;
        for (;;) {
            const std::size_t available = request.dataAvailable();
            m_log.trace(3, "InternetQueryDataAvailable Bytes == %d\n", static_cast<int>(available));
            if (available > 0) {
                const std::size_t room = ctx.recv.size() - total;
                const long got = request.read(ctx.recv.data() + total, std::min(available, room));
                if (got < 0) {
                    ctx.recvCount = total;
                    return kCgiException;
                }
                m_log.trace(3, "Recv Bytes == %d\n", static_cast<int>(got));
                total += static_cast<std::size_t>(got);
                if (total + kFirmSendChunk <= ctx.recv.size()) continue;
                break;
            }
            if (total > 0) break;
            const auto elapsed = std::chrono::duration_cast<Millis>(m_clock.now() - start);
            m_log.trace(3, "FirmupRecv dbTimelag == %.1lf\n", static_cast<double>(elapsed.count()));
            // A reply that has ended without a byte will not bring one later.
            if (elapsed >= limit || request.finished()) return kFirmNoReply;
            m_clock.sleepFor(Millis(kFirmRecvPollMs));
        }
        ctx.recvCount = total;
        count = total;
        return kCgiOk;
    } catch (...) {
        return kCgiException;
    }
}

int CFirmUpload::ParseCheckError(UploadContext& ctx) {
    std::string code;
    if (!FirmupPage::FindErrorCode(ctx.received(), code)) return 0;
    std::u16string wide = m_cgi.codec().fromWire(code);
    if (wide.size() > kFirmPathMaxBytes) wide.resize(kFirmPathMaxBytes);
    m_log.trace(1, "CamNo(%s) Firmup Error Code Status = %s", cameraNo(ctx).c_str(),
                toUtf8(wide).c_str());
    return kFirmErrorCode;
}

int CFirmUpload::ParseFirmupReply(UploadContext& ctx, std::size_t count, long& wait) {
    if (count == 0) return kFirmNoReply;
    ctx.recvCount = std::min(count, ctx.recv.size());
    const int result = FirmupPage::ParseFirmupReply(ctx.received(), wait, nullptr);
    return result == kFirmErrorCode ? ParseCheckError(ctx) : result;
}

int CFirmUpload::ParseRebootReply(UploadContext& ctx, long& value) {
    return FirmupPage::ParseRebootReply(ctx.received(), value);
}

int CFirmUpload::GetFirmupCheckRecv(UploadContext& ctx, long& wait) {
    try {
        m_log.trace(0, "CamNo(%s) GetFirmupCheckRecv Post FirmupCgi Send.", cameraNo(ctx).c_str());
        CgiRequestPtr request;
        const int sent = m_cgi.ReqGetFirmupCgi(ctx.session, ctx.copy, &request);
        if (sent != kCgiOk || !request) return sent != kCgiOk ? sent : kFirmNoReply;
        std::size_t count = 0;
        if (FirmupRecv(ctx, *request, count, kFirmRecvTimeoutMs) != kCgiOk) return kFirmNoReply;
        request->close();
        return ParseFirmupReply(ctx, count, wait);
    } catch (...) {
        return kFirmNoReply;
    }
}

}  // namespace lanrove
