#include "support/trace_log.h"

#include <ctime>
#include <optional>
#include <system_error>
#include <vector>

#include "support/private_file.h"
#include "support/text.h"

namespace lanrove {

namespace fs = std::filesystem;

namespace {
// Readable by the owner's group (an installer's support staff), never by everyone. Close-on-exec
// (child processes such as the ARP cache flush must not inherit it) and no symlink following.
constexpr mode_t kLogMode = 0640;

std::FILE* openForAppend(const fs::path& p) {
    return fopenPrivateFile(p, PrivateWrite::Append, kLogMode);
}
}  // namespace

struct TraceLog::Impl {
    WallClock wallClock;
    mutable std::mutex mutex;
    bool on = false;
    fs::path folder;
    std::string dayStem;
    int index = 0;
    std::uint64_t runningSize = 0;
    std::FILE* file = nullptr;
    fs::path current;

    struct Stamp {
        unsigned year, month, day, hour, minute, second, milli;
    };

    Stamp stamp() const {
        const auto now = wallClock();
        const std::time_t t = std::chrono::system_clock::to_time_t(now);
        std::tm tm{};
        localtime_r(&t, &tm);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
        return {static_cast<unsigned>(tm.tm_year + 1900),
                static_cast<unsigned>(tm.tm_mon + 1),
                static_cast<unsigned>(tm.tm_mday),
                static_cast<unsigned>(tm.tm_hour),
                static_cast<unsigned>(tm.tm_min),
                static_cast<unsigned>(tm.tm_sec),
                static_cast<unsigned>(ms.count() < 0 ? ms.count() + 1000 : ms.count())};
    }

    fs::path fileFor(int idx) const {
        char name[64];
        std::snprintf(name, sizeof(name), "-%02dlog.txt", idx);
        return folder / (dayStem + name);
    }

    // Files of the folder whose names start with `prefix` and end with ".txt".
    std::vector<fs::directory_entry> list(const std::string& prefix, bool needHyphenAfter) const {
        std::vector<fs::directory_entry> out;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() < prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
                name.compare(name.size() - 4, 4, ".txt") != 0)
                continue;
            if (needHyphenAfter && name.find('-', prefix.size()) == std::string::npos) continue;
            out.push_back(*it);
        }
        return out;
    }

    static std::optional<fs::file_time_type> writeTime(const fs::directory_entry& e) {
        std::error_code ec;
        auto t = e.last_write_time(ec);
        if (ec) return std::nullopt;
        return t;
    }

    static bool canAppend(const fs::path& p) {
        std::FILE* f = openForAppend(p);
        if (f == nullptr) return false;
        std::fclose(f);
        return true;
    }

    // Chooses and opens the current file of today (at creation and at every rotation).
    bool openCurrent() {
        const Stamp s = stamp();
        char stem[96];
        std::snprintf(stem, sizeof(stem), "%s-%04u%02u%02u", kBaseName, s.year, s.month, s.day);
        dayStem = stem;

        const auto todays = list(dayStem + "-", false);
        index = 0;
        if (!todays.empty()) {
            const fs::directory_entry* newest = nullptr;
            fs::file_time_type newestTime{};
            for (const auto& e : todays) {
                const auto t = writeTime(e);
                if (t && (newest == nullptr || *t > newestTime)) {
                    newest = &e;
                    newestTime = *t;
                }
            }
            if (newest != nullptr) {
                canAppend(newest->path());
                const std::string name = newest->path().filename().string();
                const std::size_t pos = dayStem.size() + 1;
                int value = 0;
                for (std::size_t i = pos; i < name.size() && i < pos + 2; ++i) {
                    if (name[i] < '0' || name[i] > '9') break;
                    value = value * 10 + (name[i] - '0');
                }
                index = value % kMaxFiles;
            }
        }

        const int start = index;
        int wraps = 0;
        for (;;) {
            const fs::path candidate = fileFor(index);
            std::error_code ec;
            // A symbolic link at a log's name is passed over like a full file, never followed.
            const auto st = fs::symlink_status(candidate, ec);
            if (!fs::exists(st)) {
                runningSize = 0;
                current = candidate;
                break;
            }
            if (fs::is_regular_file(st)) {
                const auto size = fs::file_size(candidate, ec);
                if (!ec && size < kMaxFileSize && canAppend(candidate)) {
                    runningSize = size;
                    current = candidate;
                    break;
                }
            }
            index = (index + 1) % kMaxFiles;
            runningSize = 0;
            if (index == start && ++wraps >= 2) return false;
        }
        file = openForAppend(current);
        return file != nullptr;
    }

    void prune() {
        auto files = list(std::string(kBaseName), true);
        const std::size_t rounds = files.size();
        for (std::size_t round = 0; round < rounds && files.size() > kMaxFiles; ++round) {
            std::size_t oldest = files.size();
            fs::file_time_type oldestTime{};
            for (std::size_t i = 0; i < files.size(); ++i) {
                const auto t = writeTime(files[i]);
                if (t && (oldest == files.size() || *t < oldestTime)) {
                    oldest = i;
                    oldestTime = *t;
                }
            }
            if (oldest == files.size()) break;
            std::error_code ec;
            fs::remove(files[oldest].path(), ec);
            files = list(std::string(kBaseName), true);
        }
    }

    void closeFile() {
        if (file != nullptr) std::fclose(file);
        file = nullptr;
    }

    // Writes one ready line under the lock; turns "\n" into CR LF like a text-mode file.
    int writeLine(const std::string& line) {
        if (!on) return kErrOff;
        if (file == nullptr) return kErrNoFile;
        if (runningSize > kMaxFileSize) {
            closeFile();
            if (!openCurrent()) {
                closeFile();
                on = false;
                return kErrOff;
            }
            prune();
        }
        std::string out;
        out.reserve(line.size() + 8);
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\n' && (i == 0 || line[i - 1] != '\r')) out.push_back('\r');
            out.push_back(line[i]);
        }
        const std::size_t written = std::fwrite(out.data(), 1, out.size(), file);
        runningSize += written;
        std::fflush(file);
        return kOk;
    }
};

