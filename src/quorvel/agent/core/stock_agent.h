#pragma once
// The per-market stock analyst: its system message is the market's system template (the same bytes
// for every stock, so the provider can reuse the cached prefix); `analyze` renders the market's user
// template with the stock's inputs and returns the model's full answer.
#include <memory>
#include <string>

#include "contracts/llm_agent.h"

namespace quorvel::agent::core {

class MarketStockAgent final : public StockAgent {
 public:
  // `market` is "A", "HK", "US" or "ETF" (letter case ignored); anything else is a ValueError.
  // The bundle's client, model name and client type become the agent's members.
  MarketStockAgent(const std::string& market, ClientBundle bundle);

  asio::awaitable<std::string> analyze(const StockAnalysisInputs& inputs) override;
  std::pair<std::string, std::string> prompt_messages(const StockAnalysisInputs& inputs) const override {
    return {system_message(), render_task(inputs)};
  }

  const std::string& market() const { return market_; }
  const std::string& system_message() const { return *system_message_; }
  // The user message of one analysis.
  std::string render_task(const StockAnalysisInputs& inputs) const;

 private:
  std::string market_;
  const std::string* system_message_;  // a template constant, alive for the whole process
  const std::string* user_template_;
};

}  // namespace quorvel::agent::core
