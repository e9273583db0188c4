#include <string>

#include <fmt/format.h>

#include "quorvel/ta/talib_calls.h"
#include "zerith/engine_common.h"

namespace zerith::engine {

namespace {

namespace ta = quorvel::ta::talib;

constexpr EngineSpec SPEC{"ENGINE3 考夫曼自适应均线 (Kaufman KAMA)", 60};
constexpr std::size_t ER_SPAN = 10;
constexpr double ER_TREND = 0.3, ER_CLEAN = 0.45, ER_STRONG = 0.6;

// Everything the rules read at the last bar t.
struct Reading {
  double close, close_prev, close_back, kama, kama_prev, er, atr;
  bool cross_up = false, cross_down = false;

  bool kama_rising() const { return kama > kama_prev; }
  bool kama_falling() const { return kama < kama_prev; }
  // ER has no sign: the efficient move of the last 10 bars must point the signal's way.
  bool moved_up() const { return er >= ER_TREND && close > close_back; }
  bool moved_down() const { return er >= ER_TREND && close < close_back; }
  bool buy() const { return cross_up && kama_rising() && moved_up(); }
  bool sell() const { return cross_down && kama_falling() && moved_down(); }
};

Reading read(const Bars& b) {
  const std::size_t t = b.last();
  const Series kama = ta::kama(b.close, int(ER_SPAN));
  const Series atr = ta::atr(b.high, b.low, b.close, 14);
  Reading r{.close = b.close[t],
            .close_prev = b.close[t - 1],
            .close_back = b.close[t - ER_SPAN],
            .kama = kama[t],
            .kama_prev = kama[t - 1],
            .er = efficiency_ratio(b.close, t, ER_SPAN),
            .atr = atr[t]};
  r.cross_up = crossed_above(b.close, kama, t);
  r.cross_down = crossed_below(b.close, kama, t);
  return r;
}

std::string state_of(const Reading& r) {
  if (r.moved_up() && r.close > r.kama) return "多头趋势";
  if (r.moved_down() && r.close < r.kama) return "空头趋势";
  return "震荡";
}

std::string quiet_reason(const Reading& r) {
  const std::string where = fmt::format("收盘 {}（10 根前 {}），KAMA {}（前值 {}），ER {}", f3(r.close),
                                        f3(r.close_back), f3(r.kama), f3(r.kama_prev), f3(r.er));
  if (r.cross_up && !r.kama_rising()) return where + "：收盘上穿 KAMA 但 KAMA 未上行，不确认买入。";
  if (r.cross_up) return where + "：收盘上穿上行的 KAMA，但 10 根K线没有 ER ≥ 0.3 的上涨，不确认买入。";
  if (r.cross_down && !r.kama_falling()) return where + "：收盘下穿 KAMA 但 KAMA 未下行，不确认卖出。";
  if (r.cross_down) return where + "：收盘下穿下行的 KAMA，但 10 根K线没有 ER ≥ 0.3 的下跌，不确认卖出。";
  return where + fmt::format("：收盘未穿越 KAMA，{}。", r.er >= ER_TREND ? "沿趋势运行" : "走势效率低、以震荡为主");
}

void decide(SignalEvent& e, const Reading& r) {
  const std::string numbers =
      fmt::format("收盘 {}（前收 {}，10 根前 {}）", f3(r.close), f3(r.close_prev), f3(r.close_back));
  if (r.sell()) {
    e.sell_signal = true;
    e.signal_tier = r.er >= ER_CLEAN ? "A" : "B";
    e.reason = fmt::format("{} 下穿 KAMA {}，KAMA 由 {} 下行，ER {} ≥ 0.3，触发 KAMA 卖出（{} 级）。", numbers,
                           f3(r.kama), f3(r.kama_prev), f3(r.er), e.signal_tier);
  } else if (r.buy()) {
    e.buy_signal = true;
    e.signal_tier = r.er >= ER_STRONG ? "A" : r.er >= ER_CLEAN ? "B" : "C";
    e.reason = fmt::format("{} 上穿 KAMA {}，KAMA 由 {} 上行，ER {} ≥ 0.3，触发 KAMA 买入（{} 级）。", numbers,
                           f3(r.kama), f3(r.kama_prev), f3(r.er), e.signal_tier);
  } else {
    e.reason = quiet_reason(r);
  }
}

}  // namespace

// ENGINE3_KAUFMAN - Kaufman adaptive moving average. Needs 60 complete bars.
//
// Series: KAMA(10) of the close (fast 2, slow 30 bars), ATR(14), and the efficiency ratio
// ER = |close_t - close_t-10| / sum of |close_k - close_k-1| over the same 10 bars (0 when the price
// did not move): 1 is a straight line, near 0 is noise.
// An efficient rise is ER >= 0.3 with close_t > close_t-10, an efficient fall ER >= 0.3 with
// close_t < close_t-10 (ER itself has no sign). Below 0.3 KAMA runs flat through the noise and
// crossings in either direction carry no information.
// Buy: the close crosses above KAMA (close_t > KAMA_t, close_t-1 <= KAMA_t-1) while KAMA rises,
// after an efficient rise; tier A for ER >= 0.6, B for ER >= 0.45, else C.
// Sell (overrides a buy): the close crosses below KAMA while KAMA falls, after an efficient fall;
// tier A for ER >= 0.45, else B.
// State: 多头趋势 (efficient rise, close above KAMA), 空头趋势 (efficient fall, close below KAMA),
// else 震荡.
// Reference for a buy or 多头趋势: stop = KAMA - ATR,
// take-profit = close + 2 x (close - stop).
SignalEvent kaufman_signal(const tarnel::BarTable& df) {
  Prepared p = prepare(df, SPEC);
  if (!p.bars) return p.event;
  const Reading r = read(*p.bars);
  SignalEvent e = std::move(p.event);
  decide(e, r);
  e.state = state_of(r);
  if (e.buy_signal || e.state == "多头趋势") {
    const auto ref = long_reference(r.close, r.kama - r.atr);
    e.stop_loss = ref.stop_loss;
    e.take_profit = ref.take_profit;
  }
  e.details =
      Json{{"close", num3(r.close)}, {"close_prev", num3(r.close_prev)}, {"close_10_bars_ago", num3(r.close_back)},
           {"KAMA10", num3(r.kama)}, {"KAMA10_prev", num3(r.kama_prev)}, {"ER10", num3(r.er)},
           {"ATR", num3(r.atr)}};
  return e;
}

}  // namespace zerith::engine
