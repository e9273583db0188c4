#pragma once
// Command-line parsing shared by the programs: `-h` prints the help on standard output and ends
// with status 0; any usage error prints the message and the usage on standard error and ends with
// status 2. The range checks below replace CLI11's numeric validators, whose messages are English
// and print the bounds of a double ("0.000000 to 1797...").
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

namespace quorvel {

// Parses the command line; returns the exit status when the program must stop here.
inline std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << app.get_name() << ": " << e.what() << "\n\n" << app.help();
    return 2;
  }
  return std::nullopt;
}

// A whole number in [min, max] written in decimal. CLI11 prefixes the option's name, so a bad value
// reads "--concurrency: 取值应为 1 到 64 的整数，实际为 0".
inline CLI::Validator integer_range(long long min, long long max) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        long long value = 0;
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, value);
        if (ec == std::errc() && ptr == end && value >= min && value <= max) return {};
        return fmt::format("取值应为 {} 到 {} 的整数，实际为 {}", min, max, text);
      },
      fmt::format("{} 到 {} 的整数", min, max));
}

// A finite decimal number not below `min` (NaN and infinities are refused).
inline CLI::Validator number_at_least(double min) {
  return CLI::Validator(
      [min](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = text.empty() ? std::nan("") : std::strtod(text.c_str(), &end);
        if (end == text.c_str() + text.size() && std::isfinite(value) && value >= min) return {};
        return fmt::format("取值应为不小于 {} 的数，实际为 {}", min, text);
      },
      fmt::format("不小于 {} 的数", min));
}

}  // namespace quorvel
