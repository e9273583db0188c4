#include "quorvel/strategy/ai/trading_rules.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "contracts/market_data.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/json_values.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/price_limits.h"
#include "quorvel/utils/etf_universe.h"

namespace quorvel::strategy::ai {

namespace {

using Json = nlohmann::ordered_json;

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Category of a fund in the ETF universe file, empty when the fund is not listed or the file
// cannot be read (said once in the log).
std::string fund_category(const std::string& code) {
  static std::once_flag loaded;
  static std::vector<EtfEntry> funds;
  std::call_once(loaded, [] {
    const auto path = (get_project_root() / "data" / "etf" / "etf.yaml").string();
    try {
      funds = load_etf_universe(path).etfs;
    } catch (const std::exception& e) {
      logger.warning("[交易规则] 读取 ETF 分类失败，基金的交收与涨跌幅按常规假设: %s", e.what());
    }
  });
  const std::string bare = code.substr(code.find('.') + 1);
  for (const auto& f : funds)
    if (f.code == bare || f.code == code) return f.category;
  return "";
}

struct Settlement {
  std::string rule;  // T+1 / T+0
  double band = 0;   // fraction; 0 = no band
};

// A fund's settlement and band from its category and name; what is not named is assumed.
Settlement fund_rules(const InstrumentFacts& inst, tarnel::Date next_day, Json& assumed) {
  const std::string category = fund_category(inst.code);
  Settlement s{"T+1", 0.10};
  if (contains(category, "债") || contains(category, "黄金") || contains(category, "商品") ||
      contains(category, "货币") || contains(category, "跨境"))
    s.rule = "T+0";
  else if (category.empty())
    assumed.push_back("交收制度：ETF 分类未知，按股票型基金 T+1 假设");
  const bool chinext = contains(category, "创业板") || contains(inst.name, "创业板");
  const bool growth_board = chinext || contains(category, "科创") || contains(inst.name, "科创");
  if (chinext && next_day < CHINEXT_WIDE_BAND_FROM) {
    assumed.push_back("涨跌幅 ±10%：创业板指数基金在 2020-08-24 之前按 ±10%");
  } else if (growth_board) {
    s.band = 0.20;
    if (!contains(category, "创业板") && !contains(category, "科创"))
      assumed.push_back("涨跌幅 ±20%：按基金名称判断其跟踪创业板/科创板指数");
  } else {
    assumed.push_back("涨跌幅 ±10%：未标明跟踪创业板/科创板指数，按 ±10% 假设");
  }
  return s;
}

Settlement stock_rules(const InstrumentFacts& inst, tarnel::Date next_day) {
  if (inst.market_type == "HK" || inst.market_type == "US") return {"T+0", 0};
  const double band = quorvel::limit_band(inst.code, next_day);
  // ST shares of the main boards trade within ±5%; ChiNext, STAR and Beijing keep their own band.
  if (contains(inst.name, "ST") && band <= 0.10) return {"T+1", 0.05};
  return {"T+1", band};
}

// The session after `last`: the next weekday (a holiday in between changes no band).
tarnel::Date next_session(tarnel::Date last) {
  tarnel::Date d = last + date::days{1};
  while (date::weekday{d} == date::Saturday || date::weekday{d} == date::Sunday) d += date::days{1};
  return d;
}

// Whether the index's volatility state describes the analysis day: not when the index's last bar
// lies more than INDEX_STATE_MAX_LAG_SESSIONS sessions before the instrument's.
bool index_state_current(const Json& context, const tarnel::BarTable& daily, const std::string& market) {
  const auto as_of = context.find("as_of");
  if (as_of == context.end() || !as_of->is_string() || daily.empty()) return true;
  const std::string last = tarnel::date_text(daily.index().back());
  if (as_of->get<std::string>() >= last) return true;
  return tarnel::count_trading_days(market, as_of->get<std::string>(), last) <= INDEX_STATE_MAX_LAG_SESSIONS;
}

// Round half up to the tick, as exchanges round limit prices.
double to_tick(double price, double tick) { return std::floor(price / tick + 0.5 + 1e-9) * tick; }

struct Turnover {
  double value = NAN;
  std::string basis;
};

Turnover average_turnover(const tarnel::BarTable& daily) {
  const std::size_t n = std::min(daily.rows(), TURNOVER_SESSIONS);
  if (n == 0) return {};
  const std::size_t first = daily.rows() - n;
  const bool has_amount = daily.has_column("amount");
  double amount_sum = 0, product_sum = 0;
  bool amount_ok = has_amount;
  for (std::size_t i = first; i < daily.rows(); ++i) {
    const double a = has_amount ? daily.at("amount", i) : NAN;
    if (!(a > 0)) amount_ok = false;
    amount_sum += a;
    product_sum += daily.at("close", i) * daily.at("volume", i);
  }
  if (amount_ok) return {amount_sum / double(n), "amount"};
  const double mean = product_sum / double(n);
  return std::isfinite(mean) ? Turnover{mean, "close×volume"} : Turnover{};
}

// The liquidity tier and its cap (percent; NaN when the tier sets none).
std::pair<std::string, double> liquidity_tier(const InstrumentFacts& inst, double turnover) {
  if (inst.fund) {
    if (turnover >= FUND_LIQUID_TURNOVER) return {"充足", NAN};
    if (turnover >= FUND_POOR_TURNOVER) return {"一般", FUND_FAIR_LIQUIDITY_CAP};
    return {"差", FUND_POOR_LIQUIDITY_CAP};
  }
  if (turnover >= HK_LIQUID_TURNOVER) return {"充足", NAN};
  if (turnover >= HK_PENNY_TURNOVER) return {"偏弱", HK_WEAK_LIQUIDITY_CAP};
  return {"仙股", 0.0};
}

std::string currency_of(const InstrumentFacts& inst) {
  if (inst.market_type == "HK") return "HKD";
  if (inst.market_type == "US") return "USD";
  return "CNY";
}

// The order unit and, where it is not a plain multiple, how it applies.
std::pair<Json, std::string> lot_of(const InstrumentFacts& inst) {
  if (inst.market_type == "US" && !inst.fund) return {1, ""};
  if (inst.market_type == "HK") return {inst.lot ? Json(*inst.lot) : Json("unknown"), ""};
  if (!inst.fund && (starts_with(inst.code, "sh.688") || starts_with(inst.code, "sh.689")))
    return {200, "科创板单笔买入不少于 200 股，超出部分可按 1 股递增"};
  if (starts_with(inst.code, "bj.")) return {100, "北交所单笔买入不少于 100 股，超出部分可按 1 股递增"};
  return {100, ""};
}

Json rounded_or_null(double v, int digits) { return std::isfinite(v) ? Json(round_half_even(v, digits)) : Json(nullptr); }

}  // namespace

Json trading_rules(const InstrumentFacts& inst, const tarnel::BarTable& daily, const std::string& bias,
                   const Json& constraints, const Json& pattern_info) {
  Json assumed = Json::array();
  const bool banded_market = inst.fund || (inst.market_type != "HK" && inst.market_type != "US");
  const tarnel::Date next_day = daily.empty() ? tarnel::Date{} : next_session(daily.index().back());
  const Settlement settle = inst.fund ? fund_rules(inst, next_day, assumed) : stock_rules(inst, next_day);
  const Turnover turnover = average_turnover(daily);

  // Every cap the prompt's rules set; the effective cap is the smallest known one.
  const double regime_cap = number_member(constraints, "max_position_pct");
  Json caps = Json::object();
  caps["max_position_pct"] = rounded_or_null(regime_cap, 2);
  if (bias == "避险") caps["risk_off"] = 0;
  const auto context = pattern_info.is_object() ? pattern_info.find("market_context") : pattern_info.end();
  const bool has_context = context != pattern_info.end() && context->is_object();
  const Json* vol = has_context && context->contains("vol_regime") &&
                            index_state_current(*context, daily, inst.fund ? "A" : inst.market_type)
                        ? &(*context)["vol_regime"]
                        : nullptr;
  if (vol && vol->is_string() && vol->get<std::string>() == "high_vol")
    caps["high_vol"] = round_half_even(regime_cap * HIGH_VOL_CAP_SHARE, 2);
  else if (!vol || !vol->is_string())
    caps["high_vol"] = "unknown";
  std::string tier;
  const bool tiered = inst.fund || inst.market_type == "HK";
  if (tiered && std::isfinite(turnover.value)) {
    const auto [name, cap] = liquidity_tier(inst, turnover.value);
    tier = name;
    if (std::isfinite(cap)) caps["liquidity"] = cap;
  } else if (tiered) {
    caps["liquidity"] = "unknown";
  }
  if (inst.market_type == "US" && !inst.fund) caps["event"] = "unknown";
  double effective = NAN;
  for (const auto& [rule, cap] : caps.items())
    if (cap.is_number()) effective = std::isfinite(effective) ? std::min(effective, cap.get<double>()) : cap.get<double>();

  Json rules = Json::object();
  rules["effective_max_position_pct"] = rounded_or_null(effective, 2);
  rules["position_caps"] = std::move(caps);
  rules["settlement"] = settle.rule;
  const double close = daily.empty() ? NAN : daily.last("close");
  const double tick = quorvel::price_tick(inst.code);
  const int digits = tick < 0.01 ? 3 : 2;
  const bool young = banded_market && daily.rows() < quorvel::UNBANDED_FIRST_SESSIONS;
  if (young)
    assumed.push_back("涨跌停价：行情不足五个交易日，可能处于上市初期（无涨跌幅限制），未给出");
  if (banded_market && !young && settle.band > 0 && close > 0) {
    rules["limit_band_pct"] = round_half_even(settle.band * 100, 0);
    rules["limit_up"] = round_half_even(to_tick(close * (1 + settle.band), tick), digits);
    rules["limit_down"] = round_half_even(to_tick(close * (1 - settle.band), tick), digits);
  } else {
    rules["limit_band_pct"] = nullptr;
    rules["limit_up"] = nullptr;
    rules["limit_down"] = nullptr;
  }
  // The last session closed sealed at its limit-down price (the prompt forbids a buy then).
  if (banded_market && !young && daily.rows() >= 2 && settle.band > 0) {
    const double prev = daily.at("close", daily.rows() - 2);
    rules["last_close_at_limit_down"] = prev > 0 && std::abs(close - to_tick(prev * (1 - settle.band), tick)) < tick / 2;
  } else {
    rules["last_close_at_limit_down"] = nullptr;
  }
  auto [lot, lot_note] = lot_of(inst);
  rules["lot"] = std::move(lot);
  if (!lot_note.empty()) rules["lot_note"] = lot_note;
  if (inst.market_type == "HK" && !inst.lot) assumed.push_back("每手股数：行情数据未提供，未知");
  rules["currency"] = currency_of(inst);
  rules["avg_turnover_20d"] = rounded_or_null(turnover.value, 0);
  rules["turnover_basis"] = turnover.basis.empty() ? Json(nullptr) : Json(turnover.basis);
  rules["liquidity_tier"] = tier.empty() ? Json(nullptr) : Json(tier);
  const double atr = !daily.empty() && daily.has_column("ATR") ? daily.last("ATR") : NAN;
  rules["atr"] = rounded_or_null(atr, 4);
  if (inst.market_type == "US" && !inst.fund) assumed.push_back("事件窗口：离线数据没有财报与宏观事件日历，事件仓位上限未知");
  rules["assumed"] = std::move(assumed);
  return rules;
}

}  // namespace quorvel::strategy::ai
