// lanrove-cli ping: one ICMP echo per target (all targets at once, one thread each); prints
// the echo result value: 0 answered, 11010 no answer in time, 255 ICMP not available.
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "discovery/host_network.h"
#include "support/clock.h"
#include "support/text.h"

namespace lanrove::cli {
namespace {

int run(const std::vector<std::string>& targets, long timeoutMs) {
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

// A dotted-quad address, or a host name that the echo resolves (an unknown name gives 11018):
// text of digits and dots alone must be a valid address, so 10.0.0.256 is refused.
CLI::Validator addressOrHostName() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (!value.empty() && value.find_first_not_of("0123456789.") == std::string::npos)
                return ipv4Address()(value);
            const bool name = !value.empty() && value.size() <= 253 && value.front() != '-' &&
                              value.find_first_not_of(
                                  "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  "0123456789-._") == std::string::npos;
            return name ? std::string() : value + " is not an IPv4 address or host name";
        },
        "", "address-or-host-name");
}

Runner define(CLI::App& app, const char* /*argv0*/) {
    auto targets = std::make_shared<std::vector<std::string>>();
    auto timeoutMs = std::make_shared<long>(3000);
    app.add_option("TARGET", *targets, "addresses or host names to send one echo each, all at once")
        ->required()
        ->check(addressOrHostName());
    app.add_option("--timeout", *timeoutMs, "how long to wait for each answer")
        ->capture_default_str()
        ->type_name("MS")
        ->check(CLI::Range(0L, 600000L));
    return [targets, timeoutMs] { return run(*targets, *timeoutMs); };
}

const CommandRegistration reg{{"ping",
                               "ICMP echo; prints the result value per target (0 answered, "
                               "11010 no answer in time, 255 ICMP not available)",
                               "1  a target did not answer", &define}};

}  // namespace
}  // namespace lanrove::cli
