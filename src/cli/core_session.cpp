#include "cli/core_session.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "app/language.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/search_progress.h"
#include "support/program_paths.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onSessionInterrupt(int) {
    g_interrupted = 1;
}

constexpr Millis kStepPeriod{100};

// The search worker's reports as calls on the session's thread.
class QueuedSearchRows final : public SearchEvents {
  public:
    QueuedSearchRows(EventQueue& queue, SetupCore& core) : m_queue(queue), m_core(core) {}
    void searchNotFound() override {}
    void setControlEnabled(int, bool) override {}
    void setCloseEnabled(bool) override {}
    void addRow(int recordIndex) override {
        m_queue.post([this, recordIndex] { m_core.onAddRow(recordIndex); });
    }
    void replaceRow(int rowRecord, int fromRecord) override {
        m_queue.post([this, rowRecord, fromRecord] { m_core.onReplaceRow(rowRecord, fromRecord); });
    }
    void markRows(int rowCount) override {
        m_queue.post([this, rowCount] { m_core.onMarkRows(rowCount); });
    }
    void searchPortError(const std::string& text) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
    }

  private:
    EventQueue& m_queue;
    SetupCore& m_core;
};

}  // namespace

void catchInterrupts() {
    struct sigaction sa {};
    sa.sa_handler = onSessionInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool interrupted() {
    return g_interrupted != 0;
}

bool canConfirm() {
    return isatty(STDIN_FILENO) != 0;
}

bool confirm(const std::string& message) {
    // Keys pressed while the search ran are no answer to a question not yet shown.
    if (canConfirm()) ::tcflush(STDIN_FILENO, TCIFLUSH);
    std::fprintf(stderr, "%s [y/N] ", message.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

void addSessionOptions(CLI::App& app, SessionOptions& options, const char* argv0,
                       bool withInterface) {
    options.argv0 = argv0;
    if (withInterface) addInterface(app, options.ifName)->type_name("IF");
    addYes(app, options.yes);
    addJson(app, options.json);
    addHome(app, options.home)->type_name("DIR");
}

bool confirmChange(const char* command, const std::string& question) {
    if (confirm(question)) return true;
    std::fprintf(stderr, "%s: nothing changed\n", command);
    return false;
}

bool mayAsk(const char* command, bool yes) {
    if (yes || canConfirm()) return true;
    usageError(command, "no terminal to confirm on; give --yes to go ahead");
    return false;
}

void QueuedSettingResults::settingResult(const SettingResult& result) {
    m_queue.post([this, result] {
        m_core.applySettingResult(result);
        m_answered.insert(result.recordIndex);
        if (result.addressOnly) m_addressOnly.insert(result.recordIndex);
        m_lastAddress = fieldUtf8(result.record.szIp);
    });
}

CoreSession::CoreSession(const char* argv0, const std::string& home)
    : m_core(defaultClock(), m_log, ProgramPaths::resolve(argv0, home), langIdFromLocale()) {
    m_core.setTrustListener([](const std::string& /*mac*/, const std::string& message) {
        std::fprintf(stderr, "lanrove-cli: %s\n", message.c_str());
    });
    m_core.readEditionAndSettings();
    m_core.createLog();
    m_core.loadTexts();
    m_core.net().enumerateAdapters(m_core.adapters());
}

CoreSession::~CoreSession() {
    m_core.shutdown(&m_core);
}

bool CoreSession::useInterface(const std::string& name) {
    std::vector<AdapterEntry> kept;
    for (const AdapterEntry& a : m_core.adapters())
        if (a.ifName() == name) kept.push_back(a);
    m_core.adapters() = kept;
    return !kept.empty();
}

bool CoreSession::useInterfaceOf(const char* command, const std::string& name) {
    if (name.empty() || useInterface(name)) return true;
    usageError(command, "no adapter " + name + " with an IPv4 address");
    return false;
}

bool CoreSession::search(bool quiet) {
    QueuedSearchRows events(m_queue, m_core);
    m_core.prepareSearch(&m_core);
    // Other makers' cameras are probed for during the same time.
    OnvifDiscovery onvif(m_core.clock(), m_core.log());
    m_onvif.clear();
    if (m_bProbeOnvif) onvif.start(m_core.adapters());
    m_core.startSearch(events);
    SearchProgress progress(m_core, quiet);
    bool cancelled = false;
    while (m_core.searchRunning()) {
        m_queue.drain(kStepPeriod);
        progress.update();
        if (interrupted() && !cancelled) {
            cancelled = true;
            m_core.cancelSearch();
        }
    }
    // The worker has ended: nothing posts any more, and the events object may go.
    settle();
    onvif.stop();
    m_onvif = onvif.devices();
    progress.clear();
    if (!quiet) std::fprintf(stderr, "search: %d cameras\n", m_core.list().rowCount());
    return !cancelled;
}

void CoreSession::settle() {
    while (m_queue.drain(Millis(0)) > 0) {
    }
}

AdapterEntry CoreSession::adapterInUse() {
    AdapterEntry a{};
    a.clear();
    const int i = m_core.adapterIndex();
    if (i >= 0 && i < static_cast<int>(m_core.adapters().size()))
        a = m_core.adapters()[static_cast<std::size_t>(i)];
    return a;
}

std::string CoreSession::text(const char16_t* section, const char16_t* key) {
    return toUtf8(m_core.text(section, key));
}

bool CoreSession::drive(SettingsRun& run, TerminalProgress* progress,
                        const std::function<std::string()>& status) {
    run.begin();
    if (run.mode() == RunMode::Auto) run.startProbe();
    bool over = false;
    while (!over) {
        m_queue.drain(kStepPeriod);
        if (interrupted() && !run.cancelled()) {
            if (progress != nullptr) progress->clear();
            std::fprintf(stderr, "cancelling\n");
            run.cancel();
        }
        over = run.cancelled() ? run.cancelTick() : run.progressTick();
        if (progress != nullptr && status && !over) progress->show(status());
    }
    // Both workers have ended: their last results are applied before the caller reads them.
    settle();
    if (progress != nullptr) progress->clear();
    if (const SettingsRunError error = run.error(); error.failed())
        std::fprintf(stderr, "error: %s\n", error.text.c_str());
    return !run.cancelled();
}

}  // namespace lanrove::cli
