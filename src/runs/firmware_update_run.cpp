#include "runs/firmware_update_run.h"

#include <cstring>
#include <system_error>

#include "cgi/cgi.h"
#include "firmware/version_check.h"
#include "runs/change_journal.h"
#include "support/text.h"

namespace lanrove {

namespace {

std::string camNo(const CameraEntry& e) {
    return fieldUtf8(e.szNo);
}

// The journal's words for a worker's final status.
std::string resultDetail(std::uint16_t result) {
    std::string code = "status " + std::to_string(result);
    switch (result) {
        case fwcode::kCancelled:
            return "cancelled, " + code;
        case fwcode::kNoFile:
            return "no firmware file, " + code;
        case fwcode::kFailed:
            return "update not confirmed, " + code;
        case fwcode::kError:
            return "transfer error, " + code;
        case fwcode::kSentUnverified:
            return "sent, not verified";
        default:
            return code;
    }
}

// One journal line for a camera the upload run worked on: each component's version text
// before and after, and the images sent or tried where the camera's version did not show the
// update.
// A camera left untouched (nothing needed, or cancelled before its turn) has no line.
void journalUpload(const CameraEntry& before, const CameraEntry& after, bool afterRead,
                   const std::vector<std::string>& files, std::uint16_t result,
                   const FirmwareUpdateRun::Answer& answer) {
    if (files.empty() && (result == fwcode::kNoFile || result == fwcode::kCancelled)) return;
    const FirmwareVersionTexts versions = firmwareVersionTexts(before, after, afterRead);
    const std::string& from = versions.before;
    std::string to = versions.after;
    const bool sent = result == fwcode::kDone || result == fwcode::kSentUnverified;
    if ((to == from || result != fwcode::kDone) && !files.empty()) {
        std::string names;
        for (const std::string& f : files) names += (names.empty() ? "" : ", ") + f;
        to += std::string("; ") + (sent ? "sent " : "tried ") + names;
    }
    if (result == fwcode::kSentUnverified) {
        // Accepted by the camera, but nothing showed that it runs the new image.
        changeJournal().append(
            {{}, "firmware", fieldUtf8(before.szMac), from, to, resultDetail(result)});
        return;
    }
    std::string detail = resultDetail(result);
    if (!sent && answer.refused) {
        detail = "refused, HTTP " + std::to_string(answer.httpStatus) +
                 (answer.code.empty() ? "" : ", code=" + answer.code) + ", " + detail;
    }
    journalFirmware(before, from, to, result == fwcode::kDone, detail);
}

}  // namespace

// ------------------------------------------------------------------------------------ slot

FirmSlot::FirmSlot(FirmwareUpdateRun& run, int index) : m_run(run), m_nIndex(index) {}

FirmSlot::~FirmSlot() {
    m_run.stopSlot(*this);
}

void FirmSlot::setUploadStatus(std::uint16_t status) {
    m_copy.wUploadStatus = status;
    const int record = m_nRecord.load();
    if (!FirmTable::validIndex(record)) return;
    m_run.m_table.setUploadStatus(record, status);
    m_run.m_events.firmRowChanged(record);
}

void FirmSlot::setTotalBytes(std::uint32_t total) {
    m_copy.dwTotalBytes = total;
    const int record = m_nRecord.load();
    if (!FirmTable::validIndex(record)) return;
    m_run.m_table.update(record, [total](CameraEntry& e) { e.dwTotalBytes = total; });
}

void FirmSlot::setSentBytes(std::uint32_t sent) {
    m_copy.dwSentBytes = sent;
    const int record = m_nRecord.load();
    if (!FirmTable::validIndex(record)) return;
    m_run.m_table.update(record, [sent](CameraEntry& e) { e.dwSentBytes = sent; });
}

std::uint16_t FirmSlot::recordAspectRatio() {
    const int record = m_nRecord.load();
    if (!FirmTable::validIndex(record)) return 0;
    return m_run.m_table.read(record, [](const CameraEntry& e) { return e.wAspectRatio; });
}

void FirmSlot::setRecordAspectRatio(std::uint16_t ratio) {
    const int record = m_nRecord.load();
    if (!FirmTable::validIndex(record)) return;
    m_run.m_table.update(record, [ratio](CameraEntry& e) { e.wAspectRatio = ratio; });
}

// ------------------------------------------------------------------------------------- run

FirmwareUpdateRun::FirmwareUpdateRun(FirmRunEnv env, FirmwareRunEvents& events)
    : m_env(std::move(env)), m_events(events), m_table(m_env.store) {}

FirmwareUpdateRun::~FirmwareUpdateRun() {
    stop();
}

void FirmwareUpdateRun::stop() {
    std::lock_guard lock(m_csFirmup);
    m_abort.set();
    stopLocked();
    std::vector<std::unique_ptr<FirmSlot>> old;
    {
        std::lock_guard slots(m_slotsMutex);
        old.swap(m_slots);
    }
    old.clear();  // each slot ends its worker first
}

void FirmwareUpdateRun::stopLocked() {
    stopWorkerThread(m_dispatcher, m_stop, mainWindowStopLines("m_hFirmupThread"), m_env.log,
                     m_env.clock);
}

int FirmwareUpdateRun::stopSlot(FirmSlot& slot) {
    const std::string no = camNo(slot.m_copy);
    const std::string name = "m_hSendThread";
    ThreadStopLines lines{"CamNo(" + no + ") Firmup " + name + " Stop.",
                          "CamNo(" + no + ") Firmup " + name + " RetryStop.",
                          "CamNo(" + no + ") Firmup " + name + " TerminateThread.", ""};
    // Freeing a slot cuts its worker's waits short: the run is being replaced or shut down.
    return stopWorkerThread(
        slot.m_sendThread,
        [this, &slot] {
            slot.m_cancel.set();
            m_abort.set();
        },
        lines, m_env.log, m_env.clock);
}

long FirmwareUpdateRun::start(int instance, const AdapterEntry& adapter, int recordCount) {
    std::lock_guard lock(m_csFirmup);
    stopLocked();
    {
        std::vector<std::unique_ptr<FirmSlot>> old;
        {
            std::lock_guard slots(m_slotsMutex);
            old.swap(m_slots);
        }
        old.clear();
    }
    if (instance < 1) instance = 1;
    if (instance > 10) instance = 10;
    if (recordCount > static_cast<int>(kCameraTableSize))
        recordCount = static_cast<int>(kCameraTableSize);
    m_abort.reset();
    m_adapter = adapter;
    m_nCursor = 0;
    m_nRecordCount = recordCount;
    m_nPeakTransfers = 0;
    {
        std::lock_guard retries(m_retryMutex);
        m_retries.assign(kCameraTableSize, 0);
        m_answers.assign(kCameraTableSize, Answer{});
    }
    {
        std::lock_guard slots(m_slotsMutex);
        for (int i = 0; i < instance; ++i) m_slots.push_back(std::make_unique<FirmSlot>(*this, i));
    }
    m_stop.reset();
    try {
        m_dispatcher.start([this, recordCount] {
            dispatcher(recordCount);
            m_dispatcher.closeHandleFromInside();
        });
    } catch (const std::system_error& e) {
        return e.code().value() != 0 ? e.code().value() : -1;
    }
    return 0;
}

bool FirmwareUpdateRun::anySlotBusy() const {
    bool idleSlot = false;
    {
        std::lock_guard lock(m_slotsMutex);
        for (const auto& slot : m_slots) {
            const std::uint16_t s = slot->state();
            if (s == fwcode::kWorking || s == fwcode::kWaitingPermission) return true;
            if (s == fwcode::kSlotFree || s == fwcode::kDone) idleSlot = true;
        }
    }
    // A slot between two cameras (or not yet visited) is busy too while the dispatcher still
    // has an update-ready camera for it: otherwise the window would report the update
    // completed in the moment between one camera's end and the next one's start.
    if (!idleSlot || !m_dispatcher.running() || m_stop.isSet()) return false;
    for (int i = m_nCursor.load(); i < m_nRecordCount.load(); ++i) {
        const CameraEntry rec = m_table.snapshot(i);
        if (!rec.inUse()) break;
        if (rec.wFirmStatus == fwcode::kUpdateReady) return true;
    }
    return false;
}

void FirmwareUpdateRun::requestStop() {
    m_stop.set();
}

int FirmwareUpdateRun::slotCount() const {
    std::lock_guard lock(m_slotsMutex);
    return static_cast<int>(m_slots.size());
}

std::uint16_t FirmwareUpdateRun::slotState(int slot) const {
    std::lock_guard lock(m_slotsMutex);
    if (slot < 0 || slot >= static_cast<int>(m_slots.size())) return 0;
    return m_slots[static_cast<std::size_t>(slot)]->state();
}

int FirmwareUpdateRun::slotRecord(int slot) const {
    std::lock_guard lock(m_slotsMutex);
    if (slot < 0 || slot >= static_cast<int>(m_slots.size())) return -1;
    return m_slots[static_cast<std::size_t>(slot)]->recordIndex();
}

FirmwareUpdateRun::Answer FirmwareUpdateRun::answer(int recordIndex) const {
    std::lock_guard lock(m_retryMutex);
    if (recordIndex < 0 || recordIndex >= static_cast<int>(m_answers.size())) return {};
    return m_answers[static_cast<std::size_t>(recordIndex)];
}

int FirmwareUpdateRun::retries(int recordIndex) const {
    std::lock_guard lock(m_retryMutex);
    if (recordIndex < 0 || recordIndex >= static_cast<int>(m_retries.size())) return 0;
    return m_retries[static_cast<std::size_t>(recordIndex)];
}

void FirmwareUpdateRun::noteTransferring() {
    int now = 0;
    {
        std::lock_guard lock(m_slotsMutex);
        for (const auto& slot : m_slots)
            if (slot->transferring()) ++now;
    }
    int seen = m_nPeakTransfers.load();
    while (now > seen && !m_nPeakTransfers.compare_exchange_weak(seen, now)) {
    }
}

void FirmwareUpdateRun::setCopyAndRecordStatus(FirmSlot& slot, std::uint16_t status) {
    slot.setUploadStatus(status);
}

// ------------------------------------------------------------------------------ dispatcher

void FirmwareUpdateRun::takeCameraIntoSlot(int recordIndex, FirmSlot& slot) {
    std::lock_guard lock(slot.m_lock);
    // The steps' waits end on the slot's cancel event, which a shutdown sets as well.
    if (!slot.m_camera) slot.m_camera = m_env.makeCamera(slot.m_cancel);
    slot.m_camera->useAdapter(slot.m_adapter);
    CameraEntry record = m_table.snapshot(recordIndex);
    if (record.wProtoVer == 1) {
        if (cameraOutsideSubnet(slot.m_adapter, record)) {
            record.nRtspRtp = 0;
        } else {
            slot.m_camera->getCodecStream(record, kTakeCodecTimeoutMs);
        }
    } else if (record.wProtoVer == 2) {
        if (slot.m_camera->reqGetCamSet(record) != kCgiOk)
            m_env.log.trace(1, "CamNo(%s) Ver2 SetCamInfo CamSetCgi Failt", camNo(record).c_str());
    }
    // Every camera taken is marked taken (4097), whatever it showed before.
    record.dwSentBytes = 0;
    record.dwTotalBytes = 0;
    record.wUploadStatus = fwcode::kTaken;
    m_table.update(recordIndex, [&record](CameraEntry& e) { e = record; });
    slot.m_copy = record;
    useServiceAccount(slot.m_copy);
    slot.m_nRecord = recordIndex;
    m_events.firmRowChanged(recordIndex);
}

long FirmwareUpdateRun::startWorker(FirmSlot& slot) {
    std::lock_guard lock(slot.m_lock);
    const int record = slot.m_nRecord.load();
    if (!FirmTable::validIndex(record) || m_table.uploadStatus(record) < fwcode::kTaken) return -1;
    TraceLog& log = m_env.log;
    const std::string no = camNo(slot.m_copy);
    slot.m_bWaiting = true;
    log.trace(1, "CamNo(%s) Start Firmupload --->", no.c_str());
    log.trace(1, "CamNo(%s) StartFirmUp.", no.c_str());
    log.trace(1, "CamNo(%s) IP(%s) Gateway(%s).", no.c_str(), fieldUtf8(slot.m_copy.szIp).c_str(),
              fieldUtf8(slot.m_copy.szGateway).c_str());
    log.trace(1, "CamNo(%s) Model(%s) FirmVer(%s).", no.c_str(),
              fieldUtf8(slot.m_copy.szModel).c_str(), fieldUtf8(slot.m_copy.szFirmVer).c_str());
    slot.m_ack.reset();
    slot.m_start.reset();
    slot.m_cancel.reset();
    // Busy before the thread exists, so that no reader sees the slot idle in between.
    slot.m_state = fwcode::kWorking;
    slot.setUploadStatus(fwcode::kWorking);
    try {
        slot.m_sendThread.start([this, &slot] {
            sendEventProc(slot);
            slot.m_sendThread.closeHandleFromInside();
        });
    } catch (const std::system_error& e) {
        slot.m_bWaiting = false;
        slot.m_state = fwcode::kDone;
        return e.code().value() != 0 ? e.code().value() : -1;
    }
    return 0;
}

void FirmwareUpdateRun::dispatcher(int recordCount) {
    TraceLog& log = m_env.log;
    log.traceText(1, "Firmup Thread Start.");
    int cursor = 0;
    std::vector<FirmSlot*> slots;
    {
        std::lock_guard lock(m_slotsMutex);
        for (auto& s : m_slots) slots.push_back(s.get());
    }
    const int slotCount = static_cast<int>(slots.size());
    while (!m_stop.waitFor(m_env.clock.scaled(Millis(kDispatcherTickMs)))) {
        int finished = 0;
        for (int i = 0; i < slotCount && finished < slotCount && !m_stop.isSet(); ++i) {
            FirmSlot& slot = *slots[static_cast<std::size_t>(i)];
            const std::uint16_t state = slot.state();
            if (state == fwcode::kSlotFree || state == fwcode::kDone) {
                int found = -1;
                while (cursor < recordCount) {
                    const CameraEntry rec = m_table.snapshot(cursor);
                    if (!rec.inUse()) {
                        cursor = recordCount;
                        break;
                    }
                    const int here = cursor++;
                    if (rec.wFirmStatus == fwcode::kUpdateReady) {
                        found = here;
                        break;
                    }
                }
                if (found < 0) {
                    m_nCursor = cursor;
                    slot.m_state = fwcode::kSlotNoCamera;
                    ++finished;
                    continue;
                }
                // The camera counts as still to come until its worker has started.
                m_nCursor = found;
                slot.m_adapter = m_adapter;
                takeCameraIntoSlot(found, slot);
                startWorker(slot);
                m_nCursor = cursor;
                log.traceText(1, "pStartevent Set.");
            } else if (state == fwcode::kWaitingPermission) {
                int transferring = 0;
                for (FirmSlot* other : slots)
                    if (other->transferring()) ++transferring;
                if (transferring >= kMaxTransfers) continue;
                slot.m_start.set();
                if (slot.m_ack.waitFor(m_env.clock.scaled(Millis(kPermissionAckMs)))) {
                    log.trace(1, "Connection(%d) Ok Sleep break Event Start(%d) ", transferring, i);
                    // The worker may have moved on already (a cancel); only a waiting slot
                    // becomes a working one here.
                    std::uint16_t expected = fwcode::kWaitingPermission;
                    slot.m_state.compare_exchange_strong(expected, fwcode::kWorking);
                }
            } else if (state == fwcode::kSlotNoCamera) {
                ++finished;
            } else if (state == fwcode::kSlotNeedsRestart) {
                // The worker may still be returning; its session is used only once it has.
                std::unique_lock lock(slot.m_lock, std::try_to_lock);
                if (!lock.owns_lock() || !slot.m_camera) continue;
                const auto now = m_env.clock.now();
                if (slot.m_restart.expired(now)) {
                    log.trace(1, "CamNo(%s) SetRebootCommand Given Up(%d).",
                              camNo(slot.m_copy).c_str(), slot.m_restart.attempts());
                    slot.m_state = fwcode::kDone;
                } else if (slot.m_restart.due(now)) {
                    const int sent = slot.m_camera->restartCommand(slot.m_copy);
                    slot.m_restart.attempted(m_env.clock.now());
                    if (sent == kCgiOk) slot.m_state = fwcode::kDone;
                }
            }
        }
        // Every slot is through with its cameras: the run has ended.
        if (finished >= slotCount) break;
    }
    for (int i = 0; i < slotCount; ++i) {
        FirmSlot& slot = *slots[static_cast<std::size_t>(i)];
        const std::uint16_t state = slot.state();
        if (state == fwcode::kSlotFree || state == fwcode::kDone || state == fwcode::kSlotNoCamera)
            continue;
        log.trace(1, "CamNo(%s) FirmUp Cancel Event Set.",
                  fieldUtf8(m_table.snapshot(slot.recordIndex()).szNo).c_str());
        slot.m_cancel.set();
        log.trace(1, "Firmup Thread(%d)", i);
        if (slot.waiting()) slot.m_start.set();
    }
    log.traceText(1, "Firmup Thread End.");
}

// ---------------------------------------------------------------------------------- worker

void FirmwareUpdateRun::takeVersions(FirmSlot& slot, const FirmRow& row) {
    CameraEntry& copy = slot.m_copy;
    const int record = slot.m_nRecord.load();
    SetFirmVersionText(copy, row);
    m_table.update(record, [&copy](CameraEntry& e) {
        std::memcpy(e.szFirmVer, copy.szFirmVer, sizeof e.szFirmVer);
        e.copyComponentVersions(copy);
    });
    m_events.firmRowChanged(record);
}

void FirmwareUpdateRun::noteVersionsRead(FirmSlot& slot, std::uint32_t check) {
    if (check == fwcode::kUnreachable) return;
    // Read before anything was sent: the versions the camera had.
    if (slot.m_uploadedFiles.empty())
        slot.m_versionsBefore.copyComponentVersions(slot.m_copy);
    else
        slot.m_bReadAfterPost = true;
}

void FirmwareUpdateRun::sendEventProc(FirmSlot& slot) {
    std::lock_guard lock(slot.m_lock);
    TraceLog& log = m_env.log;
    const int record = slot.m_nRecord.load();
    if (!FirmTable::validIndex(record)) return;
    const CameraEntry now = m_table.snapshot(record);
    if (now.wUploadStatus < fwcode::kTaken) return;
    if (now.wFirmStatus == fwcode::kNoFirmware && now.wUploadStatus == fwcode::kCheckError) {
        slot.m_state = fwcode::kDone;
        return;
    }
    const std::string no = camNo(slot.m_copy);
    const FirmRunSettings settings = m_env.settings();
    log.trace(1, "CamNo(%s) SetRetry Count(%d).", no.c_str(), settings.retryCount);
    log.trace(1, "CamNo(%s) Set Upload Judgment Time(%lu).", no.c_str(),
              static_cast<unsigned long>(settings.uploadingTime));

    slot.m_versionsBefore = slot.m_copy;
    slot.m_bReadAfterPost = false;
    std::uint16_t result = runComponents(slot, settings);
    if (result == fwcode::kDone && slot.m_bUnverified) result = fwcode::kSentUnverified;

    // A prepared camera gets its settings back also after a cancel or at shutdown: the
    // restoration runs to its own limits, not cut short by either.
    slot.m_camera->keepGoing(true);
    slot.m_camera->restore(slot.m_copy, slot);
    slot.m_camera->keepGoing(false);
    setCopyAndRecordStatus(slot, result);
    journalUpload(slot.m_versionsBefore, slot.m_copy, slot.m_bReadAfterPost, slot.m_uploadedFiles,
                  result, answer(record));
    log.trace(1, "CamNo(%s) SendEventProc End ExcStatus(%d).", no.c_str(),
              static_cast<int>(result));
    log.trace(1, "CamNo(%s) End Firmupload <---", no.c_str());
    slot.m_bWaiting = false;
    slot.m_bTransferring = false;
    slot.m_restart = RestartThrottle(m_env.clock.scaled(Millis(kRestartAttemptEveryMs)),
                                     m_env.clock.scaled(Millis(kRestartAttemptsForMs)));
    slot.m_state = result == fwcode::kFailed ? fwcode::kSlotNeedsRestart : fwcode::kDone;
}

std::uint16_t FirmwareUpdateRun::runComponents(FirmSlot& slot, const FirmRunSettings& settings) {
    TraceLog& log = m_env.log;
    FirmCamera& camera = *slot.m_camera;
    FirmwareFiles& files = m_env.files;
    CameraEntry& copy = slot.m_copy;
    const int record = slot.m_nRecord.load();
    const std::string no = camNo(copy);

    slot.m_state = fwcode::kWorking;
    setCopyAndRecordStatus(slot, fwcode::kWorking);
    std::uint16_t R = fwcode::kWorking;
    slot.m_byComponentsDone = 0;
    slot.m_uploadedFiles.clear();
    slot.m_bUnverified = false;
    slot.m_bBrokenOff = false;
    slot.m_bTransferring = false;

    if (m_table.firmStatus(record) == fwcode::kUpdateReady) camera.prepare(copy, slot);

    int index = 0;
    for (;;) {
        // a. The next component with a file.
        slot.m_bTransferring = false;
        FirmFileChoice choice = files.findNewest(copy, index);
        if (!settings.versionCompare) choice.row.dwVersionCheck = 0;
        // b. No further component.
        if (!choice.found) {
            if (slot.m_byComponentsDone == 0) R = fwcode::kNoFile;
            if (copy.wUploadStatus == fwcode::kComponentDone) R = fwcode::kDone;
            return R;
        }
        index = choice.index;
        // c.
        int retry = 0;
        if (slot.m_byComponentsDone > 0) {
            setCopyAndRecordStatus(slot, fwcode::kComponentDone);
            R = fwcode::kComponentDone;
        }
        // d.
        const std::uint64_t size = files.fileSize(choice.path);
        bool componentEnds = false;  // go on with the next component (step h)
        if (size == 0) {
            copy.wUploadStatus = fwcode::kSkipped;
            R = fwcode::kSkipped;
            componentEnds = true;
        }
        bool firstTry = true;
        bool skipPause = false;
        while (!componentEnds) {
            // e. Permission to transfer.
            slot.m_bTransferring = false;
            slot.m_bWaiting = true;
            slot.m_ack.reset();
            slot.m_start.reset();
            slot.m_state = fwcode::kWaitingPermission;
            const auto limit = m_env.clock.now() + m_env.clock.scaled(Millis(kPermissionWaitMs));
            bool started = false;
            bool cancelled = false;
            while (m_env.clock.now() < limit) {
                // Cancel is looked at first, on a retry as on the first try: a dispatcher that
                // stops sets both events, and its start event is no permission then.
                if (slot.m_cancel.isSet() || m_abort.isSet()) {
                    cancelled = true;
                    break;
                }
                if (slot.m_start.waitFor(Millis(10))) {
                    if (slot.m_cancel.isSet() || m_abort.isSet()) {
                        cancelled = true;
                        break;
                    }
                    started = true;
                    break;
                }
            }
            if (cancelled) {
                copy.wUploadStatus = fwcode::kCancelled;
                slot.m_bWaiting = false;
                return fwcode::kCancelled;
            }
            if (started) {
                log.trace(1, "CamNo(%s) Connected Event Recv.", no.c_str());
            } else {
                log.trace(1, "CamNo(%s) NoEvents(%d).", no.c_str(), 258);
            }
            // Transferring is set before the acknowledgement, so that the dispatcher counts
            // this slot when it looks at the next one.
            slot.m_bTransferring = true;
            noteTransferring();
            slot.m_ack.set();
            slot.m_bWaiting = false;
            log.trace(1, "CamNo(%s) Start Event SendEventProc", no.c_str());
            slot.m_state = fwcode::kWorking;

            bool failed = false;
            // f. Is the component still needed?
            if (choice.row.dwVersionCheck != 0) {
                const std::uint32_t check = checkVersion(camera, copy, choice, slot.m_adapter, log,
                                                         m_env.clock, slot.m_cancel);
                noteVersionsRead(slot, check);
                if (check == fwcode::kUnreachable) {
                    log.trace(1, "CamNo(%s) Version Compara Error(%d).", no.c_str(),
                              static_cast<int>(check));
                    R = fwcode::kError;
                    failed = true;
                } else if (check == fwcode::kLatest && !firstTry) {
                    // The camera installed the image after all (it restarted late, or only on
                    // the restart command): the component is done.
                    slot.m_bTransferring = false;
                    log.trace(1, "CamNo(%s) FirmUpload Retry(%d) Version Already Updated.",
                              no.c_str(), retry);
                    takeVersions(slot, choice.row);
                    ++slot.m_byComponentsDone;
                    break;
                } else if (check == fwcode::kNoFirmware || check == fwcode::kLatest) {
                    slot.m_bTransferring = false;
                    ++index;
                    skipPause = true;
                    break;
                }
            }
            // g. The upload.
            if (!failed) {
                log.trace(1, "CamNo(%s) SessionCheckAndGet Start.", no.c_str());
                if (!camera.reachable(copy, kUploadReachableMs)) {
                    R = fwcode::kError;
                    failed = true;
                }
            }
            FirmImage image;
            if (!failed) {
                log.trace(1, "CamNo(%s) SessionCheckAndGet End.", no.c_str());
                // The image is read once per attempt; the body around it is built (with its
                // lines) by the upload request.
                int error = 0;
                for (int attempt = 1; attempt <= settings.retryCount; ++attempt) {
                    image = files.readAll(choice.path, error);
                    if (image) break;
                    log.trace(1, "CamNo(%s) FileSearch Error (code = %d: Retry = %lu).", no.c_str(),
                              error, static_cast<unsigned long>(attempt));
                    if (pause(kReadRetryPauseMs)) break;
                }
                if (!image || image->size() != size) {
                    log.trace(1, "CamNo(%s) Read Firm Failt File Size(%lu) = %lu, Ret = %d",
                              no.c_str(), static_cast<unsigned long>(size),
                              static_cast<unsigned long>(image ? image->size() : 0), error);
                    R = fwcode::kError;
                    failed = true;
                }
            }
            if (!failed) {
                const std::string name = choice.path.filename().string();
                if (slot.m_uploadedFiles.empty() || slot.m_uploadedFiles.back() != name)
                    slot.m_uploadedFiles.push_back(name);
                slot.m_bReadAfterPost = false;  // what was read is older than this transfer
                FirmPostLimits limits;
                limits.deadlineMs = transferDeadlineMs(image->size(), choice.row.dwUploadTimeOut);
                limits.stop = [this, &slot] { return slot.m_cancel.isSet() || m_abort.isSet(); };
                slot.m_bBrokenOff = false;
                const FirmPostResult post = camera.post(copy, choice.path, image, slot, limits);
                image.reset();
                const bool refused = post.httpStatus >= 400 || post.errorCode;
                if (post.outcome == FirmPostResult::Outcome::kSent ||
                    post.outcome == FirmPostResult::Outcome::kSendFailed) {
                    log.trace(1, "CamNo(%s) Firmup Answer Status(%ld) Code(%s).", no.c_str(),
                              post.httpStatus, post.code.empty() ? "-" : post.code.c_str());
                    std::lock_guard lock(m_retryMutex);
                    if (FirmTable::validIndex(record))
                        m_answers[static_cast<std::size_t>(record)] =
                            Answer{post.httpStatus, post.code, refused};
                }
                if (post.outcome == FirmPostResult::Outcome::kBodyFailed) {
                    R = fwcode::kError;
                    failed = true;
                } else if (post.outcome == FirmPostResult::Outcome::kOpenFailed) {
                    log.trace(1, "CamNo(%s) ReqPostAndFirmupCgi Timeout.", no.c_str());
                    R = fwcode::kError;
                    failed = true;
                } else if (post.outcome == FirmPostResult::Outcome::kSendFailed) {
                    // The sender has written its "FirmSend ==" line.
                    if (post.deadlinePassed)
                        log.trace(1, "CamNo(%s) Firmup Transfer Deadline(%llu) Passed.", no.c_str(),
                                  static_cast<unsigned long long>(limits.deadlineMs));
                    else if (post.stopped)
                        log.trace(1, "CamNo(%s) Firmup Transfer Stopped.", no.c_str());
                    slot.m_bBrokenOff = true;
                    R = fwcode::kFailed;
                    failed = true;
                } else if (refused && !post.errorCode &&
                           post.outcome == FirmPostResult::Outcome::kSent) {
                    // A refusal without an error page is a refusal all the same.
                    log.trace(1, "CamNo(%s) Firmup Refused Status(%ld) Reboot Command Set.",
                              no.c_str(), post.httpStatus);
                    R = fwcode::kFailed;
                    failed = true;
                } else if (post.replyRead) {
                    if (post.errorCode) {
                        log.trace(1, "CamNo(%s) ParseCheckError Reboot Command Set.", no.c_str());
                        R = fwcode::kFailed;
                        failed = true;
                    } else {
                        log.trace(1, "CamNo(%s) Send EndWait Code(%ld).", no.c_str(),
                                  post.httpStatus);
                        pause(kAfterReplyWaitMs);
                    }
                }
            }
            if (!failed) {
                slot.m_start.reset();
                slot.m_bTransferring = false;
                if (camera.rebootWait(copy, choice.row, settings.uploadingTime, slot) != 0) {
                    log.trace(1, "CamNo(%s) FirmUpload Reboot Wait%d Error Reboot Command Set.",
                              no.c_str(), choice.row.wMethod == 2 ? 2 : 1);
                    R = fwcode::kFailed;
                    failed = true;
                } else {
                    setCopyAndRecordStatus(slot, fwcode::kBack);
                }
            }
            if (!failed && choice.row.dwVersionCheck == 0) {
                slot.m_bUnverified = true;  // nothing is compared for this row
            } else if (!failed) {
                const std::uint32_t check = checkVersion(camera, copy, choice, slot.m_adapter, log,
                                                         m_env.clock, slot.m_cancel);
                noteVersionsRead(slot, check);
                if (check == fwcode::kLatest) {
                    takeVersions(slot, choice.row);
                } else if (check == fwcode::kNoVersionInfo) {
                    slot.m_bUnverified = true;  // the camera shows no version to compare
                } else {
                    log.trace(1, "CamNo(%s) FirmUpload Version Error Reboot Command Set.",
                              no.c_str());
                    R = fwcode::kFailed;
                    failed = true;
                }
            }
            if (!failed) {
                ++slot.m_byComponentsDone;
                break;
            }

            // 6. Failure with retry.
            slot.m_bTransferring = false;
            // A cancelled run starts no further attempt: no dispatcher is left to grant it. A
            // camera whose transfer broke off is told to restart once (the command's own limit
            // bounds it), since no dispatcher will send it later.
            if (slot.m_cancel.isSet() || m_abort.isSet()) {
                if (slot.m_bBrokenOff && !m_abort.isSet()) camera.restartCommand(copy);
                copy.wUploadStatus = fwcode::kCancelled;
                return fwcode::kCancelled;
            }
            if (retry >= settings.retryCount) return R;
            const int rebootResult = camera.setRebootWait(copy);
            if (slot.m_cancel.isSet() || m_abort.isSet()) {
                copy.wUploadStatus = fwcode::kCancelled;
                return fwcode::kCancelled;
            }
            if (rebootResult != 0) {
                pause(kRetryRebootErrorPauseMs);
                log.trace(1, "CamNo(%s) FirmUpload Retry(%d) Reboot error(%d).", no.c_str(), retry,
                          rebootResult);
                return R;
            }
            ++retry;
            {
                std::lock_guard lock(m_retryMutex);
                if (FirmTable::validIndex(record)) ++m_retries[static_cast<std::size_t>(record)];
            }
            log.trace(1, "CamNo(%s) FirmUpload Retry(%d) Start.", no.c_str(), retry);
            slot.m_state = fwcode::kWorking;
            slot.m_ack.reset();
            slot.m_start.reset();
            firstTry = false;
        }
        if (skipPause) continue;  // f: not needed, straight to the next component
        // h. Next component.
        ++index;
        if (slot.m_byComponentsDone > 0) {
            setCopyAndRecordStatus(slot, fwcode::kComponentDone);
            R = fwcode::kComponentDone;
        }
        if (slot.m_cancel.waitFor(m_env.clock.scaled(Millis(kCancelCheckMs))) || m_abort.isSet()) {
            setCopyAndRecordStatus(slot, fwcode::kCancelled);
            return fwcode::kCancelled;
        }
    }
}

}  // namespace lanrove
