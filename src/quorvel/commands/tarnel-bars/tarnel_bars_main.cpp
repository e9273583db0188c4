// tarnel-bars: prints the stored daily or weekly bars of one instrument as CSV, prices at the
// instrument's decimals, indicator columns as the analyses compute them.
#include <cmath>
#include <algorithm>
#include <iostream>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "tarnel/bar_store.h"
#include "contracts/dates.h"
#include "tarnel/local_market_data.h"
#include "tarnel/rows_json.h"

namespace {

// Columns in the quote currency: written with the instrument's price decimals.
bool is_price_column(const std::string& name) {
  return name == "open" || name == "high" || name == "low" || name == "close" || name.starts_with("EMA_") ||
         name.ends_with("_band") || name == "ATR" || name.starts_with("MACD");
}

// A value without float noise: prices at the instrument's decimals, share counts whole, the rest
// (oscillators, ratios, amounts) at most four decimals without trailing zeros.
std::string cell(const std::string& column, double v, int price_decimals) {
  if (std::isnan(v)) return "";
  if (is_price_column(column)) return fmt::format("{:.{}f}", v, price_decimals);
  if (column == "volume" || column == "Volume_MA" || column == "OBV") return fmt::format("{:.0f}", v);
  std::string text = fmt::format("{:.4f}", v);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text == "-0" ? "0" : text;
}

void print_csv(const tarnel::BarTable& t, int price_decimals) {
  const auto names = t.column_names();
  std::string line = "date";
  for (const auto& n : names) line += "," + n;
  std::cout << line << "\n";
  for (std::size_t r = 0; r < t.rows(); ++r) {
    line = t.date_at(r);
    for (const auto& n : names) line += "," + cell(n, t.column(n)[r], price_decimals);
    std::cout << line << "\n";
  }
}

std::string today_text() {
  const auto ymd = quorvel::clock().today_local();
  return tarnel::date_text(tarnel::Date{ymd});
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("tarnel-bars", [&]() -> int {
    CLI::App app{"按 CSV 打印本地行情库中某只证券的日线或周线。", "tarnel-bars"};
    std::string code, start, end, db = tarnel::default_store_path().string();
    bool weekly = false, indicators = false;
    app.add_option("code", code, "证券代码，如 sh.600000、hk.00700、us.AAPL、510050")->required();
    app.add_option("--start", start, "起始日期 YYYY-MM-DD (默认: " + std::string(tarnel::DEFAULT_HISTORY_START) + ")");
    app.add_option("--end", end, "截止日期 YYYY-MM-DD (默认: 今天)");
    app.add_flag("--weekly", weekly, "输出周线");
    app.add_flag("--indicators", indicators, "附加指标列 (EMA、MACD、RSI、布林带、量能、KDJ)");
    app.add_option("--db", db, "行情库文件");
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    for (const auto& [name, text] : {std::pair{"--start", start}, std::pair{"--end", end}}) {
      if (!text.empty() && !tarnel::try_parse_date(text)) {
        std::cerr << "tarnel-bars: " << name << " 应为 " << tarnel::MIN_YEAR << "-" << tarnel::MAX_YEAR
                  << " 年间 YYYY-MM-DD 的有效日期: '" << text << "'\n";
        return 2;
      }
    }
    if (!start.empty() && !end.empty() && start > end) {
      std::cerr << "tarnel-bars: --start " << start << " 晚于 --end " << end << "\n";
      return 2;
    }

    auto service = std::make_shared<tarnel::LocalMarketData>(db, quorvel::get_project_root() / "data");
    quorvel::Service<tarnel::MarketData>::install(service);
    const std::string history_start = tarnel::get_default_start_date();
    if (start.empty()) start = history_start;
    if (end.empty()) end = today_text();
    // Indicators are computed over the window the analyses use and printed from --start, so that a
    // row shows the same EMA or RSI whatever --start is.
    const std::string read_from = indicators ? std::min(start, history_start) : start;
    tarnel::BarTable t = tarnel::get_any_ohlc(code, read_from, end);
    if (weekly) t = tarnel::generate_weekly_tarnel(t);
    if (indicators) {
      tarnel::set_ema(t);
      tarnel::set_macd(t);
      tarnel::set_rsi(t);
      tarnel::set_boll(t);
      tarnel::set_volume(t);
      tarnel::set_kdj(t);
    }
    const int decimals = tarnel::price_decimals(t);
    if (!t.empty()) t = t.slice(tarnel::parse_date(start), tarnel::parse_date(end));
    if (t.empty()) {
      std::cerr << fmt::format("行情库中没有 {} 在 {} 至 {} 之间的日线\n", code, start, end);
      return 1;
    }
    print_csv(t, decimals);
    return 0;
  });
}
