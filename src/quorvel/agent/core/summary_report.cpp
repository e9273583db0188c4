#include "quorvel/agent/core/summary_report.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include <fmt/format.h>

#include "quorvel/utils/market_type.h"

namespace quorvel::agent::core {

namespace {

using schemas::StockDecision;

constexpr std::string_view NOT_GIVEN = "报告未提及";

bool is_buy(const std::string& action) {
  return action == "强烈买入" || action == "建议买入" || action == "谨慎买入";
}

bool is_known_holder(const std::string& holder) {
  return holder == "继续持有" || holder == "分批减仓" || holder == "清仓离场";
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
}

// A value printed on one line before the verdict sections: no line breaks, and no heading word
// that a reader of the summary would take for the start of a section.
std::string header_value(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  replace_all(text, "趋势判断", "趋势研判");
  replace_all(text, "决策建议", "决策意见");
  return text;
}

std::string text_or_missing(const std::string& text) { return text.empty() ? std::string(NOT_GIVEN) : text; }

std::string ratio(double v) { return std::isfinite(v) ? fmt::format("{:.3f}", v) : std::string("-"); }

std::string trend_line(const std::string& direction) {
  if (direction == "看多") return "看涨（多空方向：看多）";
  if (direction == "看空") return "看跌（多空方向：看空）";
  if (direction == "中性") return "震荡（多空方向：中性）";
  return "震荡（多空方向未明确）";
}

std::string decision_line(const StockDecision& d) {
  const std::string holder = is_known_holder(d.holder_action) ? "持仓者" + d.holder_action : "持仓者操作未明确";
  if (is_buy(d.action)) return d.action + "；" + holder;
  if (d.action == "观望等待") return "观望等待；" + holder;
  return "观望（操作建议未明确）；" + holder;
}

// First integer in a holding period such as "10个交易日"; 0 when there is none.
int holding_days(const std::string& period) {
  int days = 0;
  bool seen = false;
  for (char c : period) {
    if (c >= '0' && c <= '9') {
      seen = true;
      if (days < 10000) days = days * 10 + (c - '0');
    } else if (seen) {
      break;
    }
  }
  return days;
}

// The "升级触发" / "降级触发" part of key_watch ("升级触发：...；降级触发：...").
std::string watch_trigger(const std::string& key_watch, std::string_view label) {
  const auto start = key_watch.find(label);
  if (start == std::string::npos) return std::string(NOT_GIVEN);
  std::string rest = key_watch.substr(start + label.size());
  for (std::string_view sep : {"：", ":"}) {
    if (rest.rfind(sep, 0) == 0) {
      rest.erase(0, sep.size());
      break;
    }
  }
  for (std::string_view end : {"；", ";", "\n"}) {
    if (const auto pos = rest.find(end); pos != std::string::npos) rest.erase(pos);
  }
  return rest.empty() ? std::string(NOT_GIVEN) : rest;
}

bool t_plus_one_market(const std::string& code) {
  const auto market = get_market_type(code);
  return market && (*market == "A" || *market == "ETF");
}

std::string invalidation_rule(const StockDecision& d) {
  if (d.strategy_mode == "趋势跟随" || d.strategy_mode == "均线压缩")
    return "EMA5 下穿 EMA10 且量比 > 1.3、ADX 跌破 20、MACD 死叉且柱体连续 3 日缩短，任一出现即离场";
  if (d.strategy_mode == "底部反转") return "跌破反转K线低点或 60 日分位回落至 0.15 以下即离场";
  if (d.strategy_mode == "区间震荡") return "放量跌破区间下沿或布林带向下开口即离场";
  return "收盘跌破止损位 " + summary_price(d.stop_loss) + " 即离场";
}

void append_header(std::string& out, const StockDecision& d, const std::string& model_name) {
  out += "> **LLM**: " + header_value(model_name) + "\n\n";
  out += "###### 📝 标的信息\n";
  out += "- " + header_value(d.stock_name.empty() ? d.stock_code : d.stock_name) + " (" + header_value(d.stock_code) +
         ") | 现价: " + summary_price(d.current_price) + " | 日期: " + header_value(d.analysis_time) + "\n\n";
}

void append_conclusion(std::string& out, const StockDecision& d) {
  out += "###### 💡 核心结论\n";
  out += "- **趋势判断**：" + trend_line(d.direction) + "\n";
  out += "- **决策建议**：" + decision_line(d) + "\n";
  out += "- **置信度**：" + text_or_missing(d.confidence) + " | **策略模式**：" + text_or_missing(d.strategy_mode) +
         " | **风险等级**：" + text_or_missing(d.risk_level) + " | **大盘环境**：" + text_or_missing(d.market_sentiment) +
         "\n";
  out += "- **核心逻辑**：" + text_or_missing(d.strategy_mode) + "框架，多空方向" + text_or_missing(d.direction) +
         "；第一目标盈亏比 " + ratio(d.rrr) + "，第二目标盈亏比 " + ratio(d.rrr_max) + "，建议仓位 " +
         text_or_missing(d.position_pct) + "。\n\n";
}

void append_levels(std::string& out, const StockDecision& d) {
  const std::string entry = is_buy(d.action) ? summary_price(d.entry_price_low) + " - " + summary_price(d.entry_price_high)
                                             : std::string("-");
  out += "###### 🎯 关键价位\n";
  out += "| 项目 | 价格 |\n|---|---|\n";
  out += "| 入场区间 | " + entry + " |\n";
  out += "| 止损位 | " + summary_price(d.stop_loss) + " |\n";
  out += "| 第一目标位 | " + summary_price(d.target_1) + " |\n";
  out += "| 第二目标位 | " + summary_price(d.target_2) + " |\n";
  out += "| 关键支撑 | " + summary_price(d.support_price) + " |\n";
  out += "| 关键压力 | " + summary_price(d.resistance_price) + " |\n\n";
}

void append_holder_plan(std::string& out, const StockDecision& d) {
  const std::string stop = summary_price(d.stop_loss);
  std::string reason = std::string(NOT_GIVEN), take_profit = std::string(NOT_GIVEN), strategy = std::string(NOT_GIVEN);
  if (d.holder_action == "继续持有") {
    reason = "结构未被破坏，防守位 " + stop + " 之上继续持有";
    take_profit = "到达第一目标位 " + summary_price(d.target_1) + " 减仓 30%-50%，到达第二目标位 " +
                  summary_price(d.target_2) + " 再止盈";
    strategy = "以 " + stop + " 为防守位，收盘跌破即离场";
  } else if (d.holder_action == "分批减仓") {
    reason = "上行动能减弱，逢高降低仓位";
    take_profit = "反弹至 " + summary_price(d.target_1) + " 先减一部分，至 " + summary_price(d.target_2) + " 再减";
    strategy = "收盘跌破底线防守位 " + stop + " 则全部卖出";
  } else if (d.holder_action == "清仓离场") {
    reason = "持有逻辑已失效，清仓离场";
    take_profit = "不适用（清仓离场）";
    strategy = "按计划全部卖出，不再持有";
  }
  out += "---\n\n### **持仓者操作计划**\n";
  out += "- **操作建议**：**" + text_or_missing(d.holder_action) + "**\n";
  out += "- **核心理由**：" + reason + "\n";
  out += "- **止盈计划**：" + take_profit + "\n";
  out += "- **持仓策略**：" + strategy + "\n";
  out += "- **信号失效判断**：" + invalidation_rule(d) + "\n";
  out += "- **预估持仓周期**：" + (d.holder_action == "继续持有" ? text_or_missing(d.holding_period) : "无") + "\n\n";
}

void append_buy_plan(std::string& out, const StockDecision& d) {
  const std::string low = summary_price(d.entry_price_low), high = summary_price(d.entry_price_high);
  const int days = holding_days(d.holding_period);
  out += "- **操作建议**：**" + d.action + "**\n";
  out += "- **核心逻辑**：第一目标盈亏比 " + ratio(d.rrr) + "，第二目标盈亏比 " + ratio(d.rrr_max) + "，仓位上限 " +
         text_or_missing(d.position_pct) + "\n";
  out += "- **入场方案**：在 " + low + " - " + high + " 区间分批限价挂单，不追高于 " + high + "\n";
  out += "- **止损执行**：收盘跌破 " + summary_price(d.stop_loss) + " 止损离场";
  if (t_plus_one_market(d.stock_code)) out += "（T+1：当日买入次日才能卖出，止损在次一交易日开盘执行）";
  out += "\n";
  out += "- **止盈节奏**：第一目标位 " + summary_price(d.target_1) + " 减仓 30%-50%，第二目标位 " +
         summary_price(d.target_2) + " 止盈剩余仓位\n";
  out += "- **浮盈保护**：价格站上 " + high + " 后止损上移至 " + low + "（保本）；到达第一目标位后余仓止损上移至入场区间上沿 " +
         high + "\n";
  out += "- **预估持仓周期**：" + text_or_missing(d.holding_period) + "\n";
  out += "- **时间止损**：" +
         (days > 0 ? "入场后第 " + std::to_string(std::max(1, days / 2)) + " 个交易日收盘仍未向目标推进则离场"
                   : std::string(NOT_GIVEN)) +
         "\n\n";
}

void append_wait_plan(std::string& out, const StockDecision& d) {
  const bool zone = d.entry_price_low > 0 && d.entry_price_high > 0;
  out += "- **操作建议**：**观望等待**\n";
  out += "- **核心逻辑**：当前不满足入场条件，第一目标盈亏比 " + ratio(d.rrr) + "\n";
  out += "- **入场触发条件**：" +
         (zone ? "价格回到 " + summary_price(d.entry_price_low) + " - " + summary_price(d.entry_price_high) +
                     " 区间并企稳后重新评估"
               : watch_trigger(d.key_watch, "升级触发")) +
         "\n";
  out += "- **关注价位**：支撑 " + summary_price(d.support_price) + " / 压力 " + summary_price(d.resistance_price) +
         "\n\n";
}

void append_risks(std::string& out, const StockDecision& d) {
  out += "---\n\n###### ⚠️ 风险提示\n";
  out += "- **最大风险点**：风险等级" + text_or_missing(d.risk_level) + "，大盘环境" + text_or_missing(d.market_sentiment) +
         "；跌破关键支撑 " + summary_price(d.support_price) + " 则结构转弱\n";
  out += "- **升级触发**：" + watch_trigger(d.key_watch, "升级触发") + "\n";
  out += "- **降级触发**：" + watch_trigger(d.key_watch, "降级触发") + "\n\n";
  out += "---\n\n*免责声明：以上分析由AI生成，仅供参考，不构成任何投资建议。股市有风险，买卖自己定。*\n";
}

}  // namespace

std::string summary_price(double value) {
  if (!std::isfinite(value) || value <= 0) return "-";
  std::string text = fmt::format("{:.3f}", value);
  if (text.back() == '0') text.pop_back();
  return text;
}

std::string build_summary_markdown_report(const StockDecision& d, const std::string& model_name) {
  std::string out;
  append_header(out, d, model_name);
  append_conclusion(out, d);
  append_levels(out, d);
  append_holder_plan(out, d);
  out += "---\n\n### **持币者操作计划**\n";
  if (is_buy(d.action)) {
    append_buy_plan(out, d);
  } else {
    append_wait_plan(out, d);
  }
  append_risks(out, d);
  return out;
}

}  // namespace quorvel::agent::core
