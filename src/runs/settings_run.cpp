#include "runs/settings_run.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "discovery/camera_status.h"
#include "discovery/datagram_codec.h"
#include "support/text.h"

namespace lanrove {

namespace {

// One probe slot of a batch: the address and whether something answered.
struct ProbeSlot {
    std::u16string address;
    bool inUse = false;
};

// The bookkeeping the probe threads of one batch share: the next slot to take and the count
// of probes that have finished, both under one lock so the waiting side sees exact values.
struct ProbeBatch {
    std::array<ProbeSlot, kProbeSlots> slots;
    int filled = 0;
    int next = 0;
    int done = 0;
    std::mutex mutex;
    std::condition_variable cv;
};

void probeOneSlot(ProbeBatch& batch, AddressProbe& probe) {
    int slot = 0;
    std::u16string address;
    {
        std::lock_guard lock(batch.mutex);
        slot = batch.next++;
        address = batch.slots[static_cast<std::size_t>(slot)].address;
    }
    const bool inUse = probe.inUse(address);
    {
        std::lock_guard lock(batch.mutex);
        batch.slots[static_cast<std::size_t>(slot)].inUse = inUse;
        ++batch.done;
    }
    batch.cv.notify_all();
}

std::string macOf(const SetReplyEntry& reply) {
    return fieldUtf8(reply.szMac);
}

int recordIndexOf(const CameraEntry& record) {
    const std::string no = fieldUtf8(record.szNo);
    if (no.empty() || no.size() > 4) return -1;
    int n = 0;
    for (char c : no) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= static_cast<int>(kCameraTableSize) ? n - 1 : -1;
}

}  // namespace

bool EchoAddressProbe::inUse(std::u16string_view address) {
    return m_net.echo(address, kProbeEchoTimeoutMs) == kEchoSuccess;
}

FreeAddressResult findFreeAddresses(const std::vector<std::u16string>& candidates, int wanted,
                                    AddressProbe& probe, TraceLog& log,
                                    const std::atomic<bool>* abandon) {
    return findFreeAddresses(CandidateAddresses(candidates), wanted, probe, log, abandon);
}

FreeAddressResult findFreeAddresses(CandidateAddresses candidates, int wanted, AddressProbe& probe,
                                    TraceLog& log, const std::atomic<bool>* abandon) {
    FreeAddressResult result;
    const auto started = std::chrono::steady_clock::now();
    bool more = true;
    while (static_cast<int>(result.addresses.size()) < wanted && more) {
        if (abandon != nullptr && abandon->load()) break;
        // A fresh batch every time: slots of an earlier batch are never looked at again, so a
        // short last batch cannot hand out an address a second time.
        ProbeBatch batch;
        while (batch.filled < kProbeSlots) {
            std::u16string& slot = batch.slots[static_cast<std::size_t>(batch.filled)].address;
            if (!(more = candidates.next(slot))) break;
            ++batch.filled;
        }
        if (batch.filled == 0) break;
        ++result.batches;
        result.probes += batch.filled;

        std::vector<std::thread> threads;
        threads.reserve(static_cast<std::size_t>(batch.filled));
        for (int i = 0; i < batch.filled; ++i) {
            try {
                threads.emplace_back([&batch, &probe] { probeOneSlot(batch, probe); });
            } catch (const std::system_error&) {
                probeOneSlot(batch, probe);  // no thread to be had: probe here
            }
        }
        {
            std::unique_lock lock(batch.mutex);
            while (batch.done < batch.filled) batch.cv.wait_for(lock, Millis(kProbePollMs));
        }
        for (std::thread& t : threads) t.join();

        int freeInBatch = 0;
        for (int i = 0; i < batch.filled; ++i) {
            const ProbeSlot& slot = batch.slots[static_cast<std::size_t>(i)];
            if (slot.inUse) continue;
            result.addresses.push_back(slot.address);
            ++freeInBatch;
            if (static_cast<int>(result.addresses.size()) >= wanted) break;
        }
        log.trace(1, "AutoSet Ping Batch(%d) Slots(%d) Free(%d)", result.batches, batch.filled,
                  freeInBatch);
    }
    result.elapsedMs = static_cast<long>(
        std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - started).count());
    return result;
}

// ------------------------------------------------------------------------------------ the run

SettingsRun::SettingsRun(SettingsRunContext context, SettingsRunEvents& events)
    : m_ctx(context), m_events(events) {}

