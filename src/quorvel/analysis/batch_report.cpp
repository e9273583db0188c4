#include "quorvel/analysis/batch_report.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/schemas/plan_checks.h"
#include "quorvel/analysis/analysis_steps.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/table_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::batch {

namespace {

// Characters of a failure reason shown in the table; the log line carries it in full.
constexpr std::size_t TABLE_REASON_CHARS = 48;

// Codes and names come from the pool file and the providers, reasons and decision texts from the
// LLM: all of it is shown as outside text, on one line.
std::string shown(std::string_view text) { return cell_text(text); }

// A text member of the decision; empty when there is none.
std::string text_value(const Outcome& o, const char* key) {
  if (!o.decision || !o.decision->contains(key) || !(*o.decision)[key].is_string()) return "";
  return (*o.decision)[key].get<std::string>();
}

std::string text_field(const Outcome& o, const char* key) {
  const std::string v = shown(text_value(o, key));
  return v.empty() ? "-" : v;
}

double real_field(const Outcome& o, const char* key) {
  if (!o.decision || !o.decision->contains(key) || !(*o.decision)[key].is_number()) return 0.0;
  return (*o.decision)[key].get<double>();
}

// A price or ratio of the decision; zero means "not given".
std::string amount(double v) { return v == 0.0 || !std::isfinite(v) ? "" : r3(v); }

std::string or_dash(const std::string& s) { return s.empty() ? "-" : s; }

// A price or ratio of the decision as a machine field: its shortest exact text, empty when not given.
std::string exact_amount(const Outcome& o, const char* key) {
  const double v = real_field(o, key);
  return v == 0.0 || !std::isfinite(v) ? "" : number_text(v);
}

const char* status_name(Status s) {
  switch (s) {
    case Status::pending: return "pending";
    case Status::running: return "running";
    case Status::analysed: return "analysed";
    case Status::stored: return "stored";
    case Status::failed: return "failed";
    case Status::interrupted: return "interrupted";
  }
  return "";
}

using Json = nlohmann::ordered_json;

Json outcome_json(const Outcome& o) {
  Json checks = Json::array();
  for (const auto& c : o.failed_checks) checks.push_back(outside_text(c));
  return {{"code", outside_text(o.code)},
          {"name", outside_text(o.name)},
          {"market_type", o.market_type ? Json(*o.market_type) : Json()},
          {"date", o.date},
          {"requested", o.requested},
          {"sessions_behind", o.sessions_behind},
          {"status", status_name(o.status)},
          {"verdict", o.verdict},
          {"review_required", o.review_required},
          {"failed_checks", std::move(checks)},
          {"reason", outside_text(o.reason)},
          {"seconds", std::isfinite(o.seconds) ? Json(o.seconds) : Json()},
          {"decision", o.decision ? outside_json(*o.decision) : Json()}};
}

Json exposure_json(const Exposure& e, double limit_pct) {
  Json positions = Json::array(), unreadable = Json::array();
  for (const auto& [code, pct] : e.positions) positions.push_back({{"code", outside_text(code)}, {"pct", pct}});
  for (const auto& code : e.unreadable) unreadable.push_back(outside_text(code));
  return {{"market", e.market},          {"date", e.date},
          {"total_pct", e.total_pct},    {"limit_pct", limit_pct},
          {"over_limit", e.total_pct > limit_pct + 1e-9},
          {"positions", std::move(positions)}, {"unreadable", std::move(unreadable)}};
}

Json usage_json(const agent::core::UsageTotals& u, double wall_seconds) {
  const auto count = [](long reported, long n) { return reported == 0 ? Json() : Json(n); };
  return {{"calls", u.calls},
          {"failed_calls", u.failed_calls},
          {"prompt_tokens", count(u.usage_reported, u.prompt_tokens)},
          {"completion_tokens", count(u.usage_reported, u.completion_tokens)},
          {"cache_hit_tokens", count(u.cache_reported, u.cache_hit_tokens)},
          {"wall_seconds", wall_seconds}};
}

std::string entry_range(const Outcome& o) {
  const std::string low = amount(real_field(o, "entry_price_low")), high = amount(real_field(o, "entry_price_high"));
  if (low.empty() || high.empty() || low == high) return or_dash(low.empty() ? high : low);
  return low + "~" + high;
}

std::string targets(const Outcome& o) {
  const std::string t1 = amount(real_field(o, "target_1")), t2 = amount(real_field(o, "target_2"));
  if (!t1.empty() && !t2.empty()) return t1 + " / " + t2;
  return or_dash(t1.empty() ? t2 : t1);
}

std::string status_text(const Outcome& o, std::size_t reason_chars) {
  switch (o.status) {
    case Status::pending: return "未开始";
    case Status::running: return "进行中";
    case Status::analysed: return o.review_required ? "新分析 需复核" : "新分析";
    case Status::stored: return o.review_required ? "已存储 需复核" : "已存储";
    case Status::interrupted: return "已中断";
    case Status::failed: {
      const std::string reason = shown(o.reason);
      const std::string cut(prefix_code_points(reason, reason_chars));
      return "失败: " + cut + (cut.size() < reason.size() ? "…" : "");
    }
  }
  return "";
}

// The day the row is about, and how far its data lags the requested day when it is stale.
std::string as_of(const Outcome& o) {
  if (o.date.empty()) return "-";
  if (o.sessions_behind <= STALE_SESSIONS) return o.date;
  return fmt::format("{} (滞后{}个交易日)", o.date, o.sessions_behind);
}

std::string seconds_text(double s) {
  if (!std::isfinite(s) || s < 0) return "--";
  if (s < 100) return fmt::format("{:.1f}s", s);
  return fmt::format("{:.0f}s", s);
}

}  // namespace

