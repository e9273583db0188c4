// A replay sees only what its session saw: the same pool replayed with every bar after each
// replayed session replaced by absurd values gives the same prompts, decisions and scores.
#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "contracts/market_data.h"
#include "quorvel/analysis/batch_runner.h"
#include "quorvel/ledger/ledger_entries.h"
#include "quorvel/ledger/ledger_update.h"
#include "quorvel/report/default_store.h"
#include "quorvel/runtime/runtime_services.h"
#include "quorvel/utils/run_sync.h"
#include "support/fake_market_data.h"
#include "support/test_support.h"
#include "contracts/dates.h"
#include "tarnel/local_market_data.h"

namespace quorvel {
namespace {

using Json = nlohmann::ordered_json;

// Bars after `session` carry a thousand times their prices and volumes.
class AbsurdFuture final : public tarnel::ForwardingMarketData {
 public:
  AbsurdFuture(std::shared_ptr<tarnel::MarketData> base, const std::string& session)
      : ForwardingMarketData(std::move(base)), session_(tarnel::parse_date(session)) {}
  tarnel::BarTable get_any_ohlc(const std::string& code, const std::string& start, const std::string& end) override {
    return spoiled(base().get_any_ohlc(code, start, end));
  }
  tarnel::BarTable get_index_ohlc(const tarnel::MarketIndex& index, const std::string& end_date) override {
    return spoiled(base().get_index_ohlc(index, end_date));
  }

 private:
  tarnel::BarTable spoiled(tarnel::BarTable t) const {
    for (const std::string& name : t.column_names()) {
      std::vector<double> values = t.column(name);
      for (std::size_t i = 0; i < values.size(); ++i)
        if (t.index()[i] > session_) values[i] *= 1000;
      t.set_column(name, std::move(values));
    }
    return t;
  }
  tarnel::Date session_;
};

// What each analysis of a replay was given and answered, by instrument and day, and the scores.
struct Replayed {
  std::map<std::string, std::tuple<std::string, std::string, Json>> analyses;  // user message, reply, decision
  std::map<std::string, std::string> scores;
};

Replayed replay(const std::filesystem::path& dir, const std::vector<std::string>& sessions, bool spoil) {
  testing::ScopedEnv reports{"REPORT_DIR", (dir / "report").string()};
  testing::ScopedEnv briefs{"QUORVEL_SOLVARA_DIR", (dir / "briefs").string()};
  testing::ScopedEnv center{"TARNEL_CENTER", (dir / "center").string()};
  testing::ScopedEnv client{"LLM_CLIENT_TYPE", "offline"};
  testing::ScopedEnv online{"TARNEL_ONLINE", "0"};
  install_runtime_services();
  const std::vector<std::string> pool{"sh.600519", "510050", "hk.00700", "us.AAPL"};
  for (const std::string& session : sessions) {
    std::shared_ptr<tarnel::MarketData> data = testing::bundled_market_data();
    if (spoil) data = std::make_shared<AbsurdFuture>(data, session);
    Service<tarnel::MarketData>::Guard market{data};
    batch::BatchRun run({pool, session, 2, false, "offline"});
    run_sync(run.run());
  }
  Replayed out;
  for (const auto& file : std::filesystem::directory_iterator(dir / "report" / "audit")) {
    if (file.path().extension() != ".json") continue;
    const Json a = Json::parse(testing::read_file(file.path()));
    out.analyses[a["stock_code"].get<std::string>() + " " + a["analysis_time"].get<std::string>()] = {
        a["user_message"], a["reply"], a["decision"]};
  }
  Service<tarnel::MarketData>::Guard market{testing::bundled_market_data()};  // scores read the real bars
  auto store = report::make_default_report_store({.directory = dir / "report"});
  ledger::update_ledger(*store, {}, "2024-12-31");
  for (const auto& e : ledger::ledger_entries(*store, {}))
    out.scores[e.code + " " + e.date] = ledger::score_json(e.score).dump();
  return out;
}

TEST(Replay, SeesNothingAfterItsSession) {
  // Sessions before Chinese New Year, before Christmas (US and Hong Kong holidays follow) and an
  // ordinary day; us.AAPL's bundled bars end 2022-12-30, so it is stale on two of them.
  const std::vector<std::string> sessions{"2022-12-23", "2023-01-20", "2023-11-06"};
  testing::TempDir dir;
  const Replayed plain = replay(dir / "plain", sessions, false);
  const Replayed spoiled = replay(dir / "spoiled", sessions, true);
  EXPECT_GE(plain.analyses.size(), 10u);    // us.AAPL's two stale sessions are one instrument-day
  EXPECT_GE(plain.scores.size(), 9u);       // hk.00700's last bundled day has no sessions after it
  for (const auto& [key, analysis] : plain.analyses) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(spoiled.analyses.count(key));
    EXPECT_EQ(std::get<0>(spoiled.analyses.at(key)), std::get<0>(analysis));  // the prompt
    EXPECT_EQ(std::get<2>(spoiled.analyses.at(key)), std::get<2>(analysis));  // the decision
  }
  EXPECT_EQ(spoiled.analyses.size(), plain.analyses.size());
  EXPECT_EQ(spoiled.scores, plain.scores);
}

}  // namespace
}  // namespace quorvel
