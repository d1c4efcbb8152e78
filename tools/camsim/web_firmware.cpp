#include "web_firmware.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <thread>

namespace lanrove::camsim {

namespace {

using TimePoint = std::chrono::steady_clock::time_point;

constexpr std::string_view kTypePrefix =
    "multipart/form-data; boundary=---------------------------";            // 27 hyphens
constexpr std::string_view kBodyHyphens = "-----------------------------";  // 29
constexpr std::string_view kDisposition =
    "Content-Disposition: form-data; name=\"firmware_file\"; filename=\"";
constexpr std::string_view kPartType = "Content-Type: application/octet-stream\r\n\r\n";
constexpr std::uint64_t kMaxImage = std::uint64_t{512} * 1024 * 1024;
constexpr long kWritingRefresh = 5;
constexpr long kMinAnnouncedWait = 1000;

TimePoint later(const Clock& clock, TimePoint from, long ms) {
    return from + clock.scaled(Millis(ms));
}

long announcedWait(const SimCamera& camera) {
    return std::max(camera.restartMs, kMinAnnouncedWait);
}

std::string argOr(const SimCamera& camera, const std::string& key, const std::string& fallback) {
    const auto it = camera.faultArgs.find(key);
    return it == camera.faultArgs.end() || it->second.empty() ? fallback : it->second;
}

CgiAnswer htmlPage(int status, std::string body) {
    CgiAnswer a;
    a.status = status;
    a.body = std::move(body);
    return a;
}

std::string hexOf(const unsigned char* data, unsigned int length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0x0F];
    }
    return out;
}

struct DigestDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

bool firmwareOffline(SimCamera& camera, const Clock& clock) {
    SimFirmware& fw = camera.firmware;
    if (!fw.bBusy) return false;
    const TimePoint now = clock.now();
    if (!fw.bRestarting) {
        // An image that takes only with the restart command: the camera stays up, old
        // version and all, until it is told to restart.
        if (fw.bInstall && camera.has("restartonly")) return false;
        const TimePoint start = fw.bRestartAsked ? fw.restartStart : fw.announceEnd;
        if (now < fw.writeEnd || now < start) return false;
        fw.bRestarting = true;
        fw.restartStart = start;
        fw.restartEnd = later(clock, start, camera.restartMs);
    }
    if (fw.bInstall && camera.has("nocomeback")) return true;
    if (now < fw.restartEnd) return true;
    // Some cameras forget their recording settings with an update.
    if (fw.bInstall && camera.has("recordreset")) camera.record.clear();
    if (fw.bInstall && !camera.has("oldversion")) {
        std::string key;
        std::string text;
        if (componentFromFileName(fw.fileName, key, text)) {
            camera.versions[key] = text;
        } else if (!fw.version.empty()) {
            camera.firmVer = fw.version;
            std::string& installed = camera.versions[argOr(camera, "installkey", "CAM MAIN Ver")];
            // A dated version text keeps its date: "1.20(20100101)" becomes "125(20100101)".
            const std::size_t paren = installed.find('(');
            installed =
                paren == std::string::npos ? fw.version : fw.version + installed.substr(paren);
        }
    }
    fw.bBusy = false;
    fw.bInstall = false;
    fw.bRestarting = false;
    fw.bRestartAsked = false;
    return false;
}

void firmwareRestart(SimCamera& camera, const Clock& clock) {
    if (camera.restartMs <= 0) return;
    SimFirmware& fw = camera.firmware;
    const TimePoint now = clock.now();
    fw.bBusy = true;
    fw.bRestarting = true;
    fw.writeEnd = now;
    fw.restartStart = now;
    fw.restartEnd = later(clock, now, camera.restartMs);
}

