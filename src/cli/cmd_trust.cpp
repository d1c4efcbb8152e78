// lanrove-cli trust: accepts a camera's new HTTPS certificate. The program pins each camera's
// certificate on the first contact and refuses a camera whose certificate changed; after a
// reset or a renewed certificate the installer accepts the new one here (the one the camera
// offered last, or, when none was offered yet, the next one it shows).
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cgi/camera_trust.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "support/program_paths.h"

namespace lanrove::cli {

namespace {

struct TrustOptions {
    std::string mac;
    std::string home;
    std::string argv0;
    bool json = false;
};

int run(const TrustOptions& o) {
    const std::string mac = CameraTrust::normalMac(o.mac);
    const ProgramPaths paths = ProgramPaths::resolve(o.argv0.c_str(), o.home);
    CameraTrust trust(CameraTrust::fileIn(paths.folder));
    const std::optional<CameraPin> before = trust.pin(mac);
    if (!trust.accept(mac)) {
        std::fprintf(stderr, "lanrove-cli trust: %s\n", trust.lastError().c_str());
        return kExitFailure;
    }
    const std::optional<CameraPin> after = trust.pin(mac);
    const std::string pinned = after ? after->fingerprint : std::string();
    const bool next = after && after->bExpectNew;
    if (o.json) {
        nlohmann::ordered_json out;
        out["mac"] = mac;
        out["previous"] = before ? before->fingerprint : std::string();
        out["pinned"] = next ? std::string() : pinned;
        out["acceptsNext"] = next;
        printJsonDocument(out);
    } else if (next) {
        std::printf("%s: the next certificate the camera shows will be pinned\n", mac.c_str());
    } else {
        std::printf("%s: pinned SHA-256 %s\n", mac.c_str(), pinned.c_str());
    }
    return kExitOk;
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<TrustOptions>();
    o->argv0 = argv0 != nullptr ? argv0 : "lanrove-cli";
    app.add_option("--mac", o->mac, "the camera whose new certificate is accepted")
        ->required()
        ->type_name("MAC")
        ->check([](const std::string& v) {
            return CameraTrust::normalMac(v).empty() ? std::string("not a MAC address") : "";
        });
    addHome(app, o->home);
    addJson(app, o->json);
    return [o] { return run(*o); };
}

const CommandRegistration reg{
    {"trust",
     "accept a camera's new HTTPS certificate (after a reset, or when the camera renewed it)",
     "1  the certificate pins could not be written", &define}};

}  // namespace

}  // namespace lanrove::cli
