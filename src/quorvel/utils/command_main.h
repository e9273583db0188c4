#pragma once
// The outermost frame of every command: whatever escapes the command's body ends as one line on
// standard error ("<program>: <what went wrong>") and exit status 1, never as an abort with
// "terminate called". The statuses the body returns itself (0, 2 for usage errors) pass through.
//
// SIGPIPE and SIGXFSZ are ignored for the whole process before the body runs (and so before any
// thread starts): a write to a socket or pipe whose reader has gone (a Redis server killed
// mid-flush, `| head`) then fails with EPIPE, and a write beyond the file-size limit with EFBIG,
// which the code handles as ordinary errors, instead of killing the command without a word.
#include <csignal>
#include <exception>
#include <iostream>
#include <string_view>

namespace quorvel {

template <class Body>
int run_main(std::string_view program, Body&& body) noexcept {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    return body();
  } catch (const std::exception& e) {
    try {
      std::cerr << program << ": " << e.what() << "\n";
    } catch (...) {
    }
  } catch (...) {
    try {
      std::cerr << program << ": 未知错误\n";
    } catch (...) {
    }
  }
  return 1;
}

}  // namespace quorvel
