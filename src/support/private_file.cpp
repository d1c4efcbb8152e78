#include "support/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "support/unique_fd.h"

namespace lanrove {

int openPrivateFile(const std::filesystem::path& file, PrivateWrite how, mode_t mode) {
    // O_NONBLOCK: a FIFO planted at the name must not hang the open; it is refused below.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    flags |= how == PrivateWrite::Append ? O_APPEND : 0;
    const int fd = ::open(file.c_str(), flags, mode);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Cut only once the file is known to be a regular one.
    if ((how == PrivateWrite::Truncate && ::ftruncate(fd, 0) != 0) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::FILE* fopenPrivateFile(const std::filesystem::path& file, PrivateWrite how, mode_t mode) {
    const int fd = openPrivateFile(file, how, mode);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, how == PrivateWrite::Append ? "ab" : "wb");
    if (f == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return f;
}

bool writeAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool writePrivateFile(const std::filesystem::path& file, std::string_view bytes) {
    const int fd = openPrivateFile(file, PrivateWrite::Truncate);
    if (fd < 0) return false;
    const bool ok = writeAll(fd, bytes);
    const int error = errno;
    if (::close(fd) != 0 && ok) return false;
    errno = error;
    return ok;
}

bool readPrivateFile(const std::filesystem::path& path, std::string& text, std::size_t maxBytes) {
    text.clear();
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            text.clear();
            return false;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > maxBytes) {
            text.clear();
            return false;
        }
    }
    return true;
}

bool replacePrivateFile(const std::filesystem::path& path, const std::string& text) {
    std::random_device rd;
    const std::filesystem::path temp =
        path.string() + ".new" + std::to_string(::getpid()) + "-" + std::to_string(rd() % 100000);
    bool ok = false;
    {
        const UniqueFd fd(
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0) return false;
        std::size_t done = 0;
        ok = true;
        while (done < text.size()) {
            const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = false;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        ok = ok && ::fsync(fd.get()) == 0;
    }
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace lanrove
