#include "runs/firmware_cgi_camera.h"

#include <algorithm>

#include "support/text.h"

namespace lanrove {

namespace {
// Far beyond any catalogue row (a day), so that the scaled duration cannot overflow.
constexpr std::uint64_t kMaxDeadlineMs = 24ull * 3600 * 1000;
}  // namespace

CgiFirmCamera::CgiFirmCamera(CCGI& cgi, TraceLog& log, const Clock& clock,
                             const ManualResetEvent& abort)
    : m_cgi(cgi), m_upload(cgi, log, clock), m_steps(cgi, m_upload, log, clock) {
    m_shadow.clear();
    m_slot.ctx.camera = &m_shadow;
    m_slot.stop = &abort;
    m_pAbort = &abort;
}

void CgiFirmCamera::enter(const CameraEntry& copy, FirmStatusSink* sink) {
    m_slot.ctx.copy = copy;
    m_shadow = copy;
    if (sink != nullptr) m_shadow.wAspectRatio = sink->recordAspectRatio();
    m_wEnteredAspect = m_shadow.wAspectRatio;
    m_wEnteredStatus = m_shadow.wUploadStatus;
}

void CgiFirmCamera::leave(CameraEntry& copy, FirmStatusSink* sink) {
    copy = m_slot.ctx.copy;
    if (sink == nullptr) return;
    if (m_shadow.wAspectRatio != m_wEnteredAspect)
        sink->setRecordAspectRatio(m_shadow.wAspectRatio);
    if (m_shadow.wUploadStatus != m_wEnteredStatus) sink->setUploadStatus(m_shadow.wUploadStatus);
}

int CgiFirmCamera::connectInitSess(const CameraEntry& copy) {
    return m_cgi.ConnectInitSess(copy, m_slot.ctx.session, true);
}

int CgiFirmCamera::getCodecStream(CameraEntry& copy, long timeoutMs) {
    return m_cgi.GetCodecStreamCgi(timeoutMs, m_slot.ctx.session, copy);
}

int CgiFirmCamera::reqGetCamSet(CameraEntry& copy) {
    return m_cgi.ReqGetCamSetCgi(m_slot.ctx.session, copy);
}

bool CgiFirmCamera::reachable(const CameraEntry& copy, long limitMs) {
    enter(copy, nullptr);
    return m_steps.SessionCheckAndGet(m_slot, limitMs) == kCgiOk;
}

int CgiFirmCamera::restartCommand(const CameraEntry& copy) {
    enter(copy, nullptr);
    return m_steps.RebootCommand(m_slot);
}

int CgiFirmCamera::setRebootWait(const CameraEntry& copy) {
    enter(copy, nullptr);
    return m_steps.SetRebootWait(m_slot);
}

void CgiFirmCamera::prepare(CameraEntry& copy, FirmStatusSink& sink) {
    enter(copy, &sink);
    m_steps.PrepareCamera(m_slot);
    leave(copy, &sink);
}

void CgiFirmCamera::restore(CameraEntry& copy, FirmStatusSink& sink) {
    enter(copy, &sink);
    m_steps.RestoreCamera(m_slot);
    leave(copy, &sink);
}

int CgiFirmCamera::rebootWait(CameraEntry& copy, const FirmRow& row, int uploadingTime,
                              FirmStatusSink& sink) {
    enter(copy, &sink);
    const int result =
        m_steps.RebootWait(m_slot, row.wMethod, row.dwRebootTime, row.dwUploadTimeOut,
                           static_cast<unsigned long>(uploadingTime < 0 ? 0 : uploadingTime));
    leave(copy, &sink);
    return result;
}

FirmPostResult CgiFirmCamera::post(CameraEntry& copy, const std::filesystem::path& file,
                                   const FirmImage& image, FirmStatusSink& sink,
                                   const FirmPostLimits& limits) {
    FirmPostResult out;
    enter(copy, &sink);
    UploadContext& ctx = m_slot.ctx;
    const std::uint64_t size = image ? image->size() : 0;
    if (m_upload.BuildBody(ctx, image, size, fromUtf8(file.string()),
                           fromUtf8(file.filename().string())) != kCgiOk) {
        out.outcome = FirmPostResult::Outcome::kBodyFailed;
        leave(copy, &sink);
        return out;
    }
    CgiRequestPtr request;
    if (m_upload.StartFirmupPost(ctx, request) != kCgiOk || !request) {
        ctx.body = FirmupBody{};
        ctx.session.reset();
        out.outcome = FirmPostResult::Outcome::kOpenFailed;
        leave(copy, &sink);
        return out;
    }
    if (limits.deadlineMs > 0)
        request->setDeadline(m_upload.clock().now() +
                             m_upload.clock().scaled(Millis(static_cast<long long>(
                                 std::min<std::uint64_t>(limits.deadlineMs, kMaxDeadlineMs)))));
    if (limits.stop) request->setStopCheck(limits.stop);
    const auto total = static_cast<std::uint32_t>(ctx.body.size());
    ctx.setTotal(total);
    sink.setTotalBytes(total);
    ctx.setStatus(kUploadSending);
    sink.setUploadStatus(kUploadSending);
    m_wEnteredStatus = kUploadSending;
    ctx.onPiece = [&sink](std::uint32_t sent) { sink.setSentBytes(sent); };
    const int sent = m_upload.FirmSendProc(ctx, *request);
    ctx.onPiece = nullptr;
    const auto brokenOff = [&out, &request] {
        out.deadlinePassed = request->error() == CgiRequest::kErrDeadline;
        out.stopped = request->error() == CgiRequest::kErrStopped;
    };
    if (sent != kCgiOk) {
        out.outcome = FirmPostResult::Outcome::kSendFailed;
        out.sendCode = sent;
        out.httpStatus = request->statusCode();  // an early refusal, if the camera sent one
        brokenOff();
    } else {
        out.outcome = FirmPostResult::Outcome::kSent;
        // 4101 is shown while the camera answers (or restarts without answering).
        sink.setUploadStatus(m_shadow.wUploadStatus);
        m_wEnteredStatus = m_shadow.wUploadStatus;
        // The answer is waited for until the camera has read the whole body and answered,
        // or a limit ends the exchange.
        out.httpStatus = request->statusCode();
        std::size_t count = 0;
        if (m_upload.FirmupRecv(ctx, *request, count, kFirmRecvTimeoutMs) == 0 && count > 0) {
            out.replyRead = true;
            out.errorCode = FirmupPage::FindErrorCode(ctx.received(), out.code);
            if (out.errorCode) m_upload.ParseCheckError(ctx);
        } else if (!request->bodyDelivered() && request->error() != 0) {
            // The camera never had the whole image: a broken transfer, not a restart.
            out.outcome = FirmPostResult::Outcome::kSendFailed;
            out.sendCode = kCgiException;
            brokenOff();
        }
    }
    request->close();
    request.reset();
    ctx.session.reset();  // the camera restarts: its connection is not reused
    ctx.body = FirmupBody{};
    leave(copy, &sink);
    return out;
}

FirmCameraFactory cgiFirmCameraFactory(CCGI& cgi, TraceLog& log, const Clock& clock) {
    return [&cgi, &log, &clock](const ManualResetEvent& abort) -> std::unique_ptr<FirmCamera> {
        return std::make_unique<CgiFirmCamera>(cgi, log, clock, abort);
    };
}

}  // namespace lanrove
