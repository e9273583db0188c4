#include "tarnel/csv_bars.h"

#include "quorvel/utils/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "contracts/dates.h"
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

// Where each column of an instruments file sits, from its header.
struct InstrumentColumns {
  std::size_t code, name, market, kind;
  std::optional<std::size_t> file, lot;
  std::size_t required_fields;  // a row must reach the last required column
  std::size_t fields;           // and may leave out the optional columns after it
};

InstrumentColumns instrument_columns(const std::string& header, const std::string& source) {
  const auto bad = [&](const std::string& why) {
    return quorvel::RuntimeError(
        fmt::format("{}: 表头应含 code,name,market,kind 列，可另有 file、lot 列（{}）", source, why));
  };
  std::map<std::string, std::size_t> at;
  const auto names = split_csv_line(header);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string name = quorvel::trim_text(names[i]);
    static const std::set<std::string> known{"code", "name", "market", "kind", "file", "lot"};
    if (!known.count(name)) throw bad(fmt::format("未知的列 '{}'", name));
    if (!at.emplace(name, i).second) throw bad(fmt::format("列 '{}' 重复", name));
  }
  for (const char* required : {"code", "name", "market", "kind"})
    if (!at.count(required)) throw bad(fmt::format("缺少列 '{}'", required));
  const auto optional_at = [&](const char* name) {
    return at.count(name) ? std::optional<std::size_t>(at[name]) : std::nullopt;
  };
  InstrumentColumns c{at["code"], at["name"], at["market"], at["kind"], optional_at("file"), optional_at("lot"), 0,
                      names.size()};
  c.required_fields = std::max({c.code, c.name, c.market, c.kind}) + 1;
  return c;
}

// A whole number above zero, or nothing.
std::optional<int> positive_integer(const std::string& f) {
  int v = 0;
  const auto res = std::from_chars(f.data(), f.data() + f.size(), v);
  if (f.empty() || res.ec != std::errc() || res.ptr != f.data() + f.size() || v <= 0) return std::nullopt;
  return v;
}

// Why the fields cannot be an instrument, or empty when they can.
std::string check_instrument(const std::vector<std::string>& f, const InstrumentColumns& c, InstrumentEntry& e) {
  if (f.size() < c.required_fields || f.size() > c.fields)
    return fmt::format("应有 {} 至 {} 个字段，实际 {} 个", c.required_fields, c.fields, f.size());
  const auto field = [&](std::optional<std::size_t> i) { return i && *i < f.size() ? quorvel::trim_text(f[*i]) : ""; };
  try {
    e.code = parse_instrument_code(f[c.code]).code;
  } catch (const quorvel::ValueError& err) {
    return err.what();
  }
  e.name = field(c.name);
  e.market = field(c.market);
  e.kind = field(c.kind);
  e.file = field(c.file);
  static const std::set<std::string> markets{"A", "HK", "US", "ETF"}, kinds{"stock", "index", "etf"};
  if (!markets.count(e.market) || !kinds.count(e.kind)) return "market 应为 A/HK/US/ETF，kind 应为 stock/index/etf";
  if (e.file.find("..") != std::string::npos || (!e.file.empty() && e.file.front() == '/'))
    return "文件路径必须位于清单所在目录之内: " + e.file;
  if (const std::string lot = field(c.lot); !lot.empty()) {
    e.lot = positive_integer(lot);
    if (!e.lot) return fmt::format("lot（每手股数）应为正整数: '{}'", lot);
  }
  return "";
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
  // NaN stands for an absent amount; an infinite one (a provider's amount scaled past the range of
  // a double) is no amount at all.
  if (std::isinf(row.amount)) return "成交额不是有效数字";
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
  return parse_instrument_csv(read_text(file), file.string());
}

InstrumentList parse_instrument_csv(const std::string& text, const std::string& source_name) {
  const auto lines = lines_of(text);
  const InstrumentColumns cols = instrument_columns(lines.empty() ? "" : lines[0], source_name);
  InstrumentList out;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (quorvel::trim_text(lines[i]).empty()) continue;
    InstrumentEntry e;
    if (const std::string why = check_instrument(split_csv_line(lines[i]), cols, e); !why.empty()) {
      out.rejected.push_back(fmt::format("{}:{}: {}", source_name, i + 1, why));
      continue;
    }
    out.entries.push_back(std::move(e));
  }
  return out;
}

}  // namespace tarnel
