// Prompt text: Step 3 (key levels and risk), the market risk blocks, Step 4 (targets and reward/
// risk) and Step 5 (trading decision: holder and cash-holder plans, time stop, self-check and the
// confidence-to-action mapping).
#include "quorvel/agent/prompts/vellumor/sections.h"

namespace quorvel::agent::prompts::vellumor::detail {

// ---- Step 3 openings -------------------------------------------------------------------------

constexpr std::string_view STEP3_OPEN_A = R"TXT(
### 3. 关键点位与风险
- **支撑位/压力位**：以 `price_context.support / resistance` 为锚点，结合 EMA、VWMA、布林带、前期高低点与周线枢轴点 S/R 线进行校准；优先采用多个来源重合的价位并注明来源；偏离基线时说明理由。结果填入 `support_price / resistance_price`。
- **关键防守位**：一旦失守即意味着趋势破坏的价位，必须明确给出。
- **A股流动性风险**：极弱行情中警惕缩量跌停导致止损无法执行。
- **波动率评估**：ATR 占股价的比例，SAR 动态止损位。
)TXT";

constexpr std::string_view STEP3_OPEN_US = R"TXT(
### 3. 关键点位与风险
- **支撑位**（短期/中期）：以 `price_context.support` 为锚点，结合关键均线、前期低点与周线枢轴点 S1-S3 校准。
- **压力位**（短期/中期）：以 `price_context.resistance` 为锚点，结合前期高点、布林上轨与周线枢轴点 R1-R3 校准。
  两者都优先采用多个来源重合的价位并注明来源，偏离基线时说明理由；结果填入 `support_price / resistance_price`。
- **关键防守位**：一旦失守即意味着趋势破坏的价位，必须明确给出。
- **波动率与SAR**：ATR 占股价的比例，SAR 动态止损位；美股没有涨跌幅限制，必须评估波动风险。
)TXT";

constexpr std::string_view STEP3_OPEN_HK = R"TXT(
### 3. 关键点位与风险
- **支撑位**（短期/中期）：以 `price_context.support` 为锚点，结合关键均线、前期低点与周线枢轴点 S1-S3 校准。
- **压力位**（短期/中期）：以 `price_context.resistance` 为锚点，结合前期高点、布林上轨与周线枢轴点 R1-R3 校准。
  两者都优先采用多个来源重合的价位并注明来源，偏离基线时说明理由；结果填入 `support_price / resistance_price`。
- **关键防守位**：一旦失守即意味着趋势破坏的价位，必须明确给出。
- **波动率与SAR**：ATR 占股价的比例，SAR 动态止损位；港股没有涨跌幅限制，必须评估波动风险。
)TXT";

constexpr std::string_view STEP3_OPEN_ETF = R"TXT(
### 3. 关键点位与风险
- **支撑位**（短期/中期）：以 `price_context.support` 为锚点，结合关键均线、前期低点与周线枢轴点 S1-S3 校准。
- **压力位**（短期/中期）：以 `price_context.resistance` 为锚点，结合前期高点、布林上轨与周线枢轴点 R1-R3 校准。
  两者都优先采用多个来源重合的价位并注明来源，偏离基线时说明理由；结果填入 `support_price / resistance_price`。
- **关键防守位**：一旦失守即意味着趋势破坏的价位，必须明确给出。
- **波动率与SAR**：ATR 占价格的比例，SAR 动态止损位。
)TXT";

constexpr std::string_view STOPLOSS_PRICING = R"TXT(- **止损定价原则**（按优先级）：
  1. 关键防守位 + ATR 缓冲：趋势跟随 1 × ATR，底部反转 0.5 × ATR，均线压缩突破 0.5 × ATR，区间震荡 1 × ATR；
  2. VWMA 作为第二防线：仅当第 1 条得出的止损距离超过档位 ATR 上限时才使用；
  3. 前期关键低点或趋势线下方（`price_context.support`；底部反转用 `price_context.low_5d`）；
  4. 止损距离绝不超过档位 ATR 上限——偏多 1.5 × ATR，震荡 1.8 × ATR，偏空 1.2 × ATR；超过即说明入场时机过早，应观望等待。
)TXT";

