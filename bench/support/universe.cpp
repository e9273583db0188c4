#include "support/universe.h"

#include <algorithm>
#include <cmath>
#include <random>

#include <fmt/format.h>

#include "quorvel/utils/environment.h"
#include "tarnel/bar_store.h"
#include "tarnel/csv_bars.h"
#include "contracts/dates.h"

namespace quorvel::bench {

std::string code_of(int i) { return fmt::format("sz.{:06d}", 100000 + i); }

namespace {

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

}  // namespace

std::filesystem::path universe_store() {
  const auto file = std::filesystem::path(quorvel::env_value("QUORVEL_BENCH_STORE").value_or("bench-universe.sqlite"));
  bool ready = false;
  // The market-data service adds the bundled instruments to any store, so look for the last synthetic one.
  if (std::filesystem::exists(file)) ready = tarnel::BarStore(file).instrument(code_of(INSTRUMENTS - 1)).has_value();
  if (!ready) {
    std::filesystem::remove(file);
    generate(file);
  }
  return file;
}

}  // namespace quorvel::bench
