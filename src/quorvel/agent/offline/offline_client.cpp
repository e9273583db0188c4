#include "quorvel/agent/offline/offline_client.h"

#include "contracts/errors.h"
#include "quorvel/agent/offline/offline_brief_writer.h"

namespace quorvel::agent::offline {

asio::awaitable<ChatReply> OfflineModelClient::create(std::vector<ChatMessage> messages) {
  std::string task;
  for (auto it = messages.rbegin(); it != messages.rend(); ++it)
    if (it->role == "user") {
      task = it->content;
      break;
    }
  const auto facts = parse_brief_prompt(task);
  if (!facts)
    throw RuntimeError("离线分析器 (offline-rules) 只能回答本系统的大盘简报提示词；请设置 LLM_CLIENT_TYPE 与对应的 API Key 使用真实模型");
  ChatReply reply;
  reply.content = write_offline_brief(*facts);
  reply.model = OFFLINE_MODEL_NAME;
  co_return reply;
}

ClientBundle make_offline_client_bundle() {
  return ClientBundle{std::make_shared<OfflineModelClient>(), OFFLINE_MODEL_NAME,
                      nlohmann::ordered_json{{"provider", "offline"}, {"network", false}}, OFFLINE_CLIENT_TYPE};
}

}  // namespace quorvel::agent::offline
