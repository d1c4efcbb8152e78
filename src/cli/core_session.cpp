#include "cli/core_session.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "app/language.h"
#include "cli/search_progress.h"
#include "support/program_paths.h"

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
    void markRows(int rowCount) override {
        m_queue.post([this, rowCount] { m_core.onMarkRows(rowCount); });
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
    std::fprintf(stderr, "%s [y/N] ", message.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

CoreSession::CoreSession(const char* argv0, const std::string& home)
    : m_core(defaultClock(), m_log, ProgramPaths::resolve(argv0, home), langIdFromLocale()) {
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

bool CoreSession::search(bool quiet) {
    QueuedSearchRows events(m_queue, m_core);
    m_core.prepareSearch(&m_core);
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
    while (m_queue.drain(Millis(0)) > 0) {
    }
    progress.clear();
    if (!quiet) std::fprintf(stderr, "search: %d cameras\n", m_core.list().rowCount());
    return !cancelled;
}

}  // namespace lanrove::cli
