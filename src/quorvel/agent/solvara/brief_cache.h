#pragma once
// Storage of market briefs: the date normal form of cache keys, the cache directory and file names,
// the process-wide memory cache, the disk cache (brief Markdown plus JSON metadata) and the per-key
// coroutine locks.
//
// Thread-safety: the memory cache and the locks belong to the event-loop thread and are touched only
// from it. Disk files are replaced atomically (temporary file, then rename), so a crash never leaves
// a truncated brief for a later run to read.
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include <nlohmann/json.hpp>

#include "quorvel/agent/solvara/async_mutex.h"

namespace quorvel::agent::solvara {

namespace detail {
// Part of every cache key and file name; raising it orphans all older cache files.
inline constexpr const char* CACHE_VERSION = "v4";
}  // namespace detail

using Meta = nlohmann::ordered_json;  // text keys to text values
using CachedBrief = std::pair<std::string, Meta>;

// (market, normalised date, version), compared by value.
struct CacheKey {
  std::string market;
  std::string date;
  std::string version;
  auto operator<=>(const CacheKey&) const = default;
};

namespace detail {
std::map<CacheKey, CachedBrief>& MEM_CACHE();
std::map<CacheKey, std::unique_ptr<AsyncMutex>>& LOCKS();
}  // namespace detail

// The part before the first "_", trimmed, at most 10 characters; "" stays "".
std::string _normalize_date(const std::string& analysis_date);
// The brief cache directory (quorvel/utils/environment.h), created when missing. A directory that
// cannot be created is a RuntimeError.
std::filesystem::path _cache_dir();
// <dir>/<MARKET>_<date>_<version>.md; a market or date with a path separator is a ValueError.
std::filesystem::path _cache_path(const std::string& market_type, const std::string& analysis_date);
std::filesystem::path _meta_cache_path(const std::string& market_type, const std::string& analysis_date);
// The cached brief and its metadata; nothing for a missing, blank or unreadable brief file.
std::optional<CachedBrief> _load_disk_cache(const std::string& market_type, const std::string& analysis_date);
// Writes the brief, then the metadata when non-empty. A write failure is logged, not raised.
void _save_disk_cache(const std::string& market_type, const std::string& analysis_date, const std::string& brief,
                      const std::optional<Meta>& meta = std::nullopt);
// The coroutine lock of a key, created on first use and kept for the life of the process.
AsyncMutex& _get_lock(const CacheKey& key);

// Path of the brief file of a market ("ETF" shares the "A" file) and date.
std::filesystem::path solvara_cache_file(const std::string& market_type, const std::string& analysis_date);
// Removes memory entries of one market (upper-cased, no ETF mapping) or of all; returns how many.
int clear_solvara_cache(const std::optional<std::string>& market_type = std::nullopt);

// The metadata file text: one member per line, two-space indent, non-ASCII kept, no final newline.
std::string meta_file_text(const Meta& meta);

}  // namespace quorvel::agent::solvara
