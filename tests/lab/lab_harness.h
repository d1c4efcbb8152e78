#pragma once
// Runs commands inside a lab (lab/lab.sh) and hands their output back. A test that needs the
// lab is skipped with a reason where no lab can be built, and fails instead under CI.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace lanrove::lab {

inline std::string binaryDir() {
    return LANROVE_BINARY_DIR;
}
inline std::string sourceDir() {
    return LANROVE_SOURCE_DIR;
}
inline std::string cli() {
    return binaryDir() + "/src/lanrove-cli";
}
inline std::string camsim() {
    return binaryDir() + "/tools/camsim/lanrove-camsim";
}
inline std::string labScript() {
    return sourceDir() + "/lab/lab.sh";
}

inline std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Result {
    int exitCode = -1;
    std::string out;  // standard output of the command
    std::string err;  // standard error of the lab and the command
};

inline Result runShell(const std::string& command, const std::string& errFile) {
    Result r;
    std::FILE* p = ::popen((command + " 2>" + quote(errFile)).c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    return r;
}

// "" when a lab can be built here, else the reason.
inline std::string labUnavailableReason() {
    static const std::string reason = [] {
        if (::geteuid() != 0) return std::string("lab tests need root (network namespaces)");
        const std::string err = "/tmp/lanrove-labcheck-" + std::to_string(::getpid());
        const Result r = runShell(quote(labScript()) + " --check", err);
        std::filesystem::remove(err);
        if (r.exitCode != 0) return "no lab here: " + r.err;
        return std::string();
    }();
    return reason;
}

#define LANROVE_REQUIRE_LAB()                                           \
    do {                                                                \
        const std::string why = ::lanrove::lab::labUnavailableReason(); \
        if (!why.empty()) {                                             \
            if (std::getenv("CI") != nullptr) FAIL() << why;            \
            GTEST_SKIP() << why;                                        \
        }                                                               \
    } while (0)

// A temporary folder for fleet files, logs and scripts of one test.
class Workspace {
  public:
    Workspace() {
        static int n = 0;
        m_dir = std::filesystem::temp_directory_path() /
                ("lanrove-labtest-" + std::to_string(::getpid()) + "-" + std::to_string(++n));
        std::filesystem::create_directories(m_dir);
    }
    ~Workspace() { std::filesystem::remove_all(m_dir); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name)) << text;
        return path(name);
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name));
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

  private:
    std::filesystem::path m_dir;
};

// Runs `script` (bash) on the PC of a lab built with `labArgs`. `$CLI` names lanrove-cli.
inline Result runInLab(const Workspace& ws, const std::vector<std::string>& labArgs,
                       const std::string& script) {
    const std::string file = ws.write("script.sh", "CLI=" + quote(cli()) + "\n" + script);
    std::string command = quote(labScript()) + " --camsim " + quote(camsim());
    for (const auto& a : labArgs) command += " " + quote(a);
    command += " -- bash " + quote(file);
    return runShell(command, ws.path("stderr.txt"));
}

// The text between "@@name" and the next "@@" line of a script's output.
inline std::string section(const std::string& out, const std::string& name) {
    const std::string marker = "@@" + name + "\n";
    const std::size_t start = out.find(marker);
    if (start == std::string::npos) return {};
    const std::size_t from = start + marker.size();
    const std::size_t end = out.find("\n@@", from - 1);
    return out.substr(from, end == std::string::npos ? std::string::npos : end + 1 - from);
}

// The JSON document of a section (an "rc=" line may follow it).
inline nlohmann::json parseSection(const std::string& out, const std::string& name) {
    const std::string text = section(out, name);
    const auto j = nlohmann::json::parse(text.substr(0, text.rfind('}') + 1), nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << name << ":\n" << out;
    return j;
}

// The cameras of a JSON list by their MAC address.
inline std::map<std::string, nlohmann::json> camerasByMac(const nlohmann::json& cameras) {
    std::map<std::string, nlohmann::json> out;
    if (!cameras.is_array()) return out;
    for (const auto& c : cameras) out[c["mac"].get<std::string>()] = c;
    return out;
}

// The change journal's lines by MAC (the last line of each MAC), of one kind or of any.
inline std::map<std::string, nlohmann::json> journalByMac(const std::string& text,
                                                          const std::string& kind = "") {
    std::map<std::string, nlohmann::json> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.contains("mac") || !j["mac"].is_string()) continue;
        if (kind.empty() || j.value("kind", "") == kind) out[j["mac"].get<std::string>()] = j;
    }
    return out;
}

inline std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1))
        ++n;
    return n;
}

}  // namespace lanrove::lab
