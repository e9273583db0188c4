#include "offline/stock_prompt_fixture.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/core/stock_agent.h"
#include "quorvel/agent/offline/offline_client.h"
#include "quorvel/strategy/ai/constraints.h"
#include "quorvel/strategy/ai/trading_rules.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/number_text.h"
#include "contracts/dates.h"
#include "tarnel/rows_json.h"
#include "quorvel/ta/talib_calls.h"
#include "tarnel/technical.h"
#include "tarnel/weekly_bars.h"

namespace quorvel::testing {

namespace {

using Json = nlohmann::ordered_json;
using Series = std::vector<double>;

double r3(double v) { return std::isfinite(v) ? round_half_even(v, 3) : v; }

Series vwma(const tarnel::BarTable& t) {
  const Series& close = t.column("close");
  const Series& volume = t.column("volume");
  if (t.rows() < 20) return close;
  Series pv(close.size());
  for (std::size_t i = 0; i < close.size(); ++i) pv[i] = close[i] * volume[i];
  const Series num = quorvel::ta::talib::sma(pv, 20), den = quorvel::ta::talib::sma(volume, 20);
  Series out(close.size());
  for (std::size_t i = 0; i < close.size(); ++i) out[i] = num[i] / den[i];
  return out;
}

// Extremes of a column over the last n rows.
double lowest(const tarnel::BarTable& t, const char* col, std::size_t n) {
  const Series& v = t.column(col);
  return *std::min_element(v.end() - std::ptrdiff_t(std::min(n, v.size())), v.end());
}
double highest(const tarnel::BarTable& t, const char* col, std::size_t n) {
  const Series& v = t.column(col);
  return *std::max_element(v.end() - std::ptrdiff_t(std::min(n, v.size())), v.end());
}

// Weekly pivots of the previous week (the last weekly row may be the unfinished current week).
Json pivots(const tarnel::BarTable& weekly, bool fibonacci) {
  if (weekly.rows() < 2) return nullptr;
  const std::size_t w = weekly.rows() - 2;
  const double h = weekly.at("high", w), l = weekly.at("low", w), c = weekly.at("close", w);
  const double p = (h + l + c) / 3, range = h - l;
  if (fibonacci)
    return Json{{"week_end", weekly.date_at(w)}, {"P", r3(p)},          {"R1", r3(p + 0.382 * range)},
                {"R2", r3(p + 0.618 * range)},   {"R3", r3(p + range)}, {"S1", r3(p - 0.382 * range)},
                {"S2", r3(p - 0.618 * range)},   {"S3", r3(p - range)}};
  return Json{
      {"week_end", weekly.date_at(w)}, {"P", r3(p)},          {"R1", r3(2 * p - l)}, {"R2", r3(p + range)},
      {"R3", r3(h + 2 * (p - l))},     {"S1", r3(2 * p - h)}, {"S2", r3(p - range)}, {"S3", r3(l - 2 * (h - p))}};
}

std::string alignment(const tarnel::BarTable& d) {
  const double e5 = d.last("EMA_5"), e10 = d.last("EMA_10"), e20 = d.last("EMA_20");
  if (e5 > e10 && e10 > e20) return "bullish";
  if (e5 < e10 && e10 < e20) return "bearish";
  return "mixed";
}

Json trend_structure(const tarnel::BarTable& d) {
  const std::size_t n = d.rows();
  const double vw_now = d.last("VWMA"), vw_before = n > 3 ? d.at("VWMA", n - 4) : vw_now;
  const double adx_before = n > 3 ? d.at("ADX", n - 4) : d.last("ADX");
  const std::string a = alignment(d);
  return Json{{"ema_alignment", a == "bullish"   ? "多头"
                                : a == "bearish" ? "空头"
                                                 : "交织"},
              {"ema5", r3(d.last("EMA_5"))},
              {"ema10", r3(d.last("EMA_10"))},
              {"ema20", r3(d.last("EMA_20"))},
              {"ema60", r3(d.last("EMA_60"))},
              {"vwma", r3(vw_now)},
              {"vwma_slope", vw_now > vw_before   ? "positive"
                             : vw_now < vw_before ? "negative"
                                                  : "flat"},
              {"adx", r3(d.last("ADX"))},
              {"adx_change_3d", r3(d.last("ADX") - adx_before)},
              {"adx_slope", d.last("ADX") >= adx_before ? "rising" : "falling"},
              {"close_to_ema20_atr", r3((d.last("close") - d.last("EMA_20")) / d.last("ATR"))},
              {"atr", r3(d.last("ATR"))}};
}

Json zx_quant_signals(const std::string& market, const tarnel::BarTable& d) {
  std::vector<std::string> engines;
  if (market == "A") engines = {"ENGINE1_TREND", "ENGINE2_REVERSAL"};
  if (market == "ETF") engines = {"ENGINE1_TREND", "ENGINE2_REVERSAL", "ENGINE3_KAUFMAN"};
  if (market == "US") engines = {"US_DUAL_CORE"};
  if (engines.empty()) return Json{{"status", "unsupported_market"}, {"market", market}};
  Json all = Json::object();
  const bool bullish = alignment(d) == "bullish";
  for (const auto& name : engines) {
    const bool trend = name != "ENGINE2_REVERSAL";
    const double close = d.last("close"), atr = d.last("ATR");
    all[name] =
        Json{{"strategy_name", name},
             {"date", d.last_date()},
             {"buy_signal", trend && bullish},
             {"sell_signal", false},
             {"signal_tier", trend && bullish ? "B" : ""},
             {"state", trend ? (bullish ? "持有" : "震荡") : "观望"},
             {"stop_loss", trend && bullish ? Json(r3(close - 1.5 * atr)) : Json()},
             {"take_profit", trend && bullish ? Json(r3(close + 3 * atr)) : Json()},
             {"reason", trend ? fmt::format("EMA5/10/20 为 {:.3f}/{:.3f}/{:.3f}，ADX {:.1f}，{}", d.last("EMA_5"),
                                            d.last("EMA_10"), d.last("EMA_20"), d.last("ADX"),
                                            bullish ? "多头排列，回踩确认" : "未形成多头排列，无趋势买点")
                              : fmt::format("RSI {:.1f}，收盘 {:.3f} 在布林带 {:.3f}-{:.3f} 之间，没有超卖反转。",
                                            d.last("RSI"), close, d.last("lower_band"), d.last("upper_band"))},
             {"details", Json{{"close", r3(close)},
                              {"ADX", r3(d.last("ADX"))},
                              {"ATR", r3(atr)},
                              {"RSI", r3(d.last("RSI"))},
                              {"VWMA20", r3(d.last("VWMA"))},
                              {"Volume_Ratio", r3(d.last("Volume_Ratio"))},
                              {"MACD_hist", r3(d.last("MACD_hist"))},
                              {"upper_band", r3(d.last("upper_band"))},
                              {"lower_band", r3(d.last("lower_band"))},
                              {"aligned", bullish}}}};
  }
  return Json{{"status", "available"}, {"market", market}, {"engines", all}};
}

Json constraints_json(const ConstraintSet& c) {
  return Json{{"min_rrr", c.min_rrr},
              {"max_stop_dist_atr", c.max_stop_dist_atr},
              {"max_position_pct", c.max_position_pct},
              {"base_confidence_score", c.base_confidence_score},
              {"market_regime", c.market_regime}};
}

std::string pct_change(const tarnel::BarTable& d) {
  if (d.rows() < 2) return "0.00";
  const double prev = d.at("close", d.rows() - 2);
  return fmt::format("{:+.2f}", (d.last("close") - prev) / prev * 100);
}

}  // namespace

tarnel::BarTable with_analysis_columns(tarnel::BarTable t) {
  if (t.empty()) return t;
  // Create every indicator column first: set_ema, set_rsi and set_volume read a column through a
  // reference while adding columns, which is only safe when no column is added.
  for (const char* name : {"EMA_5",      "EMA_10",      "EMA_20",     "EMA_60",    "EMA_120",      "RSI",
                           "RSI_6",      "RSI_12",      "RSI_24",     "MACD",      "MACD_signal",  "MACD_hist",
                           "upper_band", "middle_band", "lower_band", "Volume_MA", "Volume_Ratio", "ATR",
                           "Volatility", "K",           "D",          "J"})
    t.set_column(name, std::vector<double>(t.rows(), std::nan("")));
  tarnel::technical::set_ema(t);
  tarnel::technical::set_rsi(t, 14);
  tarnel::technical::set_macd(t);
  tarnel::technical::set_boll(t);
  tarnel::technical::set_volume(t);
  tarnel::technical::set_kdj(t);
  t.set_column("VWMA", vwma(t));
  t.set_column("OBV", quorvel::ta::talib::obv(t.column("close"), t.column("volume")));
  t.set_column("ADX", quorvel::ta::talib::adx(t.column("high"), t.column("low"), t.column("close"), 14));
  t.set_column("MFI", quorvel::ta::talib::mfi(t.column("high"), t.column("low"), t.column("close"), t.column("volume"), 14));
  t.set_column("SAR", quorvel::ta::talib::sar(t.column("high"), t.column("low"), 0.02, 0.2));
  return t;
}

// Members and nesting as the pattern service writes them (rs_20d and the pullback figures under
// risk_metrics), with values computed from the bars; the index figures are not (no index bars here).
Json sample_pattern_info(const tarnel::BarTable& d, const tarnel::BarTable& weekly, const StockPromptCase& c) {
  const std::size_t n = d.rows();
  const std::string hint = alignment(d) == "bullish" ? "趋势跟随" : d.last("RSI") < 40 ? "底部反转" : "区间震荡";
  const auto high_at = std::max_element(d.column("high").end() - 20, d.column("high").end());
  const std::size_t high_row = std::size_t(high_at - d.column("high").begin());
  double vr_sum = 0;
  for (std::size_t i = high_row; i < n; ++i) vr_sum += d.at("Volume_Ratio", i);
  Json price_context = nullptr;
  if (c.with_price_context)
    price_context = Json{{"support", r3(std::min(lowest(d, "low", 20), d.last("EMA_20")))},
                         {"resistance", r3(std::max(highest(d, "high", 20), d.last("upper_band")))},
                         {"low_5d", r3(lowest(d, "close", 5))},
                         {"low_20d", r3(lowest(d, "low", 20))},
                         {"high_20d", r3(highest(d, "high", 20))},
                         {"ema20", r3(d.last("EMA_20"))},
                         {"upper_band", r3(d.last("upper_band"))}};
  Json out{
      {"symbol", c.code},
      {"as_of", d.last_date()},
      {"mode", "all"},
      {"bars", n},
      {"pre_screen_passed", true},
      {"total_score", 5.5},
      {"strategy_type", hint},
      {"pre_screen", Json{{"passed", true},
                          {"min_score", 3.0},
                          {"strategy_hint", hint},
                          {"priority_score", 2.5},
                          {"data_sufficient", true},
                          {"setup_scores", Json{{"趋势跟随", hint == "趋势跟随" ? 5.5 : 0.0},
                                                {"等待突破", 0.0},
                                                {"底部反转", hint == "底部反转" ? 5.5 : 0.0}}},
                          {"risk_penalty", 0.0}}},
      {"signal_confluence", Json{{"score", 2}, {"families", {"均线结构", "量能"}}, {"signals", {"均线多头", "放量"}}}},
      {"urgency", "MEDIUM"},
      {"urgency_reason", "近 5 根K线内出现触发信号"},
      {"universe_rank", nullptr},
      {"universe_size", nullptr},
      {"universe_rank_reason", d.last_date() + " 尚未运行市场筛选"},
      {"price_context", price_context},
      {"classic_pivot_points", pivots(weekly, false)},
      {"fibonacci_pivot_points", pivots(weekly, true)},
      {"trend_structure", trend_structure(d)},
      {"candle_patterns", Json::array()},
      {"risk_flags", c.risk_flags},
      {"risk_metrics", Json{{"pullback_depth_pct", r3((*high_at - d.last("close")) / *high_at * 100)},
                            {"pullback_days", n - 1 - high_row},
                            {"pullback_avg_vr", r3(vr_sum / double(n - high_row))},
                            {"swing_high_date", d.date_at(high_row)},
                            {"rs_20d", r3((d.last("close") / d.at("close", n - 21) - 1) * 100)},
                            {"rs_20d_index", "—"}}},
      {"market_context", Json{{"index", "—"}, {"as_of", d.last_date()}, {"vol_regime", c.vol_regime}}},
      {"zx_quant_signals", zx_quant_signals(c.market, d)},
      {"calculated_constraints", constraints_json(c.constraints)}};
  if (c.real_constraints) out["calculated_constraints"] = strategy::ai::_calculate_constraints(c.bias, out, d, weekly);
  const strategy::ai::InstrumentFacts instrument{.code = c.code,
                                                 .name = c.name.empty() ? c.code : c.name,
                                                 .market_type = c.market == "ETF" ? "A" : c.market,
                                                 .fund = c.market == "ETF",
                                                 .lot = c.lot};
  out["trading_rules"] = strategy::ai::trading_rules(instrument, d, c.bias, out["calculated_constraints"], out);
  return out;
}

std::string sample_market_brief(const std::string& market, const std::string& bias) {
  const std::string name = market == "HK" ? "港股" : market == "US" ? "美股" : "A 股大盘";
  return "**▋ " + name + "市场研判 · " + bias + " / 中**\n- **市场氛围**：核心指数围绕 EMA20 运行。\n" +
         "- **策略指引**：**控制仓位，精选个股**\n\n---\n**▋ 风险提示**\n⚠️ "
         "**风险**：量能不足时谨防回落。";
}

StockPromptSample make_stock_prompt_sample(const tarnel::BarTable& history, const StockPromptCase& c) {
  StockPromptSample s;
  const tarnel::BarTable upto = history.slice(history.index().front(), tarnel::parse_date(c.date));
  s.daily = with_analysis_columns(upto);
  s.weekly = with_analysis_columns(tarnel::weekly_bars(upto));
  auto& in = s.inputs;
  in.stock_code = c.code;
  in.market_type = c.market;
  in.stock_name = c.name.empty() ? c.code : c.name;
  in.analysis_time = s.daily.last_date();
  in.current_price = number_text(s.daily.last("close"));
  in.stock_data = tarnel::rows_to_json(s.daily.tail(60));
  in.stock_week_data = tarnel::rows_to_json(s.weekly.tail(20));
  in.pattern_info = safe_json_dumps(sample_pattern_info(s.daily, s.weekly, c), false, 2);
  in.market_ai_brief = sample_market_brief(c.market, c.bias);
  in.pct_change = pct_change(s.daily);
  const agent::core::MarketStockAgent agent(c.market, agent::offline::make_offline_client_bundle());
  s.system_message = agent.system_message();
  s.user_message = agent.render_task(in);
  return s;
}

}  // namespace quorvel::testing
