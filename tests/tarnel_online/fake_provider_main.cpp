// tarnel-fake-provider: an Eastmoney-style K-line host on 127.0.0.1 with generated bars and a fixed
// latency per request, for benchmarks. Prints its base URL, then serves until standard input closes.
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "support/fake_kline_server.h"

int main(int argc, char** argv) {
  CLI::App app{"fake K-line host for benchmarks", "tarnel-fake-provider"};
  int latency_ms = 0;
  std::string until;
  app.add_option("--latency-ms", latency_ms, "delay before each answer");
  app.add_option("--until", until, "serve no bar after this date (YYYY-MM-DD)");
  CLI11_PARSE(app, argc, argv);
  quorvel::testing::FakeKlineServer server([&](const quorvel::testing::KlineRequest& r) {
    return quorvel::testing::KlineReply{200, quorvel::testing::generated_eastmoney_reply(r, until), {},
                                        std::chrono::milliseconds(latency_ms), false};
  });
  std::cout << server.base_url() << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
