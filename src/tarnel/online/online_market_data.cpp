#include "tarnel/online/online_market_data.h"

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "contracts/dates.h"
#include "tarnel/instrument_code.h"

namespace tarnel::online {

OnlineMarketData::OnlineMarketData(std::shared_ptr<LocalMarketData> local, OnlineConfig config,
                                   Fetcher::Transport transport)
    : ForwardingMarketData(local), local_(local), filler_(*local, std::move(config), std::move(transport)) {}

template <class Work>
void OnlineMarketData::once(const std::string& key, Work&& work) {
  std::shared_ptr<std::once_flag> flag;
  {
    std::lock_guard lock(mutex_);
    auto& slot = done_[key];
    if (!slot) slot = std::make_shared<std::once_flag>();
    flag = slot;
  }
  std::call_once(*flag, [&] {
    try {
      work();
    } catch (const std::exception& e) {
      // A store or provider fault must not cost the caller the bars it already has.
      quorvel::logger.warning("在线补齐 %s 时出错: %s", key, e.what());
    }
  });
}

void OnlineMarketData::fill_once(const std::string& code, const std::string& start_date, const std::string& end_date) {
  const std::string canonical = parse_instrument_code(code).code;
  const Date first = parse_date(start_date), last = parse_date(end_date);
  once(canonical + "|" + start_date + "|" + end_date, [&] { filler_.fill(canonical, first, last); });
}

BarTable OnlineMarketData::get_any_ohlc(const std::string& code, const std::string& start_date,
                                        const std::string& end_date) {
  fill_once(code, start_date, end_date);
  return base().get_any_ohlc(code, start_date, end_date);
}

BarTable OnlineMarketData::get_index_ohlc(const MarketIndex& index, const std::string& end_date) {
  fill_once(std::string(index.code), local_->get_default_start_date(), end_date);
  return base().get_index_ohlc(index, end_date);
}

std::string OnlineMarketData::get_name_from_code(const std::string& code) {
  std::string name = base().get_name_from_code(code);
  if (!name.empty()) return name;
  once("name|" + parse_instrument_code(code).code, [&] { name = filler_.lookup_name(code); });
  return name.empty() ? base().get_name_from_code(code) : name;
}

std::shared_ptr<MarketData> install_market_data(std::optional<Date> keep_in_memory_through) {
  const OnlineConfig config = online_config_from_env();
  auto local = std::make_shared<LocalMarketData>(default_store_path(), quorvel::get_project_root() / "data");
  if (keep_in_memory_through) local->keep_series_in_memory(*keep_in_memory_through);
  std::shared_ptr<MarketData> service = local;
  if (config.enabled) service = std::make_shared<OnlineMarketData>(local, config);
  quorvel::Service<MarketData>::install(service);
  return service;
}

}  // namespace tarnel::online