SettingsRun::~SettingsRun() {
    // The workers use this object and the store: end them here, with the stop procedure. The
    // flags are left alone when the run is long over (a search may own them by now).
    if (m_setThread.running() || m_probeThread.running()) {
        m_ctx.store.m_bSearchEnd = 1;
        m_ctx.store.m_bStop = 1;
    }
    m_bAbandonProbe = true;
    stopWorkerThread(m_setThread, m_quit, {"", "", "StsChange Setting Thread TerminateThread.", ""},
                     m_ctx.log, m_ctx.clock);
    stopWorkerThread(m_probeThread, m_quit, {"", "", "StsChange Ping Thread TerminateThread.", ""},
                     m_ctx.log, m_ctx.clock);
}

void SettingsRun::prepareAuto(CandidateAddresses candidates, int wanted, std::u16string newText) {
    m_mode = RunMode::Auto;
    m_candidates = std::move(candidates);
    m_nWanted = wanted;
    m_newText = std::move(newText);
}

void SettingsRun::prepareManual(const CameraEntry& loginEntry, const CameraEntry& edited,
                                bool statusWasOk) {
    m_mode = RunMode::Manual;
    m_LoginEntry = loginEntry;
    m_edited = edited;
    m_bStatusWasOk = statusWasOk;
}

void SettingsRun::begin() {
    CameraStore& store = m_ctx.store;
    m_bCancelled = false;
    store.m_bSearchEnd = 0;
    store.m_bStop = 0;
    m_ctx.net.flushArpCache();
    if (m_mode == RunMode::Manual) {
        store.m_SetTable.clear();
        store.m_SetTable[0] = m_edited;
        m_bSetStarted = true;
        startWorker(m_setThread, &SettingsRun::settingWorker, "Setting");
    }
}

bool SettingsRun::startWorker(WorkerThread& thread, void (SettingsRun::*body)(), const char* name) {
    try {
        thread.start([this, &thread, body] {
            (this->*body)();
            thread.closeHandleFromInside();
        });
        return true;
    } catch (const std::system_error& e) {
        m_ctx.log.trace(1, "StsChange %s Thread Start Error(%d).", name, e.code().value());
        fail(e.code().value(),
             std::string("The settings run could not start a thread (") + e.what() +
                 "): nothing was sent.",
             "Setting thread start error");
    } catch (const std::exception& e) {
        m_ctx.log.trace(1, "StsChange %s Thread Start Error.", name);
        fail(0,
             std::string("The settings run could not start a thread (") + e.what() +
                 "): nothing was sent.",
             "Setting thread start error");
    }
    return false;
}

void SettingsRun::fail(int code, const std::string& text, const char* event) {
    {
        std::lock_guard lock(m_resultMutex);
        if (!m_error.failed()) m_error = {code, text};
    }
    m_ctx.log.event(std::string(event) + " = " + std::to_string(code), "err", eventSubject());
    // The window closes at its next step: nothing is waited for.
    m_ctx.store.m_bSearchEnd = 1;
    m_ctx.store.m_bStop = 1;
}

const char* SettingsRun::eventSubject() const {
    return m_mode == RunMode::Auto ? "Auto Set" : "Manual Set";
}

SettingsRunError SettingsRun::error() const {
    std::lock_guard lock(m_resultMutex);
    return m_error;
}

void SettingsRun::startProbe() {
    if (m_mode != RunMode::Auto || m_probeThread.hasHandle() || m_bCancelled.load()) return;
    {
        std::lock_guard lock(m_resultMutex);
        m_probeResult = {};
        m_bProbeDone = false;
    }
    startWorker(m_probeThread, &SettingsRun::probeWorker, "Ping");
}

void SettingsRun::probeWorker() {
    m_ctx.log.trace(1, "AutoSet Ping Start Candidates(%llu) Wanted(%d)",
                    static_cast<unsigned long long>(m_candidates.count()), m_nWanted);
    if (m_ctx.nAdapter >= 0 && m_ctx.nAdapter < static_cast<int>(m_ctx.adapters.size()))
        m_ctx.probe.useAdapter(m_ctx.adapters[static_cast<std::size_t>(m_ctx.nAdapter)]);
    FreeAddressResult found =
        findFreeAddresses(m_candidates, m_nWanted, m_ctx.probe, m_ctx.log, &m_bAbandonProbe);
    m_ctx.log.trace(1, "AutoSet Ping End Free(%d) Batches(%d)",
                    static_cast<int>(found.addresses.size()), found.batches);
    std::lock_guard lock(m_resultMutex);
    m_probeResult = std::move(found);
    m_bProbeDone = true;
}