bool firmwarePage(SimCamera& camera, const Clock& clock, const CgiCall& call, CgiAnswer& answer) {
    SimFirmware& fw = camera.firmware;
    const std::string& program = call.program;
    if (program == "cgi-bin/opecmd.cgi" && camera.has("norestart")) {
        const auto ope = call.params.find("ope");
        if (ope != call.params.end() && ope->second == "35") {
            answer = htmlPage(503, "<html><body>503 Service Unavailable</body></html>\r\n");
            answer.event = "reboot-refused";
            return true;
        }
    }
    if (program == "camsim/firmware") {
        answer = CgiAnswer{};
        answer.contentType = "text/plain";
        answer.body = "uploads=" + std::to_string(fw.uploads) + "\nfile=" + fw.fileName +
                      "\nbytes=" + std::to_string(fw.image.size()) + "\nsha256=" + fw.sha256 +
                      "\nversion=" + camera.firmVer +
                      "\npeak_uploads=" + std::to_string(uploadGauge().peak.load()) + "\n";
        return true;
    }
    if (!fw.bBusy || fw.bRestarting) return false;
    const TimePoint now = clock.now();
    const std::string wait = std::to_string(announcedWait(camera));
    const std::string announce =
        "<html><head><script type=\"text/javascript\">\r\n"
        "setTimeout(\"location.href='/'\", " +
        wait + ");\r\n</script></head><body>Restarting</body></html>\r\n";
    if (program == "cgi-bin/firmup.cgi") {
        if (now < fw.writeEnd && camera.has("writefail"))
            answer = htmlPage(200, "<html><body>Write error code=E0201</body></html>\r\n");
        else if (now < fw.writeEnd)
            answer = htmlPage(200, "<html><head>\r\n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"" +
                                       std::to_string(kWritingRefresh) +
                                       "; URL=/cgi-bin/firmup.cgi\">\r\n</head>"
                                       "<body>Writing firmware</body></html>\r\n");
        else
            answer = htmlPage(200, announce);
        answer.event = now < fw.writeEnd ? "firmup-writing" : "firmup-announce";
        return true;
    }
    if (program == "cgi-bin/discon3.cgi") {
        if (!fw.bRestartAsked) {
            fw.bRestartAsked = true;
            fw.restartStart = std::max(now, fw.writeEnd);
        }
        answer = htmlPage(200, announce);
        answer.event = "discon3-restart";
        return true;
    }
    return false;
}

bool componentFromFileName(std::string_view fileName, std::string& key, std::string& text) {
    const std::size_t slash = fileName.find_last_of("/\\");
    std::string_view stem = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string_view::npos) stem = stem.substr(0, dot);
    if (stem.size() <= 3) return false;
    std::string rest(stem.substr(3));
    for (char& c : rest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Longer words first: "NETMAIN" before "NET".
    static const std::pair<const char*, const char*> kWords[] = {
        {"NETMAIN", "NET MAIN Ver"}, {"NETSUB", "NET SUB  Ver"}, {"NET", "NET MAIN Ver"},
        {"CAMMAIN", "CAM MAIN Ver"}, {"CAMSUB", "CAM SUB  Ver"}, {"CAM", "CAM MAIN Ver"},
        {"MECHA", "MEC MAIN Ver"},   {"IO", "I/O MAIN Ver"}};
    for (const auto& [word, name] : kWords) {
        const std::string_view w(word);
        if (rest.rfind(w, 0) != 0) continue;
        const std::string digits = rest.substr(w.size());
        if (digits.empty() || digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
            return false;
        key = name;
        text = "V1.00(" + digits + ")";
        return true;
    }
    return false;
}

std::string versionFromFileName(std::string_view fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    std::string_view stem = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string_view::npos) stem = stem.substr(0, dot);
    if (stem.size() <= 3 || stem.size() > 3 + 15) return {};
    const std::string_view digits = stem.substr(3);
    const auto all = [&](auto pred) {
        return std::all_of(digits.begin(), digits.end(),
                           [&](char c) { return pred(static_cast<unsigned char>(c)); });
    };
    unsigned long long value = 0;
    int base = 0;
    if (all([](unsigned char c) { return std::isdigit(c) != 0; }))
        base = 10;
    else if (all([](unsigned char c) { return std::isxdigit(c) != 0; }))
        base = 16;
    if (base == 0) return {};
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (ec != std::errc() || end != digits.data() + digits.size()) return {};
    return std::to_string(value);
}

