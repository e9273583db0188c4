#include "tarnel/rows_json.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "quorvel/utils/number_text.h"

namespace tarnel {

namespace {

enum class Kind { Price, PriceDifference, Ratio, Whole };

struct PromptColumn {
  std::string name;
  Kind kind;
};

const std::vector<PromptColumn>& prompt_columns() {
  static const std::vector<PromptColumn> columns{{"open", Kind::Price},
                                                 {"high", Kind::Price},
                                                 {"low", Kind::Price},
                                                 {"close", Kind::Price},
                                                 {"volume", Kind::Whole},
                                                 {"Volume_Ratio", Kind::Ratio},
                                                 {"EMA_5", Kind::Price},
                                                 {"EMA_10", Kind::Price},
                                                 {"EMA_20", Kind::Price},
                                                 {"EMA_60", Kind::Price},
                                                 {"EMA_120", Kind::Price},
                                                 {"VWMA", Kind::Price},
                                                 {"upper_band", Kind::Price},
                                                 {"middle_band", Kind::Price},
                                                 {"lower_band", Kind::Price},
                                                 {"MACD", Kind::PriceDifference},
                                                 {"MACD_signal", Kind::PriceDifference},
                                                 {"MACD_hist", Kind::PriceDifference},
                                                 {"RSI", Kind::Ratio},
                                                 {"RSI_6", Kind::Ratio},
                                                 {"RSI_12", Kind::Ratio},
                                                 {"RSI_24", Kind::Ratio},
                                                 {"K", Kind::Ratio},
                                                 {"D", Kind::Ratio},
                                                 {"J", Kind::Ratio},
                                                 {"OBV", Kind::Whole},
                                                 {"MFI", Kind::Ratio},
                                                 {"ADX", Kind::Ratio},
                                                 {"ATR", Kind::PriceDifference},
                                                 {"SAR", Kind::Price}};
  return columns;
}

// Decimals of price differences: the price's own, or more (at most 4) so that the last ATR keeps
// three significant digits; a 3.50 stock with an ATR of 0.081 then shows MACD 0.0042, not 0.0.
int difference_decimals(const BarTable& rows, int price_dec) {
  double scale = rows.has_column("ATR") ? rows.last("ATR") : NAN;
  if (!(scale > 0) && rows.has_column("close")) scale = std::fabs(rows.last("close")) * 0.02;
  if (!(scale > 0) || !std::isfinite(scale)) return price_dec;
  return std::clamp(2 - int(std::floor(std::log10(scale))), price_dec, 4);
}

// A whole value is written without ".0" (1790 rather than 1790.0): the same JSON number, shorter.
nlohmann::ordered_json number(double rounded) {
  if (rounded == std::trunc(rounded) && std::fabs(rounded) < 1e15) return static_cast<long long>(rounded);
  return rounded;
}

struct Decimals {
  int price, difference;
};

nlohmann::ordered_json cell(double v, Kind kind, Decimals dec) {
  if (!std::isfinite(v)) return nullptr;
  switch (kind) {
    case Kind::Whole:
      return static_cast<long long>(std::llround(v));
    case Kind::Ratio:
      return number(quorvel::round_half_even(v, 2));
    case Kind::PriceDifference:
      return number(quorvel::round_half_even(v, dec.difference));
    case Kind::Price:
      break;
  }
  return number(quorvel::round_half_even(v, dec.price));
}

}  // namespace

const std::vector<std::string>& prompt_bar_columns() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out{"Date"};
    for (const auto& c : prompt_columns()) out.push_back(c.name);
    return out;
  }();
  return names;
}

std::string rows_to_json(const BarTable& rows) {
  if (rows.empty()) return "[]";
  std::vector<const PromptColumn*> present;
  for (const auto& c : prompt_columns())
    if (rows.has_column(c.name)) present.push_back(&c);
  const int price_dec = price_decimals(rows);
  const Decimals dec{price_dec, difference_decimals(rows, price_dec)};

  nlohmann::ordered_json header = nlohmann::ordered_json::array({"Date"});
  for (const auto* c : present) header.push_back(c->name);
  nlohmann::ordered_json body = nlohmann::ordered_json::array();
  for (std::size_t r = 0; r < rows.rows(); ++r) {
    nlohmann::ordered_json row = nlohmann::ordered_json::array({rows.date_at(r)});
    for (const auto* c : present) row.push_back(cell(rows.column(c->name)[r], c->kind, dec));
    body.push_back(std::move(row));
  }
  return nlohmann::ordered_json{{"columns", std::move(header)}, {"rows", std::move(body)}}.dump();
}

}  // namespace tarnel
