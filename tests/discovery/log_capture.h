#pragma once
// A trace log in a temporary folder whose text the tests can read back.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/trace_log.h"

namespace lanrove::testing {

class LogCapture {
  public:
    LogCapture() {
        static int counter = 0;
        m_dir = std::filesystem::temp_directory_path() /
                ("lanrove-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_log.create(m_dir);
    }
    ~LogCapture() {
        m_log.close();
        std::filesystem::remove_all(m_dir);
    }
    TraceLog& log() { return m_log; }
    std::string text() const {
        std::ifstream in(m_log.currentFile(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::size_t count(const std::string& needle) const {
        const std::string t = text();
        std::size_t n = 0;
        for (std::size_t p = t.find(needle); p != std::string::npos; p = t.find(needle, p + 1)) ++n;
        return n;
    }

  private:
    std::filesystem::path m_dir;
    TraceLog m_log;
};

}  // namespace lanrove::testing
