#pragma once
// An exclusive advisory lock on a file (flock), held for the life of the object. Keeps two processes
// from doing the same work at once (a market brief, a page index); the lock file is left in place.
#include <filesystem>

namespace quorvel {

class FileLock {
 public:
  // Blocks until the lock is held. A RuntimeError when the lock file cannot be opened.
  explicit FileLock(const std::filesystem::path& file);
  struct NoWait {};
  // Takes the lock only when it is free now; held() says whether it was.
  FileLock(const std::filesystem::path& file, NoWait);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return held_; }

 private:
  void lock(const std::filesystem::path& file, int operation);

  int fd_ = -1;
  bool held_ = false;
};

}  // namespace quorvel
