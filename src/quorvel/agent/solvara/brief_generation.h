#pragma once
// Writing the brief: the user message is filled from the computed blocks and sent with the fixed
// system message to a chat agent on a freshly built client; the reply is cleaned of reasoning spans.
#include <string>

#include <asio/awaitable.hpp>

namespace quorvel::agent::solvara {

struct GeneratedBrief {
  std::string content;
  std::string client_type;
  std::string model_name;
};

// Market label shown to the model for a market type; the text itself when unknown.
std::string market_label(const std::string& market_type);

// The user message for the given market, date and blocks (awaits the core table and the sentiment
// block on worker threads).
asio::awaitable<std::string> build_brief_user_message(std::string market_type, std::string analysis_date,
                                                      std::string env_block, std::string hist_block,
                                                      std::string indicator_block);

asio::awaitable<GeneratedBrief> _generate_brief_via_llm(std::string market_type, std::string analysis_date,
                                                        std::string env_block, std::string hist_block,
                                                        std::string indicator_block);

// Removes every "<think>...</think>" span (an unclosed opening tag stays) and trims.
std::string strip_reasoning(const std::string& text);

}  // namespace quorvel::agent::solvara
