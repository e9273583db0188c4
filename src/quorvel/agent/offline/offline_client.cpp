#include "quorvel/agent/offline/offline_client.h"

#include "contracts/errors.h"
#include "quorvel/agent/offline/offline_brief_writer.h"
#include "quorvel/agent/offline/offline_stock_analyst.h"

namespace quorvel::agent::offline {

namespace {

// Content of the last message with the role; empty when there is none.
std::string last_of_role(const std::vector<ChatMessage>& messages, const std::string& role) {
  for (auto it = messages.rbegin(); it != messages.rend(); ++it)
    if (it->role == role) return it->content;
  return "";
}

std::string answer(const std::vector<ChatMessage>& messages) {
  const std::string task = last_of_role(messages, "user");
  if (const auto brief = parse_brief_prompt(task)) return write_offline_brief(*brief);
  if (const auto stock = parse_stock_prompt(last_of_role(messages, "system"), task))
    return write_offline_stock_analysis(*stock);
  throw RuntimeError(
      "离线分析器 (offline-rules) 只能回答本系统的大盘简报与个股分析提示词；请设置 LLM_CLIENT_TYPE 与对应的 API Key "
      "使用真实模型");
}

}  // namespace

asio::awaitable<ChatReply> OfflineModelClient::create(std::vector<ChatMessage> messages) {
  ChatReply reply;
  reply.content = answer(messages);
  reply.model = OFFLINE_MODEL_NAME;
  co_return reply;
}

ClientBundle make_offline_client_bundle() {
  return ClientBundle{std::make_shared<OfflineModelClient>(), OFFLINE_MODEL_NAME,
                      nlohmann::ordered_json{{"provider", "offline"}, {"network", false}}, OFFLINE_CLIENT_TYPE};
}

}  // namespace quorvel::agent::offline
