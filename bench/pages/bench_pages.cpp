// The report pages over a store of 10,000 analyses (2,000 instruments of the benchmark universe x
// 5 analysis days, each with its summary, a 12 KB analysis and a scored plan for one in five):
//   BM_PageAndIndex    what pelion does after storing an analysis: its page (bars, averages,
//                      chart, Markdown) and its row put into the index of 10,000
//   BM_AnalysisPage    the page alone
//   BM_RebuildIndex    index.html and ledger.html written whole from the 10,000 analyses (what
//                      pelion-batch does once at its end, and quorvel-reports html)
//
//   build/bin/bench_pages --benchmark_min_time=1
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "quorvel/pages/page_files.h"
#include "support/universe.h"
#include "support/universe_services.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr int INSTRUMENTS = 2000;
constexpr int DAYS_PER_INSTRUMENT = 5;

std::string analysis_text() {
  std::string text = "## 1. 市场状态诊断\n";
  while (text.size() < 12000)
    text += "- **趋势**：收盘 12.34，高于 EMA20 12.10（偏离 +0.4×ATR）；EMA5/10/20/60 多头排列，量比 1.2。\n"
            "| 指标 | 数值 | 解读 |\n|---|---|---|\n| RSI14 | 58.2 | 中性偏强 |\n| MACD | 0.12 | 金叉后扩张 |\n\n";
  return text;
}

constexpr const char* SUMMARY =
    "###### 趋势判断：看涨\n**核心逻辑**：均线多头排列，量能温和放大。\n###### 决策建议：建议买入\n"
    "###### 置信度：中\n###### 关键点位\n- 入场 12.20~12.35\n- 止损 11.80\n- 目标 13.10 / 13.60\n";

const fs::path& filled_store() {
  static const fs::path dir = [] {
    const fs::path d = fs::temp_directory_path() / "quorvel-bench-pages";
    fs::remove_all(d);
    quorvel::report::StoreOptions o;
    o.directory = d;
    o.write_files = false;
    quorvel::report::SqlReportStore store(o);
    const std::string content = analysis_text();
    std::vector<quorvel::report::PlanResult> results;
    for (int i = 0; i < INSTRUMENTS; ++i) {
      const std::string code = quorvel::bench::code_of(i);
      const tarnel::BarTable bars = tarnel::get_any_ohlc(code, quorvel::bench::START, quorvel::bench::END);
      for (int k = 0; k < DAYS_PER_INSTRUMENT; ++k) {
        const std::size_t row = bars.rows() - 1 - std::size_t(k) * 20;
        const double close = bars.at("close", row);
        quorvel::report::AnalysisReport a;
        a.stock_code = code;
        a.stock_name = "样本" + std::to_string(i);
        a.content = content;
        a.analysis_time = bars.date_at(row);
        a.market_type = "A";
        a.current_price = close;
        a.llm_client_type = "offline";
        a.decision = Json{{"stock_code", code}, {"analysis_time", a.analysis_time}, {"current_price", close},
                          {"direction", "看多"}, {"action", "建议买入"}, {"entry_price_low", close * 0.99},
                          {"entry_price_high", close}, {"stop_loss", close * 0.95}, {"target_1", close * 1.08},
                          {"target_2", close * 1.12}, {"position_pct", "10%"}, {"confidence", "中"}};
        a.plan_checks = Json::array();
        a.levels = Json{{"support", close * 0.96}, {"resistance", close * 1.1}};
        quorvel::report::SummaryReport s;
        s.stock_code = code;
        s.content = SUMMARY;
        s.analysis_time = a.analysis_time;
        s.llm_client_type = "offline";
        store.save_analysis_with_summary(a, s);
        if ((i + k) % 5 == 0) {
          const auto id = store.latest_analysis_id({code, a.analysis_time, "offline"});
          results.push_back({*id, "scored", Json{{"status", "scored"}, {"kind", "buy"}, {"outcome", "target_1"},
                                                 {"exit_date", a.analysis_time}, {"r_multiple", (i % 3) - 0.5}}});
        }
      }
    }
    store.save_plan_results(results);
    return d;
  }();
  return dir;
}

quorvel::report::SqlReportStore& store() {
  static quorvel::report::SqlReportStore s([] {
    quorvel::report::StoreOptions o;
    o.directory = filled_store();
    o.write_files = false;
    return o;
  }());
  return s;
}

void BM_PageAndIndex(benchmark::State& state) {
  quorvel::bench::universe_services();
  auto& s = store();
  const auto entries = s.analysis_entries({quorvel::bench::code_of(7), {}, {}, {}});
  const quorvel::report::AnalysisKey key{entries.front().code, entries.front().date, "offline"};
  for (auto _ : state) benchmark::DoNotOptimize(quorvel::pages::write_page_and_index(s, key));
  state.counters["analyses"] = double(s.analysis_entries().size());
}
BENCHMARK(BM_PageAndIndex)->Unit(benchmark::kMillisecond);

void BM_AnalysisPage(benchmark::State& state) {
  quorvel::bench::universe_services();
  auto& s = store();
  const auto id = s.analysis_entries({quorvel::bench::code_of(7), {}, {}, {}}).front().id;
  for (auto _ : state) benchmark::DoNotOptimize(quorvel::pages::write_analysis_page(s, id));
}
BENCHMARK(BM_AnalysisPage)->Unit(benchmark::kMillisecond);

void BM_AddToIndex(benchmark::State& state) {
  quorvel::bench::universe_services();
  auto& s = store();
  const auto e = s.analysis_entries({quorvel::bench::code_of(7), {}, {}, {}}).front();
  for (auto _ : state) quorvel::pages::add_to_index(s, {e.code, e.date, "offline"});
}
BENCHMARK(BM_AddToIndex)->Unit(benchmark::kMillisecond);

void BM_EntryQuery(benchmark::State& state) {
  auto& s = store();
  const auto e = s.analysis_entries({quorvel::bench::code_of(7), {}, {}, {}}).front();
  for (auto _ : state) benchmark::DoNotOptimize(s.analysis_entries({e.code, e.date, {}, std::string("offline")}));
}
BENCHMARK(BM_EntryQuery)->Unit(benchmark::kMillisecond);

void BM_RebuildIndex(benchmark::State& state) {
  quorvel::bench::universe_services();
  auto& s = store();
  for (auto _ : state) benchmark::DoNotOptimize(quorvel::pages::write_index_pages(s));
}
BENCHMARK(BM_RebuildIndex)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