bool SettingsRun::progressTick() {
    if (m_bCancelled.load()) return false;
    CameraStore& store = m_ctx.store;
    if (!m_bSetStarted) {
        bool ready = false;
        {
            std::lock_guard lock(m_resultMutex);
            if (m_error.failed()) {
                m_bSetStarted = true;  // a run that failed to start sends nothing
            } else if (m_bProbeDone) {
                m_FreeAddrs = m_probeResult;
                ready = true;
            }
        }
        if (ready) {
            m_bSetStarted = true;
            startWorker(m_setThread, &SettingsRun::settingWorker, "Setting");
        }
    }
    if (store.m_bSearchEnd.load() != 1) return false;
    bool close = true;
    if (m_probeThread.hasHandle() && !m_probeThread.waitEnd(Millis(10))) {
        m_ctx.log.traceText(1, "StsChange(1) Ping Thread Stop Error.");
        close = false;
    }
    if (m_setThread.hasHandle() && !m_setThread.waitEnd(Millis(10))) {
        m_ctx.log.traceText(1, "StsChange(1) Setting Thread Stop Error.");
        close = false;
    }
    if (!close) return false;
    store.m_bStop = 1;
    return true;
}

void SettingsRun::cancel() {
    m_ctx.store.m_bSearchEnd = 1;
    m_ctx.store.m_bStop = 1;
    m_bCancelled = true;  // after the flags: the worker reads it to see whether they were lost
}

bool SettingsRun::cancelTick() {
    bool close = true;
    if (m_probeThread.hasHandle() && !m_probeThread.waitEnd(Millis(10))) {
        m_ctx.log.traceText(1, "StsChange(2) Ping Thread Stop Error.");
        close = false;
    }
    if (m_setThread.hasHandle() && !m_setThread.waitEnd(Millis(10))) {
        m_ctx.log.traceText(1, "StsChange(2) AutoSet Thread Stop Error.");
        return false;
    }
    return close;
}

FreeAddressResult SettingsRun::freeAddresses() const {
    std::lock_guard lock(m_resultMutex);
    return m_FreeAddrs;
}

void SettingsRun::pause(long ms) const {
    m_quit.waitFor(m_ctx.clock.scaled(Millis(ms)));
}

void SettingsRun::fillAutoTable() {
    CameraStore& store = m_ctx.store;
    store.m_SetTable.clear();
    AdapterEntry adapter{};
    adapter.clear();
    if (m_ctx.nAdapter >= 0 && m_ctx.nAdapter < static_cast<int>(m_ctx.adapters.size()))
        adapter = m_ctx.adapters[static_cast<std::size_t>(m_ctx.nAdapter)];
    const std::vector<std::u16string>& free = m_FreeAddrs.addresses;
    std::size_t used = 0;
    for (std::size_t i = 0; i < kCameraTableSize && used < free.size(); ++i) {
        const CameraEntry& entry = store.m_CamTable[i];
        if (fieldView(entry.szStatus) != m_newText) continue;
        CameraEntry& record = store.m_SetTable[used];
        record = entry;
        setField(record.szIp, std::u16string_view(free[used]));
        setField(record.szMask, adapter.mask());
        if (!adapter.gateway().empty()) setField(record.szGateway, adapter.gateway());
        ++used;
    }
}

