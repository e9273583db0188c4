#include "quorvel/utils/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include "contracts/errors.h"

namespace quorvel {

void write_file_atomically(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  static std::atomic<unsigned> counter{0};
  const std::string tmp_name = path.string() + fmt::format(".tmp-{}-{}", ::getpid(), counter.fetch_add(1));
  const int fd = ::open(tmp_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw RuntimeError(fmt::format("无法创建文件 {}: {}", tmp_name, std::strerror(errno)));
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string why = n < 0 ? std::strerror(errno) : "写入了 0 字节";
      ::close(fd);
      ::unlink(tmp_name.c_str());
      throw RuntimeError(fmt::format("写入文件 {} 失败: {}", tmp_name, why));
    }
    written += std::size_t(n);
  }
  if (::close(fd) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(tmp_name.c_str());
    throw RuntimeError(fmt::format("写入文件 {} 失败: {}", tmp_name, why));
  }
  if (::rename(tmp_name.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(tmp_name.c_str());
    throw RuntimeError(fmt::format("无法把 {} 改名为 {}: {}", tmp_name, path.string(), why));
  }
}

std::string read_whole_file(const std::filesystem::path& path) {
  // A directory opens as a stream whose end lies at the largest offset: refuse it before sizing.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw RuntimeError(fmt::format("无法读取文件 {}: {}", path.string(), std::strerror(EISDIR)));
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw RuntimeError(fmt::format("无法读取文件 {}: {}", path.string(), std::strerror(errno)));
  std::string text(std::size_t(in.tellg()), '\0');
  in.seekg(0);
  if (!in.read(text.data(), std::streamsize(text.size())))
    throw RuntimeError(fmt::format("读取文件 {} 失败", path.string()));
  return text;
}

}  // namespace quorvel
