// quorvel-decision: prints the validated decision map found in one LLM reply.
//
// Exit status: 0 decision printed; 1 no acceptable decision in the reply (the reason is logged on
// standard error); 2 usage error, unreadable input, or (with --record) a map the record refuses.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>
#include <spdlog/spdlog.h>

#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/logger.h"

namespace {

namespace schemas = quorvel::agent::schemas;

constexpr int EXIT_NO_DECISION = 1;
constexpr int EXIT_USAGE = 2;

std::optional<std::string> read_input(const std::string& path) {
  if (path.empty() || path == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    return buffer.str();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

spdlog::level::level_enum parse_level(const std::string& level) {
  if (level == "DEBUG") return spdlog::level::debug;
  if (level == "WARNING") return spdlog::level::warn;
  if (level == "ERROR") return spdlog::level::err;
  return spdlog::level::info;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-decision", [&]() -> int {
    CLI::App app{
        "从一段 LLM 分析回复中提取并校验交易决策 JSON，打印到标准输出。\n"
        "Extracts the validated trading decision from one LLM reply and prints it as JSON.\n"
        "Exit status: 0 decision printed, 1 no acceptable decision (reason logged on stderr),\n"
        "2 usage error / unreadable input / record validation failed (--record)."};
    std::string path;
    bool record = false;
    bool compact = false;
    std::string level = "INFO";
    app.add_option("reply", path, "回复文本文件；省略或为 - 时读取标准输入 (reply file; stdin when omitted or -)");
    app.add_flag("--record", record, "同时构建 StockDecision 记录并打印其 23 个字段 (also build and print the record)");
    app.add_flag("--compact", compact, "单行输出 JSON (one-line JSON)");
    app.add_option("--log-level", level, "日志级别 (log level on stderr)")
        ->check(CLI::IsMember({"DEBUG", "INFO", "WARNING", "ERROR"}));
    try {
      app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
      return app.exit(e);
    } catch (const CLI::ParseError& e) {
      std::cerr << e.what() << "\n\n" << app.help();
      return EXIT_USAGE;
    }
    quorvel::logger.backend().set_level(parse_level(level));

    const auto reply = read_input(path);
    if (!reply) {
      std::cerr << "无法读取回复文件: " << path << "\n";
      return EXIT_USAGE;
    }
    const std::optional<int> indent = compact ? std::nullopt : std::optional<int>(2);
    try {
      const auto decision = schemas::extract_decision_json(*reply);
      if (!decision) {
        std::cerr << "未找到可接受的决策 JSON\n";
        return EXIT_NO_DECISION;
      }
      if (!record) {
        std::cout << quorvel::safe_json_dumps(*decision, false, indent) << "\n";
        return 0;
      }
      try {
        const auto built = schemas::StockDecision::from_map(*decision);
        std::cout << quorvel::safe_json_dumps(built.to_json(), false, indent) << "\n";
        return 0;
      } catch (const schemas::ValidationError& e) {
        std::cerr << e.what() << "\n";
        return EXIT_USAGE;
      }
    } catch (const quorvel::Error& e) {
      // Malformed content the validators cannot judge (an array as a categorical value, a non-numeric
      // buy price): no acceptable decision.
      std::cerr << "决策内容无法校验: " << e.what() << "\n";
      return EXIT_NO_DECISION;
    }
  });
}
