// lanrove-cli fw-check and fw-update: the F/W Check and F/W Update buttons on the command line,
// in the maintenance edition only (like the buttons, the program's name decides). Both search
// first. fw-check reports, per camera, its versions, the file chosen and whether it is latest,
// update ready or without firmware. fw-update runs the check before an update and then the
// upload run, printing each camera's progress on stderr; Ctrl-C cancels as the Cancel button
// does and waits for the workers to end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/event_queue.h"
#include "app/setup_core.h"
#include "cli/commands.h"
#include "cli/core_session.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "runs/firmware_table.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

constexpr int kExitCancelled = 130;
constexpr Millis kStepPeriod{100};
constexpr Millis kProgressEvery{1000};
constexpr long kRestartGraceMs = 60000;

struct Options {
    bool yes = false;
    bool json = false;
    bool quiet = false;
    std::string home;
    std::string interface;
    std::vector<std::string> macs;
};

std::string lowerMac(std::string mac) {
    for (char& c : mac) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == '-') c = ':';
    }
    return mac;
}

// The firmware runs' reports as calls on this thread.
class QueuedFirmware final : public FirmwareEvents {
  public:
    QueuedFirmware(EventQueue& queue, SetupCore& core) : m_queue(queue), m_core(core) {}
    void onFirmRowChanged(int recordIndex) override {
        m_queue.post([this, recordIndex] { m_core.refreshFirmRow(recordIndex); });
    }
    void onFirmCheckDone(bool any) override {
        m_queue.post([this, any] {
            m_bAny = any;
            m_bDone = true;
        });
    }
    bool done() const { return m_bDone; }
    bool any() const { return m_bAny; }

  private:
    EventQueue& m_queue;
    SetupCore& m_core;
    bool m_bDone = false;
    bool m_bAny = false;
};

void drainAll(CoreSession& session) {
    while (session.queue().drain(Millis(0)) > 0) {
    }
}

// The F/W check run in the current list mode, to its end. False when it did not start.
bool runCheck(CoreSession& session, QueuedFirmware& events) {
    SetupCore& core = session.core();
    if (!core.startFirmCheck(events)) return false;
    while (!core.waitFirmCheckDone(Millis(0)) || core.firmCheckRunning())
        session.drain(kStepPeriod);
    drainAll(session);
    return true;
}

const char* firmStatusWord(std::uint16_t s) {
    switch (s) {
        case fwcode::kUpdateReady:
            return "update-ready";
        case fwcode::kLatest:
            return "latest";
        case fwcode::kNoFirmware:
            return "no-firmware";
        default:
            return "not-checked";
    }
}

const char* uploadStatusWord(std::uint16_t s) {
    switch (s) {
        case 0:
            return "idle";
        case fwcode::kTaken:
            return "taken";
        case fwcode::kWorking:
            return "preparing";
        case fwcode::kSending:
            return "sending";
        case fwcode::kSent:
            return "writing";
        case fwcode::kRestarting:
            return "restarting";
        case fwcode::kBack:
            return "back";
        case fwcode::kComponentDone:
            return "component-done";
        case fwcode::kDone:
            return "completed";
        case fwcode::kSentUnverified:
            return "sent-not-verified";
        case fwcode::kCancelled:
            return "cancelled";
        case fwcode::kSkipped:
            return "skipped";
        case fwcode::kCheckError:
            return "check-error";
        case fwcode::kNoFile:
            return "no-file";
        case fwcode::kFailed:
            return "failed";
        case fwcode::kError:
            return "error";
        default:
            return "unknown";
    }
}

// Every slot has no further camera, or only waits to send its failed camera a restart.
bool slotsSettled(const FirmwareUpdateRun& run) {
    for (int s = 0; s < run.slotCount(); ++s) {
        const std::uint16_t st = run.slotState(s);
        if (st != fwcode::kSlotNoCamera && st != fwcode::kSlotNeedsRestart) return false;
    }
    return true;
}

bool inProgress(std::uint16_t s) {
    return s == fwcode::kWorking || s == fwcode::kSending || s == fwcode::kSent ||
           s == fwcode::kRestarting || s == fwcode::kBack || s == fwcode::kComponentDone;
}

// Where a camera's update stands, for the status line on a terminal.
const char* stepWord(std::uint16_t s, bool waitingPermission) {
    if (waitingPermission) return "waiting";
    switch (s) {
        case fwcode::kWorking:
            return "preparing";
        case fwcode::kSending:
            return "uploading";
        case fwcode::kSent:
            return "writing";
        case fwcode::kRestarting:
            return "restarting";
        case fwcode::kBack:
            return "checking";
        case fwcode::kComponentDone:
            return "next component";
        default:
            return uploadStatusWord(s);
    }
}

