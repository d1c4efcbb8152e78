#include "app/list_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "app/setup_core.h"
#include "support/private_file.h"
#include "support/text.h"

namespace lanrove {

namespace {

constexpr const char16_t* kColumnKeys[kListColumnCount] = {
    u"MAIN_CAMERA_NO",          u"MAIN_CAMERA_STATUS",     u"MAIN_CAMERA_MODEL",
    u"MAIN_CAMERA_MAC_ADDRESS", u"MAIN_CAMERA_IP_ADDRESS", u"MAIN_CAMERA_PORT",
    u"MAIN_CAMERA_SSL",         u"MAIN_CAMERA_TITLE",      u"MAIN_CAMERA_FIRMWARE_VERSION",
};

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

void appendLine(std::string& out, const auto& cells) {
    bool first = true;
    for (const auto& cell : cells) {
        if (!first) out += ',';
        first = false;
        out += csvField(cell);
    }
    out += kLineEnd;
}

}  // namespace

ListHeaders listColumnHeaders(const SetupCore& core) {
    ListHeaders headers;
    for (std::size_t c = 0; c < headers.size(); ++c)
        headers[c] = core.text(u"MAIN_WINDOW", kColumnKeys[c]);
    return headers;
}

std::string csvField(std::u16string_view text) {
    // A cell a spreadsheet program would read as a formula (or as one after dropping a leading
    // tab or CR) starts with an apostrophe, which those programs show as plain text. Camera
    // titles are the camera owner's to choose, not ours to run.
    const bool formula = !text.empty() && std::u16string_view(u"=+-@\t\r").find(text.front()) !=
                                              std::u16string_view::npos;
    std::string utf8 = (formula ? "'" : "") + toUtf8(neutralisedText(text));
    const bool quote = utf8.find_first_of(",\"\r\n") != std::string::npos ||
                       (!utf8.empty() && (utf8.front() == ' ' || utf8.back() == ' '));
    if (!quote) return utf8;
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string listCsv(const CameraListModel& list, const ListHeaders& headers) {
    std::string out(kBom);
    appendLine(out, headers);
    for (int r = 0; r < list.rowCount(); ++r) appendLine(out, list.row(r));
    return out;
}

std::string listCsv(const SetupCore& core) {
    return listCsv(core.list(), listColumnHeaders(core));
}

bool saveFileReplacing(const std::filesystem::path& file, const std::string& bytes,
                       std::string& error) {
    // A saved list is an ordinary document: the kernel applies the umask to 0666 at creation
    // (no process-wide umask read-and-restore, which would race other threads). O_EXCL and
    // O_NOFOLLOW: the temporary name is never one planted by someone else.
    std::random_device random;
    std::string name;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        name = file.string() + suffix;
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = std::string("cannot create a file in ") + file.parent_path().string() + ": " +
                std::strerror(errno);
        return false;
    }
    int err = 0;
    if (!writeAll(fd, bytes)) err = errno;
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(name.c_str(), file.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(name.c_str());
        error = "cannot write " + file.string() + ": " + std::strerror(err);
        return false;
    }
    return true;
}

std::string onvifCsvRows(const std::vector<OnvifDevice>& devices) {
    std::string out;
    for (const OnvifDevice& d : devices) {
        const std::vector<std::string> cells = onvifRowTexts(d);
        for (std::size_t c = 0; c < cells.size(); ++c)
            out += (c == 0 ? "" : ",") + csvField(fromUtf8(cells[c]));
        out += "\r\n";
    }
    return out;
}

}  // namespace lanrove
