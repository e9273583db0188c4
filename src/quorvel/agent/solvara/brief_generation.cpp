#include "quorvel/agent/solvara/brief_generation.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <map>

#include "contracts/errors.h"
#include "contracts/llm_agent.h"
#include "quorvel/agent/solvara/brief_cache.h"
#include "quorvel/agent/solvara/brief_prompt.h"
#include "quorvel/agent/solvara/core_index_table.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::solvara {

namespace {

std::string error_text(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "未知错误";
  }
}

asio::awaitable<void> close_quietly(const std::shared_ptr<ModelClient>& client) {
  if (!client) co_return;
  std::exception_ptr failure;
  try {
    co_await client->close();
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) logger.debug("[大盘 AI 简报] 关闭 LLM 客户端失败: %s", error_text(failure));
}

// The last message of the run that has an author other than the user.
std::string reply_of(const TaskResult& result) {
  for (auto it = result.messages.rbegin(); it != result.messages.rend(); ++it) {
    if (it->source.empty()) continue;
    if (it->source != "user") return trim_text(it->content);
  }
  return "";
}

}  // namespace

std::string market_label(const std::string& market_type) {
  static const std::map<std::string, std::string> labels{
      {"A", "A 股大盘（上证、深证、创业板、科创50、沪深300、中证500）"},
      {"ETF", "A 股大盘（上证、深证、创业板、科创50、沪深300、中证500）"},
      {"HK", "港股大盘（恒生指数、恒生科技指数）"},
      {"US", "美股大盘（标普500、纳斯达克、道琼斯）"},
  };
  const auto it = labels.find(upper_ascii(market_type));
  return it == labels.end() ? market_type : it->second;
}

std::string strip_reasoning(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t open = text.find("<think>", pos);
    if (open == std::string::npos) break;
    const std::size_t close = text.find("</think>", open + 7);
    if (close == std::string::npos) break;
    out.append(text, pos, open - pos);
    pos = close + 8;
  }
  out.append(text, pos, std::string::npos);
  return trim_text(out);
}

asio::awaitable<std::string> build_brief_user_message(std::string market_type, std::string analysis_date,
                                                      std::string env_block, std::string hist_block,
                                                      std::string indicator_block) {
  auto core_op = _generate_core_index_table(market_type, analysis_date);
  const CoreIndexTable core = co_await std::move(core_op);
  auto sentiment_op =
      run_blocking([market_type, analysis_date] { return _format_sentiment_block(market_type, analysis_date); });
  const auto sentiment = co_await std::move(sentiment_op);
  const std::string normalized = _normalize_date(analysis_date);
  co_return fill_template(detail::SOLVARA_USER_TEMPLATE,
                          {{"market_label", market_label(market_type)},
                           {"analysis_date", normalized.empty() ? analysis_date : normalized},
                           {"bias", core.verdict.bias},
                           {"strength", core.verdict.strength},
                           {"strategy", core.verdict.strategy},
                           {"rationale", core.verdict.rationale},
                           {"core_index_facts", core.facts},
                           {"core_index_table", core.table},
                           {"market_env", env_block},
                           {"market_history", hist_block},
                           {"market_indicators", indicator_block.empty() ? "（暂无指标数据）" : indicator_block},
                           {"sentiment_block", sentiment.first.empty() ? "（情绪温度计数据暂不可用）" : sentiment.first}});
}

asio::awaitable<GeneratedBrief> _generate_brief_via_llm(std::string market_type, std::string analysis_date,
                                                        std::string env_block, std::string hist_block,
                                                        std::string indicator_block) {
  auto message_op = build_brief_user_message(market_type, analysis_date, env_block, hist_block, indicator_block);
  const std::string message = co_await std::move(message_op);
  const ClientBundle bundle = build_client();
  const auto chat = agent_layer().make_chat_agent("SolvaraAgent", bundle.model_client, SOLVARA_SYSTEM_MESSAGE);
  logger.info("[大盘 AI 简报] 触发 LLM | market=%s date=%s client=%s model=%s", market_type, analysis_date,
              bundle.client_type, bundle.model_name);

  TaskResult result;
  std::exception_ptr failure;
  try {
    auto run_op = chat->run(message);
    result = co_await std::move(run_op);
  } catch (...) {
    failure = std::current_exception();
  }
  auto close_op = close_quietly(bundle.model_client);
  co_await std::move(close_op);
  if (failure) {
    const std::string text = "[大盘 AI 简报] LLM 调用失败 | market=" + market_type + " date=" + analysis_date +
                             " err=" + error_text(failure);
    try {
      std::rethrow_exception(failure);
    } catch (...) {
      std::throw_with_nested(RuntimeError(text));
    }
  }

  const std::string content = reply_of(result);
  if (content.empty())
    throw RuntimeError("[大盘 AI 简报] LLM 返回空内容 | market=" + market_type + " date=" + analysis_date);
  const std::string cleaned = strip_reasoning(content);
  if (cleaned.empty()) throw RuntimeError("[大盘 AI 简报] LLM 返回内容仅含 <think>，剥离后为空 | market=" + market_type);
  logger.info("[大盘 AI 简报] 生成完成 | market=%s date=%s 字数=%d", market_type, analysis_date, count_code_points(cleaned));
  co_return GeneratedBrief{cleaned, bundle.client_type, bundle.model_name};
}

}  // namespace quorvel::agent::solvara
