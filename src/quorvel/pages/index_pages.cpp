#include "quorvel/pages/index_pages.h"

#include <algorithm>
#include <cstdlib>

#include <fmt/format.h>

#include "quorvel/pages/html_text.h"
#include "quorvel/pages/page_layout.h"
#include "quorvel/pages/plan_outcome.h"
#include "quorvel/pages/price_chart.h"

namespace quorvel::pages {

namespace {

std::string or_dash(const std::string& s) { return s.empty() ? "-" : s; }

std::string check_cell(const report::AnalysisEntry& e) {
  if (e.review_required) return "<span class=\"review\">需复核</span>";
  // Only buys are checked: a wait has nothing to break.
  if (e.action.find("买入") == std::string::npos) return "-";
  return e.checked ? "通过" : "未核验";
}

std::string sign_class(int sign) { return sign > 0 ? " gain" : sign < 0 ? " loss" : ""; }

// Where the rows start and end: every line between the two is one row. The version changes with
// the row layout, so that an index of another layout is written anew instead of patched.
constexpr std::string_view ROWS_START = "<!-- rows v1 -->\n";
constexpr std::string_view ROWS_END = "<!-- /rows -->\n";

std::string row_key(const report::AnalysisEntry& e) { return e.code + "|" + e.date + "|" + e.llm_client_type; }

// The value of attribute `name` in a row line; empty when it has none.
std::string attribute(std::string_view line, std::string_view name) {
  const std::string key = " " + std::string(name) + "=\"";
  const auto at = line.find(key);
  if (at == std::string_view::npos) return "";
  const auto from = at + key.size();
  const auto to = line.find('"', from);
  return to == std::string_view::npos ? "" : std::string(line.substr(from, to - from));
}

// True when the row `line` sorts after the entry (an older day, or an earlier analysis of the day).
bool sorts_after(std::string_view line, const report::AnalysisEntry& e) {
  const std::string day = attribute(line, "data-day");
  if (day != e.date) return day < e.date;
  return std::atoll(attribute(line, "data-id").c_str()) < e.id;
}

}  // namespace

std::string index_row_html(const IndexRow& r) {
  const report::AnalysisEntry& e = r.entry;
  const int sign = outcome_sign(e.score_status, e.score);
  std::string line = fmt::format(
      "<tr class=\"analysis\" data-id=\"{}\" data-day=\"{}\" data-key=\"{}\"><td>{}</td><td><a href=\"{}\">{}</a></td><td>{}</td><td>{}</td>"
      "<td class=\"{}\">{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td class=\"outcome{}\">{}</td><td>{}</td></tr>",
      e.id, html_escape(e.date), html_escape(row_key(e)), html_escape(e.date), html_escape(r.page), html_escape(e.code), html_escape(or_dash(e.name)),
      html_escape(or_dash(e.market_type)), verdict_class(r.verdict), html_escape(or_dash(r.verdict)),
      html_escape(or_dash(e.action)), html_escape(or_dash(e.direction)), html_escape(or_dash(e.confidence)),
      check_cell(e), sign_class(sign), html_escape(e.action.empty() ? "-" : outcome_cell(e.score_status, e.score)),
      html_escape(or_dash(e.llm_model.empty() ? e.llm_client_type : e.llm_model)));
  // One row per line, whatever the outside text holds: the index is updated line by line.
  std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return line + "\n";
}

namespace {

constexpr const char* EXTRA_STYLE =
    "<style>td.gain { color: var(--buy); } td.loss { color: var(--sell); } table.index { width: 100%; }</style>\n";

std::string percent(const std::optional<double>& v) { return v ? fmt::format("{:.1f}%", *v * 100) : "-"; }
std::string r_text(const std::optional<double>& v) { return v ? fmt::format("{:+.2f}R", *v) : "-"; }

std::string headline(const ledger::LedgerReport& report) {
  if (report.groups.empty()) return "";
  const ledger::GroupStats& g = report.groups.front();
  return fmt::format(
      "<table class=\"headline\"><tr><th>已评分计划</th><th>成交的买入</th><th>未成交</th><th>胜率</th><th>平均 R</th>"
      "<th>中位 R</th><th>每个买入信号的期望</th><th>观望</th><th>观望后平均涨跌</th></tr>\n"
      "<tr><td class=\"num\">{}</td><td class=\"num\">{}</td><td class=\"num\">{}</td><td class=\"num\">{}</td>"
      "<td class=\"num\">{}</td><td class=\"num\">{}</td><td class=\"num\">{}</td><td class=\"num\">{}</td>"
      "<td class=\"num\">{}</td></tr></table>\n",
      g.plans, g.filled, g.not_filled, percent(g.hit_rate), r_text(g.mean_r), r_text(g.median_r),
      r_text(g.expectancy_r), g.waits, g.wait_return_pct ? fmt::format("{:+.2f}%", *g.wait_return_pct) : "-");
}

std::string calibration(const ledger::LedgerReport& report) {
  std::string out =
      "<table class=\"calibration\"><tr><th>置信度</th><th>成交的买入</th><th>盈利</th><th>实际胜率</th>"
      "<th>95% 置信区间</th></tr>\n";
  for (const auto& c : report.calibration)
    out += fmt::format("<tr data-confidence=\"{}\"><td>{}</td><td class=\"num\">{}</td><td class=\"num\">{}</td>"
                       "<td class=\"num\">{}</td><td class=\"num\">{}</td></tr>\n",
                       html_escape(c.confidence), html_escape(c.confidence), c.filled, c.winners, percent(c.hit_rate),
                       c.interval ? percent(c.interval->low) + " – " + percent(c.interval->high) : "-");
  return out + "</table>\n";
}

// The filled buys in the order they closed (exit day, then analysis day), R added up.
std::vector<CumulativePoint> cumulative_r(std::vector<ledger::LedgerEntry> entries) {
  std::erase_if(entries, [](const ledger::LedgerEntry& e) {
    return e.score.status != "scored" || e.score.kind != "buy" || e.score.outcome == "not_filled";
  });
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return std::tie(a.score.exit_date, a.date) < std::tie(b.score.exit_date, b.date);
  });
  std::vector<CumulativePoint> out;
  double sum = 0;
  for (const auto& e : entries) out.push_back({e.score.exit_date, sum += e.score.r_multiple});
  return out;
}

}  // namespace

