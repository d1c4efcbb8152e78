// lanrove-cli apply: sets many cameras from an address plan (CSV). Reads and checks the plan
// before anything else, searches, checks every row (the manual setting's rules, the plan-wide
// ones and the free-address probe), shows the preview, asks once (unless --yes), sets the
// accepted cameras one after another through the settings run, searches again and reports
// every row as set / not-found / refused / caution.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/event_queue.h"
#include "app/language.h"
#include "app/plan_support.h"
#include "app/setup_core.h"
#include "cli/commands.h"
#include "runs/address_plan.h"
#include "support/program_paths.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

constexpr int kExitCancelled = 130;
constexpr Millis kStepPeriod{100};

constexpr const char* kUsage =
    "usage: lanrove-cli apply PLAN.csv [--interface IF] [--dry-run] [--yes] [--json] "
    "[--home DIR]\n";

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onApplyInterrupt(int) {
    g_interrupted = 1;
}

void catchInterrupts() {
    struct sigaction sa {};
    sa.sa_handler = onApplyInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

class QueuedSearch final : public SearchEvents {
  public:
    QueuedSearch(EventQueue& queue, SetupCore& core) : m_queue(queue), m_core(core) {}
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

class QueuedResults final : public SettingsRunEvents {
  public:
    QueuedResults(EventQueue& queue, SetupCore& core) : m_queue(queue), m_core(core) {}
    void settingResult(const SettingResult& result) override {
        m_queue.post([this, result] {
            m_core.applySettingResult(result);
            m_answered.insert(result.recordIndex);
        });
    }
    bool answered(int index) const { return m_answered.count(index) != 0; }

  private:
    EventQueue& m_queue;
    SetupCore& m_core;
    std::set<int> m_answered;
};

class Session {
  public:
    Session(Context& ctx, const std::string& home)
        : m_core(defaultClock(), m_log, ProgramPaths::resolve(ctx.argv0, home),
                 langIdFromLocale()) {
        m_core.readEditionAndSettings();
        m_core.createLog();
        m_core.loadTexts();
        m_core.net().enumerateAdapters(m_core.adapters());
    }
    ~Session() { m_core.shutdown(&m_core); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    SetupCore& core() { return m_core; }
    EventQueue& queue() { return m_queue; }

    bool useInterface(const std::string& name) {
        std::vector<AdapterEntry> kept;
        for (const AdapterEntry& a : m_core.adapters())
            if (a.ifName() == name) kept.push_back(a);
        m_core.adapters() = kept;
        return !kept.empty();
    }

    bool search() {
        QueuedSearch events(m_queue, m_core);
        m_core.prepareSearch(&m_core);
        m_core.startSearch(events);
        bool cancelled = false;
        while (m_core.searchRunning()) {
            m_queue.drain(kStepPeriod);
            if (g_interrupted != 0 && !cancelled) {
                cancelled = true;
                m_core.cancelSearch();
            }
        }
        while (m_queue.drain(Millis(0)) > 0) {
        }
        std::fprintf(stderr, "search: %d cameras\n", m_core.list().rowCount());
        return !cancelled;
    }

    bool drive(SettingsRun& run) {
        run.begin();
        bool over = false;
        while (!over) {
            m_queue.drain(kStepPeriod);
            if (g_interrupted != 0 && !run.cancelled()) {
                std::fprintf(stderr, "cancelling\n");
                run.cancel();
            }
            over = run.cancelled() ? run.cancelTick() : run.progressTick();
        }
        while (m_queue.drain(Millis(0)) > 0) {
        }
        return !run.cancelled();
    }

  private:
    TraceLog m_log;
    SetupCore m_core;
    EventQueue m_queue;
};

nlohmann::json fieldsOf(const CameraEntry& e) {
    return {{"ip", fieldUtf8(e.szIp)},           {"mask", fieldUtf8(e.szMask)},
            {"gateway", fieldUtf8(e.szGateway)}, {"port", fieldUtf8(e.szPort)},
            {"ssl", fieldUtf8(e.szSsl)},         {"title", fieldUtf8(e.szTitle)}};
}

// "ip 192.168.0.2 -> 192.168.0.31; title "" -> "Gate""
std::string changesText(const PlanRowCheck& c) {
    const nlohmann::json before = fieldsOf(c.before);
    const nlohmann::json after = fieldsOf(c.after);
    std::string out;
    for (const char* key : {"ip", "mask", "gateway", "port", "ssl", "title"}) {
        const std::string b = before[key];
        const std::string a = after[key];
        if (a == b) continue;
        if (!out.empty()) out += "; ";
        const bool quoted = std::string_view(key) == "title";
        out.append(key).append(quoted ? " \"" : " ").append(b);
        out.append(quoted ? "\" -> \"" : " -> ").append(a).append(quoted ? "\"" : "");
    }
    return out.empty() ? "no change" : out;
}

void printTable(std::FILE* to, const std::vector<PlanRowCheck>& checks) {
    std::fprintf(to, "%-6s %-17s %-5s %-10s %s\n", "LINE", "MAC", "NO.", "STATE", "DETAIL");
    for (const PlanRowCheck& c : checks) {
        const std::string no = c.tableIndex >= 0 ? fieldUtf8(c.before.szNo) : "-";
        std::string detail;
        if (c.state == PlanRowState::Ready || c.state == PlanRowState::Set)
            detail = changesText(c);
        else
            detail = c.message + (c.reason.empty() ? "" : " [" + c.reason + "]");
        std::fprintf(to, "%-6d %-17s %-5s %-10s %s\n", c.row.line, c.row.mac.c_str(), no.c_str(),
                     planStateName(c.state), detail.c_str());
    }
}

nlohmann::json report(const std::string& planPath, const AdapterEntry& adapter,
                      const std::vector<PlanRowCheck>& checks, bool dryRun, bool confirmed,
                      bool cancelled) {
    nlohmann::json rows = nlohmann::json::array();
    nlohmann::json summary = {{"rows", checks.size()}, {"ready", 0},   {"set", 0},
                              {"not_found", 0},        {"refused", 0}, {"caution", 0}};
    for (const PlanRowCheck& c : checks) {
        const bool found = c.tableIndex >= 0;
        rows.push_back({{"line", c.row.line},
                        {"mac", c.row.mac},
                        {"found", found},
                        {"no", found ? fieldUtf8(c.before.szNo) : ""},
                        {"state", planStateName(c.state)},
                        {"reason", c.reason},
                        {"message", c.message},
                        {"before", found ? fieldsOf(c.before) : nlohmann::json(nullptr)},
                        {"after", found ? fieldsOf(c.after) : nlohmann::json(nullptr)}});
        const char* key = c.state == PlanRowState::Ready      ? "ready"
                          : c.state == PlanRowState::Set      ? "set"
                          : c.state == PlanRowState::NotFound ? "not_found"
                          : c.state == PlanRowState::Refused  ? "refused"
                                                              : "caution";
        summary[key] = summary[key].get<int>() + 1;
    }
    return {{"plan", planPath},       {"adapter", std::string(adapter.ifName())},
            {"dry_run", dryRun},      {"confirmed", confirmed},
            {"cancelled", cancelled}, {"rows", rows},
            {"summary", summary}};
}

bool confirm(const std::string& message) {
    std::fprintf(stderr, "%s [y/N] ", message.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

int runApply(Context& ctx) {
    std::string planPath;
    std::string home;
    std::string interface;
    bool yes = false;
    bool json = false;
    bool dryRun = false;
    for (std::size_t i = 0; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        if (a == "--yes") {
            yes = true;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--dry-run") {
            dryRun = true;
        } else if (a == "--home" && i + 1 < ctx.args.size()) {
            home = ctx.args[++i];
        } else if (a == "--interface" && i + 1 < ctx.args.size()) {
            interface = ctx.args[++i];
        } else if (!a.empty() && a[0] != '-' && planPath.empty()) {
            planPath = a;
        } else {
            std::fprintf(stderr, "apply: unknown option %s\n%s", a.c_str(), kUsage);
            return kExitUsage;
        }
    }
    if (planPath.empty()) {
        std::fprintf(stderr, "apply: name the plan file\n%s", kUsage);
        return kExitUsage;
    }
    // The plan's form first: a malformed plan sends nothing, not even a search.
    AddressPlan plan;
    PlanError error;
    if (!loadAddressPlan(planPath, plan, error)) {
        if (error.line > 0)
            std::fprintf(stderr, "apply: %s line %d: %s\n", planPath.c_str(), error.line,
                         error.message.c_str());
        else
            std::fprintf(stderr, "apply: %s: %s\n", planPath.c_str(), error.message.c_str());
        return kExitUsage;
    }
    if (!yes && !dryRun && isatty(STDIN_FILENO) == 0) {
        std::fprintf(stderr, "apply: no terminal to confirm on; give --yes to go ahead\n");
        return kExitUsage;
    }

    Session session(ctx, home);
    SetupCore& core = session.core();
    if (!interface.empty() && !session.useInterface(interface)) {
        std::fprintf(stderr, "apply: no adapter %s with an IPv4 address\n", interface.c_str());
        return kExitUsage;
    }
    catchInterrupts();
    core.log().trace(1, "Plan Apply(%s) Rows(%d)", planPath.c_str(),
                     static_cast<int>(plan.rows.size()));
    if (!session.search()) return kExitCancelled;

    const PlanCheckContext checkContext = planCheckContext(core);
    std::vector<PlanRowCheck> checks = checkAddressPlan(plan, checkContext, core.log());
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < checks.size(); ++i)
        if (checks[i].state == PlanRowState::Ready) ready.push_back(i);

    // The preview: on the terminal always (standard error when JSON goes to standard output).
    printTable(json ? stderr : stdout, checks);
    bool confirmed = !ready.empty() && !dryRun;
    if (confirmed && !yes) {
        bool unreachable = false;
        for (std::size_t i : ready) unreachable = unreachable || checks[i].unreachableAfter;
        const char16_t* key = unreachable ? u"CUSTOM_SETTING_MSG2" : u"CUSTOM_SETTING_MSG1";
        std::fprintf(stderr, "%zu of %zu rows will be set.\n", ready.size(), checks.size());
        confirmed = confirm(toUtf8(core.text(u"CUSTOM_SETTING_WINDOW", key)));
        if (!confirmed) std::fprintf(stderr, "apply: nothing changed\n");
    }
    if (!confirmed) {
        if (json)
            std::printf("%s\n", report(planPath, checkContext.adapter, checks, dryRun, false, false)
                                    .dump(2)
                                    .c_str());
        if (dryRun) return ready.size() == checks.size() ? kExitOk : kExitFailure;
        return ready.empty() ? kExitFailure : kExitUsage;
    }

    // One camera after another, each as the manual setting runs it.
    bool cancelled = false;
    std::vector<bool> succeeded(checks.size(), false);
    for (std::size_t i : ready) {
        if (g_interrupted != 0) {
            cancelled = true;
            break;
        }
        PlanRowCheck& c = checks[i];
        core.log().trace(1, "Plan Line(%d) ManualSetting Set(%p)", c.row.line,
                         static_cast<const void*>(&core));
        std::fprintf(stderr, "setting %s (line %d)\n", c.row.mac.c_str(), c.row.line);
        core.loginEntry() = c.login;
        QueuedResults results(session.queue(), core);
        SettingsRun& run = core.newSettingsRun(results);
        run.prepareManual(c.login, c.after, c.statusWasOk);
        const bool finished = session.drive(run);
        const CameraEntry& now = core.store().m_CamTable[static_cast<std::size_t>(c.tableIndex)];
        succeeded[i] = results.answered(c.tableIndex) && now.dwResult == kResultAccepted;
        if (!finished) {
            cancelled = true;
            break;
        }
    }

    // What the next search sees decides.
    if (!cancelled && !session.search()) cancelled = true;
    for (std::size_t i : ready) {
        const CameraEntry* found = cancelled ? nullptr : findPlannedCamera(core, checks[i].row.mac);
        judgePlanRow(checks[i], succeeded[i], found);
    }
    bool allSet = true;
    for (const PlanRowCheck& c : checks) allSet = allSet && c.state == PlanRowState::Set;
    if (json)
        std::printf(
            "%s\n",
            report(planPath, checkContext.adapter, checks, false, true, cancelled).dump(2).c_str());
    else
        printTable(stdout, checks);
    if (cancelled) return kExitCancelled;
    return allSet ? kExitOk : kExitFailure;
}

const CommandRegistration applyReg{
    {"apply",
     "apply PLAN.csv [--interface IF] [--dry-run] [--yes] [--json]  set cameras from an "
     "address plan",
     &runApply}};

}  // namespace

}  // namespace lanrove::cli
