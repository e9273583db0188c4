#include "quorvel/strategy/technical/date_str.h"

namespace quorvel::strategy::technical {

std::string _get_date_str(const tarnel::BarTable& df, long long idx) {
  if (idx < 0 || static_cast<unsigned long long>(idx) >= df.rows()) return "";
  return df.date_at(static_cast<std::size_t>(idx));
}

}  // namespace quorvel::strategy::technical
