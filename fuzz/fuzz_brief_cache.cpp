// libFuzzer entry: the files of the market brief cache as the next run finds them. The input is the
// brief's Markdown, then, after the first NUL byte (when there is one), its metadata file; the first
// byte picks the market and date of the entry. Reading never throws (its caller does not catch); a
// blank brief counts as none, any other comes back as it was stored, with the metadata object of
// the file or an empty one; the metadata written again reads back the same.
#include <cstdint>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "quorvel/agent/solvara/brief_cache.h"
#include "quorvel/utils/text.h"

namespace solvara = quorvel::agent::solvara;

namespace {

void write(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

const std::filesystem::path& cache_dir() {
  static const auto dir =
      std::filesystem::temp_directory_path() / ("quorvel-fuzz-brief-" + std::to_string(::getpid()));
  return dir;
}

void remove_cache_dir() {
  std::error_code ec;
  std::filesystem::remove_all(cache_dir(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  // A cache folder of this process only, removed when it ends.
  std::filesystem::create_directories(cache_dir());
  std::atexit(remove_cache_dir);
  ::setenv("QUORVEL_SOLVARA_DIR", cache_dir().c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const MARKETS[] = {"A", "HK", "US", "ETF"};
  static const char* const DATES[] = {"2024-06-28", "2024-06-28_close", " 2025-01-02 ", "20240628"};
  const std::string market = MARKETS[data[0] & 3], date = DATES[(data[0] >> 2) & 3];
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto nul = input.find('\0');
  const std::string_view brief = input.substr(0, nul);

  write(solvara::_cache_path(market, date), brief);
  const auto meta_path = solvara::_meta_cache_path(market, date);
  std::optional<solvara::Meta> stored;
  if (nul != std::string_view::npos) {
    const std::string_view meta_text = input.substr(nul + 1);
    write(meta_path, meta_text);
    const auto parsed = solvara::Meta::parse(meta_text, nullptr, false);
    if (parsed.is_object()) stored = parsed;
  } else {
    std::filesystem::remove(meta_path);
  }

  const auto cached = solvara::_load_disk_cache(market, date);
  fuzz::check(cached.has_value() == !quorvel::trim_text(brief).empty(), "a blank brief counts as none");
  if (!cached) return 0;
  fuzz::check(cached->first == brief, "the brief comes back as stored");
  fuzz::check(cached->second.is_object(), "the metadata is an object");
  fuzz::check(stored ? cached->second == *stored : cached->second.empty(), "the metadata is the file's object or none");
  const auto again = solvara::Meta::parse(solvara::meta_file_text(cached->second), nullptr, false);
  fuzz::check(again == cached->second, "the metadata written again reads the same");
  return 0;
}
