#include "quorvel/utils/market_blocks.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_indices.h"
#include "quorvel/utils/text.h"

namespace quorvel {

namespace {

using tarnel::BarTable;
using tarnel::Date;

// Longest window a block may ask for; more would not fit a prompt anyway.
constexpr int MAX_BLOCK_DAYS = 500;

struct IndexBars {
  std::string name;
  BarTable bars;  // daily, ending at or before the analysis date
};

struct Selection {
  std::vector<IndexBars> indices;
  nlohmann::ordered_json meta;
};

std::string upper_trimmed(const std::string& s) {
  std::string out;
  for (unsigned char c : s)
    if (!std::isspace(c)) out += char(std::toupper(c));
  return out;
}

bool is_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The analysis day of "2023-02-10", "2023-02-10_1500" or "2023-02-10 15:00:00"; today when empty.
Date analysis_day(const std::string& text) {
  const std::string day = date_key(text);
  if (day.empty()) return Date{clock().today_local()};
  if (day.size() == 10 && day[4] == '-' && day[7] == '-' && is_digits(day.substr(0, 4)) &&
      is_digits(day.substr(5, 2)) && is_digits(day.substr(8, 2))) {
    const date::year_month_day ymd{date::year{std::stoi(day.substr(0, 4))},
                                   date::month{unsigned(std::stoi(day.substr(5, 2)))},
                                   date::day{unsigned(std::stoi(day.substr(8, 2)))}};
    if (ymd.ok()) return Date{ymd};
  }
  throw ValueError("大盘数据块的分析日期格式错误: \"" + text + "\"，应为 YYYY-MM-DD");
}

int checked_days(int days, const char* what) {
  if (days < 1 || days > MAX_BLOCK_DAYS)
    throw ValueError(fmt::format("{} 必须在 1 到 {} 之间，收到 {}", what, MAX_BLOCK_DAYS, days));
  return days;
}

// The market's indices with a recent bar, and the metadata naming what was used or skipped.
Selection select_indices(const std::string& market, Date day) {
  const std::string mt = upper_trimmed(market);
  const std::string day_text = tarnel::date_text(day);
  Selection sel;
  sel.meta["market"] = mt;
  sel.meta["analysis_date"] = day_text;
  nlohmann::ordered_json skipped = nlohmann::ordered_json::object();
  const auto members = _get_indices_for_market(mt);
  if (members.empty()) {
    sel.meta["skip_reason"] = "不支持的市场类型: " + market + "（可选 A、ETF、HK、US）";
    sel.meta["skipped"] = skipped;
    return sel;
  }
  for (const auto& member : members) {
    const std::string name(member.value);
    BarTable bars;
    try {
      bars = tarnel::markets::get_any_ohlc(member, day_text);
    } catch (const Error& e) {
      logger.warning("[大盘数据] 读取 %s 日线失败: %s", name, e);
      skipped[name] = std::string("读取失败: ") + e.what();
      continue;
    }
    if (!bars.empty() && bars.index().back() > day) bars = bars.slice(bars.index().front(), day);
    if (bars.empty()) {
      skipped[name] = "无数据";
    } else if ((day - bars.index().back()).count() > MAX_INDEX_BAR_AGE_DAYS) {
      skipped[name] = "最新 " + bars.last_date();
    } else {
      sel.indices.push_back({name, std::move(bars)});
    }
  }
  if (sel.indices.empty()) {
    std::string detail;
    for (const auto& [name, why] : skipped.items()) detail += (detail.empty() ? "" : "；") + name + " " + why.get<std::string>();
    sel.meta["skip_reason"] = fmt::format("{} 前 {} 天内没有任何指数日线（{}）", day_text, MAX_INDEX_BAR_AGE_DAYS, detail);
    sel.meta["skipped"] = skipped;
    return sel;
  }
  nlohmann::ordered_json names = nlohmann::ordered_json::array(), last_dates = nlohmann::ordered_json::object();
  Date last = sel.indices.front().bars.index().back();
  for (const auto& ix : sel.indices) {
    names.push_back(ix.name);
    last_dates[ix.name] = ix.bars.last_date();
    last = std::max(last, ix.bars.index().back());
  }
  sel.meta["indices"] = names;
  sel.meta["last_date"] = tarnel::date_text(last);
  sel.meta["last_dates"] = last_dates;
  sel.meta["skipped"] = skipped;
  return sel;
}

std::string num(double x, int decimals = 2) { return std::isfinite(x) ? fmt::format("{:.{}f}", x, decimals) : ""; }
std::string or_dash(const std::string& s) { return s.empty() ? "—" : s; }

std::string signed_pct(double fraction) {
  return std::isfinite(fraction) ? fmt::format("{:+.2f}%", fraction * 100.0) : "—";
}

// Change of the close over `bars` rows up to row `at`, as a fraction.
double change(const std::vector<double>& close, std::size_t at, std::size_t bars) {
  if (at < bars || !(close[at - bars] > 0)) return NAN;
  return close[at] / close[at - bars] - 1.0;
}

// Divisor and label for the volumes of one index: 亿 from a median of 1e8, 万 from 1e4.
std::pair<double, const char*> volume_unit(const std::vector<double>& volume) {
  std::vector<double> v;
  for (double x : volume)
    if (std::isfinite(x) && x > 0) v.push_back(x);
  if (v.empty()) return {1.0, ""};
  std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
  const double median = v[v.size() / 2];
  if (median >= 1e8) return {1e8, "亿"};
  if (median >= 1e4) return {1e4, "万"};
  return {1.0, ""};
}

std::string volume_text(double v) {
  if (!std::isfinite(v) || v <= 0) return "—";
  if (v >= 1e8) return num(v / 1e8) + "亿";
  if (v >= 1e4) return num(v / 1e4) + "万";
  return num(v, 0);
}

std::string skipped_note(const nlohmann::ordered_json& skipped) {
  if (skipped.empty()) return "";
  std::string note = "\n> 未纳入: ";
  bool first = true;
  for (const auto& [name, why] : skipped.items()) {
    note += (first ? "" : "；") + name + "（" + why.get<std::string>() + "）";
    first = false;
  }
  return note;
}

std::string environment_row(const IndexBars& ix) {
  const BarTable& t = ix.bars;
  const auto& close = t.column("close");
  const auto& volume = t.column("volume");
  const std::size_t at = t.rows() - 1;
  const double prev = at > 0 ? close[at - 1] : NAN;
  const double amplitude = prev > 0 ? (t.at("high", at) - t.at("low", at)) / prev : NAN;
  double mean5 = 0;
  int n5 = 0;
  for (std::size_t i = at >= 5 ? at - 5 : 0; i < at; ++i)
    if (std::isfinite(volume[i]) && volume[i] > 0) mean5 += volume[i], ++n5;
  const double ratio = n5 > 0 && volume[at] > 0 ? volume[at] / (mean5 / n5) : NAN;
  return fmt::format("| {} | {} | {} | {} | {} | {} | {} | {} | {} |", ix.name, t.last_date(), num(close[at]),
                     signed_pct(change(close, at, 1)), amplitude >= 0 ? num(amplitude * 100) + "%" : "—",
                     volume_text(volume[at]), or_dash(num(ratio)), signed_pct(change(close, at, 5)),
                     signed_pct(change(close, at, 20)));
}

std::string history_csv(const IndexBars& ix, std::size_t days) {
  const BarTable t = ix.bars.tail(days + 1);  // one more row for the first change
  const auto& close = t.column("close");
  const auto [divisor, unit] = volume_unit(t.column("volume"));
  std::string out = fmt::format("#### {}\ndate,open,high,low,close,pct,vol{}", ix.name,
                                *unit ? fmt::format("({})", unit) : "");
  for (std::size_t i = t.rows() > days ? 1 : 0; i < t.rows(); ++i) {
    const double pct = i > 0 && close[i - 1] > 0 ? (close[i] / close[i - 1] - 1.0) * 100.0 : NAN;
    out += fmt::format("\n{},{},{},{},{},{},{}", t.date_at(i), num(t.at("open", i)), num(t.at("high", i)),
                       num(t.at("low", i)), num(close[i]), num(pct), num(t.at("volume", i) / divisor));
  }
  return out;
}

// Column of the indicator table, its CSV header and decimals.
struct IndicatorColumn {
  const char* source;
  const char* header;
};
constexpr IndicatorColumn INDICATOR_COLUMNS[] = {
    {"close", "close"},       {"EMA_5", "ema5"},          {"EMA_20", "ema20"},         {"EMA_60", "ema60"},
    {"MACD", "dif"},          {"MACD_signal", "dea"},     {"MACD_hist", "macd"},       {"RSI", "rsi14"},
    {"upper_band", "boll_up"}, {"middle_band", "boll_mid"}, {"lower_band", "boll_low"}, {"Volume_Ratio", "vol_ratio"},
    {"ATR", "atr14"}};

std::string indicator_csv(const IndexBars& ix, std::size_t days) {
  BarTable t = ix.bars;  // the whole history, so the long averages are warmed up
  tarnel::set_ema(t);
  tarnel::set_macd(t);
  tarnel::set_rsi(t, 14);
  tarnel::set_boll(t);
  tarnel::set_volume(t);
  t = t.tail(days);
  std::string out = "#### " + ix.name + "\ndate";
  for (const auto& c : INDICATOR_COLUMNS) out += std::string(",") + c.header;
  for (std::size_t i = 0; i < t.rows(); ++i) {
    out += "\n" + t.date_at(i);
    for (const auto& c : INDICATOR_COLUMNS) out += "," + num(t.at(c.source, i));
  }
  return out;
}

template <class Render>
std::string join_sections(const std::vector<IndexBars>& indices, Render render) {
  std::string out;
  for (const auto& ix : indices) out += "\n" + render(ix);
  return out;
}

}  // namespace

TextBlock TarnelMarketBlocks::format_market_environment_block(const std::string& market,
                                                              const std::string& analysis_time) {
  Selection sel = select_indices(market, analysis_day(analysis_time));
  if (sel.indices.empty()) return {"", std::move(sel.meta)};
  std::string text = fmt::format(
      "### 大盘快照（截至 {}）\n| 指数 | 日期 | 收盘 | 涨跌幅 | 振幅 | 成交量 | 量比 | 5日涨跌 | 20日涨跌 |\n"
      "| --- | --- | --- | --- | --- | --- | --- | --- | --- |",
      sel.meta["last_date"].get<std::string>());
  text += join_sections(sel.indices, environment_row);
  text += skipped_note(sel.meta["skipped"]);
  return {text, std::move(sel.meta)};
}

TextBlock TarnelMarketBlocks::format_market_history_block(const std::string& market, int days,
                                                          const std::string& analysis_time) {
  const auto n = std::size_t(checked_days(days, "days"));
  Selection sel = select_indices(market, analysis_day(analysis_time));
  if (sel.indices.empty()) return {"", std::move(sel.meta)};
  std::string text = fmt::format("### 指数近 {} 个交易日日线（截至 {}；pct 为涨跌幅%）", n,
                                 sel.meta["last_date"].get<std::string>());
  text += join_sections(sel.indices, [n](const IndexBars& ix) { return history_csv(ix, n); });
  text += skipped_note(sel.meta["skipped"]);
  sel.meta["days"] = n;
  return {text, std::move(sel.meta)};
}

TextBlock TarnelMarketBlocks::format_market_indicator_block(const std::string& market, int indicator_days,
                                                            const std::string& analysis_time) {
  const auto n = std::size_t(checked_days(indicator_days, "indicator_days"));
  Selection sel = select_indices(market, analysis_day(analysis_time));
  if (sel.indices.empty()) return {"", std::move(sel.meta)};
  std::string text = fmt::format(
      "### 指数技术指标（近 {} 个交易日，基于全部历史计算，截至 {}；macd 为柱值，vol_ratio 为量比）", n,
      sel.meta["last_date"].get<std::string>());
  text += join_sections(sel.indices, [n](const IndexBars& ix) { return indicator_csv(ix, n); });
  text += skipped_note(sel.meta["skipped"]);
  sel.meta["indicator_days"] = n;
  return {text, std::move(sel.meta)};
}

std::shared_ptr<TarnelMarketBlocks> install_market_blocks() {
  auto service = std::make_shared<TarnelMarketBlocks>();
  Service<MarketBlocks>::install(service);
  return service;
}

}  // namespace quorvel
