#pragma once
// A file descriptor closed when it goes out of scope, so that every early return closes it.
#include <unistd.h>

namespace lanrove {

class UniqueFd {
  public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

}  // namespace lanrove
