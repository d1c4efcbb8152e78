#pragma once
// The simulator's own log: one line per event with a time stamp, written at once so that
// tests can read it while the simulator runs.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace lanrove::camsim {

class SimLog {
  public:
    SimLog() = default;
    ~SimLog() {
        if (m_file != nullptr && m_file != stderr) std::fclose(m_file);
    }
    SimLog(const SimLog&) = delete;
    SimLog& operator=(const SimLog&) = delete;

    bool open(const std::string& path) {
        std::lock_guard lock(m_mutex);
        m_file = path == "-" ? stderr : std::fopen(path.c_str(), "a");
        return m_file != nullptr;
    }
    void line(const std::string& text) {
        std::lock_guard lock(m_mutex);
        if (m_file == nullptr) return;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        std::fprintf(m_file, "%lld.%03lld %s\n", static_cast<long long>(ms / 1000),
                     static_cast<long long>(ms % 1000), text.c_str());
        std::fflush(m_file);
    }

  private:
    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
};

}  // namespace lanrove::camsim
