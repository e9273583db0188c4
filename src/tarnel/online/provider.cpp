#include "tarnel/online/provider.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "contracts/market_index.h"
#include "contracts/dates.h"

namespace tarnel::online {

std::string_view adjustment_name(Adjustment a) {
  switch (a) {
    case Adjustment::none: return "none";
    case Adjustment::forward: return "qfq";
    case Adjustment::backward: return "hfq";
  }
  return "none";
}

std::string_view kind_name(InstrumentKind kind) {
  switch (kind) {
    case InstrumentKind::stock: return "stock";
    case InstrumentKind::etf: return "etf";
    case InstrumentKind::index: return "index";
  }
  return "stock";
}

InstrumentKind kind_of(const InstrumentCode& code) {
  const std::string& c = code.code;
  if (code.market == Market::ETF) return InstrumentKind::etf;
  if (code.market == Market::A) {
    if (c.rfind("sh.000", 0) == 0 || c.rfind("sz.399", 0) == 0) return InstrumentKind::index;
    if (c.rfind("sh.5", 0) == 0 || c.rfind("sz.15", 0) == 0 || c.rfind("sz.16", 0) == 0) return InstrumentKind::etf;
    return InstrumentKind::stock;
  }
  if (code.market == Market::HK) return std::isdigit(static_cast<unsigned char>(c[3])) ? InstrumentKind::stock
                                                                                        : InstrumentKind::index;
  for (const MarketIndex& index : {indices::SP500, indices::NASDAQ, indices::DOW_JONES})
    if (index.code == c) return InstrumentKind::index;
  return InstrumentKind::stock;
}

std::string clean_rows(std::vector<BarRow>& rows, Date first, Date last) {
  for (const auto& r : rows)
    if (std::string why = bar_values_problem(r); !why.empty()) return date_text(r.date) + ": " + why;
  std::erase_if(rows, [&](const BarRow& r) { return r.date < first || r.date > last; });
  std::stable_sort(rows.begin(), rows.end(), [](const BarRow& a, const BarRow& b) { return a.date < b.date; });
  const auto dup = std::adjacent_find(rows.begin(), rows.end(),
                                      [](const BarRow& a, const BarRow& b) { return a.date == b.date; });
  if (dup != rows.end()) return fmt::format("{} 出现两次", date_text(dup->date));
  return "";
}

VolumeUnitCheck check_volume_unit(const std::vector<BarRow>& rows, InstrumentKind kind, bool prices_as_traded) {
  VolumeUnitCheck out;
  if (kind == InstrumentKind::index || !prices_as_traded) return out;
  constexpr std::size_t LATEST = 60;
  std::vector<double> ratios;
  for (auto it = rows.rbegin(); it != rows.rend() && ratios.size() < LATEST; ++it)
    if (std::isfinite(it->amount) && it->amount > 0 && it->volume > 0 && it->close > 0)
      ratios.push_back(it->amount / (it->close * it->volume));
  if (ratios.empty()) return out;
  std::vector<double> sorted = ratios;
  const auto mid = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
  std::nth_element(sorted.begin(), mid, sorted.end());
  out.median_ratio = *mid;
  // Within a factor of 2: a day's trades spread around its close, never by such a factor.
  const auto near = [](double ratio, double expected) { return ratio > expected / 2 && ratio < expected * 2; };
  for (const double expected : {1.0, 100.0, 0.01}) {
    if (!near(out.median_ratio, expected)) continue;
    const auto agreeing = std::count_if(ratios.begin(), ratios.end(), [&](double r) { return near(r, expected); });
    if (double(agreeing) < 0.8 * double(ratios.size())) return out;
    out.verified = true;
    out.scale = expected;
    return out;
  }
  return out;
}

}  // namespace tarnel::online
