#include "zerith/sentiment_thermometer.h"

#include "quorvel/utils/text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <string_view>

#include <date/date.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/etf_universe.h"
#include "zerith/sentiment_factors.h"

namespace zerith {

namespace {

using quorvel::EtfEntry;
using quorvel::EtfUniverse;
using quorvel::load_etf_universe;

// Entries beyond this are dropped all at once; a day's work needs a handful.
constexpr std::size_t MAX_CACHED_SNAPSHOTS = 512;


bool is_digits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string checked_date(const std::string& text) {
  const std::string day = quorvel::date_key(text);
  bool valid = day.size() == 10 && day[4] == '-' && day[7] == '-' && is_digits(day.substr(0, 4)) &&
               is_digits(day.substr(5, 2)) && is_digits(day.substr(8, 2));
  if (valid) {
    const date::year_month_day ymd{date::year{std::stoi(day.substr(0, 4))},
                                   date::month{unsigned(std::stoi(day.substr(5, 2)))},
                                   date::day{unsigned(std::stoi(day.substr(8, 2)))}};
    valid = ymd.ok();
  }
  if (!valid) throw quorvel::ValueError("情绪温度计日期格式错误: \"" + text + "\"，应为 YYYY-MM-DD 的有效日期");
  return day;
}

std::string today_text() { return tarnel::date_text(tarnel::Date{quorvel::clock().today_local()}); }

double round1(double x) { return quorvel::round_half_even(x, 1); }

struct Loaded {
  std::vector<tarnel::BarTable> tables;
  tarnel::Date data_end{};
  tarnel::Date data_begin = tarnel::Date::max();
};

Loaded load_universe_bars(const EtfUniverse& universe, const std::string& end_date, bool weekly) {
  const std::string start = tarnel::get_default_start_date();
  Loaded out;
  for (const EtfEntry& etf : universe.etfs) {
    tarnel::BarTable daily;
    try {
      daily = tarnel::get_any_ohlc(etf.code, start, end_date);
    } catch (const quorvel::ValueError& e) {
      quorvel::logger.warning("[情绪温度计] 跳过无效 ETF 代码 %s: %s", etf.code, e);
      continue;
    }
    if (daily.empty()) continue;
    daily = repair_price_jumps(daily);
    out.data_end = std::max(out.data_end, daily.index().back());
    out.data_begin = std::min(out.data_begin, daily.index().front());
    out.tables.push_back(weekly ? tarnel::generate_weekly_tarnel(daily) : std::move(daily));
  }
  return out;
}

const char* freq_label(const std::string& freq) { return freq == "W" ? "周线" : "日线"; }

}  // namespace

nlohmann::ordered_json ZerithSentimentThermometer::compute_sentiment_snapshot(const std::optional<std::string>& date,
                                                                              const SentimentConfig& config,
                                                                              bool use_cache) {
  const std::string freq = quorvel::upper_ascii(quorvel::trim_text(config.freq));
  sentiment_params(freq);  // rejects an unknown frequency before any work
  const bool explicit_date = date.has_value() && !quorvel::date_key(*date).empty();
  const std::string end_date = explicit_date ? checked_date(*date) : today_text();
  const std::string key = config.universe_path + '\n' + freq + '\n' + end_date + (explicit_date ? "" : "\nlatest");

  if (use_cache) {
    std::lock_guard lock(mutex_);
    if (auto it = cache_.find(key); it != cache_.end()) return it->second;
  }
  nlohmann::ordered_json snapshot = compute(end_date, explicit_date, freq, config.universe_path);
  std::lock_guard lock(mutex_);
  if (cache_.size() >= MAX_CACHED_SNAPSHOTS) cache_.clear();
  cache_[key] = snapshot;
  return snapshot;
}

nlohmann::ordered_json ZerithSentimentThermometer::compute(const std::string& end_date, bool explicit_date,
                                                           const std::string& freq,
                                                           const std::string& universe_path) {
  const SentimentParams p = sentiment_params(freq);
  const EtfUniverse universe = load_etf_universe(universe_path);
  const Loaded loaded = load_universe_bars(universe, end_date, freq == "W");
  if (loaded.tables.empty()) {
    throw quorvel::RuntimeError("情绪温度计: ETF 股票池 " + universe_path + " 在 " + end_date +
                                " 及之前没有任何日线；请先导入 ETF 行情（data/bars/etf）或使用更晚的日期");
  }
  const std::string data_end = tarnel::date_text(loaded.data_end);
  if (explicit_date) {
    const std::string required = tarnel::normalize_market_end_date(end_date);
    if (data_end < required) {
      throw quorvel::RuntimeError("情绪温度计: ETF 日线截止 " + data_end + "，缺少 " + end_date + " 对应交易日 " +
                                  required + " 的数据；请先更新 ETF 行情，或使用不晚于 " + data_end + " 的日期");
    }
  }

  const FactorSeries series = build_factor_series(loaded.tables, p, freq == "W");
  const std::size_t at = series.size() - 1;
  const auto reading = temperature_at(series, at, p);
  if (!reading) {
    throw quorvel::RuntimeError("情绪温度计: " + std::string(freq_label(freq)) + "历史不足，截至 " + end_date +
                                " 的有效样本少于 " + std::to_string(p.min_history) + " 个周期（ETF 行情始于 " +
                                tarnel::date_text(loaded.data_begin) + "）；请使用更晚的日期");
  }
  double change = std::numeric_limits<double>::quiet_NaN();
  if (at >= std::size_t(p.direction_lookback)) {
    if (const auto before = temperature_at(series, at - std::size_t(p.direction_lookback), p))
      change = reading->temperature - before->temperature;
  }

  const double temperature = round1(reading->temperature);
  const int n_etf = series.names[at];
  nlohmann::ordered_json factors = nlohmann::ordered_json::object();
  for (std::size_t k = 0; k < FACTOR_COUNT; ++k) factors[FACTOR_KEYS[k]] = round1(reading->percentiles[k]);

  nlohmann::ordered_json snap;
  snap["date"] = tarnel::date_text(series.dates[at]);
  snap["freq"] = freq;
  snap["temperature"] = temperature;
  snap["state"] = sentiment_state(temperature);
  snap["direction"] = sentiment_direction(change, p.direction_threshold);
  snap["temperature_change"] = std::isfinite(change) ? nlohmann::ordered_json(round1(change)) : nullptr;
  snap["confidence"] = quorvel::round_half_even(sentiment_confidence(n_etf, reading->agreement, reading->depth), 2);
  snap["n_etf"] = n_etf;
  snap["factors"] = std::move(factors);
  quorvel::logger.info("[情绪温度计] freq=%s | date=%s | 温度=%.1f | 状态=%s | 方向=%s | 样本=%d", freq,
                       snap["date"].get<std::string>(), temperature, snap["state"].get<std::string>(),
                       snap["direction"].get<std::string>(), n_etf);
  return snap;
}

SentimentZoneDesc ZerithSentimentThermometer::get_sentiment_zone_desc(double temperature) {
  const std::string state = sentiment_state(temperature);
  if (state == "ICE_COLD") {
    return {"冰点区", "恐慌出清期，分批左侧布局优质宽基，单笔轻仓并严设止损",
            "情绪极度低迷，广度与动量处于历史低位，抛压接近衰竭；宜以定投或金字塔方式分批建仓，"
            "待升温信号确认后再加仓。"};
  }
  if (state == "COLD") {
    return {"偏冷区", "防守为主，轻仓试探，等待右侧确认信号再加仓",
            "情绪低于常态，多数 ETF 位于均线下方，反弹多为超跌修复；仓位宜控制在三成以内，"
            "优先选择强于大盘的方向。"};
  }
  if (state == "NEUTRAL") {
    return {"中性区", "均衡配置，围绕主线高抛低吸，仓位保持中等",
            "情绪处于常态区间，以结构性机会为主；跟随量能与广度变化调整仓位，避免情绪化追涨杀跌。"};
  }
  if (state == "HOT") {
    return {"偏热区", "持股为主但不追高，逐步上移止盈线",
            "情绪高于常态，赚钱效应明显但分歧开始累积；新开仓需等待回踩确认，已有盈利仓位用移动止盈保护。"};
  }
  return {"过热区", "分批减仓兑现利润，严禁追高与加杠杆",
          "情绪处于历史高位，量能与位置透支，随时可能剧烈回撤；以兑现和防守为主，待降温后再考虑重新布局。"};
}

std::size_t ZerithSentimentThermometer::cached_snapshots() const {
  std::lock_guard lock(mutex_);
  return cache_.size();
}

std::shared_ptr<ZerithSentimentThermometer> install_sentiment_thermometer() {
  auto service = std::make_shared<ZerithSentimentThermometer>();
  quorvel::Service<SentimentThermometer>::install(service);
  return service;
}

}  // namespace zerith
