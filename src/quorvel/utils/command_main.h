#pragma once
// The outermost frame of every command: whatever escapes the command's body ends as one line on
// standard error ("<program>: <what went wrong>") and exit status 1, never as an abort with
// "terminate called". The statuses the body returns itself (0, 2 for usage errors) pass through.
#include <exception>
#include <iostream>
#include <string_view>

namespace quorvel {

template <class Body>
int run_main(std::string_view program, Body&& body) noexcept {
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
