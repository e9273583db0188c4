// tarnel-bars: prints the stored daily or weekly bars of one instrument as CSV.
#include <cmath>
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
#include "tarnel/dates.h"
#include "tarnel/local_market_data.h"

namespace {

void print_csv(const tarnel::BarTable& t) {
  const auto names = t.column_names();
  std::string line = "date";
  for (const auto& n : names) line += "," + n;
  std::cout << line << "\n";
  for (std::size_t r = 0; r < t.rows(); ++r) {
    line = t.date_at(r);
    for (const auto& n : names) {
      const double v = t.column(n)[r];
      line += ",";
      if (!std::isnan(v)) line += fmt::format("{}", v);
    }
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
    if (start.empty()) start = tarnel::get_default_start_date();
    if (end.empty()) end = today_text();
    tarnel::BarTable t = tarnel::get_any_ohlc(code, start, end);
    if (t.empty()) {
      std::cerr << fmt::format("行情库中没有 {} 在 {} 至 {} 之间的日线\n", code, start, end);
      return 1;
    }
    if (weekly) t = tarnel::generate_weekly_tarnel(t);
    if (indicators) {
      tarnel::set_ema(t);
      tarnel::set_macd(t);
      tarnel::set_rsi(t);
      tarnel::set_boll(t);
      tarnel::set_volume(t);
      tarnel::set_kdj(t);
    }
    print_csv(t);
    return 0;
  });
}
