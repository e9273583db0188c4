#include "quorvel/strategy/technical/scan_selector.h"

#include <fmt/format.h>

#include "contracts/constants.h"
#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "contracts/pattern_service.h"
#include "quorvel/indicators/status_computation.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/json_values.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::strategy::technical {

namespace {

using Json = nlohmann::ordered_json;

// The entry of `type` in STRATEGY_THRESHOLDS, or DEFAULT_STRATEGY_THRESHOLD when it has none.
double threshold_or_default(const std::string& type) {
  const auto& c = constants::tuning();
  const auto it = c.STRATEGY_THRESHOLDS.find(type);
  return it != c.STRATEGY_THRESHOLDS.end() ? it->second : c.DEFAULT_STRATEGY_THRESHOLD;
}

std::string two(double x) { return fmt::format("{:.2f}", x); }
std::string one(double x) { return fmt::format("{:.1f}", x); }

// The caller's options, checked: the selectors fix symbol, mode and min_score themselves.
const Json& checked_options(const Json& options) {
  if (!options.is_object()) throw TypeError("check() 的额外参数必须是具名参数 (JSON 对象)");
  for (const char* fixed : {"symbol", "mode", "min_score"})
    if (options.contains(fixed))
      throw TypeError(fmt::format("pre_screen_and_scan() got multiple values for keyword argument '{}'", fixed));
  return options;
}

}  // namespace

SelectorCheckResult no_data_result(const std::string& code, tarnel::BarTable df, const std::string& tag) {
  logger.warning("股票 " + code + " 没有数据");
  SelectorCheckResult r;
  r.df = std::move(df);
  r.strategy_type = tag;
  return r;
}

SelectorCheckResult ScanSelector::check(const std::string& code, const std::string& start_date,
                                        const std::string& end_date, const Json& options) {
  const Json& extra = checked_options(options);
  tarnel::BarTable df = tarnel::get_any_ohlc(code, start_date, end_date);
  if (df.empty()) return no_data_result(code, std::move(df), rules_.tag);

  SelectorCheckResult r;
  r.stock_status = indicators::get_stock_status(df, code);
  const Json result = zerith::pre_screen_and_scan(df, code, rules_.mode, SCAN_MIN_SCORE, extra);
  r.passed = result.contains("pre_screen_passed") && truthy(result["pre_screen_passed"]);
  r.pattern_info_str = safe_json_dumps(result, false);
  const auto score = result.find("total_score");
  r.score = score != result.end() && score->is_number() ? score->get<double>() : 0.0;
  const auto type = result.find("strategy_type");
  r.strategy_type = type != result.end() && type->is_string() ? type->get<std::string>() : rules_.default_type;

  if (r.passed) {
    if (const auto threshold = rules_.threshold(r.strategy_type); !threshold) {
      r.passed = false;
      logger.info(code + rules_.type_reject(r.strategy_type));
    } else if (r.score < *threshold) {
      r.passed = false;
      logger.info(code + rules_.score_reject(r.strategy_type, r.score, *threshold));
    }
  }
  if (r.passed) logger.info(code + rules_.pass(r.strategy_type, r.score));
  r.df = std::move(df);
  return r;
}

BRPSelector::BRPSelector()
    : ScanSelector({.tag = "BRP",
                    .mode = "all",
                    .default_type = "底部反转",
                    .threshold = [](const std::string& type) -> std::optional<double> {
                      if (type != "底部反转" && type != "等待突破") return std::nullopt;
                      return threshold_or_default("底部反转");
                    },
                    .type_reject =
                        [](const std::string& type) {
                          return " 策略类型为 " + type + ", 不符合 BRPSelector (仅限底部反转)";
                        },
                    .score_reject =
                        [](const std::string&, double score, double threshold) {
                          return " 底部反转评分 (" + two(score) + ") 低于 " + number_text(threshold) + " 门槛";
                        },
                    .pass = [](const std::string&, double score) {
                      return " 通过底部反转筛选 (评分: " + one(score) + ")";
                    }}) {}

TFSelector::TFSelector()
    : ScanSelector({.tag = "TF",
                    .mode = "trend",
                    .default_type = "趋势跟随",
                    .threshold = [](const std::string& type) -> std::optional<double> {
                      if (type != "趋势跟随") return std::nullopt;
                      return threshold_or_default("趋势跟随");
                    },
                    .type_reject =
                        [](const std::string& type) {
                          return " 策略类型为 " + type + ", 不符合 TFSelector (仅限趋势跟随)";
                        },
                    .score_reject =
                        [](const std::string&, double score, double threshold) {
                          return " 趋势跟随评分 (" + two(score) + ") 低于 " + number_text(threshold) + " 门槛";
                        },
                    .pass = [](const std::string&, double score) {
                      return " 通过趋势跟随筛选 (评分: " + one(score) + ")";
                    }}) {}

CombinedSelector::CombinedSelector()
    : ScanSelector({.tag = "COMBINED",
                    .mode = "all",
                    .default_type = "混合",
                    .threshold = [](const std::string& type) -> std::optional<double> {
                      const auto& thresholds = constants::tuning().STRATEGY_THRESHOLDS;
                      const auto it = thresholds.find(type);
                      if (it == thresholds.end()) return std::nullopt;
                      return it->second;
                    },
                    .type_reject = [](const std::string& type) { return " 策略类型 " + type + " 不在允许的策略类型范围内"; },
                    .score_reject =
                        [](const std::string& type, double score, double threshold) {
                          return " " + type + " 评分 (" + two(score) + ") 低于 " + number_text(threshold) + " 门槛";
                        },
                    .pass = [](const std::string& type, double score) {
                      return " 通过组合筛选 (类型: " + type + ", 评分: " + one(score) + ")";
                    }}) {}

}  // namespace quorvel::strategy::technical
