#include "zerith/json_number.h"

#include <cmath>

#include "quorvel/utils/number_text.h"

namespace zerith {

nlohmann::ordered_json num(double x, int digits) {
  if (!std::isfinite(x)) return nullptr;
  return quorvel::round_half_even(x, digits);
}

}  // namespace zerith
