#include "quorvel/analysis/analysis_claims.h"

#include <unistd.h>

#include <algorithm>
#include <exception>

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <fmt/format.h>

#include "quorvel/report/message.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/logger.h"

namespace quorvel {

namespace {

bool same_key(const report::AnalysisKey& a, const report::AnalysisKey& b) {
  return a.code == b.code && a.date == b.date && a.llm_client_type == b.llm_client_type;
}

asio::awaitable<void> pause(std::chrono::milliseconds how_long) {
  asio::steady_timer timer(co_await asio::this_coro::executor, how_long);
  co_await timer.async_wait(asio::use_awaitable);
}

}  // namespace

AnalysisClaims::AnalysisClaims() : owner_(fmt::format("{}/{}", ::getpid(), report::new_message_id())) {}

asio::awaitable<bool> AnalysisClaims::try_take(report::AnalysisKey key) {
  auto claim = run_blocking(
      [key, owner = owner_] { return report::default_storage().claim_analysis(key, owner, LEASE); });
  const bool taken = co_await std::move(claim);
  if (taken) held_.push_back(std::move(key));
  co_return taken;
}

asio::awaitable<AnalysisClaims::Taken> AnalysisClaims::take(report::AnalysisKey key, const bool* stop) {
  Taken taken;
  while (!(stop && *stop)) {
    auto attempt = try_take(key);
    if (co_await std::move(attempt)) {
      taken.held = true;
      co_return taken;
    }
    if (!taken.waited)
      logger.warning("[分析占用] %s %s 正由另一个运行分析，等待它完成 (该运行若已中止，最多等待 %d 秒)", key.code,
                     key.date, std::chrono::duration_cast<std::chrono::seconds>(LEASE).count());
    taken.waited = true;
    auto wait = pause(POLL);
    co_await std::move(wait);
  }
  co_return taken;
}

asio::awaitable<void> AnalysisClaims::release(report::AnalysisKey key) {
  std::erase_if(held_, [&](const report::AnalysisKey& k) { return same_key(k, key); });
  try {
    auto free = run_blocking([key, owner = owner_] { report::default_storage().release_analysis(key, owner); });
    co_await std::move(free);
  } catch (const std::exception& e) {
    logger.warning("[分析占用] 无法释放 %s %s 的占用 (租约到期后自动失效): %s", key.code, key.date, e.what());
  }
}

void AnalysisClaims::release_all_now() noexcept {
  for (const auto& key : held_) {
    try {
      report::default_storage().release_analysis(key, owner_);
    } catch (const std::exception&) {
      // the claim runs out with its lease
    }
  }
  held_.clear();
}

asio::awaitable<void> AnalysisClaims::keep_renewed() {
  while (true) {
    auto wait = pause(LEASE / 3);
    co_await std::move(wait);
    if (held_.empty()) continue;
    auto renew = run_blocking([keys = held_, owner = owner_] {
      std::vector<report::AnalysisKey> lost;
      for (const auto& key : keys)
        if (!report::default_storage().claim_analysis(key, owner, LEASE)) lost.push_back(key);
      return lost;
    });
    try {
      const std::vector<report::AnalysisKey> lost = co_await std::move(renew);
      for (const auto& key : lost)
        logger.warning("[分析占用] %s %s 的占用已过期并被另一个运行接手，可能重复分析", key.code, key.date);
    } catch (const std::exception& e) {
      logger.warning("[分析占用] 续期失败，稍后重试: %s", e.what());
    }
  }
}

}  // namespace quorvel
