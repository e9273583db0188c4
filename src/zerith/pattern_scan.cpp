#include "zerith/pattern_scan.h"

#include <algorithm>

#include <fmt/format.h>

#include "quorvel/utils/number_text.h"
#include "zerith/scan_members.h"
#include "zerith/scan_setups.h"

namespace zerith {

namespace {

// Each risk flag takes this much off the best setup's score.
constexpr double RISK_FLAG_PENALTY = 0.5;

Json to_json(const std::vector<std::string>& texts) { return Json(texts); }

std::string urgency_of(int age) {
  if (age == 0) return "HIGH";
  if (age > 0 && age <= 3) return "MEDIUM";
  return "LOW";
}

// The result of a table too short (or empty) to scan: every member present, null with its reason.
Json insufficient(const ScanSeries& s, const ScanRequest& req) {
  const std::string reason =
      fmt::format("数据不足: 仅 {} 根有效K线，至少需要 {} 根", s.size(), MIN_SCAN_BARS);
  Json out{{"symbol", req.symbol},
           {"as_of", s.size() ? Json(tarnel::date_text(s.dates.back())) : Json(nullptr)},
           {"bars", s.size()},
           {"pre_screen_passed", false},
           {"total_score", 0.0},
           {"strategy_type", nullptr},
           {"strategy_type_reason", reason},
           {"pre_screen",
            {{"min_score", req.min_score}, {"strategy_hint", ""}, {"priority_score", 0},
             {"data_sufficient", false}, {"reason", reason}}}};
  for (const char* member : {"signal_confluence", "urgency", "universe_rank", "universe_size", "price_context",
                             "classic_pivot_points", "fibonacci_pivot_points", "trend_structure", "candle_patterns",
                             "risk_flags", "risk_metrics", "market_context"}) {
    out[member] = nullptr;
    out[std::string(member) + "_reason"] = reason;
  }
  if (s.dropped_rows) out["dropped_rows"] = s.dropped_rows;
  if (!req.options.empty()) out["options"] = req.options;
  return out;
}

struct Risk {
  std::vector<std::string> flags;
  Json metrics;
};

Risk assess_risk(const ScanSeries& s, const ScanRequest& req) {
  Risk r;
  const Pullback pb = pullback(s);
  const double rs = req.index && std::isfinite(req.index->return_20d) ? return_20d(s) - req.index->return_20d : NAN;
  if (climax_volume(s)) r.flags.emplace_back("高潮量");
  if (volume_without_gain(s)) r.flags.emplace_back("放量不涨");
  if (recent_evening_star(s)) r.flags.emplace_back("黄昏星");
  if (pb.depth_pct > 15.0) r.flags.emplace_back("回撤过深");
  if (pb.days > 15) r.flags.emplace_back("回撤过长");
  if (pb.avg_vr && *pb.avg_vr > 1.2) r.flags.emplace_back("放量下跌");
  if (std::isfinite(rs) && rs < -5.0) r.flags.emplace_back("RS绝对弱势");
  r.metrics = Json{{"pullback_depth_pct", num(pb.depth_pct, 2)},
                   {"pullback_days", pb.days},
                   {"pullback_avg_vr", pb.avg_vr ? num(*pb.avg_vr, 2) : Json(nullptr)}};
  if (!pb.avg_vr)
    r.metrics["pullback_avg_vr_reason"] = pb.days == 0 ? "最新K线即为近 60 日波段高点，无回撤" : "回撤期间没有可计算量比的下跌日";
  r.metrics["swing_high_date"] = tarnel::date_text(s.dates[s.last() - std::size_t(pb.days)]);
  r.metrics["rs_20d"] = num(rs, 2);
  if (!std::isfinite(rs))
    r.metrics["rs_20d_reason"] = req.index ? (req.index->reason.empty() ? "指数 20 日涨幅无法计算" : req.index->reason)
                                           : req.index_reason;
  else
    r.metrics["rs_20d_index"] = req.index->index;
  return r;
}

Json market_context(const ScanRequest& req) {
  if (!req.index) return Json{{"index", nullptr}, {"vol_regime", nullptr}, {"vol_regime_reason", req.index_reason}};
  const IndexContext& ix = *req.index;
  Json out{{"index", ix.index},          {"index_name", ix.name},
           {"as_of", ix.as_of},          {"vol_regime", ix.vol_regime.empty() ? Json(nullptr) : Json(ix.vol_regime)},
           {"index_atr", num(ix.atr)},   {"index_atr_mean_60", num(ix.atr_mean_60)}};
  if (ix.vol_regime.empty()) out["vol_regime_reason"] = ix.reason;
  return out;
}

}  // namespace

Json scan_bars(const tarnel::BarTable& df, const ScanRequest& req) { return scan_series(compute_scan_series(df), req); }

Json scan_series(const ScanSeries& s, const ScanRequest& req) {
  if (s.size() < MIN_SCAN_BARS) return insufficient(s, req);

  std::vector<SetupScore> setups{score_trend(s)};
  if (req.mode != "trend") {
    setups.push_back(score_breakout(s));
    setups.push_back(score_bottom(s));
  }
  const auto best_it = std::max_element(setups.begin(), setups.end(),
                                        [](const SetupScore& a, const SetupScore& b) { return a.score < b.score; });
  SetupScore best = *best_it;
  if (best.type == "等待突破" && best.hint != "均线压缩" && is_range_market(s)) best.hint = "区间震荡";

  Risk risk = assess_risk(s, req);
  const double total =
      quorvel::round_half_even(std::max(0.0, best.score - RISK_FLAG_PENALTY * double(risk.flags.size())), 2);
  const bool passed = total >= req.min_score;
  const int priority = int(best.families.size());

  // Built member by member and moved in: braced lists would copy every nested object once more,
  // which a whole-market screen pays per instrument.
  Json scores = Json::object();
  for (const auto& setup : setups) scores[setup.type] = quorvel::round_half_even(setup.score, 2);
  Json pre_screen = Json::object();
  pre_screen["min_score"] = req.min_score;
  pre_screen["strategy_hint"] = best.hint;
  pre_screen["priority_score"] = priority;
  pre_screen["data_sufficient"] = true;
  pre_screen["setup_scores"] = std::move(scores);
  pre_screen["risk_penalty"] = RISK_FLAG_PENALTY * double(risk.flags.size());
  Json confluence = Json::object();
  confluence["score"] = priority;
  confluence["families"] = to_json(best.families);
  confluence["signals"] = to_json(best.signals);

  Json out = Json::object();
  out["symbol"] = req.symbol;
  out["as_of"] = tarnel::date_text(s.dates.back());
  out["pre_screen_passed"] = passed;
  out["total_score"] = total;
  out["strategy_type"] = best.type;
  out["pre_screen"] = std::move(pre_screen);
  out["signal_confluence"] = std::move(confluence);
  out["urgency"] = urgency_of(best.trigger_age);
  out["urgency_reason"] = best.trigger_age >= 0 ? fmt::format("{}，距今 {} 根K线", best.trigger, best.trigger_age)
                                                : std::string("近 10 根K线内没有新的触发信号");
  out["universe_rank"] = req.universe ? Json(req.universe->rank) : Json(nullptr);
  out["universe_size"] = req.universe ? Json(req.universe->size) : Json(nullptr);
  if (!req.universe) out["universe_rank_reason"] = req.universe_reason;
  out["price_context"] = price_context(s);
  WeeklyPivots pivots = weekly_pivots(s);
  out["classic_pivot_points"] = pivots.reason.empty() ? std::move(pivots.classic) : Json(nullptr);
  out["fibonacci_pivot_points"] = pivots.reason.empty() ? std::move(pivots.fibonacci) : Json(nullptr);
  if (!pivots.reason.empty()) out["pivot_points_reason"] = pivots.reason;
  out["trend_structure"] = trend_structure(s);
  out["candle_patterns"] = candle_patterns(s);
  out["risk_flags"] = to_json(risk.flags);
  out["risk_metrics"] = std::move(risk.metrics);
  out["market_context"] = market_context(req);
  if (s.dropped_rows) out["dropped_rows"] = s.dropped_rows;
  if (!req.options.empty()) out["options"] = req.options;
  return out;
}

}  // namespace zerith
