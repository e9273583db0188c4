// libFuzzer entry: the text of the ETF universe file. Its readers are told of a bad file by a
// quorvel::RuntimeError only (what a YAML library throws is turned into one). A universe lists at
// least one fund, each code once and not empty; codes, names and categories are text fit to print.
#include <cstdint>
#include <set>
#include <string>

#include "contracts/errors.h"
#include "fuzz_support.h"
#include "quorvel/utils/etf_universe.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quorvel::EtfUniverse universe;
  try {
    universe = quorvel::parse_etf_universe(text, "etf.yaml");
  } catch (const quorvel::RuntimeError& e) {
    fuzz::check(fuzz::clean_text(e.what()), "the error text is printable");
    return 0;
  }
  fuzz::check(!universe.etfs.empty(), "a universe lists a fund");
  fuzz::check(fuzz::clean_text(universe.name), "the universe name is filtered");
  std::set<std::string> codes;
  for (const auto& e : universe.etfs) {
    fuzz::check(!e.code.empty() && codes.insert(e.code).second, "each code once, none empty");
    fuzz::check(fuzz::clean_text(e.code), "a code is text fit to print");
    fuzz::check(fuzz::clean_text(e.name) && fuzz::clean_text(e.category), "names and categories are filtered");
  }
  return 0;
}
