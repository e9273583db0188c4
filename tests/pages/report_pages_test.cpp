#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "pages/page_fixtures.h"
#include "quorvel/pages/index_pages.h"
#include "quorvel/pages/markdown_html.h"
#include "quorvel/pages/page_files.h"
#include "quorvel/utils/file_lock.h"
#include "support/decision_replies.h"

namespace quorvel::pages {
namespace {

using testing::PageStore;

std::string read(const std::filesystem::path& p) {
  std::ifstream in(p);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The data-id and first cell (day) of each index row, top to bottom.
std::vector<std::pair<std::string, std::string>> index_rows(const std::string& html) {
  static const std::regex row(R"re(<tr class="analysis" data-id="(\d+)" data-day="([^"]*)")re");
  std::vector<std::pair<std::string, std::string>> out;
  for (std::sregex_iterator it(html.begin(), html.end(), row), end; it != end; ++it)
    out.emplace_back((*it)[1], (*it)[2]);
  return out;
}

// Two runs adding analyses at once, each through its own connection, rewrite the index after each
// save: every instrument-day ends up in it once (its latest analysis), newest day first, and every
// row links to a page that exists.
TEST(ReportPages, ConcurrentRunsLoseNoIndexEntry) {
  PageStore fixture;
  const std::vector<std::string> days{"2023-01-30", "2023-01-31", "2023-02-01", "2023-02-02", "2023-02-03",
                                      "2023-02-06", "2023-02-07", "2023-02-08", "2023-02-09", "2023-02-10"};
  auto run = [&](std::string code, std::string name, std::string market) {
    auto store = testing::open_store(fixture.dir.path());
    for (const auto& day : days) {
      auto a = testing::page_analysis(code, name, market, day, testing::buy_decision({{"stock_code", code}}));
      auto s = testing::summary(code, day);
      s.llm_client_type = "offline";
      s.content = testing::BUY_SUMMARY;
      store->save_analysis_with_summary(a, s);
      ASSERT_TRUE(write_page_and_index(*store, {code, day, "offline"}));
    }
  };
  std::thread a(run, "sh.600519", "贵州茅台", "A"), b(run, "510050", "上证50ETF", "ETF");
  a.join();
  b.join();
  ASSERT_EQ(index_rows(read(fixture.dir.path() / INDEX_FILE)).size(), 2 * days.size());

  // The index is read from the store once the lock is held: what another run stored while this
  // one waited for the lock is in it. A second analysis of a day (--force) replaces the first.
  std::optional<FileLock> held(std::in_place, fixture.dir.path() / PAGES_LOCK_FILE);
  std::thread writer([&] { write_index_pages(*fixture.store); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto redone = fixture.add(testing::page_analysis("sh.600519", "贵州茅台", "A", "2023-02-10", nullptr),
                                  testing::WATCH_SUMMARY);
  held.reset();
  writer.join();

  const std::string index = read(fixture.dir.path() / INDEX_FILE);
  const auto rows = index_rows(index);
  ASSERT_EQ(rows.size(), 2 * days.size());
  EXPECT_EQ(rows.front().first, std::to_string(redone));
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_GE(rows[i - 1].second, rows[i].second) << "row " << i;
  static const std::regex link(R"re(<a href="([^"]+\.html)">)re");
  std::set<std::string> pages;
  for (std::sregex_iterator it(index.begin(), index.end(), link), end; it != end; ++it) pages.insert((*it)[1]);
  EXPECT_EQ(pages.size(), 2 * days.size() + 2);  // the rows, and the navigation's two pages
  for (const auto& page : pages) EXPECT_TRUE(std::filesystem::exists(fixture.dir.path() / page)) << page;
  // The page of the day redone still shows the first analysis: `html` finds it and only it.
  const auto written = write_all_pages(*fixture.store, false);
  EXPECT_EQ(written.written, 1u);
  EXPECT_NE(read(fixture.dir.path() / analysis_page_path("sh.600519", "2023-02-10", "offline"))
                .find("content=\"" + std::to_string(redone) + "\""),
            std::string::npos);
}

// Adding a row to the index keeps every other row as it is: the instrument-day's earlier row goes,
// the new one lands where its day and id sort, and a page that is not an index is left to a rewrite.
TEST(ReportPages, IndexRowGoesWhereItSorts) {
  auto row = [](std::int64_t id, std::string code, std::string day) {
    IndexRow r;
    r.entry.id = id;
    r.entry.code = std::move(code);
    r.entry.name = "名称\n第二行";  // outside text: a row stays on one line
    r.entry.date = std::move(day);
    r.entry.llm_client_type = "offline";
    r.page = r.entry.date + "/" + r.entry.code + ".html";
    return r;
  };
  std::string rows;
  for (const auto& r : {row(5, "sh.600000", "2023-02-10"), row(3, "510050", "2023-02-10"), row(4, "hk.00700", "2023-02-08")})
    rows += index_row_html(r);
  const std::string index = index_page_html(rows, 3, "t");
  const struct {
    IndexRow row;
    std::vector<std::string> ids;
  } cases[] = {
      {row(9, "us.AAPL", "2023-02-09"), {"5", "3", "9", "4"}},    // between the days
      {row(9, "510050", "2023-02-10"), {"9", "5", "4"}},         // replaces the day's earlier analysis
      {row(9, "sh.600519", "2023-02-13"), {"9", "5", "3", "4"}},  // a new day on top
      {row(1, "us.AAPL", "2023-01-02"), {"5", "3", "4", "1"}},    // the oldest at the end
      {row(2, "sz.000001", "2023-02-10"), {"5", "3", "2", "4"}},  // within a day, the latest stored first
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row.entry.code + " " + std::to_string(c.row.entry.id));
    const auto updated = index_with_row(index, c.row, "t");
    ASSERT_TRUE(updated);
    std::vector<std::string> ids;
    for (const auto& [id, day] : index_rows(*updated)) ids.push_back(id);
    EXPECT_EQ(ids, c.ids);
    EXPECT_NE(updated->find("<span data-count>" + std::to_string(c.ids.size()) + "</span>"), std::string::npos);
  }
  EXPECT_FALSE(index_with_row("<html>an older page</html>", row(1, "us.AAPL", "2023-01-02"), "t"));
}

// What the model writes is shown, never obeyed: raw HTML is text, and the page itself admits no
// script and no outside resource.
TEST(ReportPages, ModelTextIsShownNotObeyed) {
  const std::string html = markdown_html(
      "## 结论\n<script>alert(1)</script>\n\n<img src=\"http://cdn.example/x.png\">\n\n| 指标 | 值 |\n|---|---|\n| RSI | 55 |\n");
  EXPECT_EQ(html.find("<script"), std::string::npos) << html;
  EXPECT_EQ(html.find("<img src=\"http"), std::string::npos) << html;
  EXPECT_NE(html.find("&lt;script&gt;"), std::string::npos) << html;
  EXPECT_NE(html.find("<table>"), std::string::npos) << html;

  PageStore fixture;
  auto a = testing::page_analysis("sh.600519", "贵州<b>茅台</b>", "A", "2023-02-10", testing::buy_decision());
  a.content = "<script>alert(1)</script>\n[点我](javascript:alert(1))";
  const auto page = read(write_analysis_page(*fixture.store, fixture.add(a, testing::BUY_SUMMARY)));
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<b>茅台"), std::string::npos);
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos);
}

}  // namespace
}  // namespace quorvel::pages
