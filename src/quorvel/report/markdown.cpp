#include "quorvel/report/markdown.h"

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/report/report_paths.h"

namespace quorvel::report {

namespace {

// Header values sit on one line; a new-line inside a name must not break the header.
std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

std::string_view kind_title(ReportKind kind) {
  switch (kind) {
    case ReportKind::analysis: return "分析报告";
    case ReportKind::summary: return "总结报告";
    case ReportKind::solvara: return "大盘 AI 简报";
    case ReportKind::score: return "计划评分";
  }
  return "报告";
}

}  // namespace

std::string render_markdown(const StoredReport& r) {
  std::string out;
  const std::string subject = r.kind == ReportKind::solvara
                                  ? r.market_type.value_or("")
                                  : (r.stock_name.empty() ? r.stock_code : r.stock_code + " " + r.stock_name);
  out += fmt::format("# {} · {} · {}\n\n", kind_title(r.kind), one_line(subject), one_line(r.analysis_time));
  if (r.kind != ReportKind::solvara) {
    out += fmt::format("- 代码: {}\n", one_line(r.stock_code));
    out += fmt::format("- 名称: {}\n", one_line(r.stock_name));
  }
  out += fmt::format("- 市场: {}\n", one_line(r.market_type.value_or("-")));
  out += fmt::format("- 分析时间: {}\n", one_line(r.analysis_time));
  if (r.current_price) out += fmt::format("- 当前价格: {}\n", *r.current_price);
  if (!r.data_note.empty()) out += fmt::format("- 数据说明: {}\n", one_line(r.data_note));
  if (r.review_required) out += "- 需复核: 交易计划未通过硬性规则核验（交易摘要的“规则核验”一节列出未通过的检查）\n";
  out += fmt::format("- 模型: {} / {}\n", one_line(r.llm_client_type.empty() ? "-" : r.llm_client_type),
                     one_line(r.llm_model.empty() ? "-" : r.llm_model));
  out += fmt::format("- 报告编号: {}\n", r.id);
  out += fmt::format("- 保存时间: {}\n\n---\n\n", r.created_at);
  out += r.content;
  if (!r.content.empty() && r.content.back() != '\n') out += '\n';
  return out;
}

std::filesystem::path markdown_relative_path(const StoredReport& r) {
  const std::string client = safe_file_component(r.llm_client_type, "unknown");
  std::string name;
  if (r.kind == ReportKind::solvara) {
    name = fmt::format("solvara_{}_{}.md", safe_file_component(r.market_type.value_or(""), "unknown"), client);
  } else {
    name = fmt::format("{}_{}_{}.md", safe_file_component(r.stock_code, "unknown"), kind_name(r.kind), client);
  }
  return std::filesystem::path(date_folder(r.analysis_time)) / name;
}


}  // namespace quorvel::report
