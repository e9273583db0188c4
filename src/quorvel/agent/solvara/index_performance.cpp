#include "quorvel/agent/solvara/index_performance.h"

#include <cmath>
#include <map>

#include <fmt/format.h>

#include "quorvel/utils/market_indices.h"

namespace quorvel::agent::solvara {

namespace {

std::string two(double v) { return fmt::format("{:.2f}", v); }

double last_ema(const std::vector<double>& closes, int n) { return _ema(closes, n).back(); }

// "上方+1.23%" / "下方-0.50%" against the close; "—" for an EMA of zero.
std::string rel(double close, double ema) {
  if (ema == 0) return "—";
  return std::string(close >= ema ? "上方" : "下方") + signed_percent((close - ema) / ema * 100.0);
}

std::string trend_label(bool bull, bool bear, bool above20, double close, double ema20) {
  if (bull) return above20 ? "EMA5/20/60 多头" : "EMA5/20/60 多头（收盘跌破EMA20）";
  if (bear) return above20 ? "EMA5/20/60 空头（收盘已站上EMA20）" : "EMA5/20/60 空头";
  return close > ema20 ? "EMA20 支撑" : "EMA20 压制";
}

double mean_of(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return v.empty() ? 0.0 : sum / double(v.size());
}

void set_amplitude(const tarnel::BarTable& df, IndexPerformance& p) {
  if (!df.has_column("high") || !df.has_column("low")) return;
  const auto& high = df.column("high");
  const auto& low = df.column("low");
  const auto& close = df.column("close");
  std::vector<double> amp(df.rows(), std::nan(""));
  for (std::size_t i = 1; i < df.rows(); ++i) amp[i] = (high[i] - low[i]) / close[i - 1] * 100.0;
  p.amp_today = std::isnan(amp.back()) ? 0.0 : amp.back();
  std::vector<double> hist;
  for (std::size_t i = 0; i + 1 < amp.size(); ++i)
    if (!std::isnan(amp[i])) hist.push_back(amp[i]);
  if (hist.size() > 20) hist.erase(hist.begin(), hist.end() - 20);
  p.amp_avg20 = mean_of(hist);
}

}  // namespace

std::string signed_percent(double value) { return fmt::format("{:+.2f}%", value); }

namespace detail {
const std::string& STRATEGY_TABLE(const std::string& bias, const std::string& strength) {
  static const std::map<std::pair<std::string, std::string>, std::string> table{
      {{"避险", "强"}, "空仓等待"}, {{"避险", "中"}, "空仓等待"}, {{"避险", "弱"}, "空仓等待"},
      {{"偏空", "强"}, "空仓等待"}, {{"偏空", "中"}, "空仓等待"}, {{"偏空", "弱"}, "区间震荡"},
      {{"偏多", "强"}, "趋势跟随"}, {{"偏多", "中"}, "趋势跟随"}, {{"偏多", "弱"}, "区间震荡"},
      {{"震荡", "强"}, "区间震荡"}, {{"震荡", "中"}, "区间震荡"}, {{"震荡", "弱"}, "区间震荡"},
  };
  return table.at({bias, strength});
}
}  // namespace detail

IndexPerformance _calculate_index_performance(const std::optional<tarnel::BarTable>& maybe_df) {
  if (!maybe_df || maybe_df->rows() < 2) return IndexPerformance::too_little_data();
  const tarnel::BarTable& df = *maybe_df;
  const auto& closes = df.column("close");
  const auto& volumes = df.column("volume");
  IndexPerformance p;
  p.valid = true;
  p.close = closes.back();
  const double prev_close = closes[closes.size() - 2];
  p.pct_val = prev_close == 0 ? 0.0 : (p.close - prev_close) / prev_close * 100.0;

  const double vol = std::isnan(volumes.back()) ? 0.0 : volumes.back();
  std::vector<double> hist;
  const std::size_t from = volumes.size() - 1 > 5 ? volumes.size() - 6 : 0;
  for (std::size_t i = from; i + 1 < volumes.size(); ++i)
    if (!std::isnan(volumes[i])) hist.push_back(volumes[i]);
  const double vol_ma5 = mean_of(hist);
  p.ratio_val = vol_ma5 > 0 ? vol / vol_ma5 : 1.0;

  p.ema5 = last_ema(closes, 5);
  p.ema20 = last_ema(closes, 20);
  p.ema60 = last_ema(closes, 60);
  const bool above20 = p.close >= p.ema20;
  p.ema_bull = p.ema5 > p.ema20 && p.ema20 > p.ema60;
  p.ema_bear = p.ema5 < p.ema20 && p.ema20 < p.ema60;
  p.trend = trend_label(p.ema_bull, p.ema_bear, above20, p.close, p.ema20);
  p.ma_fact = std::string(above20 ? "收盘已站上 EMA20" : "收盘仍在 EMA20 下方") + "。收盘 " + two(p.close) +
              "；vs EMA5 " + two(p.ema5) + "（" + rel(p.close, p.ema5) + "）、vs EMA20 " + two(p.ema20) + "（" +
              rel(p.close, p.ema20) + "）、vs EMA60 " + two(p.ema60) + "（" + rel(p.close, p.ema60) + "）";
  set_amplitude(df, p);
  p.pct = signed_percent(p.pct_val);
  p.ratio = two(p.ratio_val);
  return p;
}

MarketVerdict _compute_market_verdict(const std::vector<IndexPerformance>& perfs) {
  std::vector<const IndexPerformance*> valid;
  for (const auto& p : perfs)
    if (p.valid) valid.push_back(&p);
  if (valid.empty()) return {"震荡", "弱", "空仓等待", "核心指数数据不足，保守处理"};

  const IndexPerformance& p1 = perfs[0].valid ? perfs[0] : *valid[0];
  const IndexPerformance* p2 = nullptr;
  for (std::size_t i = 1; i < perfs.size() && !p2; ++i)
    if (perfs[i].valid) p2 = &perfs[i];
  bool all_down = true;
  for (const auto* p : valid) all_down = all_down && p->pct_val < 0;

  std::string bias = "震荡";
  if ((p1.pct_val < 0 && p1.amp_avg20 > 0 && std::fabs(p1.pct_val) > p1.amp_avg20 * 1.5) ||
      (p1.pct_val < -2 && all_down)) {
    bias = "避险";
  } else if (p1.close < p1.ema20 && p1.ema5 < p1.ema20) {
    bias = "偏空";
  } else if (p1.close > p1.ema20 && p1.ema5 > p1.ema20) {
    bias = "偏多";
  }

  int score = 0;
  score += std::fabs(p1.pct_val) > 1.5;
  score += p1.ratio_val > 1.5;
  score += p1.ema_bull || p1.ema_bear;
  score += p2 && ((p1.pct_val >= 0) == (p2->pct_val >= 0));
  const std::string strength = score >= 3 ? "强" : score == 2 ? "中" : "弱";

  const std::string rationale = "第一指数 " + p1.pct + "、量比 " + p1.ratio + "、收盘" + (p1.close >= p1.ema20 ? "≥" : "<") +
                                "EMA20；强度命中 " + std::to_string(score) + "/4 项";
  return {bias, strength, detail::STRATEGY_TABLE(bias, strength), rationale};
}

}  // namespace quorvel::agent::solvara
