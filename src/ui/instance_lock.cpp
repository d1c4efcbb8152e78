#include "ui/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace lanrove::ui {

InstanceLock::~InstanceLock() {
    release();
}

std::filesystem::path InstanceLock::defaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return runtime;
    // No runtime folder: one of this user's own in /tmp. Another user could hold a lock file
    // there, or a link in its place, so the lock never goes straight into /tmp.
    const std::filesystem::path own = "/tmp/lanrove-setup-" + std::to_string(::getuid());
    ::mkdir(own.c_str(), 0700);
    return own;
}

bool InstanceLock::isPrivateFolder(const std::filesystem::path& folder) {
    struct stat st {};
    // lstat: a link to someone else's folder does not count.
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::filesystem::path InstanceLock::lockFile(const std::filesystem::path& folder,
                                             const std::string& baseName) {
    // A base name never holds a slash; an empty one still gets a usable file name.
    std::string name = baseName.empty() ? std::string("lanrove-setup") : baseName;
    // In a folder that every user shares (/tmp) each user has a lock of their own: one user's
    // copy must not hold back another's, nor their file (mode 0600) make it unusable.
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && (st.st_mode & S_ISVTX) != 0)
        name += "-" + std::to_string(::getuid());
    return folder / (name + ".lock");
}

InstanceLock::Result InstanceLock::acquire(const std::string& baseName) {
    return acquire(defaultFolder(), baseName);
}

InstanceLock::Result InstanceLock::acquire(const std::filesystem::path& folder,
                                           const std::string& baseName) {
    release();
    // Only a folder no one else may write keeps another user from holding the lock first.
    if (!isPrivateFolder(folder)) return Result::Unavailable;
    const std::filesystem::path file = lockFile(folder, baseName);
    // No symlink following, should the folder's owner have left one.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Result::AlreadyRunning : Result::Unavailable;
    }
    m_fd = fd;
    m_path = file;
    return Result::Acquired;
}

void InstanceLock::release() {
    if (m_fd < 0) return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace lanrove::ui
