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
#include "runs/onvif_discovery.h"
#include "runs/onvif_doctor.h"
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

using Cells = std::vector<std::u16string>;

Cells onvifCells(const OnvifDevice& d) {
    Cells cells;
    for (const std::string& t : onvifRowTexts(d)) cells.push_back(fromUtf8(t));
    return cells;
}

void printTable(SetupCore& core, const CounterTexts& counters, const std::vector<Cells>& extra,
                bool ours) {
    CameraListModel& list = core.list();
    std::vector<std::size_t> widths(kListColumnCount, 0);
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header;
    header.reserve(kListColumnCount);
    for (const std::u16string& h : listColumnHeaders(core))
        header.push_back(toUtf8(neutralisedText(h)));
    rows.push_back(header);
    for (int r = 0; ours && r < list.rowCount(); ++r) {
        std::vector<std::string> cells;
        cells.reserve(kListColumnCount);
        // Titles, models and versions are the cameras' own texts: no escape sequence or
        // direction override of theirs reaches the terminal.
        for (int c = 0; c < kListColumnCount; ++c)
            cells.push_back(toUtf8(neutralisedText(list.cell(r, c))));
        rows.push_back(cells);
    }
    for (const Cells& e : extra) {
        std::vector<std::string> cells;
        for (const std::u16string& c : e) cells.push_back(toUtf8(neutralisedText(c)));
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
    if (!ours) return;
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

void printJson(SetupCore& core, const std::vector<OnvifDevice>& others,
               const std::vector<bool>& alsoOnvif, bool ours) {
    CameraListModel& list = core.list();
    nlohmann::json out;
    out["cameras"] = nlohmann::json::array();
    for (int r = 0; ours && r < list.rowCount(); ++r) {
        nlohmann::json cam;
        cam["kind"] = "lanrove";
        for (int c = 0; c < kListColumnCount; ++c) cam[kJsonKeys[c]] = toUtf8(list.cell(r, c));
        cam["onvif"] = static_cast<std::size_t>(r) < alsoOnvif.size() &&
                       alsoOnvif[static_cast<std::size_t>(r)];
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
    for (const OnvifDevice& d : others) {
        const onvif::ProbeMatch& m = d.match;
        const Cells cells = onvifCells(d);
        nlohmann::json cam;
        cam["kind"] = "onvif";
        for (int c = 0; c < kListColumnCount; ++c)
            cam[kJsonKeys[c]] = toUtf8(cells[static_cast<std::size_t>(c)]);
        cam["maker"] = m.maker;
        cam["model"] = m.model;
        cam["name"] = m.name;
        cam["location"] = m.location;
        cam["port"] = m.port;
        cam["scheme"] = m.scheme;
        cam["uuid"] = m.endpoint;
        cam["xaddrs"] = m.xaddrs;
        cam["adapter"] = d.adapter;
        out["cameras"].push_back(cam);
    }
    const CameraStore& s = core.store();
    out["counters"] = {
        {"total", s.m_nTotal}, {"new", s.m_nNew}, {"ok", s.m_nOk}, {"attention", s.m_nAttention}};
    out["counters"]["onvif"] = others.size();
    printJsonDocument(out);
}

// The same bytes as the desktop program's saved list.
// Other makers' devices follow as rows of the same columns.
void printCsv(const SetupCore& core, const std::vector<OnvifDevice>& others, bool ours) {
    std::string csv = listCsv(core);
    if (!ours) csv = csv.substr(0, csv.find("\r\n") + 2);  // the header alone
    csv += onvifCsvRows(others);
    std::fwrite(csv.data(), 1, csv.size(), stdout);
}

struct SearchOptions {
    bool json = false;
    bool csv = false;
    bool quiet = false;
    bool stats = false;
    bool noOnvif = false;
    bool onvifOnly = false;
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
    // Other makers' cameras are probed for during the same time.
    OnvifDiscovery onvif(core.clock(), core.log());
    if (!o.noOnvif) onvif.start(core.adapters());
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
    onvif.stop();
    progress.clear();
    core.shutdown(handle);
    std::vector<bool> alsoOnvif;
    const std::vector<OnvifDevice> others =
        devicesBesides(onvif.devices(), listedAddresses(core.list()), alsoOnvif);
    std::vector<Cells> extra;
    for (const OnvifDevice& d : others) extra.push_back(onvifCells(d));
    if (o.stats) {
        // From the start of the search (its first request goes out at once) to the last row.
        const double secs = core.list().rowCount() > 0
                                ? std::chrono::duration<double>(events.lastRow() - started).count()
                                : 0.0;
        std::fprintf(stderr, "search stats: rows=%d first-request-to-last-row=%.3fs\n",
                     core.list().rowCount(), secs);
    }

    const int rows = core.list().rowCount();
    const bool ours = !o.onvifOnly;
    const bool found = ours ? rows > 0 : !others.empty();
    if (ours && (events.notFound() || rows == 0))
        std::fprintf(stderr, "%s\n", toUtf8(core.text(u"ERROR_WINDOW", u"ERROR_SEARCH")).c_str());
    if (o.json)
        printJson(core, others, alsoOnvif, ours);
    else if (o.csv)
        printCsv(core, others, ours);
    else if (rows > 0 || !extra.empty())
        printTable(core, core.classifier().counterTexts(), extra, ours);
    if (cancelled) return 130;
    return found ? kExitOk : kExitFailure;
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<SearchOptions>();
    auto* json = addJson(app, o->json);
    auto* csv = app.add_flag("--csv", o->csv,
                             "print the list as CSV (UTF-8 with BOM), as the desktop program "
                             "saves it");
    json->excludes(csv);
    app.add_flag("--quiet", o->quiet, "no progress line and no cancelling notice on stderr");
    auto* noOnvif = app.add_flag("--no-onvif", o->noOnvif, "leave other makers' ONVIF cameras out");
    auto* onvifOnly = app.add_flag("--onvif-only", o->onvifOnly,
                                   "list only other makers' ONVIF cameras (found by WS-Discovery)");
    noOnvif->excludes(onvifOnly);
    app.add_flag("--stats", o->stats,
                 "tell on stderr how long the search took from its start to the last row");
    addHome(app, o->home)->type_name("DIR");
    return [o, argv0] { return run(*o, argv0); };
}

const CommandRegistration reg{
    {"search",
     "find every camera on every adapter and list it as the desktop program does, other makers' "
     "ONVIF cameras after them",
     "1  no camera was found\n130  cancelled with Ctrl-C", &define}};

}  // namespace

}  // namespace lanrove::cli
