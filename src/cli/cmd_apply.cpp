// lanrove-cli apply: sets many cameras from an address plan (CSV). Reads and checks the plan
// before anything else, searches, checks every row (the manual setting's rules, the plan-wide
// ones and the free-address probe), shows the preview, asks once (unless --yes), sets the
// accepted cameras one after another through the settings run, searches again and reports
// every row as set / unchanged / not-found / refused / caution. A row whose camera already has
// every planned value is unchanged and nothing goes to that camera, so a plan applied twice
// sends nothing the second time.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/plan_support.h"
#include "app/setup_core.h"
#include "cli/commands.h"
#include "cli/core_session.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "runs/address_plan.h"
#include "runs/ip_setting_rules.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

struct ApplyOptions {
    std::string planPath;
    bool dryRun = false;
    std::optional<std::string> user;  // the account for rows that name none
    PasswordInput passwordInput;
    SessionOptions session;
};

// The --user account for the rows without user and password columns of their own, as if the
// plan gave it: so that tools need not write passwords into the plan, nor on a command line.
int applyAccount(ApplyOptions& o, AddressPlan& plan) {
    if (!o.user) return kExitOk;
    std::string password;
    if (const int rc = obtainPassword("apply", *o.user, o.passwordInput, password); rc != kExitOk)
        return rc;
    const bool valid = isValidLoginText(fromUtf8(*o.user)) && isValidLoginText(fromUtf8(password));
    if (valid)
        for (PlanRow& row : plan.rows)
            if (!row.user) {
                row.user = *o.user;
                row.password = password;
            }
    wipe(password);
    if (!valid) return usageError("apply", "user and password are 4 to 32 letters or digits");
    return kExitOk;
}

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
    nlohmann::json summary = {{"rows", checks.size()}, {"ready", 0},     {"set", 0},
                              {"unchanged", 0},        {"not_found", 0}, {"refused", 0},
                              {"caution", 0}};
    for (const PlanRowCheck& c : checks) {
        const bool found = c.tableIndex >= 0;
        // The fields the row sends (or sent); rows that never reached the setting have none.
        nlohmann::json changes = nlohmann::json::array();
        if (c.state == PlanRowState::Ready || c.state == PlanRowState::Set ||
            c.state == PlanRowState::Caution)
            for (const std::string& name : plannedChanges(c.login, c.after))
                changes.push_back(name);
        rows.push_back({{"line", c.row.line},
                        {"mac", c.row.mac},
                        {"found", found},
                        {"no", found ? fieldUtf8(c.before.szNo) : ""},
                        {"state", planStateName(c.state)},
                        {"reason", c.reason},
                        {"message", c.message},
                        {"before", found ? fieldsOf(c.before) : nlohmann::json(nullptr)},
                        {"after", found ? fieldsOf(c.after) : nlohmann::json(nullptr)},
                        {"changes", changes}});
        const char* key = c.state == PlanRowState::Ready       ? "ready"
                          : c.state == PlanRowState::Set       ? "set"
                          : c.state == PlanRowState::NotFound  ? "not_found"
                          : c.state == PlanRowState::Refused   ? "refused"
                          : c.state == PlanRowState::Unchanged ? "unchanged"
                                                               : "caution";
        summary[key] = summary[key].get<int>() + 1;
    }
    return {{"plan", planPath},       {"adapter", std::string(adapter.ifName())},
            {"dry_run", dryRun},      {"confirmed", confirmed},
            {"cancelled", cancelled}, {"rows", rows},
            {"summary", summary}};
}

