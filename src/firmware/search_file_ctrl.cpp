#include "firmware/search_file_ctrl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <system_error>

#include "support/text.h"
#include "support/trace_log.h"

namespace lanrove {

namespace fs = std::filesystem;

namespace {

char16_t foldCase(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

struct Token {
    enum Kind { Literal, One, UpTo, Star } kind;
    char16_t ch = 0;
    std::size_t count = 0;  // UpTo: the most characters the run takes
};

std::vector<Token> tokenize(std::u16string_view pattern) {
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < pattern.size();) {
        const char16_t c = pattern[i];
        if (c == u'*') {
            // Consecutive stars match what one star matches.
            if (tokens.empty() || tokens.back().kind != Token::Star)
                tokens.push_back({Token::Star});
            ++i;
        } else if (c == u'?') {
            std::size_t end = i;
            while (end < pattern.size() && pattern[end] == u'?') ++end;
            if (end < pattern.size() && pattern[end] == u'.') {
                tokens.push_back({Token::UpTo, 0, end - i});
            } else {
                for (std::size_t k = i; k < end; ++k) tokens.push_back({Token::One});
            }
            i = end;
        } else {
            tokens.push_back({Token::Literal, foldCase(c)});
            ++i;
        }
    }
    return tokens;
}

// Orders names the same way on every listing: without regard to case first, then exactly.
bool listedBefore(const std::string& a, const std::string& b) {
    const std::string ua = upperAscii(a);
    const std::string ub = upperAscii(b);
    return ua != ub ? ua < ub : a < b;
}

bool isRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string errorText(int code) {
    std::string text = std::system_category().message(code);
    if (text.size() > 1024) text.resize(1024);
    return text;
}

}  // namespace

bool MatchFileName(std::string_view pattern, std::string_view name) {
    const std::vector<Token> tokens = tokenize(fromUtf8(pattern));
    const std::u16string text = fromUtf8(name);
    const std::size_t n = text.size();
    // next[j]: the tokens after the current one match text[j..]; filled from the last token.
    std::vector<char> next(n + 1, 0);
    next[n] = 1;
    std::vector<char> cur(n + 1, 0);
    for (std::size_t t = tokens.size(); t-- > 0;) {
        const Token& tok = tokens[t];
        for (std::size_t j = n + 1; j-- > 0;) {
            bool ok = false;
            switch (tok.kind) {
                case Token::Literal:
                    ok = j < n && foldCase(text[j]) == tok.ch && next[j + 1] != 0;
                    break;
                case Token::One:
                    ok = j < n && next[j + 1] != 0;
                    break;
                case Token::UpTo:
                    for (std::size_t k = 0; k <= tok.count && j + k <= n && !ok; ++k)
                        ok = next[j + k] != 0;
                    break;
                case Token::Star:
                    ok = next[j] != 0 || (j < n && cur[j + 1] != 0);
                    break;
            }
            cur[j] = ok ? 1 : 0;
        }
        next.swap(cur);
    }
    return next[0] != 0;
}

// Own lock first, then the shared one; released in the opposite order. Without a shared lock
// the trace log says so on every step.
class CSearchFileCtrl::BothLocks {
  public:
    // `firstLine` is written between taking the own lock and the shared one.
    explicit BothLocks(const CSearchFileCtrl& ctrl, const char* firstLine = nullptr)
        : m_ctrl(ctrl), m_own(ctrl.m_csOwn) {
        if (firstLine != nullptr) m_ctrl.m_log.traceText(1, firstLine);
        if (m_ctrl.m_pShared != nullptr)
            m_ctrl.m_pShared->lock();
        else
            m_ctrl.m_log.traceText(1, "not EnterCriticalSection ");
    }
    ~BothLocks() {
        if (m_ctrl.m_pShared != nullptr)
            m_ctrl.m_pShared->unlock();
        else
            m_ctrl.m_log.traceText(1, "not LeaveCriticalSection ");
    }
    BothLocks(const BothLocks&) = delete;
    BothLocks& operator=(const BothLocks&) = delete;

