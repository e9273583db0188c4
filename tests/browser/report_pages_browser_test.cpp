// The report pages as a browser shows them: the header a trader reads, one candle per bar, the plan
// drawn at its prices (read back from the geometry Chromium laid out), the tables, and not a single
// request leaving the machine. Screenshots of each page kind go to <build>/screenshots.
#include <cmath>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pages/page_fixtures.h"
#include "quorvel/pages/page_files.h"
#include "support/decision_replies.h"
#include "support/headless_browser.h"

namespace quorvel::pages {
namespace {

using Json = nlohmann::json;
using ::testing::IsEmpty;

// Header fields, candles, and each plan line's price recovered from its laid-out position through
// the chart's own price axis.
constexpr const char* ANALYSIS_PROBE = R"(
  const field = (f) => { const e = doc.querySelector('[data-field="' + f + '"]'); return e ? e.textContent : null; };
  const svg = doc.querySelector('svg.price-chart');
  const top = +svg.dataset.priceTop, bottom = +svg.dataset.priceBottom;
  const y0 = +svg.dataset.plotTop, y1 = +svg.dataset.plotBottom;
  const price = (y) => top - (y - y0) / (y1 - y0) * (top - bottom);
  const levels = {};
  for (const l of doc.querySelectorAll('line.level')) levels[l.dataset.level] = price(l.getBBox().y);
  const band = doc.querySelector('rect.entry-band');
  const box = band ? band.getBBox() : null;
  return {code: field('code'), name: field('name'), as_of: field('as_of'), verdict: field('verdict'),
          action: field('action'), direction: field('direction'), confidence: field('confidence'),
          review: field('review'), no_decision: field('no-decision') !== null,
          candles: doc.querySelectorAll('g.candle').length, first: doc.querySelector('g.candle').dataset.date,
          last: [...doc.querySelectorAll('g.candle')].pop().dataset.date, levels,
          band: box ? [price(box.y + box.height), price(box.y)] : null, tick: (top - bottom) / (y1 - y0),
          failed_checks: [...doc.querySelectorAll('tr.check.failed.hard')].map(r => r.dataset.name),
          decision_rows: doc.querySelectorAll('table.decision tr').length,
          brief: doc.querySelector('section.brief') !== null,
          outcome: doc.querySelector('section.outcome') ? doc.querySelector('section.outcome').textContent : null};)";

struct Pages : ::testing::Test {
  testing::PageStore fixture;
  std::filesystem::path dir() const { return fixture.dir.path(); }

