#include "web_cgi.h"

#include <openssl/evp.h>

#include <charconv>
#include <cstdlib>
#include <optional>

#include "support/base64.h"
#include "web_image.h"

namespace lanrove::camsim {

namespace {

constexpr const char* kOkPage = "<html><body>OK</body></html>\r\n";

const std::string* param(const CgiCall& call, const std::string& key) {
    const auto it = call.params.find(key);
    return it == call.params.end() ? nullptr : &it->second;
}

std::optional<int> number(const std::string* text, int low, int high) {
    if (text == nullptr || text->empty()) return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || end != text->data() + text->size() || value < low || value > high)
        return std::nullopt;
    return value;
}

CgiAnswer page(int status, std::string body) {
    CgiAnswer a;
    a.status = status;
    a.body = std::move(body);
    return a;
}

CgiAnswer plain(std::string body) {
    CgiAnswer a;
    a.contentType = "text/plain";
    a.body = std::move(body);
    return a;
}

CgiAnswer unauthorized() {
    return page(401, "<html><body>401 Unauthorized</body></html>\r\n");
}
CgiAnswer badRequest() {
    return page(400, "<html><body>400 Bad Request</body></html>\r\n");
}

std::string line(std::string_view key, std::string_view value) {
    std::string s(key);
    s += ":(";
    s += value;
    s += ")\r\n";
    return s;
}

std::string argOr(const SimCamera& camera, const std::string& key, const std::string& fallback) {
    const auto it = camera.faultArgs.find(key);
    return it == camera.faultArgs.end() || it->second.empty() ? fallback : it->second;
}

CgiAnswer camSetStatus(const SimCamera& camera, const WireCodec& codec) {
    std::string body;
    if (camera.protoVer == 1) {
        body += line("title", toWireText(codec, camera.title));
        body += line("model", toWireText(codec, camera.model));
    } else {
        for (const auto& [key, value] : camera.versions)
            body += line(key, toWireText(codec, value));
        body += line("title", toWireText(codec, camera.title));
        body += line("rec_status_new", std::to_string(camera.recStatus));
        body += line("rec_status", std::to_string(camera.recStatus));
    }
    return plain(std::move(body));
}

CgiAnswer netCgi(SimCamera& camera, const CgiCall& call, const WireCodec& codec) {
    if (camera.has("netrefuse")) {
        // Takes nothing of the request: title, port and SSL stay as they are.
        const long status = std::strtol(argOr(camera, "netrefuse", "403").c_str(), nullptr, 10);
        CgiAnswer a = page(status >= 400 && status <= 599 ? static_cast<int>(status) : 403,
                           "<html><body>refused</body></html>\r\n");
        a.event = "net-refused";
        return a;
    }
    const std::string* title = param(call, "title");
    const std::string* ssl = param(call, "img_encryption");
    const std::string* portText = param(call, "port");
    if (ssl != nullptr && *ssl != "0" && *ssl != "1") return badRequest();
    std::optional<int> port;
    if (portText != nullptr && !(port = number(portText, 1, 65535))) return badRequest();
    CgiAnswer a = page(200, kOkPage);
    if (title != nullptr) camera.title = fromWireText(codec, *title);
    if (ssl != nullptr && (*ssl == "1") != camera.ssl) {
        camera.ssl = *ssl == "1";
        a.bNetworkChanged = true;
    }
    if (port && *port != camera.port) {
        camera.port = *port;
        a.bNetworkChanged = true;
    }
    a.event = "net";
    return a;
}

CgiAnswer opecmd(SimCamera& camera, const CgiCall& call) {
    const std::string* ope = param(call, "ope");
    if (ope != nullptr && *ope == "35") {
        CgiAnswer a = page(200, kOkPage);
        a.event = "reboot";
        return a;
    }
    if (ope != nullptr && *ope == "36") {
        CgiAnswer a = page(200, kOkPage);
        a.event = "factory-default";
        a.bNetworkChanged = camera.ip != "192.168.0.2" || camera.port != 80 || camera.ssl;
        camera.ip = "192.168.0.2";
        camera.mask = "255.255.255.0";
        camera.gateway = "0.0.0.0";
        camera.port = 80;
        camera.ssl = false;
        camera.title.clear();
        camera.factory = true;
        // The configuration account goes back to the one a new camera has, which the
        // IP-setting datagrams of a NEW camera carry.
        camera.admin = SimAccount{"vorly", "vorly"};
        return a;
    }
    return badRequest();
}

CgiAnswer recordCgi(SimCamera& camera, const CgiCall& call, const WireCodec& codec) {
    bool bWrite = false;
    for (const auto& [key, value] : call.params) {
        if (key == "status") continue;
        camera.record[key] = fromWireText(codec, value);
        bWrite = true;
    }
    if (bWrite) {
        CgiAnswer a = page(200, kOkPage);
        a.event = "record-write";
        return a;
    }
    std::string body;
    for (const auto& [key, value] : camera.record) body += line(key, toWireText(codec, value));
    return plain(std::move(body));
}

constexpr std::string_view kDigestRealm = "camera";

std::string md5Hex(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

// The name=value and name="quoted value" pairs of a Digest credentials header.
std::map<std::string, std::string> digestParams(std::string_view text) {
    std::map<std::string, std::string> params;
    std::size_t i = 0;
    auto skip = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
    };
    for (skip(); i < text.size(); skip()) {
        const std::size_t eq = text.find('=', i);
        if (eq == std::string_view::npos) break;
        std::string name(text.substr(i, eq - i));
        while (!name.empty() && name.back() == ' ') name.pop_back();
        i = eq + 1;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                value += text[i];
            }
            ++i;  // closing quote
        } else {
            while (i < text.size() && text[i] != ',') value += text[i++];
            while (!value.empty() && value.back() == ' ') value.pop_back();
        }
        params[name] = value;
    }
    return params;
}

}  // namespace

