#pragma once
// Series arithmetic the technical library has no call for. Prices in the quote currency, volume in
// shares; NaN marks a value that is not defined. Pure and thread-safe.
#include <cstddef>
#include <vector>

namespace quorvel::ta {

using Series = std::vector<double>;

// Volume-weighted moving average: sum(close x volume) / sum(volume) over `period` bars; NaN in the
// warm-up rows and where the window traded nothing.
Series vwma(const Series& close, const Series& volume, std::size_t period);

// Volume of each bar over the mean volume of the `lookback` bars before it (the A-share 量比);
// NaN in the warm-up rows and where those bars traded nothing.
Series volume_ratio(const Series& volume, std::size_t lookback);

}  // namespace quorvel::ta
