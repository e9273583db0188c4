#include "quorvel/analysis/batch_briefs.h"

#include <exception>

#include <asio/co_spawn.hpp>

#include "contracts/errors.h"
#include "quorvel/agent/solvara/market_brief.h"

namespace quorvel::batch {

asio::awaitable<std::string> BriefBoard::get(std::string market_type, std::string date) {
  const std::string market = market_type == "ETF" ? "A" : market_type;
  auto& entry = entries_[{market, date}];
  if (!entry) entry = std::make_unique<Entry>();
  Entry& e = *entry;  // entries are never removed: the reference outlives every suspension
  auto lock_op = e.mutex.lock();
  const auto guard = co_await std::move(lock_op);
  if (!e.text && !e.error) {
    ++requested_;
    try {
      auto fetch = agent::solvara::get_market_ai_brief(market, date, false, true);
      std::string text = co_await std::move(fetch);
      if (text.empty()) throw RuntimeError("大盘 AI 简报生成失败 (" + market + ")，分析无法继续。");
      e.text = std::move(text);
    } catch (const std::exception& ex) {
      e.error = ex.what();
    }
  }
  if (e.error) throw RuntimeError(*e.error);
  co_return *e.text;
}

void BriefBoard::prefetch(const asio::any_io_executor& executor, const std::string& market_type,
                          const std::string& date) {
  // The outcome stays on the board for the instruments that ask for it.
  asio::co_spawn(executor, get(market_type, date), [](std::exception_ptr, std::string) {});
}

}  // namespace quorvel::batch
