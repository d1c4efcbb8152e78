// lanrove-upload-driver: one firmware upload and restart wait against a camera, as the upload
// worker runs them, for the lab tests and the upload benchmark. Prints one JSON object.
//
//   lanrove-upload-driver --ip A [--port P] --file F [--user U --password W]
//                         [--wait 0|1|2] [--reboot-ms T] [--timeout-ms U] [--uploading J]
//                         [--no-endwait]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cgi/cgi.h"
#include "cgi/firmware_upload.h"
#include "firmware/camera_steps.h"
#include "support/clock.h"
#include "support/text.h"
#include "support/trace_log.h"

using namespace lanrove;

int main(int argc, char** argv) {
    std::string ip, port = "80", file, user = "kelvo", password = "730162", logDir;
    int waitMethod = 0;
    unsigned long rebootMs = 300000, timeoutMs = 600000, uploading = 30;
    bool bEndWait = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "upload-driver: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--ip")
            ip = value();
        else if (a == "--port")
            port = value();
        else if (a == "--file")
            file = value();
        else if (a == "--user")
            user = value();
        else if (a == "--password")
            password = value();
        else if (a == "--wait")
            waitMethod = std::atoi(value().c_str());
        else if (a == "--reboot-ms")
            rebootMs = std::strtoul(value().c_str(), nullptr, 10);
        else if (a == "--timeout-ms")
            timeoutMs = std::strtoul(value().c_str(), nullptr, 10);
        else if (a == "--uploading")
            uploading = std::strtoul(value().c_str(), nullptr, 10);
        else if (a == "--no-endwait")
            bEndWait = false;
        else if (a == "--log")
            logDir = value();
        else {
            std::fprintf(stderr, "upload-driver: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (ip.empty() || file.empty()) {
        std::fprintf(stderr, "upload-driver: --ip and --file are required\n");
        return 2;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "upload-driver: cannot read %s\n", file.c_str());
        return 2;
    }
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::istreambuf_iterator<char>(in),
                                                             std::istreambuf_iterator<char>());
    const FirmwareBytes image = bytes;

    const Clock& clock = defaultClock();
    TraceLog log;
    if (!logDir.empty()) log.create(logDir);
    WireCodec codec("CP1252");
    CCGI cgi(clock, log, codec);
    CFirmUpload upload(cgi, log, clock);
    CameraSteps steps(cgi, upload, log, clock);

    CameraEntry table{};
    table.clear();
    CameraStepSlot slot;
    slot.ctx.camera = &table;
    CameraEntry& e = slot.ctx.copy;
    e.clear();
    setField(e.szNo, std::string_view("1"));
    setField(e.szIp, std::string_view(ip));
    setField(e.szPort, std::string_view(port));
    setField(e.szSsl, std::string_view("0"));
    setField(e.szUser, std::string_view(user));
    setField(e.szPassword, std::string_view(password));
    AdapterEntry::setText(slot.adapter.szIp, ip);
    AdapterEntry::setText(slot.adapter.szMask, "255.255.255.0");

    const auto t0 = std::chrono::steady_clock::now();
    const std::string name = file.substr(file.find_last_of('/') + 1);
    int build = upload.BuildBody(slot.ctx, image, image->size(), fromUtf8(file), fromUtf8(name));
    int post = -1, send = -1, recv = -1, check = 0, http = 0, wait = -1;
    std::size_t samples = 0;
    double sendSeconds = 0;
    double uploadSeconds = 0;
    if (build == 0) {
        CgiRequestPtr request;
        const auto p0 = std::chrono::steady_clock::now();
        post = upload.StartFirmupPost(slot.ctx, request);
        if (post == 0) {
            // The firmware dialog's view: the counters read from another thread.
            std::atomic<bool> done{false};
            std::uint32_t last = 0;
            std::thread watcher([&] {
                while (!done.load()) {
                    const std::uint32_t now = LoadSentBytes(table);
                    if (now != last) {
                        ++samples;
                        last = now;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            const auto s0 = std::chrono::steady_clock::now();
            send = upload.FirmSendProc(slot.ctx, *request);
            sendSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
            done.store(true);
            watcher.join();
            if (send == 0) {
                http = request->statusCode();
                std::size_t count = 0;
                recv = upload.FirmupRecv(slot.ctx, *request, count, kFirmRecvTimeoutMs);
                // Opening, sending and the reply, less the pause after the last piece.
                uploadSeconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - p0 -
                                                  clock.scaled(Millis(kFirmSentPauseMs)))
                        .count();
                if (recv == 0) {
                    check = upload.ParseCheckError(slot.ctx);
                    if (check == 0 && bEndWait) clock.sleepFor(Millis(30000));
                }
            }
            request.reset();
        }
    }
    if (send == 0 && check == 0 && waitMethod != 0)
        wait = steps.RebootWait(slot, waitMethod, rebootMs, timeoutMs, uploading);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf(
        "{\"build\": %d, \"post\": %d, \"send\": %d, \"http\": %d, \"recv\": %d, \"check\": %d, "
        "\"wait\": %d, \"sent\": %u, \"total\": %u, \"status\": %u, \"samples\": %zu, "
        "\"file_bytes\": %zu, \"send_seconds\": %.3f, \"upload_seconds\": %.4f, "
        "\"seconds\": %.3f}\n",
        build, post, send, http, recv, check, wait, LoadSentBytes(table), LoadTotalBytes(table),
        LoadUploadStatus(table), samples, image->size(), sendSeconds, uploadSeconds, seconds);
    return 0;
}