namespace {

// The index around its rows: what comes before the first row and after the last.
std::pair<std::string, std::string> index_frame(std::size_t count, const std::string& generated_at) {
  std::string head = page_start("全部分析", "");
  head += EXTRA_STYLE;
  head += fmt::format("<h1>全部分析</h1>\n<p class=\"muted\">共 <span data-count>{}</span> 份分析（每个标的、交易日与模型取最新一份），最新的交易日在前。</p>\n",
                      count);
  if (count == 0)
    head += "<p>还没有分析。运行 <code>pelion -s sh.600000 -t 2023-02-10</code> 或 <code>pelion-batch --pool 文件</code> 后，这里会列出每一份分析。</p>\n";
  head += "<table class=\"index\">\n<tr><th>数据日期</th><th>代码</th><th>名称</th><th>市场</th><th>结论</th><th>操作</th>"
          "<th>方向</th><th>置信度</th><th>核验</th><th>计划结果</th><th>模型</th></tr>\n";
  head += ROWS_START;
  std::string tail(ROWS_END);
  tail += "</table>\n<footer>生成于 " + html_escape(generated_at) + "</footer>\n";
  return {std::move(head), tail + page_end()};
}

}  // namespace

std::string index_page_html(std::string_view rows, std::size_t count, const std::string& generated_at) {
  auto [head, tail] = index_frame(count, generated_at);
  head.reserve(head.size() + rows.size() + tail.size());
  head += rows;
  return head += tail;
}

std::optional<std::string> index_with_row(const std::string& html, const IndexRow& row, const std::string& generated_at) {
  const auto start = html.find(ROWS_START);
  const auto end = start == std::string::npos ? start : html.find(ROWS_END, start);
  if (end == std::string::npos) return std::nullopt;
  const std::string_view rows(html.data() + start + ROWS_START.size(), end - start - ROWS_START.size());
  if (!rows.empty() && rows.back() != '\n') return std::nullopt;
  // The row this one replaces, if any.
  std::string_view replaced;
  if (const auto at = rows.find(" data-key=\"" + html_escape(row_key(row.entry)) + "\""); at != std::string_view::npos) {
    const auto line_end = rows.find('\n', at) + 1;
    const auto line_start = rows.rfind('\n', at);
    replaced = rows.substr(line_start == std::string_view::npos ? 0 : line_start + 1);
    replaced = replaced.substr(0, rows.data() + line_end - replaced.data());
  }
  // The first row that sorts after the new one; the index is newest first, so usually the first.
  std::size_t insert_at = rows.size();
  for (std::size_t at = 0; at < rows.size(); at = rows.find('\n', at) + 1) {
    if (rows.data() + at != replaced.data() && sorts_after(rows.substr(at, rows.find('\n', at) - at), row.entry)) {
      insert_at = at;
      break;
    }
  }
  // The rows before the insertion point, the new row, the rest; the replaced row left out.
  const std::string line = index_row_html(row);
  const std::size_t count = std::size_t(std::count(rows.begin(), rows.end(), '\n')) + 1 - (replaced.empty() ? 0 : 1);
  // Named, not a structured binding: clang 14 (the fuzz build) cannot capture one in a lambda.
  auto frame = index_frame(count, generated_at);
  std::string& out = frame.first;
  const std::string& tail = frame.second;
  out.reserve(out.size() + rows.size() + line.size() + tail.size());
  auto append = [&](std::size_t from, std::size_t to) {
    const std::size_t cut = std::size_t(replaced.data() - rows.data());
    if (replaced.empty() || cut >= to || cut < from) return void(out.append(rows.data() + from, to - from));
    out.append(rows.data() + from, cut - from);
    out.append(rows.data() + cut + replaced.size(), to - cut - replaced.size());
  };
  append(0, insert_at);
  out += line;
  append(insert_at, rows.size());
  return out += tail;
}

std::string ledger_page_html(const std::vector<ledger::LedgerEntry>& entries, const std::string& generated_at) {
  const ledger::LedgerReport report = ledger::build_ledger_report(entries);
  std::string out = page_start("计划账本", "");
  out += "<h1>计划账本</h1>\n";
  if (entries.empty()) {
    out += "<p>还没有已评分的计划。行情覆盖持有期后运行 <code>quorvel-ledger update</code>。</p>\n";
  } else {
    out += headline(report);
    out += "<h2>置信度校准</h2>\n<p class=\"muted\">模型给出的置信度与实际胜率（Wilson 95% 区间）。</p>\n" + calibration(report);
  }
  out += "<h2>累计 R</h2>\n<div class=\"chart\">" + cumulative_r_svg(cumulative_r(entries)) + "</div>\n";
  out += "<footer>生成于 " + html_escape(generated_at) + " · 详细统计见 <code>quorvel-ledger report</code></footer>\n";
  return out + page_end();
}

}  // namespace quorvel::pages
