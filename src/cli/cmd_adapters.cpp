// lanrove-cli adapters: the PC's adapters as the program sees them, and the start-up network
// check (address present, ICMP not blocked). Adapters that are up with an address but have no
// carrier are shown too, marked as such: the search skips them, and a user looking for a
// missing camera should see why.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "discovery/datagram_codec.h"
#include "discovery/host_network.h"
#include "discovery/ipv4_address.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove::cli {
namespace {

// An adapter the search skips for want of a carrier, with its first address.
struct CarrierlessAdapter {
    std::string name;
    std::string mac;
    std::string ip;
    std::string mask;
};

std::vector<CarrierlessAdapter> carrierlessAdapters() {
    std::vector<AdapterEntry> usable;
    std::vector<std::string> names;
    enumerateSystemAdapters(usable, &names);
    std::vector<CarrierlessAdapter> result;
    const std::vector<InterfaceInfo> interfaces = readInterfaces();
    for (const std::string& name : names) {
        CarrierlessAdapter a{name, "", "", ""};
        for (const InterfaceInfo& i : interfaces) {
            if (i.name != name) continue;
            a.mac = dgram::macTextUpper(i.mac);
            if (!i.addresses.empty()) {
                a.ip = ipv4::toText(i.addresses.front().address);
                a.mask = ipv4::toText(i.addresses.front().mask);
            }
            break;
        }
        result.push_back(std::move(a));
    }
    return result;
}

int run(bool json, bool check) {
    TraceLog log;
    SystemHostNetwork net(defaultClock(), log);
    std::vector<AdapterEntry> adapters;
    NetworkCheckResult result;
    if (check) {
        result = runStartupNetworkCheck(net, adapters);
    } else {
        result.adapterCount = net.enumerateAdapters(adapters);
        result.outcome = NetworkCheckOutcome::Pass;
    }
    const std::vector<CarrierlessAdapter> carrierless = carrierlessAdapters();

    if (json) {
        nlohmann::json out;
        out["adapters"] = nlohmann::json::array();
        for (std::size_t i = 0; i < adapters.size(); ++i) {
            const AdapterEntry& a = adapters[i];
            out["adapters"].push_back({{"index", i},
                                       {"interface", a.ifName()},
                                       {"mac", dgram::macTextUpper(a.mac)},
                                       {"ip", a.ip()},
                                       {"mask", a.mask()},
                                       {"gateway", a.gateway()},
                                       {"carrier", true}});
        }
        // Not searched, so without an index that other commands could be given.
        for (const CarrierlessAdapter& a : carrierless)
            out["adapters"].push_back({{"index", nullptr},
                                       {"interface", a.name},
                                       {"mac", a.mac},
                                       {"ip", a.ip},
                                       {"mask", a.mask},
                                       {"gateway", nullptr},
                                       {"carrier", false}});
        if (check)
            out["check"] = {{"outcome", outcomeName(result.outcome)},
                            {"adapters", result.adapterCount},
                            {"target", result.target},
                            {"echo", result.echoResult}};
        printJsonDocument(out);
    } else {
        std::printf("%-3s %-12s %-17s %-15s %-15s %-15s %s\n", "#", "interface", "mac", "ip",
                    "mask", "gateway", "state");
        for (std::size_t i = 0; i < adapters.size(); ++i) {
            const AdapterEntry& a = adapters[i];
            std::printf("%-3zu %-12s %-17s %-15s %-15s %-15s %s\n", i,
                        std::string(a.ifName()).c_str(), dgram::macTextUpper(a.mac).c_str(), a.szIp,
                        a.szMask, a.szGateway, "up");
        }
        for (const CarrierlessAdapter& a : carrierless)
            std::printf("%-3s %-12s %-17s %-15s %-15s %-15s %s\n", "-", a.name.c_str(),
                        a.mac.c_str(), a.ip.c_str(), a.mask.c_str(), "-",
                        "no carrier (not searched)");
        if (check) {
            if (result.target.empty())
                std::printf("network check: %s (no adapter with an address)\n",
                            outcomeName(result.outcome));
            else
                std::printf("network check: %s (echo %s: %u)\n", outcomeName(result.outcome),
                            result.target.c_str(), result.echoResult);
        }
    }
    return result.outcome == NetworkCheckOutcome::Pass ? kExitOk : kExitFailure;
}

Runner define(CLI::App& app, const char* /*argv0*/) {
    auto json = std::make_shared<bool>(false);
    auto noCheck = std::make_shared<bool>(false);
    addJson(app, *json);
    app.add_flag("--no-check", *noCheck,
                 "only list the adapters; skip the start-up network check (ICMP echo)");
    return [json, noCheck] { return run(*json, !*noCheck); };
}

const CommandRegistration reg{
    {"adapters", "list the PC's adapters and run the start-up network check",
     "1  the network check failed (no adapter with an address, or ICMP blocked)", &define}};

}  // namespace
}  // namespace lanrove::cli
