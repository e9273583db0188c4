#include <algorithm>
#include <string>

#include <fmt/format.h>

#include "quorvel/ta/talib_calls.h"
#include "zerith/engine_common.h"

namespace zerith::engine {

namespace {

namespace ta = quorvel::ta::talib;

constexpr EngineSpec SPEC{"US 双核：长期趋势 + 突破 (US Dual Core)", 220};
constexpr std::size_t DONCHIAN = 20, STOP_LOW_SPAN = 10;
constexpr double STOP_ATR = 2.0;
constexpr double VOLUME_STRONG = 1.5, VOLUME_CLEAR = 1.2;  // volume / its prior 20-bar mean

enum class Regime { bull, bear, mixed };

// Everything the rules read at the last bar t.
struct Reading {
  double close, sma50, sma200, atr, high_20, low_20, volume, volume_mean, low_10;
  Regime regime = Regime::mixed;
  bool breakout = false, breakdown = false, sma200_loss = false;

  double volume_multiple() const { return volume_mean > 0 ? volume / volume_mean : 0.0; }
  bool buy() const { return regime == Regime::bull && breakout && volume > volume_mean; }
  bool sell() const { return breakdown || sma200_loss; }
};

bool above_channel(const Bars& b, std::size_t i) { return b.close[i] > highest(b.high, i - DONCHIAN, i - 1); }
bool below_channel(const Bars& b, std::size_t i) { return b.close[i] < lowest(b.low, i - DONCHIAN, i - 1); }

Regime regime_of(double close, double sma50, double sma200) {
  if (close > sma200 && sma50 > sma200) return Regime::bull;
  if (close < sma200 && sma50 < sma200) return Regime::bear;
  return Regime::mixed;
}

Reading read(const Bars& b) {
  const std::size_t t = b.last();
  const Series sma50 = ta::sma(b.close, 50);
  const Series sma200 = ta::sma(b.close, 200);
  const Series atr = ta::atr(b.high, b.low, b.close, 14);
  Reading r{.close = b.close[t],
            .sma50 = sma50[t],
            .sma200 = sma200[t],
            .atr = atr[t],
            .high_20 = highest(b.high, t - DONCHIAN, t - 1),
            .low_20 = lowest(b.low, t - DONCHIAN, t - 1),
            .volume = b.volume[t],
            .volume_mean = mean(b.volume, t - DONCHIAN, t - 1),
            .low_10 = lowest(b.low, t + 1 - STOP_LOW_SPAN, t)};
  r.regime = regime_of(r.close, r.sma50, r.sma200);
  r.breakout = above_channel(b, t) && !above_channel(b, t - 1);
  r.breakdown = below_channel(b, t) && !below_channel(b, t - 1);
  r.sma200_loss = crossed_below(b.close, sma200, t);
  return r;
}

const char* regime_text(Regime g) {
  switch (g) {
    case Regime::bull:
      return "多头趋势";
    case Regime::bear:
      return "空头趋势";
    case Regime::mixed:
      break;
  }
  return "震荡";
}

std::string regime_numbers(const Reading& r) {
  return fmt::format("收盘 {}、SMA50 {}、SMA200 {}", f3(r.close), f3(r.sma50), f3(r.sma200));
}

std::string quiet_reason(const Reading& r) {
  if (r.regime != Regime::bull)
    return fmt::format("{}，长期趋势不是多头（需收盘与 SMA50 均在 SMA200 之上），不做突破买入。", regime_numbers(r));
  if (!r.breakout)
    return fmt::format("长期多头（{}），但收盘未首次突破前 20 日最高 {}，无突破买点。", regime_numbers(r),
                       f3(r.high_20));
  return fmt::format("长期多头，收盘 {} 突破前 20 日最高 {}，但成交量 {} 未超过 20 日均量 {}，突破不确认。",
                     f3(r.close), f3(r.high_20), f3(r.volume), f3(r.volume_mean));
}

void decide(SignalEvent& e, const Reading& r) {
  if (r.sell()) {
    e.sell_signal = true;
    e.signal_tier = r.breakdown && r.sma200_loss ? "A" : "B";
    std::string why;
    if (r.breakdown) why = fmt::format("收盘 {} 首次跌破前 20 日最低 {}", f3(r.close), f3(r.low_20));
    if (r.sma200_loss)
      why += fmt::format("{}收盘 {} 跌破 SMA200 {}", why.empty() ? "" : "，", f3(r.close), f3(r.sma200));
    e.reason = fmt::format("{}，触发双核卖出（{} 级）。", why, e.signal_tier);
  } else if (r.buy()) {
    e.buy_signal = true;
    const double m = r.volume_multiple();
    e.signal_tier = m >= VOLUME_STRONG ? "A" : m >= VOLUME_CLEAR ? "B" : "C";
    e.reason = fmt::format(
        "长期多头（{}），收盘首次突破前 20 日最高 {}，成交量为 20 日均量的 {} 倍，触发双核突破买入（{} 级）。",
        regime_numbers(r), f3(r.high_20), f2(m), e.signal_tier);
  } else {
    e.reason = quiet_reason(r);
  }
}

}  // namespace

// US_DUAL_CORE - long-term regime plus 20-day breakout. Needs 220 complete bars (SMA200 plus the
// 20-bar channel).
//
// Series: SMA50, SMA200, ATR(14); the channel = highest high / lowest low of the 20 bars before t;
// the mean volume of the 20 bars before t.
// Regime: bull when close > SMA200 and SMA50 > SMA200; bear when close < SMA200 and SMA50 < SMA200;
// else mixed.
// Buy (bull regime only): the close tops the channel high for the first time (the previous close
// did not top its own channel) on volume above the 20-bar mean; tier A at >= 1.5 x the mean volume,
// B at >= 1.2 x, else C.
// Sell (overrides a buy): the close falls under the channel low for the first time, or the close
// crosses below SMA200. Tier A when both hold, else B.
// State: 多头趋势 / 空头趋势 / 震荡 by the regime.
// Reference for a buy or the bull regime: stop = max(close - 2 ATR, lowest low of the last 10 bars),
// take-profit = close + 2 x (close - stop).
SignalEvent us_dual_core_signal(const tarnel::BarTable& df) {
  Prepared p = prepare(df, SPEC);
  if (!p.bars) return p.event;
  const Reading r = read(*p.bars);
  SignalEvent e = std::move(p.event);
  decide(e, r);
  e.state = regime_text(r.regime);
  if (e.buy_signal || (!e.sell_signal && r.regime == Regime::bull)) {
    const auto ref = long_reference(r.close, std::max(r.close - STOP_ATR * r.atr, r.low_10));
    e.stop_loss = ref.stop_loss;
    e.take_profit = ref.take_profit;
  }
  e.details = Json{{"close", num3(r.close)},
                   {"SMA50", num3(r.sma50)},
                   {"SMA200", num3(r.sma200)},
                   {"ATR", num3(r.atr)},
                   {"high_20d_prior", num3(r.high_20)},
                   {"low_20d_prior", num3(r.low_20)},
                   {"volume", num3(r.volume)},
                   {"volume_mean_20d_prior", num3(r.volume_mean)},
                   {"low_10d", num3(r.low_10)}};
  return e;
}

}  // namespace zerith::engine
