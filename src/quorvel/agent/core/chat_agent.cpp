#include "quorvel/agent/core/chat_agent.h"

#include <utility>
#include <vector>

#include "contracts/errors.h"

namespace quorvel::agent::core {

SimpleChatAgent::SimpleChatAgent(std::string name, std::shared_ptr<ModelClient> model_client,
                                 std::string system_message, bool keep_blank_answer)
    : name_(std::move(name)),
      model_client_(std::move(model_client)),
      system_message_(std::move(system_message)),
      keep_blank_answer_(keep_blank_answer) {
  if (!model_client_) throw ValueError("聊天代理 " + name_ + " 缺少 model_client");
}

asio::awaitable<TaskResult> SimpleChatAgent::run(std::string task) {
  std::vector<ChatMessage> messages;
  if (!system_message_.empty()) messages.push_back({"system", system_message_});
  messages.push_back({"user", task});
  auto call = keep_blank_answer_ ? model_client_->create_keeping_blank(std::move(messages))
                                 : model_client_->create(std::move(messages));
  ChatReply reply = co_await std::move(call);
  TaskResult result;
  result.messages.push_back({"user", std::move(task)});
  result.messages.push_back({name_, std::move(reply.content)});
  co_return result;
}

}  // namespace quorvel::agent::core
