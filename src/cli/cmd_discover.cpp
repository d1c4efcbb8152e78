// Diagnostics of the discovery datagrams:
//   lanrove-cli discover      one receive + search-request pass on one adapter; prints the raw
//                             camera records that arrived, as JSON
//   lanrove-cli discover-set  one IP-setting run (manual or automatic schedule) for one camera;
//                             asks first (unless --yes), prints the replies that arrived, as
//                             JSON
// Both run on the real schedules (LANROVE_TIME_SCALE shortens them).
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/lang_table.h"
#include "app/language.h"
#include "cli/commands.h"
#include "cli/core_session.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "discovery/camera_store.h"
#include "discovery/datagram_codec.h"
#include "discovery/datagram_link.h"
#include "discovery/host_network.h"
#include "discovery/send_schedule.h"
#include "support/clock.h"
#include "support/program_paths.h"
#include "support/trace_log.h"

namespace lanrove::cli {
namespace {

// Where a diagnostic run goes and what it records.
struct RigOptions {
    int adapter = 0;
    std::string interface;
    std::string codePage = "CP1252";
    std::string trace;  // folder of the trace log; empty: none
};

// The adapter named by --interface, or the one at --adapter.
bool chooseAdapter(const RigOptions& o, AdapterEntry& out, const char* command) {
    std::vector<AdapterEntry> adapters;
    enumerateSystemAdapters(adapters);
    if (!o.interface.empty()) {
        for (const auto& a : adapters)
            if (a.ifName() == o.interface) {
                out = a;
                return true;
            }
        std::fprintf(stderr, "%s: no adapter %s with an address\n", command, o.interface.c_str());
        return false;
    }
    if (o.adapter < 0 || static_cast<std::size_t>(o.adapter) >= adapters.size()) {
        std::fprintf(stderr, "%s: no adapter %d (there are %zu with an address)\n", command,
                     o.adapter, adapters.size());
        return false;
    }
    out = adapters[static_cast<std::size_t>(o.adapter)];
    return true;
}

struct Counter : DiscoveryEvents {
    std::atomic<int> acknowledgements{0};
    void acknowledgementSent(const std::uint8_t*, int result) override {
        if (result == 0) ++acknowledgements;
    }
};

nlohmann::json recordJson(const CameraEntry& e) {
    return {{"no", fieldUtf8(e.szNo)},           {"mac", fieldUtf8(e.szMac)},
            {"ip", fieldUtf8(e.szIp)},           {"mask", fieldUtf8(e.szMask)},
            {"gateway", fieldUtf8(e.szGateway)}, {"protoVer", e.wProtoVer},
            {"port", fieldUtf8(e.szPort)},       {"ssl", fieldUtf8(e.szSsl)},
            {"title", fieldUtf8(e.szTitle)},     {"model", fieldUtf8(e.szModel)},
            {"firmVer", fieldUtf8(e.szFirmVer)}, {"factory", e.bFactory},
            {"netOption", e.bNetOption},         {"result", e.dwResult}};
}

// What one diagnostic run on one adapter needs: trace log, store, link and send schedules.
struct Rig {
    TraceLog log;
    const Clock& clock = defaultClock();
    std::unique_ptr<CameraStore> store = std::make_unique<CameraStore>();
    UdpBroadcastTransport transport{log};
    DatagramLink link;
    SendScheduler scheduler{link, *store, log, clock};

