#pragma once
// Helpers for tests that run simulated cameras on loopback addresses in-process.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cgi/cgi.h"
#include "fleet.h"

namespace lanrove::testing {

// A port that is free on `ip` right now (the kernel's pick for an ephemeral bind).
inline int freePort(const std::string& ip) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
        socklen_t len = sizeof(addr);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
    }
    ::close(fd);
    return port;
}

inline camsim::SimCamera simCamera(const std::string& ip, int protoVer, const std::string& title) {
    camsim::SimCamera c;
    c.model = "KT-SIM";
    c.protoVer = protoVer;
    c.ip = ip;
    c.port = freePort(ip);
    c.title = title;
    return c;
}

// The client's record of a simulated camera, with its configuration account.
inline CameraEntry entryFor(const camsim::SimCamera& c, const char* no = "1") {
    CameraEntry e{};
    e.clear();
    setField(e.szNo, std::string_view(no));
    setField(e.szIp, std::string_view(c.ip));
    setField(e.szPort, std::string_view(std::to_string(c.port)));
    setField(e.szSsl, std::string_view(c.ssl ? "1" : "0"));
    setField(e.szUser, std::string_view(c.admin.user));
    setField(e.szPassword, std::string_view(c.admin.password));
    e.wProtoVer = static_cast<std::uint16_t>(c.protoVer);
    return e;
}

inline std::string readAll(CgiRequest& request) {
    std::string body;
    char buf[4096];
    for (;;) {
        const long n = request.read(buf, sizeof(buf));
        if (n <= 0) break;
        body.append(buf, static_cast<std::size_t>(n));
    }
    return body;
}

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        path = std::filesystem::temp_directory_path() /
               ("lanrove-cgi-" + std::to_string(::getpid()) + "-" +
                std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace lanrove::testing