std::string digestChallenge(std::string_view nonce) {
    return "Digest realm=\"" + std::string(kDigestRealm) + "\", qop=\"auth\", nonce=\"" +
           std::string(nonce) + "\", algorithm=MD5";
}

WebRole authenticateDigest(const SimCamera& camera, std::string_view authorization,
                           std::string_view method, std::string_view uri, std::string_view nonce,
                           const WireCodec& codec, std::string& user) {
    user.clear();
    constexpr std::string_view kDigest = "Digest ";
    if (authorization.substr(0, kDigest.size()) != kDigest) return WebRole::kNone;
    auto p = digestParams(authorization.substr(kDigest.size()));
    const std::string& name = p["username"];
    user = fromWireText(codec, name);
    const auto algorithm = p.find("algorithm");
    if (p["realm"] != kDigestRealm || p["nonce"] != nonce || p["uri"] != uri ||
        (algorithm != p.end() && algorithm->second != "MD5"))
        return WebRole::kNone;
    const std::string& qop = p["qop"];
    if (!qop.empty() && qop != "auth") return WebRole::kNone;
    const std::string ha2 = md5Hex(std::string(method) + ":" + std::string(uri));
    auto is = [&](const SimAccount& a) {
        if (a.user != user) return false;
        const std::string ha1 =
            md5Hex(name + ":" + std::string(kDigestRealm) + ":" + toWireText(codec, a.password));
        const std::string expected = qop.empty()
                                         ? md5Hex(ha1 + ":" + std::string(nonce) + ":" + ha2)
                                         : md5Hex(ha1 + ":" + std::string(nonce) + ":" + p["nc"] +
                                                  ":" + p["cnonce"] + ":" + qop + ":" + ha2);
        return !expected.empty() && asciiEqualsNoCase(expected, p["response"]);
    };
    if (is(camera.admin)) return WebRole::kAdmin;
    if (is(serviceAccount(camera))) return WebRole::kService;
    if (is(viewerAccount(camera))) return WebRole::kViewer;
    return WebRole::kNone;
}

std::string toWireText(const WireCodec& codec, std::string_view utf8) {
    return codec.toWire(fromUtf8(utf8));
}

std::string fromWireText(const WireCodec& codec, std::string_view bytes) {
    return toUtf8(codec.fromWire(bytes));
}

SimAccount viewerAccount(const SimCamera& camera) {
    return camera.viewer.user.empty() ? SimAccount{"pelma", "pelma"} : camera.viewer;
}

