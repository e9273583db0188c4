#include "quorvel/agent/schemas/plausibility.h"

#include <cmath>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/text.h"

namespace quorvel::agent::schemas {

namespace {

bool is_buy(std::string_view action) { return action == "强烈买入" || action == "建议买入" || action == "谨慎买入"; }

const DecisionFieldSpec& field(std::string_view name) {
  for (const DecisionFieldSpec& f : STOCK_DECISION_FIELDS)
    if (f.name == name) return f;
  throw std::logic_error("unknown decision field");
}

std::optional<std::string> out_of_bounds(std::string_view key, double v, double close) {
  const bool ratio = key == "rrr" || key == "rrr_max";
  if (!std::isfinite(v)) return fmt::format("{} 不是有限数值", key);
  if (v < 0) return fmt::format("{}={} 为负数", key, v);
  if (ratio && v > MAX_REWARD_RISK) return fmt::format("{}={} 超过 {}", key, v, MAX_REWARD_RISK);
  if (!ratio && std::isfinite(close) && close > 0 && v > MAX_PRICE_TO_CLOSE * close)
    return fmt::format("{}={} 超过收盘价 {} 的 {} 倍", key, v, close, MAX_PRICE_TO_CLOSE);
  return std::nullopt;
}

}  // namespace

namespace {

// Why the decision is about another instrument or day, or nothing.
std::optional<std::string> other_subject(const StockDecision& d, const AnalysedInstrument& instrument) {
  if (canonical_or_raw(trim_text(d.stock_code)) != canonical_or_raw(instrument.code))
    return fmt::format("决策的 stock_code={} 不是所分析的标的 {}", d.stock_code, instrument.code);
  if (date_key(d.analysis_time) != date_key(instrument.date))
    return fmt::format("决策的 analysis_time={} 不是分析日期 {}", d.analysis_time, instrument.date);
  const double close = instrument.close;
  if (d.current_price > 0 && std::isfinite(close) && close > 0 &&
      std::abs(d.current_price - close) > MAX_PRICE_MISMATCH * close)
    return fmt::format("决策的 current_price={} 与分析日收盘价 {} 相差超过 {}%", d.current_price, close,
                       MAX_PRICE_MISMATCH * 100);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> implausible_decision(const StockDecision& d, const AnalysedInstrument& instrument) {
  if (auto why = other_subject(d, instrument)) return why;
  std::vector<std::string_view> needed;
  if (is_buy(d.action)) {
    needed = {"entry_price_low", "entry_price_high", "stop_loss", "target_1", "target_2"};
  } else if (d.action == "观望等待" && (d.holder_action == "继续持有" || d.holder_action == "分批减仓")) {
    needed = {"stop_loss", "target_1"};
  }
  for (const std::string_view key : needed) {
    const double v = d.*field(key).real;
    if (!(v > 0))
      return fmt::format("action={} / holder_action={} 需要正的 {}，实际为 {}", d.action, d.holder_action, key, v);
  }
  for (const std::string_view key : DECISION_PRICE_KEYS)
    if (auto why = out_of_bounds(key, d.*field(key).real, instrument.close)) return why;
  return std::nullopt;
}

}  // namespace quorvel::agent::schemas
