// lanrove-cli ping: one ICMP echo per target (all targets at once, one thread each); prints
// the echo result value: 0 answered, 11010 no answer in time, 255 ICMP not available.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "discovery/host_network.h"
#include "support/clock.h"
#include "support/text.h"

namespace lanrove::cli {
namespace {

int run(Context& ctx) {
    long timeoutMs = 3000;
    std::vector<std::string> targets;
    for (std::size_t i = 0; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        if (a == "--timeout" && i + 1 < ctx.args.size()) {
            char* end = nullptr;
            timeoutMs = std::strtol(ctx.args[++i].c_str(), &end, 10);
            if (*end != 0 || timeoutMs < 0) {
                std::fprintf(stderr, "ping: bad time-out %s\n", ctx.args[i].c_str());
                return kExitUsage;
            }
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "ping: unknown option %s\n", a.c_str());
            return kExitUsage;
        } else {
            targets.push_back(a);
        }
    }
    if (targets.empty()) {
        std::fprintf(stderr, "usage: lanrove-cli ping TARGET... [--timeout MS]\n");
        return kExitUsage;
    }
    std::vector<std::uint32_t> results(targets.size(), 0);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < targets.size(); ++i)
        threads.emplace_back(
            [&, i] { results[i] = icmpEcho(fromUtf8(targets[i]), timeoutMs, defaultClock()); });
    for (auto& t : threads) t.join();
    bool allAnswered = true;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets.size() == 1)
            std::printf("%u\n", results[i]);
        else
            std::printf("%s %u\n", targets[i].c_str(), results[i]);
        allAnswered = allAnswered && results[i] == kEchoSuccess;
    }
    return allAnswered ? kExitOk : kExitFailure;
}

CommandRegistration reg{
    {"ping", "ping TARGET... [--timeout MS]  ICMP echo; prints the result value per target", &run}};

}  // namespace
}  // namespace lanrove::cli
