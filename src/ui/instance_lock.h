#pragma once
// One running copy per executable name: an exclusive lock on a file named after the
// executable's base name. A renamed copy takes another lock and runs beside the first. The
// kernel drops the lock when the process ends, however it ends.

#include <filesystem>
#include <string>

namespace lanrove::ui {

class InstanceLock {
  public:
    enum class Result {
        Acquired,        // this is the only running copy
        AlreadyRunning,  // another process holds the lock
        Unavailable,     // no private folder, or the file could not be opened: no guard
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // The folder of the lock files: $XDG_RUNTIME_DIR when set and absolute, else
    // /tmp/lanrove-setup-<uid>, created (0700) when missing.
    static std::filesystem::path defaultFolder();
    // A directory (not a link) of this user's that neither group nor others may write. The
    // lock is taken only in such a folder.
    static bool isPrivateFolder(const std::filesystem::path& folder);
    // "<baseName>.lock" in `folder`; in a folder shared by every user (sticky bit, as /tmp)
    // "<baseName>-<uid>.lock", so that the lock is per user.
    static std::filesystem::path lockFile(const std::filesystem::path& folder,
                                          const std::string& baseName);

    Result acquire(const std::string& baseName);
    Result acquire(const std::filesystem::path& folder, const std::string& baseName);
    void release();
    bool held() const { return m_fd >= 0; }
    const std::filesystem::path& path() const { return m_path; }

  private:
    int m_fd = -1;
    std::filesystem::path m_path;
};

}  // namespace lanrove::ui
