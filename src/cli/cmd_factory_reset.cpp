// lanrove-cli factory-reset: the Factory Default button on the command line (maintenance
// edition only). Searches first, asks the button's question on the terminal (unless --yes),
// resets every listed camera (those at the factory address first), waits the settle time when
// one accepted, and then searches again so that the cameras are listed in their new state.
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/setup_core.h"
#include "cli/commands.h"
#include "cli/core_session.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "discovery/datagram_codec.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

constexpr int kExitCancelled = 130;
constexpr Millis kStepPeriod{100};

struct ResetOptions {
    bool yes = false;
    bool json = false;
    std::string home;
    std::string interface;
    std::vector<std::string> macs;  // empty: every listed camera
};

const char* const kListKeys[kListColumnCount] = {"no",   "status", "model", "mac",     "ip",
                                                 "port", "ssl",    "title", "firmware"};

// Each command as the reset thread sent it, handed to the session's thread.
class QueuedOutcomes final : public FactoryResetEvents {
  public:
    QueuedOutcomes(EventQueue& queue, std::function<void(const ResetOutcome&)> onOutcome)
        : m_queue(queue), m_fnOutcome(std::move(onOutcome)) {}
    void cameraReset(const ResetOutcome& outcome) override {
        m_queue.post([this, outcome] { m_fnOutcome(outcome); });
    }

  private:
    EventQueue& m_queue;
    std::function<void(const ResetOutcome&)> m_fnOutcome;
};

std::string cellText(SetupCore& core, int row, int column) {
    return toUtf8(core.list().cell(row, column));
}

nlohmann::json listRows(SetupCore& core) {
    nlohmann::json rows = nlohmann::json::array();
    for (int r = 0; r < core.list().rowCount(); ++r) {
        nlohmann::json row;
        for (int c = 0; c < kListColumnCount; ++c) row[kListKeys[c]] = cellText(core, r, c);
        rows.push_back(row);
    }
    return rows;
}

// The list's rows, or only those of the cameras in `only` when it is not empty.
void printRows(std::FILE* out, SetupCore& core, const std::set<std::u16string>& only = {}) {
    for (int r = 0; r < core.list().rowCount(); ++r)
        if (only.empty() || only.count(core.list().cell(r, kColMac)) != 0)
            std::fprintf(out, "  %-4s %-8s %-17s %-15s %s\n", cellText(core, r, kColNo).c_str(),
                         cellText(core, r, kColStatus).c_str(), cellText(core, r, kColMac).c_str(),
                         cellText(core, r, kColIp).c_str(),
                         neutralisedUtf8(cellText(core, r, kColTitle)).c_str());
}

