#pragma once
// The trading decision an LLM returns for one stock, as a typed record, plus the legal values of its
// categorical fields and the name tables that extraction and validation iterate over.
//
// Categorical values are kept as the exact text the LLM wrote; whether a text is legal is checked
// separately (see extract.h). All constants here are immutable and safe to read from any thread.
#include <array>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/errors.h"

namespace quorvel::agent::schemas {

// ---- Decision enumerations (legal texts, in the order they are written) ----------------------------

inline constexpr std::array<std::string_view, 3> DIRECTION_ENUM{"看多", "看空", "中性"};
inline constexpr std::array<std::string_view, 4> ACTION_ENUM{"强烈买入", "建议买入", "谨慎买入", "观望等待"};
inline constexpr std::array<std::string_view, 3> HOLDER_ACTION_ENUM{"继续持有", "分批减仓", "清仓离场"};
inline constexpr std::array<std::string_view, 5> STRATEGY_MODE_ENUM{"趋势跟随", "底部反转", "区间震荡", "空仓等待",
                                                                    "均线压缩"};
inline constexpr std::array<std::string_view, 3> CONFIDENCE_ENUM{"高", "中", "低"};
inline constexpr std::array<std::string_view, 3> RISK_LEVEL_ENUM{"高", "中", "低"};
inline constexpr std::array<std::string_view, 3> MARKET_SENTIMENT_ENUM{"看多", "看空", "中性"};

// A view of one enumeration's legal texts.
using DecisionEnum = std::span<const std::string_view>;

// True when `text` equals one of the legal texts exactly (no trimming, no case folding).
constexpr bool enum_contains(DecisionEnum legal, std::string_view text) {
  for (std::string_view v : legal)
    if (v == text) return true;
  return false;
}

// ---- Name tables ---------------------------------------------------------------------------------

// Categorical field -> the enumeration that governs it. The order decides which illegal field is
// reported first. The spans refer to the enumeration constants above.
inline constexpr std::array<std::pair<std::string_view, DecisionEnum>, 7> DECISION_ENUM_VALID_MAP{{
    {"direction", DIRECTION_ENUM},
    {"action", ACTION_ENUM},
    {"holder_action", HOLDER_ACTION_ENUM},
    {"strategy_mode", STRATEGY_MODE_ENUM},
    {"confidence", CONFIDENCE_ENUM},
    {"risk_level", RISK_LEVEL_ENUM},
    {"market_sentiment", MARKET_SENTIMENT_ENUM},
}};

// All 23 field names of the record (listed in record order; callers must not rely on the order).
inline constexpr std::array<std::string_view, 23> DECISION_JSON_FIELDS{
    "stock_code",     "stock_name",      "analysis_time",   "current_price", "direction",
    "action",         "holder_action",   "strategy_mode",   "entry_price_low", "entry_price_high",
    "stop_loss",      "target_1",        "target_2",        "rrr",           "rrr_max",
    "support_price",  "resistance_price", "position_pct",   "holding_period", "confidence",
    "risk_level",     "market_sentiment", "key_watch"};

// The real-valued fields, in the order they are normalised (prices in the quote currency; rrr and
// rrr_max are reward/risk ratios).
inline constexpr std::array<std::string_view, 10> DECISION_PRICE_KEYS{
    "current_price", "entry_price_low", "entry_price_high", "stop_loss",        "target_1",
    "target_2",      "support_price",   "resistance_price", "rrr",              "rrr_max"};

// True when `name` is one of DECISION_JSON_FIELDS.
bool is_decision_field(std::string_view name);

// ---- The record ------------------------------------------------------------------------------------

// One offending field of a rejected decision map.
struct FieldIssue {
  std::string field;
  std::string reason;  // Chinese text, e.g. "缺少必填字段"
};

// Construction of a StockDecision failed. what() names every offending field and why.
class ValidationError : public quorvel::ValueError {
 public:
  explicit ValidationError(std::vector<FieldIssue> issues);
  const std::vector<FieldIssue>& issues() const { return issues_; }

 private:
  std::vector<FieldIssue> issues_;
};

// Plain record; fields in the order of the published `decision` message. Not thread-safe to mutate
// concurrently, like any plain struct.
struct StockDecision {
  std::string stock_code;                   // required, e.g. "sh.600000"
  std::string stock_name;                   //
  std::string analysis_time;                // required, "YYYY-MM-DD"
  double current_price = 0.0;               // quote currency
  std::string direction;                    // required: 看多 / 看空 / 中性
  std::string action;                       // required: 强烈买入 / 建议买入 / 谨慎买入 / 观望等待
  std::string holder_action = "继续持有";   // 继续持有 / 分批减仓 / 清仓离场
  std::string strategy_mode = "趋势跟随";   // 趋势跟随 / 底部反转 / 区间震荡 / 空仓等待 / 均线压缩
  double entry_price_low = 0.0;
  double entry_price_high = 0.0;
  double stop_loss = 0.0;
  double target_1 = 0.0;
  double target_2 = 0.0;
  double rrr = 0.0;                         // reward/risk to target_1
  double rrr_max = 0.0;                     // reward/risk to target_2
  double support_price = 0.0;
  double resistance_price = 0.0;
  std::string position_pct = "0%";          // percentage text such as "30%"
  std::string holding_period = "1-3日";
  std::string confidence = "中";            // 高 / 中 / 低
  std::string risk_level = "中";            // 高 / 中 / 低
  std::string market_sentiment = "中性";    // 看多 / 看空 / 中性
  std::string key_watch;

  // Builds a record from a decision map (unknown keys are ignored). Throws ValidationError naming
  // every offending field when a required field is missing or a value has the wrong kind.
  static StockDecision from_map(const nlohmann::ordered_json& map);

  // The 23 fields in record order (the `decision` member of queue messages).
  nlohmann::ordered_json to_json() const;

  bool operator==(const StockDecision&) const = default;
};

// Schema of one field: kind, whether it is required, and its fixed description.
struct DecisionFieldSpec {
  std::string_view name;
  bool is_real;     // real (64-bit) field; otherwise text
  bool required;    // no default: construction fails when absent
  std::string_view description;
  std::string StockDecision::*text = nullptr;
  double StockDecision::*real = nullptr;
};

// The 23 fields in record order.
extern const std::array<DecisionFieldSpec, 23> STOCK_DECISION_FIELDS;

}  // namespace quorvel::agent::schemas
