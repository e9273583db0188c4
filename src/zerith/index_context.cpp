#include "zerith/index_context.h"

#include "quorvel/ta/talib_calls.h"

namespace zerith {

IndexContext index_context_from_bars(const std::string& index, const std::string& name, const tarnel::BarTable& bars) {
  IndexContext ctx;
  ctx.index = index;
  ctx.name = name;
  if (bars.empty()) {
    ctx.reason = "指数 " + name + " 在该日期前没有K线";
    return ctx;
  }
  ctx.as_of = bars.last_date();
  const auto& close = bars.column("close");
  const std::size_t n = close.size();
  if (n >= 21 && close[n - 21] > 0.0) ctx.return_20d = (close[n - 1] / close[n - 21] - 1.0) * 100.0;
  const auto atr = quorvel::ta::talib::atr(bars.column("high"), bars.column("low"), close, 14);
  double sum = 0.0;
  int count = 0;
  for (std::size_t i = n >= 60 ? n - 60 : 0; i < n; ++i)
    if (std::isfinite(atr[i])) {
      sum += atr[i];
      ++count;
    }
  if (count == 60 && std::isfinite(atr[n - 1])) {
    ctx.atr = atr[n - 1];
    ctx.atr_mean_60 = sum / count;
    const double ratio = ctx.atr / ctx.atr_mean_60;
    ctx.vol_regime = ratio > HIGH_VOL_RATIO ? "high_vol" : ratio < LOW_VOL_RATIO ? "low_vol" : "normal_vol";
  }
  if (ctx.vol_regime.empty() || !std::isfinite(ctx.return_20d))
    ctx.reason = "指数 " + name + " 截至 " + ctx.as_of + " 仅有 " + std::to_string(n) + " 根K线，不足 74 根";
  return ctx;
}

}  // namespace zerith
