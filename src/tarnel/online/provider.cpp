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

VolumeUnitCheck check_volume_unit(std::vector<BarRow>& rows, InstrumentKind kind, Adjustment adjustment) {
  VolumeUnitCheck out;
  if (kind == InstrumentKind::index || adjustment == Adjustment::backward) return out;
  // The latest rows: a forward-adjusted series trades at its own prices there.
  constexpr std::size_t LATEST = 60;
  std::vector<double> ratios;
  for (auto it = rows.rbegin(); it != rows.rend() && ratios.size() < LATEST; ++it)
    if (std::isfinite(it->amount) && it->amount > 0 && it->volume > 0)
      ratios.push_back(it->amount / (it->close * it->volume));
  if (ratios.empty()) return out;
  const auto mid = ratios.begin() + std::ptrdiff_t(ratios.size() / 2);
  std::nth_element(ratios.begin(), mid, ratios.end());
  out.median_ratio = *mid;
  // Within a factor of 2 of the expected ratio: prices move inside the day and adjustments shift
  // the oldest of these rows a little, never by such a factor.
  const auto near = [&](double expected) { return out.median_ratio > expected / 2 && out.median_ratio < expected * 2; };
  if (near(1.0)) {
    out.verified = true;
  } else if (near(100.0) || near(0.01)) {
    out.verified = true;
    out.scale = near(100.0) ? 100.0 : 0.01;
    for (auto& r : rows) r.volume *= out.scale;
  }
  return out;
}

}  // namespace tarnel::online