    Rig(const RigOptions& o, const AdapterEntry& adapter)
        : link(*store, transport, log, clock, WireCodec(o.codePage)) {
        if (!o.trace.empty()) log.create(o.trace);
        link.setAdapter(adapter);
    }
};

int runDiscover(const RigOptions& o) {
    AdapterEntry adapter;
    if (!chooseAdapter(o, adapter, "discover")) return kExitFailure;
    Rig rig(o, adapter);
    CameraStore* store = rig.store.get();
    Counter counter;
    rig.link.setEvents(&counter);

    // One adapter pass: receive thread, three requests, stop flag after the third period.
    store->resetForSearch();
    store->m_bySendCount = 0;
    store->clearFoundMacs();
    rig.link.startRecvThread();
    rig.scheduler.start(SendSchedule::Search);
    while (store->m_bStop.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(15));
    rig.scheduler.stop();
    rig.link.waitRecvIdle(rig.clock.scaled(Millis(kRecvTimeoutMs + 1000)));
    rig.link.stopRecvThread();

    nlohmann::json out;
    out["adapter"] = {{"interface", adapter.ifName()}, {"ip", adapter.ip()}};
    out["cameras"] = nlohmann::json::array();
    for (int i = 0; i < store->m_nFindWrite; ++i)
        out["cameras"].push_back(recordJson(store->m_CamTable[static_cast<std::size_t>(i)]));
    out["acknowledgements"] = counter.acknowledgements.load();
    printJsonDocument(out);
    return kExitOk;
}

struct SetOptions {
    RigOptions rig;
    std::string mac;
    std::string ip;
    std::string mask;     // empty: the adapter's
    std::string gateway;  // empty: the adapter's
    int proto = 2;
    std::string port = "80";
    std::string ssl = "0";
    std::string title;
    std::string user = "vorly";  // the cameras' default credentials
    std::string password = "vorly";
    bool userGiven = false;
    PasswordInput passwordInput;
    int netOption = 0;
    std::string schedule = "manual";
    bool yes = false;
    const char* argv0 = "";
    SetOptions() = default;
    SetOptions(const SetOptions&) = delete;
    SetOptions& operator=(const SetOptions&) = delete;
    ~SetOptions() { wipe(password); }
};

// The password the datagram carries: --password or --password-file as given; for a --user
// also LANROVE_PASSWORD or the question; the factory account's otherwise.
int obtainDiscoverSetPassword(SetOptions& o) {
    PasswordInput& in = o.passwordInput;
    if (!o.userGiven && !in.value && in.file.empty()) return kExitOk;
    return obtainPassword("discover-set", o.user, in, o.password);
}

// The question before anything is sent, with the note that the account travels unencrypted.
bool confirmDiscoverSet(const SetOptions& o, const std::string& mac, const AdapterEntry& adapter) {
    LangTable texts;
    texts.loadAdded(langIdFromLocale(), ProgramPaths::resolve(o.argv0).languageIni());
    std::fprintf(stderr, "discover-set: %s -> %s on %s, %s schedule\n", mac.c_str(), o.ip.c_str(),
                 std::string(adapter.ifName()).c_str(), o.schedule.c_str());
    std::fprintf(stderr, "%s\n", texts.text("CUSTOM_SETTING_WINDOW", "ACCOUNT_IN_CLEAR").c_str());
    return confirmChange("discover-set", "Send the IP setting to this camera?");
}

int runDiscoverSet(SetOptions& o) {
    // Nothing is sent for a question that cannot be asked.
    if (!mayAsk("discover-set", o.yes)) return kExitUsage;
    if (const int rc = obtainDiscoverSetPassword(o); rc != kExitOk) return rc;
    const SendSchedule schedule = o.schedule == "auto" ? SendSchedule::Auto : SendSchedule::Manual;
    AdapterEntry adapter;
    if (!chooseAdapter(o.rig, adapter, "discover-set")) return kExitFailure;
    // Replies carry the MAC in upper case with colons: the record's text must compare equal.
    dgram::MacBytes macBytes{};
    dgram::parseMacText(std::string_view(o.mac), macBytes);
    const std::string mac = dgram::macTextUpper(macBytes.data());
    if (!o.yes && !confirmDiscoverSet(o, mac, adapter)) return kExitUsage;
    Rig rig(o.rig, adapter);
    CameraStore* store = rig.store.get();

    CameraEntry& record = store->m_SetTable[0];
    const PasswordWipe wipeRecord{record};
    record.clear();
    setField(record.szNo, std::string_view("1"));
    setField(record.szMac, std::string_view(mac));
    setField(record.szIp, std::string_view(o.ip));
    setField(record.szMask, o.mask.empty() ? adapter.mask() : std::string_view(o.mask));
    setField(record.szGateway, o.gateway.empty() ? adapter.gateway() : std::string_view(o.gateway));
    setField(record.szPort, std::string_view(o.port));
    setField(record.szSsl, std::string_view(o.ssl));
    setField(record.szTitle, std::string_view(o.title));
    setField(record.szUser, std::string_view(o.user));
    setField(record.szPassword, std::string_view(o.password));
    record.wProtoVer = static_cast<std::uint16_t>(o.proto);
    record.bNetOption = static_cast<std::uint8_t>(o.netOption);

    store->resetReplies();
    // Deaf, the run would move the camera without hearing where it went: nothing is sent.
    if (const int recv = rig.link.startRecvThread(); recv != 0) {
        const std::string why = recv == ETIMEDOUT ? "it did not get ready" : std::strerror(recv);
        rig.log.event("Setting receive port open error = " + std::to_string(recv), "err",
                      "Manual Set");
        std::fprintf(stderr,
                     "discover-set: cannot open port %u for the cameras' replies (%s; another "
                     "program may hold it): nothing was sent\n",
                     static_cast<unsigned>(dgram::kPcPort), why.c_str());
        return kExitFailure;
    }
    rig.scheduler.start(schedule);
    nlohmann::json replies = nlohmann::json::array();
    bool accepted = false;
    bool matched = false;
    while (!matched && store->m_bStop.load() == 0) {
        SetReplyEntry reply;
        while (store->takeReply(reply)) {
            replies.push_back({{"mac", fieldUtf8(reply.szMac)}, {"result", reply.wResult}});
            if (fieldView(reply.szMac) == fieldView(record.szMac)) {
                matched = true;
                accepted = reply.wResult == kResultAccepted;
            }
        }
        if (!matched) std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    rig.scheduler.stop();
    store->m_bStop = 1;
    rig.link.stopRecvThread();
    SetReplyEntry late;
    while (store->takeReply(late)) {
        replies.push_back({{"mac", fieldUtf8(late.szMac)}, {"result", late.wResult}});
        // A reply that came with the schedule's last tick still tells what the camera did.
        if (!matched && fieldView(late.szMac) == fieldView(record.szMac)) {
            matched = true;
            accepted = late.wResult == kResultAccepted;
        }
    }

    nlohmann::json out;
    out["adapter"] = {{"interface", adapter.ifName()}, {"ip", adapter.ip()}};
    out["sends"] = static_cast<int>(
        store->m_bySendCount.load() > kSendRounds ? kSendRounds : store->m_bySendCount.load());
    out["replies"] = replies;
    out["accepted"] = accepted;
    printJsonDocument(out);
    return accepted ? kExitOk : kExitFailure;
}

// A place in the adapter list: decimal digits, 0 for the first.
CLI::Validator adapterNumber() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const bool digits = !value.empty() && value.size() <= 4 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            return digits ? std::string() : value + " is not an adapter number (0 for the first)";
        },
        "", "adapter-number");
}

