#include "quorvel/utils/logger.h"

#include <filesystem>
#include <memory>
#include <mutex>

#include <fmt/printf.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "quorvel/utils/number_text.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel {

Logger logger;

namespace {

std::string text_of(const LogArg& a) {
  struct Visitor {
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(long long v) const { return std::to_string(v); }
    std::string operator()(double v) const { return number_text(v); }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(std::monostate) const { return "None"; }
  };
  return std::visit(Visitor{}, a.value);
}

// Text in single quotes, with backslashes and quotes escaped.
std::string repr_of(const LogArg& a) {
  const auto* s = std::get_if<std::string>(&a.value);
  if (!s) return text_of(a);
  std::string out = "'";
  for (char c : *s) {
    if (c == '\\' || c == '\'') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "'";
}

double real_of(const LogArg& a) {
  if (const auto* d = std::get_if<double>(&a.value)) return *d;
  if (const auto* i = std::get_if<long long>(&a.value)) return double(*i);
  if (const auto* b = std::get_if<bool>(&a.value)) return *b ? 1.0 : 0.0;
  return 0.0;
}

bool is_number(const LogArg& a) {
  return std::holds_alternative<double>(a.value) || std::holds_alternative<long long>(a.value) ||
         std::holds_alternative<bool>(a.value);
}

// Renders one conversion; `placeholder` is the full placeholder such as "%-8.2f".
std::string render(std::string_view placeholder, char conversion, const LogArg& arg) {
  std::string s(placeholder);
  switch (conversion) {
    case 's':
      s.back() = 's';
      return fmt::sprintf(s, text_of(arg));
    case 'r':
      s.back() = 's';
      return fmt::sprintf(s, repr_of(arg));
    case 'd':
    case 'i':
      if (!is_number(arg)) return text_of(arg);
      s.back() = 'd';
      return fmt::sprintf(s, static_cast<long long>(real_of(arg)));
    default:  // f, F, e, E, g, G
      if (!is_number(arg)) return text_of(arg);
      return fmt::sprintf(s, real_of(arg));
  }
}

// The console sink of the backend, made with it.
std::shared_ptr<spdlog::sinks::sink>& console_sink() {
  static std::shared_ptr<spdlog::sinks::sink> console = std::make_shared<spdlog::sinks::stderr_sink_mt>();
  return console;
}

std::shared_ptr<spdlog::logger> make_backend() {
  auto console = console_sink();
  auto backend = std::make_shared<spdlog::logger>("quorvel", console);
  backend->set_pattern("%Y-%m-%d %H:%M:%S.%e | %l | %v");
  backend->set_level(spdlog::level::info);
  backend->flush_on(spdlog::level::info);
  return backend;
}

spdlog::logger& backend_instance() {
  static std::shared_ptr<spdlog::logger> backend = make_backend();
  return *backend;
}

spdlog::level::level_enum to_spdlog(LogLevel level) {
  switch (level) {
    case LogLevel::debug: return spdlog::level::debug;
    case LogLevel::info: return spdlog::level::info;
    case LogLevel::warning: return spdlog::level::warn;
    case LogLevel::error: return spdlog::level::err;
  }
  return spdlog::level::info;
}

spdlog::level::level_enum parse_level(const std::string& level) {
  if (level == "DEBUG" || level == "debug") return spdlog::level::debug;
  if (level == "WARNING" || level == "warning" || level == "WARN") return spdlog::level::warn;
  if (level == "ERROR" || level == "error") return spdlog::level::err;
  return spdlog::level::info;
}

}  // namespace

std::string format_printf(std::string_view format, std::span<const LogArg> args) {
  std::string out;
  out.reserve(format.size() + 16 * args.size());
  std::size_t next_arg = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < format.size() && std::string_view("-+ 0#").find(format[j]) != std::string_view::npos) ++j;
    while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) ++j;
    if (j < format.size() && format[j] == '.') {
      ++j;
      while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) ++j;
    }
    if (j >= format.size() || std::string_view("sdirfFeEgG").find(format[j]) == std::string_view::npos ||
        next_arg >= args.size()) {
      out += c;  // not a placeholder we fill: keep the text as written
      continue;
    }
    out += render(format.substr(i, j - i + 1), format[j], args[next_arg++]);
    i = j;
  }
  return out;
}

bool Logger::enabled(LogLevel level) const { return backend_instance().should_log(to_spdlog(level)); }

// Every line passes the outside-text filter: messages carry error bodies, replies and names from
// outside, and neither a terminal control nor a secret may reach the console or the log file.
void Logger::write(LogLevel level, const std::string& message) {
  backend_instance().log(to_spdlog(level), outside_text(message));
}

spdlog::logger& Logger::backend() { return backend_instance(); }

void Logger::set_console_level(LogLevel level) {
  backend_instance();  // the console sink belongs to the backend
  console_sink()->set_level(to_spdlog(level));
}

void setup_logging(const std::string& log_dir, const std::string& level) {
  static std::mutex mutex;
  static std::shared_ptr<spdlog::sinks::sink> file_sink;
  std::lock_guard lock(mutex);
  spdlog::logger& backend = backend_instance();
  backend.set_level(parse_level(level));
  std::error_code ec;
  std::filesystem::create_directories(log_dir, ec);
  if (ec) {
    backend.warn("无法创建日志目录 {}: {}；仅输出到控制台", log_dir, ec.message());
    return;
  }
  try {
    auto file = std::make_shared<spdlog::sinks::daily_file_sink_mt>(
        (std::filesystem::path(log_dir) / "quorvel.log").string(), 0, 0);
    auto& sinks = backend.sinks();
    std::erase(sinks, file_sink);  // a second call replaces the file sink
    file_sink = file;
    sinks.push_back(file);
  } catch (const spdlog::spdlog_ex& e) {
    backend.warn("无法打开日志文件 (目录 {}): {}；仅输出到控制台", log_dir, e.what());
  }
}


}  // namespace quorvel
