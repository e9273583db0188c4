#pragma once
// The shared logger. Messages are printf-style formats whose placeholders are filled from the
// arguments in order: %s (text, or the number text of a number), %d (integer), %r (text in single
// quotes), %f with precision such as %.2f / %.3f, and %% for a literal percent sign.
//
// Lines go to standard error and, after setup_logging, to a daily file under the log directory.
// Thread-safe.
#include <concepts>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include <spdlog/logger.h>

namespace quorvel {

// One argument of a log call.
struct LogArg {
  std::variant<std::string, long long, double, bool, std::monostate> value;  // monostate: absent (None)
};

template <class T>
LogArg to_log_arg(const T& v) {
  if constexpr (std::is_same_v<T, bool>) {
    return {v};
  } else if constexpr (std::is_integral_v<T>) {
    return {static_cast<long long>(v)};
  } else if constexpr (std::is_floating_point_v<T>) {
    return {static_cast<double>(v)};
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    return {std::string(std::string_view(v))};
  } else if constexpr (std::is_base_of_v<std::exception, T>) {
    return {std::string(v.what())};
  } else if constexpr (requires { v.has_value(); *v; }) {
    if (!v.has_value()) return {std::monostate{}};
    return to_log_arg(*v);
  } else {
    static_assert(sizeof(T) == 0, "unsupported log argument type");
  }
}

// Fills the placeholders of `format` from `args`. Missing arguments leave the placeholder as it is.
std::string format_printf(std::string_view format, std::span<const LogArg> args);

enum class LogLevel { debug, info, warning, error };

class Logger {
 public:
  template <class... A>
  void debug(std::string_view fmt, const A&... args) { log(LogLevel::debug, fmt, args...); }
  template <class... A>
  void info(std::string_view fmt, const A&... args) { log(LogLevel::info, fmt, args...); }
  template <class... A>
  void warning(std::string_view fmt, const A&... args) { log(LogLevel::warning, fmt, args...); }
  template <class... A>
  void error(std::string_view fmt, const A&... args) { log(LogLevel::error, fmt, args...); }

  template <class... A>
  void log(LogLevel level, std::string_view fmt, const A&... args) {
    if (!enabled(level)) return;
    if constexpr (sizeof...(A) == 0) {
      write(level, std::string(fmt));
    } else {
      const std::vector<LogArg> converted{to_log_arg(args)...};
      write(level, format_printf(fmt, converted));
    }
  }

  bool enabled(LogLevel level) const;
  void write(LogLevel level, const std::string& message);
  // Lines below `level` stay off the console (standard error); the log file still gets them. A
  // long run keeps its own progress lines readable this way while several analyses log at once.
  void set_console_level(LogLevel level);
  // The spdlog logger behind this facade (tests attach sinks to it).
  spdlog::logger& backend();
};

extern Logger logger;

// Directs the shared logger to `log_dir` (created when missing) at `level` ("DEBUG", "INFO",
// "WARNING", "ERROR"). A directory that cannot be created leaves file logging off and says so.
void setup_logging(const std::string& log_dir, const std::string& level = "INFO");

}  // namespace quorvel
