#include "quorvel/commands/quorvel-daily/daily_digest.h"

#include <fmt/format.h>

#include "quorvel/pages/markdown_html.h"
#include "quorvel/pages/page_layout.h"
#include "quorvel/utils/json_display.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel::daily {

namespace {

// Rows of each radar section the digest shows; the radar's own output has them all.
constexpr std::size_t RADAR_ROWS = 5;
constexpr const char* RADAR_SECTIONS[] = {"量化异动", "潜在机会", "风险提示"};

std::string text(const Json& j, const char* key) { return shown_member(j, key); }

// "sh.600519 贵州茅台"
std::string who(const Json& r) {
  const std::string name = r.value("name", "");
  return outside_text(r.value("code", "")) + (name.empty() ? "" : " " + outside_text(name));
}

const Json& results(const DayInputs& in) {
  static const Json none = Json::array();
  const auto it = in.batch.is_object() ? in.batch.find("results") : in.batch.end();
  return it != in.batch.end() && it->is_array() ? *it : none;
}

bool is_buy(const Json& r) { return r.value("verdict", "") == "BUY" && !r.value("review_required", false); }

void briefs(std::string& md, const DayInputs& in) {
  md += "## 大盘\n\n";
  for (const MarketDay& m : in.markets) {
    md += fmt::format("**{} 市场 {}**（筛选通过 {} 只）\n\n", m.market, m.day, m.screened_survivors);
    md += m.brief_head.empty() ? std::string("（大盘简报未取得）\n\n") : m.brief_head + "\n\n";
  }
  for (const std::string& s : in.skipped_markets) md += "- 未运行：" + s + "\n";
  if (!in.skipped_markets.empty()) md += "\n";
}

void buys(std::string& md, const DayInputs& in) {
  md += "## 买入计划\n\n";
  std::size_t n = 0;
  for (const Json& r : results(in)) {
    if (!is_buy(r)) continue;
    const Json d = r.value("decision", Json::object());
    md += fmt::format("- **{}**（{}）{} / {}：买入 {}–{}，止损 {}，目标 {} / {}，盈亏比 {}，仓位 {}，置信度 {}\n", who(r),
                      text(r, "date"), text(d, "action"), text(d, "direction"), text(d, "entry_price_low"),
                      text(d, "entry_price_high"), text(d, "stop_loss"), text(d, "target_1"), text(d, "target_2"),
                      text(d, "rrr"), text(d, "position_pct"), text(d, "confidence"));
    ++n;
  }
  md += n == 0 ? "今日没有可执行的买入计划。\n\n" : "\n";
}

void reviews(std::string& md, const DayInputs& in) {
  std::string rows;
  for (const Json& r : results(in)) {
    if (!r.value("review_required", false)) continue;
    std::string checks;
    for (const Json& c : r.value("failed_checks", Json::array())) checks += (checks.empty() ? "" : "、") + outside_text(c.get<std::string>());
    rows += fmt::format("- {}（{}）{}：{}\n", who(r), text(r, "date"), text(r, "verdict"), checks.empty() ? "-" : checks);
  }
  if (!rows.empty()) md += "## 需复核\n\n" + rows + "\n";
  std::string failed;
  for (const Json& r : results(in))
    if (r.value("status", "") == "failed") failed += fmt::format("- {}：{}\n", who(r), text(r, "reason"));
  if (!failed.empty()) md += "## 分析失败\n\n" + failed + "\n";
}

void radar(std::string& md, const DayInputs& in) {
  if (!in.radar.is_object()) return;
  md += fmt::format("## 机会雷达（{}）\n\n", in.radar.value("frequency", "") == "weekly" ? "周线" : "日线");
  for (const char* section : RADAR_SECTIONS) {
    const Json rows = in.radar.value(section, Json::array());
    md += fmt::format("**{}**（{} 只）", section, rows.size());
    if (rows.empty()) {
      md += "：无\n\n";
      continue;
    }
    md += "\n\n";
    for (std::size_t i = 0; i < rows.size() && i < RADAR_ROWS; ++i)
      md += fmt::format("- {} 评分 {}：{}\n", who(rows[i]), text(rows[i], "score"), text(rows[i], "reason"));
    if (rows.size() > RADAR_ROWS) md += fmt::format("- ……另有 {} 只\n", rows.size() - RADAR_ROWS);
    md += "\n";
  }
}

void scored(std::string& md, const DayInputs& in) {
  md += "## 当日有结果的计划\n\n";
  for (const ScoredPlan& p : in.scored) {
    const std::string result = p.forward ? fmt::format("观望 {:+.2f}%", p.return_pct)
                                         : fmt::format("{:+.2f}R（{}）", p.r_multiple, p.outcome);
    md += fmt::format("- {}（{} {}）：{}\n", outside_text(p.code), p.analysis_day, outside_text(p.action), result);
  }
  md += in.scored.empty() ? "无。\n\n" : "\n";
}

void cost(std::string& md, const DayInputs& in) {
  const Json usage = in.batch.is_object() ? in.batch.value("usage", Json::object()) : Json::object();
  const Json counts = in.batch.is_object() ? in.batch.value("counts", Json::object()) : Json::object();
  md += fmt::format("**费用（分析批次；批次外生成的大盘简报不计）**：分析 {} 只（新分析 {}，已存 {}，失败 {}），LLM 调用 {} 次，提示 {} / 输出 {} tokens\n\n",
                    text(counts, "total"), text(counts, "analysed"), text(counts, "stored"), text(counts, "failed"),
                    text(usage, "calls"), text(usage, "prompt_tokens"), text(usage, "completion_tokens"));
}

void steps(std::string& md, const DayInputs& in) {
  md += "## 步骤\n\n";
  for (const StepResult& s : in.steps) {
    const char* state = s.state == StepResult::State::ok ? "完成" : s.state == StepResult::State::skipped ? "跳过" : "失败";
    md += fmt::format("- {}：{}{}\n", s.name, state, s.note.empty() ? "" : "（" + s.note + "）");
  }
}

}  // namespace

std::string digest_title(const std::string& requested) { return "quorvel 每日简报 " + requested; }

std::string digest_markdown(const DayInputs& in) {
  std::string md = "# " + digest_title(in.requested) + "\n\n";
  briefs(md, in);
  buys(md, in);
  reviews(md, in);
  radar(md, in);
  scored(md, in);
  cost(md, in);
  steps(md, in);
  return md;
}

std::string digest_html(const std::string& title, const std::string& markdown, const std::string& root) {
  return pages::page_start(title, root) + "<main class=\"digest\">\n" + pages::markdown_html(markdown) + "</main>\n" +
         pages::page_end();
}

std::string failed_steps(const std::vector<StepResult>& steps) {
  std::string names;
  for (const StepResult& s : steps)
    if (s.state == StepResult::State::failed) names += (names.empty() ? "" : "、") + s.name;
  return names;
}

}  // namespace quorvel::daily
