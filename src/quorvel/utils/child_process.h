#pragma once
// Runs another program of this installation and waits for it: its standard output is captured (up
// to a bound), its standard error goes to ours, so the user sees its progress and warnings as they
// come. Blocking: call it off the event loop.
//
// While the child runs, the caller ignores Ctrl-C (SIGINT, SIGQUIT reach the child from the terminal
// anyway, and the child decides how to stop) and passes SIGTERM on to it; the child's status then
// tells the caller it was interrupted (130, 143).
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvel {

// Standard output kept of one child; the rest is read and dropped, and the result says so.
inline constexpr std::size_t MAX_CHILD_OUTPUT = std::size_t(64) << 20;

struct ChildResult {
  int status = 0;          // the exit status; 128 + the signal number when a signal ended it
  std::string out;         // standard output
  bool truncated = false;  // standard output passed MAX_CHILD_OUTPUT
};

// Runs `program` with `args` (not through a shell) in the current directory and environment.
// Throws std::runtime_error naming the program when it cannot be started.
ChildResult run_child(const std::filesystem::path& program, const std::vector<std::string>& args);

// A child's status that means it was stopped by Ctrl-C or SIGTERM.
inline bool interrupted_status(int status) { return status == 130 || status == 143; }

// The directory of the running program (its sibling programs live beside it).
std::filesystem::path own_program_directory();

}  // namespace quorvel
