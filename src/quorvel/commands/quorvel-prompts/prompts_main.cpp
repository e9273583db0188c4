// quorvel-prompts: prints the prompt templates, reports their sizes, and renders a template from a
// JSON file of values, so that people can read, diff and try the prompts.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "contracts/errors.h"
#include "quorvel/agent/prompts/vellumor/render.h"
#include "quorvel/agent/prompts/vellumor/templates.h"
#include "quorvel/utils/command_main.h"

namespace vellumor = quorvel::agent::prompts::vellumor;

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;

// Number of Unicode code points of a UTF-8 text (continuation bytes are not counted).
std::size_t code_points(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

void print_sizes() {
  struct Row {
    const char* name;
    const std::string* text;
  };
  const std::vector<Row> rows{
      {"A_STOCK_PROMPT", &vellumor::A_STOCK_PROMPT()},
      {"A_STOCK_SYSTEM_TEMPLATE", &vellumor::A_STOCK_SYSTEM_TEMPLATE()},
      {"A_STOCK_USER_TEMPLATE", &vellumor::A_STOCK_USER_TEMPLATE()},
      {"US_STOCK_PROMPT", &vellumor::US_STOCK_PROMPT()},
      {"US_STOCK_SYSTEM_TEMPLATE", &vellumor::US_STOCK_SYSTEM_TEMPLATE()},
      {"US_STOCK_USER_TEMPLATE", &vellumor::US_STOCK_USER_TEMPLATE()},
      {"HK_STOCK_PROMPT", &vellumor::HK_STOCK_PROMPT()},
      {"HK_STOCK_SYSTEM_TEMPLATE", &vellumor::HK_STOCK_SYSTEM_TEMPLATE()},
      {"HK_STOCK_USER_TEMPLATE", &vellumor::HK_STOCK_USER_TEMPLATE()},
      {"ETF_STOCK_PROMPT", &vellumor::ETF_STOCK_PROMPT()},
      {"ETF_STOCK_SYSTEM_TEMPLATE", &vellumor::ETF_STOCK_SYSTEM_TEMPLATE()},
      {"ETF_STOCK_USER_TEMPLATE", &vellumor::ETF_STOCK_USER_TEMPLATE()},
      {"SUMMARY_PROMPT", &vellumor::SUMMARY_PROMPT()},
      {"SUMMARY_SYSTEM_TEMPLATE", &vellumor::SUMMARY_SYSTEM_TEMPLATE()},
      {"SUMMARY_USER_TEMPLATE", &vellumor::SUMMARY_USER_TEMPLATE()},
  };
  // Column titles are padded by hand: printf pads by bytes, not by display width.
  std::printf("模板                           字符数   字节数\n");
  for (const Row& row : rows) {
    std::printf("%-28s %8zu %8zu\n", row.name, code_points(*row.text), row.text->size());
  }
}

std::optional<std::string> read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Renders `tmpl` from the JSON object in `path`; prints the result or a message naming what to fix.
int render_from_file(const std::string& tmpl, const std::string& path) {
  const auto text = read_text(path);
  if (!text) {
    std::cerr << "无法读取取值文件 " << path << "：请确认文件存在且可读。\n";
    return kFailure;
  }
  nlohmann::ordered_json values;
  try {
    values = nlohmann::ordered_json::parse(*text);
  } catch (const nlohmann::json::parse_error& e) {
    std::cerr << "取值文件 " << path << " 不是合法的 JSON：" << e.what() << "\n";
    return kFailure;
  }
  if (!values.is_object()) {
    std::cerr << "取值文件 " << path << " 须为 JSON 对象，键为占位符名（如 \"stock_code\"）。\n";
    return kFailure;
  }
  std::vector<std::string> missing;
  for (const std::string& name : vellumor::placeholders(tmpl)) {
    if (!values.contains(name)) missing.push_back(name);
  }
  if (!missing.empty()) {
    std::cerr << "取值文件 " << path << " 缺少以下占位符的取值：";
    for (std::size_t i = 0; i < missing.size(); ++i) std::cerr << (i ? ", " : "") << missing[i];
    std::cerr << "\n";
    return kFailure;
  }
  std::cout << vellumor::render(tmpl, values);
  return 0;
}

std::string check_market(const std::string& text) {
  return vellumor::parse_market(text) ? "" : "市场须为 A、US、HK 或 ETF，收到 '" + text + "'";
}

std::string check_form(const std::string& text) {
  return vellumor::parse_form(text) ? "" : "形式须为 full、system 或 user，收到 '" + text + "'";
}

int usage_error(const CLI::App& app, const std::string& message) {
  std::cerr << app.help() << "\n错误：" << message << "\n";
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-prompts", [&]() -> int {
    CLI::App app{
        "打印、统计与渲染个股分析及交易总结的提示词模板。\n"
        "示例：\n"
        "  quorvel-prompts --market A                       打印 A 股完整提示词\n"
        "  quorvel-prompts --market HK --form system        打印港股 system 模板（每只股票相同）\n"
        "  quorvel-prompts --market US --render values.json 用 JSON 取值渲染美股 user 模板\n"
        "  quorvel-prompts --summary user --render r.json   渲染总结 user 模板（键 analysis_report）\n"
        "  quorvel-prompts --sizes                          列出全部 15 个模板的字符数",
        "quorvel-prompts"};
    std::string market;
    std::string form;
    std::string summary;
    std::string render_path;
    bool sizes = false;
    auto* market_opt = app.add_option("-m,--market", market, "市场：A | US | HK | ETF")
                           ->check(check_market);
    auto* form_opt = app.add_option("-f,--form", form,
                                    "模板形式：full（完整）| system | user；默认 full，配合 --render 时默认 user")
                         ->check(check_form);
    auto* summary_opt = app.add_option("-s,--summary", summary, "交易总结模板的形式：full | system | user")
                            ->check(check_form);
    auto* render_opt = app.add_option("-r,--render", render_path,
                                      "JSON 取值文件（对象，键为占位符名）；用它渲染所选模板并打印结果");
    auto* sizes_opt = app.add_flag("--sizes", sizes, "列出全部模板的字符数与字节数");
    form_opt->needs(market_opt);
    market_opt->excludes(summary_opt);
    sizes_opt->excludes(market_opt)->excludes(summary_opt)->excludes(render_opt);

    try {
      app.parse(argc, argv);
    } catch (const CLI::Success& e) {
      return app.exit(e);
    } catch (const CLI::ParseError& e) {
      return usage_error(app, e.what());
    }

    if (sizes) {
      print_sizes();
      return 0;
    }
    if (market.empty() && summary.empty()) {
      return usage_error(app, "请用 --market 选择市场，或用 --summary 选择交易总结模板（或用 --sizes）。");
    }

    try {
      const std::string* tmpl = nullptr;
      if (!summary.empty()) {
        tmpl = &vellumor::summary_template(*vellumor::parse_form(summary));
      } else {
        const vellumor::Form chosen = form.empty()
                                          ? (render_path.empty() ? vellumor::Form::Full : vellumor::Form::User)
                                          : *vellumor::parse_form(form);
        tmpl = &vellumor::stock_template(*vellumor::parse_market(market), chosen);
      }
      if (!render_path.empty()) return render_from_file(*tmpl, render_path);
      std::cout << *tmpl;
      return 0;
    } catch (const quorvel::Error& e) {
      std::cerr << "错误：" << e.what() << "\n";
      return kFailure;
    }
  });
}
