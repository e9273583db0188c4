// libFuzzer entry: the text of a file given to tarnel-import, read both as a bar file and as an
// instruments file. The importer catches quorvel::Error only. Every line after the header is
// accepted or rejected; accepted bars are valid, in ascending date order, and written back as CSV
// they read the same; accepted instruments have canonical codes, known markets and kinds, a file
// inside the list's folder and a positive lot.
#include <cmath>
#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "contracts/dates.h"
#include "contracts/errors.h"
#include "fuzz_support.h"
#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/text.h"
#include "tarnel/csv_bars.h"

namespace {

// Lines after the header that are not blank: each is either accepted or rejected.
std::size_t data_lines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::size_t n = 0;
  bool header = true;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!header && !quorvel::trim_text(line).empty()) ++n;
    header = false;
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
  }
  return n;
}

std::string number(double v) { return fmt::format("{}", v); }  // shortest text that reads back exactly

void bars(const std::string& text) {
  tarnel::CsvBars parsed;
  try {
    parsed = tarnel::parse_bar_csv(text, "bars.csv");
  } catch (const quorvel::Error&) {
    return;
  }
  fuzz::check(parsed.rows.size() + parsed.rejected.size() == data_lines(text), "every bar line is accepted or rejected");
  std::string again = "date,open,high,low,close,volume,amount\n";
  for (std::size_t i = 0; i < parsed.rows.size(); ++i) {
    const tarnel::BarRow& r = parsed.rows[i];
    fuzz::check(i == 0 || parsed.rows[i - 1].date < r.date, "dates ascend, each once");
    fuzz::check(tarnel::bar_values_problem(r).empty(), "an accepted row is a valid bar");
    fuzz::check(std::isfinite(r.open) && std::isfinite(r.high) && std::isfinite(r.low) && std::isfinite(r.close) &&
                    r.high >= r.low,
                "finite prices, high >= low");
    fuzz::check(std::isnan(r.amount) || (std::isfinite(r.amount) && r.amount >= 0), "an amount is absent or finite");
    again += fmt::format("{},{},{},{},{},{},{}\n", tarnel::date_text(r.date), number(r.open), number(r.high),
                         number(r.low), number(r.close), number(r.volume),
                         std::isnan(r.amount) ? "" : number(r.amount));
  }
  const tarnel::CsvBars back = tarnel::parse_bar_csv(again, "again.csv");
  fuzz::check(back.rejected.empty() && back.rows.size() == parsed.rows.size(), "accepted bars read back whole");
  for (std::size_t i = 0; i < back.rows.size(); ++i) {
    const tarnel::BarRow &a = parsed.rows[i], &b = back.rows[i];
    fuzz::check(a.date == b.date && a.open == b.open && a.high == b.high && a.low == b.low && a.close == b.close &&
                    a.volume == b.volume && (a.amount == b.amount || (std::isnan(a.amount) && std::isnan(b.amount))),
                "accepted bars read back unchanged");
  }
}

void instruments(const std::string& text) {
  tarnel::InstrumentList list;
  try {
    list = tarnel::parse_instrument_csv(text, "instruments.csv");
  } catch (const quorvel::Error&) {
    return;
  }
  fuzz::check(list.entries.size() + list.rejected.size() == data_lines(text),
              "every instrument line is accepted or rejected");
  for (const auto& e : list.entries) {
    fuzz::check(quorvel::canonical_code(e.code) == e.code, "an instrument code is canonical");
    fuzz::check(e.market == "A" || e.market == "HK" || e.market == "US" || e.market == "ETF", "a known market");
    fuzz::check(e.kind == "stock" || e.kind == "index" || e.kind == "etf", "a known kind");
    fuzz::check(e.file.find("..") == std::string::npos && !e.file.starts_with("/"), "a bar file inside the folder");
    fuzz::check(!e.lot || *e.lot > 0, "a lot is positive");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  bars(text);
  instruments(text);
  return 0;
}