bool finished(std::uint16_t s) {
    return s == fwcode::kDone || s == fwcode::kSentUnverified || s == fwcode::kCancelled ||
           s == fwcode::kSkipped || s == fwcode::kCheckError || s == fwcode::kNoFile ||
           s == fwcode::kFailed || s == fwcode::kError;
}

nlohmann::json versionsOf(const CameraEntry& e) {
    nlohmann::json v = nlohmann::json::object();
    const auto put = [&v](const char* name, std::u16string_view text) {
        if (!text.empty()) v[name] = toUtf8(text);
    };
    put("camMain", fieldView(e.szCamMainVer));
    put("camSub", fieldView(e.szCamSubVer));
    put("netMain", fieldView(e.szNetMainVer));
    put("netSub", fieldView(e.szNetSubVer));
    put("mechaMain", fieldView(e.szMecMainVer));
    put("ioMain", fieldView(e.szIoMainVer));
    return v;
}

std::string versionsLine(const CameraEntry& e) {
    std::string out;
    const nlohmann::json v = versionsOf(e);
    for (auto it = v.begin(); it != v.end(); ++it) {
        if (!out.empty()) out += ' ';
        out += it.key() + "=" + it.value().get<std::string>();
    }
    if (out.empty()) out = fieldUtf8(e.szFirmVer);
    return out.empty() ? "-" : neutralisedUtf8(out);
}

// ------------------------------------------------------------------------------- fw-check

int runFwCheck(const char* argv0, const Options& o) {
    CoreSession session(argv0, o.home);
    SetupCore& core = session.core();
    if (!o.interface.empty() && !session.useInterface(o.interface))
        return usageError("fw-check", "no adapter " + o.interface + " with an IPv4 address");
    catchInterrupts();
    if (!session.search(o.json)) return kExitCancelled;
    nlohmann::json out;
    out["cameras"] = nlohmann::json::array();
    if (core.list().rowCount() == 0) {
        // As the button: nothing to check.
        if (o.json)
            printJsonDocument(out);
        else
            std::printf("no camera\n");
        return kExitOk;
    }
    core.setFirmMode(kFirmModeCheck);
    core.log().trace(1, "Firm File Check Set(%p)", static_cast<const void*>(&core));
    QueuedFirmware events(session.queue(), core);
    if (!runCheck(session, events)) {
        std::fprintf(stderr, "fw-check: the check could not start\n");
        return kExitFailure;
    }
    if (interrupted()) return kExitCancelled;

    const std::vector<FirmCheckOutcome> outcomes = core.firmCheckRun()->outcomes();
    bool allWell = true;
    for (int i = 0; i < core.firmRecordCount(); ++i) {
        const CameraEntry e = core.firmRecord(i);
        const FirmCheckOutcome& oc = outcomes[static_cast<std::size_t>(i)];
        const bool unreachable = e.wUploadStatus == fwcode::kCheckError;
        if (unreachable) allWell = false;
        nlohmann::json cam;
        cam["no"] = fieldUtf8(e.szNo);
        cam["mac"] = fieldUtf8(e.szMac);
        cam["ip"] = fieldUtf8(e.szIp);
        cam["model"] = fieldUtf8(e.szModel);
        cam["protocol"] = e.wProtoVer;
        cam["firmware"] = fieldUtf8(e.szFirmVer);
        cam["versions"] = versionsOf(e);
        cam["status"] = firmStatusWord(e.wFirmStatus);
        cam["firmStatus"] = e.wFirmStatus;
        cam["reachable"] = !unreachable;
        cam["file"] = oc.file.empty() ? nlohmann::json() : nlohmann::json(oc.file.string());
        cam["fileNumber"] = oc.fileNumber;
        cam["method"] = e.wFirmMethod;
        out["cameras"].push_back(cam);
        if (!o.json)
            std::printf("%-4s %-17s %-15s %-10s %-12s %s  %s%s\n", fieldUtf8(e.szNo).c_str(),
                        fieldUtf8(e.szMac).c_str(), fieldUtf8(e.szIp).c_str(),
                        neutralisedUtf8(fieldUtf8(e.szModel)).c_str(),
                        toUtf8(core.statusTextFor(e)).c_str(), versionsLine(e).c_str(),
                        oc.file.empty() ? "-" : oc.file.filename().string().c_str(),
                        unreachable ? "  (not reachable)" : "");
    }
    out["updateReady"] = events.any();
    if (o.json) printJsonDocument(out);
    return allWell ? kExitOk : kExitFailure;
}

