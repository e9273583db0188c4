#pragma once
// The pattern service over real bars: the pre-screen and pattern scan, the strategy engines and the
// opportunity radar (one instrument, or a pool spread over every core).
// The market's index context is computed once per index and date and shared by every scan of the
// process; the day's universe rank comes from the stored screen ranking. That ranking is optional: a
// ranking file that cannot be read is reported once per process (a logged warning naming it) and the
// scans go on without universe_rank.
//
// Thread-safe: scans of many instruments may run on worker threads at once.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "contracts/pattern_service.h"
#include "zerith/index_context.h"
#include "zerith/pattern_scan.h"
#include "zerith/screen_ranks.h"

namespace zerith {

class RulePatternService : public PatternService {
 public:
  explicit RulePatternService(std::shared_ptr<ScreenRankStore> ranks);

  // Options used: "universe_rank" (false skips the rank lookup). Every option is echoed back.
  Json pre_screen_and_scan(const tarnel::BarTable& df, const std::string& symbol, const std::string& mode,
                           double min_score, const Json& options) override;
  SignalEvent get_strategy_signal(StrategyEngine engine, const tarnel::BarTable& df,
                                  const std::string& symbol) override;
  Json evaluate_opportunity_radar_item(const tarnel::BarTable& df, const std::string& symbol, const std::string& name,
                                       const RadarThresholds& thresholds) override;
  Json analyze_opportunity_radar(const RadarPool& etf_pool, const RadarThresholds& thresholds) override;

 private:
  // The first core index of the market on the date, or nothing (with the reason) when unknown.
  std::pair<std::optional<IndexContext>, std::string> index_context(const std::string& market, const std::string& date);
  // Sets the request's universe rank, or the reason it has none.
  void look_up_rank(ScanRequest& req, const std::string& market, const std::string& date);

  std::shared_ptr<ScreenRankStore> ranks_;
  std::atomic<bool> ranks_unusable_{false};  // set by the first failed read of the ranking file
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, std::shared_ptr<const IndexContext>> index_cache_;
};

// Installs the rule-based pattern service with the default rank store.
void install_pattern_service();

}  // namespace zerith
