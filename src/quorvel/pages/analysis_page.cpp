#include "quorvel/pages/analysis_page.h"

#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/schemas/decision.h"
#include "quorvel/pages/html_text.h"
#include "quorvel/pages/markdown_html.h"
#include "quorvel/pages/page_layout.h"
#include "quorvel/pages/plan_outcome.h"
#include "quorvel/utils/json_values.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::pages {

namespace {

using Json = nlohmann::ordered_json;

std::string or_dash(const std::string& s) { return s.empty() ? "-" : s; }

// <div><dt>label</dt><dd data-field="field">value</dd></div>
std::string header_item(const char* label, const char* field, const std::string& value, const std::string& cls = "") {
  return fmt::format("<div><dt>{}</dt><dd data-field=\"{}\"{}>{}</dd></div>", label, field,
                     cls.empty() ? "" : " class=\"" + cls + "\"", html_escape(or_dash(value)));
}

std::string header(const AnalysisPage& page) {
  const report::StoredReport& a = page.report.analysis;
  const Json& d = page.report.decision;
  std::string out = "<header class=\"report " + verdict_class(page.verdict) + "\" id=\"report-header\">\n<h1>";
  out += "<span data-field=\"code\">" + html_escape(a.stock_code) + "</span> <span data-field=\"name\">" +
         html_escape(a.stock_name) + "</span>";
  if (a.review_required) out += " <span class=\"review\" data-field=\"review\">需复核</span>";
  out += "</h1>\n<dl>";
  out += header_item("数据日期", "as_of", a.analysis_date);
  out += header_item("结论", "verdict", page.verdict, "verdict");
  out += header_item("操作", "action", text_member(d, "action"));
  out += header_item("方向", "direction", text_member(d, "direction"));
  out += header_item("置信度", "confidence", text_member(d, "confidence"));
  out += header_item("市场", "market", a.market_type.value_or(""));
  out += header_item("模型", "model", a.llm_model.empty() ? a.llm_client_type : a.llm_model);
  out += "</dl>\n";
  if (!a.data_note.empty()) out += "<p class=\"note\">" + html_escape(a.data_note) + "</p>\n";
  if (d.is_null()) out += "<p class=\"note\" data-field=\"no-decision\">这份分析没有可用的决策，仅供阅读，不构成交易计划。</p>\n";
  return out + "</header>\n";
}

// The cell of one decision field: prices as stored, texts as written.
std::string field_value(const Json& v) {
  if (v.is_number()) return v.get<double>() == 0.0 ? "-" : r3(v.get<double>());
  if (v.is_string()) return or_dash(v.get<std::string>());
  return v.is_null() ? "-" : v.dump();
}

std::string decision_table(const Json& d) {
  if (!d.is_object()) return "<p class=\"muted\">无决策。</p>\n";
  std::string out = "<table class=\"decision\">\n";
  for (const auto& field : agent::schemas::STOCK_DECISION_FIELDS) {
    const std::string key(field.name);
    if (key == "stock_code" || key == "stock_name" || key == "analysis_time") continue;
    std::string label(field.description);
    if (const auto colon = label.find("："); colon != std::string::npos) label.resize(colon);
    out += fmt::format("<tr data-key=\"{}\"><th>{}</th><td{}>{}</td></tr>\n", key, html_escape(label),
                       field.is_real ? " class=\"num\"" : "", html_escape(field_value(member_or_null(d, key))));
  }
  return out + "</table>\n";
}

std::string checks_table(const Json& checks) {
  if (!checks.is_array()) return "<p class=\"muted\">这份计划没有经过规则核验。</p>\n";
  if (checks.empty()) return "<p class=\"muted\">不是买入计划，无需核验。</p>\n";
  std::string out = "<table class=\"plan-checks\">\n<tr><th>规则</th><th>级别</th><th>结果</th><th>说明</th></tr>\n";
  for (const Json& c : checks) {
    const bool passed = flag_member(c, "passed");
    const std::string level = text_member(c, "level");
    out += fmt::format("<tr class=\"check {} {}\" data-name=\"{}\"><td>{}</td><td>{}</td><td>{}</td><td>{}</td></tr>\n",
                       passed ? "passed" : "failed", level == "hard" ? "hard" : "soft",
                       html_escape(text_member(c, "name")), html_escape(text_member(c, "label")),
                       level == "hard" ? "硬性" : "提示", passed ? "通过" : "未通过",
                       html_escape(text_member(c, "detail")));
  }
  return out + "</table>\n";
}

std::string markdown_section(const char* cls, const char* title, const std::string& markdown, bool open) {
  if (markdown.empty()) return "";
  return fmt::format("<section class=\"{}\"><h2>{}</h2>\n<details{}><summary>展开 / 收起</summary>\n<div class=\"markdown\">\n{}</div></details></section>\n",
                     cls, title, open ? " open" : "", markdown_html(markdown));
}

}  // namespace

std::string analysis_page_html(const AnalysisPage& page) {
  const report::StoredReport& a = page.report.analysis;
  std::string out = page_start(a.stock_code + " " + a.stock_name + " " + a.analysis_date + " 分析", "../",
                               fmt::format("<meta name=\"{}\" content=\"{}\">\n", REPORT_ID_META, a.id));
  out += header(page);
  out += "<section class=\"chart\"><h2>日K线与交易计划</h2>\n" + price_chart_svg(page.chart) + "</section>\n";
  out += "<section class=\"decision\"><h2>决策</h2>\n" + decision_table(page.report.decision) + "</section>\n";
  out += "<section class=\"checks\"><h2>规则核验</h2>\n" + checks_table(page.report.plan_checks) + "</section>\n";
  if (page.report.decision.is_object())
    out += "<section class=\"outcome\"><h2>计划结果</h2>\n" +
           outcome_html(page.report.score_status, page.report.score) + "</section>\n";
  out += markdown_section("analysis", "分析报告", a.content, true);
  out += markdown_section("summary", "交易总结", page.report.summary, true);
  out += markdown_section("brief", "大盘 AI 简报", page.report.brief, false);
  out += "<footer>保存于 " + html_escape(a.created_at) + " · 报告编号 " + std::to_string(a.id);
  if (!page.markdown_file.empty())
    out += " · <a href=\"" + html_escape(page.markdown_file) + "\">Markdown 原文</a>";
  out += "</footer>\n";
  return out + page_end();
}

}  // namespace quorvel::pages
