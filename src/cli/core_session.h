#pragma once
// What the commands that work on the found cameras share: the core set up as the desktop
// program's start-up sets it up (edition, settings, trace log, texts, adapters), the search as
// the Search button runs it, Ctrl-C, and the confirmation on the terminal.

#include <functional>
#include <set>
#include <string>

#include "app/event_queue.h"
#include "app/setup_core.h"
#include "runs/onvif_discovery.h"
#include "support/trace_log.h"

namespace CLI {
class App;
}

namespace lanrove::cli {

class TerminalProgress;

// The options of the commands that search and then change cameras.
struct SessionOptions {
    const char* argv0 = "";
    std::string home;
    std::string ifName;  // empty: every adapter
    bool yes = false;
    bool json = false;
};
// Adds --yes, --json, --home and, with `withInterface`, --interface; keeps `argv0` for the
// session.
void addSessionOptions(CLI::App& app, SessionOptions& options, const char* argv0,
                       bool withInterface);
// Asks `question` on the terminal; a No is told as "COMMAND: nothing changed".
bool confirmChange(const char* command, const std::string& question);

// A run that Ctrl-C (or SIGTERM) ended.
inline constexpr int kExitInterrupted = 130;

// Ctrl-C and SIGTERM set a flag instead of ending the tool, so that a run ends in order.
void catchInterrupts();
bool interrupted();

// Whether there is a terminal on standard input to ask on.
bool canConfirm();
// Shows the question with [y/N] on standard error; only y or yes answers Yes, so a bare Enter
// (or the end of input) answers No. What was typed on the terminal before the question is
// discarded first.
bool confirm(const std::string& message);
// Before anything is sent: without `yes` there must be a terminal to ask on. False after
// telling so as a usage error of `command`.
bool mayAsk(const char* command, bool yes);

// A settings run's results, applied on the session's thread as the progress window applies
// them on its own.
class QueuedSettingResults final : public SettingsRunEvents {
  public:
    QueuedSettingResults(EventQueue& queue, SetupCore& core) : m_queue(queue), m_core(core) {}
    void settingResult(const SettingResult& result) override;
    // On the session's thread, once the result has been applied.
    bool answered(int index) const { return m_answered.count(index) != 0; }
    int answeredCount() const { return static_cast<int>(m_answered.size()); }
    // The camera moved but its title, port and SSL were not set.
    bool addressOnly(int index) const { return m_addressOnly.count(index) != 0; }
    // The address the last applied record carries ("" before the first).
    const std::string& lastAddress() const { return m_lastAddress; }

  private:
    EventQueue& m_queue;
    SetupCore& m_core;
    std::set<int> m_answered;
    std::set<int> m_addressOnly;
    std::string m_lastAddress;
};

class CoreSession {
  public:
    CoreSession(const char* argv0, const std::string& home);
    // Stops every worker (the stop procedure) and writes the last trace line.
    ~CoreSession();
    CoreSession(const CoreSession&) = delete;
    CoreSession& operator=(const CoreSession&) = delete;

    SetupCore& core() { return m_core; }
    EventQueue& queue() { return m_queue; }

    // Keeps only the named adapter; false when there is none of that name.
    bool useInterface(const std::string& name);
    // As useInterface for a name given to `command` (none: every adapter stays); false after
    // telling the usage error.
    bool useInterfaceOf(const char* command, const std::string& name);
    // The search as the Search button runs it, its rows added on this thread; false when
    // Ctrl-C cancelled it. Unless `quiet`, tells the number of cameras on standard error.
    bool search(bool quiet);
    // From now on every search also probes for other makers' ONVIF cameras over WS-Discovery.
    void probeOnvif() { m_bProbeOnvif = true; }
    // The ONVIF devices that answered the last search (ours among them).
    const std::vector<OnvifDevice>& onvifDevices() const { return m_onvif; }
    // Runs the calls that workers queued, waiting up to `d` for the first.
    void drain(Millis d) { m_queue.drain(d); }
    // Runs every call still queued; for after the workers have ended.
    void settle();

    // The adapter the search chose (cleared when there is none).
    AdapterEntry adapterInUse();
    // The window's text in the session's language, as UTF-8.
    std::string text(const char16_t* section, const char16_t* key);
    // Drives a prepared run with the progress window's steps until it is over; Ctrl-C cancels
    // it. With `progress`, the line shows `status()` after every step. False when cancelled.
    // A run that could not start (run.error()) is told on standard error.
    bool drive(SettingsRun& run, TerminalProgress* progress = nullptr,
               const std::function<std::string()>& status = {});

  private:
    TraceLog m_log;
    SetupCore m_core;
    EventQueue m_queue;
    bool m_bProbeOnvif = false;
    std::vector<OnvifDevice> m_onvif;
};

}  // namespace lanrove::cli
