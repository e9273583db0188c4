// Screening throughput over a whole universe: 5,000 instruments x 500 daily bars in the local store;
// each instrument's bars are loaded and its StockStatus computed.
//
// The universe is generated once from the statistics of the bundled real bars (daily returns,
// intraday ranges and volumes are resampled from real A-share stocks and ETFs) and kept in
// $QUORVEL_BENCH_STORE (default: bench-universe.sqlite in the working directory).
#include <atomic>
#include <cmath>
#include <filesystem>
#include <random>
#include <thread>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "quorvel/indicators/status_computation.h"
#include "quorvel/utils/environment.h"
#include "tarnel/bar_store.h"
#include "tarnel/csv_bars.h"
#include "tarnel/dates.h"
#include "tarnel/local_market_data.h"

namespace {

constexpr int INSTRUMENTS = 5000;
constexpr int BARS = 500;

struct DayShape {
  double ret, high_up, low_down, open_gap, volume_rel;
};

// Daily shapes of the real bundled A-share stocks and ETFs.
std::vector<DayShape> real_shapes() {
  std::vector<DayShape> shapes;
  const auto data = quorvel::get_project_root() / "data";
  for (const auto& entry : tarnel::read_instrument_csv(data / "instruments.csv").entries) {
    if (entry.market != "A" && entry.market != "ETF") continue;
    if (entry.kind == "index") continue;
    const auto rows = tarnel::read_bar_csv(data / entry.file).rows;
    double mean_volume = 0;
    for (const auto& r : rows) mean_volume += r.volume / double(rows.size());
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const auto& p = rows[i - 1];
      const auto& r = rows[i];
      const double ret = r.close / p.close - 1;
      if (std::fabs(ret) > 0.25) continue;  // splits and distributions
      shapes.push_back({ret, r.high / r.close - 1, 1 - r.low / r.close, r.open / p.close - 1, r.volume / mean_volume});
    }
  }
  return shapes;
}

std::string code_of(int i) { return fmt::format("sz.{:06d}", 100000 + i); }

void generate(const std::filesystem::path& file) {
  const auto shapes = real_shapes();
  tarnel::BarStore store(file);
  tarnel::Transaction tx(store.db());
  std::mt19937_64 rng(20230210);
  std::uniform_int_distribution<std::size_t> pick(0, shapes.size() - 1);
  std::uniform_real_distribution<double> start_price(2.0, 200.0), base_volume(1e6, 5e7);
  const tarnel::Date first = tarnel::parse_date("2021-01-04");
  for (int i = 0; i < INSTRUMENTS; ++i) {
    store.upsert_instrument({code_of(i), fmt::format("合成{}", i), "A", "stock", ""});
    std::vector<tarnel::BarRow> rows;
    double close = start_price(rng);
    const double vol0 = base_volume(rng);
    tarnel::Date d = first;
    for (int b = 0; b < BARS; ++b) {
      while (tarnel::is_weekend(d)) d += date::days{1};
      const DayShape& s = shapes[pick(rng)];
      const double open = close * (1 + s.open_gap);
      close *= 1 + s.ret;
      const double high = std::max({close * (1 + s.high_up), open, close});
      const double low = std::min({close * (1 - s.low_down), open, close});
      const double volume = std::round(vol0 * s.volume_rel);
      rows.push_back({d, open, high, low, close, volume, volume * close});
      d += date::days{1};
    }
    store.upsert_bars(code_of(i), rows);
  }
  tx.commit();
}

std::filesystem::path universe_store() {
  const auto file = std::filesystem::path(quorvel::env_value("QUORVEL_BENCH_STORE").value_or("bench-universe.sqlite"));
  bool ready = false;
  if (std::filesystem::exists(file)) ready = tarnel::BarStore(file).instrument_count() == INSTRUMENTS;
  if (!ready) {
    std::filesystem::remove(file);
    generate(file);
  }
  return file;
}

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
