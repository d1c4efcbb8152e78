#include "support/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "support/unique_fd.h"

namespace lanrove {

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

bool writePrivateFile(const std::filesystem::path& path, const std::string& text) {
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
