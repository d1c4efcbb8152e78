#include "firmware/camera_steps.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>

namespace lanrove {

namespace {

constexpr const char* kLangPath = "cgi-bin/lang.cgi";

// The table record's aspect ratio is read by the GUI thread.
void storeAspect(CameraEntry& entry, std::uint16_t value) {
    std::atomic_ref<std::uint16_t>(entry.wAspectRatio).store(value, std::memory_order_relaxed);
}
std::uint16_t loadAspect(const CameraEntry& entry) {
    return std::atomic_ref<const std::uint16_t>(entry.wAspectRatio).load(std::memory_order_relaxed);
}

}  // namespace

CameraSteps::CameraSteps(CCGI& cgi, CFirmUpload& upload, TraceLog& log, const Clock& clock)
    : m_cgi(cgi), m_upload(upload), m_log(log), m_clock(clock) {}

std::string CameraSteps::cameraNo(const CameraStepSlot& slot) const {
    return fieldUtf8(slot.ctx.copy.szNo);
}

bool CameraSteps::stopped(const CameraStepSlot& slot) const {
    return slot.stop != nullptr && slot.stop->isSet();
}

bool CameraSteps::pause(const CameraStepSlot& slot, long ms) const {
    if (slot.stop == nullptr) {
        m_clock.sleepFor(Millis(ms));
        return false;
    }
    return slot.stop->waitFor(m_clock.scaled(Millis(ms)));
}

double CameraSteps::elapsedMs(std::chrono::steady_clock::time_point start) const {
    return static_cast<double>(std::chrono::duration_cast<Millis>(m_clock.now() - start).count());
}

bool CameraSteps::past(std::chrono::steady_clock::time_point start, long limitMs) const {
    return m_clock.now() - start >= m_clock.scaled(Millis(limitMs));
}

bool CameraSteps::InsideSubnet(const CameraStepSlot& slot) const {
    const std::string ip = toUtf8(fieldView(slot.ctx.copy.szIp));
    return CCGI::IsOutsideHostSubnet(slot.adapter.ip(), slot.adapter.mask(), ip) == 0;
}

int CameraSteps::SessionCheckAndGet(CameraStepSlot& slot, long limitMs) {
    const std::string no = cameraNo(slot);
    const auto start = m_clock.now();
    for (;;) {
        slot.ctx.session.reset();
        if (m_cgi.CreateSession(slot.ctx.session, kCgiKeepAliveTimeoutMs, false)) {
            m_log.trace(1, "CamNo(%s) SessionCheckAndGet lang.cgi Send.", no.c_str());
            if (m_cgi.ConnectInitSess(kCgiKeepAliveTimeoutMs, slot.ctx.copy, slot.ctx.session,
                                      kLangPath, false) == kCgiOk)
                return kCgiOk;
        }
        const bool bStop = pause(slot, kStepRetryPauseMs);
        if (bStop || past(start, limitMs)) {
            m_log.trace(1, "CamNo(%s) SessionCheckAndGet Timeout(%.1lf)", no.c_str(),
                        elapsedMs(start));
            return kCgiFailed;
        }
    }
}

int CameraSteps::RebootCommand(CameraStepSlot& slot) {
    return m_cgi.SetRebootCommand(slot.ctx.session, slot.ctx.copy);
}

int CameraSteps::SetRebootWait(CameraStepSlot& slot) {
    const std::string no = cameraNo(slot);
    const auto start = m_clock.now();
    int result = kCgiFailed;
    for (;;) {
        slot.ctx.session.reset();
        bool bStop = false;
        if (!InsideSubnet(slot)) {
            // Never contacted; without a pause the loop would spin until its limit.
            bStop = pause(slot, kStepRetryPauseMs);
        } else if ((result = SessionCheckAndGet(slot, kStepPollMs)) == kCgiOk) {
            result = RebootCommand(slot);
            if (result == kCgiOk) {
                m_log.trace(1, "CamNo(%s) SetRebootWait.", no.c_str());
                if (pause(slot, kStepRebootSettleMs)) return kCgiFailed;
                return kCgiOk;
            }
            bStop = pause(slot, kStepRebootSettleMs);
        }
        if (bStop || stopped(slot) || past(start, kStepRebootWaitLimitMs)) {
            m_log.trace(1, "CamNo(%s) SetRebootWait Timeout(%.1lf)", no.c_str(), elapsedMs(start));
            return result == kCgiOk ? kCgiFailed : result;
        }
    }
}

int CameraSteps::SetSDHDDUnmount(CameraStepSlot& slot) {
    const std::string no = cameraNo(slot);
    const auto start = m_clock.now();
    int result = kCgiFailed;
    for (;;) {
        slot.ctx.session.reset();
        bool bStop = false;
        if (InsideSubnet(slot) && (result = SessionCheckAndGet(slot, kStepPollMs)) == kCgiOk) {
            result = m_cgi.SetSDHDDUnmountCommand(slot.ctx.session, slot.ctx.copy);
            if (result == kCgiOk) return pause(slot, kStepUnmountSettleMs) ? kCgiFailed : kCgiOk;
            bStop = pause(slot, kStepRetryPauseMs);
        } else if (!InsideSubnet(slot)) {
            bStop = pause(slot, kStepRetryPauseMs);
        }
        if (bStop || stopped(slot) || past(start, kStepUnmountLimitMs)) {
            m_log.trace(1, "CamNo(%s) SetSDHDD Unmount Command Timeout(%.1lf)", no.c_str(),
                        elapsedMs(start));
            return result == kCgiOk ? kCgiFailed : result;
        }
    }
}

int CameraSteps::SetAspectRatio(CameraStepSlot& slot, std::uint16_t value, long limitMs) {
    const std::string no = cameraNo(slot);
    const auto start = m_clock.now();
    int result = kCgiFailed;
    for (;;) {
        slot.ctx.session.reset();
        bool bStop = false;
        if (InsideSubnet(slot) && (result = SessionCheckAndGet(slot, kStepPollMs)) == kCgiOk) {
            result = m_cgi.SetCodecAspectCgi(slot.ctx.session, slot.ctx.copy, value);
            if (result == kCgiOk) return kCgiOk;
            bStop = pause(slot, kStepRetryPauseMs);
        } else if (!InsideSubnet(slot)) {
            bStop = pause(slot, kStepRetryPauseMs);
        }
        if (bStop || stopped(slot) || past(start, limitMs)) {
            m_log.trace(1, "CamNo(%s) SetCodecAspect Timeout(%.1lf)", no.c_str(), elapsedMs(start));
            return result == kCgiOk ? kCgiFailed : result;
        }
    }
}

int CameraSteps::ReadRecordSettings(CameraStepSlot& slot, RecordSettings& table) {
    const std::string no = cameraNo(slot);
    const auto start = m_clock.now();
    for (;;) {
        if (SessionCheckAndGet(slot, kStepPollMs) == kCgiOk && !pause(slot, kStepRecordPauseMs)) {
            m_log.trace(1, "CamNo(%s) RecordCgi Send.", no.c_str());
            CgiRequestPtr request;
            std::size_t count = 0;
            if (m_cgi.ReqGetRecordCgi(slot.ctx.session, slot.ctx.copy, request) == kCgiOk &&
                request &&
                m_upload.FirmupRecv(slot.ctx, *request, count, kFirmRecvTimeoutMs) == kCgiOk &&
                ParseRecordSettings(m_cgi.codec(), slot.ctx.received(), table))
                return kCgiOk;
        }
        const bool bStop = pause(slot, kStepRetryPauseMs);
        if (bStop || past(start, kStepRecordLimitMs)) {
            m_log.trace(1, "CamNo(%s) SessionCheckAndGet Timeout(%.1lf)", no.c_str(),
                        elapsedMs(start));
            return kCgiFailed;
        }
    }
}

int CameraSteps::WriteRecordSettings(CameraStepSlot& slot) {
    const std::string no = cameraNo(slot);
    RecordSettings current;
    const bool bRead = ReadRecordSettings(slot, current) == kCgiOk;
    const std::string path =
        m_cgi.MakeRecordWritePath(slot.ctx.copy, slot.savedRecord, current, bRead);
    if (path.empty()) return kCgiOk;  // the camera has them all
    const auto start = m_clock.now();
    for (;;) {
        if (m_cgi.SetRecordCgi(slot.ctx.session, slot.ctx.copy, path) == kCgiOk) {
            m_log.trace(1, "CamNo(%s) RecordCgi Set.", no.c_str());
            return kCgiOk;
        }
        slot.ctx.session.reset();
        if (pause(slot, kStepRetryPauseMs) || past(start, kStepRecordLimitMs)) {
            m_log.trace(1, "CamNo(%s) SessionCheckAndGet Timeout(%.1lf)", no.c_str(),
                        elapsedMs(start));
            return kCgiFailed;
        }
    }
}

void CameraSteps::PrepareCamera(CameraStepSlot& slot) {
    CameraEntry& copy = slot.ctx.copy;
    if (copy.wAspectRatio != 1 || copy.wProtoVer != 2 || copy.wFirmMethod != 2) return;
    const std::string no = cameraNo(slot);
    if (!InsideSubnet(slot) || SessionCheckAndGet(slot, kStepPollMs) != kCgiOk) {
        m_log.trace(1, "CamNo(%s) SetAspect HD Mode Set Connection Error.", no.c_str());
        return;
    }
    if (slot.ctx.camera != nullptr) storeAspect(*slot.ctx.camera, 1);
    slot.bRecordSaved = ReadRecordSettings(slot, slot.savedRecord) == kCgiOk;
    copy.wAspectRatio = 0;
    m_log.trace(1, "CamNo(%s) SetAspect HD Mode.", no.c_str());
    if (SetAspectRatio(slot, 0, kStepPrepareAspectLimitMs) != kCgiOk)
        m_log.trace(1, "CamNo(%s) SetAspect HD Mode Set Cgi Send Error.", no.c_str());
    if (pause(slot, kStepPrepareSettleMs)) return;
    if (SetSDHDDUnmount(slot) == kCgiOk)
        m_log.trace(1, "CamNo(%s) SD-CARD HDD Unmount Set.", no.c_str());
}

void CameraSteps::RestoreCamera(CameraStepSlot& slot) {
    if (slot.ctx.camera == nullptr) return;
    CameraEntry& copy = slot.ctx.copy;
    const std::uint16_t wanted = loadAspect(*slot.ctx.camera);
    if (wanted == copy.wAspectRatio) return;
    const std::string no = cameraNo(slot);
    if (SessionCheckAndGet(slot, kStepRestoreLimitMs) != kCgiOk) {
        m_log.trace(1, "CamNo(%s) FirmUpload SetAspect Connection Error.", no.c_str());
        return;
    }
    copy.wAspectRatio = wanted;
    m_log.trace(1, "CamNo(%s) FirmUpload HD To SD Chenge Start.", no.c_str());
    SetAspectRatio(slot, wanted, kStepRestoreLimitMs);
    m_log.trace(1, "CamNo(%s) FirmUpload HD To SD Chenge End.", no.c_str());
    m_log.trace(1, "CamNo(%s) FirmUpload HD To SD Chenge Sleep Start.", no.c_str());
    if (pause(slot, kStepRestoreSettleMs)) return;
    m_log.trace(1, "CamNo(%s) FirmUpload HD To SD Chenge Sleep End.", no.c_str());
    m_log.trace(1, "CamNo(%s) FirmUpload Rec Setting Start.", no.c_str());
    if (slot.bRecordSaved) {
        WriteRecordSettings(slot);
        if (pause(slot, kStepRecordWrittenMs)) return;
    }
    m_log.trace(1, "CamNo(%s) FirmUpload Rec Setting End.", no.c_str());
}

int CameraSteps::RebootWaitVer1(CameraStepSlot& slot, unsigned long rebootMs,
                                unsigned long timeoutMs) {
    const std::string no = cameraNo(slot);
    m_log.trace(1, "CamNo(%s) Ver1 Firmup Wait RebootTime == %lu : FirmuploadTimeOut == %lu.",
                no.c_str(), rebootMs, timeoutMs);
    const auto start = m_clock.now();
    const long reboot = static_cast<long>(rebootMs);
    bool bAnnounced = false;
    for (int attempt = 1; attempt <= kStepDiscon3Tries; ++attempt) {
        CgiRequestPtr request;
        const int sent = m_cgi.ReqGetDiscon3Cgi(slot.ctx.session, slot.ctx.copy, &request);
        if (sent != kCgiOk || !request) {
            m_log.trace(1,
                        "CamNo(%s) FirmupReboot Wait Ver1 ReqGetDiscon3Cgi Send Error(%d) "
                        "Retry(%d).",
                        no.c_str(), sent, attempt);
            if (pause(slot, kStepDiscon3PauseMs)) return kCgiFailed;
            continue;
        }
        m_log.trace(1, "CamNo(%s) FirmupReboot Wait Ver1 ReqGetDiscon3Cgi Send Ok.", no.c_str());
        std::size_t count = 0;
        long wait = 0;
        if (m_upload.FirmupRecv(slot.ctx, *request, count, kFirmRecvTimeoutMs) == kCgiOk &&
            m_upload.ParseRebootReply(slot.ctx, wait) >= 1) {
            if (pause(slot, reboot)) return kCgiFailed;
            slot.ctx.setStatus(kUploadRestarting);
            bAnnounced = true;
        }
        break;
    }
    if (!bAnnounced) {
        slot.ctx.setStatus(kUploadRestarting);
        if (pause(slot, reboot)) return kCgiFailed;
        m_cgi.ReqGetDiscon3Cgi(slot.ctx.session, slot.ctx.copy);
    }
    for (;;) {
        m_log.trace(1, "CamNo(%s) FirmupRebootWait1 lang.cgi Send.", no.c_str());
        if (m_cgi.ConnectInitSess(kCgiKeepAliveTimeoutMs, slot.ctx.copy, slot.ctx.session,
                                  kLangPath, false) == kCgiOk)
            return kCgiOk;
        // A camera that is down leaves a dead connection behind: the next poll starts afresh.
        slot.ctx.session.reset();
        const bool bStop = pause(slot, kStepVer1PollPauseMs);
        m_log.trace(3, "Reboot dbTimelag == %.1lf", elapsedMs(start));
        if (bStop || past(start, static_cast<long>(timeoutMs))) {
            m_log.trace(1, "CamNo(%s) FirmupRebootWaitVer1 Timeout(%.1lf)", no.c_str(),
                        elapsedMs(start));
            return kCgiFailed;
        }
    }
}

int CameraSteps::RebootWaitVer2(CameraStepSlot& slot, unsigned long rebootMs,
                                unsigned long timeoutMs, unsigned long uploadingTime) {
    const std::string no = cameraNo(slot);
    m_log.trace(1, "CamNo(%s) Ver2 Firmup Wait RebootTime == %lu : FirmuploadTimeOut == %lu",
                no.c_str(), rebootMs, timeoutMs);
    const auto start = m_clock.now();
    const long reboot = static_cast<long>(rebootMs);
    int result = kCgiFailed;
    for (;;) {
        long wait = 0;
        const int page = m_upload.GetFirmupCheckRecv(slot.ctx, wait);
        if (page == kFirmErrorCode) return kFirmErrorCode;
        bool bStop = false;
        if (page != kCgiOk) {
            slot.ctx.session.reset();
            slot.ctx.setStatus(kUploadRestarting);
            bStop = pause(slot, reboot);
            result = kCgiFailed;
        } else if (static_cast<unsigned long>(wait) > uploadingTime) {
            slot.ctx.setStatus(kUploadRestarting);
            m_log.trace(1, "CamNo(%s) FirmupRebootWaitVer2 Reboot Wait(%ld).", no.c_str(), wait);
            return pause(slot, RebootPauseMs(wait, rebootMs, timeoutMs)) ? kCgiFailed : kCgiOk;
        } else {
            result = wait == 0 ? kCgiFailed : kCgiOk;  // still writing when 1..J
        }
        bStop = bStop || pause(slot, kStepVer2PollPauseMs);
        m_log.trace(1, "CamNo(%s) Reboot dbTimelag == %.1lf", no.c_str(), elapsedMs(start));
        if (bStop) return kCgiFailed;
        if (past(start, static_cast<long>(timeoutMs))) {
            m_log.trace(1, "CamNo(%s) FirmupRebootWaitVer2 Timeout(%.1lf)", no.c_str(),
                        elapsedMs(start));
            return result;
        }
    }
}

long RebootPauseMs(long announcedMs, unsigned long rebootMs, unsigned long timeoutMs) {
    const unsigned long cap = std::min<unsigned long>(std::max(rebootMs, timeoutMs),
                                                      static_cast<unsigned long>(LONG_MAX));
    if (announcedMs <= 0 || static_cast<unsigned long>(announcedMs) <= rebootMs)
        return static_cast<long>(std::min(rebootMs, cap));
    const double longer = static_cast<double>(announcedMs) * 1.5;
    return longer >= static_cast<double>(cap) ? static_cast<long>(cap) : static_cast<long>(longer);
}

int CameraSteps::RebootWait(CameraStepSlot& slot, int method, unsigned long rebootMs,
                            unsigned long timeoutMs, unsigned long uploadingTime) {
    if (method == kRebootMethodVer2)
        return RebootWaitVer2(slot, rebootMs, timeoutMs, uploadingTime);
    return RebootWaitVer1(slot, rebootMs, timeoutMs);
}

}  // namespace lanrove
