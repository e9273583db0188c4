// Prompt text: the notes block that closes every stock prompt, and the market notes.
#include <string>

#include "quorvel/agent/prompts/vellumor/sections.h"

namespace quorvel::agent::prompts::vellumor {

namespace detail {

// Market notes, items 5-8 of a market's own list: price limits and settlement, JSON rules,
// reward/risk priority, quote currency.
constexpr std::string_view NOTES_MID_A = R"TXT(5. **A股涨跌停与 T+1 止损执行**：T+1 制度只锁定当日买入的股份（此前已持有的股份不受限制），新开仓位的止损最早在下一交易日执行。因此止损缓冲取防守位下方 1.0-1.5 × ATR，而不是 0.5-1 × ATR；弱势档（bias 为偏空/避险）以档位上限 1.2 × ATR 为准。近 5 日在关键均线下方连续收阴时，警惕跳空低开放大止损；最近一个交易日（数据中最后一根日线）收盘价等于跌停价（封跌停）→ `action` 为“观望等待”。
6. **JSON 规范**：所有数值保留三位小数，不带单位，绝不编造 JSON；`holding_period` 写成“N个交易日”（数字加单位，不含其他内容）。
7. **盈亏比优先**：RRR < `calculated_constraints.min_rrr` 时绝不入场。
8. **价格单位**：人民币 (CNY)。
)TXT";

constexpr std::string_view NOTES_MID_US = R"TXT(5. **JSON 规范**：所有数值保留三位小数，不带单位，绝不编造 JSON；`holding_period` 写成“N个交易日”（数字加单位，不含其他内容）。
6. **盈亏比优先**：RRR < `calculated_constraints.min_rrr` 时绝不入场。
7. **美股事件窗口**：距财报 ≤ 5 个交易日，或处于 FOMC / CPI / 非农所在的一周 → 倾向“观望等待”，置信度至少下调一档。输入数据不含事件日历（`trading_rules.position_caps.event` 为 "unknown"）：不得编造财报日期，事件风险写明“未知”。
8. **货币单位**：美元 (USD)。
)TXT";

constexpr std::string_view NOTES_MID_HK = R"TXT(5. **JSON 规范**：所有数值保留三位小数，不带单位，绝不编造 JSON；`holding_period` 写成“N个交易日”（数字加单位，不含其他内容）。
6. **盈亏比优先**：RRR < `calculated_constraints.min_rrr` 时绝不入场。
7. **港股无涨跌幅限制**：警惕剧烈波动与流动性陷阱。近 20 日日均成交额与所属流动性档位见 `trading_rules.avg_turnover_20d` / `liquidity_tier`（分级与仙股规则见 Step 3）；每手股数见 `trading_rules.lot`，数据未载明时为 "unknown"，不得自行假定。
8. **货币单位**：港币 (HKD)。
)TXT";

constexpr std::string_view NOTES_MID_ETF = R"TXT(5. **JSON 规范**：所有数值保留三位小数，不带单位，绝不编造 JSON；`holding_period` 写成“N个交易日”（数字加单位，不含其他内容）。
6. **盈亏比优先**：RRR < `calculated_constraints.min_rrr` 时绝不入场。
7. **风险提示**：警惕小规模 ETF 的流动性陷阱。
8. **货币单位**：人民币 (CNY)。
)TXT";

// Rules of the A-share market that its market notes do not spell out: the daily limit bands by
// board and what the next session's limit prices bound, the trading lot, and how the T+1 stop
// buffer fits the stop-distance cap.
constexpr std::string_view MARKET_RULES_EXTRA_A = R"TXT(- **涨跌幅限制（按板块）**：主板 ±10%；创业板（300/301 开头）与科创板（688 开头）±20%；主板 ST / *ST 股 ±5%（创业板、科创板与北交所的 ST 股仍按本板块幅度）；北交所 ±30%（新股上市前五个交易日另有规定）。本标的的涨跌幅见 `trading_rules.limit_band_pct`，下一交易日的涨跌停价见 `trading_rules.limit_up / limit_down`：入场区间须落在其内；止损价与目标价可以超出这一范围，但只能在之后的交易日到达（止损价低于跌停价时，跌停当日可能无法成交）。
- **交易单位**：主板与创业板买入以 100 股（1 手）为单位；科创板（688 开头）买入不少于 200 股，超出部分按 1 股递增。以 `trading_rules.lot` 与 `trading_rules.lot_note` 为准，按仓位折算的股数向下取整到可成交的数量。
- **T+1 缓冲与止损上限**：T+1 止损缓冲计入 `calculated_constraints.max_stop_dist_atr` 之内（止损距离按 `entry_price_high` 计算）；缓冲与上限无法同时满足时 → `action` 为“观望等待”。
)TXT";

