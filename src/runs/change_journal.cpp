#include "runs/change_journal.h"

#include <unistd.h>

#include <array>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/private_file.h"
#include "support/text.h"

namespace lanrove {

std::filesystem::path ChangeJournal::fileIn(const std::filesystem::path& folder) {
    return folder / "changes.jsonl";
}

void ChangeJournal::open(std::filesystem::path file) {
    std::lock_guard lock(m_mutex);
    m_file = std::move(file);
}

std::filesystem::path ChangeJournal::file() const {
    std::lock_guard lock(m_mutex);
    return m_file;
}

bool ChangeJournal::append(ChangeRecord record) {
    if (record.time.empty()) record.time = journalTimeNow();
    const nlohmann::json line = {{"time", record.time},   {"kind", record.kind},
                                 {"mac", record.mac},     {"before", record.before},
                                 {"after", record.after}, {"result", record.result}};
    std::lock_guard lock(m_mutex);
    if (m_file.empty()) return false;
    // Invalid UTF-8 in a camera's title must not lose the whole line.
    const std::string text =
        line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
    const int fd = openPrivateFile(m_file, PrivateWrite::Append);
    if (fd < 0) return false;
    const bool written = writeAll(fd, text);
    return ::close(fd) == 0 && written;
}

std::vector<ChangeRecord> ChangeJournal::read(const std::filesystem::path& file) {
    // Not through a link planted at its name; years of changes stay far below the limit.
    std::string text;
    if (!readPrivateFile(file, text, kMaxJournalBytes)) return {};
    return parse(text);
}

std::vector<ChangeRecord> ChangeJournal::parse(std::string_view all) {
    std::vector<ChangeRecord> out;
    while (!all.empty()) {
        const std::size_t end = all.find('\n');
        const std::string_view text = all.substr(0, end);
        all = end == std::string_view::npos ? std::string_view() : all.substr(end + 1);
        const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
        if (!j.is_object()) continue;  // a line cut off by a crash
        ChangeRecord r;
        auto field = [&j](const char* key) {
            const auto it = j.find(key);
            return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
        };
        r.time = field("time");
        r.kind = field("kind");
        r.mac = field("mac");
        r.before = field("before");
        r.after = field("after");
        r.result = field("result");
        if (r.time.empty() || r.kind.empty()) continue;
        out.push_back(std::move(r));
    }
    return out;
}

ChangeJournal& changeJournal() {
    static ChangeJournal journal;
    return journal;
}

std::string networkSummary(const CameraEntry& e) {
    std::string s = fieldUtf8(e.szIp) + "/" + fieldUtf8(e.szMask) + " gw " +
                    fieldUtf8(e.szGateway) + " port " + fieldUtf8(e.szPort) + " SSL " +
                    (fieldView(e.szSsl) == u"1" ? "on" : "off");
    if (!fieldEmpty(e.szTitle)) s += " \"" + fieldUtf8(e.szTitle) + "\"";
    return s;
}

namespace {
template <std::size_t N>
std::string trimmedUtf8(const char16_t (&field)[N]) {
    std::string text = fieldUtf8(field);
    const auto first = text.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n\v\f") - first + 1);
}
}  // namespace

FirmwareVersionTexts firmwareVersionTexts(const CameraEntry& before, const CameraEntry& after,
                                          bool afterRead) {
    auto fields = [](const CameraEntry& e) {
        return std::array<std::pair<const char*, std::string>, 6>{
            {{"CAM MAIN", trimmedUtf8(e.szCamMainVer)},
             {"CAM SUB", trimmedUtf8(e.szCamSubVer)},
             {"NET MAIN", trimmedUtf8(e.szNetMainVer)},
             {"NET SUB", trimmedUtf8(e.szNetSubVer)},
             {"MEC MAIN", trimmedUtf8(e.szMecMainVer)},
             {"IO MAIN", trimmedUtf8(e.szIoMainVer)}}};
    };
    const auto from = fields(before);
    const auto to = fields(after);
    FirmwareVersionTexts out;
    auto add = [](std::string& text, const char* label, const std::string& version) {
        text += (text.empty() ? "" : ", ") + std::string(label) + " " +
                (version.empty() ? std::string(kNotRead) : version);
    };
    for (std::size_t i = 0; i < from.size(); ++i) {
        const std::string& was = from[i].second;
        const std::string now = afterRead ? to[i].second : std::string();
        if (was.empty() && now.empty()) continue;
        add(out.before, from[i].first, was);
        add(out.after, from[i].first, now);
    }
    if (out.before.empty()) {
        // No component read on either side: the firmware text of the list, where there is one.
        const std::string was = trimmedUtf8(before.szFirmVer);
        const std::string now = afterRead ? trimmedUtf8(after.szFirmVer) : "";
        out.before = was.empty() ? kNotRead : was;
        out.after = now.empty() ? kNotRead : now;
    }
    return out;
}

std::string journalTimeNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

void journalSetting(const CameraEntry& before, const CameraEntry& after, bool accepted,
                    unsigned result, std::string_view failure) {
    const std::string failed(failure.empty() ? std::string_view("failed") : failure);
    changeJournal().append({{},
                            "setting",
                            fieldUtf8(before.szMac),
                            networkSummary(before),
                            networkSummary(after),
                            accepted ? "accepted" : failed + " (" + std::to_string(result) + ")"});
}

void journalReset(const CameraEntry& camera, bool accepted, long result) {
    changeJournal().append({{},
                            "reset",
                            fieldUtf8(camera.szMac),
                            networkSummary(camera),
                            "factory settings",
                            accepted ? "accepted" : "failed (" + std::to_string(result) + ")"});
}

void journalFirmware(const CameraEntry& camera, const std::string& fromVersion,
                     const std::string& toVersion, bool accepted, const std::string& detail) {
    changeJournal().append(
        {{},
         "firmware",
         fieldUtf8(camera.szMac),
         fromVersion,
         toVersion,
         accepted ? "accepted" : "failed" + (detail.empty() ? "" : " (" + detail + ")")});
}

}  // namespace lanrove
