#include "quorvel/agent/solvara/market_brief.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <optional>
#include <tuple>

#include <asio/experimental/awaitable_operators.hpp>
#include <asio/multiple_exceptions.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "contracts/errors.h"
#include "contracts/market_blocks.h"
#include "contracts/report_store.h"
#include "quorvel/agent/solvara/brief_cache.h"
#include "quorvel/agent/solvara/brief_generation.h"
#include "quorvel/utils/file_lock.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::solvara {

using namespace asio::experimental::awaitable_operators;

namespace {

// Stores the brief and queues it for the message queue; a failure is only logged.
void push_to_mq(const std::string& market, const std::string& analysis_date, const std::string& content,
                const Meta& meta) {
  try {
    const auto text = [&](const char* key) {
      return meta.is_object() && meta.contains(key) && meta[key].is_string() ? meta[key].get<std::string>() : "";
    };
    const std::string normalized = _normalize_date(analysis_date);
    report::default_storage().save_solvara(report::SolvaraReport{
        market, content, normalized.empty() ? analysis_date : normalized, text("llm_client_type"), text("llm_model")});
  } catch (const std::exception& e) {
    logger.warning("[大盘 AI 简报] 推送 MQ 失败: %s", e.what());
  }
}

bool supported(const std::string& market) { return market == "A" || market == "HK" || market == "US"; }

// The file and store work of a brief runs on the worker pool, so many analyses waiting on one
// event loop never stall behind a disk or a database; the memory cache and the locks stay on the
// loop thread.
auto load_disk_async(const std::string& market, const std::string& date) {
  return run_blocking([market, date] { return _load_disk_cache(market, date); });
}
auto save_disk_async(const std::string& market, const std::string& date, const CachedBrief& brief) {
  return run_blocking([market, date, brief] { _save_disk_cache(market, date, brief.first, brief.second); });
}
auto publish_async(const std::string& market, const std::string& date, const CachedBrief& brief) {
  return run_blocking([market, date, brief] { push_to_mq(market, date, brief.first, brief.second); });
}

report::BriefKey shared_key(const CacheKey& key) { return {key.market, key.date, key.version}; }

// The copy another worker of a shared report store wrote, kept in this machine's cache folder too.
// Nothing when the store is not shared, holds no copy, or cannot be read (logged).
auto load_shared_async(const CacheKey& key, const std::string& date) {
  return run_blocking([key, date]() -> std::optional<CachedBrief> {
    try {
      const auto copy = report::default_storage().shared_brief(shared_key(key));
      if (!copy || copy->content.empty()) return std::nullopt;
      Meta meta = Meta::parse(copy->meta, nullptr, false);
      if (!meta.is_object()) meta = Meta::object();
      logger.info("[大盘 AI 简报] 命中共享报告库中的简报 | market=%s date=%s", key.market, date);
      _save_disk_cache(key.market, date, copy->content, meta);
      return CachedBrief{copy->content, meta};
    } catch (const std::exception& e) {
      logger.warning("[大盘 AI 简报] 读取共享报告库中的简报失败: %s", e.what());
      return std::nullopt;
    }
  });
}

auto save_shared_async(const CacheKey& key, const CachedBrief& brief) {
  return run_blocking([key, brief] {
    try {
      report::default_storage().save_shared_brief(shared_key(key), {brief.first, brief.second.dump()});
    } catch (const std::exception& e) {
      logger.warning("[大盘 AI 简报] 简报未能存入共享报告库 (其他机器会各自生成): %s", e.what());
    }
  });
}

// How long a worker waits for another machine's generation of the same brief (a model's answer
// and its retries) before it goes on without the lock.
constexpr auto SHARED_LOCK_WAIT = std::chrono::minutes(10);
constexpr auto SHARED_LOCK_POLL = std::chrono::milliseconds(50);

// The lock that keeps the workers of other machines from generating the same brief at once: taken
// by polling, so that waiting holds no worker-pool thread. Null when the store is not shared, or
// when the lock cannot be had (logged: the brief is still produced).
asio::awaitable<std::shared_ptr<report::SharedLock>> take_shared_lock(CacheKey key) {
  auto open = run_blocking([key]() -> std::shared_ptr<report::SharedLock> {
    try {
      return report::default_storage().brief_lock(shared_key(key));
    } catch (const std::exception& e) {
      logger.warning("[大盘 AI 简报] 无法取得跨机器的简报锁，继续生成: %s", e.what());
      return nullptr;
    }
  });
  std::shared_ptr<report::SharedLock> lock = co_await std::move(open);
  if (!lock) co_return nullptr;
  asio::steady_timer pause(co_await asio::this_coro::executor);
  const auto give_up = std::chrono::steady_clock::now() + SHARED_LOCK_WAIT;
  for (bool logged = false;;) {
    auto attempt = run_blocking([lock]() -> std::optional<std::string> {
      try {
        return lock->try_take() ? std::optional<std::string>() : std::optional<std::string>("");
      } catch (const std::exception& e) {
        return std::string(e.what());
      }
    });
    const std::optional<std::string> refused = co_await std::move(attempt);
    if (!refused) co_return lock;
    if (!refused->empty() || std::chrono::steady_clock::now() >= give_up) {
      logger.warning("[大盘 AI 简报] 未能取得跨机器的简报锁，继续生成 | market=%s date=%s %s", key.market, key.date,
                     refused->empty() ? "(等待超时)" : *refused);
      co_return nullptr;
    }
    if (!logged) logger.info("[大盘 AI 简报] 另一台机器正在生成同一份简报，等待 | market=%s date=%s", key.market, key.date);
    logged = true;
    pause.expires_after(SHARED_LOCK_POLL);
    auto wait = pause.async_wait(asio::use_awaitable);
    co_await std::move(wait);
  }
}

}  // namespace

