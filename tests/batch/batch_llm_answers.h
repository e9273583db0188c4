#pragma once
// The fake model of the watchlist tests: instruments copied from the bundled sh.600000 bars under
// codes sh.601000, sh.601001, ...; a brief for a brief prompt, a holder's wait decision priced
// around the close of 7.24 for a stock.
#include <chrono>
#include <regex>
#include <string>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "support/decision_replies.h"
#include "support/fake_llm_server.h"

namespace quorvel::testing {

inline std::string code_of(int i) { return fmt::format("sh.601{:03d}", i); }

// The stock code a request is about, or "brief".
inline std::string subject(const RecordedRequest& request) {
  const auto body = nlohmann::json::parse(request.body);
  const std::string system = body["messages"].front()["content"], user = body["messages"].back()["content"];
  if (system.find("大盘简报") != std::string::npos) return "brief";
  std::smatch m;
  return std::regex_search(user, m, std::regex("sh\\.601\\d{3}")) ? m.str() : "?";
}

// The answer to `request` after `latency`.
inline ScriptedReply answer(const RecordedRequest& request,
                            std::chrono::milliseconds latency = std::chrono::milliseconds(5)) {
  const nlohmann::json usage = {{"prompt_tokens", 100}, {"completion_tokens", 10}};
  const std::string about = subject(request);
  const std::string text = about == "brief" ? "**▋ 大盘市场研判 · 偏多 / 中**\n正文"
                                            : decision_reply({{"stock_code", about},
                                                              {"current_price", 7.24},
                                                              {"action", "观望等待"},
                                                              {"direction", "中性"},
                                                              {"strategy_mode", "空仓等待"},
                                                              {"holder_action", "继续持有"},
                                                              {"entry_price_low", 0},
                                                              {"entry_price_high", 0},
                                                              {"stop_loss", 7.0},
                                                              {"target_1", 7.6},
                                                              {"target_2", 7.9},
                                                              {"position_pct", "0%"}});
  return {200, completion_body(text, "", usage), {}, false, latency};
}

}  // namespace quorvel::testing