// ------------------------------------------------------------------------------ fw-update

int runFwUpdate(const char* argv0, const Options& o) {
    if (!o.yes && !canConfirm())
        return usageError("fw-update", "no terminal to confirm on; give --yes to go ahead");
    CoreSession session(argv0, o.home);
    SetupCore& core = session.core();
    if (!o.interface.empty() && !session.useInterface(o.interface))
        return usageError("fw-update", "no adapter " + o.interface + " with an IPv4 address");
    catchInterrupts();
    if (!session.search(o.json || o.quiet)) return kExitCancelled;

    // The cameras chosen by --mac (all when none is given); a MAC that was not found is bad
    // input, and nothing is sent then.
    std::set<int> chosen;
    const int count = core.firmRecordCount();
    for (const std::string& mac : o.macs) {
        int found = -1;
        for (int i = 0; i < count; ++i)
            if (lowerMac(fieldUtf8(core.firmRecord(i).szMac)) == lowerMac(mac)) found = i;
        if (found < 0) return usageError("fw-update", "no camera with MAC " + mac + " was found");
        chosen.insert(found);
    }
    if (o.macs.empty())
        for (int i = 0; i < count; ++i) chosen.insert(i);
    if (count == 0) {
        if (o.json)
            printJsonDocument(nlohmann::json{{"cameras", nlohmann::json::array()}});
        else
            std::printf("no camera\n");
        return kExitOk;
    }
    if (!o.yes) {
        // The question names the cameras it is about.
        std::fprintf(stderr, "fw-update: %zu %s, each updated where a newer firmware is found:\n",
                     chosen.size(), chosen.size() == 1 ? "camera" : "cameras");
        for (int i : chosen) {
            const CameraEntry e = core.firmRecord(i);
            std::fprintf(stderr, "  %-4s %-17s %-15s %-10s %s\n", fieldUtf8(e.szNo).c_str(),
                         fieldUtf8(e.szMac).c_str(), fieldUtf8(e.szIp).c_str(),
                         neutralisedUtf8(fieldUtf8(e.szModel)).c_str(),
                         neutralisedUtf8(fieldUtf8(e.szTitle)).c_str());
        }
        if (!confirm(toUtf8(core.text(u"FIRMUP_WINDOW", u"FIRMUP_WARNINGMSG")))) {
            std::fprintf(stderr, "fw-update: nothing changed\n");
            return kExitUsage;
        }
    }

    core.log().trace(1, "Firm Upload Set(%p)", static_cast<const void*>(&core));
    core.setFirmMode(kFirmModeUpdate);
    QueuedFirmware events(session.queue(), core);
    // A status line on a terminal only; the per-camera lines below stay as they are.
    TerminalProgress progress(o.json || o.quiet);
    progress.show("update: checking the firmware of " + std::to_string(chosen.size()) +
                  (chosen.size() == 1 ? " camera" : " cameras"));
    // The check before the update.
    if (!runCheck(session, events)) {
        progress.clear();
        std::fprintf(stderr, "fw-update: the check could not start\n");
        return kExitFailure;
    }
    // Cameras left out by --mac are not update ready for this run.
    FirmTable table(core.store());
    for (int i = 0; i < count; ++i)
        if (chosen.count(i) == 0 && table.firmStatus(i) == fwcode::kUpdateReady)
            table.setFirmStatus(i, fwcode::kNotChecked);
    bool cancelled = interrupted();
    if (!cancelled) {
        const long started = core.startUpload(events);
        if (started != 0) {
            progress.clear();
            std::fprintf(stderr, "fw-update: the upload could not start (%ld)\n", started);
            return kExitFailure;
        }
    }
    // The cameras this run updates, for the status line's count.
    std::set<int> updating;
    for (int i : chosen)
        if (table.firmStatus(i) == fwcode::kUpdateReady) updating.insert(i);
    const int readyCount = static_cast<int>(updating.size());
    std::map<int, std::string> lastLine;
    // Each camera's step on the status line and since when it is in it.
    std::map<int, std::pair<std::string, std::chrono::steady_clock::time_point>> stepSince;
    auto lastProgress = std::chrono::steady_clock::now();
    for (bool over = cancelled; !over;) {
        session.queue().drain(kStepPeriod);
        if (interrupted() && !cancelled) {
            cancelled = true;
            progress.clear();
            std::fprintf(stderr, "fw-update: cancelling; waiting for the cameras in work\n");
            core.requestUploadStop();
        }
        const auto now = std::chrono::steady_clock::now();
        int doneCount = 0;
        std::vector<FirmwareStepProgress> steps;
        const bool tick = std::chrono::steady_clock::now() - lastProgress >= kProgressEvery;
        if (tick) lastProgress = std::chrono::steady_clock::now();
        bool any = false;
        // Cameras whose worker waits for permission to transfer (slot state 4099).
        std::set<int> waiting;
        if (const FirmwareUpdateRun* run = core.firmUploadRun())
            for (int s = 0; s < run->slotCount(); ++s)
                if (run->slotState(s) == fwcode::kWaitingPermission)
                    waiting.insert(run->slotRecord(s));
        for (int i : chosen) {
            const FirmwareProgress p = core.firmProgress(i);
            if (p.firmStatus != fwcode::kUpdateReady) continue;
            if (inProgress(p.uploadStatus)) any = true;
            const int retries = core.firmUploadRun() ? core.firmUploadRun()->retries(i) : 0;
            const std::string state = waiting.count(i) != 0 && inProgress(p.uploadStatus)
                                          ? std::string("waiting")
                                          : std::string(uploadStatusWord(p.uploadStatus));
            const std::string key = state + "/" + std::to_string(retries);
            if (updating.count(i) != 0 && finished(p.uploadStatus)) ++doneCount;
            if (progress.enabled() && inProgress(p.uploadStatus)) {
                const std::string step = stepWord(p.uploadStatus, waiting.count(i) != 0);
                auto& since = stepSince[i];
                if (since.first != step) since = {step, now};
                steps.push_back(
                    {fieldUtf8(core.firmRecord(i).szNo), step, p.sentBytes, p.totalBytes,
                     static_cast<long>(
                         std::chrono::duration_cast<std::chrono::seconds>(now - since.second)
                             .count())});
            }
            if (!o.quiet && (lastLine[i] != key || (tick && p.uploadStatus == fwcode::kSending))) {
                lastLine[i] = key;
                const CameraEntry e = core.firmRecord(i);
                progress.clear();
                std::fprintf(stderr, "fw-update: %s %s %s %lu/%lu bytes, retries %d\n",
                             fieldUtf8(e.szNo).c_str(), fieldUtf8(e.szMac).c_str(), state.c_str(),
                             static_cast<unsigned long>(p.sentBytes),
                             static_cast<unsigned long>(p.totalBytes), retries);
            }
        }
        // The dialog's completion rule (nothing in progress, no slot busy), and, unless
        // cancelled, every slot through with its cameras: right after the start, and between
        // two cameras of a slot, no slot is busy either.
        const FirmwareUpdateRun* run = core.firmUploadRun();
        over = !any && !core.anySlotBusy() && (cancelled || run == nullptr || slotsSettled(*run));
        progress.show(firmwareUpdateProgressText(doneCount, readyCount, steps, -1));
    }
    // A failed camera gets restart commands from the dispatcher until one is accepted: give it
    // a while (the window leaves the dispatcher running after its dialog has closed).
    if (const FirmwareUpdateRun* run = core.firmUploadRun(); run != nullptr && !cancelled) {
        const auto until =
            std::chrono::steady_clock::now() + core.clock().scaled(Millis(kRestartGraceMs));
        const auto needsRestart = [run] {
            for (int s = 0; s < run->slotCount(); ++s)
                if (run->slotState(s) == fwcode::kSlotNeedsRestart) return true;
            return false;
        };
        while (needsRestart() && !interrupted() && std::chrono::steady_clock::now() < until) {
            session.drain(kStepPeriod);
            int doneCount = 0;
            for (int i : updating)
                if (finished(core.firmProgress(i).uploadStatus)) ++doneCount;
            const auto left = std::chrono::duration_cast<std::chrono::seconds>(
                until - std::chrono::steady_clock::now() + std::chrono::milliseconds(999));
            progress.show(
                firmwareUpdateProgressText(doneCount, readyCount, {}, std::max(0L, left.count())));
        }
    }
    core.requestUploadStop();
    drainAll(session);
    progress.clear();

    nlohmann::json out;
    out["cameras"] = nlohmann::json::array();
    bool allWell = true;
    for (int i : chosen) {
        const CameraEntry e = core.firmRecord(i);
        const int retries = core.firmUploadRun() ? core.firmUploadRun()->retries(i) : 0;
        const bool ready = e.wFirmStatus == fwcode::kUpdateReady;
        const bool failed =
            e.wUploadStatus == fwcode::kFailed || e.wUploadStatus == fwcode::kError ||
            e.wUploadStatus == fwcode::kCheckError || e.wUploadStatus == fwcode::kCancelled ||
            (ready && e.wUploadStatus != fwcode::kDone &&
             e.wUploadStatus != fwcode::kSentUnverified);
        if (failed) allWell = false;
        nlohmann::json cam;
        cam["no"] = fieldUtf8(e.szNo);
        cam["mac"] = fieldUtf8(e.szMac);
        cam["ip"] = fieldUtf8(e.szIp);
        cam["model"] = fieldUtf8(e.szModel);
        cam["firmStatus"] = firmStatusWord(e.wFirmStatus);
        cam["result"] =
            ready ? uploadStatusWord(e.wUploadStatus)
                  : (e.wUploadStatus == 0 ? "not-needed" : uploadStatusWord(e.wUploadStatus));
        cam["uploadStatus"] = e.wUploadStatus;
        cam["sentBytes"] = e.dwSentBytes;
        cam["totalBytes"] = e.dwTotalBytes;
        cam["retries"] = retries;
        // The camera's answer to its last upload, and whether it refused the image.
        if (const FirmwareUpdateRun* run = core.firmUploadRun()) {
            const FirmwareUpdateRun::Answer answer = run->answer(i);
            cam["answerStatus"] = answer.httpStatus;
            cam["answerCode"] =
                answer.code.empty() ? nlohmann::json() : nlohmann::json(answer.code);
            cam["refused"] = answer.refused;
        }
        // Accepted, but the camera showed no version that proves it runs the new image.
        cam["verified"] = e.wUploadStatus == fwcode::kDone;
        cam["firmware"] = fieldUtf8(e.szFirmVer);
        cam["versions"] = versionsOf(e);
        out["cameras"].push_back(cam);
        if (!o.json) {
            std::string result = e.wUploadStatus == fwcode::kSentUnverified
                                     ? std::string("sent, not verified")
                                     : cam["result"].get<std::string>();
            if (cam.value("refused", false))
                result +=
                    " (refused, HTTP " + std::to_string(cam["answerStatus"].get<long>()) + ")";
            std::printf("%-4s %-17s %-15s %-10s %-14s %s\n", fieldUtf8(e.szNo).c_str(),
                        fieldUtf8(e.szMac).c_str(), fieldUtf8(e.szIp).c_str(),
                        neutralisedUtf8(fieldUtf8(e.szModel)).c_str(), result.c_str(),
                        versionsLine(e).c_str());
        }
    }
    if (const FirmwareUpdateRun* run = core.firmUploadRun())
        out["peakTransfers"] = run->peakTransfers();
    out["cancelled"] = cancelled;
    if (o.json) printJsonDocument(out);
    if (cancelled) return kExitCancelled;
    return allWell ? kExitOk : kExitFailure;
}

