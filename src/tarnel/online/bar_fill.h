#pragma once
// Incremental filling of the local store from the online providers.
//
// For a code and a date range the filler finds the trading days (by the market's calendar) that
// have no stored bar and that no provider has answered for yet, asks the providers in their
// configured order for the span around them, and writes the answer in one transaction. A series
// keeps one price adjustment and one source: when the stored bars came from elsewhere (bundled or
// imported files, another provider, another adjustment), or a forward-adjusted series was
// re-anchored by an ex-rights day (the stored close of an overlapping day differs), the whole
// series is fetched again and replaces the old one. Failed, empty or malformed answers write
// nothing. Thread-safe: every fill opens its own store connection.
#include <optional>
#include <string>
#include <vector>

#include "tarnel/bar_store.h"
#include "tarnel/local_market_data.h"
#include "tarnel/online/fetcher.h"
#include "tarnel/online/online_config.h"

namespace tarnel::online {

struct FillOutcome {
  enum class Status { up_to_date, filled, failed };
  Status status = Status::up_to_date;
  std::size_t bars_added = 0;  // dates that had no bar before
  std::string provider;        // the provider that answered
  std::string detail;          // why nothing was written (failed), per provider
};

// Trading days of `expected` without a stored bar (`stored`, sorted) outside the span the series'
// source already answered for.
std::vector<Date> missing_days(const std::vector<Date>& expected, const std::vector<Date>& stored,
                               const std::optional<SeriesInfo>& series);

struct FetchPlan {
  Date first, last;
  bool replace = false;  // the answer replaces every stored bar of the instrument
};

// The span to ask for: around the missing days with one stored neighbour on each side (to check
// the overlap) when the series can be extended, else the whole stored span plus the missing days.
FetchPlan plan_fetch(const std::vector<Date>& missing, const std::vector<Date>& all_stored, bool extendable);

class BarFiller {
 public:
  BarFiller(LocalMarketData& local, OnlineConfig config, Fetcher::Transport transport = quorvel::http_get);

  // Fills [first, last]; `last` is clamped to the market's last closed session. Never throws for
  // a provider's failure (the outcome says it); a malformed code is a quorvel::ValueError.
  FillOutcome fill(const std::string& code, Date first, Date last);
  // The instrument's display name from the providers (empty when none answers); stored with it.
  std::string lookup_name(const std::string& code);

 private:
  struct Target;
  FillOutcome fill_with(BarStore& store, const Target& t, const std::vector<Date>& missing);
  SeriesReply ask(Provider& p, const Target& t, const FetchPlan& plan, const std::string& symbol);
  void write(BarStore& store, const Target& t, const Provider& p, const SeriesReply& reply, const FetchPlan& plan,
             bool volume_checked, double volume_scale);

  LocalMarketData& local_;
  OnlineConfig config_;
  Fetcher fetcher_;
  std::vector<std::unique_ptr<Provider>> providers_;
};

}  // namespace tarnel::online