  private:
    const CSearchFileCtrl& m_ctrl;
    std::lock_guard<std::mutex> m_own;
};

CSearchFileCtrl::CSearchFileCtrl(TraceLog& log) : m_log(log) {}

CSearchFileCtrl::~CSearchFileCtrl() = default;

void CSearchFileCtrl::SetSharedLock(std::mutex* sharedLock) {
    const std::lock_guard<std::mutex> own(m_csOwn);
    m_pShared = sharedLock;
}

void CSearchFileCtrl::SetReadLimit(std::uint64_t bytes) {
    const std::lock_guard<std::mutex> own(m_csOwn);
    m_qwReadLimit = bytes;
}

int CSearchFileCtrl::SetFolder(const fs::path& path) {
    const std::lock_guard<std::mutex> own(m_csOwn);
    m_folder.clear();
    m_bListing = false;
    m_listing.clear();
    const fs::path folder = fs::path(path).remove_filename();
    std::error_code ec;
    if (!folder.empty() && fs::is_directory(folder, ec)) {
        m_folder = folder;
        m_wState = kStateFolderExists;
    } else {
        m_wState = kStateFolderMissing;
    }
    return 0;
}

int CSearchFileCtrl::SelectFile(const fs::path& path) {
    const std::lock_guard<std::mutex> own(m_csOwn);
    if (m_wState < kStateFolderExists) return -1;
    std::string name = path.filename().string();
    m_bListing = false;
    m_listing.clear();
    m_qwFileSize = 0;
    if (!name.empty() && !isRegularFile(m_folder / name)) {
        // A case-sensitive file system: take the listed name that differs only in case.
        std::vector<std::string> candidates;
        std::error_code ec;
        for (fs::directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::string listed = it->path().filename().string();
            if (asciiEqualsNoCase(listed, name) && isRegularFile(it->path()))
                candidates.push_back(std::move(listed));
        }
        std::sort(candidates.begin(), candidates.end(), listedBefore);
        if (!candidates.empty()) name = candidates.front();
    }
    m_strFileName = name;
    std::error_code ec;
    if (!name.empty() && isRegularFile(m_folder / name)) {
        const auto size = fs::file_size(m_folder / name, ec);
        m_qwFileSize = ec ? 0 : size;
        m_wState = kStateFileSelected;
    } else {
        m_wState = kStateFileMissing;
    }
    return 0;
}

void CSearchFileCtrl::selectEntry(std::size_t index) {
    m_strFileName = m_listing[index];
    std::error_code ec;
    const auto size = fs::file_size(m_folder / m_strFileName, ec);
    m_qwFileSize = ec ? 0 : size;
    m_wState = kStateFileSelected;
}

int CSearchFileCtrl::StartSearch(std::string_view pattern) {
    const BothLocks locks(*this);
    m_qwFileSize = 0;
    m_dwBytesToRead = 0;
    m_nMatchCount = 0;
    m_strPattern.clear();
    m_bListing = false;
    m_listing.clear();
    if (m_wState <= kStateFolderMissing) return -1;
    m_strPattern = pattern;
    std::error_code ec;
    for (fs::directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        // Only regular files count: a folder is no firmware, and a pipe or device would
        // block or never end when read.
        if (MatchFileName(m_strPattern, name) && isRegularFile(it->path()))
            m_listing.push_back(std::move(name));
    }
    std::sort(m_listing.begin(), m_listing.end(), listedBefore);
    m_nMatchCount = static_cast<std::int32_t>(m_listing.size());
    if (m_listing.empty()) {
        // Nothing matches: no earlier selection may stand in for this search's file.
        m_strFileName.clear();
        m_wState = kStateFileMissing;
        return 0;
    }
    m_nListPos = 0;
    m_bListing = true;
    selectEntry(0);
    return 0;
}

int CSearchFileCtrl::NextFile() {
    const BothLocks locks(*this);
    if (m_wState <= kStateFileMissing || !m_bListing) return -1;
    if (m_nListPos + 1 < m_listing.size()) {
        selectEntry(++m_nListPos);
        return 0;
    }
    // The end of the listing: the last entry stays selected.
    if (m_nMatchCount > 1) selectEntry(m_listing.size() - 1);
    m_bListing = false;
    return -1;
}

int CSearchFileCtrl::CurrentFileName(std::string& name) {
    const BothLocks locks(*this);
    if (m_wState < kStateFileSelected) return -1;
    name = m_strFileName;
    return 0;
}

int CSearchFileCtrl::GetReadAllData(std::span<std::uint8_t> buffer, std::uint32_t& length) {
    return readLocked(&buffer, nullptr, length);
}

int CSearchFileCtrl::GetReadAllData(FirmwareImage& image, std::uint32_t& length) {
    image.reset();
    return readLocked(nullptr, &image, length);
}

int CSearchFileCtrl::readLocked(std::span<std::uint8_t>* buffer, FirmwareImage* image,
                                std::uint32_t& length) {
    length = 0;
    const BothLocks locks(*this, "GetReadAllData Start.");

    if (m_wState < kStateFileSelected) {
        m_log.traceText(1, "GetReadAllData No File Selected.");
        return kReadNotSelected;
    }
    const fs::path file = m_folder / m_strFileName;
    const std::string shown = file.string();
    if (!isRegularFile(file)) {
        m_log.trace(1, "GetReadAllData File Not Found(%s).", shown.c_str());
        return kReadVanished;
    }
    if (m_qwFileSize == 0) {
        m_log.trace(1, "GetReadAllData File Size Zero(%s).", shown.c_str());
        return kReadEmpty;
    }
    m_dwBytesToRead = 0;
    m_log.traceText(1, "GetReadAllData File Open.");
    // Non-blocking open: a file swapped for a pipe since the check must not hang the worker.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        m_log.trace(1, "GetReadAllData File Open Error(%d:%s)", err, errorText(err).c_str());
        return err;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    // The size now, not the size at selection: the file may have been replaced since.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_log.trace(1, "GetReadAllData File Not Found(%s).", shown.c_str());
        return kReadVanished;
    }
    m_qwFileSize = static_cast<std::uint64_t>(st.st_size);
    if (m_qwFileSize == 0) {
        m_log.trace(1, "GetReadAllData File Size Zero(%s).", shown.c_str());
        return kReadEmpty;
    }
    const std::uint64_t limit =
        buffer != nullptr ? std::min<std::uint64_t>(m_qwReadLimit, buffer->size()) : m_qwReadLimit;
    if (m_qwFileSize > limit || m_qwFileSize > UINT32_MAX) {
        m_log.trace(1, "GetReadAllData File Too Large (%llu/%llu)",
                    static_cast<unsigned long long>(m_qwFileSize),
                    static_cast<unsigned long long>(limit));
        return kReadTooLarge;
    }
    m_dwBytesToRead = static_cast<std::uint32_t>(m_qwFileSize);

