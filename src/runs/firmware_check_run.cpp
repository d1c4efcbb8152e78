#include "runs/firmware_check_run.h"

#include <chrono>
#include <cstring>
#include <system_error>

#include "cgi/cgi.h"
#include "firmware/version_check.h"
#include "support/text.h"

namespace lanrove {

namespace {

double elapsedMs(const Clock& clock, std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(clock.now() - since).count();
}

// Whether the protocol duration `ms` has passed since `since`, in scaled time.
bool limitPassed(const Clock& clock, std::chrono::steady_clock::time_point since, long ms) {
    return clock.now() - since >= clock.scaled(Millis(ms));
}

}  // namespace

bool firmPause(const ManualResetEvent& abort, const Clock& clock, long ms) {
    return abort.waitFor(clock.scaled(Millis(ms)));
}

void useServiceAccount(CameraEntry& copy) {
    setField(copy.szUser, std::u16string_view(kServiceUser));
    setField(copy.szPassword, std::u16string_view(kServicePassword));
    if (fieldEmpty(copy.szPort)) setField(copy.szPort, std::u16string_view(u"80"));
    if (fieldEmpty(copy.szSsl)) setField(copy.szSsl, std::u16string_view(u"0"));
}

bool cameraOutsideSubnet(const AdapterEntry& adapter, const CameraEntry& camera) {
    return CCGI::IsOutsideHostSubnet(adapter.ip(), adapter.mask(), fieldUtf8(camera.szIp)) != 0;
}

int sessionCheckAndGet(FirmCamera& camera, CameraEntry& copy, const AdapterEntry& adapter,
                       TraceLog& log, const Clock& clock, const ManualResetEvent& abort) {
    const auto start = clock.now();
    int result = kCgiFailed;
    for (;;) {
        camera.dropSession();
        if (!cameraOutsideSubnet(adapter, copy)) {
            result = camera.reachable(copy, kSessionCheckLimitMs) ? kCgiOk : kCgiFailed;
            if (result == kCgiOk) result = camera.reqGetCamSet(copy);
            if (result == kCgiOk) return result;
        }
        if (limitPassed(clock, start, kSessionCheckLimitMs) ||
            firmPause(abort, clock, kSessionCheckPauseMs) ||
            limitPassed(clock, start, kSessionCheckLimitMs))
            break;
    }
    log.trace(1, "CamNo(%s) SessionCheckAndGet Timeout(%.1lf)", fieldUtf8(copy.szNo).c_str(),
              elapsedMs(clock, start));
    return result;
}

std::uint32_t checkVersion(FirmCamera& camera, CameraEntry& copy, const FirmFileChoice& choice,
                           const AdapterEntry& adapter, TraceLog& log, const Clock& clock,
                           const ManualResetEvent& abort) {
    return CheckVersion(copy, choice.row, choice.highest, log, [&](CameraEntry& camera_) {
        if (cameraOutsideSubnet(adapter, camera_)) return VersionRefresh::OutsideSubnet;
        return sessionCheckAndGet(camera, camera_, adapter, log, clock, abort) == kCgiOk
                   ? VersionRefresh::Ok
                   : VersionRefresh::QueryFailed;
    });
}

FirmComponentCheck checkFirmwareFile(
    FirmwareFiles& files, const CameraEntry& copy, bool versionCompare,
    const std::function<std::uint32_t(const FirmFileChoice&)>& check) {
    FirmComponentCheck out;
    int index = 0;
    for (;;) {
        FirmFileChoice choice = files.findNewest(copy, index);
        if (!versionCompare) choice.row.dwVersionCheck = 0;
        if (!choice.row.modelKey.empty()) files.ensureModelFolder(choice.row);
        // The method of the last row searched, also when no further component has a file.
        if (choice.row.wGeneration != 0) out.method = choice.row.wMethod;
        if (!choice.found) break;
        index = choice.index;
        if (files.fileSize(choice.path) == 0) {
            ++index;  // a missing or empty file: the next component
            continue;
        }
        ++out.filesFound;
        out.file = choice.path;
        out.fileNumber = choice.highest;
        if (choice.row.dwVersionCheck == 0) {
            out.status = fwcode::kUpdateReady;
            break;
        }
        const std::uint32_t result = check(choice);
        if (result == fwcode::kUpdateReady || result == fwcode::kNoVersionInfo) {
            out.status = fwcode::kUpdateReady;
            break;
        }
        if (result == fwcode::kUnreachable) {
            out.status = fwcode::kNoFirmware;
            break;
        }
        out.status = static_cast<std::uint16_t>(result);
        ++index;
    }
    if (out.filesFound == 0) {
        out.status = fwcode::kNoFirmware;
        out.file.clear();
    }
    return out;
}

FirmwareCheckRun::FirmwareCheckRun(FirmRunEnv env, FirmwareRunEvents& events)
    : m_env(std::move(env)), m_events(events), m_table(m_env.store) {}

FirmwareCheckRun::~FirmwareCheckRun() {
    stop();
}

int FirmwareCheckRun::stop() {
    // The done event is what the window waits on; the abort event is what cuts the run's
    // waits short so that the thread can be joined.
    return stopWorkerThread(
        m_thread, [this] { m_abort.set(); }, mainWindowStopLines("m_hFirmupThread"), m_env.log,
        m_env.clock);
}

bool FirmwareCheckRun::start(std::uint16_t mode, const AdapterEntry& adapter) {
    stop();
    m_abort.reset();
    m_done.reset();
    m_bFirmCheckRunning = true;
    try {
        m_thread.start([this, mode, adapter] { threadBody(mode, adapter); });
    } catch (const std::system_error&) {
        m_bFirmCheckRunning = false;
        return false;
    }
    return true;
}

void FirmwareCheckRun::threadBody(std::uint16_t mode, AdapterEntry adapter) {
    bool any = false;
    {
        std::lock_guard lock(m_csFirmCheck);
        m_bFirmCheckRunning = true;
        m_env.net.flushArpCache();
        any = camFirmCheck(mode, adapter);
    }
    // The report and the flag come before the done event, so that whoever wakes on it finds
    // the run's result in place.
    m_events.firmCheckDone(any);
    m_thread.closeHandleFromInside();
    m_bFirmCheckRunning = false;
    m_done.set();
}

std::vector<FirmCheckOutcome> FirmwareCheckRun::outcomes() const {
    std::lock_guard lock(m_outcomeMutex);
    return m_outcomes;
}

bool FirmwareCheckRun::camFirmCheck(std::uint16_t mode, const AdapterEntry& adapter) {
    TraceLog& log = m_env.log;
    const Clock& clock = m_env.clock;
    const std::unique_ptr<FirmCamera> camera = m_env.makeCamera(m_abort);
    camera->useAdapter(adapter);
    const bool upload = mode == kFirmRunUpload;
    const std::uint16_t unreachableStatus = upload ? fwcode::kError : fwcode::kCheckError;
    const FirmRunSettings settings = m_env.settings();
    {
        std::lock_guard lock(m_outcomeMutex);
        m_outcomes.assign(kCameraTableSize, FirmCheckOutcome{});
    }
    bool any = false;
    const int count = m_table.recordCount();
    for (int i = 0; i < count && !m_abort.isSet(); ++i) {
        CameraEntry copy = m_table.snapshot(i);
        if (upload && copy.wFirmStatus == fwcode::kNoFirmware &&
            copy.wUploadStatus == fwcode::kCheckError) {
            m_events.firmRowChanged(i);
            continue;
        }
        useServiceAccount(copy);
        if (!upload) {
            copy.wUploadStatus = 0;
            m_table.setUploadStatus(i, 0);
        }
        FirmCheckOutcome outcome;
        outcome.checked = true;
        const auto finishRow = [&](std::uint16_t firmStatus) {
            outcome.firmStatus = firmStatus;
            {
                std::lock_guard lock(m_outcomeMutex);
                m_outcomes[static_cast<std::size_t>(i)] = outcome;
            }
            m_events.firmRowChanged(i);
        };
        if (cameraOutsideSubnet(adapter, copy)) {
            m_table.setFirmStatus(i, fwcode::kNoFirmware);
            finishRow(fwcode::kNoFirmware);
            continue;
        }
        bool connected = false;
        for (int attempt = 0; attempt < kCheckConnectTries; ++attempt) {
            if (camera->connectInitSess(copy) == kCgiOk) {
                connected = true;
                break;
            }
            log.trace(1, "CamFirmCheck Clear Session Error Retry(%d)", attempt);
            if (firmPause(m_abort, clock, kCheckConnectPauseMs)) break;
        }
        if (!connected) {
            m_table.update(i, [&](CameraEntry& e) {
                e.wFirmStatus = fwcode::kNoFirmware;
                e.wUploadStatus = unreachableStatus;
            });
            finishRow(fwcode::kNoFirmware);
            continue;
        }

        const FirmComponentCheck found = checkFirmwareFile(
            m_env.files, copy, settings.versionCompare, [&](const FirmFileChoice& choice) {
                return checkVersion(*camera, copy, choice, adapter, log, clock, m_abort);
            });
        log.trace(1, "CamFirmCheck CheckFirmFile %d", static_cast<int>(found.status));
        std::uint16_t status = fwcode::kNoFirmware;
        if (found.status == fwcode::kUpdateReady) {
            status = fwcode::kUpdateReady;
            any = true;
        } else if (found.status == fwcode::kLatest) {
            status = fwcode::kLatest;
        }
        outcome.method = found.method;
        outcome.file = found.file;
        outcome.fileNumber = found.fileNumber;
        m_table.update(i, [&](CameraEntry& e) {
            e.wFirmStatus = status;
            e.wFirmMethod = found.method;
            // The refreshed version texts, so that the list and reports show what was compared.
            e.copyComponentVersions(copy);
        });

        bool codecDone = true;
        if (found.method == 2 || copy.wProtoVer == 1) {
            codecDone = false;
            for (int attempt = 0; attempt < kCheckConnectTries; ++attempt) {
                if (camera->getCodecStream(copy, kCheckCodecTimeoutMs) == kCgiOk) {
                    codecDone = true;
                    break;
                }
                log.trace(1, "CamNo(%s) CamFirmCheck ReqGetCodecStreamCgi Error Retry(%d)",
                          fieldUtf8(copy.szNo).c_str(), attempt);
                if (firmPause(m_abort, clock, kCheckConnectPauseMs)) break;
            }
            if (codecDone) {
                const std::uint16_t ratio = copy.wAspectRatio;
                m_table.update(i, [ratio](CameraEntry& e) { e.wAspectRatio = ratio; });
            } else {
                m_table.update(i, [&](CameraEntry& e) {
                    e.wFirmStatus = fwcode::kNoFirmware;
                    e.wUploadStatus = unreachableStatus;
                });
                status = fwcode::kNoFirmware;
            }
        }
        if (codecDone) camera->reqGetCamSet(copy);
        finishRow(status);
    }
    camera->dropSession();
    return any;
}

}  // namespace lanrove