// Rules of exchange-traded funds that the fund's market notes do not spell out: settlement by fund
// type, the limit band, the lot and the liquidity tier, each pointing at pattern_info.trading_rules.
constexpr std::string_view MARKET_RULES_EXTRA_ETF = R"TXT(- **交收制度**：股票类基金 T+1；债券、黄金与跨境基金 T+0。本基金适用哪一种见 `trading_rules.settlement`，`trading_rules.assumed` 列出数据未载明、按通常情形假定的项。T+1 时新开仓位的止损最早在下一交易日执行。
- **涨跌幅限制**：±10%；跟踪创业板或科创板指数的基金 ±20%。本基金的涨跌幅见 `trading_rules.limit_band_pct`，下一交易日的涨跌停价见 `trading_rules.limit_up / limit_down`：入场区间须落在其内；止损价与目标价可以超出这一范围，但只能在之后的交易日到达。
- **交易单位**：买入以 100 份为最小单位（`trading_rules.lot`）。
- **流动性分级**：近 20 日日均成交额见 `trading_rules.avg_turnover_20d`，所属档位见 `trading_rules.liquidity_tier`；分级与仓位上限按 2.2 所列。
)TXT";

}  // namespace detail

namespace {

// The notes shared by all markets, numbered 1-6 and 9-14: items 7 and 8 belong to the market notes,
// whose rule and currency items follow as the unnumbered market rules block.
constexpr std::string_view NOTES = R"TXT(
## 注意事项
1. **逻辑一致性（与 5.3 对应的硬约束）**：`rrr` < `calculated_constraints.min_rrr` → `action` 必须为“观望等待”（硬否决，不可被任何因素推翻；完整清单见下方“硬性否决清单”）；`direction = 看空` → 不得给出任何等级的买入；`holder_action = 清仓离场` → `action` 必须为“观望等待”；任一买入须满足 `stop_loss < entry_price_low ≤ entry_price_high < target_1 < target_2`。
   **硬性否决清单**（任一成立 → `action` 必须为“观望等待”，不可被任何形态、信号或综合判断推翻）：① `rrr` < `calculated_constraints.min_rrr`；② 止损距离 (`entry_price_high` − `stop_loss`) / ATR > `calculated_constraints.max_stop_dist_atr`；③ 市场 bias=避险（禁止新开仓）；④ `direction = 看空`；⑤ `strategy_mode = 均线压缩`（放量突破确认之前）；⑥ `holder_action = 清仓离场`；⑦ 疑似停牌/数据异常（第 11 条）；⑧ 港股仙股（近 20 日日均成交额低于 1000 万港币）；⑨ A 股最近一个交易日（数据中最后一根日线）收盘价等于跌停价（封跌停）；⑩ `trading_rules.effective_max_position_pct` 为 0，或给出 `trading_rules.limit_up / limit_down` 时入场区间无法落在 `trading_rules.limit_down`–`trading_rules.limit_up` 之内。另有硬上限：`position_pct` ≤ `trading_rules.effective_max_position_pct`（有效上限，不会高于 `calculated_constraints.max_position_pct`）。
   **数值优先级**：pattern_info 中 `calculated_constraints` 与 `trading_rules` 的数值优先于本提示正文写出的数值；两处限额不一致时，以更严格者为准。仓位上限只认 `trading_rules.effective_max_position_pct`：它已计入避险禁止开仓、高波动下调、流动性分级，以及已知时的事件上限。
   **字段填充指引**：观望 → `rrr/rrr_max/position_pct` = 0；观望 + 继续持有 → 填持仓者的防守位与目标位；观望 + 分批减仓 → 底线止损，以及高于 `current_price` 的减仓价；观望 + 清仓离场 → 全部为 0；观望且没有持仓 → `holding_period` 为“无”。
2. **数据引用**：引用具体的价格、日期与指标数值。
3. **批判性使用 <pattern_info>**：发现形态识别有误时，须指出并纠正。
4. **禁止编造形态**：只依据K线数据描述价格行为。
5. **量化策略信号核验**（来自 pattern_info.zx_quant_signals）：写明每个信号的日期；区分策略状态与实际触发——只有 buy_signal=true 才表示引擎当日触发了买入，false 并不代表看空；多个引擎结论冲突时，逐一说明各自的状态、理由与差异，不得只挑对自己有利的引用；引擎给出的止损/止盈只是参考，须与价格、结构及 `calculated_constraints` 对照，绝不能凌驾于硬约束之上；status=unsupported_market 或 unsupported_version 时，不引用也不猜测其信号。
6. **底部候选与入场动作分离**：置信度、RRR 或止损条件不满足时，可以而且应该给出观望，但有依据的底部观察/反转候选、它的确认条件与失效价位仍须报告；观望并不否定底部假设。
9. **置信度与约束引擎说明**：`calculated_constraints` 由系统预先计算，你需要结合K线“故事”对它进行核验。**置信度基准**：引用 `base_confidence_score`，只有给出具体形态证据时才可在 ±0.3 范围内调整（见 §5.3），不得以笼统的综合判断为由调整。**硬性上限**：仓位比例绝不超过有效上限 `trading_rules.effective_max_position_pct`，止损距离绝不超过 `calculated_constraints.max_stop_dist_atr`；盈亏比低于 `min_rrr` 即观望。
10. **数据不足降级**：日线数据少于 30 根时，在 Step 0 之后立即声明“数据不足，分析结论置信度强制降为低”，并在 Step 6 的 JSON 中把 `confidence` 设为“低”。
11. **异常数据兜底与极端行情认知**：
   - `close` 为 0 或负数，或连续 ≥ 3 个交易日数据完全相同 → 标注“疑似停牌/数据异常”，`confidence` 设为“低”，`action` 设为“观望等待”；
   - 在没有涨跌幅限制的市场（美股、港股），极端波动（单日 > 20% 或翻倍、累计涨幅 > 300%、极端乖离）属正常现象，不得称为数据错误、除权或数据失真；
   - A 股与场内基金都有涨跌幅限制：上市前五个交易日之外，超出当日涨跌幅限制的跳空只能来自拆分、送转等公司行为。系统已在 `pattern_info.corporate_actions` 中列出这些日期与比例，并把之前的价格和成交量换算到新的基准，不得把它当作真实涨跌；现金分红未调整，因此该序列不是前复权序列；
   - ATR / RSI / MACD 为 NaN 或 null 时直接跳过，不得用默认值填充；
   - `pattern_info` 中显示为 null 或缺失的字段（常附 `*_reason` 说明原因）即缺失数据：须写明“数据缺失”及原因，不得自行估算或编造；
   - `current_price` 与最新日线 `close` 相差超过 ±3% → 标注“当日行情波动大”，入场区间以 `current_price` 为基准。
12. **`market_sentiment` 映射**：严格依据 Step 2.0 的结论：偏多 → 看多，偏空 → 看空，震荡 → 中性，避险 → 中性。
13. **波动率状态感知**（来自 pattern_info.market_context.vol_regime）：
   - `high_vol`（指数 ATR 高于其 60 日均值的 1.3 倍）→ 仓位上限降至该档位正常水平的 75%（`trading_rules.effective_max_position_pct` 已计入，不再重复折算）；区间策略可靠性下降，置信度至少下调一档；止损缓冲可在档位 ATR 上限之内额外增加 0.3 × ATR；
   - `low_vol`（指数 ATR 低于其 60 日均值的 0.85 倍）→ 突破信号更可靠，正常仓位；
   - `normal_vol` → 不做调整。
14. **risk_flags 强制响应**（来自 pattern_info.risk_flags）：每一个标记都必须讨论，并据此调整置信度与入场倾向：
   - `高潮量` → 提高趋势跟随的入场门槛，置信度至少下调一档；
   - `放量不涨` → 上方抛压沉重，不追高，置信度下调一档；
   - `黄昏星` → 顶部警示，优先“观望等待”；
   - `回撤过深`（pullback_depth_pct > 15%）或 `回撤过长`（pullback_days > 15）→ 已不是健康回踩，转向底部反转框架评估；
   - `放量下跌`（pullback_avg_vr > 1.2）→ 抛售沉重，格外谨慎；
   - `RS绝对弱势`（rs_20d < −5%）→ 逆风个股，非强势档不入场。
)TXT";

}  // namespace

// The notes block that closes a stock prompt, the market's rules block and the start instruction.
std::string _build_notes(std::string_view market_rules) {
  return std::string(NOTES) + std::string(market_rules) + std::string(detail::USER_KICKOFF);
}

std::string _build_market_rules(std::string_view market_label, std::string_view mid, std::string_view extra) {
  std::string out = "\n## 市场规则（" + std::string(market_label) + "）\n";
  std::size_t begin = 0;
  while (begin < mid.size()) {
    const std::size_t end = std::min(mid.find('\n', begin), mid.size());
    std::string_view line = mid.substr(begin, end - begin);
    begin = end + 1;
    if (line.empty() || line.find("**JSON 规范**") != std::string_view::npos ||
        line.find("**盈亏比优先**") != std::string_view::npos)
      continue;
    const std::size_t dot = line.find(". ");
    if (dot != std::string_view::npos && dot <= 2) line.remove_prefix(dot + 2);
    out += "- ";
    out += line;
    out += "\n";
  }
  return out + std::string(extra);
}

}  // namespace quorvel::agent::prompts::vellumor