TraceLog::TraceLog() : TraceLog([] { return std::chrono::system_clock::now(); }) {}

TraceLog::TraceLog(WallClock wallClock) : m_pImpl(new Impl) {
    m_pImpl->wallClock = std::move(wallClock);
}

TraceLog::~TraceLog() {
    close();
    delete m_pImpl;
}

bool TraceLog::create(const fs::path& programFolder) {
    std::lock_guard lock(m_pImpl->mutex);
    m_pImpl->closeFile();
    m_pImpl->on = false;
    m_pImpl->folder = programFolder / "IPLog";
    std::error_code ec;
    fs::create_directories(m_pImpl->folder, ec);
    if (!fs::is_directory(m_pImpl->folder, ec)) return false;
    if (!m_pImpl->openCurrent()) {
        m_pImpl->closeFile();
        return false;
    }
    m_pImpl->on = true;
    m_pImpl->prune();
    return true;
}

void TraceLog::close() {
    std::lock_guard lock(m_pImpl->mutex);
    m_pImpl->closeFile();
    m_pImpl->on = false;
}

bool TraceLog::isOn() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->on;
}

fs::path TraceLog::folder() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->folder;
}

fs::path TraceLog::currentFile() const {
    std::lock_guard lock(m_pImpl->mutex);
    return m_pImpl->current;
}

int TraceLog::trace(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int r = vtrace(level, format, args);
    va_end(args);
    return r;
}

int TraceLog::vtrace(int level, const char* format, va_list args) {
    if (level != 1 && level != 2 && level != -1 && level != -2) return kErrLevel;
    std::vector<char> buffer(kFormatBuffer);
    // vsnprintf cuts a long message to the buffer less one character.
    const int n = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    if (n < 0) buffer[0] = '\0';
    return traceText(level, std::string_view(buffer.data()));
}

int TraceLog::traceText(int level, std::string_view message) {
    if (level != 1 && level != 2 && level != -1 && level != -2) return kErrLevel;
    if (message.size() >= kFormatBuffer) message = message.substr(0, kFormatBuffer - 1);
    std::lock_guard lock(m_pImpl->mutex);
    if (!m_pImpl->on) return kErrOff;
    const Impl::Stamp s = m_pImpl->stamp();
    char head[64];
    std::snprintf(head, sizeof(head), "%04u/%02u/%02u %02u:%02u:%02u.%03u[Lanrove] :", s.year,
                  s.month, s.day, s.hour, s.minute, s.second, s.milli);
    std::string line;
    if (level == -1) line = "-- TraceLog Start --\n";
    line += head;
    line += message;
    line += "\n";
    if (level == -2) line += "-- TraceLog End --\n";
    return m_pImpl->writeLine(line);
}

int TraceLog::event(std::string_view message, std::string_view kind, std::string_view subject) {
    // Fields may carry a camera's texts: a tab or line end there would forge fields or lines.
    const std::string safeSubject = neutralisedUtf8(subject);
    const std::string safeMessage = neutralisedUtf8(message);
    std::lock_guard lock(m_pImpl->mutex);
    if (!m_pImpl->on) return kErrOff;
    const Impl::Stamp s = m_pImpl->stamp();
    char when[48];
    std::snprintf(when, sizeof(when), "%04u/%02u/%02u\t%02u:%02u:%02u", s.year, s.month, s.day,
                  s.hour, s.minute, s.second);
    std::string line;
    line.append(kind).append("\tuser\t").append(when).append("\t");
    line.append(safeSubject).append("\t").append(safeMessage).append("\n");
    return m_pImpl->writeLine(line);
}

}  // namespace lanrove
