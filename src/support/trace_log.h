#pragma once
// The trace and event log: dated, rotated text files in the "IPLog" folder beside the program.
// One object is shared by every thread; each write is one indivisible step under its lock.
// A log whose folder cannot be made stays off: every write is ignored, nothing blocks.

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace lanrove {

class TraceLog {
  public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr int kMaxFiles = 100;
    static constexpr std::uint64_t kMaxFileSize = 1048576;
    static constexpr std::size_t kFormatBuffer = 25600;
    static constexpr const char* kBaseName = "LanroveSetupUtility";

    // Result codes of the writes (callers never look at them).
    static constexpr int kOk = 0;
    static constexpr int kErrOff = -1;
    static constexpr int kErrNoFile = -2;
    static constexpr int kErrLevel = -3;

    // An off log: every write is ignored. Tests and tools pass it where no log is wanted.
    TraceLog();
    explicit TraceLog(WallClock wallClock);
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // Creates the log in `programFolder`/IPLog (made if missing). Returns true when on.
    bool create(const std::filesystem::path& programFolder);
    void close();
    bool isOn() const;
    std::filesystem::path folder() const;
    std::filesystem::path currentFile() const;

    // printf-style UTF-8 message. Levels 1 and 2 write a trace line, -1 the start form, -2 the
    // end form; 0, 3 and every other level write nothing.
    int trace(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int vtrace(int level, const char* format, va_list args);
    // Convenience for a ready-made message (no formatting of its content).
    int traceText(int level, std::string_view message);
    // Event line: kind ("err", "warn"), the fixed word "user", date, time, subject, message.
    int event(std::string_view message, std::string_view kind, std::string_view subject);

  private:
    struct Impl;
    Impl* m_pImpl;
};

}  // namespace lanrove
