#pragma once
// Option checks and shared options of lanrove-cli's commands: every malformed value is refused
// while the command line is parsed, before anything is sent.

#include <CLI/CLI.hpp>
#include <string>

namespace lanrove::cli {

// A dotted-quad IPv4 address (four decimal numbers 0 to 255): "999.1.1.1" is refused.
CLI::Validator ipv4Address();
// A subnet mask in dotted-quad form whose one bits are contiguous.
CLI::Validator subnetMask();
// An IPv4 address, or a host name the system resolves ("lab-gateway"); text made of digits
// and dots only must be a valid address, so "999.1.1.1" is refused.
CLI::Validator hostOrAddress();
// A TCP port number 1 to 65535, decimal digits only.
CLI::Validator portNumber();
// A MAC address, six hexadecimal pairs separated by ':' (either case).
CLI::Validator macAddress();

// The options many commands share.
CLI::Option* addJson(CLI::App& app, bool& json);
CLI::Option* addInterface(CLI::App& app, std::string& ifName);
CLI::Option* addHome(CLI::App& app, std::string& home);
CLI::Option* addYes(CLI::App& app, bool& yes);

// How one camera is reached over HTTP, as `info` and `image` take it.
struct CameraAccess {
    std::string ip;
    std::string port = "80";
    bool bSsl = false;
    std::string user;
    std::string password;
};
// --ip (required), --port, --ssl and --user/--password (given together); `account` names the
// account used when --user is not given.
void addCameraAccess(CLI::App& app, CameraAccess& access, const char* account);

// Tells a usage error found after parsing ("lanrove-cli COMMAND: message") on standard error,
// as one line like the parser's own; returns kExitUsage.
int usageError(const char* command, const std::string& message);

}  // namespace lanrove::cli
