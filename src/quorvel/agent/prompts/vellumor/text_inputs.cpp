// Prompt text: the instrument and bar-data block, the data-field guide, the pattern and market-brief
// section and the framework header, with the builders that fill in the market labels.
#include <string>

#include "quorvel/agent/prompts/vellumor/sections.h"

namespace quorvel::agent::prompts::vellumor {
namespace {

// Data-field guide up to the example cell of the OHLC row; the market's example follows.
constexpr std::string_view DATA_FIELDS_HEAD = R"TXT(**数据格式说明**
2.1 标的数据以 JSON 格式提供，主要字段如下（仅列出分析中会引用的字段）：
数据布局：`columns` 依次列出字段名，`rows` 中每根K线是一个按同样顺序排列取值的数组，null 表示缺失。

| 字段 | 含义 | 示例 |
|---|---|---|
| Date | 交易日期 | 2025-11-17 |
| open/high/low/close | OHLC价格 | )TXT";

constexpr std::string_view DATA_FIELDS_TAIL = R"TXT( |
| volume | 成交量 | 3066412 |
| Volume_Ratio | 量比（量能放大倍数） | 3.53 |
| EMA_5/10/20/60/120 | 多周期指数移动平均线；EMA_60/120 近似月线/季线 | 0.794, 0.781... |
| VWMA | 成交量加权均线，代表资金的真实持仓成本；EMA 与 VWMA 的偏离度衡量市场共识 | 25.85 |
| upper/middle/lower_band | 布林带（上轨/中轨/下轨） | 0.826, 0.763, 0.700 |
| MACD/MACD_signal/MACD_hist | MACD 指标（DIF/DEA/柱状图） | 0.017, 0.017, 0.000 |
| RSI | 相对强弱指数；数据中另含 RSI_6/12/24 多周期版本 | 68.5 |
| K/D/J | KDJ 随机指标 | 72.5, 65.3, 86.9 |
| OBV | 能量潮（累积成交量） | 158203847 |
| MFI | 资金流量指数 | 55.2 |
| ADX | 趋势强度，低于 20 视为震荡市 | 28.5 |
| ATR | 平均真实波幅，用于计算止损缓冲与估算持仓周期 | 0.016 |
| SAR | 抛物线转向指标，可作动态止损锚点 | 0.785 |

2.2 周线数据带有 `partial_week` 成员时（last_bar 为该周已有的最后一个交易日，sessions 为该周已交易的天数），最后一根周线是尚未走完的当周，只含这 sessions 个交易日：其成交量、量比与振幅不能与完整周比较。以日线为主要分析依据，周线只用来判断中期方向。
2.3 需要更长周期的支撑/压力时，以日线数据中的 EMA_60 与 EMA_120 近似代替月线/季线趋势。

)TXT";

// Pattern section and the opening of the market-brief section, up to the entity word.
constexpr std::string_view INPUT_ENV_HEAD = R"TXT(### 3. 形态信息初步分析
**形态模式信息参考：**
<pattern_info>
{pattern_info}
</pattern_info>

> **字段参考说明** (pattern_info 内含):
> - `urgency`：信号紧迫度 HIGH / MEDIUM / LOW，由信号新鲜度与触发位置综合得出。
> - `universe_rank / universe_size`：在当日全市场扫描幸存标的中的排名与总数，反映信号的相对稀缺性。
> - `calculated_constraints`：系统预计算的硬约束。`base_confidence_score` 为建议的置信度基准分（0 ~ 4.5）；`confidence_breakdown` 为该基准分的构成（趋势、量能、共振等分项）；`min_rrr / max_stop_dist_atr` 为最低盈亏比与最大止损距离（ATR 倍数），已按当前市场环境自适应调整。
> - `trading_rules`：本标的须遵守的市场交易规则。`effective_max_position_pct` 为有效仓位上限（`position_caps` 各项已知上限中的最小者）；`settlement` 为交收制度；`limit_band_pct` 与 `limit_up / limit_down` 为涨跌幅与下一交易日的涨跌停价（港股、美股为 null）；`lot / lot_note` 为交易单位；`avg_turnover_20d / liquidity_tier` 为近 20 日日均成交额（以 `currency` 计，算法见 `turnover_basis`）与流动性档位；`atr` 为最新日线 ATR(14)；`assumed` 列出数据未载明、按通常情形假定的项；"unknown" 表示数据无法确定。
> - `price_context.support / resistance`：结构性价位。support 取 20 日最低价与 EMA20 中的较低者，resistance 取 20 日最高价与布林上轨中的较高者。它是粗粒度的参考基线，也是 Step 3、Step 4 的默认锚点；你可以用更合适的价位覆盖它，但须在 Step 3 说明偏离理由。`low_5d`：近 5 日最低收盘价（底部反转的止损锚点）。
> - `classic_pivot_points / fibonacci_pivot_points`：由上周最高价、最低价、收盘价计算的周线枢轴点，各含 P、R1-R3、S1-S3，是支撑/压力与目标价的候选锚点，多个来源重合处最强；S1-S3 适合设置止损与低吸，R1-R3 适合设置目标价。
> - `zx_quant_signals`：zx-quant 策略引擎的信号快照（策略名称、信号日期、状态、买入/卖出信号、信号等级、止损/止盈参考、触发原因与指标明细）。

