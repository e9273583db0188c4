// quorvel-ledger update over 25,000 stored plans (5,000 instruments of the benchmark universe x 5
// analysis days each, half buys, half waits): each instrument's bars read once, every plan walked,
// the results stored with their messages. Each iteration scores a fresh copy of the filled store.
//
//   build/bin/bench_ledger --benchmark_min_time=1
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "quorvel/ledger/ledger_update.h"
#include "support/universe.h"
#include "support/universe_services.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr int PLANS_PER_INSTRUMENT = 5;

// A plan of the analysis day `row` of `bars`: a buy at the close with a 5% stop and 8% / 12%
// targets, or a wait.
Json decision_for(const tarnel::BarTable& bars, std::size_t row, bool buy) {
  const double close = bars.at("close", row);
  return Json{{"stock_code", ""},
              {"analysis_time", bars.date_at(row)},
              {"current_price", close},
              {"direction", buy ? "看多" : "中性"},
              {"action", buy ? "建议买入" : "观望等待"},
              {"entry_price_low", close * 0.99},
              {"entry_price_high", close},
              {"stop_loss", close * 0.95},
              {"target_1", close * 1.08},
              {"target_2", close * 1.12},
              {"position_pct", buy ? "10%" : "0%"},
              {"holding_period", "10个交易日"},
              {"confidence", "中"}};
}

// The filled store, made once per process.
fs::path filled_store() {
  static const fs::path dir = [] {
    const fs::path d = fs::temp_directory_path() / "quorvel-bench-ledger";
    fs::remove_all(d);
    quorvel::report::StoreOptions o;
    o.directory = d;
    o.write_files = false;
    quorvel::report::SqlReportStore store(o);
    for (int i = 0; i < quorvel::bench::INSTRUMENTS; ++i) {
      const std::string code = quorvel::bench::code_of(i);
      const tarnel::BarTable bars = tarnel::get_any_ohlc(code, quorvel::bench::START, quorvel::bench::END);
      for (int k = 0; k < PLANS_PER_INSTRUMENT; ++k) {
        const std::size_t row = 60 + std::size_t(k) * (bars.rows() - 80) / PLANS_PER_INSTRUMENT;
        Json d = decision_for(bars, row, (i + k) % 2 == 0);
        d["stock_code"] = code;
        quorvel::report::AnalysisReport a;
        a.stock_code = code;
        a.content = "分析";
        a.analysis_time = bars.date_at(row);
        a.market_type = "A";
        a.current_price = d["current_price"];
        a.llm_client_type = "offline";
        a.decision = d;
        a.plan_checks = Json::array();
        store.save_analysis_report(a);
      }
    }
    return d;
  }();
  return dir;
}

void BM_LedgerUpdate(benchmark::State& state) {
  quorvel::bench::universe_services();
  const fs::path source = filled_store();
  const fs::path work = fs::temp_directory_path() / "quorvel-bench-ledger-run";
  quorvel::ledger::UpdateCounts counts;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy_file(source / quorvel::report::DATABASE_FILE_NAME, work / quorvel::report::DATABASE_FILE_NAME);
    quorvel::report::StoreOptions o;
    o.directory = work;
    o.write_files = false;
    quorvel::report::SqlReportStore store(o);
    state.ResumeTiming();
    counts = quorvel::ledger::update_ledger(store, {}, quorvel::bench::END);
  }
  if (counts.plans != std::size_t(quorvel::bench::INSTRUMENTS * PLANS_PER_INSTRUMENT))
    state.SkipWithError("not every plan was read");
  state.counters["plans"] = double(counts.plans);
  state.counters["scored"] = double(counts.scored);
  state.counters["not_scorable"] = double(counts.not_scorable);
  state.counters["pending"] = double(counts.pending);
}
BENCHMARK(BM_LedgerUpdate)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
