// lanrove-cli search: a full camera search over every adapter, as the desktop program's Search
// button runs it, printed in list order with the main window's nine columns and four counters.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app/event_queue.h"
#include "app/language.h"
#include "app/list_export.h"
#include "app/setup_core.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "cli/search_progress.h"
#include "support/program_paths.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) {
    g_interrupted = 1;
}

// The worker's reports become calls on this thread, like posted window messages.
class QueuedSearchEvents final : public SearchEvents {
  public:
    QueuedSearchEvents(EventQueue& queue, SetupCore& core) : m_queue(queue), m_core(core) {}
    void searchNotFound() override {
        m_queue.post([this] { m_bNotFound = true; });
    }
    void setControlEnabled(int, bool) override {}
    void setCloseEnabled(bool) override {}
    void addRow(int recordIndex) override {
        m_queue.post([this, recordIndex] {
            m_core.onAddRow(recordIndex);
            m_lastRow = std::chrono::steady_clock::now();
        });
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
    bool notFound() const { return m_bNotFound; }
    std::chrono::steady_clock::time_point lastRow() const { return m_lastRow; }

  private:
    EventQueue& m_queue;
    SetupCore& m_core;
    bool m_bNotFound = false;
    std::chrono::steady_clock::time_point m_lastRow{};
};

const char* const kJsonKeys[kListColumnCount] = {"no",   "status", "model", "mac",     "ip",
                                                 "port", "ssl",    "title", "firmware"};

void printTable(SetupCore& core, const CounterTexts& counters) {
    CameraListModel& list = core.list();
    std::vector<std::size_t> widths(kListColumnCount, 0);
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header;
    header.reserve(kListColumnCount);
    for (const std::u16string& h : listColumnHeaders(core))
        header.push_back(toUtf8(neutralisedText(h)));
    rows.push_back(header);
    for (int r = 0; r < list.rowCount(); ++r) {
        std::vector<std::string> cells;
        cells.reserve(kListColumnCount);
        // Titles, models and versions are the cameras' own texts: no escape sequence or
        // direction override of theirs reaches the terminal.
        for (int c = 0; c < kListColumnCount; ++c)
            cells.push_back(toUtf8(neutralisedText(list.cell(r, c))));
        rows.push_back(cells);
    }
    // Width in characters, not bytes, so that titles in other scripts line up.
    auto length = [](const std::string& s) { return fromUtf8(s).size(); };
    for (const auto& row : rows)
        for (int c = 0; c < kListColumnCount; ++c)
            widths[static_cast<std::size_t>(c)] = std::max(
                widths[static_cast<std::size_t>(c)], length(row[static_cast<std::size_t>(c)]));
    for (const auto& row : rows) {
        std::string line;
        for (int c = 0; c < kListColumnCount; ++c) {
            const std::string& cell = row[static_cast<std::size_t>(c)];
            line += cell;
            if (c + 1 < kListColumnCount)
                line += std::string(widths[static_cast<std::size_t>(c)] - length(cell) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
    std::printf("\n%s %s  %s %s  %s %s  %s %s\n",
                toUtf8(core.text(u"MAIN_WINDOW", u"MAIN_CAMERA_TOTAL")).c_str(),
                toUtf8(counters.total).c_str(),
                toUtf8(core.text(u"MAIN_WINDOW", u"MAIN_CAMERA_NEW")).c_str(),
                toUtf8(counters.newCount).c_str(),
                toUtf8(core.text(u"MAIN_WINDOW", u"MAIN_CAMERA_OK")).c_str(),
                toUtf8(counters.ok).c_str(),
                toUtf8(core.text(u"MAIN_WINDOW", u"MAIN_CAMERA_ATTENTION")).c_str(),
                toUtf8(counters.attention).c_str());
}

void printJson(SetupCore& core) {
    CameraListModel& list = core.list();
    nlohmann::json out;
    out["cameras"] = nlohmann::json::array();
    for (int r = 0; r < list.rowCount(); ++r) {
        nlohmann::json cam;
        for (int c = 0; c < kListColumnCount; ++c) cam[kJsonKeys[c]] = toUtf8(list.cell(r, c));
        // The record behind the row, for scripts that need more than the list shows.
        const int index = std::stoi(toUtf8(list.cell(r, kColNo))) - 1;
        if (index >= 0 && index < static_cast<int>(kCameraTableSize)) {
            const CameraEntry& e = core.store().m_CamTable[static_cast<std::size_t>(index)];
            cam["protoVer"] = e.wProtoVer;
            cam["factory"] = e.bFactory;
            cam["result"] = e.dwResult;
            cam["mask"] = fieldUtf8(e.szMask);
            cam["gateway"] = fieldUtf8(e.szGateway);
            // The two addresses the MAC answered this search from; nothing is sent to it.
            if (const std::string spoofed = core.trust().spoofedAddresses(fieldUtf8(e.szMac));
                !spoofed.empty())
                cam["spoofed"] = spoofed;
        }
        out["cameras"].push_back(cam);
    }
    const CameraStore& s = core.store();
    out["counters"] = {
        {"total", s.m_nTotal}, {"new", s.m_nNew}, {"ok", s.m_nOk}, {"attention", s.m_nAttention}};
    printJsonDocument(out);
}

// The same bytes as the desktop program's saved list.
void printCsv(const SetupCore& core) {
    const std::string csv = listCsv(core);
    std::fwrite(csv.data(), 1, csv.size(), stdout);
}

struct SearchOptions {
    bool json = false;
    bool csv = false;
    bool quiet = false;
    bool stats = false;
    std::string home;
};

int run(const SearchOptions& o, const char* argv0) {
    TraceLog log;
    SetupCore core(defaultClock(), log, ProgramPaths::resolve(argv0, o.home), langIdFromLocale());
    core.readEditionAndSettings();
    core.createLog();
    core.loadTexts();
    core.net().enumerateAdapters(core.adapters());

    EventQueue queue;
    QueuedSearchEvents events(queue, core);
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    const void* handle = &core;
    core.prepareSearch(handle);
    const auto started = std::chrono::steady_clock::now();
    core.startSearch(events);
    SearchProgress progress(core, o.quiet);
    bool cancelled = false;
    while (core.searchRunning()) {
        queue.drain(Millis(100));
        if (g_interrupted != 0 && !cancelled) {
            cancelled = true;
            core.cancelSearch();
            progress.clear();
            if (!o.quiet) std::fprintf(stderr, "search: cancelling\n");
        }
        progress.update();
    }
    while (queue.drain(Millis(0)) > 0) {
    }
    progress.clear();
    core.shutdown(handle);
    if (o.stats) {
        // From the start of the search (its first request goes out at once) to the last row.
        const double secs = core.list().rowCount() > 0
                                ? std::chrono::duration<double>(events.lastRow() - started).count()
                                : 0.0;
        std::fprintf(stderr, "search stats: rows=%d first-request-to-last-row=%.3fs\n",
                     core.list().rowCount(), secs);
    }

    const int rows = core.list().rowCount();
    if (events.notFound() || rows == 0) {
        std::fprintf(stderr, "%s\n", toUtf8(core.text(u"ERROR_WINDOW", u"ERROR_SEARCH")).c_str());
    }
    if (o.json)
        printJson(core);
    else if (o.csv)
        printCsv(core);
    else if (rows > 0)
        printTable(core, core.classifier().counterTexts());
    if (cancelled) return 130;
    return rows > 0 ? kExitOk : kExitFailure;
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<SearchOptions>();
    auto* json = addJson(app, o->json);
    auto* csv = app.add_flag("--csv", o->csv,
                             "print the list as CSV (UTF-8 with BOM), as the desktop program "
                             "saves it");
    json->excludes(csv);
    app.add_flag("--quiet", o->quiet, "no progress line and no cancelling notice on stderr");
    app.add_flag("--stats", o->stats,
                 "tell on stderr how long the search took from its start to the last row");
    addHome(app, o->home)->type_name("DIR");
    return [o, argv0] { return run(*o, argv0); };
}

const CommandRegistration reg{
    {"search", "find every camera on every adapter and list it as the desktop program does",
     "1  no camera was found\n130  cancelled with Ctrl-C", &define}};

}  // namespace

}  // namespace lanrove::cli
