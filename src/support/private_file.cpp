#include "support/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace lanrove