SimAccount serviceAccount(const SimCamera& camera) {
    return camera.service.user.empty() ? SimAccount{"kelvo", "730162"} : camera.service;
}

WebRole authenticate(const SimCamera& camera, std::string_view authorization,
                     const WireCodec& codec, std::string& user) {
    user.clear();
    constexpr std::string_view kBasic = "Basic ";
    if (authorization.substr(0, kBasic.size()) != kBasic) return WebRole::kNone;
    std::string pair;
    if (!base64Decode(authorization.substr(kBasic.size()), pair)) return WebRole::kNone;
    const std::size_t colon = pair.find(':');
    if (colon == std::string::npos) return WebRole::kNone;
    user = fromWireText(codec, pair.substr(0, colon));
    const std::string password = fromWireText(codec, pair.substr(colon + 1));
    auto is = [&](const SimAccount& a) { return a.user == user && a.password == password; };
    if (is(camera.admin)) return WebRole::kAdmin;
    if (is(serviceAccount(camera))) return WebRole::kService;
    if (is(viewerAccount(camera))) return WebRole::kViewer;
    return WebRole::kNone;
}

CgiAnswer runCgi(SimCamera& camera, const CgiCall& call, WebRole role, const WireCodec& codec) {
    if (role == WebRole::kNone) return unauthorized();
    const bool bConfig = role == WebRole::kAdmin || role == WebRole::kService;
    const std::string& program = call.program;

    if (program == "cgi-bin/lang.cgi") return page(200, "<html><body>lang=0</body></html>\r\n");
    if (program == "liveimg.cgi") {
        CgiAnswer a;
        a.contentType = camera.has("imagetype") ? "text/plain" : "image/jpeg";
        a.body =
            liveImageReply(++camera.imageCount, !camera.has("notrailer"), camera.aspectRatio == 1);
        return a;
    }
    if (program == "cgi-bin/codec_stream.cgi") {
        if (const std::string* ratio = param(call, "aspect_ratio")) {
            if (!bConfig) return unauthorized();
            const std::optional<int> value = number(ratio, 0, 65535);
            if (!value) return badRequest();
            camera.aspectRatio = *value;
            CgiAnswer a = page(200, kOkPage);
            a.event = "aspect-ratio";
            return a;
        }
        if (param(call, "status") == nullptr) return badRequest();
        return plain(line("rtsp_rtp", std::to_string(camera.rtspRtp)) +
                     line("aspect_ratio", std::to_string(camera.aspectRatio)));
    }
    if (program == "cgi-bin/cam_set.cgi") {
        if (param(call, "status") == nullptr) return badRequest();
        return camSetStatus(camera, codec);
    }
    // Everything else changes the camera: configuration and service accounts only.
    if (!bConfig) return unauthorized();
    if (program == "cgi-bin/net.cgi") return netCgi(camera, call, codec);
    if (program == "cgi-bin/opecmd.cgi") return opecmd(camera, call);
    if (program == "cgi-bin/sd_hdd.cgi") {
        const std::string* sd = param(call, "sd_card_sw");
        const std::string* hdd = param(call, "hdd_sw");
        if (sd != nullptr && hdd != nullptr && *sd == "0" && *hdd == "0") camera.recStatus = 0;
        CgiAnswer a = page(200, kOkPage);
        a.event = "sd-hdd";
        return a;
    }
    if (program == "cgi-bin/record.cgi") return recordCgi(camera, call, codec);
    if (program == "cgi-bin/discon3.cgi") {
        const std::string wait = argOr(camera, "discon3", "30000");
        return page(200,
                    "<html><head><script type=\"text/javascript\">\r\n"
                    "setTimeout(\"location.href='/'\", " +
                        wait + ");\r\n</script></head><body>Restarting</body></html>\r\n");
    }
    if (program == "cgi-bin/firmup.cgi") {
        const std::string wait = argOr(camera, "firmup", "10");
        return page(200, "<html><head>\r\n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"" + wait +
                             "; URL=/\">\r\n</head><body>Update finished</body></html>\r\n");
    }
    return page(404, "<html><body>404 Not Found</body></html>\r\n");
}

}  // namespace lanrove::camsim
