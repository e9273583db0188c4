#include "quorvel/agent/offline/offline_stock_trailing.h"

#include <algorithm>

namespace quorvel::agent::offline {

TrailingPlan trailing_tiers(const PriceGrid& g, double entry_low, double entry_high, double initial_stop,
                            double target_1, double atr) {
  TrailingPlan out;
  const TrailingTier early[] = {{"①", g.round(entry_high + atr), g.round(entry_low), false},
                                {"②", g.round(entry_high + 1.5 * atr), g.floor(entry_high + 0.5 * atr), false}};
  double stop = initial_stop;
  double merged_stop = 0;  // the highest stop of the tiers merged into ③ that lies under target 1
  for (const auto& tier : early) {
    if (tier.trigger >= target_1) {
      out.notes.push_back(tier.mark + " 的触发价 " + g.text(tier.trigger) + " 不低于 Target 1 " + g.text(target_1) +
                          "，并入档位③");
      if (tier.stop < target_1) merged_stop = std::max(merged_stop, tier.stop);
      continue;
    }
    if (tier.stop < stop)
      out.notes.push_back(tier.mark + " 按规则应移至 " + g.text(tier.stop) + "，低于前一档止损 " + g.text(stop) +
                          "，保持 " + g.text(stop));
    stop = std::max(stop, tier.stop);
    out.tiers.push_back({tier.mark, tier.trigger, stop, false});
  }
  const double rule_stop = g.floor(entry_low + atr);
  double last = std::max({stop, merged_stop, rule_stop < target_1 ? rule_stop : 0.0});
  if (rule_stop >= target_1)
    out.notes.push_back("③ 按规则应移至 " + g.text(rule_stop) + "，不低于 Target 1 本身，取 " + g.text(last));
  else if (last > rule_stop)
    out.notes.push_back("③ 按规则应移至 " + g.text(rule_stop) + "，低于此前档位的止损，取 " + g.text(last));
  out.tiers.push_back({"③", target_1, last, true});
  return out;
}

std::string trailing_text(const PriceGrid& g, const TrailingPlan& plan) {
  std::string out;
  for (const auto& t : plan.tiers)
    out += (out.empty() ? "" : "；") + t.mark + " 到 " + g.text(t.trigger) + (t.take_profit ? "（Target 1）" : "") +
           " → " + (t.take_profit ? "减仓 30-50%，余仓止损移至 " : "止损移至 ") + g.text(t.stop);
  for (const auto& n : plan.notes) out += "；" + n;
  return out;
}

}  // namespace quorvel::agent::offline
