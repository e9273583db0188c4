#pragma once
// The trade and trend enumerations and the moving-average type.
#include <string>

namespace quorvel::indicators {

// Trade verdict for one instrument. Text form: "TradeEnum.BUY".
enum class TradeEnum { BUY = 0, SELL = 1, WATCH = 2 };
// Direction of a trend. Text form: "TrendEnum.UP".
enum class TrendEnum { UP = 0, DOWN = 1, EQUAL = 2 };
// Moving-average types with the same values as the technical-analysis library's; only EMA is
// accepted by the status computation. Text form: the bare integer value.
enum class MA_Type { SMA = 0, EMA = 1, WMA = 2, DEMA = 3, TEMA = 4, TRIMA = 5, KAMA = 6, MAMA = 7, T3 = 8 };

std::string to_string(TradeEnum v);
std::string to_string(TrendEnum v);
std::string to_string(MA_Type v);

}  // namespace quorvel::indicators
