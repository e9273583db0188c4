#include "quorvel/pages/plan_outcome.h"

#include <fmt/format.h>

#include "quorvel/pages/html_text.h"
#include "quorvel/utils/json_values.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::pages {

namespace {

using Json = nlohmann::ordered_json;

std::string outcome_word(const std::string& outcome) {
  if (outcome == "stop") return "止损";
  if (outcome == "target_1") return "目标1";
  if (outcome == "horizon") return "持有到期";
  if (outcome == "not_filled") return "未成交";
  return outcome;
}

std::string signed_number(double v, const char* suffix) { return fmt::format("{:+.2f}{}", v, suffix); }

std::string row(const char* label, const std::string& value) {
  return "<tr><th>" + std::string(label) + "</th><td>" + html_escape(value) + "</td></tr>";
}

}  // namespace

std::string outcome_cell(const std::string& status, const Json& score) {
  if (status == "not_scorable") return "无法评分";
  if (status != "scored") return "待评分";
  const std::string kind = text_member(score, "kind");
  if (kind == "forward") return "观望 " + signed_number(number_member(score, "return_pct", 0), "%");
  const std::string outcome = text_member(score, "outcome");
  if (outcome == "not_filled") return "未成交";
  return signed_number(number_member(score, "r_multiple", 0), "R") + " " + outcome_word(outcome);
}

int outcome_sign(const std::string& status, const Json& score) {
  if (status != "scored") return 0;
  const double v = text_member(score, "kind") == "forward" ? number_member(score, "return_pct", 0)
                                                          : number_member(score, "r_multiple", 0);
  if (text_member(score, "outcome") == "not_filled") return 0;
  return v > 0 ? 1 : v < 0 ? -1 : 0;
}

std::string outcome_html(const std::string& status, const Json& score) {
  if (status.empty())
    return "<p class=\"muted\">尚未评分：持有期的行情齐全后，<code>quorvel-ledger update</code> 会记录这份计划的结果。</p>";
  if (status == "not_scorable")
    return "<p>无法评分：" + html_escape(text_member(score, "reason")) + "</p>";
  std::string out = "<p><strong>" + html_escape(outcome_cell(status, score)) + "</strong></p><table class=\"outcome\">";
  const std::string kind = text_member(score, "kind");
  const int horizon = int(number_member(score, "horizon", 0));
  if (kind == "forward") {
    out += row("观察期", fmt::format("{} 个交易日", horizon));
    out += row("期末日期", text_member(score, "exit_date"));
    out += row("区间收益", signed_number(number_member(score, "return_pct", 0), "%"));
    return out + "</table>";
  }
  out += row("结果", outcome_word(text_member(score, "outcome")));
  if (text_member(score, "outcome") != "not_filled") {
    out += row("成交", text_member(score, "fill_date") + " @ " + r3(number_member(score, "fill_price", 0)));
    out += row("离场", text_member(score, "exit_date") + " @ " + r3(number_member(score, "exit_price", 0)));
    out += row("收益", signed_number(number_member(score, "return_pct", 0), "%"));
    out += row("R 倍数", signed_number(number_member(score, "r_multiple", 0), "R"));
    out += row("最大不利 / 有利", signed_number(number_member(score, "mae_r", 0), "R") + " / " +
                                    signed_number(number_member(score, "mfe_r", 0), "R"));
    out += row("持有交易日", fmt::format("{}", int(number_member(score, "sessions_held", 0))));
    out += row("到达目标2", flag_member(score, "target_2_reached") ? "是" : "否");
  }
  if (const Json& b = member_or_null(score, "baseline_r"); b.is_number())
    out += row("次日开盘买入对照", signed_number(b.get<double>(), "R"));
  out += row("持有期", fmt::format("{} 个交易日{}", horizon, flag_member(score, "horizon_assumed") ? "（默认）" : ""));
  return out + "</table>";
}

}  // namespace quorvel::pages
