// lanrove-cli image: fetches a camera's live picture (what the desktop program's image window
// shows) and saves it as a JPEG file without the camera's information block, so that an
// installer can check from a script that a camera sees what it should.
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cgi/cgi.h"
#include "cgi/live_image.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "support/clock.h"
#include "support/text.h"
#include "support/trace_log.h"

namespace lanrove::cli {

namespace {

constexpr int kMaxCount = 1000;

struct ImageOptions : CameraAccess {
    ImageOptions() { user = password = "pelma"; }  // the viewer account
    std::string out;
    int count = 1;
    bool bCountGiven = false;
    bool bJson = false;
};

// FILE.jpg -> FILE-3.jpg (the number goes before the extension, if there is one).
std::string numberedName(const std::string& out, int n) {
    const std::size_t slash = out.find_last_of('/');
    const std::size_t dot = out.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
    if (!hasExtension) return out + "-" + std::to_string(n);
    return out.substr(0, dot) + "-" + std::to_string(n) + out.substr(dot);
}

bool writeFile(const std::string& path, const char* data, std::size_t length) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(data, static_cast<std::streamsize>(length));
    file.close();
    return static_cast<bool>(file);
}

struct Shot {
    std::string file;
    int width = 0;
    int height = 0;
    int wide = 0;
    std::size_t bytes = 0;
    std::size_t trailerBytes = 0;
};

int run(const ImageOptions& o) {
    TraceLog log;  // off: the command prints what it finds
    const WireCodec codec("CP1252");
    CCGI cgi(defaultClock(), log, codec);

    CameraEntry entry{};
    entry.clear();
    setField(entry.szNo, std::string_view("1"));
    setField(entry.szIp, std::string_view(o.ip));
    setField(entry.szPort, std::string_view(o.port));
    setField(entry.szSsl, std::string_view(o.bSsl ? "1" : "0"));
    setField(entry.szUser, std::string_view(o.user));
    setField(entry.szPassword, std::string_view(o.password));
    const PasswordWipe wipeAtEnd{entry};
    if (cgi.BaseUrl(entry) == "ERROR")
        return usageError("image", "the address does not go with --ssl");

    // The login check that the image button makes, with the same account.
    CgiSessionSlot slot;
    if (cgi.ConnectInitSess(entry, slot, true) != kCgiOk) {
        std::fprintf(stderr, "lanrove-cli image: the camera at %s did not answer the login\n",
                     o.ip.c_str());
        return kExitFailure;
    }
    slot.reset();

    std::vector<Shot> shots;
    std::string failure;
    const auto pause = std::chrono::milliseconds(500);
    for (int n = 1; n <= o.count; ++n) {
        if (n > 1) defaultClock().sleepFor(pause);
        LiveImage image;
        const int result = GetLiveImage(cgi, slot, entry, image);
        slot.reset();
        if (result != kCgiOk) {
            failure = "the camera sent no picture";
            break;
        }
        const std::string_view jpeg(image.bytes.data(), image.imageLength);
        Shot shot;
        if (!JpegFrameSize(jpeg, shot.width, shot.height)) {
            failure = "the camera's reply is no JPEG picture";
            break;
        }
        shot.file = o.bCountGiven ? numberedName(o.out, n) : o.out;
        shot.wide = image.nWide;
        shot.bytes = image.imageLength;
        shot.trailerBytes = image.bytes.size() - image.imageLength;
        if (!writeFile(shot.file, jpeg.data(), jpeg.size())) {
            std::fprintf(stderr, "lanrove-cli image: cannot write %s\n", shot.file.c_str());
            return kExitFailure;
        }
        shots.push_back(shot);
    }

    if (o.bJson) {
        nlohmann::json out;
        out["camera"] = o.ip;
        out["pictures"] = nlohmann::json::array();
        for (const Shot& s : shots)
            out["pictures"].push_back({{"file", s.file},
                                       {"width", s.width},
                                       {"height", s.height},
                                       {"wide", s.wide != 0},
                                       {"bytes", s.bytes},
                                       {"trailerBytes", s.trailerBytes}});
        out["ok"] = failure.empty();
        if (!failure.empty()) out["error"] = failure;
        printJsonDocument(out);
    } else {
        for (const Shot& s : shots)
            std::printf("%s: %d x %d, 16:9 %s, %zu bytes\n", s.file.c_str(), s.width, s.height,
                        s.wide != 0 ? "yes" : "no", s.bytes);
    }
    if (!failure.empty()) {
        std::fprintf(stderr, "lanrove-cli image: %s\n", failure.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

Runner define(CLI::App& app, const char* /*argv0*/) {
    auto o = std::make_shared<ImageOptions>();
    addCameraAccess(app, *o, "the viewer account");
    app.add_option("--out", o->out,
                   "the JPEG file to write; with --count, numbered before the extension "
                   "(FILE-1.jpg, FILE-2.jpg, ...)")
        ->required()
        ->type_name("FILE");
    auto* count = app.add_option("--count", o->count,
                                 "how many pictures to take, half a second apart (1 to 1000)")
                      ->type_name("N")
                      ->check(CLI::Range(1, kMaxCount).description(""));
    addJson(app, o->bJson);
    return [o, count] {
        o->bCountGiven = count->count() > 0;
        if (const int rc = obtainAccessPassword("image", *o); rc != kExitOk) return rc;
        return run(*o);
    };
}

const CommandRegistration reg{
    {"image",
     "save a camera's live picture as a JPEG file (without the camera's information block)",
     "1  the camera did not answer the login or sent no picture, or the file could not be "
     "written",
     &define}};

}  // namespace

}  // namespace lanrove::cli