void SettingsRun::settingWorker() {
    CameraStore& store = m_ctx.store;
    const auto mode = static_cast<int>(m_mode);
    m_ctx.log.trace(1, "SettingThread Start Mode(%d)", mode);
    store.clearFoundMacs();
    store.resetReplies();
    store.m_bySendCount = 0;
    m_nRepliesTaken = 0;
    m_nApplied = 0;

    if (m_mode == RunMode::Auto) {
        if (m_FreeAddrs.addresses.empty()) {
            m_ctx.log.traceText(1, "SettingThread No Free Address.");
            store.m_bSearchEnd = 1;
            return;
        }
        fillAutoTable();
    }
    m_records.clear();
    for (std::size_t i = 0; i < kCameraTableSize; ++i) {
        CameraEntry record = store.m_SetTable[i];
        if (fieldEmpty(record.szNo)) break;
        if (m_mode == RunMode::Auto) {
            // What the datagram carries (the send schedule writes the same into the table).
            setField(record.szUser, std::u16string_view(kDefaultCredential));
            setField(record.szPassword, std::u16string_view(kDefaultCredential));
        }
        m_records.push_back(record);
        if (m_mode == RunMode::Manual) break;  // a manual run sends the first record only
    }
    m_answered.assign(m_records.size(), false);
    m_nRecords = static_cast<int>(m_records.size());

    if (m_ctx.nAdapter >= 0 && m_ctx.nAdapter < static_cast<int>(m_ctx.adapters.size()))
        m_ctx.link.setAdapter(m_ctx.adapters[static_cast<std::size_t>(m_ctx.nAdapter)]);
    // Restarting the receive thread clears the stop flag: a Cancel made before this moment is
    // overridden, and the run then ends with its send schedule. A run that cannot hear the
    // replies sends nothing: a camera would move without the list ever knowing.
    int recv = 0;
    std::string why;
    try {
        recv = m_ctx.link.startRecvThread();
        why = recv == ETIMEDOUT ? "it did not get ready" : std::strerror(recv);
    } catch (const std::exception& e) {
        recv = EAGAIN;
        why = std::string("no receive thread: ") + e.what();
    }
    if (recv != 0) {
        m_ctx.log.trace(1, "SettingThread Recv Open Error(%d): nothing sent.", recv);
        fail(recv,
             "The settings run cannot open port " + std::to_string(dgram::kPcPort) +
                 " for the cameras' replies (" + why +
                 "; another program may hold it): " + "nothing was sent.",
             "Setting receive port open error");
        m_ctx.log.trace(1, "SettingThread End Mode(%d) Taken(0) Applied(0)", mode);
        return;
    }
    if (m_bCancelled.load() && store.m_bStop.load() == 0)
        m_ctx.log.traceText(1, "SettingThread Cancel overridden by the receive thread restart.");
    m_ctx.scheduler.start(m_mode == RunMode::Auto ? SendSchedule::Auto : SendSchedule::Manual);

    CgiSessionSlot slot;
    while (store.m_bStop.load() == 0) {
        SetReplyEntry reply{};
        if (!store.takeReply(reply)) {
            pause(kReplyPollMs);
            continue;
        }
        ++m_nRepliesTaken;
        if (!takeOneReply(reply, slot)) continue;
        if (m_mode == RunMode::Manual) {
            m_ctx.scheduler.stop();
            store.m_bStop = 1;
        } else if (m_nApplied >= static_cast<int>(m_records.size())) {
            store.m_bStop = 1;
            m_ctx.scheduler.stop();
        }
        // Replies already waiting are taken at once; the poll pause is only for an empty
        // queue. A pause after every reply would let one run take at most 18 of them before
        // the schedule ends, while the other cameras have moved unseen.
    }

    m_ctx.scheduler.stop();
    takeQueuedReplies(slot);
    if (m_mode == RunMode::Auto) m_ctx.net.flushArpCache();
    if (m_mode == RunMode::Manual && m_nApplied == 0) markManualFailed();
    slot.reset();  // the manual run's HTTP connection
    dropLateReplies();
    m_ctx.log.trace(1, "SettingThread End Mode(%d) Taken(%d) Applied(%d)", mode,
                    m_nRepliesTaken.load(), m_nApplied);
    store.m_bSearchEnd = 1;
}

bool SettingsRun::takeOneReply(const SetReplyEntry& reply, CgiSessionSlot& slot) {
    const std::string mac = macOf(reply);
    if (m_mode == RunMode::Auto && reply.wResult != kResultAccepted) {
        m_ctx.log.trace(1, "SettingThread Reply Mac(%s) Result(%u) dropped.", mac.c_str(),
                        static_cast<unsigned>(reply.wResult));
        return false;
    }
    std::size_t index = m_records.size();
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (fieldEmpty(m_records[i].szMac)) break;
        if (fieldView(m_records[i].szMac) == fieldView(reply.szMac)) {
            index = i;
            break;
        }
    }
    // Matched before judging: a stranger's reply must not set off the version-1 waits and the
    // HTTP command for our camera.
    if (index == m_records.size()) {
        m_ctx.log.trace(1, "SettingThread Reply Mac(%s) not in the settings table: ignored.",
                        mac.c_str());
        return false;
    }
    if (m_answered[index]) {
        m_ctx.log.trace(1, "SettingThread Reply Mac(%s) answered before: ignored.", mac.c_str());
        return false;
    }
    m_answered[index] = true;

    SettingResult result;
    result.record = m_records[index];
    if (m_mode == RunMode::Manual) {
        judgeManual(reply, result, slot);
    } else {
        result.record.dwResult = kResultAccepted;
        result.copy = SettingCopy::WholeRecord;
    }
    const std::uint32_t code = result.record.dwResult;
    if (result.record.wProtoVer != 1 && reply.wResult == kResultAccepted)
        result.record.bFactory = 0;
    result.recordIndex = recordIndexOf(result.record);
    m_ctx.log.trace(1, "SettingThread Reply Mac(%s) Reply(%u) Result(%u) No(%s)", mac.c_str(),
                    static_cast<unsigned>(reply.wResult), static_cast<unsigned>(code),
                    fieldUtf8(result.record.szNo).c_str());
    if (result.recordIndex >= 0) m_events.settingResult(result);
    ++m_nApplied;
    return true;
}

