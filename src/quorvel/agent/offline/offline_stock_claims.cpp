#include "quorvel/agent/offline/offline_stock_claims.h"

#include <cmath>

#include <fmt/format.h>

#include "quorvel/utils/number_text.h"

namespace quorvel::agent::offline {

double Comparison::shown() const { return std::isfinite(value) ? round_half_even(value, decimals) : value; }

std::string Comparison::text() const {
  if (!std::isfinite(value)) return name + " 缺失";
  const double v = shown();
  const char* relation = v > bound ? ">" : v < bound ? "<" : "=";
  return fmt::format("{} {:.{}f} {} {}", name, v, decimals, relation, bound);
}

std::string exact_claim(const std::string& name, double value, double bound) {
  if (!std::isfinite(value)) return name + " 缺失";
  const char* relation = value > bound ? ">" : value < bound ? "<" : "=";
  int decimals = 2;
  for (; decimals < 8; ++decimals) {
    const double v = round_half_even(value, decimals);
    if ((v > bound ? ">" : v < bound ? "<" : "=") == std::string_view(relation)) break;
  }
  return fmt::format("{} {:.{}f} {} {}", name, round_half_even(value, decimals), decimals, relation, bound);
}

std::string alignment_claim(const StockReading& r) {
  std::string values =
      price_text(r.ema5, r.decimals) + "/" + price_text(r.ema10, r.decimals) + "/" + price_text(r.ema20, r.decimals);
  if (r.alignment_lines.ends_with("/60")) values += "/" + price_text(r.ema60, r.decimals);
  return r.alignment_lines + " = " + values + "，均线" + r.alignment;
}

std::string position_word(double a, double b, int decimals) {
  const double x = round_half_even(a, decimals), y = round_half_even(b, decimals);
  return x > y ? "高于" : x < y ? "低于" : "等于";
}

}  // namespace quorvel::agent::offline
