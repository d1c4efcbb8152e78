#pragma once
// Option checks and shared options of lanrove-cli's commands: every malformed value is refused
// while the command line is parsed, before anything is sent.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "discovery/camera_entry.h"

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

// Overwrites a password's characters before it is dropped, so that it does not linger in the
// process's memory after the run.
void wipe(std::string& secret);
void wipePassword(CameraEntry& entry);
// Wipes an entry's password when the scope ends, whichever way the run ends.
struct PasswordWipe {
    CameraEntry& entry;
    explicit PasswordWipe(CameraEntry& e) : entry(e) {}
    PasswordWipe(const PasswordWipe&) = delete;
    PasswordWipe& operator=(const PasswordWipe&) = delete;
    ~PasswordWipe() { wipePassword(entry); }
};

// Where the password of an account named on the command line comes from. --password stays for
// old scripts (anyone on the PC can read it in the process list).
struct PasswordInput {
    std::optional<std::string> value;  // --password
    std::string file;                  // --password-file ("-": standard input)
    PasswordInput() = default;
    PasswordInput(const PasswordInput&) = delete;
    PasswordInput& operator=(const PasswordInput&) = delete;
    ~PasswordInput();
};
// The environment variable that may hold the password of the --user account.
inline constexpr const char* kPasswordVariable = "LANROVE_PASSWORD";
// Adds --password and --password-file (either, not both); returns them in that order.
std::pair<CLI::Option*, CLI::Option*> addPasswordInput(CLI::App& app, PasswordInput& input);
// The password of `user`: --password, else the first line of --password-file, else
// LANROVE_PASSWORD, else asked without echo on the terminal. kExitOk with `password` filled;
// otherwise the exit code after telling why (no terminal to ask on, an unreadable file: usage
// error; Ctrl-C at the question: 130).
int obtainPassword(const char* command, const std::string& user, PasswordInput& input,
                   std::string& password);

// How one camera is reached over HTTP, as `info` and `image` take it.
struct CameraAccess {
    std::string ip;
    std::string port = "80";
    bool bSsl = false;
    std::string user;
    std::string password;
    bool bUserGiven = false;
    PasswordInput passwordInput;
    CameraAccess() = default;
    CameraAccess(const CameraAccess&) = delete;
    CameraAccess& operator=(const CameraAccess&) = delete;
    ~CameraAccess() { wipe(password); }
};
// --ip (required), --port, --ssl, --user and its password (--password, --password-file, the
// environment or the question); `account` names the account used when --user is not given.
void addCameraAccess(CLI::App& app, CameraAccess& access, const char* account);
// After parsing: the password of a --user account (see obtainPassword); kExitOk or the exit
// code after telling why.
int obtainAccessPassword(const char* command, CameraAccess& access);

// Tells a usage error found after parsing ("lanrove-cli COMMAND: message") on standard error,
// as one line like the parser's own; returns kExitUsage.
int usageError(const char* command, const std::string& message);

}  // namespace lanrove::cli