std::string printed_form(const nlohmann::ordered_json& v) {
  if (v.is_object()) {
    std::string out = "{";
    bool first = true;
    for (auto it = v.begin(); it != v.end(); ++it) {
      out += (first ? "" : ", ") + quoted_text(it.key()) + ": " + printed_form(it.value());
      first = false;
    }
    return out + "}";
  }
  if (v.is_array()) {
    std::string out = "[";
    for (std::size_t i = 0; i < v.size(); ++i) out += (i ? ", " : "") + printed_form(v[i]);
    return out + "]";
  }
  if (v.is_string()) return quoted_text(v.get<std::string>());
  if (v.is_boolean()) return v.get<bool>() ? "True" : "False";
  if (v.is_null()) return "None";
  return v.dump();
}

asio::awaitable<MarketBlocksText> _fetch_market_blocks(std::string market_type, std::string analysis_date) {
  const std::string mt = upper_ascii(market_type);
  auto env_op =
      run_blocking([mt, analysis_date] { return market_blocks().format_market_environment_block(mt, analysis_date); });
  auto hist_op =
      run_blocking([mt, analysis_date] { return market_blocks().format_market_history_block(mt, 60, analysis_date); });
  auto ind_op =
      run_blocking([mt, analysis_date] { return market_blocks().format_market_indicator_block(mt, 60, analysis_date); });
  auto all_op = std::move(env_op) && std::move(hist_op) && std::move(ind_op);
  std::optional<std::tuple<TextBlock, TextBlock, TextBlock>> blocks;
  try {
    auto done = co_await std::move(all_op);
    blocks.emplace(std::move(done));
  } catch (const asio::multiple_exceptions& e) {
    // Several blocks failed, usually for one shared cause (the store, the date): report the first.
    std::rethrow_exception(e.first_exception());
  }
  auto& [env, hist, ind] = *blocks;
  if (env.first.empty()) {
    const auto& meta = env.second;
    const std::string reason = meta.is_object() && meta.contains("skip_reason") && meta["skip_reason"].is_string()
                                   ? meta["skip_reason"].get<std::string>()
                                   : "unknown";
    throw RuntimeError("[大盘 AI 简报] 大盘实时快照数据缺失 | market=" + mt + " date=" + analysis_date +
                       " reason=" + reason);
  }
  if (hist.first.empty())
    throw RuntimeError("[大盘 AI 简报] 大盘历史趋势数据缺失 | market=" + mt + " date=" + analysis_date +
                       " meta=" + printed_form(hist.second));
  co_return MarketBlocksText{env.first, hist.first, ind.first};
}

