#include "tarnel/csv_bars.h"

#include "quorvel/utils/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "tarnel/dates.h"
#include "tarnel/instrument_code.h"

namespace tarnel {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::string read_text(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    throw quorvel::RuntimeError(fmt::format("{} 是目录而不是 CSV 文件；请给出其中的文件，例如 {}/*.csv", file.string(),
                                            file.string()));
  std::ifstream in(file, std::ios::binary);
  if (!in) throw quorvel::RuntimeError(fmt::format("无法读取文件 {}（不存在或没有读取权限）", file.string()));
  std::stringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw quorvel::RuntimeError(fmt::format("读取文件 {} 时出错", file.string()));
  return ss.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::string_view rest(text);
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  while (!rest.empty()) {
    const auto nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  return lines;
}

// A finite number, or nothing.
std::optional<double> number(const std::string& field) {
  const std::string f = quorvel::trim_text(field);
  double v = 0;
  const auto res = std::from_chars(f.data(), f.data() + f.size(), v);
  if (f.empty() || res.ec != std::errc() || res.ptr != f.data() + f.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

// Why the fields cannot be a bar, or empty when they can.
std::string check_row(const std::vector<std::string>& f, BarRow& row) {
  if (f.size() != 7) return fmt::format("应有 7 个字段，实际 {} 个", f.size());
  const auto d = try_parse_date(quorvel::trim_text(f[0]));
  if (!d) return fmt::format("日期无效: '{}'（应为 {}-{} 年间的 YYYY-MM-DD）", f[0], MIN_YEAR, MAX_YEAR);
  row.date = *d;
  static const char* names[] = {"open", "high", "low", "close", "volume"};
  double* targets[] = {&row.open, &row.high, &row.low, &row.close, &row.volume};
  for (int i = 0; i < 5; ++i) {
    const auto v = number(f[std::size_t(i) + 1]);
    if (!v) return fmt::format("{} 不是有效数字: '{}'", names[i], f[std::size_t(i) + 1]);
    *targets[i] = *v;
  }
  if (quorvel::trim_text(f[6]).empty()) {
    row.amount = NaN;
  } else if (const auto a = number(f[6])) {
    row.amount = *a;
  } else {
    return fmt::format("amount 不是有效数字: '{}'", f[6]);
  }
  return bar_values_problem(row);
}

}  // namespace

std::string bar_values_problem(const BarRow& row) {
  if (!std::isfinite(row.open) || !std::isfinite(row.high) || !std::isfinite(row.low) || !std::isfinite(row.close) ||
      !std::isfinite(row.volume))
    return "价格或成交量不是有效数字";
  if (row.open <= 0 || row.high <= 0 || row.low <= 0 || row.close <= 0) return "价格必须为正数";
  if (row.high < row.low) return fmt::format("high ({}) 低于 low ({})", row.high, row.low);
  if (row.open < row.low || row.open > row.high)
    return fmt::format("open ({}) 不在 [low, high] = [{}, {}] 之内", row.open, row.low, row.high);
  if (row.close < row.low || row.close > row.high)
    return fmt::format("close ({}) 不在 [low, high] = [{}, {}] 之内", row.close, row.low, row.high);
  if (row.volume < 0 || (!std::isnan(row.amount) && row.amount < 0)) return "成交量或成交额为负数";
  return "";
}

std::vector<std::string> split_csv_line(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

CsvBars parse_bar_csv(const std::string& text, const std::string& source_name) {
  const auto lines = lines_of(text);
  if (lines.empty() || quorvel::trim_text(lines[0]) != "date,open,high,low,close,volume,amount")
    throw quorvel::RuntimeError(fmt::format("{}: 表头应为 'date,open,high,low,close,volume,amount'", source_name));
  CsvBars out;
  std::set<Date> seen;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (quorvel::trim_text(lines[i]).empty()) continue;
    BarRow row{};
    std::string why = check_row(split_csv_line(lines[i]), row);
    if (why.empty() && !seen.insert(row.date).second) why = "日期重复: " + date_text(row.date);
    if (!why.empty()) {
      out.rejected.push_back(fmt::format("{}:{}: {}", source_name, i + 1, why));
      continue;
    }
    out.rows.push_back(row);
  }
  std::sort(out.rows.begin(), out.rows.end(), [](const BarRow& a, const BarRow& b) { return a.date < b.date; });
  return out;
}

CsvBars read_bar_csv(const std::filesystem::path& file) { return parse_bar_csv(read_text(file), file.string()); }

InstrumentList read_instrument_csv(const std::filesystem::path& file) {
  const auto lines = lines_of(read_text(file));
  if (lines.empty() || quorvel::trim_text(lines[0]).rfind("code,name,market,kind", 0) != 0)
    throw quorvel::RuntimeError(fmt::format("{}: 表头应为 'code,name,market,kind[,file]'", file.string()));
  InstrumentList out;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (quorvel::trim_text(lines[i]).empty()) continue;
    const auto f = split_csv_line(lines[i]);
    const auto where = fmt::format("{}:{}", file.string(), i + 1);
    if (f.size() < 4 || f.size() > 5) {
      out.rejected.push_back(where + ": 应有 4 或 5 个字段");
      continue;
    }
    InstrumentEntry e{"", quorvel::trim_text(f[1]), quorvel::trim_text(f[2]), quorvel::trim_text(f[3]), f.size() == 5 ? quorvel::trim_text(f[4]) : ""};
    try {
      e.code = parse_instrument_code(f[0]).code;
    } catch (const quorvel::ValueError& err) {
      out.rejected.push_back(where + ": " + err.what());
      continue;
    }
    static const std::set<std::string> markets{"A", "HK", "US", "ETF"}, kinds{"stock", "index", "etf"};
    if (!markets.count(e.market) || !kinds.count(e.kind)) {
      out.rejected.push_back(where + ": market 应为 A/HK/US/ETF，kind 应为 stock/index/etf");
      continue;
    }
    if (e.file.find("..") != std::string::npos || (!e.file.empty() && e.file.front() == '/')) {
      out.rejected.push_back(where + ": 文件路径必须位于清单所在目录之内: " + e.file);
      continue;
    }
    out.entries.push_back(std::move(e));
  }
  return out;
}

}  // namespace tarnel
