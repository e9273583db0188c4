// The opportunity radar over the benchmark universe (5,000 instruments x 500 daily bars in the
// local store), end to end as quorvel-radar runs it: the bars read on every core, then the pool
// scan of the pattern service sorted into its three sections. Argument 0: daily, 1: weekly. Also
// one evaluation on bars already in memory.
//
//   build/bin/bench_radar --benchmark_min_time=2
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "contracts/market_data.h"
#include "contracts/pattern_service.h"
#include "quorvel/strategy/radar/opportunity_radar_selector.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/parallel_for.h"
#include "support/universe.h"
#include "support/universe_services.h"
#include "tarnel/local_market_data.h"
#include "zerith/radar_item.h"
#include "zerith/rule_pattern_service.h"

namespace {

using quorvel::bench::code_of;
using quorvel::bench::INSTRUMENTS;

using quorvel::bench::END;
using quorvel::bench::START;

const char* frequency_of(const benchmark::State& state) { return state.range(0) ? "weekly" : "daily"; }

// What `quorvel-radar --market A` does after listing the market (names come with the list): the
// bars read on every core into the pool, then the radar's pool scan.
void BM_RadarPool(benchmark::State& state) {
  quorvel::bench::universe_services();
  std::size_t flagged = 0;
  for (auto _ : state) {
    std::vector<std::pair<std::string, tarnel::BarTable>> loaded(INSTRUMENTS);
    quorvel::parallel_for(INSTRUMENTS, 0, [&](std::size_t i) {
      const std::string code = code_of(int(i));
      loaded[i] = {code, tarnel::get_any_ohlc(code, START, END)};
    });
    zerith::RadarPool pool;
    for (std::size_t i = 0; i < loaded.size(); ++i) pool.emplace(code_of(int(i)), std::move(loaded[i]));
    const auto result =
        quorvel::strategy::radar::OpportunityRadarSelector::analyze_pool(pool, {.frequency = frequency_of(state)});
    if (result["summary"]["failed"] != 0) state.SkipWithError("an instrument failed");
    flagged = result["summary"]["flagged"].get<std::size_t>();
  }
  state.counters["flagged"] = double(flagged);
  state.counters["instruments_per_s"] =
      benchmark::Counter(double(INSTRUMENTS), benchmark::Counter::kIsIterationInvariantRate);
}

// One evaluation on bars already in memory (the first 200 instruments in turn), one thread.
void BM_RadarItem(benchmark::State& state) {
  quorvel::bench::universe_services();
  std::vector<std::pair<std::string, tarnel::BarTable>> tables;
  for (int i = 0; i < 200; ++i) tables.emplace_back(code_of(i), tarnel::get_any_ohlc(code_of(i), START, END));
  zerith::RadarThresholds thresholds;
  thresholds.frequency = frequency_of(state);
  std::size_t k = 0;
  for (auto _ : state) {
    const auto& [code, df] = tables[k++ % tables.size()];
    benchmark::DoNotOptimize(zerith::evaluate_radar_item(df, {code, "", thresholds, std::nullopt, ""}).size());
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_RadarPool)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RadarItem)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
