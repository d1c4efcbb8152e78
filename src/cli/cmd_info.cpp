// lanrove-cli info: what one camera reports over HTTP (login check, codec status, camera
// status), for an installer who wants to see a camera's answers without the desktop program.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cgi/camera_trust.h"
#include "cgi/cgi.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "support/clock.h"
#include "support/program_paths.h"
#include "support/text.h"
#include "support/trace_log.h"

namespace lanrove::cli {

namespace {

struct InfoOptions : CameraAccess {
    InfoOptions() { user = password = "vorly"; }  // the cameras' default credentials
    int proto = 0;                                // 0: ask for both protocol versions' fields
    std::string codePage = "CP1252";
    bool json = false;
    std::string mac;   // with it, the camera's certificate is checked against its pin
    std::string home;  // the program folder that holds the pins
    std::string argv0;
};

const char* verdict(long code) {
    return code == 0 ? "ok" : "failed";
}

nlohmann::ordered_json step(int code) {
    return {{"result", verdict(code)}, {"code", code}};
}

void printStep(const char* name, const nlohmann::ordered_json& s) {
    std::printf("%s: %s (%d)\n", name, s["result"].get<std::string>().c_str(),
                s["code"].get<int>());
}

void printFields(const nlohmann::ordered_json& fields) {
    for (const auto& [name, value] : fields.items())
        std::printf("  %s: %s\n", neutralisedUtf8(name).c_str(),
                    value.is_string() ? neutralisedUtf8(value.get<std::string>()).c_str()
                                      : value.dump().c_str());
}

int run(const InfoOptions& o) {
    TraceLog log;  // off: the command prints what it finds
    const WireCodec codec(o.codePage);
    CCGI cgi(defaultClock(), log, codec);
    std::unique_ptr<CameraTrust> trust;
    if (!o.mac.empty()) {
        trust = std::make_unique<CameraTrust>(
            CameraTrust::fileIn(ProgramPaths::resolve(o.argv0.c_str(), o.home).folder));
        trust->setRefusalSink([](const std::string& /*mac*/, const std::string& message) {
            std::fprintf(stderr, "lanrove-cli: %s\n", message.c_str());
        });
        cgi.SetTrust(trust.get());
    }

    CameraEntry entry{};
    entry.clear();
    setField(entry.szNo, std::string_view("1"));
    setField(entry.szIp, std::string_view(o.ip));
    setField(entry.szPort, std::string_view(o.port));
    setField(entry.szSsl, std::string_view(o.bSsl ? "1" : "0"));
    setField(entry.szUser, std::string_view(o.user));
    setField(entry.szPassword, std::string_view(o.password));
    setField(entry.szMac, std::string_view(o.mac));
    const PasswordWipe wipeAtEnd{entry};

    // Fields keep the order the camera's answers give them (ordered_json).
    nlohmann::ordered_json out;
    out["camera"] = toUtf8(
        CCGI::MakeBaseUrl(fieldView(entry.szIp), fieldView(entry.szPort), fieldView(entry.szSsl)));
    if (!o.json) std::printf("camera: %s\n", out["camera"].get<std::string>().c_str());
    bool ok = true;

    CgiSessionSlot slot;
    const int login = cgi.ConnectInitSess(entry, slot, true);
    out["login"] = step(login);
    if (!o.json) printStep("login check", out["login"]);
    ok = ok && login == 0;

    slot.reset();
    const int codecResult = cgi.GetCodecStreamCgi(kCgiTimeoutMs, slot, entry);
    nlohmann::ordered_json codecStatus = step(codecResult);
    if (codecResult == 0) {
        codecStatus["fields"] = {{"rtsp_rtp", entry.nRtspRtp},
                                 {"aspect_ratio", static_cast<unsigned>(entry.wAspectRatio)}};
    }
    if (!o.json) {
        printStep("codec status", codecStatus);
        if (codecResult == 0) printFields(codecStatus["fields"]);
    }
    out["codec"] = codecStatus;
    ok = ok && codecResult == 0;

    out["status"] = nlohmann::ordered_json::array();
    for (int version = 1; version <= 2; ++version) {
        if (o.proto != 0 && o.proto != version) continue;
        entry.wProtoVer = static_cast<std::uint16_t>(version);
        const int result = cgi.ReqGetCamSetCgi(slot, entry);
        nlohmann::ordered_json status = step(result);
        status["protocol"] = version;
        ok = ok && result == 0;
        if (result == 0) {
            nlohmann::ordered_json fields;
            if (version == 1) {
                fields["title"] = toUtf8(fieldView(entry.szTitle));
            } else {
                fields["CAM MAIN Ver"] = toUtf8(fieldView(entry.szCamMainVer));
                fields["CAM SUB Ver"] = toUtf8(fieldView(entry.szCamSubVer));
                fields["NET MAIN Ver"] = toUtf8(fieldView(entry.szNetMainVer));
                fields["NET SUB Ver"] = toUtf8(fieldView(entry.szNetSubVer));
                fields["MEC MAIN Ver"] = toUtf8(fieldView(entry.szMecMainVer));
                fields["I/O MAIN Ver"] = toUtf8(fieldView(entry.szIoMainVer));
                fields["rec_status"] = static_cast<unsigned>(entry.wRecStatus);
            }
            status["fields"] = fields;
        }
        if (!o.json) {
            const std::string name =
                "camera status (protocol version " + std::to_string(version) + ")";
            printStep(name.c_str(), status);
            if (result == 0) printFields(status["fields"]);
        }
        out["status"].push_back(status);
    }
    out["ok"] = ok;
    if (trust && !trust->lastError().empty())
        std::fprintf(stderr, "lanrove-cli info: the certificate pin was not stored: %s\n",
                     trust->lastError().c_str());
    if (o.json) printJsonDocument(out);
    return ok ? kExitOk : kExitFailure;
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<InfoOptions>();
    o->argv0 = argv0 != nullptr ? argv0 : "lanrove-cli";
    addCameraAccess(app, *o, "the factory account");
    app.add_option("--proto", o->proto,
                   "ask only for the status fields of this protocol version (default: both)")
        ->type_name("1|2")
        ->check(CLI::IsMember({1, 2}));
    app.add_option("--codepage", o->codePage, "code page of the camera's texts")
        ->capture_default_str()
        ->type_name("CP");
    app.add_option("--mac", o->mac,
                   "the camera's MAC: its HTTPS certificate must match the one pinned for it")
        ->type_name("MAC")
        ->check([](const std::string& v) {
            return CameraTrust::normalMac(v).empty() ? std::string("not a MAC address") : "";
        });
    addHome(app, o->home);
    addJson(app, o->json);
    return [o] {
        if (const int rc = obtainAccessPassword("info", *o); rc != kExitOk) return rc;
        return run(*o);
    };
}

const CommandRegistration reg{
    {"info", "what one camera reports over HTTP: login check, codec status, camera status",
     "1  a request failed (the camera did not answer, refused the login or gave no status)",
     &define}};

}  // namespace

}  // namespace lanrove::cli
