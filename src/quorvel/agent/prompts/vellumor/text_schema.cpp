// Prompt text: Step 6, the structured decision (field table, JSON example, output rules), and the
// short joining texts of the stock prompts.
#include "quorvel/agent/prompts/vellumor/sections.h"

namespace quorvel::agent::prompts::vellumor::detail {

constexpr std::string_view STEP6_SCHEMA_SYSTEM = R"TXT(
### 6. 结构化决策摘要
在报告最后，把交易决策输出为一个 JSON 对象，放在标注为 json 的代码块中，供系统直接解析。全文只允许出现这一个 ```json 代码块，且位于回答末尾：系统只读取第一个 json 代码块，正文中引用 `calculated_constraints` 等数据时不要使用 json 代码块。

#### 6.1 字段定义表（权威版本，JSON 取值须严格遵守）
| 字段 | 类型 | 取值 | 说明 |
|---|---|---|---|
| stock_code | string | 照抄输入 | — |
| stock_name | string | 照抄输入 | — |
| analysis_time | string | 照抄输入 | — |
| current_price | float | 照抄输入 | — |
| direction | enum | 看多 / 看空 / 中性 | 三选一 |
| action | enum | 强烈买入 / 建议买入 / 谨慎买入 / 观望等待 | 任一买入都须同时满足 RRR 约束与止损距离上限；等级按 5.3 的映射表确定 |
| holder_action | enum | 继续持有 / 分批减仓 / 清仓离场 | 给持仓者的建议 |
| strategy_mode | enum | 趋势跟随 / 底部反转 / 区间震荡 / 空仓等待 / 均线压缩 | 与 Step 1 一致；均线压缩（蓄势观察）时 `action` 必须为观望等待 |
| entry_price_low | float | ≥ 0 | 任一买入：入场区间下限，须在 `current_price` × [0.92, 1.05] 之内；观望：所观察触发区间的下限，没有则填 0 |
| entry_price_high | float | ≥ entry_price_low | 任一买入：入场区间上限；观望：触发区间上限，没有则填 0 |
| stop_loss | float | ≥ 0 | 任一买入：低于 `entry_price_low`；观望 + 继续持有：持仓防守位；观望 + 分批减仓：底线防守位；观望 + 清仓离场：0 |
| target_1 | float | ≥ 0 | 任一买入：高于 `entry_price_high`；观望 + 继续持有：持仓目标位；观望 + 分批减仓：第一减仓价（> `current_price`）；观望 + 清仓离场：0 |
| target_2 | float | ≥ target_1（任一买入时须 > target_1） | 买入时规则同 `target_1`，且严格高于 `target_1`；观望 + 分批减仓：第二减仓价；观望 + 清仓离场：0 |
| rrr | float | 三位小数 | 观望时为 0；低于 `min_rrr` 强制观望等待 |
| rrr_max | float | ≥ rrr | 观望时为 0；用 `target_2` 计算 |
| support_price | float | > 0 | 关键支撑位 |
| resistance_price | float | > support_price | 关键压力位 |
| position_pct | int | 0-100 的整数（不带 % 号） | 观望时为 0；谨慎买入 ≤ 15；其余买入等级按策略模式分级 |
| holding_period | string | "N个交易日"（N 为整数）或 "无" | 按优先级取值：(a) 任一买入 → 入场后预计持有的交易日数；(b) 观望等待 + 继续持有 → 剩余持有交易日数；(c) 观望等待 + 分批减仓 / 清仓离场，或没有持仓 → "无" |
| confidence | enum | 高 / 中 / 低 | 由评分得出（见注意事项第 9 条） |
| risk_level | enum | 高 / 中 / 低 | 综合波动率、流动性与市场环境 |
| market_sentiment | enum | 看多 / 看空 / 中性 | 取自 Step 2.0：偏多 → 看多，偏空 → 看空，震荡 / 避险 → 中性 |
| key_watch | string | 两个触发条件 | 格式为 "升级触发：[条件]→[操作]；降级触发：[条件]→[操作]"，两者都须写出具体价格或指标数值 |

#### 6.3 输出要求
- 全文恰好一个 ```json 代码块，即本决策，放在回答末尾；块内只有一个合法的 JSON 对象：一律使用双引号，不留尾随逗号，不写注释。
- 字段名与字段顺序严格按照 6.1。
- 所有浮点数值字段保留三位小数（`position_pct` 为整数）。
- 任何字段都不得填写占位式表述（如“X 或 Y”、“关注...”），必须给出确定的值。
- JSON 示例见用户消息中的 6.2 节。
)TXT";

constexpr std::string_view STEP6_EXAMPLE_USER = R"TXT(
#### 6.2 示例 JSON（**仅为 schema 示例，数值须替换为你分析的真实结果**）
> 本示例为 `action=观望等待` + `holder_action=继续持有` 的填法：不入场，`position_pct=0`，`rrr/rrr_max=0`；`entry_price_low/high` 为所观察的触发区间（没有则填 0）；`stop_loss` 与 `target_1/2` 为持仓者的防守位与目标位，均不为 0。
> 若为 `分批减仓`：`target_1/2` 为高于 `current_price` 的减仓价，`stop_loss` 为底线防守位，`rrr/rrr_max=0`；若为 `清仓离场`：全部价格字段与 `rrr/rrr_max` 均为 0。

```json
{{
  "stock_code": "{stock_code}",
  "stock_name": "{stock_name}",
  "analysis_time": "{analysis_time}",
  "current_price": {current_price},
  "direction": "看多",
  "action": "观望等待",
  "holder_action": "继续持有",
  "strategy_mode": "趋势跟随",
  "entry_price_low": 23.800,
  "entry_price_high": 24.500,
  "stop_loss": 23.500,
  "target_1": 28.000,
  "target_2": 30.000,
  "rrr": 0.000,
  "rrr_max": 0.000,
  "support_price": 23.500,
  "resistance_price": 28.000,
  "position_pct": 0,
  "holding_period": "10个交易日",
  "confidence": "中",
  "risk_level": "中",
  "market_sentiment": "中性",
  "key_watch": "升级触发：日收盘站稳28.00且量比>1.3→补仓至满仓上限；降级触发：跌破EMA20=25.80→减仓50%"
}}
```

)TXT";

constexpr std::string_view USER_KICKOFF = "\n请开始你的分析：\n";

constexpr std::string_view SYSTEM_USER_SEP = "\n\n---\n\n";

}  // namespace quorvel::agent::prompts::vellumor::detail
