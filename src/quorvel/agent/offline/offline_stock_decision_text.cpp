// Steps 3 to 5 of the offline stock analysis: levels, targets and reward/risk, the two plans and
// the self-check before the decision JSON.
#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/offline/offline_stock_claims.h"
#include "quorvel/agent/offline/offline_stock_exits.h"
#include "quorvel/agent/offline/offline_stock_sections.h"
#include "quorvel/agent/offline/offline_stock_setup.h"
#include "quorvel/agent/offline/offline_stock_trailing.h"

namespace quorvel::agent::offline {

namespace {

bool is_buy(const TradePlan& p) { return p.action != "观望等待"; }

// The two pivot levels nearest above and below the close.
std::string pivot_line(const SectionInputs& in) {
  std::string above, below;
  int n = 0;
  for (const auto& l : in.r.target_levels)
    if (l.source.find("枢轴") != std::string::npos && l.price > in.r.close && n++ < 2)
      above += (above.empty() ? "" : "、") + l.source + " " + in.px(l.price);
  n = 0;
  for (const auto& l : in.r.pivot_supports)
    if (l.price < in.r.close && n++ < 2) below += (below.empty() ? "" : "、") + l.source + " " + in.px(l.price);
  if (above.empty() && below.empty()) return "周线枢轴点缺失";
  return "周线枢轴上方 " + (above.empty() ? "无" : above) + "，下方 " + (below.empty() ? "无" : below);
}

std::string market_risk(const SectionInputs& in) {
  const auto& f = in.f;
  if (f.market == "A")
    return "- **A股流动性风险**：T+1 下止损最早次日开盘执行，极弱行情中警惕缩量跌停导致止损无法成交。\n";
  if (f.market == "HK")
    return "- **港股特有风险**：" + (in.p.liquidity_note.empty() ? std::string("成交数据缺失") : in.p.liquidity_note) +
           "；港股无涨跌幅限制，需评估波动风险。\n";
  if (f.market == "ETF") return "- **ETF 特有风险**：跟踪误差与折溢价信息缺失，不做猜测；分红除息缺口属正常现象。\n";
  const auto& d = f.daily;
  std::string gaps;
  for (std::size_t i = d.rows() >= 6 ? d.rows() - 5 : 1; i < d.rows(); ++i)
    if (std::fabs(d.at("open", i) / d.at("close", i - 1) - 1) > 0.03) gaps += " " + d.date_at(i);
  return "- **美股特有风险**：美股无涨跌幅限制；" +
         (gaps.empty() ? std::string("近 5 日无 3% 以上隔夜跳空")
                       : "近 5 日跳空超过 3%：" + gaps + "，需开盘 30 分钟后再确认") +
         "；财报与宏观事件日历缺失，无法评估。\n";
}

// "止损 9.50 低于锚点「EMA20（趋势回踩点）」10.20 共 1.40×ATR（缓冲 ≥ 1.0×ATR：…），低于
// entry_price_low 10.20 共 1.40×ATR；止损距离 1.45 < 1.5×ATR": the stop, its anchor and the
// distances the stop rules bound.
std::string stop_claim(const SectionInputs& in, const BuyCandidate& b) {
  const double atr = in.r.atr;
  std::string out = fmt::format(
      "止损 {} 低于锚点「{}」{} 共 {:.2f}×ATR（缓冲 ≥ {:.1f}×ATR：{}），低于 entry_price_low {} 共 {:.2f}×ATR；{}×ATR "
      "上限",
      in.px(b.stop), b.defence.source, in.px(b.defence.price), (b.defence.price - b.stop) / atr, b.buffer_atr,
      b.buffer_reason, in.px(b.entry_low), (b.entry_low - b.stop) / atr,
      exact_claim("止损距离", (b.entry_high - b.stop) / atr, stop_cap_atr(in.r)));
  for (const auto& note : b.entry_notes) out += "；" + note;
  return out;
}

std::string step3(const SectionInputs& in) {
  const auto& r = in.r;
  const auto& p = in.p;
  std::string out = fmt::format(
      "- **支撑位/压力位**：支撑 {}（{}），压力 {}（{}）；{}。结果填入 support_price {} / resistance_price {}。\n",
      in.px(r.support.price), r.support.source, in.px(r.resistance.price), r.resistance.source, pivot_line(in),
      in.px(p.support), in.px(p.resistance));
  const Level& defence = p.candidate ? p.candidate->defence : p.holder_defence;
  out += "- **关键防守位**：" + in.px(defence.price) + "（" + (defence.source.empty() ? "—" : defence.source) +
         "），失守即视为结构破坏。\n";
  out += market_risk(in);
  out += fmt::format("- **波动率评估**：ATR {}，占收盘 {}%；SAR {}；vol_regime={}。\n", r.atr,
                     num(r.atr / r.close * 100), in.px(r.sar), r.vol_regime.value_or("缺失（不做调整）"));
  out += "- **止损定价**：" +
         (p.candidate ? stop_claim(in, *p.candidate)
                      : "未形成买入区间：" + (p.candidate_problem.empty() ? p.no_buy_reason : p.candidate_problem)) +
         "。\n";
  return out;
}

std::string step4(const SectionInputs& in) {
  const auto& r = in.r;
  const auto& p = in.p;
  std::string out;
  if (const auto& b = p.candidate) {
    out += fmt::format("- **目标价**：Target 1 {}（{}），Target 2 {}（{}）。\n", in.px(b->target_1),
                       b->target_1_level.source, in.px(b->target_2), b->target_2_level.source);
    out += fmt::format(
        "- **盈亏比**：入场价取 entry_price_high {}，止损 {}：RRR = ({} − {}) / ({} − {}) = {:.3f}；RRR_max = {:.3f}",
        in.px(b->entry_high), in.px(b->stop), in.px(b->target_1), in.px(b->entry_high), in.px(b->entry_high),
        in.px(b->stop), b->rrr, b->rrr_max);
    out += r.constraints ? fmt::format("；min_rrr {:.2f} → {}。\n", r.constraints->min_rrr,
                                       b->rrr >= r.constraints->min_rrr ? "满足" : "不满足，不入场")
                         : "；min_rrr 缺失，无法核验。\n";
  } else {
    out += "- **目标价与盈亏比**：未形成可定价的买入区间（" +
           (p.candidate_problem.empty() ? p.no_buy_reason : p.candidate_problem) + "），不计算盈亏比。\n";
  }
  if (!r.constraints) return out + "- **仓位管理**：calculated_constraints 缺失，仓位上限无从核验，不开新仓。\n";
  out += fmt::format("- **仓位管理**：{}；可用上限 {}%；本次 position_pct {}%。\n", p.cap_basis, p.position_cap,
                     p.position_pct);
  return out;
}

std::string step5(const SectionInputs& in) {
  const auto& p = in.p;
  return "回顾 Step 1：" + p.strategy_mode + "的假设" +
         (p.no_buy_reason.empty()
              ? "得到 Step 2-4 证据支持，且通过环境过滤、置信度映射、RRR、止损距离与仓位上限检验。\n"
              : "未能转化为新开仓：" + p.no_buy_reason + "。\n");
}

std::string step51(const SectionInputs& in) {
  const auto& p = in.p;
  std::string out = "- **操作建议**：【" + p.holder_action + "】\n";
  if (p.holder_action == "清仓离场")
    return out + "  - **核心理由**：方向看空且收盘跌破支撑 " + in.px(in.r.support.price) +
           "，结构破坏。\n  - **持仓策略**：离场，不设防守位。\n  - **持仓周期**：无。\n  - "
           "**止盈计划**：已离场，无。\n";
  out += "  - **核心理由**：方向" + p.direction + "，框架" + p.strategy_mode + "。\n";
  if (!(p.stop_loss > 0))
    return out + "  - **持仓策略**：数据缺失，无法给出防守位与目标位，按原有计划执行并等待数据恢复。\n";
  const std::string defence = in.px(p.stop_loss);
  std::string signals;
  for (const auto& s : p.exit_signals) signals += (signals.empty() ? "" : "；") + s;
  out += "  - **持仓策略**：防守位 " + defence + "，收盘跌破即执行；" + p.strategy_mode + "离场信号（" +
         watched_exit_signals(p.strategy_mode) + "）" + (signals.empty() ? "均未出现" : "已出现：" + signals) + "。\n";
  out += "  - **持仓周期**：" + (p.holder_action == "继续持有" ? p.holding_period : std::string("无（逢高减仓）")) +
         "。\n";
  out += fmt::format("  - **止盈计划**：到达 {} 减仓 30-50%，到达 {} 再减仓或清仓。\n", in.px(p.target_1),
                     in.px(p.target_2));
  return out;
}

int holding_days(const TradePlan& p) { return std::atoi(p.holding_period.c_str()); }

std::string buy_plan(const SectionInputs& in) {
  const auto& p = in.p;
  const double atr = in.r.atr;
  const int n = holding_days(p);
  std::string out = "- **执行方案**：\n";
  out += fmt::format("  - **建仓与止损**：入场 {}–{}，止损 {}，仓位 {}%。\n", in.px(p.entry_low), in.px(p.entry_high),
                     in.px(p.stop_loss), p.position_pct);
  out += "  - **持仓周期**：" + p.holding_period + "。\n";
  out +=
      fmt::format("  - **时间止损**：第 {} 日收盘若向目标运行不足 1×ATR（{}）即离场；第 {} 日浮盈低于 0.5×ATR 离场。\n",
                  n / 2, in.px(atr), n * 3 / 4);
  const PriceGrid g(in.r);
  out += "  - **浮盈保护**：" +
         trailing_text(g, trailing_tiers(g, p.entry_low, p.entry_high, p.stop_loss, p.target_1, atr)) + "。\n";
  return out;
}

// What would have to happen before the frame gives an entry.
std::string wait_trigger(const SectionInputs& in) {
  const auto& p = in.p;
  const auto& r = in.r;
  if (p.strategy_mode == "趋势跟随" && p.entry_high > 0)
    return "回踩 " + in.px(p.entry_low) + "–" + in.px(p.entry_high) + " 企稳且 rrr ≥ min_rrr 时重新评估";
  if (p.strategy_mode == "区间震荡")
    return "回落至区间下沿 " + in.px(r.support.price) + " 附近企稳、止损距离落入上限时重新评估";
  if (p.strategy_mode == "底部反转")
    return "守住近 5 日低点 " + in.px(r.low_5d.price) + " 并出现更高的低点或收复 EMA5 " + in.px(r.ema5) +
           "、方向不再看空时重新评估";
  if (p.strategy_mode == "均线压缩")
    return "放量突破压缩区（量比>1.3 且收盘站上 " + in.px(p.resistance) + "）后重新评估";
  return "日收盘站稳 " + in.px(p.resistance) + " 且量比>1.3 时重新评估";
}

std::string step52(const SectionInputs& in) {
  const auto& p = in.p;
  const auto& r = in.r;
  std::string out = "- **操作建议**：【" + p.action + "】\n";
  std::string logic = r.constraints ? fmt::format("base_confidence_score {:.2f}", r.constraints->base_confidence_score)
                                    : std::string("base_confidence_score 缺失");
  if (p.graded)
    logic += fmt::format(" + ③ {:.1f} = {:.2f}（{}门槛 {:.1f}）", p.score_rrr, p.score_total, p.strategy_mode,
                         p.buy_threshold);
  logic += p.no_buy_reason.empty() ? "，满足全部硬约束" : "；" + p.no_buy_reason;
  out += "- **核心逻辑**：" + logic + "。\n";
  if (is_buy(p)) return out + buy_plan(in);
  return out + "- **观望计划**：" + wait_trigger(in) + "；关注支撑 " + in.px(p.support) + "、压力 " +
         in.px(p.resistance) + "。\n";
}

// Whether the entry range lies inside the next session's limit prices.
std::string limit_line(const SectionInputs& in) {
  const auto& p = in.p;
  if (!in.r.rules || !in.r.rules->has_band()) return "无涨跌幅限制数据，不检验";
  const auto& m = *in.r.rules;
  if (!is_buy(p)) return "观望不检验";
  return "入场区间 " + in.px(p.entry_low) + "–" + in.px(p.entry_high) + " 在次日跌停价 " + in.px(m.limit_down) +
         " 至涨停价 " + in.px(m.limit_up) + " 之内";
}

// The plan checker's verdict on the emitted buy.
std::string checks_line(const TradePlan& p) {
  if (!p.checks_run) return "观望，不核验买入计划";
  std::string failed;
  for (const auto& line : p.failed_checks) failed += (failed.empty() ? "" : "；") + line;
  if (!is_buy(p)) return "买入计划未通过核验，已改为观望：" + failed;
  return failed.empty() ? "check_plan 全部通过" : "硬性检查全部通过；提示：" + failed;
}

std::string step53(const SectionInputs& in) {
  const auto& p = in.p;
  const auto& r = in.r;
  const auto* k = r.constraints ? &*r.constraints : nullptr;
  std::string out =
      "- [x] **硬阈值**：" +
      (is_buy(p) ? exact_claim("rrr", p.rrr, k->min_rrr) + "（min_rrr）" : std::string("观望，rrr 记 0")) + "。\n";
  out += "- [x] **止损阈值**：" +
         (is_buy(p) ? exact_claim("止损距离", (p.entry_high - p.stop_loss) / r.atr, k->max_stop_dist_atr) +
                          "×ATR（max_stop_dist_atr）"
                    : std::string("观望不适用")) +
         "。\n";
  out += "- [x] **仓位阈值**：" + fmt::format("position_pct {}%", p.position_pct) +
         (k || p.position_cap > 0 ? fmt::format(" ≤ 有效上限 {}%", p.position_cap) : "") + "。\n";
  out += "- [x] **涨跌停价**：" + limit_line(in) + "。\n";
  out += "- [x] **计划核验**：" + checks_line(p) + "。\n";
  out += "- [x] **价格链**：" +
         (is_buy(p) ? fmt::format("{} < {} ≤ {} < {} < {}", in.px(p.stop_loss), in.px(p.entry_low), in.px(p.entry_high),
                                  in.px(p.target_1), in.px(p.target_2))
                    : std::string("观望不检验")) +
         "。\n";
  out += "- [x] **持仓者逻辑**：" + p.holder_action +
         (p.holder_action == "清仓离场"   ? "，止损与目标全部为 0"
          : p.holder_action == "分批减仓" ? "，目标为高于现价的减仓价，rrr 为 0"
                                          : "，止损为持仓防守位，目标非零") +
         "。\n";
  out += "- [x] **价位对账**：" +
         std::string(r.levels_from_pattern ? "support/resistance 取自 price_context"
                                           : "price_context 缺失，价位由日线计算") +
         "。\n";
  out += "- [x] **预筛对账**：strategy_hint " + (r.strategy_hint.empty() ? std::string("缺失") : r.strategy_hint) +
         " / strategy_mode " + p.strategy_mode +
         (r.strategy_hint.empty() || r.strategy_hint == p.strategy_mode ? "。\n" : "，不一致，仓位只降不升。\n");
  std::string cuts;
  for (const auto& c : p.confidence_cuts) cuts += (cuts.empty() ? "" : "、") + c;
  out += "\n**置信度核定**：confidence=" + p.confidence + "，action=" + p.action +
         (cuts.empty() ? "" : "；下调因素：" + cuts) + "。离线规则不做 ±0.3 的主观调整。\n";
  return out;
}

}  // namespace

std::string decision_section(const std::string& number, const SectionInputs& in) {
  if (number == "3") return step3(in);
  if (number == "4") return step4(in);
  if (number == "5") return step5(in);
  if (number == "5.1") return step51(in);
  if (number == "5.2") return step52(in);
  if (number == "5.3") return step53(in);
  return "";
}

}  // namespace quorvel::agent::offline
