// libFuzzer entry: the bytes of a pool file (watchlist). The pool commands catch quorvel::ValueError
// only, and print its text. A list holds each instrument once, each code made of code characters
// and in its canonical spelling when it has one (a code without one is kept as written for its own
// error later); written back one per line, the list reads the same.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/errors.h"
#include "fuzz_support.h"
#include "quorvel/utils/instrument_code.h"
#include "tarnel/code_list.h"

namespace {

bool code_chars(std::string_view code) {
  for (const char c : code)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
          c == '_'))
      return false;
  return !code.empty();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> codes;
  try {
    codes = tarnel::parse_code_list(bytes, "pool.txt");
  } catch (const quorvel::ValueError& e) {
    fuzz::check(fuzz::clean_text(e.what()), "the error text is printable");
    return 0;
  }
  std::set<std::string> seen;
  std::string again;
  for (const auto& code : codes) {
    fuzz::check(code_chars(code) && code.front() != '#', "a code is made of code characters");
    const auto canonical = quorvel::canonical_code(code);
    fuzz::check(!canonical || *canonical == code, "a code with a canonical spelling has it");
    fuzz::check(seen.insert(code).second, "each instrument once");
    again += code + "\n";
  }
  fuzz::check(tarnel::parse_code_list(again, "again.txt") == codes, "the list written back reads the same");
  return 0;
}
