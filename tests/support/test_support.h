#pragma once
// Helpers shared by the tests: temporary directories, captured log lines, environment overrides.
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>

namespace quorvel::testing {

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Sets (or unsets, with nullopt) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Records every message of the shared logger while it lives ("LEVEL|message" per line).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::vector<std::string> lines() const;
  bool contains(const std::string& text) const;

 private:
  class Sink;
  std::shared_ptr<Sink> sink_;
};

// Exit status and output of a program run to completion.
struct ProgramRun {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `program args` through the shell (arguments are shell words), capturing standard output
// and, through a file in `scratch`, standard error.
ProgramRun run_program(const std::string& program, const std::string& args, const std::filesystem::path& scratch);

// One isolated environment for a command: bars, reports and market briefs in a temp directory of
// its own, no message queue.
struct CommandSandbox {
  TempDir dir;
  ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  ScopedEnv briefs{"QUORVEL_SOLVARA_DIR", (dir / "briefs").string()};
  ScopedEnv reports{"REPORT_DIR", (dir / "report").string()};
  ScopedEnv mq{"QUORVEL_MQ_URL", std::nullopt};

  // Runs `program args` in the sandbox's directory.
  ProgramRun run_in(const std::string& program, const std::string& args) const {
    return run_program("cd '" + dir.path().string() + "' && '" + program + "'", args, dir.path());
  }
};

// N of the first "LLM 调用 N 次" in a command's cost line; -1 when there is none.
long llm_calls(const std::string& text);

// Directory of the test fixtures (tests/data).
std::filesystem::path test_data_dir();

// Writes `text` to `path`, creating parent directories.
void write_file(const std::filesystem::path& path, const std::string& text);
std::string read_file(const std::filesystem::path& path);

}  // namespace quorvel::testing
