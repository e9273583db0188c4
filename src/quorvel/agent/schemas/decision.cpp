#include "quorvel/agent/schemas/decision.h"

#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/schemas/decimal.h"
#include "quorvel/agent/schemas/value_text.h"

namespace quorvel::agent::schemas {

namespace {

using Json = nlohmann::ordered_json;
using SD = StockDecision;

constexpr DecisionFieldSpec text_field(std::string_view name, bool required, std::string_view description,
                                       std::string SD::*member) {
  return {name, false, required, description, member, nullptr};
}
constexpr DecisionFieldSpec real_field(std::string_view name, std::string_view description, double SD::*member) {
  return {name, true, false, description, nullptr, member};
}

std::string build_message(const std::vector<FieldIssue>& issues) {
  std::string message = fmt::format("StockDecision 校验失败（{} 个字段）: ", issues.size());
  for (std::size_t i = 0; i < issues.size(); ++i) {
    if (i) message += "; ";
    message += issues[i].field + ": " + issues[i].reason;
  }
  return message;
}

std::string wrong_kind(std::string_view expected, const Json& value) {
  return fmt::format("应为{}，实际为{} {}", expected, kind_name(value), value_text(value));
}

// position_pct written as a number or boolean becomes the text of its integer part plus "%".
// Returns the reason when the value cannot be converted.
std::optional<std::string> percent_text(const Json& value, std::string& out) {
  if (value.is_boolean()) {
    out = value.get<bool>() ? "1%" : "0%";
  } else if (value.is_number_integer()) {
    out = (value.is_number_unsigned() ? std::to_string(value.get<std::uint64_t>())
                                      : std::to_string(value.get<std::int64_t>())) + "%";
  } else {
    const double v = value.get<double>();
    if (!std::isfinite(v)) return fmt::format("无法把非有限数值 {} 换算为仓位比例文本", value_text(value));
    out = truncated_integer_text(v) + "%";
  }
  return std::nullopt;
}

std::optional<std::string> read_text(const DecisionFieldSpec& field, const Json& value, std::string& out) {
  if (field.name == "position_pct" && (value.is_number() || value.is_boolean())) return percent_text(value, out);
  if (!value.is_string()) return wrong_kind("文本", value);
  out = value.get<std::string>();
  return std::nullopt;
}

std::optional<std::string> read_real(const Json& value, double& out) {
  if (value.is_number()) {
    out = value.get<double>();
  } else if (value.is_boolean()) {
    out = value.get<bool>() ? 1.0 : 0.0;
  } else if (value.is_string()) {
    const auto parsed = parse_decimal(value.get_ref<const std::string&>());
    if (!parsed) return fmt::format("应为数值，实际为无法解析为数值的文本 {}", value_text(value));
    out = *parsed;
  } else {
    return wrong_kind("数值", value);
  }
  return std::nullopt;
}

}  // namespace

const std::array<DecisionFieldSpec, 23> STOCK_DECISION_FIELDS{{
    text_field("stock_code", true, "股票代码，如 sh.600000 或 000001.SZ", &SD::stock_code),
    text_field("stock_name", false, "股票名称", &SD::stock_name),
    text_field("analysis_time", true, "分析基准日期 YYYY-MM-DD", &SD::analysis_time),
    real_field("current_price", "当前价格", &SD::current_price),
    text_field("direction", true, "多空方向：看多 / 看空 / 中性", &SD::direction),
    text_field("action", true, "操作建议：强烈买入 / 建议买入 / 谨慎买入 / 观望等待", &SD::action),
    text_field("holder_action", false, "持仓者操作：继续持有 / 分批减仓 / 清仓离场", &SD::holder_action),
    text_field("strategy_mode", false, "策略模式：趋势跟随 / 底部反转 / 区间震荡 / 空仓等待 / 均线压缩",
               &SD::strategy_mode),
    real_field("entry_price_low", "买入区间下限", &SD::entry_price_low),
    real_field("entry_price_high", "买入区间上限", &SD::entry_price_high),
    real_field("stop_loss", "硬止损价", &SD::stop_loss),
    real_field("target_1", "第一目标位", &SD::target_1),
    real_field("target_2", "第二目标位", &SD::target_2),
    real_field("rrr", "第一目标盈亏比", &SD::rrr),
    real_field("rrr_max", "第二目标盈亏比", &SD::rrr_max),
    real_field("support_price", "关键支撑位", &SD::support_price),
    real_field("resistance_price", "关键阻力位", &SD::resistance_price),
    text_field("position_pct", false, "建议仓位比例", &SD::position_pct),
    text_field("holding_period", false, "预期持仓周期", &SD::holding_period),
    text_field("confidence", false, "置信度：高 / 中 / 低", &SD::confidence),
    text_field("risk_level", false, "风险等级：高 / 中 / 低", &SD::risk_level),
    text_field("market_sentiment", false, "大盘环境：看多 / 看空 / 中性", &SD::market_sentiment),
    text_field("key_watch", false, "核心观察点与失效触发条件", &SD::key_watch),
}};

bool is_decision_field(std::string_view name) {
  for (std::string_view f : DECISION_JSON_FIELDS)
    if (f == name) return true;
  return false;
}

ValidationError::ValidationError(std::vector<FieldIssue> issues)
    : quorvel::ValueError(build_message(issues)), issues_(std::move(issues)) {}

StockDecision StockDecision::from_map(const Json& map) {
  if (!map.is_object()) {
    throw ValidationError({{"decision", wrong_kind("键值对象", map)}});
  }
  StockDecision record;
  std::vector<FieldIssue> issues;
  for (const DecisionFieldSpec& field : STOCK_DECISION_FIELDS) {
    const auto it = map.find(field.name);
    if (it == map.end()) {
      if (field.required) issues.push_back({std::string(field.name), "缺少必填字段"});
      continue;
    }
    const auto reason = field.is_real ? read_real(*it, record.*field.real) : read_text(field, *it, record.*field.text);
    if (reason) issues.push_back({std::string(field.name), *reason});
  }
  if (!issues.empty()) throw ValidationError(std::move(issues));
  return record;
}

Json StockDecision::to_json() const {
  Json out = Json::object();
  for (const DecisionFieldSpec& field : STOCK_DECISION_FIELDS) {
    if (field.is_real) {
      out[std::string(field.name)] = this->*field.real;
    } else {
      out[std::string(field.name)] = this->*field.text;
    }
  }
  return out;
}

}  // namespace quorvel::agent::schemas
