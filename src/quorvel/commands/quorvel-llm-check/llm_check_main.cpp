// quorvel-llm-check: sends one short prompt with the configured LLM client and prints provider,
// model, latency and token usage. The first thing to run after setting an API key.
#include <iostream>

#include <CLI/CLI.hpp>

#include "quorvel/agent/core/llm_check.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-llm-check", [&]() -> int {
    quorvel::load_quorvel_env();
    quorvel::agent::core::LlmCheckOptions options;
    std::string client_type;

    CLI::App app("发送一条简短提示词，检查 LLM 客户端配置是否可用，并打印提供方、模型、耗时与 token 用量。\n\n"
                 "配置（环境变量或项目根目录的 .env）:\n"
                 "  LLM_CLIENT_TYPE      " + quorvel::agent::core::provider_names() + "（默认 deepseek；offline 暂不可用）\n"
                 "  <TYPE>_API_KEY       例如 DEEPSEEK_API_KEY（ollama 可不设）\n"
                 "  <TYPE>_BASE_URL      覆盖服务地址（openai_compatible 必填）\n"
                 "  <TYPE>_MODEL         覆盖模型名称（openai_compatible 必填）\n"
                 "  <TYPE>_THINKING      enabled / disabled（deepseek、qwen 的思考模式开关）\n"
                 "  <TYPE>_MAX_TOKENS    输出 token 上限\n"
                 "  LLM_CONNECT_TIMEOUT  连接超时秒数（默认 15）\n"
                 "  LLM_TIMEOUT          单次请求总超时秒数（默认 300）\n"
                 "  LLM_MAX_RETRIES      429/5xx/超时/断连的最大重试次数（默认 3）\n"
                 "  LLM_RETRY_BUDGET     含重试在内的总时长上限秒数（默认 600）",
                 "quorvel-llm-check");
    app.add_option("-p,--prompt", options.prompt, "发送的提示词")->capture_default_str();
    app.add_option("-c,--client", client_type, "本次使用的客户端类型，覆盖 LLM_CLIENT_TYPE");
    app.add_option("--timeout", options.timeout_seconds, "整个检查（含重试）的最长等待秒数")
        ->capture_default_str()
        ->check(quorvel::integer_range(1, 3600));
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;

    if (!client_type.empty()) setenv("LLM_CLIENT_TYPE", client_type.c_str(), 1);
    const int status = quorvel::agent::core::run_llm_check(options, std::cout, std::cerr);
    quorvel::logger.backend().flush();
    return status;
  });
}