int runApply(ApplyOptions& o) {
    const std::string& planPath = o.planPath;
    const bool json = o.session.json;
    // The plan's form first: a malformed plan sends nothing, not even a search.
    AddressPlan plan;
    PlanError error;
    if (!loadAddressPlan(planPath, plan, error)) {
        if (error.line > 0)
            return usageError(
                "apply", planPath + " line " + std::to_string(error.line) + ": " + error.message);
        return usageError("apply", planPath + ": " + error.message);
    }
    if (const int rc = applyAccount(o, plan); rc != kExitOk) return rc;
    if (!mayAsk("apply", o.session.yes || o.dryRun)) return kExitUsage;

    CoreSession session(o.session.argv0, o.session.home);
    SetupCore& core = session.core();
    if (!session.useInterfaceOf("apply", o.session.ifName)) return kExitUsage;
    catchInterrupts();
    core.log().trace(1, "Plan Apply(%s) Rows(%d)", planPath.c_str(),
                     static_cast<int>(plan.rows.size()));
    if (!session.search(false)) return kExitInterrupted;

    const PlanCheckContext checkContext = planCheckContext(core);
    std::vector<PlanRowCheck> checks = checkAddressPlan(plan, checkContext, core.log());
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < checks.size(); ++i)
        if (checks[i].state == PlanRowState::Ready) ready.push_back(i);

    // The preview: on the terminal always (standard error when JSON goes to standard output).
    printTable(json ? stderr : stdout, checks);
    bool confirmed = !ready.empty() && !o.dryRun;
    if (confirmed && !o.session.yes) {
        bool unreachable = false;
        for (std::size_t i : ready) unreachable = unreachable || checks[i].unreachableAfter;
        const char16_t* key = unreachable ? u"CUSTOM_SETTING_MSG2" : u"CUSTOM_SETTING_MSG1";
        std::fprintf(stderr, "%zu of %zu rows will be set.\n", ready.size(), checks.size());
        std::fprintf(stderr, "%s\n",
                     session.text(u"CUSTOM_SETTING_WINDOW", u"ACCOUNT_IN_CLEAR").c_str());
        confirmed = confirmChange("apply", session.text(u"CUSTOM_SETTING_WINDOW", key));
    }
    if (!confirmed) {
        if (json)
            printJsonDocument(
                report(planPath, checkContext.adapter, checks, o.dryRun, false, false));
        // A dry run exits as the real run would end if every setting took; a run with nothing
        // to send ends here, successfully when every camera is as planned.
        bool allAsPlanned = true;
        for (const PlanRowCheck& c : checks)
            allAsPlanned = allAsPlanned && (c.state == PlanRowState::Unchanged ||
                                            (o.dryRun && c.state == PlanRowState::Ready));
        if (o.dryRun || ready.empty()) return allAsPlanned ? kExitOk : kExitFailure;
        return kExitUsage;
    }

    // One camera after another, each as the manual setting runs it.
    bool cancelled = false;
    std::vector<bool> succeeded(checks.size(), false);
    // Why a row that was not set is not: what the run knows beats the general words.
    std::vector<std::string> notSetWhy(checks.size());
    std::string runError;
    TerminalProgress progress(json);
    int done = 0;
    for (std::size_t i : ready) {
        if (interrupted()) {
            cancelled = true;
            break;
        }
        PlanRowCheck& c = checks[i];
        core.log().trace(1, "Plan Line(%d) ManualSetting Set(%p)", c.row.line,
                         static_cast<const void*>(&core));
        std::fprintf(stderr, "setting %s (line %d)\n", c.row.mac.c_str(), c.row.line);
        core.loginEntry() = c.login;
        QueuedSettingResults results(session.queue(), core);
        SettingsRun& run = core.newSettingsRun(results);
        run.prepareManual(c.login, c.after, c.statusWasOk);
        const std::string target = c.row.mac + " -> " + fieldUtf8(c.after.szIp);
        const int total = static_cast<int>(ready.size());
        const bool finished = session.drive(
            run, &progress, [&] { return settingProgressText("apply", done, total, target, -1); });
        ++done;
        const CameraEntry& now = core.store().m_CamTable[static_cast<std::size_t>(c.tableIndex)];
        succeeded[i] = results.answered(c.tableIndex) && now.dwResult == kResultAccepted;
        // A version-1 camera that moved but refused the rest: the installer redoes only that.
        if (results.addressOnly(c.tableIndex)) notSetWhy[i] = kAddressOnlyText;
        // A run that cannot hear the replies (or start its threads) fails the same way for
        // every row: the rest are left as they are.
        if (const SettingsRunError e = run.error(); e.failed()) {
            runError = e.text;
            notSetWhy[i] = e.text;
            break;
        }
        if (!finished) {
            cancelled = true;
            break;
        }
    }

    // What the next search sees decides.
    if (!cancelled && !session.search(false)) cancelled = true;
    for (std::size_t i : ready) {
        const CameraEntry* found = cancelled ? nullptr : findPlannedCamera(core, checks[i].row.mac);
        judgePlanRow(checks[i], succeeded[i], found);
        if (checks[i].state != PlanRowState::Caution || succeeded[i]) continue;
        if (!notSetWhy[i].empty())
            checks[i].message = notSetWhy[i];
        else if (!runError.empty())
            checks[i].message = "not sent: " + runError;
    }
    bool allSet = true;
    for (const PlanRowCheck& c : checks)
        allSet = allSet && (c.state == PlanRowState::Set || c.state == PlanRowState::Unchanged);
    if (json)
        printJsonDocument(report(planPath, checkContext.adapter, checks, false, true, cancelled));
    else
        printTable(stdout, checks);
    if (cancelled) return kExitInterrupted;
    return allSet ? kExitOk : kExitFailure;
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<ApplyOptions>();
    app.add_option("PLAN", o->planPath,
                   "the address plan: CSV (or tab-separated) with a mac column and the values "
                   "to set")
        ->required()
        ->type_name("PLAN.csv");
    app.add_flag("--dry-run", o->dryRun,
                 "check every row and show the preview; change nothing (no --yes needed)");
    auto* user = app.add_option("--user", o->user,
                                "login name for the rows that give no user and password "
                                "(its password: --password-file, LANROVE_PASSWORD or asked)")
                     ->type_name("USER");
    const auto [password, file] = addPasswordInput(app, o->passwordInput);
    password->needs(user);
    file->needs(user);
    addSessionOptions(app, o->session, argv0, true);
    return [o] { return runApply(*o); };
}

const CommandRegistration applyReg{
    {"apply", "set many cameras from an address plan (CSV): preview, one confirmation, report",
     "1  a row was neither set nor already as planned (not found, refused or in caution; with "
     "--dry-run: a row is neither ready nor unchanged)\n"
     "130  cancelled with Ctrl-C (or SIGTERM)\n"
     "2  the plan is malformed, or the confirmation answered No",
     &define}};

}  // namespace

}  // namespace lanrove::cli