### 4. 大盘 AI 预分析（系统统一判断，所有标的共享）
> 以下是在本次分析之前已完成的大盘 AI 预分析，同一市场、同一日期下的所有)TXT";

constexpr std::string_view INPUT_ENV_TAIL = R"TXT(
> 共享同一份判断口径。请基于此结论做 Beta 匹配与系统性风险评估，
> **不要在 Step 2.0 重新罗列大盘指数的原始数字**。

<market_ai_brief>
{market_ai_brief}
</market_ai_brief>
)TXT";

// Framework heading, word budget and Step 0, up to the Step-0 label.
constexpr std::string_view FRAMEWORK_HEAD = R"TXT(
## 分析框架
请严格按照以下步骤进行分析，并在回答中完整包含这些章节。

> **字数预算（每节上限，严格遵守）**：
> - Step 0（标的信息）：≤ 50 字
> - Step 1（市场状态诊断）：200-300 字
> - Step 2（关键证据分析，含 2.0-2.4）：600-900 字
> - Step 3（关键点位与风险）：200-300 字
> - Step 4（目标价与盈亏比）：200-300 字
> - Step 5（交易决策，含 5.1/5.2/5.3）：300-400 字
> - Step 6（结构化 JSON）：不计入字数，只输出 schema
> - 全文合计 1500-2500 字，超出部分将被截断

### 0. 标的信息
在报告开头输出)TXT";

}  // namespace

std::string _build_input_header(std::string_view code_lbl, std::string_view name_lbl,
                                std::string_view daily_lbl, std::string_view weekly_lbl) {
  std::string out = "\n## 输入数据\n### 1. 标的信息\n- ";
  out += code_lbl;
  out += "：{stock_code}\n- ";
  out += name_lbl;
  out +=
      "：{stock_name}\n- 分析时间：{analysis_time}\n- 当前价格：{current_price}\n- 今日涨幅："
      "{pct_change}%\n\n### 2. 标的交易数据\n**";
  out += daily_lbl;
  out += " (Daily Data - 60 days):**\n<daily_data>\n{stock_data}\n</daily_data>\n\n**";
  out += weekly_lbl;
  out += " (Weekly Data - 20 weeks):**\n<weekly_data>\n{stock_week_data}\n</weekly_data>\n\n";
  return out;
}

std::string _build_data_fields(std::string_view ohlc_example) {
  std::string out(DATA_FIELDS_HEAD);
  out += ohlc_example;
  out += DATA_FIELDS_TAIL;
  return out;
}

std::string _build_input_env_section(std::string_view env_entity) {
  std::string out(INPUT_ENV_HEAD);
  out += env_entity;
  out += INPUT_ENV_TAIL;
  return out;
}

std::string _build_framework_header(std::string_view step0_label) {
  std::string out(FRAMEWORK_HEAD);
  out += step0_label;
  out += "、分析时间和当前价格。\n";
  return out;
}

std::string _build_env_and_framework_header(std::string_view env_entity, std::string_view step0_label) {
  return _build_input_env_section(env_entity) + "\n---\n" + _build_framework_header(step0_label);
}

}  // namespace quorvel::agent::prompts::vellumor
