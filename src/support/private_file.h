#pragma once
// Files the program writes for itself (logs, the changes journal, reports, the pin store):
// opened without following a symbolic link at the file's own name, created with a private
// mode, and refused unless they are regular files. A link planted where a log goes (by another
// user, or for root to follow into a system file) is never written through.

#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace lanrove {

enum class PrivateWrite {
    Append,    // keep what is there, write at the end
    Truncate,  // start the file over
};

// A descriptor open for writing (close-on-exec), or -1 with errno set: ELOOP for a symbolic
// link, EINVAL for anything but a regular file. `mode` applies only when the file is created.
int openPrivateFile(const std::filesystem::path& file, PrivateWrite how, mode_t mode = 0600);

// The same as a stdio stream ("ab" or "wb"); nullptr on failure.
std::FILE* fopenPrivateFile(const std::filesystem::path& file, PrivateWrite how,
                            mode_t mode = 0600);

// Writes all of `bytes` to a descriptor; false (errno set) on failure.
bool writeAll(int fd, std::string_view bytes);

// Replaces `file`'s content with `bytes` (created 0600). False and errno set on failure.
bool writePrivateFile(const std::filesystem::path& file, std::string_view bytes);

// Reads the whole file (at most `maxBytes`). False when it is missing, is no regular file, is
// a symbolic link or cannot be read; `text` is then empty.
bool readPrivateFile(const std::filesystem::path& path, std::string& text,
                     std::size_t maxBytes = std::size_t{1} << 20);

// Replaces the file atomically: written to a new 0600 file beside it and renamed over it, so a
// reader never sees half a file and a symbolic link at the path is replaced, not followed.
bool replacePrivateFile(const std::filesystem::path& path, const std::string& text);

}  // namespace lanrove
