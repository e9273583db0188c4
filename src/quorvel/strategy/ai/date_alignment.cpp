#include "quorvel/strategy/ai/date_alignment.h"

#include <fmt/format.h>

#include "quorvel/utils/logger.h"
#include "quorvel/utils/text.h"

namespace quorvel::strategy::ai {

std::string signed_percent(double change) { return fmt::format("{:+.2f}", change); }

AlignedDate align_analysis_date(const tarnel::BarTable& daily, double current_price, const std::string& requested) {
  AlignedDate out{requested};
  if (daily.empty()) return out;
  const std::string last_date = trim_text(daily.last_date());
  if (last_date != requested) {
    logger.info("[日期自动校准] 输入日期 " + requested + " 无交易数据，校准为最后交易日: " + last_date);
    out.a_time = last_date;
  }
  if (daily.rows() >= 2) {
    const double prev_close = daily.at("close", daily.rows() - 2);
    if (prev_close != 0.0) out.pct_change = signed_percent((current_price - prev_close) / prev_close * 100.0);
  }
  if (last_date == requested) {
    logger.info("[数据状态] 标的数据已对齐目标日期: " + out.a_time + ", 涨幅: " + out.pct_change + "%");
  } else {
    logger.info("[数据状态] 标的数据最后日期: " + last_date + " (目标: " + requested + "), 涨幅: " + out.pct_change +
                "%");
  }
  return out;
}

}  // namespace quorvel::strategy::ai
