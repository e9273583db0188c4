#include "quorvel/agent/solvara/brief_cache.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <set>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/utils/atomic_file.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::solvara {

namespace {

void check_file_name_part(const std::string& part, const char* what) {
  if (part.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
    throw ValueError(fmt::format("[大盘 AI 简报] {} 不能包含路径分隔符: {}", what, part));
}

}  // namespace

namespace detail {
std::map<CacheKey, CachedBrief>& MEM_CACHE() {
  static auto* cache = new std::map<CacheKey, CachedBrief>();  // lives for the whole process
  return *cache;
}
std::map<CacheKey, std::unique_ptr<AsyncMutex>>& LOCKS() {
  static auto* locks = new std::map<CacheKey, std::unique_ptr<AsyncMutex>>();
  return *locks;
}
}  // namespace detail

std::string _normalize_date(const std::string& analysis_date) { return date_key(analysis_date); }

std::filesystem::path _cache_dir() {
  const std::filesystem::path dir = brief_cache_directory();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec && !std::filesystem::is_directory(dir))
    throw RuntimeError(fmt::format("[大盘 AI 简报] 无法创建缓存目录 {}: {}", dir.string(), ec.message()));
  return dir;
}

std::filesystem::path _cache_path(const std::string& market_type, const std::string& analysis_date) {
  const std::string market = upper_ascii(market_type);
  const std::string date = _normalize_date(analysis_date);
  check_file_name_part(market, "市场类型");
  check_file_name_part(date, "日期");
  return _cache_dir() / fmt::format("{}_{}_{}.md", market, date, detail::CACHE_VERSION);
}

std::filesystem::path _meta_cache_path(const std::string& market_type, const std::string& analysis_date) {
  auto path = _cache_path(market_type, analysis_date);
  std::string name = path.filename().string();
  name.replace(name.size() - 3, 3, ".meta.json");
  return path.replace_filename(name);
}

std::optional<CachedBrief> _load_disk_cache(const std::string& market_type, const std::string& analysis_date) {
  const auto path = _cache_path(market_type, analysis_date);
  if (!std::filesystem::exists(path)) return std::nullopt;
  try {
    std::string brief = read_whole_file(path);
    if (trim_text(brief).empty()) return std::nullopt;
    Meta meta = Meta::object();
    try {
      const auto meta_path = _meta_cache_path(market_type, analysis_date);
      if (std::filesystem::exists(meta_path)) {
        Meta parsed = Meta::parse(read_whole_file(meta_path));
        if (parsed.is_object()) meta = std::move(parsed);
      }
    } catch (const std::exception&) {
      // Unreadable or malformed metadata counts as none.
    }
    return CachedBrief{std::move(brief), std::move(meta)};
  } catch (const RuntimeError& e) {  // the file reader's report: permission, I/O, a directory in its place
    // The brief's flow reads the disk twice (before and after taking its lock): one warning for a
    // path that stays unreadable.
    static std::mutex mutex;
    static std::set<std::string> warned;
    std::lock_guard lock(mutex);
    if (warned.insert(path.string() + "\n" + e.what()).second)
      logger.warning("[大盘 AI 简报] 读取缓存失败 path=%s err=%s", path.string(), e.what());
    return std::nullopt;
  }
}

std::string meta_file_text(const Meta& meta) { return meta.dump(2, ' ', false, Meta::error_handler_t::replace); }

void _save_disk_cache(const std::string& market_type, const std::string& analysis_date, const std::string& brief,
                      const std::optional<Meta>& meta) {
  const auto path = _cache_path(market_type, analysis_date);
  try {
    write_file_atomically(path, brief);
    if (meta && !meta->empty())
      write_file_atomically(_meta_cache_path(market_type, analysis_date), meta_file_text(*meta));
    logger.debug("[大盘 AI 简报] 写缓存 path=%s bytes=%d", path.string(), brief.size());
  } catch (const std::filesystem::filesystem_error& e) {
    logger.warning("[大盘 AI 简报] 写缓存失败 path=%s err=%s", path.string(), e.what());
  } catch (const RuntimeError& e) {  // the atomic writer's own report of a failed write
    logger.warning("[大盘 AI 简报] 写缓存失败 path=%s err=%s", path.string(), e.what());
  }
}

AsyncMutex& _get_lock(const CacheKey& key) {
  auto& slot = detail::LOCKS()[key];
  if (!slot) slot = std::make_unique<AsyncMutex>();
  return *slot;
}

std::filesystem::path solvara_cache_file(const std::string& market_type, const std::string& analysis_date) {
  std::string market = upper_ascii(market_type);
  if (market == "ETF") market = "A";
  return _cache_path(market, analysis_date);
}

int clear_solvara_cache(const std::optional<std::string>& market_type) {
  auto& cache = detail::MEM_CACHE();
  if (!market_type) {
    const int n = int(cache.size());
    cache.clear();
    return n;
  }
  const std::string market = upper_ascii(*market_type);
  return int(std::erase_if(cache, [&](const auto& entry) { return entry.first.market == market; }));
}

}  // namespace quorvel::agent::solvara