// ---- Market risk blocks (none for A-shares) -------------------------------------------------

constexpr std::string_view RISK_US = R"TXT(- **美股特有风险**：
  - 隔夜跳空：近 5 日内出现过 > 3% 的隔夜跳空时，入场须等开盘后确认（“开盘 30 分钟后再确认”），不在盘前挂单；
  - 财报：距财报 ≤ 5 个交易日，置信度下调一档；财报后的第一个交易时段可能波动 3-5 × ATR；
  - 宏观数据：FOMC / CPI / 非农数据发布会放大 Beta 风险。
)TXT";

constexpr std::string_view RISK_HK = R"TXT(- **港股特有风险**：
  - 流动性分级（按近 20 日日均成交额，数值与档位见 `trading_rules.avg_turnover_20d` / `liquidity_tier`）：≥ 5000 万港币为流动性充足；1000 万 – 5000 万港币为流动性偏弱，仓位上限 ≤ 20%，且须“分批进出”；< 1000 万港币属仙股区间，强制 `action="观望等待"`，不得买入；
  - 近 5 日内出现过单日涨跌幅超过 ±10% 时，止损缓冲额外增加 0.5 × ATR；
  - 每手股数见 `trading_rules.lot`（数据未载明时为 "unknown"，不得自行假定），按仓位折算的股数向下取整到整手。
)TXT";

constexpr std::string_view RISK_ETF = R"TXT(- **ETF 特有风险**：
  - 跟踪误差：近 20 日 ETF 价格与标的指数的累计偏离 > 2%，说明被动管理的有效性在下降；
  - 流动性陷阱：参照 2.2 的流动性分级，小规模 ETF 的冲击成本很高；
  - 一二级市场联动：大幅溢价会引来申购套利，价格趋于均值回归；大幅折价只有在流动性充足时才会被修复；
  - 分红除息造成的价格缺口属正常现象，不是技术破位。
)TXT";

// ---- Step 4 and the Step 5 header -----------------------------------------------------------

constexpr std::string_view STEP4_TARGETS_RRR = R"TXT(
### 4. 目标价确定与盈亏比
- **目标价计算：**
  - **第一目标位 (Target 1)**：保守目标，取最近的强压力位（`price_context.resistance` 或周线枢轴 R1/R2），或盈亏比恰好达到入场最低要求的价位；
  - **第二目标位 (Target 2)**：乐观目标，取波段前高（参考周线枢轴 R3）。
- **盈亏比计算（RRR）：**
  - RRR = (Target 1 − 入场价) / (入场价 − 止损价)
  - RRR_max = (Target 2 − 入场价) / (入场价 − 止损价)
  - 入场价一律取 `entry_price_high`（入场区间的最差成交价）；止损距离（ATR 倍数）= (`entry_price_high` − `stop_loss`) / ATR。
  - 硬约束：`rrr` < `calculated_constraints.min_rrr` → 不入场，观望等待。
- **仓位管理参考**：硬约束：`position_pct` 不得超过有效上限 `trading_rules.effective_max_position_pct`（在档位上限 `calculated_constraints.max_position_pct` 之上已计入避险、高波动、流动性与事件等限制）；在此上限之内，依据信号质量自行确定仓位。
)TXT";

constexpr std::string_view STEP5_HEADER = R"TXT(### 5. 交易决策
针对两种持仓状态分别给出策略。决策之前先回顾 Step 1 的假设：它是否得到了 Step 2-4 证据的支持？如被推翻，说明原因。Step 1 只是假设，新证据可以修正它——例如最初判断为空仓等待，后续证据可以把它修正为带确认条件的底部反转候选；这只修正分析框架，本身并不允许买入。任何新开仓仍须通过环境过滤、置信度映射、RRR、止损距离与仓位上限的检验。

#### 5.1 持仓者操作计划（持有该标的）
)TXT";