bool is_done(Status s) {
  return s == Status::analysed || s == Status::stored || s == Status::failed || s == Status::interrupted;
}

Counts count_outcomes(const std::vector<Outcome>& outcomes) {
  Counts c;
  c.total = outcomes.size();
  for (const Outcome& o : outcomes) {
    c.done += is_done(o.status);
    c.analysed += o.status == Status::analysed;
    c.stored += o.status == Status::stored;
    c.failed += o.status == Status::failed;
    c.interrupted += o.status == Status::interrupted;
    c.worked += (o.status == Status::analysed || o.status == Status::failed) && o.seconds > 0.0;
  }
  return c;
}

std::string progress_line(const Counts& c, double elapsed) {
  const double rest =
      c.worked == 0 ? -1.0 : double(c.total - c.done) * elapsed / double(c.worked);
  return fmt::format("分析 {}/{} | 失败 {} | 用时 {} | 预计剩余 {}", c.done, c.total, c.failed, seconds_text(elapsed),
                     c.done == c.total ? "0s" : seconds_text(rest));
}

std::string outcome_line(const Outcome& o, std::size_t position, std::size_t total) {
  std::string line = fmt::format("[{}/{}] {}", position, total, shown(o.code));
  if (!o.name.empty()) line += " " + shown(o.name);
  switch (o.status) {
    case Status::analysed:
    case Status::stored:
      line += fmt::format(" → {} | {} / {}", or_dash(shown(o.verdict)), text_field(o, "action"),
                          text_field(o, "direction"));
      if (o.review_required) line += " | 需复核: " + (o.failed_checks.empty() ? "" : shown(o.failed_checks.front()));
      if (o.status == Status::stored) return line + " | 已存储，跳过 (--force 重新分析)";
      return line + fmt::format(" | {:.2f}s", o.seconds);
    case Status::failed:
      return line + " 失败: " + shown(o.reason);
    default:
      return line + " " + status_text(o, TABLE_REASON_CHARS);
  }
}

void print_table(std::ostream& out, const std::vector<Outcome>& outcomes) {
  const std::vector<std::string> head{"代码", "名称", "数据日期", "结论", "操作", "方向", "入场区间", "止损", "目标", "盈亏比", "置信度", "状态"};
  std::vector<std::vector<std::string>> rows;
  for (const Outcome& o : outcomes)
    rows.push_back({shown(o.code), or_dash(shown(o.name)), as_of(o), or_dash(shown(o.verdict)), text_field(o, "action"),
                    text_field(o, "direction"), entry_range(o), or_dash(amount(real_field(o, "stop_loss"))),
                    targets(o), or_dash(amount(real_field(o, "rrr"))), text_field(o, "confidence"),
                    status_text(o, TABLE_REASON_CHARS)});
  print_aligned_table(out, head, rows);
}

std::vector<Exposure> exposures(const std::vector<Outcome>& outcomes) {
  std::vector<Exposure> out;
  for (const Outcome& o : outcomes) {
    if (!o.decision || (o.status != Status::analysed && o.status != Status::stored)) continue;
    const std::string action = text_field(o, "action");
    if (action != "强烈买入" && action != "建议买入" && action != "谨慎买入") continue;
    const auto pct = o.decision->find("position_pct");
    const std::optional<double> p = pct != o.decision->end() && pct->is_string()
                                        ? agent::schemas::position_percent(pct->get<std::string>())
                                        : std::nullopt;
    if (p && !(*p > 0)) continue;
    const std::string m = o.market_type.value_or("");
    const std::string market = m == "HK" ? "港股" : m == "US" ? "美股" : "A股/ETF";
    // The day the trader acts on: a stale instrument's plan still lands in today's account.
    const std::string day = o.requested.empty() ? o.date : o.requested;
    auto it = std::find_if(out.begin(), out.end(), [&](const Exposure& e) { return e.market == market && e.date == day; });
    if (it == out.end()) it = out.insert(out.end(), Exposure{market, day, 0, {}, {}});
    if (p) {
      it->total_pct += *p;
      it->positions.emplace_back(o.code, *p);
    } else {
      it->unreadable.push_back(o.code);
    }
  }
  return out;
}

