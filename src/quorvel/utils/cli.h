#pragma once
// Command-line parsing shared by the programs: `-h` prints the help on standard output and ends
// with status 0; any usage error prints the message and the usage on standard error and ends with
// status 2.
#include <iostream>
#include <optional>

#include <CLI/CLI.hpp>

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

}  // namespace quorvel