void SettingsRun::judgeManual(const SetReplyEntry& reply, SettingResult& result,
                              CgiSessionSlot& slot) {
    CameraEntry& record = result.record;
    const auto judged = [&result](std::uint32_t code, SettingCopy copy) {
        result.record.dwResult = code < kResultRefused ? kResultAccepted : code;
        result.copy = copy;
    };
    if (record.wProtoVer != 1) {
        const bool ok = reply.wResult < kResultRefused;
        judged(reply.wResult, ok ? SettingCopy::WholeRecord : SettingCopy::StatusOnly);
        return;
    }
    if (reply.wResult != kResultAccepted) {
        judged(kResultRefused, SettingCopy::StatusOnly);
        return;
    }
    // From here the camera is at its new address, mask and gateway, whatever follows.
    AdapterEntry adapter{};
    adapter.clear();
    if (m_ctx.nAdapter >= 0 && m_ctx.nAdapter < static_cast<int>(m_ctx.adapters.size()))
        adapter = m_ctx.adapters[static_cast<std::size_t>(m_ctx.nAdapter)];
    const std::string newIp = fieldUtf8(record.szIp);
    const bool netDue =
        m_bStatusWasOk && CCGI::IsOutsideHostSubnet(adapter.ip(), adapter.mask(), newIp) == 0;
    if (!netDue) {
        // Only the datagram's fields reached the camera.
        judged(kResultAccepted, SettingCopy::Network);
        return;
    }
    if (m_bCancelled.load()) {
        // Taken after a Cancel: the camera moved, the rest is left to the installer.
        m_ctx.log.trace(1, "SettingThread SetNetCgi(%s) not sent: cancelled.", newIp.c_str());
        judged(kResultRefused, SettingCopy::Network);
        result.addressOnly = true;
        return;
    }
    pause(kVersion1RestartWaitMs);  // the camera restarts its network
    const int net = m_ctx.cgi.SetNetCgi(slot, record, m_LoginEntry);
    m_ctx.log.trace(1, "SettingThread SetNetCgi(%s) Result(%d)", newIp.c_str(), net);
    pause(kVersion1NetCgiWaitMs);
    const auto code = static_cast<std::uint32_t>(net);
    if (code < kResultRefused) {
        judged(code, SettingCopy::WholeRecord);
    } else {
        judged(code, SettingCopy::Network);
        result.addressOnly = true;
    }
}

void SettingsRun::takeQueuedReplies(CgiSessionSlot& slot) {
    if (m_records.empty()) return;
    const bool complete = m_mode == RunMode::Manual
                              ? m_nApplied > 0
                              : m_nApplied >= static_cast<int>(m_records.size());
    if (complete) return;
    // A reply already in the socket is handed over within microseconds of the end; a short
    // grace covers it without holding Cancel for a whole receive time-out (the thread may sit
    // in its blocking receive for that long).
    if (!m_ctx.link.waitRecvIdle(m_ctx.clock.scaled(Millis(kEndGraceMs))))
        m_ctx.log.traceText(1, "SettingThread Recv Thread still in its receive at the end.");
    SetReplyEntry reply{};
    while (m_ctx.store.takeReply(reply)) {
        ++m_nRepliesTaken;
        if (m_mode == RunMode::Manual && m_nApplied > 0) {
            m_ctx.log.trace(1, "SettingThread Reply Mac(%s) after the end: ignored.",
                            macOf(reply).c_str());
            continue;
        }
        m_ctx.log.trace(1, "SettingThread Reply Mac(%s) taken at the end.", macOf(reply).c_str());
        takeOneReply(reply, slot);
    }
}

void SettingsRun::markManualFailed() {
    if (m_records.empty()) return;
    SettingResult result;
    result.record = m_records[0];
    result.record.dwResult = kResultRefused;
    result.recordIndex = recordIndexOf(result.record);
    result.copy = SettingCopy::StatusOnly;
    m_ctx.log.trace(1, "SettingThread No Reply No(%s): result 400.",
                    fieldUtf8(result.record.szNo).c_str());
    if (result.recordIndex >= 0) m_events.settingResult(result);
}

void SettingsRun::dropLateReplies() {
    SetReplyEntry reply{};
    while (m_ctx.store.takeReply(reply))
        m_ctx.log.trace(1, "SettingThread Reply Mac(%s) after the end: ignored.",
                        macOf(reply).c_str());
}

}  // namespace lanrove