asio::awaitable<std::string> get_market_ai_brief(std::optional<std::string> market_type, std::string analysis_date,
                                                 bool force_regenerate, bool ensure_mq) {
  if (!market_type) co_return "";
  if (market_type->empty()) throw RuntimeError("[大盘 AI 简报] market_type 不能为空");
  std::string mt = upper_ascii(*market_type);
  if (mt == "ETF") mt = "A";
  if (!supported(mt)) throw RuntimeError("[大盘 AI 简报] 不支持的市场类型: " + *market_type);
  const CacheKey key{mt, _normalize_date(analysis_date), detail::CACHE_VERSION};
  auto& cache = detail::MEM_CACHE();

  if (!force_regenerate) {
    if (const auto it = cache.find(key); it != cache.end()) {
      logger.debug("[大盘 AI 简报] 命中内存缓存 | market=%s date=%s", mt, analysis_date);
      const CachedBrief hit = it->second;
      if (ensure_mq) {
        auto publish = publish_async(mt, analysis_date, hit);
        co_await std::move(publish);
      }
      co_return hit.first;
    }
    auto load = load_disk_async(mt, analysis_date);
    if (const std::optional<CachedBrief> hit = co_await std::move(load)) {
      logger.info("[大盘 AI 简报] 命中磁盘缓存 | market=%s date=%s 字数=%d", mt, analysis_date, count_code_points(hit->first));
      cache[key] = *hit;
      if (ensure_mq) {
        auto publish = publish_async(mt, analysis_date, *hit);
        co_await std::move(publish);
      }
      co_return hit->first;
    }
    // The worker that wrote the shared copy stored and queued the brief in that same store.
    auto shared = load_shared_async(key, analysis_date);
    if (const std::optional<CachedBrief> hit = co_await std::move(shared)) {
      cache[key] = *hit;
      co_return hit->first;
    }
  }

  auto blocks_op = _fetch_market_blocks(mt, analysis_date);
  const MarketBlocksText blocks = co_await std::move(blocks_op);
  auto lock_op = _get_lock(key).lock();
  const auto guard = co_await std::move(lock_op);
  // Workers of other machines sharing the report store: one generates, the others then read its copy.
  auto shared_lock_op = take_shared_lock(key);
  const auto shared_lock = co_await std::move(shared_lock_op);
  // Another process may be writing the same brief: wait for it, then read its file.
  const auto brief_path = _cache_path(mt, analysis_date);
  // Without a lock file (a read-only cache folder) the brief is still produced; only the guard
  // against a second process generating the same brief at the same moment is lost.
  auto file_lock_op = run_blocking([lock_path = brief_path.string() + ".lock"]() -> std::shared_ptr<FileLock> {
    try {
      return std::make_shared<FileLock>(lock_path);
    } catch (const std::exception& e) {
      logger.warning("[大盘 AI 简报] 无法使用跨进程锁文件，继续生成: %s", e.what());
      return nullptr;
    }
  });
  const auto file_lock = co_await std::move(file_lock_op);

  if (!force_regenerate) {
    if (const auto it = cache.find(key); it != cache.end()) co_return it->second.first;
    auto shared = load_shared_async(key, analysis_date);
    if (const std::optional<CachedBrief> hit = co_await std::move(shared)) {
      cache[key] = *hit;
      co_return hit->first;
    }
    auto load = load_disk_async(mt, analysis_date);
    if (const std::optional<CachedBrief> hit = co_await std::move(load)) {
      cache[key] = *hit;
      if (ensure_mq) {
        auto publish = publish_async(mt, analysis_date, *hit);
        co_await std::move(publish);
      }
      co_return hit->first;
    }
  } else {
    std::error_code ec;
    if (std::filesystem::remove(brief_path, ec))
      logger.info("[大盘 AI 简报] 已清理磁盘缓存以触发强制重推: %s", brief_path.filename().string());
  }

  auto generate_op =
      _generate_brief_via_llm(mt, analysis_date, blocks.environment, blocks.history, blocks.indicators);
  const GeneratedBrief brief = co_await std::move(generate_op);
  Meta meta = Meta::object();
  meta["llm_client_type"] = brief.client_type;
  meta["llm_model"] = brief.model_name;
  const CachedBrief fresh{brief.content, meta};
  cache[key] = fresh;
  auto save = save_disk_async(mt, analysis_date, fresh);
  co_await std::move(save);
  auto share = save_shared_async(key, fresh);
  co_await std::move(share);
  auto publish = publish_async(mt, analysis_date, fresh);
  co_await std::move(publish);
  co_return brief.content;
}

}  // namespace quorvel::agent::solvara