std::uint64_t expectedUploadLength(std::string_view boundary, std::string_view fileName,
                                   std::uint64_t imageSize) {
    const std::uint64_t head = kBodyHyphens.size() + boundary.size() + 2 + kDisposition.size() +
                               fileName.size() + 3 + kPartType.size();
    const std::uint64_t tail = 2 + kBodyHyphens.size() + boundary.size() + 4;
    return head + imageSize + tail;
}

void dropConnection(const httplib::Request& req) {
    const int fd = connectionSocket(req);
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

int connectionSocket(const httplib::Request& req) {
    // The server library does not hand out its socket: find it by its two ends.
    rlimit limit{};
    int maxFd = 4096;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536)
        maxFd = static_cast<int>(limit.rlim_cur);
    for (int fd = 0; fd < maxFd; ++fd) {
        sockaddr_in local{};
        sockaddr_in peer{};
        socklen_t len = sizeof(local);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
            local.sin_family != AF_INET)
            continue;
        len = sizeof(peer);
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) continue;
        char localIp[INET_ADDRSTRLEN] = {};
        char peerIp[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &local.sin_addr, localIp, sizeof(localIp));
        inet_ntop(AF_INET, &peer.sin_addr, peerIp, sizeof(peerIp));
        if (ntohs(local.sin_port) == req.local_port && ntohs(peer.sin_port) == req.remote_port &&
            req.local_addr == localIp && req.remote_addr == peerIp)
            return fd;
    }
    return -1;
}

UploadGauge& uploadGauge() {
    static UploadGauge gauge;
    return gauge;
}

