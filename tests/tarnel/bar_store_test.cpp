// The bar store's packed copies: every read equals the row-per-bar record, whichever writer changed
// it and whatever store the copies were (or were not) made in.
#include "tarnel/bar_store.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contracts/dates.h"
#include "support/test_support.h"

namespace tarnel {
namespace {

using quorvel::testing::TempDir;
using Series = std::map<Date, BarRow>;  // what the store should hold for one instrument

Date d(const char* text) { return parse_date(text); }

// `count` weekdays from `first`; prices in quarters (no rounding on write), every third amount missing.
std::vector<BarRow> bars(const char* first, int count, double base) {
  std::vector<BarRow> rows;
  Date day = d(first);
  for (int i = 0; i < count; ++i, day += date::days{1}) {
    while (is_weekend(day)) day += date::days{1};
    const double close = base + 0.25 * i;
    rows.push_back({day, close - 0.25, close + 0.5, close - 0.5, close, 1000.0 + i, i % 3 ? close * 1000 : NAN});
  }
  return rows;
}

void put(Series& s, const std::vector<BarRow>& rows) {
  for (const auto& r : rows) s[r.date] = r;
}

BarTable expected(const Series& s, Date first, Date last) {
  BarTable t = BarTable::with_base_columns();
  for (auto it = s.lower_bound(first); it != s.end() && it->first <= last; ++it) {
    const BarRow& r = it->second;
    t.append_row(r.date, {r.open, r.high, r.low, r.close, r.volume, r.amount});
  }
  return t;
}

// Equal tables, NaN matching NaN.
::testing::AssertionResult same(const BarTable& got, const BarTable& want) {
  if (got.index() != want.index()) return ::testing::AssertionFailure() << got.rows() << " rows, want " << want.rows();
  if (got.column_names() != want.column_names()) return ::testing::AssertionFailure() << "other columns";
  for (const auto& name : want.column_names())
    for (std::size_t i = 0; i < want.rows(); ++i) {
      const double a = got.at(name, i), b = want.at(name, i);
      if (!(a == b || (std::isnan(a) && std::isnan(b))))
        return ::testing::AssertionFailure() << name << " on " << want.date_at(i) << ": " << a << ", want " << b;
    }
  return ::testing::AssertionSuccess();
}

bool packed(BarStore& store, const std::string& code) {
  Statement st = store.db().prepare("SELECT 1 FROM series_columns WHERE code = ?1");
  st.bind(1, code);
  return st.step();
}

// Every kind of date range over a series: reversed, one day, a day without a bar, wholly before,
// wholly after, overlapping each end, inside, all.
void expect_reads(BarStore& store, const std::string& code, const Series& s) {
  const Date lo = s.empty() ? d("2023-01-02") : s.begin()->first;
  const Date hi = s.empty() ? d("2023-03-01") : s.rbegin()->first;
  const date::days day{1};
  const std::pair<Date, Date> ranges[] = {{hi, lo - day},
                                          {lo, lo},
                                          {hi, hi},
                                          {lo - day, lo - day},
                                          {lo - 400 * day, lo - day},
                                          {hi + day, hi + 400 * day},
                                          {lo - 10 * day, lo + 3 * day},
                                          {hi - 3 * day, hi + 10 * day},
                                          {lo + 5 * day, hi - 5 * day},
                                          {lo - day, hi + day}};
  for (const auto& [first, last] : ranges)
    EXPECT_TRUE(same(store.load(code, first, last), expected(s, first, last)))
        << code << " " << date_text(first) << ".." << date_text(last);
}

TEST(BarStorePacking, EveryWritePathLeavesReadsEqualToTheRows) {
  TempDir dir;
  const std::string a = "sh.600000", b = "sz.000001";
  std::map<std::string, Series> want;
  auto store = std::make_unique<BarStore>(dir / "s.sqlite");
  const auto in_transaction = [&](const std::function<void()>& write) {
    Transaction tx(store->db());
    write();
    tx.commit();
  };
  struct Step {
    const char* what;
    std::function<void()> write;
    bool a_packed;  // this store's writes pack again at once; other writers' changes wait for an open
  };
  const std::vector<Step> steps{
      {"first import",
       [&] {
         in_transaction([&] {
           for (const auto& [code, base] : {std::pair{a, 10.0}, std::pair{b, 50.0}}) {
             store->upsert_bars(code, bars("2023-01-02", 30, base));
             put(want[code], bars("2023-01-02", 30, base));
           }
         });
       },
       true},
      {"new days appended",
       [&] {
         in_transaction([&] { store->upsert_bars(a, bars("2023-02-20", 5, 20.0)); });
         put(want[a], bars("2023-02-20", 5, 20.0));
       },
       true},
      {"stored days overwritten",
       [&] {
         in_transaction([&] { store->upsert_bars(a, bars("2023-01-09", 4, 30.0)); });
         put(want[a], bars("2023-01-09", 4, 30.0));
       },
       true},
      {"a write rolled back",
       [&] {
         Transaction tx(store->db());
         store->upsert_bars(a, bars("2023-01-02", 60, 99.0));
         store->delete_bars(b);
       },
       true},
      {"series replaced",
       [&] {
         in_transaction([&] {
           store->delete_bars(a);
           store->upsert_bars(a, bars("2023-01-16", 6, 40.0));
         });
         want[a].clear();
         put(want[a], bars("2023-01-16", 6, 40.0));
       },
       true},
      {"written outside a transaction",
       [&] {
         store->upsert_bars(a, bars("2023-01-23", 2, 45.0));
         put(want[a], bars("2023-01-23", 2, 45.0));
       },
       true},
      // Writers that do not pack: an earlier version of this store, a script, the sqlite3 shell.
      {"rows updated by another writer",
       [&] {
         store->db().exec("UPDATE bars SET close = high, amount = NULL WHERE code = 'sh.600000'");
         for (auto& [day, r] : want[a]) r.close = r.high, r.amount = NAN;
       },
       false},
      {"reopened", [&] { store = std::make_unique<BarStore>(dir / "s.sqlite"); }, true},
      {"a row inserted by another writer",
       [&] {
         store->db().exec("INSERT INTO bars VALUES('sh.600000', 19400, 1.25, 1.5, 1, 1.25, 7, NULL)");
         want[a][Date{date::days{19400}}] = {Date{date::days{19400}}, 1.25, 1.5, 1, 1.25, 7, NAN};
       },
       false},
      {"a row deleted by another writer",
       [&] {
         store->db().exec("DELETE FROM bars WHERE code = 'sh.600000' AND day = 19400");
         want[a].erase(Date{date::days{19400}});
       },
       false},
      {"reopened again", [&] { store = std::make_unique<BarStore>(dir / "s.sqlite"); }, true},
      {"all bars deleted",
       [&] {
         in_transaction([&] { store->delete_bars(a); });
         want[a].clear();
       },
       false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.write();
    EXPECT_EQ(packed(*store, a), step.a_packed);
    EXPECT_TRUE(packed(*store, b));
    for (const auto& [code, s] : want) expect_reads(*store, code, s);
  }
}

TEST(BarStorePacking, StoresWithoutUsablePackedCopiesReadTheirRows) {
  const std::string a = "sh.600000";
  Series s;
  put(s, bars("2023-01-02", 25, 10.0));
  struct Case {
    const char* what;
    const char* sql;  // run by another connection on a store holding `s`
    bool packed_row;  // a row stays in series_columns after the open (usable or not)
  };
  const Case cases[] = {
      {"made before packed copies",
       "DROP TRIGGER bars_insert_unpacks; DROP TRIGGER bars_update_unpacks; DROP TRIGGER bars_delete_unpacks;"
       "DROP TABLE series_columns; DROP TABLE unpacked_series; DELETE FROM meta;",
       true},
      {"packed by a later version in its own format",
       "UPDATE series_columns SET packed = X'02000000' || substr(packed, 5);"
       "UPDATE meta SET value = '2' WHERE key = 'series_columns.format'",
       true},
      {"a packed copy of an unknown format",
       "UPDATE series_columns SET packed = X'02000000' || substr(packed, 5, 4) || zeroblob(length(packed) - 8)", true},
      {"a packed copy cut short", "UPDATE series_columns SET packed = substr(packed, 1, length(packed) - 8)", true},
      {"a packed copy lost", "DELETE FROM series_columns", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    BarStore(dir / "s.sqlite").upsert_bars(a, bars("2023-01-02", 25, 10.0));
    quorvel::sqlite::Database(dir / "s.sqlite", market_db_options(false)).exec(c.sql);
    BarStore store(dir / "s.sqlite");
    EXPECT_EQ(packed(store, a), c.packed_row);
    expect_reads(store, a, s);
  }
}

}  // namespace
}  // namespace tarnel
