// lanrove-cli info: what one camera reports over HTTP (login check, codec status, camera
// status), for an installer who wants to see a camera's answers without the desktop program.
#include <cstdio>
#include <cstring>
#include <string>

#include "cgi/cgi.h"
#include "cli/commands.h"
#include "support/clock.h"
#include "support/text.h"
#include "support/trace_log.h"

namespace lanrove::cli {

namespace {

struct InfoOptions {
    std::string ip;
    std::string port = "80";
    bool bSsl = false;
    std::string user = "vorly";  // the cameras' default credentials
    std::string password = "vorly";
    int proto = 0;  // 0: ask for both protocol versions' fields
    std::string codePage = "CP1252";
};

void usage() {
    std::fprintf(stderr,
                 "usage: lanrove-cli info --ip ADDRESS [--port PORT] [--ssl] [--user USER "
                 "--password PASSWORD] [--proto 1|2] [--codepage CP]\n");
}

bool parse(const std::vector<std::string>& args, InfoOptions& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string proto;
        if (a == "--ip") {
            if (!value(o.ip)) return false;
        } else if (a == "--port") {
            if (!value(o.port)) return false;
        } else if (a == "--ssl") {
            o.bSsl = true;
        } else if (a == "--user") {
            if (!value(o.user)) return false;
        } else if (a == "--password") {
            if (!value(o.password)) return false;
        } else if (a == "--proto") {
            if (!value(proto) || (proto != "1" && proto != "2")) return false;
            o.proto = proto[0] - '0';
        } else if (a == "--codepage") {
            if (!value(o.codePage)) return false;
        } else {
            std::fprintf(stderr, "lanrove-cli info: unknown option '%s'\n", a.c_str());
            return false;
        }
    }
    return !o.ip.empty();
}

const char* verdict(long code) {
    return code == 0 ? "ok" : "failed";
}

void printField(const char* name, std::u16string_view value) {
    std::printf("  %s: %s\n", name, toUtf8(value).c_str());
}

int run(Context& ctx) {
    InfoOptions o;
    if (!parse(ctx.args, o)) {
        usage();
        return kExitUsage;
    }
    TraceLog log;  // off: the command prints what it finds
    const WireCodec codec(o.codePage);
    CCGI cgi(defaultClock(), log, codec);

    CameraEntry entry{};
    entry.clear();
    setField(entry.szNo, std::string_view("1"));
    setField(entry.szIp, std::string_view(o.ip));
    setField(entry.szPort, std::string_view(o.port));
    setField(entry.szSsl, std::string_view(o.bSsl ? "1" : "0"));
    setField(entry.szUser, std::string_view(o.user));
    setField(entry.szPassword, std::string_view(o.password));

    std::printf("camera: %s\n",
                toUtf8(CCGI::MakeBaseUrl(fieldView(entry.szIp), fieldView(entry.szPort),
                                         fieldView(entry.szSsl)))
                    .c_str());
    bool ok = true;

    CgiSessionSlot slot;
    const int login = cgi.ConnectInitSess(entry, slot, true);
    std::printf("login check: %s (%d)\n", verdict(login), login);
    ok = ok && login == 0;

    slot.reset();
    const int codecResult = cgi.GetCodecStreamCgi(kCgiTimeoutMs, slot, entry);
    std::printf("codec status: %s (%d)\n", verdict(codecResult), codecResult);
    if (codecResult == 0) {
        std::printf("  rtsp_rtp: %d\n", entry.nRtspRtp);
        std::printf("  aspect_ratio: %u\n", static_cast<unsigned>(entry.wAspectRatio));
    }
    ok = ok && codecResult == 0;

    for (int version = 1; version <= 2; ++version) {
        if (o.proto != 0 && o.proto != version) continue;
        entry.wProtoVer = static_cast<std::uint16_t>(version);
        const int result = cgi.ReqGetCamSetCgi(slot, entry);
        std::printf("camera status (protocol version %d): %s (%d)\n", version, verdict(result),
                    result);
        ok = ok && result == 0;
        if (result != 0) continue;
        if (version == 1) {
            printField("title", fieldView(entry.szTitle));
        } else {
            printField("CAM MAIN Ver", fieldView(entry.szCamMainVer));
            printField("CAM SUB Ver", fieldView(entry.szCamSubVer));
            printField("NET MAIN Ver", fieldView(entry.szNetMainVer));
            printField("NET SUB Ver", fieldView(entry.szNetSubVer));
            printField("MEC MAIN Ver", fieldView(entry.szMecMainVer));
            printField("I/O MAIN Ver", fieldView(entry.szIoMainVer));
            std::printf("  rec_status: %u\n", static_cast<unsigned>(entry.wRecStatus));
        }
    }
    return ok ? kExitOk : kExitFailure;
}

CommandRegistration reg{{"info",
                         "info --ip A [--port P] [--ssl] [--user U --password W] [--proto 1|2]  "
                         "what one camera reports over HTTP",
                         &run}};

}  // namespace

}  // namespace lanrove::cli
