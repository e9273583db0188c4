#include "zerith/rule_pattern_service.h"

#include <filesystem>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_indices.h"
#include "quorvel/utils/market_type.h"
#include "zerith/pattern_scan.h"
#include "zerith/radar_item.h"
#include "zerith/radar_pool.h"
#include "zerith/strategy_engines.h"

namespace zerith {

RulePatternService::RulePatternService(std::shared_ptr<ScreenRankStore> ranks) : ranks_(std::move(ranks)) {}

std::pair<std::optional<IndexContext>, std::string> RulePatternService::index_context(const std::string& market,
                                                                                   const std::string& date) {
  const auto indices = quorvel::_get_indices_for_market(market == "ETF" ? "A" : market);
  if (indices.empty()) return {std::nullopt, "市场类型未知，无法确定基准指数"};
  const tarnel::MarketIndex& index = indices.front();
  const auto key = std::make_pair(std::string(index.code), date);
  {
    std::lock_guard lock(mutex_);
    if (const auto it = index_cache_.find(key); it != index_cache_.end()) return {*it->second, ""};
  }
  // Computed outside the lock: two threads may both compute the same context, with the same result.
  const tarnel::BarTable bars = tarnel::markets::get_any_ohlc(index, date);
  auto ctx = std::make_shared<const IndexContext>(
      index_context_from_bars(std::string(index.code), std::string(index.value), bars.tail(120)));
  std::lock_guard lock(mutex_);
  index_cache_.emplace(key, ctx);
  return {*ctx, ""};
}

Json RulePatternService::pre_screen_and_scan(const tarnel::BarTable& df, const std::string& symbol,
                                             const std::string& mode, double min_score, const Json& options) {
  ScanRequest req;
  req.symbol = symbol;
  req.mode = mode;
  req.min_score = min_score;
  req.options = options;
  if (!req.options.is_object()) req.options = Json::object();
  if (df.empty()) return scan_bars(df, req);
  const std::string date = df.last_date();
  const auto market = quorvel::get_market_type(symbol);
  if (market) {
    auto [ctx, why] = index_context(*market, date);
    req.index = std::move(ctx);
    req.index_reason = std::move(why);
  } else {
    req.index_reason = "代码 " + symbol + " 不属于已知市场，无法确定基准指数";
  }
  const bool want_rank = !(req.options.contains("universe_rank") && req.options["universe_rank"] == false);
  if (!want_rank) {
    req.universe_reason = "调用方未请求全市场排名";
  } else if (!market) {
    req.universe_reason = "代码不属于已知市场";
  } else {
    look_up_rank(req, *market, date);
  }
  return scan_bars(df, req);
}

void RulePatternService::look_up_rank(ScanRequest& req, const std::string& market, const std::string& date) {
  if (ranks_ && !ranks_unusable_) {
    try {
      if (const auto rank = ranks_->rank(market, date, req.symbol)) {
        req.universe = UniverseRank{rank->rank, rank->size};
        return;
      }
      if (const auto size = ranks_->size(market, date)) {
        req.universe_reason = "未进入 " + date + " " + market + " 市场筛选的幸存名单 (共 " + std::to_string(*size) + " 只)";
        return;
      }
    } catch (const quorvel::Error& e) {
      if (!ranks_unusable_.exchange(true))
        quorvel::logger.warning("全市场排名不可用，分析继续但不含 universe_rank: %s", e.what());
    } catch (const std::filesystem::filesystem_error& e) {
      if (!ranks_unusable_.exchange(true))
        quorvel::logger.warning("全市场排名不可用，分析继续但不含 universe_rank: 无法访问筛选排名库 %s: %s",
                                ranks_->file().string(), e.code().message());
    }
  }
  if (ranks_unusable_)
    req.universe_reason = "筛选排名库 " + ranks_->file().filename().string() + " 无法读取";
  else
    req.universe_reason = date + " 尚未运行 " + market + " 市场筛选 (quorvel-screen --market " + market + ")";
}

SignalEvent RulePatternService::get_strategy_signal(StrategyEngine engine, const tarnel::BarTable& df,
                                                    const std::string& symbol) {
  return compute_strategy_signal(engine, df, symbol);
}

Json RulePatternService::evaluate_opportunity_radar_item(const tarnel::BarTable& df, const std::string& symbol,
                                                         const std::string& name, const RadarThresholds& thresholds) {
  RadarRequest req{symbol, name, checked_thresholds(thresholds), std::nullopt, ""};
  // The index's daily 20-bar return only compares with daily bars.
  if (*req.thresholds.frequency == "daily" && !df.empty()) {
    if (const auto market = quorvel::get_market_type(symbol)) {
      auto [ctx, why] = index_context(*market, df.last_date());
      req.index = std::move(ctx);
      req.index_reason = std::move(why);
    } else {
      req.index_reason = "代码 " + symbol + " 不属于已知市场，无法确定基准指数";
    }
  }
  return evaluate_radar_item(df, req);
}

Json RulePatternService::analyze_opportunity_radar(const RadarPool& etf_pool, const RadarThresholds& thresholds) {
  // Checked once: a bad threshold is the caller's error, not a failure of every instrument.
  const RadarThresholds checked = checked_thresholds(thresholds);
  return analyze_radar_pool(etf_pool, *checked.frequency,
                            [&](const std::string& code, const std::string& name, const tarnel::BarTable& bars) {
                              return evaluate_opportunity_radar_item(bars, code, name, checked);
                            });
}

void install_pattern_service() {
  auto ranks = std::make_shared<ScreenRankStore>(default_rank_store_path(), false);
  quorvel::Service<PatternService>::install(std::make_shared<RulePatternService>(std::move(ranks)));
}

}  // namespace zerith
