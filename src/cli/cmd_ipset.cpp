// lanrove-cli auto-set and set: the Auto setting and Manual setting buttons on the command
// line. Both search first (the settings work on the camera table a search fills), check the
// input with the dialogs' rules, ask for the dialogs' confirmation on the terminal (unless
// --yes), then drive the settings run with the progress window's steps.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/event_queue.h"
#include "app/language.h"
#include "app/setup_core.h"
#include "cli/commands.h"
#include "discovery/ipv4_address.h"
#include "runs/ip_setting_rules.h"
#include "support/program_paths.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

constexpr int kExitCancelled = 130;
constexpr std::size_t kMaxTitleChars = 16;  // the setting dialog's title field
constexpr Millis kStepPeriod{100};          // the window ticks once a second; we may be faster

constexpr const char* kAutoUsage =
    "usage: lanrove-cli auto-set --from A [--to B] [--interface IF] [--yes] [--json] "
    "[--home DIR]\n";
constexpr const char* kSetUsage =
    "usage: lanrove-cli set --mac M [--ip A] [--mask M] [--gateway G] [--port P] "
    "[--ssl on|off] [--title T] [--user U --password W] [--yes] [--json] [--home DIR]\n";

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onSettingInterrupt(int) {
    g_interrupted = 1;
}

