#include "quorvel/utils/child_process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace quorvel {

namespace {

// The child running now, for the SIGTERM handler.
std::atomic<pid_t> running_child{0};

extern "C" void pass_on_sigterm(int) {
  if (const pid_t pid = running_child.load(); pid > 0) ::kill(pid, SIGTERM);
}

// Ctrl-C ignored and SIGTERM passed on while it lives; the earlier handlers afterwards.
class ChildSignals {
 public:
  ChildSignals() {
    struct sigaction ignore {}, pass {};
    ignore.sa_handler = SIG_IGN;
    pass.sa_handler = pass_on_sigterm;
    ::sigaction(SIGINT, &ignore, &old_int_);
    ::sigaction(SIGQUIT, &ignore, &old_quit_);
    ::sigaction(SIGTERM, &pass, &old_term_);
  }
  ~ChildSignals() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGQUIT, &old_quit_, nullptr);
    ::sigaction(SIGTERM, &old_term_, nullptr);
  }
  ChildSignals(const ChildSignals&) = delete;
  ChildSignals& operator=(const ChildSignals&) = delete;

 private:
  struct sigaction old_int_ {}, old_quit_ {}, old_term_ {};
};

std::runtime_error start_error(const std::filesystem::path& program, int error) {
  return std::runtime_error("无法启动 " + program.string() + ": " + std::strerror(error));
}

}  // namespace

ChildResult run_child(const std::filesystem::path& program, const std::vector<std::string>& args) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw start_error(program, errno);
  const ChildSignals signals;
  // The child starts with the default handling of the signals this process ignores or handles.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGQUIT, SIGTERM}) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned == 0) running_child.store(pid);
  ::close(pipe_fds[1]);
  if (spawned != 0) {
    ::close(pipe_fds[0]);
    throw start_error(program, spawned);
  }
  ChildResult result;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const std::size_t room = MAX_CHILD_OUTPUT - result.out.size();
    result.out.append(buffer, std::min(room, std::size_t(n)));
    result.truncated = result.truncated || std::size_t(n) > room;
  }
  ::close(pipe_fds[0]);
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("等待 " + program.string() + " 结束失败: " + std::strerror(errno));
  running_child.store(0);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  return result;
}

std::filesystem::path own_program_directory() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::runtime_error("无法确定本程序所在目录: " + ec.message());
  return self.parent_path();
}

}  // namespace quorvel
