#include "cli/options.h"

#include <arpa/inet.h>

#include <cstdio>

#include "cli/commands.h"
#include "discovery/datagram_codec.h"

namespace lanrove::cli {

namespace {

bool parseDottedQuad(const std::string& text, std::uint32_t& hostOrder) {
    in_addr addr{};
    // inet_pton takes exactly four decimal numbers 0..255 (no octal, hex or short forms).
    if (::inet_pton(AF_INET, text.c_str(), &addr) != 1) return false;
    hostOrder = ntohl(addr.s_addr);
    return true;
}

}  // namespace

CLI::Validator ipv4Address() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            std::uint32_t ignored = 0;
            if (parseDottedQuad(value, ignored)) return {};
            return value + " is not an IPv4 address";
        },
        "", "ipv4-address");
}

CLI::Validator hostOrAddress() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            std::uint32_t ignored = 0;
            if (parseDottedQuad(value, ignored)) return {};
            const std::string bad = value + " is not an IPv4 address or host name";
            if (value.empty() || value.size() > 253 || value.front() == '-' || value.front() == '.')
                return bad;
            bool letter = false;
            for (const char c : value) {
                const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
                if (!alpha && !(c >= '0' && c <= '9') && c != '-' && c != '.') return bad;
                letter = letter || alpha || c == '-';
            }
            // Digits and dots alone that are no address are a mistyped address.
            return letter ? std::string() : value + " is not an IPv4 address";
        },
        "", "host-or-address");
}

CLI::Validator subnetMask() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            std::uint32_t mask = 0;
            if (!parseDottedQuad(value, mask)) return value + " is not a subnet mask";
            const std::uint32_t inverted = ~mask;
            // Contiguous one bits: the inverted mask plus one is a power of two.
            if ((inverted & (inverted + 1)) != 0) return value + " is not a subnet mask";
            return {};
        },
        "", "subnet-mask");
}

CLI::Validator portNumber() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const std::string bad = value + " is not a port number (1 to 65535)";
            if (value.empty() || value.size() > 5) return bad;
            unsigned long n = 0;
            for (const char c : value) {
                if (c < '0' || c > '9') return bad;
                n = n * 10 + static_cast<unsigned long>(c - '0');
            }
            return n >= 1 && n <= 65535 ? std::string() : bad;
        },
        "", "port-number");
}

CLI::Validator macAddress() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            dgram::MacBytes bytes{};
            if (dgram::parseMacText(std::string_view(value), bytes)) return {};
            return value + " is not a MAC address such as 00:1B:7C:00:01:02";
        },
        "", "mac-address");
}

CLI::Option* addJson(CLI::App& app, bool& json) {
    return app.add_flag("--json", json, "print the result as JSON on standard output");
}

CLI::Option* addInterface(CLI::App& app, std::string& ifName) {
    return app.add_option("--interface", ifName, "use only this network interface (e.g. eth0)");
}

CLI::Option* addHome(CLI::App& app, std::string& home) {
    return app.add_option("--home", home,
                          "program folder for settings, logs and firmware (default: beside the "
                          "program, or LANROVE_HOME)");
}

CLI::Option* addYes(CLI::App& app, bool& yes) {
    return app.add_flag("--yes", yes,
                        "answer the confirmation with yes (needed without a terminal)");
}

void addCameraAccess(CLI::App& app, CameraAccess& access, const char* account) {
    app.add_option("--ip", access.ip, "the camera's address")
        ->required()
        ->type_name("ADDRESS")
        ->check(ipv4Address());
    app.add_option("--port", access.port, "the camera's HTTP port")
        ->capture_default_str()
        ->type_name("PORT")
        ->check(portNumber());
    app.add_flag("--ssl", access.bSsl, "the camera speaks HTTPS");
    auto* user =
        app.add_option("--user", access.user, std::string("login name (default: ") + account + ")")
            ->type_name("USER");
    auto* password =
        app.add_option("--password", access.password, "login password")->type_name("PASSWORD");
    user->needs(password);
    password->needs(user);
}

int usageError(const char* command, const std::string& message) {
    std::fprintf(stderr, "lanrove-cli %s: %s\n", command, message.c_str());
    return kExitUsage;
}

}  // namespace lanrove::cli