  void SetUp() override {
    auto buy = testing::page_analysis("sh.600519", "贵州茅台", "A", "2023-02-10",
                                      testing::buy_decision({{"position_pct", "40%"}}));
    buy.plan_checks = Json::array({{{"name", "position_cap"}, {"level", "hard"}, {"passed", false},
                                    {"label", "仓位上限"}, {"detail", "position_pct 40 > 有效上限 30"}}});
    buy.review_required = true;
    buy.levels = Json{{"support", 1760.0}, {"resistance", 1935.0}};
    // The brief the analysis read is stored before it.
    fixture.store->save_solvara({"A", "## A 股大盘\n**▋ 研判 · [偏多 / 强]**", "2023-02-10", "offline", "m"});
    const auto id = fixture.add(buy, testing::BUY_SUMMARY);
    const nlohmann::ordered_json score = {{"status", "scored"}, {"kind", "buy"},    {"outcome", "target_1"},
                                          {"horizon", 10},      {"fill_date", "2023-02-13"}, {"fill_price", 1805},
                                          {"exit_date", "2023-02-16"}, {"exit_price", 1880}, {"return_pct", 4.16},
                                          {"r_multiple", 1.36}};
    const report::PlanResult result{id, "scored", score};
    fixture.store->save_plan_results({&result, 1});
    fixture.add(testing::page_analysis("510050", "上证50ETF", "ETF", "2023-02-10", nullptr), "");
    fixture.add(testing::page_analysis("hk.00700", "腾讯控股", "HK", "2023-11-06",
                                       testing::buy_decision({{"stock_code", "hk.00700"}, {"action", "观望等待"},
                                                              {"direction", "中性"}, {"entry_price_low", 0},
                                                              {"entry_price_high", 0}, {"stop_loss", 300},
                                                              {"target_1", 340}, {"target_2", 0}})),
                testing::WATCH_SUMMARY);
    const auto written = write_all_pages(*fixture.store, false);
    ASSERT_EQ(written.written, 3u);
    ASSERT_EQ(written.failed, 0u);
  }
};

TEST_F(Pages, AnalysisPageShowsThePlanWhereItsPricesAre) {
  QUORVEL_NEEDS_BROWSER();
  const auto page = dir() / analysis_page_path("sh.600519", "2023-02-10", "offline");
  const auto probe = testing::probe_page(page, ANALYSIS_PROBE);
  const Json& r = probe.result;
  EXPECT_EQ(r["code"], "sh.600519");
  EXPECT_EQ(r["name"], "贵州茅台");
  EXPECT_EQ(r["as_of"], "2023-02-10");
  EXPECT_EQ(r["verdict"], "BUY");
  EXPECT_EQ(r["action"], "建议买入");
  EXPECT_EQ(r["direction"], "看多");
  EXPECT_EQ(r["confidence"], "中");
  EXPECT_EQ(r["review"], "需复核");
  EXPECT_EQ(r["candles"], 120);
  EXPECT_EQ(r["last"], "2023-02-10");  // no bar after the analysis day
  EXPECT_EQ(r["decision_rows"], 20);
  EXPECT_EQ(r["failed_checks"], Json::array({"position_cap"}));
  EXPECT_TRUE(r["brief"].get<bool>());
  EXPECT_THAT(r["outcome"].get<std::string>(), ::testing::HasSubstr("+1.36R 目标1"));
  // Within one drawing unit of the price axis.
  const double tick = r["tick"].get<double>();
  const std::pair<const char*, double> expected[] = {
      {"stop", 1750}, {"target_1", 1880}, {"target_2", 1950}, {"support", 1760}, {"resistance", 1935}};
  for (const auto& [level, price] : expected) {
    SCOPED_TRACE(level);
    ASSERT_TRUE(r["levels"].contains(level));
    EXPECT_NEAR(r["levels"][level].get<double>(), price, tick);
  }
  EXPECT_NEAR(r["band"][0].get<double>(), 1790, tick);
  EXPECT_NEAR(r["band"][1].get<double>(), 1805, tick);
  EXPECT_THAT(probe.outside_requests, IsEmpty());
  testing::screenshot(page, testing::screenshot_dir() / "page_analysis.png", 1280, 2400);
}

TEST_F(Pages, FundWithoutDecisionAndHongKongWaitRender) {
  QUORVEL_NEEDS_BROWSER();
  const auto fund = testing::probe_page(dir() / analysis_page_path("510050", "2023-02-10", "offline"), ANALYSIS_PROBE);
  EXPECT_EQ(fund.result["code"], "510050");
  EXPECT_TRUE(fund.result["no_decision"].get<bool>());
  EXPECT_EQ(fund.result["candles"], 120);
  EXPECT_TRUE(fund.result["levels"].empty());
  EXPECT_TRUE(fund.result["outcome"].is_null());  // nothing to score
  EXPECT_THAT(fund.outside_requests, IsEmpty());

  const auto hk = testing::probe_page(dir() / analysis_page_path("hk.00700", "2023-11-06", "offline"), ANALYSIS_PROBE);
  EXPECT_EQ(hk.result["verdict"], "WATCH");
  EXPECT_EQ(hk.result["last"], "2023-11-06");
  EXPECT_TRUE(hk.result["review"].is_null());
  EXPECT_NEAR(hk.result["levels"]["stop"].get<double>(), 300, hk.result["tick"].get<double>());
  EXPECT_TRUE(hk.result["band"].is_null());
  EXPECT_THAT(hk.outside_requests, IsEmpty());
  testing::screenshot(dir() / analysis_page_path("510050", "2023-02-10", "offline"),
                      testing::screenshot_dir() / "page_analysis_no_decision.png", 1280, 2000);
}

TEST_F(Pages, IndexAndLedgerListWhatIsStored) {
  QUORVEL_NEEDS_BROWSER();
  const auto index = testing::probe_page(dir() / INDEX_FILE, R"(
    return [...doc.querySelectorAll('tr.analysis')].map(r => ({
      cells: [...r.cells].map(c => c.textContent), href: r.querySelector('a').getAttribute('href'),
      verdict_class: r.cells[4].className}));)");
  const Json& rows = index.result;
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["cells"][1], "hk.00700");  // the newest day first, then the latest stored of a day
  EXPECT_EQ(rows[1]["cells"][1], "510050");
  EXPECT_EQ(rows[1]["cells"][4], "-");
  EXPECT_EQ(rows[2]["cells"][1], "sh.600519");
  EXPECT_EQ(rows[2]["cells"][4], "BUY");
  EXPECT_EQ(rows[2]["verdict_class"], "verdict-buy");
  EXPECT_EQ(rows[2]["cells"][8], "需复核");
  EXPECT_EQ(rows[2]["cells"][9], "+1.36R 目标1");
  for (const Json& row : rows) EXPECT_TRUE(std::filesystem::exists(dir() / row["href"].get<std::string>()));
  EXPECT_THAT(index.outside_requests, IsEmpty());
  testing::screenshot(dir() / INDEX_FILE, testing::screenshot_dir() / "page_index.png", 1280, 800);

  const auto ledger = testing::probe_page(dir() / LEDGER_FILE, R"(
    return {calibration: [...doc.querySelectorAll('table.calibration tr[data-confidence]')].map(r => r.cells[1].textContent),
            points: doc.querySelector('polyline.cumulative-r').getAttribute('points').trim().split(/\s+/).length};)");
  EXPECT_EQ(ledger.result["calibration"], Json::array({"0", "1", "0"}));  // 高, 中, 低: the one filled buy said 中
  EXPECT_EQ(ledger.result["points"], 1);
  EXPECT_THAT(ledger.outside_requests, IsEmpty());
  testing::screenshot(dir() / LEDGER_FILE, testing::screenshot_dir() / "page_ledger.png", 1280, 1000);
}

}  // namespace
}  // namespace quorvel::pages
