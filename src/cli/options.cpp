#include "cli/options.h"

#include <arpa/inet.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "cli/commands.h"
#include "cli/core_session.h"
#include "discovery/datagram_codec.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

bool parseDottedQuad(const std::string& text, std::uint32_t& hostOrder) {
    in_addr addr{};
    // inet_pton takes exactly four decimal numbers 0..255 (no octal, hex or short forms).
    if (::inet_pton(AF_INET, text.c_str(), &addr) != 1) return false;
    hostOrder = ntohl(addr.s_addr);
    return true;
}

constexpr std::size_t kMaxPasswordBytes = 1024;

volatile std::sig_atomic_t g_questionInterrupted = 0;

extern "C" void onQuestionInterrupt(int) {
    g_questionInterrupted = 1;
}

// The first line of `in`, at most kMaxPasswordBytes, without its line end.
bool firstLine(std::istream& in, std::string& line) {
    line.clear();
    for (char c = 0; in.get(c) && c != '\n';) {
        if (line.size() >= kMaxPasswordBytes) return false;
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

enum class Answer { Given, Ended, Interrupted };

// Asks for the password on the terminal of standard input with echo off. Ctrl-C ends the
// question with the terminal restored (the run's own Ctrl-C handling starts later).
Answer askWithoutEcho(const std::string& prompt, std::string& password) {
    std::fprintf(stderr, "%s", prompt.c_str());
    std::fflush(stderr);
    termios saved{};
    const bool haveTerminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (haveTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        // TCSANOW keeps what was typed ahead.
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    struct sigaction onInterrupt {};
    struct sigaction savedInt {};
    struct sigaction savedTerm {};
    onInterrupt.sa_handler = onQuestionInterrupt;
    sigemptyset(&onInterrupt.sa_mask);
    onInterrupt.sa_flags = 0;  // no SA_RESTART: read() returns at Ctrl-C
    g_questionInterrupted = 0;
    ::sigaction(SIGINT, &onInterrupt, &savedInt);
    ::sigaction(SIGTERM, &onInterrupt, &savedTerm);

    password.clear();
    Answer answer = Answer::Ended;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && g_questionInterrupted == 0) continue;
        if (n < 0 && errno == EINTR) {
            answer = Answer::Interrupted;
            break;
        }
        if (n <= 0) break;
        if (c == '\n') {
            answer = Answer::Given;
            break;
        }
        if (password.size() < kMaxPasswordBytes) password.push_back(c);
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (haveTerminal) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    ::sigaction(SIGINT, &savedInt, nullptr);
    ::sigaction(SIGTERM, &savedTerm, nullptr);
    if (answer != Answer::Given) {
        std::fprintf(stderr, "\n");
        wipe(password);
    }
    return answer;
}

}  // namespace

void wipe(std::string& secret) {
    if (!secret.empty()) ::explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

void wipePassword(CameraEntry& entry) {
    ::explicit_bzero(entry.szPassword, sizeof entry.szPassword);
}

PasswordInput::~PasswordInput() {
    if (value) wipe(*value);
}

std::pair<CLI::Option*, CLI::Option*> addPasswordInput(CLI::App& app, PasswordInput& input) {
    auto* password =
        app.add_option_function<std::string>(
               "--password", [&input](const std::string& v) { input.value = v; },
               "login password; other users of the PC can read it in the process list, so "
               "prefer --password-file or LANROVE_PASSWORD")
            ->type_name("PASSWORD");
    auto* file = app.add_option("--password-file", input.file,
                                "read the password from the file's first line (- : standard "
                                "input); without it LANROVE_PASSWORD, else asked on the terminal")
                     ->type_name("FILE");
    password->excludes(file);
    return {password, file};
}

int obtainPassword(const char* command, const std::string& user, PasswordInput& input,
                   std::string& password) {
    wipe(password);
    if (input.value) {
        password.swap(*input.value);
        input.value.reset();
        return kExitOk;
    }
    const bool fromStdin = input.file == "-";
    if (!input.file.empty() && !(fromStdin && canConfirm())) {
        std::ifstream file;
        if (!fromStdin) file.open(input.file, std::ios::binary);
        std::istream& in = fromStdin ? std::cin : static_cast<std::istream&>(file);
        const std::string name = fromStdin ? std::string("standard input") : input.file;
        if (!fromStdin && !file)
            return usageError(command, "--password-file: cannot read " + name + ": " +
                                           std::strerror(errno));
        if (!firstLine(in, password)) {
            wipe(password);
            return usageError(command, "--password-file: the first line of " + name +
                                           " is longer than any password");
        }
        if (password.empty())
            return usageError(command, "--password-file: " + name + " holds no password");
        return kExitOk;
    }
    if (input.file.empty())
        if (const char* fromEnvironment = std::getenv(kPasswordVariable);
            fromEnvironment != nullptr && *fromEnvironment != '\0') {
            password = fromEnvironment;
            return kExitOk;
        }
    if (!canConfirm())
        return usageError(command, "--user " + user +
                                       " needs its password: give --password-file FILE, set " +
                                       kPasswordVariable + ", or run on a terminal to be asked");
    switch (askWithoutEcho("Password for " + user + ": ", password)) {
        case Answer::Given:
            return kExitOk;
        case Answer::Interrupted:
            return kExitInterrupted;
        case Answer::Ended:
            break;
    }
    return usageError(command, "no password was given for --user " + user);
}

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
    auto* user = app.add_option_function<std::string>(
                        "--user",
                        [&access](const std::string& v) {
                            access.user = v;
                            access.bUserGiven = true;
                        },
                        std::string("login name (default: ") + account + ")")
                     ->type_name("USER");
    const auto [password, file] = addPasswordInput(app, access.passwordInput);
    password->needs(user);
    file->needs(user);
}

int obtainAccessPassword(const char* command, CameraAccess& access) {
    if (!access.bUserGiven) return kExitOk;
    return obtainPassword(command, access.user, access.passwordInput, access.password);
}

int usageError(const char* command, const std::string& message) {
    std::fprintf(stderr, "lanrove-cli %s: %s\n", command, message.c_str());
    return kExitUsage;
}

}  // namespace lanrove::cli
