// Prompt text: the notes block that closes every stock prompt, and the market notes.
#include <string>

#include "quorvel/agent/prompts/vellumor/sections.h"

namespace quorvel::agent::prompts::vellumor {

namespace detail {

// Market notes, items 5-8 of a market's own list: price limits and settlement, JSON rules,
// reward/risk priority, quote currency.
constexpr std::string_view NOTES_MID_A = R"TXT(5. **A股涨跌停与 T+1 止损执行**：T+1 制度下当日买入最早次日才能卖出，止损只能在次日开盘执行。因此止损缓冲取防守位下方 1.0-1.5 × ATR，而不是 0.5-1 × ATR；弱势档（bias 为偏空/避险）以档位上限 1.2 × ATR 为准。近 5 日在关键均线下方连续收阴时，警惕跳空低开放大止损；前一交易日跌停 → `action` 为“观望等待”。
6. **JSON 规范**：所有数值保留三位小数，不带单位，绝不编造 JSON；`holding_period` 写成“N个交易日”（数字加单位，不含其他内容）。
7. **盈亏比优先**：RRR < `calculated_constraints.min_rrr` 时绝不入场。
8. **价格单位**：人民币 (CNY)。
)TXT";

constexpr std::string_view NOTES_MID_US = R"TXT(5. **JSON 规范**：所有数值保留三位小数，不带单位，绝不编造 JSON；`holding_period` 写成“N个交易日”（数字加单位，不含其他内容）。
6. **盈亏比优先**：RRR < `calculated_constraints.min_rrr` 时绝不入场。
7. **美股事件窗口**：距财报 ≤ 5 个交易日，或处于 FOMC / CPI / 非农所在的一周 → 倾向“观望等待”，置信度至少下调一档。
8. **货币单位**：美元 (USD)。
)TXT";

constexpr std::string_view NOTES_MID_HK = R"TXT(5. **JSON 规范**：所有数值保留三位小数，不带单位，绝不编造 JSON；`holding_period` 写成“N个交易日”（数字加单位，不含其他内容）。
6. **盈亏比优先**：RRR < `calculated_constraints.min_rrr` 时绝不入场。
7. **港股无涨跌幅限制**：警惕剧烈波动与流动性陷阱。
8. **货币单位**：港币 (HKD)。
)TXT";

constexpr std::string_view NOTES_MID_ETF = R"TXT(5. **JSON 规范**：所有数值保留三位小数，不带单位，绝不编造 JSON；`holding_period` 写成“N个交易日”（数字加单位，不含其他内容）。
6. **盈亏比优先**：RRR < `calculated_constraints.min_rrr` 时绝不入场。
7. **风险提示**：警惕小规模 ETF 的流动性陷阱。
8. **货币单位**：人民币 (CNY)。
)TXT";

}  // namespace detail

namespace {

// The notes shared by all markets. Items 7 and 8 are left out on purpose: their numbers belong to
// the market notes, which this block does not carry.
constexpr std::string_view NOTES = R"TXT(
## 注意事项
1. **逻辑一致性（与 5.3 对应的硬约束）**：`rrr` < `calculated_constraints.min_rrr` → `action` 必须为“观望等待”（这是唯一不可被任何因素推翻的阈值）；`direction = 看空` → 不得给出任何等级的买入；`holder_action = 清仓离场` → `action` 必须为“观望等待”；任一买入须满足 `stop_loss < entry_price_low ≤ entry_price_high < target_1 < target_2`。
   **字段填充指引**：观望 → `rrr/rrr_max/position_pct` = 0；观望 + 继续持有 → 填持仓者的防守位与目标位；观望 + 分批减仓 → 底线止损，以及高于 `current_price` 的减仓价；观望 + 清仓离场 → 全部为 0；观望且没有持仓 → `holding_period` 为“无”。
2. **数据引用**：引用具体的价格、日期与指标数值。
3. **批判性使用 <pattern_info>**：发现形态识别有误时，须指出并纠正。
4. **禁止编造形态**：只依据K线数据描述价格行为。
5. **量化策略信号核验**（来自 pattern_info.zx_quant_signals）：写明每个信号的日期；区分策略状态与实际触发——只有 buy_signal=true 才表示引擎当日触发了买入，false 并不代表看空；多个引擎结论冲突时，逐一说明各自的状态、理由与差异，不得只挑对自己有利的引用；引擎给出的止损/止盈只是参考，须与价格、结构及 `calculated_constraints` 对照，绝不能凌驾于硬约束之上；status=unsupported_market 或 unsupported_version 时，不引用也不猜测其信号。
6. **底部候选与入场动作分离**：置信度、RRR 或止损条件不满足时，可以而且应该给出观望，但有依据的底部观察/反转候选、它的确认条件与失效价位仍须报告；观望并不否定底部假设。
9. **置信度与约束引擎说明**：`calculated_constraints` 由系统预先计算，你需要结合K线“故事”对它进行核验。**置信度基准**：引用 `base_confidence_score`，只有给出具体形态证据时才可在 ±0.3 范围内调整（见 §5.3），不得以笼统的综合判断为由调整。**硬性上限**：仓位比例与止损距离绝不超过系统上限；盈亏比低于 `min_rrr` 即观望。
10. **数据不足降级**：日线数据少于 30 根时，在 Step 0 之后立即声明“数据不足，分析结论置信度强制降为低”，并在 Step 6 的 JSON 中把 `confidence` 设为“低”。
11. **异常数据兜底与极端行情认知**：
   - `close` 为 0 或负数，或连续 ≥ 3 个交易日数据完全相同 → 标注“疑似停牌/数据异常”，`confidence` 设为“低”，`action` 设为“观望等待”；
   - 在没有涨跌幅限制的市场（美股、港股、ETF），极端波动（单日 > 20% 或翻倍、累计涨幅 > 300%、极端乖离）属正常现象，不得称为数据错误、除权或数据失真；
   - 只有在涨跌幅限制严格的市场（如上市期满后的 A 股主板），单日涨跌幅超过 ±20% 才可标注“疑似除权除息或数据异常”；
   - ATR / RSI / MACD 为 NaN 或 null 时直接跳过，不得用默认值填充；
   - `current_price` 与最新日线 `close` 相差超过 ±3% → 标注“当日行情波动大”，入场区间以 `current_price` 为基准。
12. **`market_sentiment` 映射**：严格依据 Step 2.0 的结论：偏多 → 看多，偏空 → 看空，震荡 → 中性，避险 → 中性。
13. **波动率状态感知**（来自 pattern_info.market_context.vol_regime）：
   - `high_vol`（指数 ATR 高于其 60 日均值的 1.3 倍）→ 仓位上限降至该档位正常水平的 75%；区间策略可靠性下降，置信度至少下调一档；止损缓冲可在档位 ATR 上限之内额外增加 0.3 × ATR；
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

// The notes block that closes a stock prompt, followed by the start instruction. `mid` is the
// market's own note list; the templates carry the shared block only, so it does not enter the text.
std::string _build_notes([[maybe_unused]] std::string_view mid) {
  return std::string(NOTES) + std::string(detail::USER_KICKOFF);
}

}  // namespace quorvel::agent::prompts::vellumor
