#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include <fmt/format.h>

#include "quorvel/utils/logger.h"

namespace quorvel::testing {

TempDir::TempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() / fmt::format("quorvel-test-{:016x}", (uint64_t(rd()) << 32) | rd());
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* v = std::getenv(name_.c_str())) previous_ = v;
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

class LogCapture::Sink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<std::string> snapshot() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    lines_.push_back(fmt::format("{}|{}", spdlog::level::to_string_view(msg.level), msg.payload));
  }
  void flush_() override {}

 private:
  std::vector<std::string> lines_;
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()) {
  auto& backend = quorvel::logger.backend();
  backend.sinks().push_back(sink_);
  backend.set_level(spdlog::level::debug);
}

LogCapture::~LogCapture() {
  auto& backend = quorvel::logger.backend();
  std::erase(backend.sinks(), std::static_pointer_cast<spdlog::sinks::sink>(sink_));
  backend.set_level(spdlog::level::info);
}

std::vector<std::string> LogCapture::lines() const {
  return sink_->snapshot();
}

bool LogCapture::contains(const std::string& text) const {
  for (const auto& line : lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

long llm_calls(const std::string& text) {
  std::smatch m;
  return std::regex_search(text, m, std::regex("LLM 调用 (\\d+) 次")) ? std::stol(m[1]) : -1;
}

ProgramRun run_program(const std::string& program, const std::string& args, const std::filesystem::path& scratch) {
  const auto err_path = scratch / "stderr.txt";
  const std::string command = program + " " + args + " 2>" + err_path.string();
  ProgramRun r;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  std::size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = read_file(err_path);
  return r;
}

std::filesystem::path test_data_dir() { return QUORVEL_TEST_DATA_DIR; }

void write_file(const std::filesystem::path& path, const std::string& text) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}


}  // namespace quorvel::testing