void serveFirmwareUpload(Fleet& fleet, std::size_t index, const Clock& clock,
                         const httplib::Request& req, httplib::Response& res,
                         const httplib::ContentReader& reader, std::string& event, int& status) {
    // Every upload that is being received counts, on every camera of the simulator.
    struct Counted {
        Counted() {
            UploadGauge& g = uploadGauge();
            const int now = ++g.active;
            int seen = g.peak.load();
            while (now > seen && !g.peak.compare_exchange_weak(seen, now)) {
            }
        }
        ~Counted() { --uploadGauge().active; }
    } counted;
    auto answer = [&](int code, const std::string& body, const char* what) {
        res.status = code;
        res.set_content(body, "text/html");
        status = code;
        event = what;
    };
    const std::string type = req.get_header_value("Content-Type");
    const std::string boundary =
        type.rfind(kTypePrefix, 0) == 0 ? type.substr(kTypePrefix.size()) : std::string();
    if (boundary.empty() || !std::all_of(boundary.begin(), boundary.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f');
        })) {
        answer(400, "<html><body>400 Bad Request</body></html>\r\n", "firmup-badheader");
        return;
    }
    const std::string lengthText = req.get_header_value("Content-Length");
    std::uint64_t length = 0;
    const auto [end, ec] =
        std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
    if (lengthText.empty() || ec != std::errc() || end != lengthText.data() + lengthText.size()) {
        answer(411, "<html><body>411 Length Required</body></html>\r\n", "firmup-nolength");
        return;
    }
    if (length > kMaxImage) {
        answer(413, "<html><body>413 Payload Too Large</body></html>\r\n", "firmup-toolarge");
        return;
    }
    bool bRefuse = false;
    bool bCut = false;
    bool bSilent = false;
    int refuseStatus = 0;  // "firmstatus=NNN": this status, a page without "code="
    long readRate = 0;     // "readrate=N": bytes per second (simulator time) read
    {
        std::lock_guard lock(fleet.mutex);
        if (index >= fleet.cameras.size()) return;
        SimCamera& cam = fleet.cameras[index];
        bRefuse = cam.has("firmrefuse");
        bCut = cam.has("firmcut");
        bSilent = cam.has("firmsilent");
        if (cam.has("firmstatus"))
            refuseStatus = std::atoi(argOr(cam, "firmstatus", "500").c_str());
        if (cam.has("readrate")) readRate = std::atol(argOr(cam, "readrate", "1024").c_str());
        // The previous image goes before the next one comes: one copy per camera.
        std::vector<std::uint8_t>().swap(cam.firmware.image);
    }
    std::vector<std::uint8_t> image;
    if (!bRefuse) image.reserve(static_cast<std::size_t>(length));
    std::unique_ptr<EVP_MD_CTX, DigestDeleter> digest(EVP_MD_CTX_new());
    if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) {
        answer(500, "<html><body>500 Internal Server Error</body></html>\r\n", "firmup-error");
        return;
    }
    int parts = 0;
    std::string name, fileName, partType;
    std::uint64_t received = 0;
    bool bDropped = false;
    const TimePoint readStart = clock.now();
    // A slow camera has a small receive buffer, as embedded ones do: its window opens as it
    // reads, instead of in large steps after long pauses.
    if (readRate > 0) {
        const int fd = connectionSocket(req);
        const int small = 16384;
        if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    }
    const bool ok = reader(
        [&](const httplib::MultipartFormData& part) {
            ++parts;
            name = part.name;
            fileName = part.filename;
            partType = part.content_type;
            return parts == 1;
        },
        [&](const char* data, std::size_t n) {
            if (bCut && (received + n) * 2 >= length) {
                bDropped = true;
                dropConnection(req);
                return false;
            }
            if (!bRefuse) image.insert(image.end(), data, data + n);
            EVP_DigestUpdate(digest.get(), data, n);
            received += n;
            // A slow reader: the next bytes are read only when their time has come.
            if (readRate > 0)
                std::this_thread::sleep_until(later(
                    clock, readStart,
                    static_cast<long>(received * 1000 / static_cast<std::uint64_t>(readRate))));
            return true;
        });
    if (bDropped) {
        res.status = 500;
        status = 0;
        event = "firmup-cut";
        return;
    }
    if (!ok || parts != 1 || name != "firmware_file" || partType != "application/octet-stream" ||
        expectedUploadLength(boundary, fileName, received) != length) {
        answer(400, "<html><body>400 Bad Request</body></html>\r\n", "firmup-badframing");
        return;
    }
    if (refuseStatus >= 400) {
        answer(refuseStatus,
               "<html><body>" + std::to_string(refuseStatus) + " Refused</body></html>\r\n",
               "firmup-status");
        return;
    }
    if (bRefuse) {
        answer(200, "<html><body>Firmware update error code=E0103</body></html>\r\n",
               "firmup-refused");
        return;
    }
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int sumLength = 0;
    EVP_DigestFinal_ex(digest.get(), sum, &sumLength);
    {
        std::lock_guard lock(fleet.mutex);
        if (index >= fleet.cameras.size()) return;
        SimCamera& cam = fleet.cameras[index];
        SimFirmware& fw = cam.firmware;
        fw.image = std::move(image);
        fw.sha256 = hexOf(sum, sumLength);
        fw.fileName = fileName;
        fw.version = versionFromFileName(fileName);
        ++fw.uploads;
        const TimePoint now = clock.now();
        fw.bBusy = true;
        fw.bInstall = true;
        fw.bRestarting = false;
        fw.bRestartAsked = bSilent;
        fw.writeEnd = bSilent ? now : later(clock, now, cam.writeMs);
        fw.restartStart = fw.writeEnd;
        fw.announceEnd = later(clock, fw.writeEnd, cam.announceMs);
    }
    if (bSilent) {
        dropConnection(req);
        res.status = 500;
        status = 0;
        event = "firmup-silent";
        return;
    }
    answer(200,
           "<html><head>\r\n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"" +
               std::to_string(kWritingRefresh) +
               "; URL=/cgi-bin/firmup.cgi\">\r\n</head><body>Firmware received</body></html>\r\n",
           "firmup");
}

}  // namespace lanrove::camsim
