#pragma once
// Command-line parsing shared by the programs: `-h` prints the help on standard output and ends
// with status 0; any usage error prints the message and the usage on standard error and ends with
// status 2 (a mistyped subcommand is named, with the nearest subcommand when one is near). The
// range checks below replace CLI11's numeric validators, whose messages are English and print the
// bounds of a double ("0.000000 to 1797...").
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel {

// Edits (insertion, deletion or substitution of a character, or swapping two neighbours) that turn
// `a` into `b`; characters are code points.
inline std::size_t edit_distance(std::string_view a, std::string_view b) {
  const auto code_points = [](std::string_view text) {
    std::u32string out;
    for (std::size_t pos = 0; pos < text.size();) out += decode_next(text, pos);
    return out;
  };
  const std::u32string x = code_points(a), y = code_points(b);
  // Three rows of the distance table: two back, the previous one and the current one.
  std::vector<std::size_t> before(y.size() + 1), previous(y.size() + 1), current(y.size() + 1);
  for (std::size_t j = 0; j <= y.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= y.size(); ++j) {
      const std::size_t change = x[i - 1] == y[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + change});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
        current[j] = std::min(current[j], before[j - 2] + 1);
    }
    before.swap(previous);
    previous.swap(current);
  }
  return previous[y.size()];
}

// The name nearest to `word` when it is near enough to be a slip of the keyboard: at most two edits
// and at most a third of the name's length (rounded up). The first of equally near names wins.
inline std::optional<std::string> nearest_name(std::string_view word, const std::vector<std::string>& names) {
  std::optional<std::string> best;
  std::size_t best_distance = 0;
  for (const std::string& name : names) {
    const std::size_t d = edit_distance(word, name);
    if (d > 2 || d > (count_code_points(name) + 2) / 3) continue;
    if (best && d >= best_distance) continue;
    best = name;
    best_distance = d;
  }
  return best;
}

// The names of the subcommands of `app`, in the order they were added.
inline std::vector<std::string> subcommand_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands(nullptr))
    if (!sub->get_name().empty() && !sub->get_disabled()) names.push_back(sub->get_name());
  return names;
}

// The first word of `args` (the arguments after the program name) when it should name a
// subcommand of `app` and names none. The options of `app` before it are skipped with their values
// ("--dir D", "--dir=D", "-dD", "-vd D"). Nothing when there is no such word, when `app` has no
// subcommands or takes positional arguments itself, or when an option before the word is not one of
// `app`'s (its values cannot be told from the word then).
inline std::optional<std::string> unknown_subcommand(const CLI::App& app, const std::vector<std::string>& args) {
  const auto positional = [](const CLI::Option* o) { return o->get_positional(); };
  if (subcommand_names(app).empty() || !app.get_options(positional).empty()) return std::nullopt;
  const auto takes_value = [](const CLI::Option* o) { return o->get_items_expected_min() > 0; };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") return std::nullopt;
    if (arg.rfind("--", 0) == 0) {
      const auto eq = arg.find('=');
      const CLI::Option* o = app.get_option_no_throw(arg.substr(0, eq));
      if (!o) return std::nullopt;
      if (eq == std::string::npos && takes_value(o)) ++i;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      // Short options, possibly several flags in one argument; a value may follow attached.
      for (std::size_t k = 1; k < arg.size(); ++k) {
        const CLI::Option* o = app.get_option_no_throw(std::string{'-', arg[k]});
        if (!o) return std::nullopt;
        if (!takes_value(o)) continue;
        if (k + 1 == arg.size()) ++i;
        break;
      }
      continue;
    }
    for (const CLI::App* sub : app.get_subcommands(nullptr))
      if (!sub->get_name().empty() && sub->check_name(arg)) return std::nullopt;
    return arg;
  }
  return std::nullopt;
}

// `<program>: 未知的子命令 "lst"。可用的子命令: list, show；是否想用 "list"？`
inline std::string unknown_subcommand_message(std::string_view program, const std::string& word,
                                              const std::vector<std::string>& names) {
  std::string names_text;
  for (const auto& name : names) names_text += (names_text.empty() ? "" : ", ") + name;
  std::string line = fmt::format("{}: 未知的子命令 \"{}\"。可用的子命令: {}", program, outside_text(word), names_text);
  if (const auto near = nearest_name(word, names)) line += fmt::format("；是否想用 \"{}\"？", *near);
  return line;
}

// Parses the command line; returns the exit status when the program must stop here.
inline std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    // A mistyped subcommand makes CLI11 complain about something else (a missing subcommand, an
    // unexpected argument): name the word and the subcommand it probably meant instead.
    // CLI11 names an unnamed app after argv[0] as given, directories included.
    const std::string named = !app.get_name().empty() ? app.get_name() : argc > 0 ? argv[0] : "";
    const std::string program = std::filesystem::path(named).filename().string();
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (const auto word = unknown_subcommand(app, args))
      std::cerr << unknown_subcommand_message(program, *word, subcommand_names(app)) << "\n\n" << app.help();
    else
      std::cerr << program << ": " << e.what() << "\n\n" << app.help();
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