std::string exposure_line(const Exposure& e, double limit_pct) {
  std::string line = fmt::format("仓位合计 {} {}：{:g}%", e.market, e.date, round_half_even(e.total_pct, 2));
  if (e.total_pct > limit_pct + 1e-9) line += fmt::format("，超过上限 {:g}%，需复核", limit_pct + 0.0);
  line += "：";
  for (std::size_t i = 0; i < e.positions.size(); ++i)
    line += fmt::format("{}{} {:g}%", i ? "、" : "", shown(e.positions[i].first), round_half_even(e.positions[i].second, 2));
  if (!e.unreadable.empty()) {
    line += "；仓位无法识别（需复核）：";
    for (std::size_t i = 0; i < e.unreadable.size(); ++i) line += (i ? "、" : "") + shown(e.unreadable[i]);
  }
  return line;
}

std::string count_line(const Counts& c) {
  return fmt::format("共 {} 只：新分析 {}，已存储 {}，失败 {}，未完成 {}", c.total, c.analysed, c.stored, c.failed,
                     c.total - c.analysed - c.stored - c.failed);
}

std::string cost_line(const agent::core::UsageTotals& u, double wall_seconds) {
  // "n/a" where no reply carried the count (the offline analyst, a provider without usage).
  const auto count = [](long reported, long n) { return reported == 0 ? std::string("n/a") : std::to_string(n); };
  return fmt::format("LLM 调用 {} 次（失败 {}）| 输入 tokens {}（缓存命中 {}）| 输出 tokens {} | 用时 {:.2f} 秒", u.calls,
                     u.failed_calls, count(u.usage_reported, u.prompt_tokens),
                     count(u.cache_reported, u.cache_hit_tokens), count(u.usage_reported, u.completion_tokens),
                     wall_seconds);
}

void print_csv(std::ostream& out, const std::vector<Outcome>& outcomes) {
  out << "code,name,market,date,requested,sessions_behind,verdict,action,direction,entry_low,entry_high,stop_loss,"
         "target_1,target_2,rrr,confidence,position_pct,review_required,status,reason\n";
  for (const Outcome& o : outcomes) {
    const std::vector<std::string> fields{
        o.code, o.name, o.market_type.value_or(""), o.date, o.requested, std::to_string(o.sessions_behind),
        o.verdict, text_value(o, "action"), text_value(o, "direction"), exact_amount(o, "entry_price_low"),
        exact_amount(o, "entry_price_high"), exact_amount(o, "stop_loss"), exact_amount(o, "target_1"),
        exact_amount(o, "target_2"), exact_amount(o, "rrr"), text_value(o, "confidence"),
        text_value(o, "position_pct"), o.review_required ? "true" : "false", status_name(o.status), o.reason};
    for (std::size_t i = 0; i < fields.size(); ++i) out << (i ? "," : "") << csv_field(fields[i]);
    out << "\n";
  }
}

nlohmann::ordered_json closing_json(const Closing& c) {
  Json results = Json::array(), limits = Json::array();
  for (const Outcome& o : c.outcomes) results.push_back(outcome_json(o));
  for (const Exposure& e : exposures(c.outcomes)) limits.push_back(exposure_json(e, c.max_exposure_pct));
  const Counts n = count_outcomes(c.outcomes);
  return {{"date", c.date},
          {"results", std::move(results)},
          {"exposures", std::move(limits)},
          {"counts",
           {{"total", n.total},
            {"analysed", n.analysed},
            {"stored", n.stored},
            {"failed", n.failed},
            {"unfinished", n.total - n.analysed - n.stored - n.failed}}},
          {"usage", usage_json(c.usage, c.wall_seconds)}};
}

void print_closing(std::ostream& out, std::ostream& notes, const std::string& format, const Closing& c) {
  const bool table = format == "table";
  if (table) {
    out << "\n";
    print_table(out, c.outcomes);
  } else if (format == "csv") {
    print_csv(out, c.outcomes);
  } else {
    out << closing_json(c).dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  }
  std::ostream& lines = table ? out : notes;
  for (const Exposure& e : exposures(c.outcomes)) lines << exposure_line(e, c.max_exposure_pct) << "\n";
  lines << count_line(count_outcomes(c.outcomes)) << "\n" << cost_line(c.usage, c.wall_seconds) << "\n";
  out.flush();
  lines.flush();
}

}  // namespace quorvel::batch
