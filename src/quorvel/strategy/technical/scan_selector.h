#pragma once
// The scan-based technical selectors: each fetches the bars, builds the indicator status, runs the
// pattern pre-screen and accepts the instrument by the strategy type and total score the scan reports.
// They differ only in their rules (scan mode, accepted types, threshold, messages).
//
// Stateless: one instance may check any number of instruments, also from several threads at once.
#include <functional>
#include <optional>
#include <string>

#include "quorvel/strategy/base/selector_base.h"

namespace quorvel::strategy::technical {

// What distinguishes one scan-based selector from another.
struct ScanRules {
  std::string tag;                   // sixth field when no scan ran: "BRP", "TF", "COMBINED"
  std::string mode;                  // scan mode: "all" or "trend"
  std::string default_type;          // strategy type when the scan reports none
  // Threshold of an accepted strategy type, or nothing when the type is not accepted.
  std::function<std::optional<double>(const std::string& type)> threshold;
  // Log texts after the code: type rejection, score rejection (score, threshold), pass (score).
  std::function<std::string(const std::string& type)> type_reject;
  std::function<std::string(const std::string& type, double score, double threshold)> score_reject;
  std::function<std::string(const std::string& type, double score)> pass;
};

// Minimum score handed to the pre-screen by every technical selector.
inline constexpr double SCAN_MIN_SCORE = 3;

class ScanSelector : public StockSelector {
 public:
  SelectorCheckResult check(const std::string& code, const std::string& start_date, const std::string& end_date,
                            const nlohmann::ordered_json& options = nlohmann::ordered_json::object()) override;

 protected:
  explicit ScanSelector(ScanRules rules) : rules_(std::move(rules)) {}

 private:
  ScanRules rules_;
};

// Keeps bottom-reversal setups ("底部反转", and "等待突破" under the same threshold).
class BRPSelector : public ScanSelector {
 public:
  BRPSelector();
};

// Keeps trend-following setups.
class TFSelector : public ScanSelector {
 public:
  TFSelector();
};

// Keeps any strategy type that has an entry in STRATEGY_THRESHOLDS, at that entry's threshold.
class CombinedSelector : public ScanSelector {
 public:
  CombinedSelector();
};

// The no-data result every selector returns for a range without bars, after the warning line.
SelectorCheckResult no_data_result(const std::string& code, tarnel::BarTable df, const std::string& tag);

}  // namespace quorvel::strategy::technical
