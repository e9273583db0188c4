#pragma once
// Files replaced whole: a reader sees the old file or the new one, never a part of either.
#include <filesystem>
#include <string>

namespace quorvel {

// Writes `text` to `path` through a temporary file in the same folder and a rename; creates the
// folder. On any failure the temporary file is removed and a RuntimeError gives the file and the
// reason. Safe to call from several threads and processes at once (each writer has its own
// temporary name; the last rename wins).
void write_file_atomically(const std::filesystem::path& path, const std::string& text);

// The whole content of `path` in one read; a RuntimeError naming the file when it cannot be read
// (a directory included).
std::string read_whole_file(const std::filesystem::path& path);

}  // namespace quorvel
