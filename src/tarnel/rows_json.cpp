#include "tarnel/rows_json.h"

#include <cmath>
#include <set>

#include <nlohmann/json.hpp>

#include "quorvel/utils/number_text.h"

namespace tarnel {

std::string rows_to_json(const BarTable& rows) {
  static const std::set<std::string> whole{"volume", "amount", "Volume_MA"};
  const auto names = rows.column_names();
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (std::size_t r = 0; r < rows.rows(); ++r) {
    nlohmann::ordered_json row;
    row["Date"] = rows.date_at(r);
    for (const auto& name : names) {
      const double v = rows.column(name)[r];
      if (!std::isfinite(v)) {
        row[name] = nullptr;
      } else if (whole.count(name)) {
        row[name] = static_cast<long long>(std::llround(v));
      } else {
        row[name] = quorvel::round_half_even(v, 3);
      }
    }
    out.push_back(std::move(row));
  }
  return out.dump();
}

}  // namespace tarnel
