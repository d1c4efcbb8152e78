// lanrove-cli auto-set and set: the Auto setting and Manual setting buttons on the command
// line. Both search first (the settings work on the camera table a search fills), check the
// input with the dialogs' rules, ask for the dialogs' confirmation on the terminal (unless
// --yes), then drive the settings run with the progress window's steps.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/setup_core.h"
#include "cli/commands.h"
#include "cli/core_session.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "discovery/ipv4_address.h"
#include "runs/ip_setting_rules.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

constexpr std::size_t kMaxTitleChars = 16;  // the setting dialog's title field
constexpr const char16_t* kSettingSection = u"CUSTOM_SETTING_WINDOW";

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

// The dialog's refusal: the event line, then the warning box's text as a usage error.
int refuse(CoreSession& session, const char* command, const std::string& what, const char* event,
           std::string_view subject, SettingCheck check) {
    if (event != nullptr && *event != '\0') session.core().log().event(event, "err", subject);
    return usageError(command, what + ": " + session.text(u"ERROR_WINDOW", checkTextKey(check)));
}

std::string statusOf(const CameraEntry& e) {
    return fieldUtf8(e.szStatus);
}

// ------------------------------------------------------------------------------- auto-set

struct AutoSetOptions {
    std::string from;
    std::string to;
    SessionOptions session;
};

// The status line of the run: the probe's time so far, then the cameras answered and the
// send schedule's time left (the run ends with the schedule at the latest).
class AutoSetProgress {
  public:
    AutoSetProgress(const SettingsRun& run, const QueuedSettingResults& results, int cameras)
        : m_run(run),
          m_results(results),
          m_cameras(cameras),
          m_started(m_clock.now()),
          m_scheduleLength(m_clock.scaled(Millis(kSendRounds * kSettingPeriodMs))) {}

    std::string operator()() {
        const auto now = m_clock.now();
        if (m_run.probeRunning() && !m_run.settingRunning())
            return probeProgressText("auto-set", m_cameras, secondsBetween(m_started, now));
        if (!m_sending) {
            m_sending = true;
            m_sendStart = now;
        }
        const auto sent = std::chrono::duration_cast<Millis>(now - m_sendStart);
        const long left = std::max<long>(0, (m_scheduleLength - sent).count());
        return settingProgressText("auto-set", m_results.answeredCount(), m_cameras,
                                   m_results.lastAddress(), (left + 999) / 1000);
    }

  private:
    static long secondsBetween(std::chrono::steady_clock::time_point from,
                               std::chrono::steady_clock::time_point to) {
        return static_cast<long>(std::chrono::duration_cast<Millis>(to - from).count() / 1000);
    }

    const Clock& m_clock = defaultClock();
    const SettingsRun& m_run;
    const QueuedSettingResults& m_results;
    int m_cameras;
    std::chrono::steady_clock::time_point m_started;
    Millis m_scheduleLength;
    bool m_sending = false;
    std::chrono::steady_clock::time_point m_sendStart{};
};

