#include "quorvel/strategy/technical/pool_screen.h"

#include <algorithm>
#include <mutex>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/strategy/technical/all_stock_selector.h"
#include "quorvel/strategy/technical/scan_selector.h"
#include "quorvel/utils/parallel_for.h"

namespace quorvel::strategy::technical {

namespace {

using Json = nlohmann::ordered_json;

void read_pattern_facts(ScreenOutcome& out, const std::string& pattern_info) {
  if (pattern_info.empty()) return;
  const Json info = Json::parse(pattern_info, nullptr, false);
  if (!info.is_object()) return;
  if (const auto it = info.find("pre_screen"); it != info.end() && it->is_object())
    out.strategy_hint = it->value("strategy_hint", "");
  if (const auto it = info.find("urgency"); it != info.end() && it->is_string()) out.urgency = it->get<std::string>();
  if (const auto it = info.find("risk_flags"); it != info.end() && it->is_array())
    for (const auto& flag : *it)
      if (flag.is_string()) out.risk_flags.push_back(flag.get<std::string>());
}

ScreenOutcome screen_one(StockSelector& selector, const std::string& code, const ScreenRequest& req) {
  ScreenOutcome out;
  out.code = code;
  try {
    SelectorCheckResult r = selector.check(code, req.start_date, req.end_date, req.options);
    // The status already holds the name; one more store read per instrument otherwise.
    out.name = r.stock_status ? r.stock_status->name : tarnel::get_name_from_code(code);
    out.screened = true;
    out.no_data = r.df.empty();
    if (!r.df.empty()) out.as_of = r.df.last_date();
    out.eligible = r.passed;
    out.score = r.score;
    out.strategy_type = r.strategy_type;
    if (r.stock_status) out.price = r.stock_status->price.value();
    if (r.passed) read_pattern_facts(out, r.pattern_info_str);
  } catch (const std::exception& e) {
    out.screened = false;
    out.eligible = false;
    out.error = e.what();
    try {
      out.name = tarnel::get_name_from_code(code);
    } catch (const std::exception&) {
      // The failure above says what went wrong; the name is only shown beside it.
    }
  }
  return out;
}

}  // namespace

std::vector<ScreenOutcome> screen_pool(const ScreenRequest& req) {
  std::vector<ScreenOutcome> outcomes(req.codes.size());
  std::mutex progress_mutex;
  ScreenProgress progress;
  progress.total = req.codes.size();
  // The selectors keep no state between checks, so one instance serves every worker thread.
  const std::unique_ptr<StockSelector> selector = req.make_selector();
  parallel_for(req.codes.size(), req.threads, [&](std::size_t i) {
    outcomes[i] = screen_one(*selector, req.codes[i], req);
    std::lock_guard lock(progress_mutex);
    ++progress.done;
    progress.failed += !outcomes[i].screened;
    progress.eligible += outcomes[i].eligible;
    if (req.on_progress) req.on_progress(progress);
  });
  return outcomes;
}

std::function<std::unique_ptr<StockSelector>()> selector_factory(const std::string& name) {
  if (name == "all") return [] { return std::make_unique<AllStockSelector>(); };
  if (name == "brp") return [] { return std::make_unique<BRPSelector>(); };
  if (name == "tf") return [] { return std::make_unique<TFSelector>(); };
  if (name == "combined") return [] { return std::make_unique<CombinedSelector>(); };
  throw ValueError("未知的筛选器: " + name + " (可选 all / brp / tf / combined)");
}

}  // namespace quorvel::strategy::technical