void addRigOptions(CLI::App& app, RigOptions& o) {
    auto* adapter =
        app.add_option("--adapter", o.adapter, "the adapter at this place in the adapter list")
            ->capture_default_str()
            ->type_name("N")
            ->check(adapterNumber());
    addInterface(app, o.interface)->type_name("IF")->excludes(adapter);
    app.add_option("--codepage", o.codePage, "code page of the texts in the datagrams")
        ->capture_default_str()
        ->type_name("CP");
    app.add_option("--trace", o.trace, "write the trace log into this folder")->type_name("DIR");
}

Runner defineDiscover(CLI::App& app, const char* /*argv0*/) {
    auto o = std::make_shared<RigOptions>();
    addRigOptions(app, *o);
    return [o] { return runDiscover(*o); };
}

Runner defineDiscoverSet(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<SetOptions>();
    app.add_option("--mac", o->mac, "the camera to set")
        ->required()
        ->type_name("MAC")
        ->check(macAddress());
    app.add_option("--ip", o->ip, "its new address")
        ->required()
        ->type_name("ADDRESS")
        ->check(ipv4Address());
    app.add_option("--mask", o->mask, "its subnet mask (default: the adapter's)")
        ->type_name("MASK")
        ->check(subnetMask());
    app.add_option("--gateway", o->gateway, "its default gateway (default: the adapter's)")
        ->type_name("ADDRESS")
        ->check(ipv4Address());
    app.add_option("--proto", o->proto, "the camera's protocol version")
        ->capture_default_str()
        ->type_name("1|2")
        ->check(CLI::IsMember({1, 2}).description(""));
    app.add_option("--port", o->port, "its HTTP port")
        ->capture_default_str()
        ->type_name("PORT")
        ->check(portNumber());
    app.add_option("--ssl", o->ssl, "HTTPS off or on")
        ->capture_default_str()
        ->type_name("0|1")
        ->check(CLI::IsMember({"0", "1"}).description(""));
    app.add_option("--title", o->title, "its camera title")->type_name("TEXT");
    app.add_option_function<std::string>(
           "--user",
           [o](const std::string& v) {
               o->user = v;
               o->userGiven = true;
           },
           "login name (default: the factory account)")
        ->type_name("USER");
    addPasswordInput(app, o->passwordInput);
    app.add_option("--option", o->netOption, "the network option byte of the request")
        ->capture_default_str()
        ->type_name("0-255")
        ->check(CLI::Range(0, 255).description(""));
    app.add_option("--schedule", o->schedule,
                   "send schedule: manual (one camera) or auto (automatic setting)")
        ->capture_default_str()
        ->type_name("manual|auto")
        ->check(CLI::IsMember({"manual", "auto"}).description(""));
    addRigOptions(app, o->rig);
    addYes(app, o->yes);
    o->argv0 = argv0;
    return [o] { return runDiscoverSet(*o); };
}

const CommandRegistration regDiscover{
    {"discover", "diagnostic: one search pass on one adapter, the raw records as JSON",
     "1  no such adapter", &defineDiscover}};
const CommandRegistration regDiscoverSet{
    {"discover-set", "diagnostic: one IP-setting run for one camera, the replies as JSON",
     "1  the camera did not accept the setting, or no such adapter\n"
     "2  no terminal to confirm on without --yes, or the confirmation answered No",
     &defineDiscoverSet}};

}  // namespace
}  // namespace lanrove::cli
