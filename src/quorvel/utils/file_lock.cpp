#include "quorvel/utils/file_lock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "contracts/errors.h"

namespace quorvel {

FileLock::FileLock(const std::filesystem::path& file) { lock(file, LOCK_EX); }

FileLock::FileLock(const std::filesystem::path& file, NoWait) { lock(file, LOCK_EX | LOCK_NB); }

void FileLock::lock(const std::filesystem::path& file, int operation) {
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) throw RuntimeError("无法打开锁文件 " + file.string() + ": " + std::strerror(errno));
  while (::flock(fd_, operation) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return;  // held elsewhere; held_ stays false
    const int err = errno;
    ::close(fd_);
    throw RuntimeError("无法锁定 " + file.string() + ": " + std::strerror(err));
  }
  held_ = true;
}

FileLock::~FileLock() {
  if (held_) ::flock(fd_, LOCK_UN);
  ::close(fd_);
}

}  // namespace quorvel