int runFactoryReset(const char* argv0, const ResetOptions& o) {
    const bool yes = o.yes;
    const bool json = o.json;
    const std::string& interface = o.interface;
    // Nothing is searched for a question that cannot be asked.
    if (!yes && !canConfirm())
        return usageError("factory-reset", "no terminal to confirm on; give --yes to go ahead");

    CoreSession session(argv0, o.home);
    SetupCore& core = session.core();
    if (!interface.empty() && !session.useInterface(interface))
        return usageError("factory-reset", "no adapter " + interface + " with an IPv4 address");
    catchInterrupts();
    if (!session.search(json)) return kExitCancelled;

    FactoryReset& reset = core.factoryReset();
    nlohmann::json out;
    out["cameras"] = nlohmann::json::array();
    const int listed = core.list().rowCount();
    if (listed == 0) {
        // As the button: with an empty list nothing is asked and nothing sent.
        if (json)
            printJsonDocument(out);
        else
            std::printf("no camera in the list: nothing reset\n");
        return kExitOk;
    }
    // --mac: only those cameras, each of which must be in the list (else nothing is sent).
    std::set<std::u16string> only;
    for (const std::string& text : o.macs) {
        dgram::MacBytes bytes{};
        dgram::parseMacText(std::string_view(text), bytes);  // checked by the parser
        const std::u16string mac = fromUtf8(dgram::macTextUpper(bytes.data()));
        if (core.store().findByMac(mac, static_cast<int>(kCameraTableSize)) < 0)
            return usageError("factory-reset", "no camera with MAC " + text + " was found");
        only.insert(mac);
    }
    const int chosen = only.empty() ? listed : static_cast<int>(only.size());
    reset.setOnly(only);
    if (!yes) {
        if (only.empty())
            std::fprintf(stderr, "%d cameras in the list:\n", listed);
        else
            std::fprintf(stderr, "%d of the %d cameras in the list:\n", chosen, listed);
        printRows(stderr, core, only);
        if (!confirm(toUtf8(core.text(u"RESET_SETTING_WINDOW", u"WARNING_MSG")))) {
            std::fprintf(stderr, "factory-reset: nothing changed\n");
            return kExitUsage;
        }
    }

    // Each outcome names its camera by the record it was sent from; the table stays as the
    // search left it until the new search below.
    const auto onOutcome = [&](const ResetOutcome& o) {
        const CameraEntry& e = core.store().m_CamTable[static_cast<std::size_t>(o.recordIndex)];
        out["cameras"].push_back({{"no", fieldUtf8(e.szNo)},
                                  {"mac", fieldUtf8(e.szMac)},
                                  {"ip", fieldUtf8(e.szIp)},
                                  {"model", fieldUtf8(e.szModel)},
                                  {"title", fieldUtf8(e.szTitle)},
                                  {"pass", o.pass},
                                  {"result", o.result},
                                  {"accepted", o.accepted()}});
        if (!json)
            std::fprintf(stderr, "reset: No.%s %s %s %s\n", fieldUtf8(e.szNo).c_str(),
                         fieldUtf8(e.szMac).c_str(), fieldUtf8(e.szIp).c_str(),
                         o.accepted() ? "accepted" : "not accepted");
    };
    QueuedOutcomes events(session.queue(), onOutcome);
    const auto started = std::chrono::steady_clock::now();
    if (const long failed = core.startFactoryReset(&core, &events); failed != 0) {
        const std::string why = factoryResetStartText(failed);
        std::fprintf(stderr, "factory-reset: %s\n", why.c_str());
        if (json) {
            out["error"] = why;
            printJsonDocument(out);
        }
        return kExitFailure;
    }
    bool stopAsked = false;
    // The thread always ends: each camera within its send time-out, the settle wait in full.
    while (!reset.done()) {
        session.drain(kStepPeriod);
        if (interrupted() && !stopAsked) {
            stopAsked = true;
            std::fprintf(stderr, "factory-reset: stopping after the current camera%s\n",
                         reset.anyAccepted() ? " and the settle wait" : "");
            reset.requestStop();
        }
    }
    core.factoryReset().stop();  // joins the finished thread
    session.drain(Millis(0));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    bool allAccepted = true;
    for (const ResetOutcome& o : reset.outcomes()) allAccepted = allAccepted && o.accepted();
    const bool complete = static_cast<int>(reset.outcomes().size()) == chosen;
    out["settle_wait"] = reset.settleWaited();
    out["seconds"] = seconds;
    out["interrupted"] = stopAsked;

    // The new search that the button starts once the wait window has closed.
    if (!stopAsked && !session.search(json)) stopAsked = true;
    out["after"] = listRows(core);
    if (json) {
        printJsonDocument(out);
    } else {
        std::size_t accepted = 0;
        for (const auto& c : out["cameras"]) accepted += c["accepted"].get<bool>() ? 1 : 0;
        std::printf("%zu of %d cameras accepted the factory reset%s\n", accepted, chosen,
                    reset.settleWaited() ? "; waited for them to restart" : "");
        std::printf("after the reset, %d cameras in the list:\n", core.list().rowCount());
        printRows(stdout, core);
    }
    if (stopAsked) return kExitCancelled;
    return allAccepted && complete ? kExitOk : kExitFailure;
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<ResetOptions>();
    addYes(app, o->yes);
    addJson(app, o->json);
    addInterface(app, o->interface)->type_name("IF");
    addHome(app, o->home)->type_name("DIR");
    app.add_option("--mac", o->macs, "reset only this camera (repeat for more; default: all)")
        ->type_name("MAC")
        ->check(macAddress());
    return [o, argv0] { return runFactoryReset(argv0, *o); };
}

const MaintenanceCommandRegistration factoryResetReg{
    {"factory-reset",
     "reset every camera found (or those named by --mac) to its factory settings, then "
     "search again (maintenance edition)",
     "1  a camera did not accept the reset\n130  interrupted (Ctrl-C)", &define}};

}  // namespace

}  // namespace lanrove::cli