    std::shared_ptr<std::vector<std::uint8_t>> copy;
    std::uint8_t* dest = nullptr;
    if (buffer != nullptr) {
        dest = buffer->data();
    } else {
        try {
            copy = std::make_shared<std::vector<std::uint8_t>>(m_dwBytesToRead);
        } catch (const std::bad_alloc&) {
            m_log.trace(1, "GetReadAllData No Memory (%lu)",
                        static_cast<unsigned long>(m_dwBytesToRead));
            return kReadNoMemory;
        }
        dest = copy->data();
    }

    m_log.traceText(1, "GetReadAllData File Read.");
    std::uint32_t done = 0;
    int readError = 0;
    while (done < m_dwBytesToRead) {
        const ssize_t n = ::read(fd, dest + done, m_dwBytesToRead - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            readError = errno;
            break;
        }
        if (n == 0) break;
        done += static_cast<std::uint32_t>(n);
    }
    m_log.traceText(1, "GetReadAllData File Close.");
    m_log.trace(1, "GetReadAllData File Read End Size (%llu/%lu)",
                static_cast<unsigned long long>(m_qwFileSize), static_cast<unsigned long>(done));
    length = done;
    if (readError != 0) {
        m_log.trace(1, "GetReadAllData File Read Error(%d:%s)", readError,
                    errorText(readError).c_str());
        return readError;
    }
    if (done < m_dwBytesToRead) {
        m_log.trace(1, "GetReadAllData File Short Read (%lu/%lu)", static_cast<unsigned long>(done),
                    static_cast<unsigned long>(m_dwBytesToRead));
        return kReadShort;
    }
    if (image != nullptr) *image = std::move(copy);
    return kReadOk;
}

std::uint16_t CSearchFileCtrl::State() const {
    const std::lock_guard<std::mutex> own(m_csOwn);
    return m_wState;
}

std::uint64_t CSearchFileCtrl::FileSize() const {
    const std::lock_guard<std::mutex> own(m_csOwn);
    return m_qwFileSize;
}

std::int32_t CSearchFileCtrl::MatchCount() const {
    const std::lock_guard<std::mutex> own(m_csOwn);
    return m_nMatchCount;
}

fs::path CSearchFileCtrl::Folder() const {
    const std::lock_guard<std::mutex> own(m_csOwn);
    return m_folder;
}

fs::path CSearchFileCtrl::SelectedPath() const {
    const std::lock_guard<std::mutex> own(m_csOwn);
    if (m_wState < kStateFileSelected) return {};
    return m_folder / m_strFileName;
}

}  // namespace lanrove
