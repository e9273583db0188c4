#include "tarnel/bar_columns.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tarnel {

namespace {

static_assert(std::endian::native == std::endian::little, "packed bar columns are copied as little-endian values");
static_assert(sizeof(Date::rep) == sizeof(std::int32_t), "a day number is packed in 32 bits");

constexpr std::size_t HEADER = 8;   // format, row count
constexpr std::size_t COLUMNS = 6;  // open, high, low, close, volume, amount
constexpr std::size_t ROW_BYTES = sizeof(std::int32_t) + COLUMNS * sizeof(double);

template <class T>
void put(std::byte* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

template <class T>
T get(const std::byte* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

std::vector<std::byte> pack_bar_columns(const BarTable& bars) {
  const std::size_t n = bars.rows();
  std::vector<std::byte> out(HEADER + n * ROW_BYTES);
  put(out.data(), BAR_COLUMNS_FORMAT);
  put(out.data() + 4, std::uint32_t(n));
  std::byte* at = out.data() + HEADER;
  for (const Date d : bars.index()) {
    put(at, std::int32_t{d.time_since_epoch().count()});
    at += sizeof(std::int32_t);
  }
  for (const auto& name : BarTable::base_columns()) {
    const std::vector<double>& values = bars.column(name);
    if (n) std::memcpy(at, values.data(), n * sizeof(double));
    at += n * sizeof(double);
  }
  return out;
}

std::optional<BarTable> unpack_bar_columns(std::span<const std::byte> packed, Date first, Date last) {
  if (packed.size() < HEADER || get<std::uint32_t>(packed.data()) != BAR_COLUMNS_FORMAT) return std::nullopt;
  const std::size_t n = get<std::uint32_t>(packed.data() + 4);
  if (packed.size() != HEADER + n * ROW_BYTES) return std::nullopt;
  const std::byte* days = packed.data() + HEADER;
  const auto day_at = [days](std::size_t i) { return get<std::int32_t>(days + i * sizeof(std::int32_t)); };
  // Index of the first day not before `day`.
  const auto lower_bound = [&](std::int64_t day) {
    std::size_t lo = 0, hi = n;
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (day_at(mid) < day)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  };
  const std::size_t begin = lower_bound(first.time_since_epoch().count());
  const std::size_t end = std::max(begin, lower_bound(std::int64_t{last.time_since_epoch().count()} + 1));
  const std::size_t k = end - begin;

  // Dates go in through rows without columns, then each column whole.
  BarTable t;
  t.reserve(k);
  static const std::vector<double> no_values;
  for (std::size_t i = begin; i < end; ++i) t.append_row(Date{date::days{day_at(i)}}, no_values);
  const std::byte* columns = days + n * sizeof(std::int32_t);
  for (std::size_t c = 0; c < COLUMNS; ++c) {
    std::vector<double> values(k);
    if (k) std::memcpy(values.data(), columns + (c * n + begin) * sizeof(double), k * sizeof(double));
    t.set_column(BarTable::base_columns()[c], std::move(values));
  }
  return t;
}

}  // namespace tarnel