int runAutoSet(const AutoSetOptions& o) {
    const SessionOptions& common = o.session;
    if (!mayAsk("auto-set", common.yes)) return kExitUsage;

    CoreSession session(common.argv0, common.home);
    SetupCore& core = session.core();
    // The dialog's address rule, stricter than the form the parser checked.
    if (!ipv4::isValidAddressText(fromUtf8(o.from)) ||
        (!o.to.empty() && !ipv4::isValidAddressText(fromUtf8(o.to))))
        return refuse(session, "auto-set",
                      ipv4::isValidAddressText(fromUtf8(o.from)) ? "--to" : "--from",
                      "The automatic setting is illegal", "", SettingCheck::Illegal);
    if (!session.useInterfaceOf("auto-set", common.ifName)) return kExitUsage;
    catchInterrupts();
    if (!session.search(common.json)) return kExitInterrupted;

    const AdapterEntry adapter = session.adapterInUse();
    const AutoRangeResult range = checkAutoRange(adapter, fromUtf8(o.from), fromUtf8(o.to));
    if (range.check != SettingCheck::Ok)
        return refuse(session, "auto-set", range.focus == kIdFieldEnd ? "--to" : "--from",
                      range.eventMessage, "", range.check);

    // The status texts as the table holds them (cut to the field like every classification).
    const std::u16string newText = core.classifier().statusTexts().newText;
    std::vector<int> newCameras;
    for (std::size_t i = 0; i < kCameraTableSize; ++i)
        if (fieldView(core.store().m_CamTable[i].szStatus) == newText)
            newCameras.push_back(static_cast<int>(i));
    nlohmann::json out;
    out["adapter"] = std::string(adapter.ifName());
    out["candidates"] = range.candidates.count();
    out["cameras"] = nlohmann::json::array();
    if (newCameras.empty()) {
        // As the button: nothing to do, nothing sent.
        if (common.json)
            printJsonDocument(out);
        else
            std::printf("no NEW camera\n");
        return kExitOk;
    }
    if (!common.yes) {
        std::fprintf(stderr, "%zu NEW cameras, addresses from %s to %s on %s\n", newCameras.size(),
                     toUtf8(range.candidates.front()).c_str(),
                     toUtf8(range.candidates.back()).c_str(),
                     std::string(adapter.ifName()).c_str());
        std::fprintf(stderr, "%s\n", session.text(kSettingSection, u"ACCOUNT_IN_CLEAR").c_str());
        if (!confirmChange("auto-set",
                           session.text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_MSG1")))
            return kExitUsage;
    }

    core.log().trace(1, "AutoSetting Set(%p)", static_cast<const void*>(&core));
    QueuedSettingResults results(session.queue(), core);
    SettingsRun& run = core.newSettingsRun(results);
    run.prepareAuto(range.candidates, static_cast<int>(newCameras.size()), newText);
    const auto started = std::chrono::steady_clock::now();
    TerminalProgress progress(common.json);
    const bool finished = session.drive(
        run, &progress, AutoSetProgress(run, results, static_cast<int>(newCameras.size())));
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
    const SettingsRunError error = run.error();
    if (error.failed()) out["error"] = error.text;
    if (common.json) {
        printJsonDocument(out);
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
    if (error.failed()) return kExitFailure;
    if (!finished) return kExitInterrupted;
    return allSet ? kExitOk : kExitFailure;
}

// ------------------------------------------------------------------------------------ set

struct SetOptions {
    std::string mac;
    // Unset: the camera's own value stays.
    std::optional<std::string> ip, mask, gateway, port, ssl, title, user, password;
    PasswordInput passwordInput;  // where `password` comes from when --user is given
    SessionOptions session;
    SetOptions() = default;
    SetOptions(const SetOptions&) = delete;
    SetOptions& operator=(const SetOptions&) = delete;
    ~SetOptions() {
        if (password) wipe(*password);
    }
};

int runSet(SetOptions& o) {
    const SessionOptions& common = o.session;
    if (o.user) {
        o.password.emplace();
        if (const int rc = obtainPassword("set", *o.user, o.passwordInput, *o.password);
            rc != kExitOk)
            return rc;
    }
    // The field rules that need no camera, checked before anything is sent.
    const char* badField = nullptr;
    for (const auto& [opt, name] : {std::pair{&o.ip, "--ip"}, std::pair{&o.mask, "--mask"},
                                    std::pair{&o.gateway, "--gateway"}})
        if (badField == nullptr && opt->has_value() && !ipv4::isValidAddressText(fromUtf8(**opt)))
            badField = name;
    const bool badLogin = o.user && (!isValidLoginText(fromUtf8(*o.user)) ||
                                     !isValidLoginText(fromUtf8(*o.password)));
    if (!mayAsk("set", common.yes)) return kExitUsage;

    CoreSession session(common.argv0, common.home);
    SetupCore& core = session.core();
    if (badField != nullptr)
        return refuse(session, "set", badField, "The manual setting is illegal", "",
                      SettingCheck::Illegal);
    if (badLogin)
        return refuse(session, "set", isValidLoginText(fromUtf8(*o.user)) ? "--password" : "--user",
                      "The log in setting is illegal", "", SettingCheck::Illegal);
    catchInterrupts();
    if (!session.search(common.json)) return kExitInterrupted;

    dgram::MacBytes macBytes{};
    dgram::parseMacText(std::string_view(o.mac), macBytes);  // checked by the parser
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
    const PasswordWipe wipeWork{work};
    const PasswordWipe wipeLogin{core.loginEntry()};
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
        if (!o.user)
            return usageError("set",
                              "the camera refuses the default account; give --user (and "
                              "its password with --password-file or LANROVE_PASSWORD, or at "
                              "the question)");
        useGiven();
        if (core.loginTest(work) >= kCgiFailed) {
            core.log().event("Failed in log in", "err", title);
            return usageError(
                "set", "--user/--password: " + session.text(u"ERROR_WINDOW", u"ERROR_ID_PASSWORD"));
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
        return refuse(session, "set", field, check.eventMessage, title, check.check);
    }
    CameraEntry edited = work;
    const PasswordWipe wipeEdited{edited};
    setField(edited.szIp, std::u16string_view(fields.ip));
    setField(edited.szMask, std::u16string_view(fields.mask));
    setField(edited.szGateway, std::u16string_view(fields.gateway));
    setField(edited.szPort, std::u16string_view(fields.port));
    if (o.title) setField(edited.szTitle, std::string_view(*o.title));
    if (o.ssl) setField(edited.szSsl, std::u16string_view(*o.ssl == "on" ? u"1" : u"0"));
    if (!common.yes) {
        const char16_t* key =
            check.unreachableAfter ? u"CUSTOM_SETTING_MSG2" : u"CUSTOM_SETTING_MSG1";
        std::fprintf(stderr, "%s (%s): %s -> %s\n", macText.c_str(), neutralisedUtf8(title).c_str(),
                     fieldUtf8(current.szIp).c_str(), toUtf8(fields.ip).c_str());
        std::fprintf(stderr, "%s\n", session.text(kSettingSection, u"ACCOUNT_IN_CLEAR").c_str());
        if (!confirmChange("set", session.text(u"CUSTOM_SETTING_WINDOW", key))) return kExitUsage;
    }

    core.loginEntry() = work;
    QueuedSettingResults results(session.queue(), core);
    SettingsRun& run = core.newSettingsRun(results);
    run.prepareManual(work, edited, statusOk);
    const bool finished = session.drive(run);

    const CameraEntry& after = core.store().m_CamTable[static_cast<std::size_t>(index)];
    const bool set = results.answered(index) && after.dwResult == kResultAccepted;
    const bool addressOnly = results.addressOnly(index);
    const SettingsRunError error = run.error();
    const std::string outcome = set              ? "set"
                                : addressOnly    ? kAddressOnlyText
                                : error.failed() ? "nothing sent"
                                                 : "not set";
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
                          {"outcome", outcome},
                          {"cancelled", !finished}};
    if (error.failed()) out["error"] = error.text;
    if (common.json) {
        printJsonDocument(out);
    } else {
        std::printf("%s  %-15s  %s  %s (%u)\n", macText.c_str(), fieldUtf8(after.szIp).c_str(),
                    outcome.c_str(), statusOf(after).c_str(),
                    static_cast<unsigned>(after.dwResult));
    }
    if (error.failed()) return kExitFailure;
    if (!finished) return kExitInterrupted;
    return set ? kExitOk : kExitFailure;
}

// ----------------------------------------------------------------------------- the options

Runner defineAutoSet(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<AutoSetOptions>();
    app.add_option("--from", o->from, "first address to hand out (in the adapter's subnet)")
        ->required()
        ->type_name("ADDRESS")
        ->check(ipv4Address());
    app.add_option("--to", o->to,
                   "last address to hand out (default: the end of the --from subnet)")
        ->type_name("ADDRESS")
        ->check(ipv4Address());
    addSessionOptions(app, o->session, argv0, true);
    return [o] { return runAutoSet(*o); };
}

// A value whose absence keeps the camera's own.
CLI::Option* addOptional(CLI::App& app, const char* name, std::optional<std::string>& target,
                         const char* help) {
    return app.add_option_function<std::string>(
        name, [&target](const std::string& value) { target = value; }, help);
}

Runner defineSet(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<SetOptions>();
    app.add_option("--mac", o->mac, "the camera to change")
        ->required()
        ->type_name("MAC")
        ->check(macAddress());
    addOptional(app, "--ip", o->ip, "new IP address")->type_name("ADDRESS")->check(ipv4Address());
    addOptional(app, "--mask", o->mask, "new subnet mask")->type_name("MASK")->check(subnetMask());
    addOptional(app, "--gateway", o->gateway, "new default gateway")
        ->type_name("ADDRESS")
        ->check(ipv4Address());
    addOptional(app, "--port", o->port, "new HTTP port")->type_name("PORT")->check(portNumber());
    addOptional(app, "--ssl", o->ssl, "HTTPS on or off (the port follows unless --port is given)")
        ->type_name("on|off")
        ->check(CLI::IsMember({"on", "off"}).description(""));
    addOptional(app, "--title", o->title, "new camera title")
        ->type_name("TITLE")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                if (fromUtf8(value).size() <= kMaxTitleChars) return {};
                return value + " is longer than " + std::to_string(kMaxTitleChars) + " characters";
            },
            "", "title-length"));
    auto* user = addOptional(app, "--user", o->user,
                             "login name when the camera refuses the default account")
                     ->type_name("USER");
    const auto [password, file] = addPasswordInput(app, o->passwordInput);
    password->needs(user);
    file->needs(user);
    addSessionOptions(app, o->session, argv0, false);
    return [o] { return runSet(*o); };
}

const CommandRegistration autoReg{
    {"auto-set",
     "give every NEW camera a free address from a range (after a search, with the free-address "
     "probe)",
     "1  a NEW camera was not set (refused, or no answer)\n"
     "130  cancelled with Ctrl-C (or SIGTERM)\n"
     "2  an address the setting rules refuse, or the confirmation answered No",
     &defineAutoSet}};
const CommandRegistration setReg{
    {"set", "change one camera's network settings (found by its MAC in a search)",
     "1  the camera was not found, or it did not take the settings\n"
     "130  cancelled with Ctrl-C (or SIGTERM)\n"
     "2  a value the setting rules refuse, a refused login, or the confirmation answered No",
     &defineSet}};

}  // namespace

}  // namespace lanrove::cli
