#pragma once
// One instrument's bars as packed columns: the form in which the bar store keeps a copy of each
// series beside its row-per-bar table, so that a whole series is read as one value and sliced in
// memory. Layout, little-endian:
//   u32 format (BAR_COLUMNS_FORMAT), u32 row count n,
//   i32 day numbers[n] (ascending; the width of Date's own count),
//   f64 open[n], high[n], low[n], close[n], volume[n], amount[n].
// A missing value is NaN, exactly as the row read gives it.
//
// Pure functions; thread-safe.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "contracts/bar_table.h"

namespace tarnel {

// Changes whenever the layout does: bytes of another format are not read (the store packs again).
inline constexpr std::uint32_t BAR_COLUMNS_FORMAT = 1;

// The base columns of `bars` (dates ascending), packed.
std::vector<std::byte> pack_bar_columns(const BarTable& bars);

// The rows of a packed series with dates in [first, last], as a table with the base columns; nullopt
// when the bytes are not a series of this format (another version's layout, or damaged).
std::optional<BarTable> unpack_bar_columns(std::span<const std::byte> packed, Date first, Date last);

}  // namespace tarnel
