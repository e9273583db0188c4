#include "zerith/radar_item.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/number_text.h"
#include "contracts/dates.h"
#include "tarnel/weekly_bars.h"
#include "zerith/pattern_scan.h"
#include "zerith/scan_members.h"

namespace zerith {

namespace {

constexpr RadarState TREND_UP{"TREND_UP", "趋势上涨"};
constexpr RadarState LEFT_DECLINE{"LEFT_DECLINE", "左侧下跌"};
constexpr RadarState PULLBACK{"PULLBACK", "上升回调"};
constexpr RadarState RIGHT_START{"RIGHT_START", "右侧启动"};
constexpr RadarState BOTTOMING{"BOTTOMING", "底部企稳"};
constexpr RadarState RANGE{"RANGE", "区间震荡"};
constexpr RadarState CONSOLIDATION{"CONSOLIDATION", "震荡整理"};

// Points of the technical score (0-100): structure 40, momentum 20, volume 10, the pre-screen's
// total score x3 up to 30; each risk flag takes 10 off.
constexpr double PRE_SCREEN_WEIGHT = 3.0, PRE_SCREEN_CAP = 10.0, RISK_POINTS = 10.0;

bool same(RadarState a, RadarState b) { return std::string_view(a.code) == b.code; }
bool bullish(RadarState s) { return same(s, TREND_UP) || same(s, RIGHT_START); }

// What the last bar says by itself; zeros where the bars cannot tell (too few, nothing traded).
struct LastBar {
  std::string as_of;
  double close = 0.0, change_pct = 0.0, vol_ratio = 0.0, amount = 0.0;
  bool amount_estimated = false;
};

LastBar last_bar(const ScanSeries& s, const tarnel::BarTable& bars) {
  LastBar b;
  if (s.size() == 0) return b;
  const std::size_t t = s.last();
  b.as_of = tarnel::date_text(s.dates[t]);
  b.close = s.close[t];
  if (t > 0 && s.close[t - 1] > 0.0) b.change_pct = (s.close[t] / s.close[t - 1] - 1.0) * 100.0;
  if (std::isfinite(s.volume_ratio[t])) b.vol_ratio = s.volume_ratio[t];
  // The scan series leaves out rows with missing prices; find the amount of the same date.
  const auto& idx = bars.index();
  const auto row = std::size_t(std::lower_bound(idx.begin(), idx.end(), s.dates[t]) - idx.begin());
  const double amount = bars.has_column("amount") ? bars.at("amount", row) : NAN;
  b.amount_estimated = !std::isfinite(amount);
  b.amount = b.amount_estimated ? s.close[t] * s.volume[t] : amount;
  return b;
}

struct Flags {
  RadarState curr{"", ""}, prev{"", ""};
  bool liquid = true, vol_abnormal = false, opportunity = false, buy = false, sell = false;
  std::vector<std::string> risks, reasons;
};

std::vector<std::string> risk_reasons(const ScanSeries& s, const LastBar& b, const RadarThresholds& th) {
  std::vector<std::string> out;
  const std::size_t t = s.last();
  if (b.vol_ratio >= th.min_vol_ratio && b.change_pct <= -th.min_pct_change) out.emplace_back("放量下跌");
  if (climax_volume(s)) out.emplace_back("高潮量");
  if (volume_without_gain(s)) out.emplace_back("放量不涨");
  if (recent_evening_star(s)) out.emplace_back("黄昏星");
  if (s.close[t] < s.ema60[t] && s.close[t - 1] >= s.ema60[t - 1]) out.emplace_back("跌破EMA60");
  return out;
}

Flags judge(const ScanSeries& s, const LastBar& b, const RadarThresholds& th, const Json& pre) {
  Flags f;
  const std::size_t t = s.last();
  f.curr = radar_state_at(s, t);
  f.prev = radar_state_at(s, t - 1);
  f.liquid = !th.min_amount_ea || b.amount >= *th.min_amount_ea;
  f.risks = risk_reasons(s, b, th);
  const std::string turn = std::string(f.prev.cn) + "→" + f.curr.cn;
  f.buy = f.liquid && b.change_pct > 0.0 && bullish(f.curr) && !bullish(f.prev);
  if (f.buy) f.reasons.push_back("买入信号: " + turn);
  if (b.change_pct < 0.0 && bullish(f.prev) && !bullish(f.curr) && s.close[t] < s.ema20[t]) {
    f.sell = true;
    f.reasons.push_back("卖出信号: " + turn + " (跌破EMA20)");
  } else if (b.change_pct < 0.0 && same(f.curr, LEFT_DECLINE) && !same(f.prev, LEFT_DECLINE)) {
    f.sell = true;
    f.reasons.push_back("卖出信号: " + turn);
  }
  f.vol_abnormal = f.liquid && b.vol_ratio >= th.min_vol_ratio && std::abs(b.change_pct) >= th.min_pct_change;
  if (f.vol_abnormal) f.reasons.push_back(fmt::format("放量 {:.2f}x, 涨跌幅 {:+.2f}%", b.vol_ratio, b.change_pct));
  const std::string urgency = pre.value("urgency", "");
  f.opportunity = f.liquid && pre.value("pre_screen_passed", false) && (urgency == "HIGH" || urgency == "MEDIUM") &&
                  !same(f.curr, LEFT_DECLINE);
  if (f.opportunity)
    f.reasons.push_back(fmt::format("形态 {} 评分 {:.1f}, {}", pre.value("strategy_type", ""),
                                    pre.value("total_score", 0.0), pre.value("urgency_reason", "")));
  if (!f.risks.empty()) {
    std::string joined;
    for (const auto& r : f.risks) joined += (joined.empty() ? "" : "、") + r;
    f.reasons.push_back("风险: " + joined);
  }
  if (!f.liquid) f.reasons.push_back("成交额 " + amount_text(b.amount) + " 低于门槛 " + amount_text(*th.min_amount_ea));
  return f;
}

// The technical score and its named points.
std::pair<double, Json> tech_score(const ScanSeries& s, const LastBar& b, const Flags& f, const RadarThresholds& th,
                                   const Json& pre) {
  const std::size_t t = s.last();
  Json parts = Json::array();
  double total = 0.0;
  auto add = [&](bool hit, const char* name, double points) {
    if (!hit || points == 0.0) return;
    total += points;
    parts.push_back({{"name", name}, {"points", quorvel::round_half_even(points, 1)}});
  };
  add(s.close[t] > s.ema20[t], "站上EMA20", 15);
  add(s.ema5[t] > s.ema10[t] && s.ema10[t] > s.ema20[t], "EMA多头排列", 15);
  add(s.ema20[t] > s.ema20[t - 1], "EMA20上行", 10);
  add(s.macd_hist[t] > 0.0, "MACD红柱", 10);
  add(s.rsi[t] >= 50.0 && s.rsi[t] <= 75.0, "RSI强势区", 10);
  add(b.vol_ratio >= th.min_vol_ratio && b.change_pct > 0.0, "放量上涨", 10);
  const double scan = std::clamp(pre.value("total_score", 0.0), 0.0, PRE_SCREEN_CAP);
  add(true, "形态评分", PRE_SCREEN_WEIGHT * scan);
  add(true, "风险扣分", -RISK_POINTS * double(f.risks.size()));
  return {quorvel::round_half_even(std::clamp(total, 0.0, 100.0), 1), parts};
}

Json pre_screen(const ScanSeries& s, const RadarRequest& req, const RadarThresholds& th) {
  ScanRequest scan;
  scan.symbol = req.symbol;
  scan.mode = "all";
  scan.min_score = RADAR_SCAN_MIN_SCORE;
  if (*th.frequency == "daily") {
    scan.index = req.index;
    scan.index_reason = req.index_reason;
  } else {
    scan.index_reason = "周线雷达不与指数日线比较相对强弱";
  }
  scan.universe_reason = "机会雷达不查询全市场排名";
  return scan_series(s, scan);
}

Json joined_reason(const std::vector<std::string>& reasons) {
  std::string out;
  for (const auto& r : reasons) out += (out.empty() ? "" : "; ") + r;
  return out;
}

}  // namespace

std::string amount_text(double x) {
  if (std::abs(x) >= 1e8) return fmt::format("{:.2f}亿", x / 1e8);
  if (std::abs(x) >= 1e4) return fmt::format("{:.2f}万", x / 1e4);
  return fmt::format("{:.0f}", x);
}

RadarThresholds checked_thresholds(const RadarThresholds& in) {
  RadarThresholds th = in;
  if (!th.frequency || th.frequency->empty()) th.frequency = "daily";
  if (*th.frequency != "daily" && *th.frequency != "weekly")
    throw quorvel::ValueError("雷达频段必须是 daily 或 weekly: '" + *th.frequency + "'");
  if (!th.weekly_mode || th.weekly_mode->empty()) th.weekly_mode = "live";
  if (*th.weekly_mode != "live" && *th.weekly_mode != "closed")
    throw quorvel::ValueError("weekly_mode 必须是 live 或 closed: '" + *th.weekly_mode + "'");
  for (auto [name, value] : {std::pair{"min_vol_ratio", th.min_vol_ratio},
                             {"min_pct_change", th.min_pct_change},
                             {"min_amount_ea", th.min_amount_ea.value_or(0.0)}})
    if (!std::isfinite(value) || value < 0.0)
      throw quorvel::ValueError(fmt::format("{} 必须是非负数: {}", name, value));
  return th;
}

tarnel::BarTable radar_bars(const tarnel::BarTable& daily, const RadarThresholds& th, const std::string& market) {
  if (*th.frequency == "daily") return daily;
  tarnel::BarTable weeks = tarnel::weekly_bars(daily);
  // The weekly bar is dated by its last trading day; the week is finished once its market has no
  // trading day left in it.
  const auto& days = weeks.index();
  const auto unfinished = [&](tarnel::Date last) {
    const int weekday = tarnel::weekday_index(last);  // Monday 0
    return weekday < 4 && tarnel::count_trading_days(market, tarnel::date_text(last),
                                                     tarnel::date_text(last + date::days(4 - weekday))) > 0;
  };
  if (*th.weekly_mode == "closed" && !days.empty() && unfinished(days.back()))
    return days.size() < 2 ? tarnel::BarTable::with_base_columns() : weeks.slice(days.front(), days[days.size() - 2]);
  return weeks;
}

RadarState radar_state_at(const ScanSeries& s, std::size_t i) {
  const double c = s.close[i], e5 = s.ema5[i], e10 = s.ema10[i], e20 = s.ema20[i], e60 = s.ema60[i];
  const bool e20_up = e20 > s.ema20[i - 1];
  if (e5 > e10 && e10 > e20 && c > e20 && e20_up) return TREND_UP;
  if (c < e20 && e5 < e10 && !e20_up) return LEFT_DECLINE;
  if (c < e10 && c > e60 && e20 > e60) return PULLBACK;
  if (c > e20 && e5 > e10) return RIGHT_START;
  if (c < e60 && c >= e5 && s.rsi[i] > s.rsi[i - 1]) return BOTTOMING;
  if (s.adx[i] < 20.0) return RANGE;
  return CONSOLIDATION;
}

Json evaluate_radar_item(const tarnel::BarTable& daily, const RadarRequest& req) {
  const RadarThresholds th = checked_thresholds(req.thresholds);
  const bool weekly = *th.frequency == "weekly";
  const tarnel::BarTable weeks =
      weekly ? radar_bars(daily, th, quorvel::get_market_type(req.symbol).value_or("A")) : tarnel::BarTable();
  const tarnel::BarTable& bars = weekly ? weeks : daily;
  const ScanSeries s = compute_scan_series(bars);
  const LastBar b = last_bar(s, bars);
  const Json pre = pre_screen(s, req, th);
  const bool sufficient = s.size() >= MIN_RADAR_BARS;
  Flags f;
  double score = 0.0;
  Json parts = Json::array();
  if (sufficient) {
    f = judge(s, b, th, pre);
    std::tie(score, parts) = tech_score(s, b, f, th, pre);
  } else {
    f.reasons.push_back(fmt::format("数据不足: 仅 {} 根有效{}K线，至少需要 {} 根", s.size(),
                                    *th.frequency == "daily" ? "日" : "周", MIN_RADAR_BARS));
  }
  Json out{{"symbol", req.symbol}, {"name", req.name}, {"frequency", *th.frequency}};
  if (*th.frequency == "weekly") out["weekly_mode"] = *th.weekly_mode;
  out["as_of"] = b.as_of.empty() ? Json(nullptr) : Json(b.as_of);
  out["bars"] = s.size();
  out["data_sufficient"] = sufficient;
  out["tech_score"] = score;
  out["score_parts"] = parts;
  out["is_opportunity"] = f.opportunity;
  out["is_vol_abnormal"] = f.vol_abnormal;
  out["is_risk"] = !f.risks.empty();
  out["has_buy_signal"] = f.buy;
  out["has_sell_signal"] = f.sell;
  out["curr_state"] = f.curr.code;
  out["curr_state_cn"] = f.curr.cn;
  out["prev_state"] = f.prev.code;
  out["prev_state_cn"] = f.prev.cn;
  out["close"] = quorvel::round_half_even(b.close, 3);
  out["vol_ratio"] = quorvel::round_half_even(b.vol_ratio, 2);
  out["change_pct"] = quorvel::round_half_even(b.change_pct, 2);
  out["amount_ea"] = quorvel::round_half_even(b.amount, 0);
  out["amount_estimated"] = b.amount_estimated;
  out["liquid"] = f.liquid;
  out["risk_reasons"] = f.risks;
  out["reasons"] = f.reasons;
  out["reason"] = joined_reason(f.reasons);
  out["pre_screen_res"] = pre;
  return out;
}

}  // namespace zerith
