#include "quorvel/utils/price_decimals.h"

#include <algorithm>
#include <cmath>

#include "quorvel/utils/number_text.h"

namespace quorvel {

namespace {

// Sources that store prices as single-precision floats are off by up to one float ulp
// (2^-23 relative); anything closer than that to a d-decimal value is that value.
bool written_exactly(double v, int decimals) {
  const double tolerance = std::max(1e-9, std::fabs(v) * 1.2e-7);
  return std::fabs(v - round_half_even(v, decimals)) <= tolerance;
}

}  // namespace

int price_decimals(const tarnel::BarTable& rows) {
  for (int decimals = 2; decimals < 4; ++decimals) {
    bool exact = true;
    for (const char* name : {"open", "high", "low", "close"}) {
      if (!rows.has_column(name)) continue;
      for (double v : rows.column(name))
        if (std::isfinite(v) && !written_exactly(v, decimals)) exact = false;
    }
    if (exact) return decimals;
  }
  return 4;
}

}  // namespace quorvel