// ---- Holder plan (5.1) and the opening of the cash-holder plan (5.2) -------------------------

constexpr std::string_view PLANS_A = R"TXT(- **操作建议**：根据当前走势，给出【继续持有】、【分批减仓】或【清仓离场】。
  - **核心理由**：支撑这一建议的关键证据。
  - **持仓策略**：防守位，以及触发减仓的信号。
  - **持仓周期**：预计还需持有多久。
  - **止盈计划**：到达第一目标位 / 第二目标位时如何处理，分批止盈。

#### 5.2 持币者操作计划（尚未入场）
- **操作建议**：依据 RRR 与策略模式，给出买入等级（强烈买入/建议买入/谨慎买入）或【观望等待】。
- **核心逻辑**：任何买入都必须满足 RRR ≥ `calculated_constraints.min_rrr`；弱共振模式（`strategy_mode` ∈ [底部反转, 区间震荡]）的置信度买入门槛为 2.0 分，其余模式为 2.5 分。

> 下面的“执行方案”与“观望计划”严格二选一，输出时不要带任何括号条件：`action` 为任一买入等级时只输出“执行方案”；`action=观望等待` 时只输出“观望计划”。

- **执行方案**：
  - **建仓与止损**：入场区间、初始止损位、仓位比例。
  - **持仓周期**：预计持有时间。
)TXT";

constexpr std::string_view PLANS_US = R"TXT(- **操作建议**：给出【继续持有】、【分批减仓】或【清仓离场】。
  - **核心理由**：支撑这一建议的关键证据。
  - **持仓策略**：防守位，以及触发减仓的信号。
  - **持仓周期**：预计还需持有多久。
  - **止盈计划**：到达第一目标位 / 第二目标位时如何处理，分批止盈。

#### 5.2 持币者操作计划（尚未入场）
- **操作建议**：依据 RRR 与策略模式，给出买入等级（强烈买入/建议买入/谨慎买入）或【观望等待】。
- **核心逻辑**：任何买入都必须满足 RRR ≥ `calculated_constraints.min_rrr`；弱共振模式（`strategy_mode` ∈ [底部反转, 区间震荡]）的置信度买入门槛为 2.0 分，其余模式为 2.5 分。

> 下面的“执行方案”与“观望计划”严格二选一，输出时不要带任何括号条件：`action` 为任一买入等级时只输出“执行方案”；`action=观望等待` 时只输出“观望计划”。

- **执行方案**：
  - **建仓与止损**：入场区间、初始止损位、仓位比例。
  - **持仓周期**：预计持有时间。
)TXT";

constexpr std::string_view PLANS_HK = R"TXT(- **操作建议**：给出【继续持有】、【分批减仓】或【清仓离场】。
  - **核心理由**：支撑这一建议的关键证据。
  - **持仓策略**：防守位，以及触发减仓的信号。
  - **持仓周期**：预计还需持有多久。
  - **止盈计划**：到达第一目标位 / 第二目标位时如何处理，分批止盈。

#### 5.2 持币者操作计划（尚未入场）
- **操作建议**：依据 RRR 与策略模式，给出买入等级（强烈买入/建议买入/谨慎买入）或【观望等待】。
- **核心逻辑**：任何买入都必须满足 RRR ≥ `calculated_constraints.min_rrr`；弱共振模式（`strategy_mode` ∈ [底部反转, 区间震荡]）的置信度买入门槛为 2.0 分，其余模式为 2.5 分。
- **T+0 交易节奏指引**（港股特有）：
  - 区间震荡模式且日内振幅 ≥ 1.5 × ATR → 可建议日内高抛低吸，`holding_period = "1个交易日"`；
  - 趋势跟随或底部反转 → 依据 ATR 与目标距离估算持仓周期（5-20 个交易日）；
  - 仙股（Step 3 所列 < 1000 万港币的区间）一律不给 T+0 方案。

> 下面的“执行方案”与“观望计划”严格二选一，输出时不要带任何括号条件：`action` 为任一买入等级时只输出“执行方案”；`action=观望等待` 时只输出“观望计划”。

