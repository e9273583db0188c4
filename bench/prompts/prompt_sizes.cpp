// Prints the size of the bar data and of the whole rendered user message of the stock prompt for a
// few real instruments: in the previous layout (an array of row objects with every column, values
// to 3 decimals) and in the compact layout of tarnel::rows_to_json. Sizes are in characters (code
// points); the bar JSON is ASCII, so there characters and bytes agree.
#include <cmath>
#include <cstdio>
#include <set>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "offline/stock_prompt_fixture.h"
#include "quorvel/agent/core/stock_agent.h"
#include "quorvel/agent/offline/offline_client.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/utf8_text.h"
#include "tarnel/csv_bars.h"

namespace {

using quorvel::testing::StockPromptCase;

// The previous layout, kept here only to measure against.
std::string row_objects_json(const tarnel::BarTable& rows) {
  static const std::set<std::string> whole{"volume", "amount", "Volume_MA"};
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (std::size_t r = 0; r < rows.rows(); ++r) {
    nlohmann::ordered_json row;
    row["Date"] = rows.date_at(r);
    for (const auto& name : rows.column_names()) {
      const double v = rows.column(name)[r];
      if (!std::isfinite(v))
        row[name] = nullptr;
      else if (whole.count(name))
        row[name] = static_cast<long long>(std::llround(v));
      else
        row[name] = quorvel::round_half_even(v, 3);
    }
    out.push_back(std::move(row));
  }
  return rows.empty() ? "[]" : out.dump();
}

tarnel::BarTable bundled(const std::string& file) {
  const auto csv = tarnel::read_bar_csv(quorvel::get_project_root() / "data" / file);
  tarnel::BarTable t = tarnel::BarTable::with_base_columns();
  for (const auto& r : csv.rows) t.append_row(r.date, {r.open, r.high, r.low, r.close, r.volume, r.amount});
  return t;
}

void measure(const std::string& file, const StockPromptCase& c, bool print_user_message) {
  const auto sample = quorvel::testing::make_stock_prompt_sample(bundled(file), c);
  if (print_user_message) fmt::print("{}\n", sample.user_message);
  auto old_inputs = sample.inputs;
  old_inputs.stock_data = row_objects_json(sample.daily.tail(60));
  old_inputs.stock_week_data = row_objects_json(sample.weekly.tail(20));
  const quorvel::agent::core::MarketStockAgent agent(c.market, quorvel::agent::offline::make_offline_client_bundle());
  const std::size_t old_bars = old_inputs.stock_data.size() + old_inputs.stock_week_data.size();
  const std::size_t new_bars = sample.inputs.stock_data.size() + sample.inputs.stock_week_data.size();
  const std::size_t old_user = quorvel::count_code_points(agent.render_task(old_inputs));
  const std::size_t new_user = quorvel::count_code_points(sample.user_message);
  fmt::print("{:<10} {:<10} {:>9} {:>9} {:>6.1f}% {:>9} {:>9} {:>9} {:>8}\n", c.code, c.date, old_bars, new_bars,
             100.0 * double(new_bars) / double(old_bars), quorvel::count_code_points(sample.inputs.pattern_info), old_user,
             new_user, quorvel::count_code_points(sample.system_message));
}

}  // namespace

// With "--print", also prints each rendered user message.
int main(int argc, char** argv) {
  const bool print = argc > 1 && std::string(argv[1]) == "--print";
  fmt::print("bars = 60 daily + 20 weekly rows with indicator columns; sizes in characters\n");
  fmt::print("{:<10} {:<10} {:>9} {:>9} {:>7} {:>9} {:>9} {:>9} {:>8}\n", "code", "date", "bars_old", "bars_new",
             "ratio", "pattern", "user_old", "user_new", "system");
  measure("bars/a/sh.600519.csv", StockPromptCase("sh.600519", "A", "2023-02-10"), print);
  measure("bars/a/sh.600000.csv", StockPromptCase("sh.600000", "A", "2023-02-10"), print);
  measure("bars/etf/510300.csv", StockPromptCase("510300", "ETF", "2023-02-10"), print);
  measure("bars/hk/00700.csv", StockPromptCase("hk.00700", "HK", "2023-11-07"), print);
  measure("bars/us/AAPL.csv", StockPromptCase("us.AAPL", "US", "2022-12-30"), print);
  return 0;
}
