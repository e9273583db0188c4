// The combined technical screen over the benchmark universe (5,000 instruments x 500 daily bars in
// the local store), end to end, and its parts: loading the bars, the indicator status and the
// pattern scan. Argument: worker threads. BM_StatusOnly is the per-core figure that
// pandas_status.py beside this file measures for pandas.
//
//   build/bin/bench_screen --benchmark_min_time=2
#include <atomic>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "contracts/market_data.h"
#include "contracts/pattern_service.h"
#include "quorvel/indicators/status_computation.h"
#include "quorvel/strategy/technical/pool_screen.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "support/universe.h"
#include "support/universe_services.h"
#include "tarnel/local_market_data.h"
#include "zerith/rule_pattern_service.h"

namespace {

using quorvel::bench::code_of;
using quorvel::bench::INSTRUMENTS;

using quorvel::bench::END;
using quorvel::bench::START;

// Runs `work(code)` over the universe on `workers` threads.
template <class Work>
void over_universe(int workers, Work work) {
  std::atomic<int> next{0};
  std::vector<std::jthread> threads;
  for (int w = 0; w < workers; ++w)
    threads.emplace_back([&] {
      for (int i = next++; i < INSTRUMENTS; i = next++) work(code_of(i));
    });
}

void report(benchmark::State& state) {
  state.counters["instruments_per_s"] =
      benchmark::Counter(double(INSTRUMENTS), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Load(benchmark::State& state) {
  quorvel::bench::universe_services();
  for (auto _ : state)
    over_universe(int(state.range(0)), [](const std::string& code) {
      benchmark::DoNotOptimize(tarnel::get_any_ohlc(code, START, END).rows());
    });
  report(state);
}

void BM_LoadStatus(benchmark::State& state) {
  quorvel::bench::universe_services();
  for (auto _ : state)
    over_universe(int(state.range(0)), [](const std::string& code) {
      const auto df = tarnel::get_any_ohlc(code, START, END);
      benchmark::DoNotOptimize(quorvel::indicators::get_stock_status(df, code).price);
    });
  report(state);
}

void BM_LoadScan(benchmark::State& state) {
  quorvel::bench::universe_services();
  for (auto _ : state)
    over_universe(int(state.range(0)), [](const std::string& code) {
      const auto df = tarnel::get_any_ohlc(code, START, END);
      benchmark::DoNotOptimize(zerith::pre_screen_and_scan(df, code, "all", 3, {{"universe_rank", false}}).size());
    });
  report(state);
}

// The first 500 instruments of the universe, loaded.
std::vector<std::pair<std::string, tarnel::BarTable>> loaded_tables() {
  quorvel::bench::universe_services();
  std::vector<std::pair<std::string, tarnel::BarTable>> tables;
  for (int i = 0; i < 500; ++i) tables.emplace_back(code_of(i), tarnel::get_any_ohlc(code_of(i), START, END));
  return tables;
}

// The indicator status alone on tables already in memory, on one core (the tables taken in turn).
void BM_StatusOnly(benchmark::State& state) {
  const auto tables = loaded_tables();
  std::size_t k = 0;
  for (auto _ : state) {
    const auto& [code, df] = tables[k++ % tables.size()];
    benchmark::DoNotOptimize(quorvel::indicators::get_stock_status(df, code).price);
  }
  state.SetItemsProcessed(state.iterations());
}

// The scan alone on tables already in memory (the first 500 instruments, scanned in turn).
void BM_ScanOnly(benchmark::State& state) {
  const auto tables = loaded_tables();
  std::size_t k = 0;
  for (auto _ : state) {
    const auto& [code, df] = tables[k++ % tables.size()];
    benchmark::DoNotOptimize(zerith::pre_screen_and_scan(df, code, "all", 3, {{"universe_rank", false}}).size());
  }
  state.SetItemsProcessed(state.iterations());
}

// What quorvel-screen does: load, status, scan and the combined selector's decision per instrument,
// logging at its default level (warnings; the per-instrument lines come with -v only).
void BM_CombinedScreen(benchmark::State& state) {
  quorvel::bench::universe_services();
  quorvel::logger.backend().set_level(spdlog::level::warn);
  quorvel::strategy::technical::ScreenRequest req;
  for (int i = 0; i < INSTRUMENTS; ++i) req.codes.push_back(code_of(i));
  req.start_date = START;
  req.end_date = END;
  req.threads = int(state.range(0));
  req.make_selector = quorvel::strategy::technical::selector_factory("combined");
  req.options = {{"universe_rank", false}};
  std::size_t eligible = 0;
  for (auto _ : state) {
    eligible = 0;
    for (const auto& o : quorvel::strategy::technical::screen_pool(req)) {
      if (!o.screened) state.SkipWithError(("screen failed: " + o.error).c_str());
      eligible += o.eligible;
    }
  }
  state.counters["eligible"] = double(eligible);
  report(state);
}

BENCHMARK(BM_Load)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadStatus)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadScan)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StatusOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScanOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CombinedScreen)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
