// extract_decision_json throughput (MB/s) on realistic replies of 20 KB and 5 MB, and on hostile
// replies of the same sizes that would make a backtracking or quadratic extractor stall.
//   build-x/bin/bench_schemas --benchmark_filter=Extract
#include <fstream>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include "quorvel/agent/schemas/extract.h"
#include "quorvel/utils/logger.h"

namespace {

namespace schemas = quorvel::agent::schemas;

// Rejections log a warning with a 300-character prefix; keep those lines out of the timings.
const bool quiet_logger = [] {
  quorvel::logger.backend().set_level(spdlog::level::err);
  return true;
}();

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(QUORVEL_SCHEMAS_BENCH_DATA) + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A Markdown analysis of about `bytes` bytes that ends in the fenced decision of the fixture reply.
std::string realistic_reply(std::size_t bytes, bool fenced) {
  const std::string reply = fixture("reply_fenced.md");
  const std::size_t decision_at = reply.find("## 四、决策");
  const std::string analysis = reply.substr(0, decision_at);
  std::string decision = reply.substr(decision_at);
  if (!fenced) {
    decision.replace(decision.find("```json"), 7, "```");
  }
  std::string out;
  int section = 1;
  while (out.size() + decision.size() < bytes) {
    out += "### 补充分析 " + std::to_string(section++) + "\n" + analysis;
  }
  return out + decision;
}

void run(benchmark::State& state, const std::string& reply, bool expect_decision) {
  for (auto _ : state) {
    auto d = schemas::extract_decision_json(reply);
    if (d.has_value() != expect_decision) state.SkipWithError("unexpected extraction result");
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(reply.size()));
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
}

void BM_ExtractFenced20KB(benchmark::State& state) { run(state, realistic_reply(20 * 1024, true), true); }
void BM_ExtractFenced5MB(benchmark::State& state) { run(state, realistic_reply(5 * 1024 * 1024, true), true); }
void BM_ExtractScanner20KB(benchmark::State& state) { run(state, realistic_reply(20 * 1024, false), true); }
void BM_ExtractScanner5MB(benchmark::State& state) { run(state, realistic_reply(5 * 1024 * 1024, false), true); }

// Hostile: an unclosed fence followed by megabytes of white space, then a bare decision object.
void BM_ExtractUnclosedFenceSpaces5MB(benchmark::State& state) {
  run(state,
      "```json\n" + std::string(5 * 1024 * 1024, ' ') + "x {\"action\": \"观望等待\", \"direction\": \"中性\"}", true);
}

// Hostile: deeply nested brackets inside the decision candidate.
void BM_ExtractDeepNesting5MB(benchmark::State& state) {
  const std::size_t n = 5 * 1024 * 1024 / 2;
  run(state, "{\"action\": " + std::string(n, '[') + std::string(n, ']') + "}", false);
}

// Linear growth: the same realistic reply at growing sizes (throughput should stay flat).
void BM_ExtractFencedScaling(benchmark::State& state) {
  run(state, realistic_reply(static_cast<std::size_t>(state.range(0)) * 1024, true), true);
}

BENCHMARK(BM_ExtractFenced20KB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExtractFenced5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractScanner20KB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExtractScanner5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractUnclosedFenceSpaces5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractDeepNesting5MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractFencedScaling)->RangeMultiplier(4)->Range(16, 16 * 1024)->Unit(benchmark::kMillisecond);

}  // namespace
