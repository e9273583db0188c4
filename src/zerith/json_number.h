#pragma once
// Numbers of the pattern service's result maps.
#include <nlohmann/json.hpp>

namespace zerith {

// A number for a result map: rounded to `digits` decimals (half to even), null when not finite.
nlohmann::ordered_json num(double x, int digits = 3);

}  // namespace zerith
