// lanrove-camsim: simulated cameras for the tests and the demo. Run it inside the cameras'
// network namespace of the lab (lab/lab.sh does that); it answers the discovery datagrams
// for every camera of the fleet file, WS-Discovery probes and the ONVIF device service for its
// ONVIF devices, and keeps the cameras' addresses on its interface.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "address_keeper.h"
#include "datagram_side.h"
#include "fleet.h"
#include "fleet_file.h"
#include "sim_log.h"
#include "support/clock.h"
#include "support/trace_log.h"
#include "web_side.h"
#include "wsd_side.h"

using namespace lanrove;
using namespace lanrove::camsim;

namespace {

void usage(std::FILE* out) {
    std::fprintf(
        out,
        "usage: lanrove-camsim --fleet FILE [options]\n"
        "  --fleet FILE          cameras to simulate (JSON fleet file)\n"
        "  --interface IF        the cameras' interface: datagrams and addresses live there\n"
        "  --no-addresses        do not add the cameras' addresses to the interface\n"
        "  --leave-addresses     leave the added addresses on exit (the namespace goes anyway)\n"
        "  --no-web              do not serve the cameras' CGI programs\n"
        "  --log FILE            log every datagram event (\"-\" for standard error)\n"
        "  --ready-file FILE     write this file once the cameras answer\n"
        "  --reply-spread MS     spread search replies over up to MS ms (scaled)\n"
        "  --codepage CP         code page of texts on the wire (default CP1252)\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string fleetPath, logPath, readyPath;
    DatagramSideOptions options;
    bool manageAddresses = true;
    bool leaveAddresses = false;
    bool serveWeb = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "lanrove-camsim: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--fleet") {
            fleetPath = value();
        } else if (a == "--interface") {
            options.interface = value();
        } else if (a == "--no-addresses") {
            manageAddresses = false;
        } else if (a == "--leave-addresses") {
            leaveAddresses = true;
        } else if (a == "--no-web") {
            serveWeb = false;
        } else if (a == "--log") {
            logPath = value();
        } else if (a == "--ready-file") {
            readyPath = value();
        } else if (a == "--reply-spread") {
            const std::string text = value();
            long ms = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size() || ms < 0) {
                std::fprintf(stderr, "lanrove-camsim: --reply-spread takes milliseconds\n");
                return 2;
            }
            options.replySpreadMs = ms;
        } else if (a == "--codepage") {
            options.codePage = value();
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "lanrove-camsim: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (fleetPath.empty()) {
        usage(stderr);
        return 2;
    }

    Fleet fleet;
    std::string error;
    if (!loadFleetFile(fleetPath, fleet, error)) {
        std::fprintf(stderr, "lanrove-camsim: %s\n", error.c_str());
        return 1;
    }
    SimLog log;
    if (!logPath.empty() && !log.open(logPath)) {
        std::fprintf(stderr, "lanrove-camsim: cannot write %s\n", logPath.c_str());
        return 1;
    }

    // Signals are taken by sigwait below; every thread started from here on blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    AddressKeeper addresses(options.interface);
    const bool keepAddresses = manageAddresses && !options.interface.empty();
    if (keepAddresses) {
        if (!addresses.open(error)) {
            std::fprintf(stderr, "lanrove-camsim: %s\n", error.c_str());
            return 1;
        }
        if (!addresses.sync(fleet))
            std::fprintf(stderr, "lanrove-camsim: %s\n", addresses.lastError().c_str());
    }

    // Everyone who serves a camera's address follows its changes through this list.
    std::vector<std::function<void(std::size_t)>> networkListeners;
    fleet.onNetworkChanged = [&](std::size_t index) {
        if (keepAddresses && !addresses.sync(fleet))
            log.line("address change failed: " + addresses.lastError());
        for (auto& listener : networkListeners) listener(index);
    };

    DatagramSide datagrams(fleet, log, defaultClock(), options);
    if (!datagrams.start(error)) {
        std::fprintf(stderr, "lanrove-camsim: %s\n", error.c_str());
        addresses.removeAll();
        return 1;
    }

    // WS-Discovery, where the fleet has devices that answer it.
    bool bWsd = false;
    {
        std::lock_guard lock(fleet.mutex);
        for (const SimCamera& c : fleet.cameras) bWsd = bWsd || c.onvif.enabled || c.wsdPrinter;
    }
    WsdSide wsd(fleet, log, options.interface);
    if (bWsd && !wsd.start(error)) {
        std::fprintf(stderr, "lanrove-camsim: WS-Discovery: %s\n", error.c_str());
        datagrams.stop();
        addresses.removeAll();
        return 1;
    }

    // The cameras' CGI programs on their addresses and ports; they follow address changes.
    TraceLog webLog;
    WebSide web(fleet, webLog, defaultClock(), options.codePage, false);
    if (serveWeb) {
        web.start();
        networkListeners.emplace_back([&web](std::size_t i) { web.follow(i); });
    }

    std::size_t count = 0;
    {
        std::lock_guard lock(fleet.mutex);
        count = fleet.cameras.size();
    }
    log.line("ready cameras=" + std::to_string(count));
    {
        std::lock_guard lock(fleet.mutex);
        if (!fleet.hosts.empty()) log.line("live hosts=" + std::to_string(fleet.hosts.size()));
    }
    if (!readyPath.empty()) std::ofstream(readyPath) << "ready " << count << "\n";
    std::printf("lanrove-camsim: %zu cameras ready\n", count);
    std::fflush(stdout);

    int signal = 0;
    sigwait(&signals, &signal);
    log.line(std::string("stopping on signal ") + std::to_string(signal));

    if (serveWeb) web.stop();

    wsd.stop();
    datagrams.stop();
    if (keepAddresses && !leaveAddresses) addresses.removeAll();
    return 0;
}