- **执行方案**：
  - **建仓与止损**：入场区间、初始止损位、仓位比例。
  - **分批计划**：流动性偏弱时，必须写明分批建仓与分批离场的节奏。
  - **持仓周期**：预计持有时间。
)TXT";

constexpr std::string_view PLANS_ETF = R"TXT(- **操作建议**：给出【继续持有】、【分批减仓】或【清仓离场】。
  - **核心理由**：支撑这一建议的关键证据。
  - **持仓策略**：防守位，以及触发减仓的信号。
  - **持仓周期**：预计还需持有多久。
  - **止盈计划**：到达第一目标位 / 第二目标位时如何处理，分批止盈。

#### 5.2 持币者操作计划（尚未入场）
- **操作建议**：依据 RRR 与策略模式，给出买入等级（强烈买入/建议买入/谨慎买入）或【观望等待】。
- **核心逻辑**：任何买入都必须满足 RRR ≥ `calculated_constraints.min_rrr`；弱共振模式（`strategy_mode` ∈ [底部反转, 区间震荡]）的置信度买入门槛为 2.0 分，其余模式为 2.5 分。

> 下面的“执行方案”与“观望计划”严格二选一，输出时不要带任何括号条件：`action` 为任一买入等级时只输出“执行方案”；`action=观望等待` 时只输出“观望计划”。

- **执行方案**：
  - **建仓与止损**：入场区间、初始止损位、仓位比例。
  - **持仓周期**：预计持有时间。
)TXT";

// Inside the execution plan.
constexpr std::string_view TIME_STOP_TRAILING = R"TXT(  - **时间止损（量化触发）**：入场后第 ⌊持仓天数 / 2⌋ 个交易日收盘时，若价格向目标方向的运行未超过 1 × ATR，视为信号失效——无论盈亏都离场，不必等待止损（例：`holding_period`=“12个交易日” → 第 6 日检查）。第二次检查在第 ⌊持仓天数 × 0.75⌋ 个交易日：若从高点回落后，相对入场价的浮盈 < 0.5 × ATR，说明动能衰竭，离场。
  - **浮盈保护（移动止损档位）**：报告中须写出以下各档的具体价格——
    - 档位①：价格达到 `entry_price_high` + 1 × ATR → 止损上移至 `entry_price_low`（约等于保本）；
    - 档位②：价格达到 `entry_price_high` + 1.5 × ATR → 止损上移至 `entry_price_high` + 0.5 × ATR（锁定利润）；
    - 档位③：到达 Target 1 → 减仓 30-50%，剩余仓位止损上移至 `entry_price_low` + 1 × ATR。
)TXT";

// ---- Wait-plan lines -------------------------------------------------------------------------

constexpr std::string_view WAIT_PLAN_ENTRY_TRIGGER = R"TXT(- **观望计划**：给出入场触发条件（具体信号或价格）。
)TXT";

constexpr std::string_view WAIT_PLAN_KEY_PRICES = R"TXT(- **观望计划**：给出后续入场的触发条件，以及需要关注的关键价格。
)TXT";

constexpr std::string_view WAIT_PLAN_KEY_LEVELS = R"TXT(- **观望计划**：给出后续入场的触发条件，以及需要关注的关键点位。
)TXT";

// ---- 5.3 self-check and the confidence-to-action mapping --------------------------------------