Runner defineFwCheck(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<Options>();
    addInterface(app, o->interface)->type_name("IF");
    addJson(app, o->json);
    addHome(app, o->home)->type_name("DIR");
    return [o, argv0] { return runFwCheck(argv0, *o); };
}

Runner defineFwUpdate(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<Options>();
    app.add_option("--mac", o->macs,
                   "update only the camera with this MAC (repeat for more; default: every "
                   "camera found); a MAC not found stops the run before anything is sent")
        ->type_name("MAC")
        // 00-1B-7C-00-01-02 is the same MAC as 00:1B:7C:00:01:02 (as before the check).
        ->transform([](std::string mac) {
            std::replace(mac.begin(), mac.end(), '-', ':');
            return mac;
        })
        ->check(macAddress())
        ->allow_extra_args(false);  // one value per --mac: "--mac A --mac B", never "--mac A B"
    addInterface(app, o->interface)->type_name("IF");
    addYes(app, o->yes);
    addJson(app, o->json);
    app.add_flag("--quiet", o->quiet,
                 "no progress on standard error: neither the search count nor the cameras' steps");
    addHome(app, o->home)->type_name("DIR");
    return [o, argv0] { return runFwUpdate(argv0, *o); };
}

const MaintenanceCommandRegistration kFwCheck{
    {"fw-check",
     "search, then check the firmware folders against each camera's versions (maintenance "
     "edition)",
     "1  a camera could not be reached, or the check could not start\n130  interrupted (Ctrl-C)",
     &defineFwCheck}};
const MaintenanceCommandRegistration kFwUpdate{
    {"fw-update",
     "search, check and update the cameras' firmware from the firmware folders (maintenance "
     "edition)",
     "1  a camera's update failed, or the run could not start\n130  cancelled (Ctrl-C); the "
     "cameras in work were let finish their step",
     &defineFwUpdate}};

}  // namespace

}  // namespace lanrove::cli
