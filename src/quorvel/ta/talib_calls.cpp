#include "quorvel/ta/talib_calls.h"

#include <array>
#include <cmath>
#include <mutex>
#include <vector>

#include <fmt/format.h>
#include <ta-lib/ta_libc.h>

#include "contracts/errors.h"

namespace quorvel::ta::talib {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

void ensure_initialized() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (TA_Initialize() != TA_SUCCESS) throw quorvel::RuntimeError("技术指标库初始化失败");
  });
}

// Runs `call(outBeg, outNb, outputs...)` over the whole input and places the computed values at
// their rows; rows before the returned begin index stay NaN.
template <std::size_t N, class Call>
std::array<Series, N> run(const char* name, std::size_t n, Call call) {
  ensure_initialized();
  std::array<Series, N> out;
  for (auto& s : out) s.assign(n, NaN);
  if (n == 0) return out;
  std::array<Series, N> raw;
  for (auto& s : raw) s.assign(n, NaN);
  int beg = 0, nb = 0;
  TA_RetCode rc;
  if constexpr (N == 1) {
    rc = call(&beg, &nb, raw[0].data());
  } else {
    rc = call(&beg, &nb, raw[0].data(), raw[1].data(), raw[2].data());
  }
  if (rc != TA_SUCCESS) throw quorvel::RuntimeError(fmt::format("技术指标 {} 计算失败 (错误码 {})", name, int(rc)));
  if (beg < 0 || nb < 0 || std::size_t(beg) + std::size_t(nb) > n)
    throw quorvel::RuntimeError(fmt::format("技术指标 {} 返回的区间无效", name));
  for (std::size_t k = 0; k < N; ++k)
    std::copy(raw[k].begin(), raw[k].begin() + nb, out[k].begin() + beg);
  return out;
}

int last(const Series& x) { return int(x.size()) - 1; }

// The candle functions answer in integers; they are placed like the real-valued results.
template <class Call>
Series run_int(const char* name, std::size_t n, Call call) {
  std::vector<int> raw(n, 0);
  auto r = run<1>(name, n, [&](int* b, int* nb, double* o) {
    const TA_RetCode rc = call(b, nb, raw.data());
    for (int k = 0; k < *nb; ++k) o[k] = raw[std::size_t(k)];
    return rc;
  });
  return std::move(r[0]);
}

}  // namespace

Series ema(const Series& x, int period) {
  return run<1>("EMA", x.size(), [&](int* b, int* nb, double* o) {
    return TA_EMA(0, last(x), x.data(), period, b, nb, o);
  })[0];
}

Series sma(const Series& x, int period) {
  return run<1>("SMA", x.size(), [&](int* b, int* nb, double* o) {
    return TA_SMA(0, last(x), x.data(), period, b, nb, o);
  })[0];
}

Series rsi(const Series& x, int period) {
  return run<1>("RSI", x.size(), [&](int* b, int* nb, double* o) {
    return TA_RSI(0, last(x), x.data(), period, b, nb, o);
  })[0];
}

Series atr(const Series& high, const Series& low, const Series& close, int period) {
  return run<1>("ATR", close.size(), [&](int* b, int* nb, double* o) {
    return TA_ATR(0, last(close), high.data(), low.data(), close.data(), period, b, nb, o);
  })[0];
}

Macd macd(const Series& x, int fast, int slow, int signal) {
  auto r = run<3>("MACD", x.size(), [&](int* b, int* nb, double* m, double* s, double* h) {
    return TA_MACD(0, last(x), x.data(), fast, slow, signal, b, nb, m, s, h);
  });
  return {std::move(r[0]), std::move(r[1]), std::move(r[2])};
}

Bands bbands(const Series& x, int period, double deviations) {
  auto r = run<3>("BBANDS", x.size(), [&](int* b, int* nb, double* u, double* m, double* l) {
    return TA_BBANDS(0, last(x), x.data(), period, deviations, deviations, TA_MAType_SMA, b, nb, u, m, l);
  });
  return {std::move(r[0]), std::move(r[1]), std::move(r[2])};
}

Series adx(const Series& high, const Series& low, const Series& close, int period) {
  return run<1>("ADX", close.size(), [&](int* b, int* nb, double* o) {
    return TA_ADX(0, last(close), high.data(), low.data(), close.data(), period, b, nb, o);
  })[0];
}

Series kama(const Series& x, int period) {
  return run<1>("KAMA", x.size(), [&](int* b, int* nb, double* o) {
    return TA_KAMA(0, last(x), x.data(), period, b, nb, o);
  })[0];
}

Series obv(const Series& close, const Series& volume) {
  return run<1>("OBV", close.size(), [&](int* b, int* nb, double* o) {
    return TA_OBV(0, last(close), close.data(), volume.data(), b, nb, o);
  })[0];
}

Series mfi(const Series& high, const Series& low, const Series& close, const Series& volume, int period) {
  return run<1>("MFI", close.size(), [&](int* b, int* nb, double* o) {
    return TA_MFI(0, last(close), high.data(), low.data(), close.data(), volume.data(), period, b, nb, o);
  })[0];
}

Series sar(const Series& high, const Series& low, double acceleration, double maximum) {
  return run<1>("SAR", high.size(), [&](int* b, int* nb, double* o) {
    return TA_SAR(0, last(high), high.data(), low.data(), acceleration, maximum, b, nb, o);
  })[0];
}

Series cdl_engulfing(const Candles& c) {
  return run_int("CDLENGULFING", c.close.size(), [&](int* b, int* nb, int* o) {
    return TA_CDLENGULFING(0, last(c.close), c.open.data(), c.high.data(), c.low.data(), c.close.data(), b, nb, o);
  });
}

Series cdl_morning_star(const Candles& c) {
  return run_int("CDLMORNINGSTAR", c.close.size(), [&](int* b, int* nb, int* o) {
    return TA_CDLMORNINGSTAR(0, last(c.close), c.open.data(), c.high.data(), c.low.data(), c.close.data(), 0.3, b,
                             nb, o);
  });
}

Series cdl_evening_star(const Candles& c) {
  return run_int("CDLEVENINGSTAR", c.close.size(), [&](int* b, int* nb, int* o) {
    return TA_CDLEVENINGSTAR(0, last(c.close), c.open.data(), c.high.data(), c.low.data(), c.close.data(), 0.3, b,
                             nb, o);
  });
}

}  // namespace quorvel::ta::talib
