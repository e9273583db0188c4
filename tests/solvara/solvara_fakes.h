#pragma once
// Doubles of the services the market brief calls: market blocks and sentiment thermometer here; the
// report store and the scripted LLM agent layer are shared doubles of tests/support.
#include <atomic>
#include <memory>
#include <string>

#include "contracts/market_blocks.h"
#include "contracts/sentiment.h"
#include "support/fake_report_store.h"
#include "support/scripted_agent_layer.h"

namespace quorvel::testing {

class FakeMarketBlocks : public MarketBlocks {
 public:
  std::string env = "| 指数 | 收盘 |\n| 上证指数 | 3260.67 |", hist = "date,close\n2023-02-10,3260.67", ind = "EMA...";
  nlohmann::ordered_json env_meta = nlohmann::ordered_json::object(), hist_meta = nlohmann::ordered_json::object();
  std::atomic<int> calls{0};  // the three builders run on worker threads
  TextBlock format_market_environment_block(const std::string&, const std::string&) override {
    ++calls;
    return {env, env_meta};
  }
  TextBlock format_market_history_block(const std::string&, int, const std::string&) override { return {hist, hist_meta}; }
  TextBlock format_market_indicator_block(const std::string&, int, const std::string&) override { return {ind, {}}; }
};

class FakeSentiment : public zerith::SentimentThermometer {
 public:
  nlohmann::ordered_json daily = {{"temperature", 41.25}, {"state", "NEUTRAL"}, {"direction", "warming"},
                                  {"confidence", 0.834}, {"n_etf", 57},
                                  {"factors", {{"breadth", 0.62}, {"momentum", 0.4}, {"turnover", 73.0}}}};
  nlohmann::ordered_json weekly = {{"temperature", 12.0}, {"state", "ICE_COLD"}, {"direction", "cooling"},
                                   {"confidence", 0.5}, {"n_etf", 57}, {"factors", nlohmann::ordered_json::object()}};
  bool fail = false;
  nlohmann::ordered_json compute_sentiment_snapshot(const std::optional<std::string>&, const zerith::SentimentConfig& c,
                                                    bool) override {
    if (fail) throw std::runtime_error(std::string(300, 'x'));
    return c.freq == "D" ? daily : weekly;
  }
  zerith::SentimentZoneDesc get_sentiment_zone_desc(double t) override {
    return {t < 15 ? "冰点区" : "中性区", t < 15 ? "左侧分批布局" : "均衡配置", ""};
  }
};

}  // namespace quorvel::testing
