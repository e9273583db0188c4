// Steps 0 to 2 of the offline stock analysis: instrument, market state and the evidence.
#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/offline/offline_stock_claims.h"
#include "quorvel/agent/offline/offline_stock_sections.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::agent::offline {

namespace {

using Json = nlohmann::ordered_json;

bool finite(double v) { return std::isfinite(v); }

// +1, -1 or 0 as `now` is above, below or equal to `before`.
int trend_sign(double now, double before) { return now > before ? 1 : now < before ? -1 : 0; }

std::string join(const std::vector<std::string>& items, const char* sep) {
  std::string out;
  for (const auto& s : items) out += (out.empty() ? "" : sep) + s;
  return out;
}

// Settlement, limit prices, lot and currency as trading_rules states them.
std::string rules_line(const SectionInputs& in) {
  const MarketRules& m = *in.r.rules;
  std::string out = (m.settlement.empty() ? std::string("交收制度未给出") : m.settlement) + "；";
  out += m.has_band() ? fmt::format("次日跌停价 {} / 涨停价 {}（±{}%）", in.px(m.limit_down), in.px(m.limit_up),
                                    m.limit_band_pct)
                      : std::string("无涨跌幅限制");
  out += "；交易单位 " + (m.lot == "unknown" || m.lot.empty() ? std::string("未知") : m.lot + " 股");
  if (!m.lot_note.empty()) out += "（" + m.lot_note + "）";
  if (!m.currency.empty()) out += "；币种 " + m.currency;
  if (!m.assumed.empty()) out += "；按常规假设：" + join(m.assumed, "；");
  return out;
}

std::string step0(const SectionInputs& in) {
  const auto& f = in.f;
  const auto& r = in.r;
  std::string out = fmt::format("- {}：{}（{}）｜分析时间：{}｜当前价格：{}（今日涨幅 {}%）\n", f.step0_label,
                                f.stock_code, f.stock_name, f.analysis_time, f.current_price_text, f.pct_change);
  if (r.daily_rows < 30) out += "- 数据不足，分析结论置信度强制降为低\n";
  if (r.suspect_data) out += "- 疑似停牌/数据异常\n";
  if (finite(r.close) && std::fabs(r.price / r.close - 1) > 0.03)
    out += "- 当日行情波动大：入场区间以 current_price 为基准\n";
  if (f.market == "A" && r.max_abs_move_pct > 20) out += "- 疑似除权除息或数据异常：日线中出现单日涨跌幅超过 ±20%\n";
  if (!r.missing.empty()) out += "- **数据缺失**（不做估算）：" + join(r.missing, "、") + "\n";
  if (r.rules) out += "- **交易规则**（trading_rules）：" + rules_line(in) + "\n";
  return out;
}

std::string core_question(const SectionInputs& in) {
  const auto& m = in.p.strategy_mode;
  if (m == "趋势跟随") return "EMA20 " + in.px(in.r.ema20) + " 能否继续作为回踩支撑？";
  if (m == "底部反转") return "近 5 日低点 " + in.px(in.r.low_5d.price) + " 能否守住并出现反转确认？";
  if (m == "均线压缩") return "粘合的 EMA5/10/20 将向哪个方向选择突破？";
  if (m == "空仓等待") return "下跌动能何时衰竭，支撑 " + in.px(in.r.support.price) + " 能否守住？";
  return "区间 " + in.px(in.r.support.price) + "–" + in.px(in.r.resistance.price) + " 将向哪个方向突破？";
}

std::string step1(const SectionInputs& in) {
  const auto& r = in.r;
  const auto& p = in.p;
  const double chg5 = (r.close / r.close_5d_ago - 1) * 100;
  std::string out =
      fmt::format("- **自由描述**：收盘 {}，{} EMA20 {}（偏离 {}×ATR）；{}；近 5 日收盘 {} → {}（{}%）；量比 {}。\n",
                  in.px(r.close), position_word(r.close, r.ema20, r.decimals), in.px(r.ema20), num(r.dist_ema20_atr),
                  alignment_claim(r), in.px(r.close_5d_ago), in.px(r.close),
                  finite(chg5) ? fmt::format("{:+.2f}", chg5) : "—", num(r.volume_ratio));
  out += "- **核心矛盾**：" + core_question(in) + "\n";
  std::string rs = "rs_20d 缺失，无法判断相对强弱";
  if (r.rs_20d)
    rs = fmt::format("{}（rs_20d {:+.2f}%）",
                     *r.rs_20d > 2    ? "【强于大盘】"
                     : *r.rs_20d < -2 ? "【弱于大盘】"
                                      : "【同步大盘】",
                     *r.rs_20d);
  out += fmt::format("- **方向性假设**：倾向【{}】；相对强弱：{}；所处阶段：{}。\n", p.direction, rs, p.stage);
  out += fmt::format(
      "- **档位定档**：bias={} → {}（ADX 阈值 {:.0f}，EMA20 偏离上限 {:.1f}×ATR，止损上限 {:.1f}×ATR）。{}\n",
      in.f.bias, r.tier, r.adx_threshold, r.deviation_cap, r.stop_cap_by_tier,
      in.f.bias_found ? "" : "大盘简报中未找到研判结论，按震荡处理。");
  if (r.constraints && !r.constraints->market_regime.empty() && r.constraints->market_regime != r.tier)
    out += "- **定档核对**：calculated_constraints.market_regime=" + r.constraints->market_regime + " 与 §4 定档" +
           r.tier + "不一致，硬约束一律以 calculated_constraints 为准。\n";
  out += "- **操作框架**：" + p.strategy_mode + "——" + p.mode_reason + "。\n";
  out += "- **大盘定性（一句话）**：§4 研判为" + in.f.bias + "，按" + r.tier + "执行" +
         (in.f.bias == "避险" ? "，禁止新开仓。\n" : "。\n");
  return out;
}

std::string step20(const SectionInputs& in) {
  const auto& f = in.f;
  const auto& p = in.p;
  std::string beta = f.bias == "偏多"   ? "支持顺势操作"
                     : f.bias == "震荡" ? "只支持回踩低吸与轻仓，需控制仓位"
                                        : "不支持积极开仓";
  std::string out =
      "- 以 §4 首行结论为既定结论：bias=" + f.bias + "，market_sentiment 取" + p.market_sentiment + "。\n";
  out += "- **Beta 匹配**：大盘" + beta + "；个股框架为" + p.strategy_mode + "。\n";
  if (f.market == "US") out += "- **事件窗口检查**（美股专有）：事件信息缺失，无法评估。\n";
  if (f.market == "ETF") out += "- **跟踪标的关联**：输入未给出跟踪指数，无法判断与 §4 指数的关联度。\n";
  out += "- **系统性风险**：以 §4 的风险提示为准，本节不重复指数数字。\n";
  return out;
}

// The largest close-to-close move of the last 5 bars and any long upper shadow among them.
std::string recent_candles(const SectionInputs& in) {
  const auto& d = in.f.daily;
  if (d.rows() < 6) return "K线不足，无法判断";
  std::size_t big = d.rows() - 5;
  std::string shadows;
  for (std::size_t i = d.rows() - 5; i < d.rows(); ++i) {
    const auto move = [&](std::size_t k) { return std::fabs(d.at("close", k) / d.at("close", k - 1) - 1); };
    if (move(i) > move(big)) big = i;
    const double body = std::fabs(d.at("close", i) - d.at("open", i));
    const double upper = d.at("high", i) - std::max(d.at("open", i), d.at("close", i));
    if (upper > 2 * body && upper > 0.5 * in.r.atr) shadows += "，" + d.date_at(i) + " 长上影";
  }
  return fmt::format("近 5 日最大变动在 {}（{:+.2f}%）{}", d.date_at(big),
                     (d.at("close", big) / d.at("close", big - 1) - 1) * 100, shadows);
}

std::string quant_signals(const Json& pattern) {
  if (!pattern.contains("zx_quant_signals") || pattern["zx_quant_signals"].is_null()) return "zx_quant_signals 缺失";
  const Json& z = pattern["zx_quant_signals"];
  const std::string status = z.value("status", std::string("—"));
  if (status != "available" || !z.contains("engines") || !z["engines"].is_object())
    return "status=" + status + "，不引用也不猜测其信号";
  std::vector<std::string> parts;
  for (const auto& engine : z["engines"].items()) {
    // Named, not a structured binding: clang 14 (the fuzz build) cannot capture one in a lambda.
    const std::string& name = engine.key();
    const Json& e = engine.value();
    if (!e.is_object()) continue;
    const auto text = [&](const char* k) {
      return e.contains(k) ? (e[k].is_string() ? e[k].get<std::string>() : e[k].dump()) : "—";
    };
    parts.push_back(fmt::format("{}（{}）state={}，buy_signal={}，sell_signal={}，参考止损 {}/止盈 {}", name,
                                text("date"), text("state"), text("buy_signal"), text("sell_signal"), text("stop_loss"),
                                text("take_profit")));
  }
  return join(parts, "；") + "（buy_signal=false 不代表看空，引擎价位仅作参考，不凌驾于硬约束）";
}

std::string candle_patterns(const SectionInputs& in) {
  const Json& p = in.f.pattern;
  std::string out;
  if (!p.contains("candle_patterns") || p["candle_patterns"].is_null())
    out = "candle_patterns 缺失，只依据K线本身描述";
  else if (p["candle_patterns"].empty())
    out = "pattern_info 未识别到吞没/启明星/黄昏星组合";
  else
    out = "pattern_info 给出 " + p["candle_patterns"].dump();
  if (has_flag(in.r, "黄昏星")) out += "；risk_flags 含黄昏星，顶部警示";
  return out;
}

std::string step21(const SectionInputs& in) {
  const auto& r = in.r;
  const std::string week = position_word(r.week_ema5, r.week_ema20, r.decimals);
  std::string out = r.weekly_rows == 0 || !finite(r.week_ema20)
                        ? "- **周线级别**：周线数据或周线 EMA 缺失，无法判断中期方向。\n"
                        : fmt::format("- **周线级别**：周线 EMA5 {} {} EMA20 {}，中期方向{}。\n", in.px(r.week_ema5),
                                      week, in.px(r.week_ema20),
                                      week == "高于"   ? "向上"
                                      : week == "低于" ? "向下"
                                                       : "未定");
  out += fmt::format("- **日线级别**：收盘 {} 为 VWMA {} 的 {} 倍；布林带 {}–{}；SAR {}（{}收盘）。\n", in.px(r.close),
                     in.px(r.vwma), num(r.close / r.vwma, 3), in.px(r.lower_band), in.px(r.upper_band), in.px(r.sar),
                     position_word(r.sar, r.close, r.decimals));
  // Against VWMA x 0.98 at the price's decimals, so that the stated relation is the printed one.
  const Comparison vwma_check{"收盘", r.close, round_half_even(r.vwma * 0.98, r.decimals), r.decimals};
  std::string vwma = "vwma_slope 缺失，" + vwma_check.text() + "（VWMA×0.98）";
  if (!r.vwma_slope.empty())
    vwma = "vwma_slope=" + r.vwma_slope + "，" + vwma_check.text() + "（VWMA×0.98）" +
           (vwma_check.at_least() && r.vwma_slope == "positive" ? "，上涨有资金推动"
            : r.close > r.ema20 && vwma_check.below() ? "，价格高于 EMA20 却低于 VWMA×0.98，警惕虚涨"
                                                      : "，资金验证未通过");
  out += "- **VWMA 资金验证**：" + vwma + "。\n";
  out += "- **近期关键K线**：" + recent_candles(in) + "。\n";
  out += "- **K线组合形态**：" + candle_patterns(in) + "。\n";
  out += fmt::format("- **趋势强度与共振**：ADX {}（3 日前 {}，{}）；日线 {}，{}。\n", num(r.adx), num(r.adx_3d_ago),
                     r.adx > r.adx_3d_ago   ? "上升"
                     : r.adx < r.adx_3d_ago ? "回落"
                                            : "持平",
                     alignment_claim(r), (r.ema5 > r.ema20) == (r.week_ema5 > r.week_ema20) ? "日周同向" : "日周背离");
  const std::string deviation = exact_claim("偏离 EMA20 的 ATR 倍数", r.dist_ema20_atr, r.deviation_cap);
  out += "- **防鞭打机制**：" + deviation + "（" + r.tier + "上限），" +
         (!(r.dist_ema20_atr > r.deviation_cap) ? std::string("未触发")
          : in.p.squeeze_exemption              ? "超限但满足逼空豁免（" + in.p.squeeze_reason + "）"
                                                : std::string("触发，趋势追入降级为观望")) +
         "。\n";
  out += "- **量化策略信号核验**：" + quant_signals(in.f.pattern) + "。\n";
  return out;
}

std::string flag_response(const SectionInputs& in, const std::string& flag) {
  const auto value = [&](const char* key) {
    const auto v = pattern_number(in.f.pattern, key);
    return v ? fmt::format("{} {:.2f}", key, *v) : std::string(key) + " 缺失";
  };
  if (flag == "高潮量") return "提高趋势跟随入场门槛，置信度下调一档";
  if (flag == "放量不涨") return "上方抛压沉重，不追高，置信度下调一档";
  if (flag == "黄昏星") return "顶部警示，优先观望等待";
  if (flag == "回撤过深") return "已非健康回踩（" + value("pullback_depth_pct") + "），转向底部反转框架评估";
  if (flag == "回撤过长") return "已非健康回踩（" + value("pullback_days") + "），转向底部反转框架评估";
  if (flag == "放量下跌") return "抛售沉重（" + value("pullback_avg_vr") + "），格外谨慎";
  if (flag == "RS绝对弱势") return "逆风个股（" + value("rs_20d") + "），非强势档不入场";
  return "未定义的标记，按风险从严对待";
}

std::string step22(const SectionInputs& in) {
  const auto& r = in.r;
  std::string volume = "最新量比 " + num(r.volume_ratio);
  if (r.quiet_volume_days >= 3) volume += fmt::format("，已连续 {} 日低于 0.7（缩量蓄势）", r.quiet_volume_days);
  if (r.volume_ratio > 2.5 && r.close < r.prev_close)
    volume += "，天量收跌，警惕派发";
  else if (r.volume_ratio > 1.3 && r.close < r.prev_close)
    volume += "，放量收跌，上方抛压沉重";
  std::string out = "- **量能**：" + volume + "。\n";
  const int obv_dir = trend_sign(r.obv, r.obv_10d_ago), price_dir = trend_sign(r.close, r.close_10d_ago);
  out += finite(r.obv) && finite(r.obv_10d_ago)
             ? fmt::format("- **OBV/MFI 验证**：OBV 较 10 日前{}，价格{}，{}；MFI {}。\n",
                           obv_dir > 0   ? "上升"
                           : obv_dir < 0 ? "下降"
                                         : "持平",
                           price_dir > 0   ? "上涨"
                           : price_dir < 0 ? "下跌"
                                           : "持平",
                           obv_dir == price_dir ? "量价同步" : "量价背离", num(r.mfi))
             : "- **OBV/MFI 验证**：OBV 缺失，跳过；MFI " + num(r.mfi) + "。\n";
  if (!r.risk_flags)
    out += "- **risk_flags**：缺失，无法逐条响应。\n";
  else if (r.risk_flags->empty())
    out += "- **risk_flags**：为空，无需额外响应。\n";
  for (const auto& flag : r.risk_flags.value_or(std::vector<std::string>{}))
    out += "- **risk_flags · " + flag + "**：" + flag_response(in, flag) + "。\n";
  if (in.f.market == "ETF") {
    out += "- **流动性分级**（ETF 特有）：" + (in.p.liquidity_note.empty() ? "成交数据缺失" : in.p.liquidity_note) +
           "。\n";
    out += "- **折溢价分析**：折溢价信息缺失，不做猜测。\n";
  }
  return out;
}

// "底背离/顶背离迹象" when the close sets a 20-day extreme that the MACD histogram does not confirm.
std::string divergence(const SectionInputs& in) {
  const auto& d = in.f.daily;
  if (d.rows() < 20 || !d.has_column("MACD_hist")) return "数据不足，未判定背离";
  double lo = INFINITY, hi = -INFINITY, hlo = INFINITY, hhi = -INFINITY;
  for (std::size_t i = d.rows() - 20; i + 1 < d.rows(); ++i) {
    lo = std::min(lo, d.at("close", i)), hi = std::max(hi, d.at("close", i));
    if (finite(d.at("MACD_hist", i)))
      hlo = std::min(hlo, d.at("MACD_hist", i)), hhi = std::max(hhi, d.at("MACD_hist", i));
  }
  if (in.r.close < lo && in.r.macd_hist > hlo)
    return "底背离迹象（收盘创 20 日新低而 MACD 柱未创新低），计为反转候选证据，不单独构成买入";
  if (in.r.close > hi && in.r.macd_hist < hhi) return "顶背离迹象（收盘创 20 日新高而 MACD 柱未创新高），谨防动能衰减";
  return "未见背离";
}

std::string step23(const SectionInputs& in) {
  const auto& r = in.r;
  const auto& h = r.macd_hist_last4;
  std::string out = finite(r.macd_hist)
                        ? fmt::format("- **MACD**：DIF {} / DEA {} / 柱 {}（近 3 日 {}→{}→{}），DIF {} DEA。\n", r.macd,
                                      r.macd_signal, r.macd_hist, h[1], h[2], h[3],
                                      r.macd > r.macd_signal   ? "高于"
                                      : r.macd < r.macd_signal ? "低于"
                                                               : "等于")
                        : "- **MACD**：缺失，跳过。\n";
  out += finite(r.rsi) ? fmt::format("- **RSI/KDJ**：RSI {}（RSI_6 {}），{}；J 值 {}。\n", num(r.rsi), num(r.rsi6),
                                     r.rsi > 70   ? "超买区"
                                     : r.rsi < 30 ? "超卖区"
                                                  : "中性区",
                                     num(r.j))
                       : "- **RSI/KDJ**：RSI 缺失，跳过。\n";
  out += "- **背离**：" + divergence(in) + "。\n";
  return out;
}

std::string step24(const SectionInputs& in) {
  const auto& r = in.r;
  const auto& p = in.p;
  const bool in_step = trend_sign(r.obv, r.obv_10d_ago) == trend_sign(r.close, r.close_10d_ago);
  const auto& h = r.macd_hist_last4;
  std::string stage = p.no_buy_reason.empty()         ? "可执行入场"
                      : p.strategy_mode == "底部反转" ? (r.close > r.ema5 && h[3] > h[2] ? "反转确认" : "筑底观察")
                                                      : "不具备可执行入场条件";
  std::string out = std::string("1. **量价是裁判**：") +
                    (in_step ? "OBV 与价格同向，量价配合。" : "OBV 与价格背离，降低对价格信号的信任。") + "\n";
  out += std::string("2. **周线定中期**：") +
         (finite(r.week_ema20)
              ? (r.week_ema5 > r.week_ema20 ? "周线向上，顺势。" : "周线向下，属逆势风险，下调置信度与仓位。")
              : "周线缺失。") +
         "\n";
  out += "3. **先分阶段再下结论**：" + stage + (p.no_buy_reason.empty() ? "。" : "——" + p.no_buy_reason + "。") + "\n";
  return out;
}

}  // namespace

std::string num(double v, int decimals) { return std::isfinite(v) ? fmt::format("{:.{}f}", v, decimals) : "—"; }

std::string evidence_section(const std::string& number, const SectionInputs& in) {
  if (number == "0") return step0(in);
  if (number == "1") return step1(in);
  if (number == "2") return "只展开与核心矛盾相关的证据。\n";
  if (number == "2.0") return step20(in);
  if (number == "2.1") return step21(in);
  if (number == "2.2") return step22(in);
  if (number == "2.3") return step23(in);
  if (number == "2.4") return step24(in);
  return "";
}

}  // namespace quorvel::agent::offline
