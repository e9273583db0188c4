// Screening throughput over a whole universe (bench/support/universe.h): each instrument's bars
// are loaded and its StockStatus computed.
#include <atomic>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "quorvel/indicators/status_computation.h"
#include "quorvel/utils/environment.h"
#include "support/universe.h"
#include "tarnel/local_market_data.h"

namespace {

using quorvel::bench::BARS;
using quorvel::bench::code_of;
using quorvel::bench::INSTRUMENTS;
using quorvel::bench::universe_store;

void BM_UniverseStatus(benchmark::State& state) {
  const int workers = int(state.range(0));
  static const auto file = universe_store();
  auto service = std::make_shared<tarnel::LocalMarketData>(file, quorvel::get_project_root() / "data");
  quorvel::Service<tarnel::MarketData>::Guard guard(service);
  for (auto _ : state) {
    std::atomic<int> next{0};
    std::atomic<long> bars{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
      threads.emplace_back([&] {
        for (int i = next++; i < INSTRUMENTS; i = next++) {
          const auto df = tarnel::get_any_ohlc(code_of(i), "2015-01-01", "2026-12-31");
          const auto status = quorvel::indicators::get_stock_status(df, code_of(i));
          bars += long(df.rows());
          benchmark::DoNotOptimize(status.price);
        }
      });
    }
    for (auto& t : threads) t.join();
    if (bars != long(INSTRUMENTS) * BARS) state.SkipWithError("universe is incomplete");
  }
  state.SetItemsProcessed(state.iterations() * INSTRUMENTS);
  state.counters["instruments_per_s"] =
      benchmark::Counter(double(INSTRUMENTS), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_UniverseStatus)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