void catchInterrupts() {
    struct sigaction sa {};
    sa.sa_handler = onSettingInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// The search worker's reports as calls on this thread.
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

// The run's results, applied on this thread as the window applies them on its own.
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

std::string text(SetupCore& core, const char16_t* section, const char16_t* key) {
    return toUtf8(core.text(section, key));
}

const char16_t* checkTextKey(SettingCheck check) {
    switch (check) {
        case SettingCheck::HostPart:
            return u"ERROR_IP";
        case SettingCheck::Mask:
            return u"ERROR_SUBNET_MASK";
        case SettingCheck::Illegal:
        case SettingCheck::Ok:
            break;
    }
    return u"ERROR_ID_PASSWORD";
}

// The dialog's refusal: the event line, then the warning box's text.
int refuse(SetupCore& core, const char* command, const std::string& what, const char* event,
           std::string_view subject, SettingCheck check) {
    if (event != nullptr && *event != '\0') core.log().event(event, "err", subject);
    std::fprintf(stderr, "%s: %s: %s\n", command, what.c_str(),
                 text(core, u"ERROR_WINDOW", checkTextKey(check)).c_str());
    return kExitUsage;
}

bool canConfirm() {
    return isatty(STDIN_FILENO) != 0;
}

// The confirmation box's text with Yes/No on the terminal.
bool confirm(const std::string& message) {
    std::fprintf(stderr, "%s [y/N] ", message.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

struct Common {
    bool yes = false;
    bool json = false;
    std::string home;
    std::string interface;
};

// Options both commands share; false when `a` is none of them.
bool commonOption(const std::vector<std::string>& args, std::size_t& i, Common& c) {
    const std::string& a = args[i];
    if (a == "--yes") {
        c.yes = true;
    } else if (a == "--json") {
        c.json = true;
    } else if (a == "--home" && i + 1 < args.size()) {
        c.home = args[++i];
    } else {
        return false;
    }
    return true;
}

class Session {
  public:
    Session(Context& ctx, const Common& common)
        : m_core(defaultClock(), m_log, ProgramPaths::resolve(ctx.argv0, common.home),
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

    // Keeps only the named adapter; false when there is none of that name.
    bool useInterface(const std::string& name) {
        std::vector<AdapterEntry> kept;
        for (const AdapterEntry& a : m_core.adapters())
            if (a.ifName() == name) kept.push_back(a);
        m_core.adapters() = kept;
        return !kept.empty();
    }

    // The search as the Search button runs it; false when it was cancelled.
    bool search(bool quiet) {
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
        if (!quiet) std::fprintf(stderr, "search: %d cameras\n", m_core.list().rowCount());
        return !cancelled;
    }

    AdapterEntry adapterInUse() {
        AdapterEntry a{};
        a.clear();
        const int i = m_core.adapterIndex();
        if (i >= 0 && i < static_cast<int>(m_core.adapters().size()))
            a = m_core.adapters()[static_cast<std::size_t>(i)];
        return a;
    }

    // Drives the run with the progress window's steps; false when it was cancelled.
    bool drive(SettingsRun& run) {
        run.begin();
        if (run.mode() == RunMode::Auto) run.startProbe();
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

    EventQueue& queue() { return m_queue; }

  private:
    TraceLog m_log;
    SetupCore m_core;
    EventQueue m_queue;
};

std::string statusOf(const CameraEntry& e) {
    return fieldUtf8(e.szStatus);
}

// ------------------------------------------------------------------------------- auto-set

int runAutoSet(Context& ctx) {
    Common common;
    std::string from;
    std::string to;
    for (std::size_t i = 0; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        if (commonOption(ctx.args, i, common)) continue;
        if (a == "--from" && i + 1 < ctx.args.size()) {
            from = ctx.args[++i];
        } else if (a == "--to" && i + 1 < ctx.args.size()) {
            to = ctx.args[++i];
        } else if (a == "--interface" && i + 1 < ctx.args.size()) {
            common.interface = ctx.args[++i];
        } else {
            std::fprintf(stderr, "auto-set: unknown option %s\n%s", a.c_str(), kAutoUsage);
            return kExitUsage;
        }
    }
    if (from.empty()) {
        std::fprintf(stderr, "auto-set: --from is needed\n%s", kAutoUsage);
        return kExitUsage;
    }
    // Checked before anything is sent: the address rule of both fields.
    const bool fromOk = ipv4::isValidAddressText(fromUtf8(from));
    const bool toOk = to.empty() || ipv4::isValidAddressText(fromUtf8(to));
    if (!common.yes && !canConfirm()) {
        std::fprintf(stderr, "auto-set: no terminal to confirm on; give --yes to go ahead\n");
        return kExitUsage;
    }

    Session session(ctx, common);
    SetupCore& core = session.core();
    if (!fromOk || !toOk)
        return refuse(core, "auto-set", fromOk ? "--to" : "--from",
                      "The automatic setting is illegal", "", SettingCheck::Illegal);
    if (!common.interface.empty() && !session.useInterface(common.interface)) {
        std::fprintf(stderr, "auto-set: no adapter %s with an IPv4 address\n",
                     common.interface.c_str());
        return kExitUsage;
    }
    catchInterrupts();
    if (!session.search(common.json)) return kExitCancelled;

    const AdapterEntry adapter = session.adapterInUse();
    const AutoRangeResult range = checkAutoRange(adapter, fromUtf8(from), fromUtf8(to));
    if (range.check != SettingCheck::Ok)
        return refuse(core, "auto-set", range.focus == kIdFieldEnd ? "--to" : "--from",
                      range.eventMessage, "", range.check);

    // The status texts as the table holds them (cut to the field like every classification).
    const std::u16string newText = core.classifier().statusTexts().newText;
    std::vector<int> newCameras;
    for (std::size_t i = 0; i < kCameraTableSize; ++i)
        if (fieldView(core.store().m_CamTable[i].szStatus) == newText)
            newCameras.push_back(static_cast<int>(i));
    nlohmann::json out;
    out["adapter"] = std::string(adapter.ifName());
    out["candidates"] = range.candidates.size();
    out["cameras"] = nlohmann::json::array();
    if (newCameras.empty()) {
        // As the button: nothing to do, nothing sent.
        if (common.json)
            std::printf("%s\n", out.dump(2).c_str());
        else
            std::printf("no NEW camera\n");
        return kExitOk;
    }
    if (!common.yes) {
        std::fprintf(stderr, "%zu NEW cameras, addresses from %s to %s on %s\n", newCameras.size(),
                     toUtf8(range.candidates.front()).c_str(),
                     toUtf8(range.candidates.back()).c_str(),
                     std::string(adapter.ifName()).c_str());
        if (!confirm(text(core, u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_MSG1"))) {
            std::fprintf(stderr, "auto-set: nothing changed\n");
            return kExitUsage;
        }
    }

    core.log().trace(1, "AutoSetting Set(%p)", static_cast<const void*>(&core));
    QueuedResults results(session.queue(), core);
    SettingsRun& run = core.newSettingsRun(results);
    run.prepareAuto(range.candidates, static_cast<int>(newCameras.size()), newText);
    const auto started = std::chrono::steady_clock::now();
    const bool finished = session.drive(run);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const FreeAddressResult probe = run.freeAddresses();
    bool allSet = true;
    for (int index : newCameras) {
        const CameraEntry& e = core.store().m_CamTable[static_cast<std::size_t>(index)];
        const bool set = results.answered(index) && e.dwResult == kResultAccepted;
        allSet = allSet && set;
        out["cameras"].push_back({{"no", fieldUtf8(e.szNo)},
                                  {"mac", fieldUtf8(e.szMac)},
                                  {"ip", fieldUtf8(e.szIp)},
                                  {"status", statusOf(e)},
                                  {"result", e.dwResult},
                                  {"set", set}});
    }
    out["probe"] = {{"batches", probe.batches},
                    {"probes", probe.probes},
                    {"free", probe.addresses.size()},
                    {"seconds", static_cast<double>(probe.elapsedMs) / 1000.0}};
    out["seconds"] = seconds;
    out["cancelled"] = !finished;
    if (common.json) {
        std::printf("%s\n", out.dump(2).c_str());
    } else {
        for (const auto& c : out["cameras"])
            std::printf("%s  %-15s  %s\n", c["mac"].get<std::string>().c_str(),
                        c["ip"].get<std::string>().c_str(),
                        c["set"].get<bool>() ? "set" : "not set");
        std::printf("%zu of %zu NEW cameras set; %d probe batches, %zu free addresses found\n",
                    static_cast<std::size_t>(std::count_if(
                        out["cameras"].begin(), out["cameras"].end(),
                        [](const nlohmann::json& c) { return c["set"].get<bool>(); })),
                    newCameras.size(), probe.batches, probe.addresses.size());
    }
    if (!finished) return kExitCancelled;
    return allSet ? kExitOk : kExitFailure;
}

// ------------------------------------------------------------------------------------ set

struct SetOptions {
    std::string mac;
    std::optional<std::string> ip, mask, gateway, port, ssl, title, user, password;
};

int runSet(Context& ctx) {
    Common common;
    SetOptions o;
    for (std::size_t i = 0; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        if (commonOption(ctx.args, i, common)) continue;
        const bool hasValue = i + 1 < ctx.args.size();
        std::optional<std::string>* target = a == "--ip"         ? &o.ip
                                             : a == "--mask"     ? &o.mask
                                             : a == "--gateway"  ? &o.gateway
                                             : a == "--port"     ? &o.port
                                             : a == "--ssl"      ? &o.ssl
                                             : a == "--title"    ? &o.title
                                             : a == "--user"     ? &o.user
                                             : a == "--password" ? &o.password
                                                                 : nullptr;
        if (a == "--mac" && hasValue) {
            o.mac = ctx.args[++i];
        } else if (target != nullptr && hasValue) {
            *target = ctx.args[++i];
        } else {
            std::fprintf(stderr, "set: unknown option %s\n%s", a.c_str(), kSetUsage);
            return kExitUsage;
        }
    }
    dgram::MacBytes macBytes{};
    if (o.mac.empty() || !dgram::parseMacText(std::string_view(o.mac), macBytes)) {
        std::fprintf(stderr, "set: --mac needs a MAC address such as 00:1B:7C:00:01:02\n%s",
                     kSetUsage);
        return kExitUsage;
    }
    if (o.ssl && *o.ssl != "on" && *o.ssl != "off") {
        std::fprintf(stderr, "set: --ssl takes on or off\n");
        return kExitUsage;
    }
    if (o.title && fromUtf8(*o.title).size() > kMaxTitleChars) {
        std::fprintf(stderr, "set: --title takes at most %zu characters\n", kMaxTitleChars);
        return kExitUsage;
    }
    if (o.user.has_value() != o.password.has_value()) {
        std::fprintf(stderr, "set: --user and --password go together\n");
        return kExitUsage;
    }
    // The field rules that need no camera, checked before anything is sent.
    const char* badField = nullptr;
    for (const auto& [opt, name] : {std::pair{&o.ip, "--ip"}, std::pair{&o.mask, "--mask"},
                                    std::pair{&o.gateway, "--gateway"}})
        if (badField == nullptr && opt->has_value() && !ipv4::isValidAddressText(fromUtf8(**opt)))
            badField = name;
    if (badField == nullptr && o.port && !isValidPortText(fromUtf8(*o.port))) badField = "--port";
    const bool badLogin = o.user && (!isValidLoginText(fromUtf8(*o.user)) ||
                                     !isValidLoginText(fromUtf8(*o.password)));
    if (!common.yes && !canConfirm()) {
        std::fprintf(stderr, "set: no terminal to confirm on; give --yes to go ahead\n");
        return kExitUsage;
    }

    Session session(ctx, common);
    SetupCore& core = session.core();
    if (badField != nullptr)
        return refuse(core, "set", badField, "The manual setting is illegal", "",
                      SettingCheck::Illegal);
    if (badLogin)
        return refuse(core, "set", isValidLoginText(fromUtf8(*o.user)) ? "--password" : "--user",
                      "The log in setting is illegal", "", SettingCheck::Illegal);
    catchInterrupts();
    if (!session.search(common.json)) return kExitCancelled;

    const std::string macText = dgram::macTextUpper(macBytes.data());
    const int index = core.store().findByMac(fromUtf8(macText), static_cast<int>(kCameraTableSize));
    if (index < 0) {
        std::fprintf(stderr, "set: no camera %s was found\n", macText.c_str());
        return kExitFailure;
    }
    const CameraEntry current = core.store().m_CamTable[static_cast<std::size_t>(index)];
    const AdapterEntry adapter = session.adapterInUse();
    const std::string title = fieldUtf8(current.szTitle);

    // The Manual setting button's work copy.
    CameraEntry work = current;
    if (fieldEmpty(work.szPort)) setField(work.szPort, std::u16string_view(u"80"));
    if (fieldEmpty(work.szSsl)) setField(work.szSsl, std::u16string_view(u"0"));
    setField(work.szUser, std::u16string_view(kDefaultCredential));
    setField(work.szPassword, std::u16string_view(kDefaultCredential));
    const StatusTexts& texts = core.classifier().statusTexts();
    const bool statusOk = fieldView(current.szStatus) == texts.okText;
    const bool statusNew = fieldView(current.szStatus) == texts.newText;
    const bool outside =
        CCGI::IsOutsideHostSubnet(adapter.ip(), adapter.mask(), fieldUtf8(current.szIp)) != 0;

    // The login step: the default account first, the given one when that is refused.
    const LoginStep step = manualLoginStep(statusOk, statusNew, outside);
    const auto useGiven = [&] {
        setField(work.szUser, std::string_view(*o.user));
        setField(work.szPassword, std::string_view(*o.password));
    };
    if (step == LoginStep::AskPrefilled && o.user) {
        useGiven();  // accepted as entered, like the pre-filled login dialog
    } else if (step == LoginStep::TestDefault && core.loginTest(work) >= kCgiFailed) {
        if (!o.user) {
            std::fprintf(stderr,
                         "set: the camera refuses the default account; give --user and "
                         "--password\n");
            return kExitUsage;
        }
        useGiven();
        if (core.loginTest(work) >= kCgiFailed) {
            core.log().event("Failed in log in", "err", title);
            std::fprintf(stderr, "set: --user/--password: %s\n",
                         text(core, u"ERROR_WINDOW", u"ERROR_ID_PASSWORD").c_str());
            return kExitUsage;
        }
    }
    core.log().trace(1, "ManualSetting Set(%p)", static_cast<const void*>(&core));

    // The setting dialog: the camera's values unless named.
    const std::string port = o.port  ? *o.port
                             : o.ssl ? std::string(*o.ssl == "on" ? "443" : "80")
                                     : fieldUtf8(work.szPort);
    ManualFields fields{fromUtf8(o.ip.value_or(fieldUtf8(work.szIp))),
                        fromUtf8(o.mask.value_or(fieldUtf8(work.szMask))),
                        fromUtf8(o.gateway.value_or(fieldUtf8(work.szGateway))), fromUtf8(port)};
    const ManualCheckResult check = checkManualFields(adapter, fields);
    if (check.check != SettingCheck::Ok) {
        const char* field = check.focus == kIdFieldIp        ? "--ip"
                            : check.focus == kIdFieldMask    ? "--mask"
                            : check.focus == kIdFieldGateway ? "--gateway"
                                                             : "--port";
        return refuse(core, "set", field, check.eventMessage, title, check.check);
    }
    CameraEntry edited = work;
    setField(edited.szIp, std::u16string_view(fields.ip));
    setField(edited.szMask, std::u16string_view(fields.mask));
    setField(edited.szGateway, std::u16string_view(fields.gateway));
    setField(edited.szPort, std::u16string_view(fields.port));
    if (o.title) setField(edited.szTitle, std::string_view(*o.title));
    if (o.ssl) setField(edited.szSsl, std::u16string_view(*o.ssl == "on" ? u"1" : u"0"));
    if (!common.yes) {
        const char16_t* key =
            check.unreachableAfter ? u"CUSTOM_SETTING_MSG2" : u"CUSTOM_SETTING_MSG1";
        std::fprintf(stderr, "%s (%s): %s -> %s\n", macText.c_str(), title.c_str(),
                     fieldUtf8(current.szIp).c_str(), toUtf8(fields.ip).c_str());
        if (!confirm(text(core, u"CUSTOM_SETTING_WINDOW", key))) {
            std::fprintf(stderr, "set: nothing changed\n");
            return kExitUsage;
        }
    }

    core.loginEntry() = work;
    QueuedResults results(session.queue(), core);
    SettingsRun& run = core.newSettingsRun(results);
    run.prepareManual(work, edited, statusOk);
    const bool finished = session.drive(run);

    const CameraEntry& after = core.store().m_CamTable[static_cast<std::size_t>(index)];
    const bool set = results.answered(index) && after.dwResult == kResultAccepted;
    nlohmann::json out = {{"no", fieldUtf8(after.szNo)},
                          {"mac", fieldUtf8(after.szMac)},
                          {"ip", fieldUtf8(after.szIp)},
                          {"mask", fieldUtf8(after.szMask)},
                          {"gateway", fieldUtf8(after.szGateway)},
                          {"port", fieldUtf8(after.szPort)},
                          {"ssl", fieldUtf8(after.szSsl)},
                          {"title", fieldUtf8(after.szTitle)},
                          {"status", statusOf(after)},
                          {"result", after.dwResult},
                          {"set", set},
                          {"cancelled", !finished}};
    if (common.json) {
        std::printf("%s\n", out.dump(2).c_str());
    } else {
        std::printf("%s  %-15s  %s  %s (%u)\n", macText.c_str(), fieldUtf8(after.szIp).c_str(),
                    set ? "set" : "not set", statusOf(after).c_str(),
                    static_cast<unsigned>(after.dwResult));
    }
    if (!finished) return kExitCancelled;
    return set ? kExitOk : kExitFailure;
}

const CommandRegistration autoReg{
    {"auto-set",
     "auto-set --from A [--to B] [--interface IF] [--yes] [--json]  give every NEW camera a "
     "free address",
     &runAutoSet}};
const CommandRegistration setReg{
    {"set",
     "set --mac M [--ip A] [--mask M] [--gateway G] [--port P] [--ssl on|off] [--title T] "
     "[--user U --password W] [--yes] [--json]  change one camera's network settings",
     &runSet}};

}  // namespace

}  // namespace lanrove::cli
