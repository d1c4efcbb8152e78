#pragma once
// Small private files of the data folder (the certificate pins): read and replaced without
// following a symbolic link planted at their path, created readable by the user only. Kept in
// one place so that every such file is opened the same way.

#include <filesystem>
#include <string>

namespace lanrove {

// Reads the whole file (at most `maxBytes`). False when it is missing, is no regular file, is
// a symbolic link or cannot be read; `text` is then empty.
bool readPrivateFile(const std::filesystem::path& path, std::string& text,
                     std::size_t maxBytes = std::size_t{1} << 20);
// Replaces the file with `text`: written to a new 0600 file beside it and renamed over it, so
// that a reader never sees half a file and a symbolic link at the path is replaced, not
// followed. False when it could not be written.
bool writePrivateFile(const std::filesystem::path& path, const std::string& text);

}  // namespace lanrove