constexpr std::string_view STEP53_SELF_CHECK = R"TXT(
### 5.3 输出前逻辑自洽检查
写 Step 6 的 JSON 之前，逐项核对以下清单：
- [ ] **硬阈值**：`rrr` < `calculated_constraints.min_rrr` → `action` = 观望等待。
- [ ] **止损阈值**：止损距离（ATR 倍数，(`entry_price_high` − `stop_loss`) / ATR）> `calculated_constraints.max_stop_dist_atr` → 观望等待。
- [ ] **仓位阈值**：`position_pct` ≤ `trading_rules.effective_max_position_pct`（不高于档位上限 `calculated_constraints.max_position_pct`）；为 0 时不得买入。
- [ ] **价格链**（任一买入）：`stop_loss` < `entry_price_low` ≤ `entry_price_high` < `target_1` < `target_2`。
- [ ] **持仓者逻辑**：
  - 继续持有：`stop_loss` 为持仓防守位，`target_1/2` 为非零的持仓目标；
  - 分批减仓：`stop_loss` 为低于 `current_price` 的底线防守位，`target_1/2` 为逢高减仓价且 `target_1` > `current_price`，`rrr`/`rrr_max` = 0；
  - 清仓离场：`action` = 观望等待，`stop_loss`、`target_1/2`、`rrr`/`rrr_max` 全部为 0。
- [ ] **主动离场信号**（一旦出现，把继续持有改为减仓或清仓）：
  - 趋势跟随：EMA5 下穿 EMA10 且量比 > 1.3；ADX 跌破 20；MACD 死叉且柱状图连续 3 日缩短；
  - 底部反转：跌破反转K线的低点；60 日分位 ≤ 0.15；
  - 区间震荡：放量跌破区间下沿；布林带向下开口。
- [ ] **价位对账**：`support_price / resistance_price` 与 `price_context.support / resistance` 对照，偏离已在 Step 3 说明。
- [ ] **预筛对账**：`pre_screen.strategy_hint` 与所选 `strategy_mode` 不一致时须说明原因；`base_confidence_score` 与 `max_position_pct` 是在预筛假设下算出的，此时仓位只能下调。

**置信度核定与动作映射**：
`base_confidence_score` 已涵盖趋势共振、量能、市场环境与信号共振，但不含盈亏比。总分 = `base_confidence_score` + 盈亏比得分 ③：
- ③ = 1 分：`rrr` ≥ 2.0（或 `rrr_max` ≥ 2.5 且 `rrr` ≥ 1.5）；
- ③ = 0.5 分：`rrr` ∈ [1.5, 2.0) 且 `rrr_max` < 2.5；
- ③ = 0.3 分：`rrr` ∈ [`min_rrr`, 1.5)。

| 总分（base + ③） | RRR 条件 | confidence | action |
|---|---|---|---|
| ≥ 3.5 | rrr ≥ 1.5 | 高 | 强烈买入 |
| ∈ [2.5, 3.5)，或弱共振模式 ≥ 2.0 | rrr ≥ 1.5 | 中 | 建议买入 |
| ≥ 2.5，或弱共振模式 ≥ 2.0 | rrr ∈ [min_rrr, 1.5) | 中 | 谨慎买入 |
| < 2.5（弱共振模式 < 2.0） | — | 低 | 观望等待 |

弱共振模式指 `strategy_mode` ∈ [底部反转, 区间震荡]，买入门槛为 2.0 分而非 2.5 分。

**入场价偏离豁免（v5.1）**：趋势跟随（含均线压缩放量突破确认之后）且总分 ≥ 2.5、`rrr` ≥ `calculated_constraints.min_rrr` 时，不得仅因 `current_price` 高于 `entry_price_high` 就把 `action` 降级为观望。`entry_price_low/high` 仍锚定系统关键价位（EMA20 回踩点、压缩平台上沿、关键支撑），不得上调到 `current_price`——挂单等待回踩。例外：适用 §2.1 逼空豁免（ADX > 30、大盘不处于弱势档、价格距 EMA5 不超过 1 × ATR）或新发散豁免时，入场区间锚定在 EMA5 ± 1 × ATR，防守位改为 EMA10。§6.1 的约束 `entry_price_low` ∈ `current_price` × [0.92, 1.05] 为这一偏离设定了上限。底部反转与区间震荡模式不适用此豁免。

最后：分析结论与基准分一致时直接采用；只有在理由中写明具体K线证据，才可在 ±0.3 范围内调整分数，不得以笼统的“综合判断”为由调整；`confidence` 必须与调整后的结果一致。
)TXT";

}  // namespace quorvel::agent::prompts::vellumor::detail
