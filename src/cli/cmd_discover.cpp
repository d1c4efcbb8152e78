// Diagnostics of the discovery datagrams:
//   lanrove-cli discover      one receive + search-request pass on one adapter; prints the raw
//                             camera records that arrived, as JSON
//   lanrove-cli discover-set  one IP-setting run (manual or automatic schedule) for one camera;
//                             prints the replies that arrived, as JSON
// Both run on the real schedules (LANROVE_TIME_SCALE shortens them).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "discovery/camera_store.h"
#include "discovery/datagram_link.h"
#include "discovery/host_network.h"
#include "discovery/send_schedule.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove::cli {
namespace {

struct Options {
    std::map<std::string, std::string> values;
    std::vector<std::string> flags;
    bool has(const std::string& k) const { return values.count(k) != 0; }
    std::string get(const std::string& k, const std::string& d = "") const {
        const auto it = values.find(k);
        return it == values.end() ? d : it->second;
    }
};

bool parseOptions(const std::vector<std::string>& args, const std::vector<std::string>& withValue,
                  const std::vector<std::string>& flags, Options& out, const char* command) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool known = false;
        for (const auto& f : flags)
            if (a == f) {
                out.flags.push_back(a);
                known = true;
            }
        for (const auto& v : withValue)
            if (a == v) {
                if (i + 1 >= args.size()) {
                    std::fprintf(stderr, "%s: %s needs a value\n", command, a.c_str());
                    return false;
                }
                out.values[a] = args[++i];
                known = true;
            }
        if (!known) {
            std::fprintf(stderr, "%s: unknown option %s\n", command, a.c_str());
            return false;
        }
    }
    return true;
}

// The adapter named by --interface, or the one at --adapter (default 0).
bool chooseAdapter(const Options& o, AdapterEntry& out, const char* command) {
    std::vector<AdapterEntry> adapters;
    enumerateSystemAdapters(adapters);
    if (o.has("--interface")) {
        for (const auto& a : adapters)
            if (a.ifName() == o.get("--interface")) {
                out = a;
                return true;
            }
        std::fprintf(stderr, "%s: no adapter %s with an address\n", command,
                     o.get("--interface").c_str());
        return false;
    }
    const long index = std::strtol(o.get("--adapter", "0").c_str(), nullptr, 10);
    if (index < 0 || index >= static_cast<long>(adapters.size())) {
        std::fprintf(stderr, "%s: no adapter %ld (there are %zu with an address)\n", command, index,
                     adapters.size());
        return false;
    }
    out = adapters[static_cast<std::size_t>(index)];
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

    Rig(const Options& o, const AdapterEntry& adapter)
        : link(*store, transport, log, clock, WireCodec(o.get("--codepage", "CP1252"))) {
        if (o.has("--trace")) log.create(o.get("--trace"));
        link.setAdapter(adapter);
    }
};

int runDiscover(Context& ctx) {
    Options o;
    if (!parseOptions(ctx.args, {"--adapter", "--interface", "--codepage", "--trace"}, {}, o,
                      "discover"))
        return kExitUsage;
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
    std::printf("%s\n", out.dump(2).c_str());
    return kExitOk;
}

int runDiscoverSet(Context& ctx) {
    Options o;
    if (!parseOptions(ctx.args,
                      {"--adapter", "--interface", "--codepage", "--trace", "--mac", "--ip",
                       "--mask", "--gateway", "--proto", "--port", "--ssl", "--title", "--user",
                       "--password", "--option", "--schedule"},
                      {}, o, "discover-set"))
        return kExitUsage;
    if (!o.has("--mac") || !o.has("--ip")) {
        std::fprintf(stderr, "discover-set: --mac and --ip are required\n");
        return kExitUsage;
    }
    const std::string scheduleText = o.get("--schedule", "manual");
    if (scheduleText != "manual" && scheduleText != "auto") {
        std::fprintf(stderr, "discover-set: --schedule is manual or auto\n");
        return kExitUsage;
    }
    const SendSchedule schedule =
        scheduleText == "auto" ? SendSchedule::Auto : SendSchedule::Manual;
    AdapterEntry adapter;
    if (!chooseAdapter(o, adapter, "discover-set")) return kExitFailure;
    Rig rig(o, adapter);
    CameraStore* store = rig.store.get();

    CameraEntry& record = store->m_SetTable[0];
    record.clear();
    setField(record.szNo, std::string_view("1"));
    setField(record.szMac, std::string_view(o.get("--mac")));
    setField(record.szIp, std::string_view(o.get("--ip")));
    setField(record.szMask, std::string_view(o.get("--mask", std::string(adapter.mask()))));
    setField(record.szGateway,
             std::string_view(o.get("--gateway", std::string(adapter.gateway()))));
    setField(record.szPort, std::string_view(o.get("--port", "80")));
    setField(record.szSsl, std::string_view(o.get("--ssl", "0")));
    setField(record.szTitle, std::string_view(o.get("--title", "")));
    setField(record.szUser, std::string_view(o.get("--user", "vorly")));
    setField(record.szPassword, std::string_view(o.get("--password", "vorly")));
    record.wProtoVer =
        static_cast<std::uint16_t>(std::strtol(o.get("--proto", "2").c_str(), nullptr, 10));
    record.bNetOption =
        static_cast<std::uint8_t>(std::strtol(o.get("--option", "0").c_str(), nullptr, 10));

    store->resetReplies();
    rig.link.startRecvThread();
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
    while (store->takeReply(late))
        replies.push_back({{"mac", fieldUtf8(late.szMac)}, {"result", late.wResult}});

    nlohmann::json out;
    out["adapter"] = {{"interface", adapter.ifName()}, {"ip", adapter.ip()}};
    out["sends"] = static_cast<int>(
        store->m_bySendCount.load() > kSendRounds ? kSendRounds : store->m_bySendCount.load());
    out["replies"] = replies;
    out["accepted"] = accepted;
    std::printf("%s\n", out.dump(2).c_str());
    return accepted ? kExitOk : kExitFailure;
}

CommandRegistration regDiscover{{"discover",
                                 "discover [--adapter N|--interface IF] [--codepage CP] [--trace "
                                 "DIR]  diagnostic: one search pass, raw records as JSON",
                                 &runDiscover}};
CommandRegistration regDiscoverSet{
    {"discover-set",
     "discover-set --mac MAC --ip IP [--mask M --gateway G --proto 1|2 --port P --ssl 0|1 --title "
     "T --user U --password P --schedule manual|auto]  diagnostic: one IP-setting run, replies as "
     "JSON",
     &runDiscoverSet}};

}  // namespace
}  // namespace lanrove::cli
